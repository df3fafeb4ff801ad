// The progress callback every job calls: throttled to one update per 500 ms
// (position 0 always updates), percentage and rate text, cancel and quit.

#include <filesystem>

#include "cut_job_fixture.h"
#include "engine/function_mng.h"
#include "platform/clock.h"

namespace {
class RecordingProgress : public CancellingProgress {
  public:
    int SetPos(int pos) override {
        positions.push_back(pos);
        return pos;
    }
    void SetText(const std::string& text) override { this->text = text; }
    bool Pump() override {
        ++pumps;
        return !quitting;
    }
    std::vector<int> positions;
    std::string text;
    bool quitting = false;
};
}  // namespace

TEST_F(CutJobTest, ReportProgressIsThrottledAndStopsOnCancelOrQuit) {
    RecordingProgress progress;
    SetProgress(&progress);
    std::uint64_t now = 100000;
    platform::SetClockForTesting([&now] { return now; });
    const std::string film = m_dir.File("Film.rec");
    WriteFileBytes(film, std::vector<unsigned char>(1000, 0x47));
    Open(film, {});
    CFunctionMng& driver = FunctionMng();
    driver.FindActiveDocument();  // as every job does first
    EXPECT_EQ(driver.m_pDoc, m_model.get());

    EXPECT_TRUE(driver.ReportProgress(0));
    EXPECT_EQ(progress.positions.back(), 0);
    EXPECT_EQ(progress.text.rfind("Film.rec ", 0), 0u) << progress.text;
    EXPECT_NE(progress.text.find(" Mbyte/s"), std::string::npos);
    const int pumps = progress.pumps;
    now += 499;
    EXPECT_TRUE(driver.ReportProgress(500));  // within 500 ms: nothing happens
    EXPECT_EQ(progress.pumps, pumps);
    EXPECT_TRUE(driver.ReportProgress(0));  // position 0 always updates
    EXPECT_EQ(progress.pumps, pumps + 1);
    now += 500;
    EXPECT_TRUE(driver.ReportProgress(255));
    EXPECT_EQ(progress.positions.back(), 255);  // 25.5 % of 1000 bytes, in tenths
    now += 500;
    EXPECT_TRUE(driver.ReportProgress(5000));
    EXPECT_EQ(progress.positions.back(), 1000);

    progress.cancelAfterPumps = 0;
    now += 500;
    EXPECT_FALSE(driver.ReportProgress(10));
    progress.cancelAfterPumps = -1;
    progress.quitting = true;
    now += 500;
    EXPECT_FALSE(driver.ReportProgress(10));
    SetProgress(&m_progress);
}
