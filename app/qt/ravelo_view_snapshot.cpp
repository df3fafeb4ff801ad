// The cut editor's picture: search, decode, show; time label and info box.
#include <QFile>
#include <QImage>
#include <cstdio>

#include "app/qt/display_aspect.h"
#include "app/qt/info_text.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "app/snapshot_capture.h"
#include "controls/picture_view.h"
#include "platform/file.h"
#include "res/strings.h"
#include "shell/log.h"
#include "shell/output_folder.h"
#include "shell/preferences.h"
#include "shell/prompts.h"
#include "shell/text.h"

namespace {
constexpr std::int64_t kStampWrap = std::int64_t{1} << 33;
// The placeholder pictures are drawn 376 x 288.
constexpr double kPlaceholderAspect = 376.0 / 288.0;
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
        // "The same picture" means the one on screen: after a placeholder
        // any picture found is new, even the one whose stamp is still current.
        const SnapshotCapture picture =
            m_source->Capture(model, m_position, m_shownStamp, m2v, save);
        // A picture whose audio headers were not all within reach is still
        // the picture at this position: it is shown and saved like any other,
        // and found again it is the same picture.
        const bool decodable = picture.pictureFound;
        if (picture.samePicture || (decodable && !save && picture.stamp == m_shownStamp))
            return false;
        m_position = picture.sector;
        if (decodable) {
            m_stamp = picture.stamp;  // without a picture the current stamp stays
            m_header = picture.sequenceHeader;
        }

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

        QImage image;
        if (decodable) image = QImage(QString::fromStdString(bmp));
        if (!image.isNull())
            m_picture->SetPicture(image, DisplayAspect(AspectCode(m_header), PictureWidth(m_header),
                                                       PictureHeight(m_header)));
        else
            m_picture->SetPlaceholder(model.m_videoPid != 0 ? 156 : 158, kPlaceholderAspect);

        if (model.m_firstPTS == 0) model.m_firstPTS = m_stamp;
        if (m_stamp < model.m_firstPTS) m_stamp += kStampWrap;
        // A picture that would not decode is still the picture here: the next
        // step goes past it. No picture at all is not a picture shown.
        m_shownStamp = decodable ? m_stamp : kNoPicture;
        UpdateTimeLabel();
        UpdateInfoText();
        return true;
    } catch (const std::exception& e) {
        LogWrite(std::string("Snapshot failed: ") + e.what(), 1);
        return true;
    }
}
