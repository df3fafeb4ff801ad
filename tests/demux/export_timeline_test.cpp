// Where the audio frames of an elementary-stream export go: for every
// phase of the sound against the pictures and every splice, each frame
// written begins within half a frame of its place beside the pictures it
// was recorded with, and never after the last picture of its run; nothing
// is missing where the source sound is whole; frames are decided only once
// the video around them is known.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "demux/export_timeline.h"

namespace {

constexpr std::int64_t kFrame = 3600;  // a picture at 25 per second

struct VideoRun {
    std::int64_t start;  // source time of its first picture
    std::int64_t frames;
};

void Build(CExportTimeline& timeline, const std::vector<VideoRun>& runs) {
    timeline.SetFrameTicks(kFrame);
    for (const VideoRun& run : runs) {
        timeline.StartRun(run.start);
        for (std::int64_t i = 0; i < run.frames; ++i) timeline.AddFrame(run.start + i * kFrame);
        timeline.EndRun();
    }
    timeline.Finish();
}

struct Written {
    std::int64_t source = 0;
    std::int64_t output = 0;
    std::int64_t missing = 0;  // silence written before it
};

// A continuous sound of frames of `duration` from `first` on, placed as the
// export places it: missing sound is made good with silent frames.
std::vector<Written> Place(const CExportTimeline& timeline, std::int64_t first, std::int64_t duration,
                           std::int64_t until) {
    std::vector<Written> written;
    std::int64_t out = 0;
    std::size_t cursor = 0;
    for (std::int64_t a = first; a < until; a += duration) {
        std::int64_t missing = 0;
        const auto verdict = timeline.Place(a, duration, out, cursor, missing);
        EXPECT_NE(verdict, CExportTimeline::Verdict::Wait);
        if (verdict != CExportTimeline::Verdict::Keep) continue;
        out += (missing + duration / 2) / duration * duration;
        written.push_back({a, out, missing});
        out += duration;
    }
    return written;
}

TEST(ExportTimeline, EveryFrameStaysWithinHalfAFrameOfItsPicturesAtEverySplice) {
    // Three runs with two splices: cut areas of 1.1 s and 9.34 s.
    const std::vector<VideoRun> runs = {{1000, 45}, {1000 + 75 * kFrame + 1234, 60}, {1000 + 400 * kFrame, 30}};
    for (std::int64_t duration : {1920, 2160, 2880}) {
        for (std::int64_t phase = -2 * duration; phase <= 2 * duration; phase += 97) {
            SCOPED_TRACE(std::to_string(duration) + " " + std::to_string(phase));
            CExportTimeline timeline;
            Build(timeline, runs);
            const std::vector<Written> written =
                Place(timeline, runs[0].start + phase, duration, 1000 + 500 * kFrame);
            ASSERT_FALSE(written.empty());
            // Sound is missing only where it starts after the first picture.
            EXPECT_EQ(written.front().missing, 2 * phase > duration ? phase : 0);
            for (std::size_t i = 1; i < written.size(); ++i) EXPECT_EQ(written[i].missing, 0) << i;
            // Each frame against the run it was recorded with (of two it
            // overlaps, the one it is more in step with).
            for (const Written& w : written) {
                std::int64_t output = 0, best = -1, bestEnd = 0;
                for (const VideoRun& run : runs) {
                    const std::int64_t end = output + run.frames * kFrame;
                    if (w.source + duration > run.start && w.source < run.start + run.frames * kFrame) {
                        const std::int64_t off = std::llabs(w.output - (output + w.source - run.start));
                        if (best < 0 || off < best) best = off, bestEnd = end;
                    }
                    output = end;
                }
                ASSERT_GE(best, 0) << "written beside no picture: " << w.source;
                EXPECT_LE(best, duration / 2) << w.source;
                EXPECT_LT(w.output, bestEnd) << w.source;
            }
            // The sound begins with the first picture and ends with the last.
            EXPECT_LE(std::llabs(written.front().output - std::max<std::int64_t>(phase, 0)), duration / 2);
            const std::int64_t end = written.back().output + duration;
            EXPECT_LE(std::llabs(end - timeline.VideoEnd()), duration);
        }
    }
}

// Sound missing in the source (a gap of five frames) and sound that starts
// late are told as missing, by the amount.
TEST(ExportTimeline, MissingSoundIsToldByItsAmount) {
    CExportTimeline timeline;
    Build(timeline, {{0, 100}});
    std::size_t cursor = 0;
    std::int64_t missing = 0;
    EXPECT_EQ(timeline.Place(10 * 1920, 1920, 0, cursor, missing), CExportTimeline::Verdict::Keep);
    EXPECT_EQ(missing, 10 * 1920);
    EXPECT_EQ(timeline.Place(30 * 1920, 1920, 21 * 1920, cursor, missing), CExportTimeline::Verdict::Keep);
    EXPECT_EQ(missing, 9 * 1920);
    // Audio that already reaches past a frame's place: it goes.
    EXPECT_EQ(timeline.Place(31 * 1920, 1920, 33 * 1920, cursor, missing), CExportTimeline::Verdict::Drop);
}

// A frame waits until the video has been decoded past it (or has ended):
// until then the run it lies in may still end before it.
TEST(ExportTimeline, FramesWaitForTheVideoAroundThem) {
    CExportTimeline timeline;
    timeline.SetFrameTicks(kFrame);
    std::size_t cursor = 0;
    std::int64_t missing = 0;
    EXPECT_EQ(timeline.Place(0, 1920, 0, cursor, missing), CExportTimeline::Verdict::Wait);
    timeline.StartRun(5000);
    EXPECT_EQ(timeline.Place(0, 1920, 0, cursor, missing), CExportTimeline::Verdict::Drop);  // before it
    for (int i = 0; i < 3; ++i) timeline.AddFrame(5000 + i * kFrame);
    EXPECT_EQ(timeline.Place(5000, 1920, 0, cursor, missing), CExportTimeline::Verdict::Keep);
    EXPECT_EQ(timeline.Place(5000 + 3 * kFrame, 1920, 1920, cursor, missing), CExportTimeline::Verdict::Wait);
    timeline.EndRun();
    // The run ended with three pictures: the frame lies behind it, and
    // another run may still come.
    EXPECT_EQ(timeline.Place(5000 + 3 * kFrame, 1920, 1920, cursor, missing), CExportTimeline::Verdict::Wait);
    timeline.Finish();
    EXPECT_EQ(timeline.Place(5000 + 3 * kFrame, 1920, 1920, cursor, missing), CExportTimeline::Verdict::Drop);
}

}  // namespace
