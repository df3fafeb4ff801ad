// The cut-list formats as text: what each reads, what it refuses (naming the
// line) and what it writes.

#include <gtest/gtest.h>

#include "app/comskip_cut_file.h"
#include "app/edl_cut_file.h"
#include "app/vdr_marks_file.h"
#include "support/temp_dir.h"

namespace {

constexpr FrameRate k25{25, 1};
constexpr FrameRate kNtsc{30000, 1001};
constexpr std::int64_t kSecond = 90000;

std::string fixture(const std::string& name) {
    const auto bytes =
        ReadFileBytes(std::string(RAVELO_SOURCE_DIR) + "/tests/data/cutlists/" + name);
    return std::string(bytes.begin(), bytes.end());
}

// A malformed file gives no spans and an error that starts with its line.
void expectRefused(const CutFileContent& content, int line, const std::string& words) {
    EXPECT_TRUE(content.Failed());
    EXPECT_TRUE(content.spans.empty());
    EXPECT_EQ(content.error.rfind("line " + std::to_string(line) + ": ", 0), 0u) << content.error;
    EXPECT_NE(content.error.find(words), std::string::npos) << content.error;
}

TEST(EdlFile, ReadsSecondsClockTimesFramesAndActions) {
    const std::string text =
        "\xEF\xBB\xBF"
        "12.5 20 0\r\n"
        "\r\n"
        "0:01:00.250\t0:01:30\t3\n"
        "100 110 1\n"
        "120 120 2\n"
        "#250 #500\n"
        "1:02:03 1:02:04.1234 0";  // no line end at the end
    const CutFileContent content = edl::Read(text, &k25);
    ASSERT_FALSE(content.Failed()) << content.error;
    ASSERT_EQ(content.spans.size(), 4u);
    EXPECT_EQ(content.spans[0].start, 12 * kSecond + kSecond / 2);
    EXPECT_EQ(content.spans[0].end, 20 * kSecond);
    EXPECT_EQ(content.spans[1].start, 60 * kSecond + 22500);
    EXPECT_EQ(content.spans[1].end, 90 * kSecond);
    EXPECT_EQ(content.spans[1].line, 3);
    // Frame 250 at 25 per second is 10 s; half a frame early finds its picture.
    EXPECT_EQ(content.spans[2].start, 10 * kSecond - 1800);
    EXPECT_EQ(content.spans[2].line, 6);
    EXPECT_EQ(content.spans[3].start, 3723 * kSecond);
    EXPECT_EQ(content.spans[3].end, 3724 * kSecond + 11106);  // 0.1234 s, rounded down
    ASSERT_EQ(content.notes.size(), 2u);
    EXPECT_EQ(content.notes[0].rfind("line 4: a mute entry", 0), 0u) << content.notes[0];
    EXPECT_EQ(content.notes[1].rfind("line 5: a scene marker", 0), 0u) << content.notes[1];
}

TEST(EdlFile, RefusesMalformedLinesByNumber) {
    expectRefused(edl::Read("1 2 0\n5\n", &k25), 2, "START END ACTION");
    expectRefused(edl::Read("1 2 0\n\n1 2 7\n", &k25), 3, "unknown action '7'");
    expectRefused(edl::Read("1 2 0 x\n", &k25), 1, "unexpected 'x'");
    expectRefused(edl::Read("a 2 0\n", &k25), 1, "bad time 'a'");
    expectRefused(edl::Read("1 0:61:00 0\n", &k25), 1, "bad time");
    expectRefused(edl::Read("-1 2 0\n", &k25), 1, "bad time");
    expectRefused(edl::Read("1.2.3 2 0\n", &k25), 1, "bad time");
    expectRefused(edl::Read("99999999999 99999999999 0\n", &k25), 1, "bad time");
    expectRefused(edl::Read("10 5 0\n", &k25), 1, "lies before the start");
    expectRefused(edl::Read("#10 #20 0\n", nullptr), 1, "frame rate, which is unknown");
    EXPECT_EQ(edl::Read(std::string("1 2\0", 4), &k25).error, "not a text file");
}

TEST(EdlFile, WritesMillisecondsRoundedDownAndTheEndForSpansToTheEnd) {
    const std::vector<CutSpan> spans = {{0, 172800, false, 0}, {3003 * 1001, 0, true, 0}};
    EXPECT_EQ(edl::Write(spans, 600 * kSecond + 89), "0.000\t1.920\t0\n33.400\t600.000\t0\n");
    const CutFileContent back = edl::Read(edl::Write(spans, 700 * kSecond), nullptr);
    ASSERT_EQ(back.spans.size(), 2u);
    EXPECT_LE(back.spans[1].start, 3003 * 1001);
    EXPECT_GT(back.spans[1].start, 3003 * 1001 - 90);
}

TEST(VdrMarks, WhatLiesBetweenMarkPairsIsKeptTheRestIsCut) {
    // Out of order and with comments, as VDR allows; it sorts them by time.
    const std::string text =
        "0:10:00.00 end of the first half\n"
        "0:01:00.12 start\n"
        "0:20:00.00\n"
        "0:30:00.24 end\n";
    const CutFileContent content = vdr::Read(text, k25);
    ASSERT_FALSE(content.Failed()) << content.error;
    ASSERT_EQ(content.spans.size(), 3u);
    // Before the first mark, between marks 2 and 3, and after the last.
    EXPECT_EQ(content.spans[0].start, 0);
    EXPECT_EQ(content.spans[0].end, FrameSearchTicks(60 * 25 + 12, k25));
    EXPECT_EQ(content.spans[1].start, FrameSearchTicks(600 * 25, k25));
    EXPECT_EQ(content.spans[1].end, FrameSearchTicks(1200 * 25, k25));
    EXPECT_EQ(content.spans[1].line, 3);
    EXPECT_TRUE(content.spans[2].toEnd);
    EXPECT_EQ(content.spans[2].start, FrameSearchTicks(1800 * 25 + 24, k25));

    // An odd last mark keeps the rest; a first mark at 0 cuts nothing before it.
    const CutFileContent odd = vdr::Read("0:00:00.00\n0:01:00.00\n0:02:00.00\n", k25);
    ASSERT_EQ(odd.spans.size(), 1u);
    EXPECT_FALSE(odd.spans[0].toEnd);
    EXPECT_TRUE(vdr::Read("", k25).spans.empty());              // no marks: nothing cut
    EXPECT_TRUE(vdr::Read("0:00:00.00\n", k25).spans.empty());  // keeps everything
}

TEST(VdrMarks, RefusesMalformedMarksByNumber) {
    expectRefused(vdr::Read("0:01:00.00\n1:2:3\n", k25), 2, "bad mark '1:2:3'");
    expectRefused(vdr::Read("0:01:00.25\n", k25), 1, "below 25 frames");
    expectRefused(vdr::Read("\n\n0:01:60.00\n", k25), 3, "bad mark");
    expectRefused(vdr::Read("start 0:01:00.00\n", k25), 1, "bad mark 'start'");
    expectRefused(vdr::Read("0:00:01.30\n", kNtsc), 1, "below 29.97");
    EXPECT_FALSE(vdr::Read("0:00:01.29\n", kNtsc).Failed());
}

TEST(VdrMarks, FrameNumbersSurviveTextAtEveryRate) {
    for (const FrameRate& rate : {k25, kNtsc, FrameRate{24000, 1001}, FrameRate{50, 1}}) {
        for (std::int64_t frame = 0; frame < 200000; frame += 7) {
            std::int64_t back = -1;
            const std::string text = vdr::FrameToText(frame, rate);
            ASSERT_TRUE(vdr::TextToFrame(text, rate, back)) << text;
            ASSERT_EQ(back, frame) << text << " at " << rate.num << "/" << rate.den;
        }
    }
    EXPECT_EQ(vdr::FrameToText(25 * 3723 + 24, k25), "1:02:03.24");
}

TEST(VdrMarks, WritesTheKeptPartsOfSortedSpans) {
    const std::int64_t f = 3600;  // one frame at 25
    // Cut from the start to frame 100, frames 500-700, and from 900 to the end.
    std::vector<CutSpan> spans = {
        {0, 100 * f, false, 0}, {500 * f, 700 * f, false, 0}, {900 * f, 0, true, 0}};
    EXPECT_EQ(vdr::Write(spans, k25), "0:00:04.00\n0:00:20.00\n0:00:28.00\n0:00:36.00\n");
    spans = {{500 * f, 700 * f, false, 0}};
    EXPECT_EQ(vdr::Write(spans, k25), "0:00:00.00\n0:00:20.00\n0:00:28.00\n");
    EXPECT_EQ(vdr::Write({}, k25), "0:00:00.00\n");
    // Read back, the same stretches are cut.
    const CutFileContent back = vdr::Read(vdr::Write(spans, k25), k25);
    ASSERT_EQ(back.spans.size(), 1u);
    EXPECT_EQ(NearestFrame(back.spans[0].start, k25), 500);
    EXPECT_EQ(NearestFrame(back.spans[0].end, k25), 700);
}

TEST(ComskipList, ReadsFramesFromOneAsComskipsOwnEdlDoes) {
    // One comskip run over a 25 fps recording: its frame list and its EDL
    // must come to the same times.
    const CutFileContent frames = comskip::Read(fixture("comskip_run.txt"), &k25);
    const CutFileContent seconds = edl::Read(fixture("comskip_run.edl"), &k25);
    ASSERT_FALSE(frames.Failed()) << frames.error;
    ASSERT_FALSE(seconds.Failed()) << seconds.error;
    ASSERT_EQ(frames.spans.size(), 2u);
    ASSERT_EQ(seconds.spans.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(NearestFrame(frames.spans[i].start, k25),
                  NearestFrame(seconds.spans[i].start, k25));
        EXPECT_EQ(NearestFrame(frames.spans[i].end, k25), NearestFrame(seconds.spans[i].end, k25));
    }
    EXPECT_EQ(frames.spans[0].start, 0);  // frame 1 is the first picture
    EXPECT_TRUE(frames.notes.empty());
    // The same run's VDR marks keep the commercials between its pairs, so
    // read as VDR marks they cut what the frame list keeps.
    const CutFileContent marks = vdr::Read(fixture("comskip_run.vdr"), k25);
    ASSERT_FALSE(marks.Failed()) << marks.error;
    ASSERT_FALSE(marks.spans.empty());
    EXPECT_EQ(NearestFrame(marks.spans[0].start, k25), NearestFrame(frames.spans[0].end, k25));
    EXPECT_EQ(NearestFrame(marks.spans[0].end, k25), NearestFrame(frames.spans[1].start, k25));
}

TEST(ComskipList, CountsAtTheListsRateWhenTheRecordingDisagrees) {
    const std::string list = "FILE PROCESSING COMPLETE 1000 FRAMES AT 2997\n-----\n31 61\n";
    CutFileContent content = comskip::Read(list, &kNtsc);  // agrees: the exact rate
    ASSERT_EQ(content.spans.size(), 1u);
    EXPECT_EQ(content.spans[0].start, FrameSearchTicks(30, kNtsc));
    EXPECT_TRUE(content.notes.empty());
    content = comskip::Read(list, &k25);  // disagrees: the list's own count
    ASSERT_EQ(content.spans.size(), 1u);
    EXPECT_EQ(content.spans[0].start, FrameSearchTicks(30, FrameRate{2997, 100}));
    ASSERT_EQ(content.notes.size(), 1u);
    EXPECT_NE(content.notes[0].find("29.97"), std::string::npos) << content.notes[0];
    // A header without a rate counts at the recording's.
    content = comskip::Read("FILE PROCESSING COMPLETE\n1 26\n", &k25);
    ASSERT_EQ(content.spans.size(), 1u);
    EXPECT_EQ(content.spans[0].end, FrameSearchTicks(25, k25));
}

TEST(ComskipList, RefusesMalformedListsByNumber) {
    expectRefused(comskip::Read("1 2\n", &k25), 1, "comskip header");
    expectRefused(comskip::Read("", &k25), 1, "comskip header");
    expectRefused(comskip::Read("FILE PROCESSING COMPLETE\n1 2\n", nullptr), 1, "frame rate");
    expectRefused(comskip::Read("FILE PROCESSING COMPLETE 10 FRAMES AT 0\n", &k25), 1,
                  "frame rate");
    const std::string header = "FILE PROCESSING COMPLETE 100 FRAMES AT 2500\n---\n";
    expectRefused(comskip::Read(header + "1 20\n30\n", &k25), 4, "two frame numbers");
    expectRefused(comskip::Read(header + "1 20\n30 x\n", &k25), 4, "two frame numbers");
    expectRefused(comskip::Read(header + "50 20\n", &k25), 3, "lies before");
    expectRefused(comskip::Read(header + "1 2 3\n", &k25), 3, "two frame numbers");
}

TEST(ComskipList, WritesTheHeaderAndFramesFromOne) {
    const std::vector<CutSpan> spans = {{0, 100 * 3003, false, 0}, {200 * 3003, 0, true, 0}};
    EXPECT_EQ(comskip::Write(spans, kNtsc, 1500, 1500 * 3003),
              "FILE PROCESSING COMPLETE   1500 FRAMES AT  2997\n"
              "-------------------\n"
              "1\t101\n"
              "201\t1501\n");
}

}  // namespace
