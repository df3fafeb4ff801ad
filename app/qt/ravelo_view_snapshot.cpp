// The cut editor's picture: search, decode, show; time label and info box.
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <cstdio>

#include "app/qt/info_text.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "app/snapshot_capture.h"
#include "controls/icon_resource.h"
#include "platform/file.h"
#include "res/strings.h"
#include "shell/log.h"
#include "shell/output_folder.h"
#include "shell/preferences.h"
#include "shell/prompts.h"
#include "shell/text.h"

namespace {
constexpr std::int64_t kStampWrap = std::int64_t{1} << 33;

QSize DisplaySize(int aspectCode) {
    switch (aspectCode) {
        case 3:
            return {512, 288};  // 16:9
        case 4:
            return {512, 190};  // 2.21:1
        default:
            return {376, 288};
    }
}

// (stamp - first) / 90 kHz as "%H:%M:%S", hours within the day.
QString FormatTime(std::int64_t stamp, std::int64_t first) {
    std::int64_t seconds = (stamp - first) / 90000;
    if (seconds < 0) seconds = 0;
    return QString::fromStdString(FormatString(
        "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600 % 24),
        static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60)));
}
}  // namespace

bool CRaveloView::ShowSnapshot(bool save) {
    CRecordingModel& model = m_doc.Model();
    if (!model.IsOpen()) {
        LogWrite("No file open", 3);
        return false;
    }
    try {
        const std::string m2v = SnapshotPicturePath();
        const std::string bmp = JoinPath(DirPart(m2v), "pic.bmp");
        // The work folder may have gone since start-up; without it no picture.
        platform::MakeDirectory(DirPart(m2v));
        const SnapshotCapture picture = m_source->Capture(model, m_position, m_stamp, m2v, save);
        if (picture.samePicture) return false;  // the picture shown already
        // A picture whose audio headers were not all within reach is still
        // the picture at this position: it is shown and saved like any other.
        const bool decodable = picture.pictureFound;
        m_position = picture.sector;
        m_stamp = picture.stamp;
        if (picture.pictureFound) m_header = picture.sequenceHeader;

        if (save && decodable) {
            const std::string folder = CPreferences::GetUseSourceAsOutputPath()
                                           ? DirPart(model.Recording().GetFilePath())
                                           : CPreferences::GetOutputPath();
            if (auto chosen = Prompts().SaveFileName(JoinPath(folder, "Snapshot.bmp"), "bmp")) {
                // The decoder reports success only by the file it writes:
                // a picture that did not get written is said so.
                std::remove(chosen->c_str());
                m_source->Decode(m2v, *chosen);
                if (!platform::FileExists(*chosen)) {
                    LogWrite("Picture not saved: " + *chosen, 1);
                    Prompts().Ask(LoadResString(ids::kAttention),
                                  "The picture could not be saved as\r\n" + *chosen,
                                  PromptButtons::Ok, PromptIcon::Error);
                }
            }
            return true;
        }
        if (decodable) {
            // A stale picture of an earlier position must never stand in for
            // this one: the old bitmap goes before the decoder runs.
            QFile::remove(QString::fromStdString(bmp));
            m_source->Decode(m2v, bmp);
        }

        const QSize size = DisplaySize(AspectCode(m_header));
        QPixmap pixmap;
        if (decodable) {
            QImage image(QString::fromStdString(bmp));
            if (!image.isNull())
                pixmap = QPixmap::fromImage(
                    image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        }
        if (pixmap.isNull()) pixmap = PixmapResource(model.m_videoPid != 0 ? 156 : 158, size);
        m_picture->setPixmap(pixmap);
        m_picture->setProperty("pictureSize", size);

        if (model.m_firstPTS == 0) model.m_firstPTS = m_stamp;
        if (m_stamp < model.m_firstPTS) m_stamp += kStampWrap;
        m_timeLabel->setText(FormatTime(m_stamp, model.m_firstPTS));
        UpdateInfoText();
        return true;
    } catch (const std::exception& e) {
        LogWrite(std::string("Snapshot failed: ") + e.what(), 1);
        return true;
    }
}
