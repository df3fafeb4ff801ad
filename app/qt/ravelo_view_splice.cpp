// The cut editor's splice pane: the last picture the copy keeps before the
// selected area and the first it keeps after it.
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <vector>

#include "app/qt/display_aspect.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "app/qt/splice_finder.h"
#include "app/qt/time_text.h"
#include "controls/picture_view.h"
#include "mpegsnap/bitmap_converter.h"
#include "shell/log.h"

namespace {
constexpr int kSpliceDelayMs = 150;
constexpr double kPlaceholderAspect = 376.0 / 288.0;
constexpr std::int64_t kStampWrap = std::int64_t{1} << 33;

QImage FrameImage(const mpegsnap::DecodedFrame& frame) {
    std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(frame.width + 2) *
                                         static_cast<std::size_t>(frame.height + 2) * 3 +
                                     4096);
    mpegsnap::BitmapConverter converter;
    const int bytes = converter.ConvertFrame(mpegsnap::BitmapConverter::kKindBitmap, frame.View(),
                                             bitmap.data(), bitmap.size());
    if (bytes <= 0) return {};
    return QImage::fromData(bitmap.data(), bytes, "BMP");
}

// Shows one side of the splice with its caption.
void ShowSide(const SplicePicture& side, const QString& heading, std::int64_t firstStamp,
              CPictureView* view, QLabel* caption) {
    switch (side.state) {
        case SplicePicture::State::RecordingStart:
            view->Clear();
            caption->setText(heading + QStringLiteral(": none\n(the recording's start)"));
            return;
        case SplicePicture::State::RecordingEnd:
            view->Clear();
            caption->setText(heading + QStringLiteral(": none\n(the recording's end)"));
            return;
        case SplicePicture::State::NotFound:
            view->SetPlaceholder(156, kPlaceholderAspect);
            caption->setText(heading);
            return;
        case SplicePicture::State::Picture:
            break;
    }
    const QImage image = FrameImage(side.frame);
    if (image.isNull())
        view->SetPlaceholder(156, kPlaceholderAspect);
    else
        view->SetPicture(image,
                         DisplayAspect(side.aspectCode, side.frame.width, side.frame.height));
    QString text = heading;
    if (side.hasStamp) {
        const std::int64_t stamp = side.stamp < firstStamp ? side.stamp + kStampWrap : side.stamp;
        text += '\n' + QString::fromStdString(StampText(stamp, firstStamp));
    }
    caption->setText(text);
}
}  // namespace

void CRaveloView::UpdateSplicePreview() {
    m_spliceTimer.start(kSpliceDelayMs);
}

void CRaveloView::ShowSplice() {
    m_spliceTimer.stop();
    m_spliceBefore->Clear();
    m_spliceAfter->Clear();
    m_spliceBeforeText->clear();
    m_spliceAfterText->clear();
    const int row = m_cutList->currentRow();
    CRecordingModel& model = m_doc.Model();
    if (!model.IsOpen() || !m_holdsPackets || row < 0 ||
        static_cast<std::size_t>(row) >= model.m_cutList.size())
        return;
    const CCutArea& area = model.m_cutList[static_cast<std::size_t>(row)];
    if (!area.IsEnabled) return;
    SplicePreview splice;
    try {
        splice = CSpliceFinder(model).Find(area);
    } catch (const std::exception& e) {
        LogWrite(std::string("Splice preview failed: ") + e.what(), 1);
        return;
    }
    switch (splice.outcome) {
        case SplicePreview::Outcome::NoVideo:
            m_spliceBeforeText->setText(QStringLiteral("No video stream"));
            return;
        case SplicePreview::Outcome::Kept:
            m_spliceBeforeText->setText(QStringLiteral("No GOP starts here:"));
            m_spliceAfterText->setText(QStringLiteral("nothing is cut"));
            return;
        case SplicePreview::Outcome::Cut:
            break;
    }
    ShowSide(splice.before, QStringLiteral("Last kept"), model.m_firstPTS, m_spliceBefore,
             m_spliceBeforeText);
    ShowSide(splice.after, QStringLiteral("First kept"), model.m_firstPTS, m_spliceAfter,
             m_spliceAfterText);
}
