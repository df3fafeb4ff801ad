// The job buttons on an HD recording: "Demux to MPEG" writes its elementary
// streams; "Create MPEG File" and "Create VOB File" refuse it with the
// reason in the progress list (MPEG-2 program streams for DVD need MPEG-2
// video), and write nothing.

#include <filesystem>

#include "support/hd_media.h"
#include "view_fixture.h"

namespace {

TEST_F(ViewTest, ProgramStreamButtonsRefuseHdVideoWithTheReason) {
    Open(hdmedia::HevcOpenGop());
    const std::filesystem::path demux = std::filesystem::path(m_output) / "~demux";
    for (int button : {CRaveloView::kCreateMpeg, CRaveloView::kCreateVob}) {
        SCOPED_TRACE(button);
        Click(button);
        ASSERT_TRUE(m_progress->IsFinished());
        const QStringList lines = m_progress->Lines();
        EXPECT_EQ(lines.filter("MPEG-2 program streams for DVD need MPEG-2 video").size(), 1)
            << lines.join('|').toStdString();
        EXPECT_EQ(lines.filter(QRegularExpression("^Failed: ")).size(), 1) << lines.join('|').toStdString();
        m_progress->OnButton();  // OK
        EXPECT_FALSE(std::filesystem::exists(demux) && !std::filesystem::is_empty(demux));
    }
    Click(CRaveloView::kDemux);
    ASSERT_TRUE(m_progress->IsFinished());
    EXPECT_EQ(m_progress->Lines().filter(QRegularExpression("^Done, \\d+s$")).size(), 1)
        << m_progress->Lines().join('|').toStdString();
    m_progress->OnButton();
    const std::string name = std::filesystem::path(hdmedia::HevcOpenGop()).stem().string();
    for (const char* ext : {".hevc", ".aac"}) {
        const std::filesystem::path file = demux / (name + ext);
        EXPECT_TRUE(std::filesystem::exists(file) && std::filesystem::file_size(file) > 0) << file;
    }
}

}  // namespace
