// The copying jobs on the receivers' variants: a swapped recording of odd
// length (a transfer cut short), PVR5000 .rec with its 1692-byte header,
// 192-byte packets, segment chains whose copy outgrows the estimate, a copy
// written over an earlier segmented one; and the leading area the
// demultiplexing jobs skip.

#include <filesystem>

#include "cut_job_fixture.h"
#include "demux/raw_file.h"
#include "engine/function_mng.h"
#include "support/ts_builder.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

const std::vector<TestArea> kAreas = {{1200000, 2500000}, {4100000, 4900000}};

// Each packet behind a 4-byte prefix that numbers it, so that a prefix can be
// followed to its packet.
Bytes numbered192(const Bytes& ts) {
    Bytes out;
    for (std::size_t at = 0, n = 0; at + 188 <= ts.size(); at += 188, ++n) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(n >> shift));
        out.insert(out.end(), ts.begin() + static_cast<long>(at), ts.begin() + static_cast<long>(at + 188));
    }
    return out;
}

}  // namespace

class RecordingVariantsTest : public CutJobTest {
  protected:
    Bytes plainCopy(const std::vector<TestArea>& areas) {
        Open(SourceRecording(), areas);
        return ReadFileBytes(CopyTo("plain.ts"));
    }
    Bytes inPlace(const std::string& path, const std::vector<TestArea>& areas) {
        Open(path, areas);
        EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::Done);
        m_model->Close();
        return JoinedSegments(path);
    }
};

TEST_F(RecordingVariantsTest, SwappedRecordingOfOddLengthIsCopiedAndCutWhole) {
    const Bytes plain = plainCopy(kAreas);
    Bytes swapped = SwapPairs(ReadFileBytes(SourceRecording()));
    swapped.push_back(0x47);  // the transfer stopped one byte into a pair
    const std::string odd = m_dir.File("odd.ts");
    WriteFileBytes(odd, swapped);
    CRecordingModel& model = Open(odd, kAreas);
    ASSERT_TRUE(model.Recording().IsSwapped());
    EXPECT_EQ(SwapPairs(ReadFileBytes(CopyTo("copy.ts"))), plain);
    // The byte without a partner is no part of the data, in place either.
    EXPECT_EQ(SwapPairs(inPlace(odd, kAreas)), plain);
    // Nothing cut: the whole pairs stay as they were.
    WriteFileBytes(odd, swapped);
    EXPECT_EQ(inPlace(odd, {}), Bytes(swapped.begin(), swapped.end() - 1));
}

TEST_F(RecordingVariantsTest, RecRecordingKeepsItsHeaderInTheCopyAndInPlace) {
    const tsb::Bytes header = tsb::TopfieldHeader(1692, 0x1000, 0x100, 0x101);
    Bytes file(header.begin(), header.end());
    const Bytes ts = ReadFileBytes(SourceRecording());
    file.insert(file.end(), ts.begin(), ts.end());
    const std::string rec = m_dir.File("film.rec");
    WriteFileBytes(rec, file);
    const std::vector<TestArea> areas = {{1201692, 2501692}};
    Open(rec, areas);
    const Bytes copy = ReadFileBytes(CopyTo("copy.rec"));
    ASSERT_GT(copy.size(), 1692u);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), copy.begin()));
    EXPECT_EQ((copy.size() - 1692) % 188, 0u);
    const std::string body = m_dir.File("body.ts");
    WriteFileBytes(body, {copy.begin() + 1692, copy.end()});
    ExpectSoftCutOutput(body, SourceRecording(), {{1200000, 2500000}}, 0);
    EXPECT_EQ(inPlace(rec, areas), copy);
}

TEST_F(RecordingVariantsTest, PrefixedPacketsAreCutWholeWithTheirPrefixes) {
    // The same cut points as in the 188-byte recording: areas on the same packets.
    const Bytes plain = plainCopy(kAreas);
    std::vector<TestArea> areas;
    for (const TestArea& area : kAreas) areas.push_back({area.start / 188 * 192, area.end / 188 * 192});
    const Bytes source = numbered192(ReadFileBytes(SourceRecording()));
    const std::string mts = m_dir.File("film.mts");
    WriteFileBytes(mts, source);
    Open(mts, areas);
    const Bytes copy = ReadFileBytes(CopyTo("copy.mts"));
    ASSERT_EQ(copy.size() % 192, 0u);
    Bytes stripped;
    std::uint32_t lastNumber = 0;
    for (std::size_t at = 0; at < copy.size(); at += 192) {
        const std::uint32_t number = static_cast<std::uint32_t>(copy[at]) << 24 | copy[at + 1] << 16 |
                                     copy[at + 2] << 8 | copy[at + 3];
        ASSERT_EQ(copy[at + 4], 0x47) << "packet " << at / 192;
        // Each prefix stays before the packet it came with, in source order.
        const std::size_t from = std::size_t{number} * 192 + 4;
        ASSERT_LT(from + 188, source.size() + 1);
        EXPECT_TRUE(at == 0 || number > lastNumber);
        lastNumber = number;
        stripped.insert(stripped.end(), copy.begin() + static_cast<long>(at + 4),
                        copy.begin() + static_cast<long>(at + 192));
    }
    // .mts keeps no header packet apart: the .ts copy's first packet is the
    // source's, which the .mts copy holds in the same place.
    EXPECT_EQ(stripped, plain);
    EXPECT_EQ(inPlace(mts, areas), copy);
}

TEST_F(RecordingVariantsTest, SegmentedCopyLongerThanTheEstimateKeepsTheLayout) {
    // An area inside one GOP is kept whole, so the copy is longer than the
    // estimate, which took the area out: by more than the last segment holds.
    const Bytes source = ReadFileBytes(SourceRecording());
    std::vector<std::uint64_t> gops;
    for (const VideoPacket& packet : SourcePackets())
        if (packet.key) gops.push_back(packet.pos);
    TestArea inside;
    for (std::size_t i = 2; i < gops.size() && inside.end == 0; ++i)  // not a leading area
        if (gops[i] - gops[i - 1] > 200000) inside = {gops[i - 1] + 20000, gops[i] - 20000};
    ASSERT_NE(inside.end, 0u);
    const std::size_t lastSegment = 50000;
    const std::size_t segment = (source.size() - lastSegment) / 3;
    const std::string base = m_dir.File("seg.ts");
    tsb::WriteSegments(base, tsb::Bytes(source.begin(), source.end()), {segment, segment, segment});
    Open(base, {inside});
    ASSERT_EQ(m_model->Recording().GetSegmentCount(), 4);
    m_prompts.saveAs = m_dir.File("out.ts");
    EXPECT_EQ(FunctionMng().FnProcessCopy(), JobResult::DoneWithWarnings)
        << "a kept area is a warning";
    const std::string out = m_dir.File("out.ts");
    for (int index = 0; index < 3; ++index)
        EXPECT_EQ(fs::file_size(CRawFile::GetSegmentName(out, index)), segment) << index;
    EXPECT_EQ(fs::file_size(CRawFile::GetSegmentName(out, 3)), source.size() - 3 * segment);
    EXPECT_EQ(JoinedSegments(out), source);
    EXPECT_NE(LogText().find("holds no GOP start: it is kept"), std::string::npos);
}

TEST_F(RecordingVariantsTest, CopyOverAnEarlierSegmentedCopyReplacesItsSegments) {
    const Bytes source = ReadFileBytes(SourceRecording());
    const std::string base = m_dir.File("seg.ts");
    tsb::WriteSegments(base, tsb::Bytes(source.begin(), source.end()), {2000000, 2000000, 2000000});
    Open(base, kAreas);
    m_prompts.saveAs = m_dir.File("out.ts");
    ASSERT_EQ(FunctionMng().FnProcessCopy(), JobResult::Done);
    ASSERT_TRUE(fs::exists(m_dir.File("out.ts.002")));

    // A one-file recording copied to the same name: the earlier segments go,
    // after a question that names them; No leaves everything as it was.
    const Bytes before = JoinedSegments(m_dir.File("out.ts"));
    Open(SourceRecording(), kAreas);
    m_prompts.saveAs = m_dir.File("out.ts");
    m_prompts.answer = PromptAnswer::No;
    EXPECT_EQ(FunctionMng().FnProcessCopy(), JobResult::NotStarted);
    EXPECT_NE(m_prompts.questions.back().find("out.ts and 2 segment files (out.ts.001 to out.ts.002)"),
              std::string::npos)
        << m_prompts.questions.back();
    EXPECT_EQ(JoinedSegments(m_dir.File("out.ts")), before);
    m_prompts.answer = PromptAnswer::Yes;
    EXPECT_EQ(FunctionMng().FnProcessCopy(), JobResult::Done);
    EXPECT_FALSE(fs::exists(m_dir.File("out.ts.001")));
    EXPECT_EQ(JoinedSegments(m_dir.File("out.ts")), before) << "the same cut of the same data";
    CRawFile reopened;
    platform::FileError error;
    reopened.Open(m_dir.File("out.ts"), platform::modeRead, &error);
    EXPECT_EQ(reopened.GetSegmentCount(), 1);
}

TEST_F(RecordingVariantsTest, DemultiplexingSkipsALeadingAreaAndKeepsItEnabled) {
    const std::string out = m_dir.File("es");
    fs::create_directory(out);
    FunctionMng().m_outputFolder = out;
    Open(SourceRecording(), {});
    ASSERT_EQ(FunctionMng().FnCreateOutput(0, OutputEs), JobResult::Done);
    const std::string all = out + "/cut_source.m2v";
    const int pictures = std::stoi(RunCommand("ffprobe -v error -count_frames -show_entries "
                                              "stream=nb_read_frames -of csv=p=0 '" + all + "'"));
    fs::rename(all, out + "/whole.m2v");
    fs::remove(out + "/cut_source.mp2");
    // An area from the start: the job begins after it.
    Open(SourceRecording(), {{0, 2500000}});
    ASSERT_EQ(FunctionMng().FnCreateOutput(0, OutputEs), JobResult::Done);
    FunctionMng().m_outputFolder.clear();
    const int kept = std::stoi(RunCommand("ffprobe -v error -count_frames -show_entries "
                                          "stream=nb_read_frames -of csv=p=0 '" + all + "'"));
    EXPECT_LT(kept, pictures * 3 / 4);
    EXPECT_GT(kept, pictures / 4);
    EXPECT_EQ(DecodeErrors(all, "v:0"), "");
    EXPECT_TRUE(m_model->m_cutList[0].IsEnabled);
}
