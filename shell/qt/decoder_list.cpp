#include "shell/qt/decoder_list.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {
constexpr int kTimeoutMs = 5000;
constexpr int kMaxNameLength = 200;

QString Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(kTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return QString();
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}
}  // namespace

QStringList GstDecoderCandidates(const QString& inspectOutput) {
    QStringList names;
    for (const QString& line : inspectOutput.split('\n')) {
        const QStringList parts = line.split(QStringLiteral(": "));
        if (parts.size() < 3) continue;
        const QString element = parts[1].trimmed();
        const QString description = parts.mid(2).join(QStringLiteral(": ")).toLower();
        if (element.isEmpty() || element.contains(' ')) continue;
        // Demultiplexers accept transport streams too, but decode nothing.
        if (description.contains(QStringLiteral("demultiplex")) ||
            element.toLower().contains(QStringLiteral("demux")))
            continue;
        if (description.contains(QStringLiteral("mpeg")) &&
            description.contains(QStringLiteral("decoder")))
            names << element;
    }
    return names;
}

bool GstTakesMpeg2Video(const QString& elementDetails) {
    // Only the SINK templates count; each template lists its caps below it.
    const int padTemplates = elementDetails.indexOf(QStringLiteral("Pad Templates:"));
    if (padTemplates < 0) return false;
    const QStringList lines = elementDetails.mid(padTemplates).split('\n');
    bool inSink = false;
    bool videoMpeg = false;
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QStringLiteral("SINK template"))) {
            inSink = true;
            videoMpeg = false;
        } else if (line.startsWith(QStringLiteral("SRC template"))) {
            inSink = false;
        } else if (inSink && line.startsWith(QStringLiteral("video/mpeg"))) {
            videoMpeg = true;
        } else if (inSink && videoMpeg && line.startsWith(QStringLiteral("mpegversion:"))) {
            static const QRegularExpression two(QStringLiteral("\\b2\\b"));
            if (two.match(line.mid(12)).hasMatch()) return true;
        } else if (inSink && !line.isEmpty() && line.contains('/') && !line.contains(':')) {
            videoMpeg = false;  // the next media type of the template
        }
    }
    return false;
}

namespace {
QStringList BuiltInDecoders() {
    return {QString::fromLatin1(kBuiltInDecoderName)};
}
}  // namespace

bool HasMpeg2Decoder() {
    return !BuiltInDecoders().isEmpty() || !ListMpeg2Decoders().isEmpty();
}

QStringList ListMpeg2Decoders() {
    QStringList names = BuiltInDecoders();
    const QString inspect = QStandardPaths::findExecutable(QStringLiteral("gst-inspect-1.0"));
    if (inspect.isEmpty()) return names;
    for (const QString& element : GstDecoderCandidates(Run(inspect, {}))) {
        const QString details = Run(inspect, {element});
        if (!GstTakesMpeg2Video(details)) continue;
        static const QRegularExpression longName(QStringLiteral("Long-name\\s+(.+)"));
        const auto match = longName.match(details);
        QString name = match.hasMatch() ? match.captured(1).trimmed() : element;
        names << name.left(kMaxNameLength) + QStringLiteral(" (GStreamer ") + element + ')';
    }
    return names;
}
