// The copying jobs on H.264 and HEVC recordings: every picture kept is the
// source's picture with the same time stamp and the video decodes without an
// error (leading pictures left out, CRA pictures made BLA pictures, H.264
// pictures renumbered after a splice, parameter sets repeated where a
// picture lacks them); the sound keeps only whole frames of the source and
// plays with the pictures it belongs to; in place gives the copy's bytes, for
// plain, segmented, byte-swapped and 192-byte recordings.

#include <filesystem>
#include <set>

#include "cut_job_fixture.h"
#include "demux/raw_file.h"
#include "engine/function_mng.h"
#include "hd_cut_media.h"
#include "support/ts_builder.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::int64_t kTicksPerFrame = 3600;
// A PES packet of the test recordings' sound lasts at most this (AAC packs
// up to 15 frames into one).
constexpr std::int64_t kSoundSlack = 36000;

// Every sound packet of the output is one of the source's (no frame broken
// or changed), it decodes without an error, and at each splice the sound
// ends and resumes with the pictures.
void expectWholeSound(const std::string& output, const std::string& source,
                      const std::string& stream, const std::vector<std::int64_t>& keptFrames) {
    SCOPED_TRACE("sound " + stream);
    EXPECT_EQ(DecodeErrors(output, stream), "");
    const std::vector<hdcut::AudioPacket> from = hdcut::AudioPackets(source, stream);
    const std::vector<hdcut::AudioPacket> out = hdcut::AudioPackets(output, stream);
    ASSERT_FALSE(out.empty());
    const std::set<hdcut::AudioPacket> known(from.begin(), from.end());
    for (const hdcut::AudioPacket& packet : out)
        EXPECT_TRUE(known.count(packet)) << "sound frame at " << packet.pts << " is not the source's";
    auto anyIn = [&out](std::int64_t from, std::int64_t to) {
        return std::any_of(out.begin(), out.end(),
                           [&](const hdcut::AudioPacket& p) { return p.pts >= from && p.pts < to; });
    };
    for (std::size_t i = 1; i < keptFrames.size(); ++i) {
        if (keptFrames[i] == keptFrames[i - 1] + 1) continue;
        const std::int64_t cut = (keptFrames[i - 1] + 1) * kTicksPerFrame;
        const std::int64_t resume = keptFrames[i] * kTicksPerFrame;
        SCOPED_TRACE("splice from " + std::to_string(cut) + " to " + std::to_string(resume));
        EXPECT_FALSE(anyIn(cut + kSoundSlack, resume - kSoundSlack)) << "sound of the cut area kept";
        EXPECT_TRUE(anyIn(cut - kSoundSlack, cut + kSoundSlack)) << "no sound up to the cut";
        EXPECT_TRUE(anyIn(resume - kSoundSlack, resume + kSoundSlack)) << "no sound after it";
    }
}

}  // namespace

class HdCutTest : public CutJobTest {
  protected:
    // Copies with the areas, checks pictures and sound, then cuts a copy of
    // the source in place: the same bytes. Returns the copy's bytes.
    Bytes cutBothWays(const std::string& source, const std::vector<TestArea>& areas,
                      const std::vector<std::string>& sound, JobResult expected = JobResult::Done) {
        const std::vector<VideoPacket> packets = VideoPackets(source, "v:0");
        Open(source, areas);
        m_prompts.saveAs = m_dir.File("copy.ts");
        EXPECT_EQ(FunctionMng().FnProcessCopy(), expected) << LogText();
        const std::string copy = m_dir.File("copy.ts");
        ExpectSoftCutOutput(copy, source, areas, 188);
        const std::vector<std::int64_t> kept =
            KeptPictures(packets, areas, 188, fs::file_size(source));
        for (const std::string& stream : sound) expectWholeSound(copy, source, stream, kept);

        const std::string inPlace = m_dir.File("in-place.ts");
        fs::copy_file(source, inPlace, fs::copy_options::overwrite_existing);
        Open(inPlace, areas);
        EXPECT_EQ(FunctionMng().FnProcessSource(), expected);
        m_model->Close();
        const Bytes bytes = ReadFileBytes(copy);
        EXPECT_TRUE(ReadFileBytes(inPlace) == bytes) << "in place differs from the copy";
        return bytes;
    }
};

TEST_F(HdCutTest, H264SplicesKeepEveryPictureAndWholeSound) {
    const std::string source = hdcut::H264Recording();
    const std::vector<TestArea> areas = hdcut::TwoAreas(VideoPackets(source, "v:0"));
    ASSERT_EQ(areas.size(), 2u);
    cutBothWays(source, areas, {"a:0", "a:1"});
    // The pictures after each splice were renumbered, not left to a decoder
    // that would take them for lost ones.
    EXPECT_EQ(LogText().find("kept their numbers"), std::string::npos);
}

TEST_F(HdCutTest, HevcSplicesKeepEveryPictureAndWholeSound) {
    const std::string source = hdcut::HevcRecording();
    const std::vector<TestArea> areas = hdcut::TwoAreas(VideoPackets(source, "v:0"));
    ASSERT_EQ(areas.size(), 2u);
    cutBothWays(source, areas, {"a:0", "a:1"});
    // The CRA picture each splice resumes with starts a new coded video
    // sequence as a BLA picture; its RASL pictures are gone.
    constexpr int kBlaWithLeadingPictures = 16;
    const std::string copy = m_dir.File("copy.ts");
    EXPECT_EQ(hdcut::NalUnitsOfType(source, kBlaWithLeadingPictures), 0);
    EXPECT_EQ(hdcut::NalUnitsOfType(copy, kBlaWithLeadingPictures), 2);
}

TEST_F(HdCutTest, ParameterSetsGoInFrontOfAPictureThatLacksThem) {
    // Only the first picture carries the parameter sets: a copy that starts
    // at a later one decodes only if they are repeated there.
    const std::string source = hdcut::H264SetsOnceRecording();
    const std::vector<VideoPacket> packets = VideoPackets(source, "v:0");
    std::vector<std::uint64_t> keys;
    for (const VideoPacket& packet : packets)
        if (packet.key) keys.push_back(packet.pos);
    ASSERT_GE(keys.size(), 6u);
    ASSERT_EQ(hdcut::NalUnitsOfType(source, 7), 1);
    const std::vector<TestArea> areas = {{0, keys[1] + 20000}, {keys[3] + 20000, keys[4] + 20000}};
    cutBothWays(source, areas, {"a:0"});
    EXPECT_EQ(hdcut::NalUnitsOfType(m_dir.File("copy.ts"), 7), 2) << "one SPS at each splice\n"
                                                                   << LogText();
}

TEST_F(HdCutTest, SegmentedSwappedAndPrefixedRecordingsAreCutAlike) {
    const std::string source = hdcut::HevcRecording();
    const std::vector<TestArea> areas = hdcut::TwoAreas(VideoPackets(source, "v:0"));
    ASSERT_EQ(areas.size(), 2u);
    Open(source, areas);
    const Bytes plain = ReadFileBytes(CopyTo("plain.ts"));
    const Bytes bytes = ReadFileBytes(source);

    auto inPlace = [&](const std::string& path, const std::vector<TestArea>& marked) {
        Open(path, marked);
        EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::Done);
        m_model->Close();
        return JoinedSegments(path);
    };
    // Segments of 1,000,000 bytes: the copy keeps the layout.
    const std::string segmented = m_dir.File("seg.ts");
    tsb::WriteSegments(segmented, tsb::Bytes(bytes.begin(), bytes.end()), {1000000, 1000000});
    Open(segmented, areas);
    m_prompts.saveAs = m_dir.File("seg-copy.ts");
    ASSERT_EQ(FunctionMng().FnProcessCopy(), JobResult::Done);
    EXPECT_EQ(fs::file_size(m_dir.File("seg-copy.ts")), 1000000u);
    EXPECT_EQ(JoinedSegments(m_dir.File("seg-copy.ts")), plain);
    EXPECT_EQ(inPlace(segmented, areas), plain);

    const std::string swapped = m_dir.File("swapped.ts");
    WriteFileBytes(swapped, SwapPairs(bytes));
    Open(swapped, areas);
    ASSERT_TRUE(m_model->Recording().IsSwapped());
    EXPECT_EQ(SwapPairs(ReadFileBytes(CopyTo("swapped-copy.ts"))), plain);
    EXPECT_EQ(SwapPairs(inPlace(swapped, areas)), plain);

    // 192-byte packets: the same cut, each prefix with its packet (the
    // packets written anew carry their packet's prefix).
    const std::string mts = m_dir.File("film.mts");
    WriteFileBytes(mts, tsb::To192(tsb::Bytes(bytes.begin(), bytes.end())));
    std::vector<TestArea> prefixed;
    for (const TestArea& area : areas) prefixed.push_back({area.start / 188 * 192, area.end / 188 * 192});
    Open(mts, prefixed);
    const Bytes copy192 = ReadFileBytes(CopyTo("copy.mts"));
    ASSERT_EQ(copy192.size() % 192, 0u);
    Bytes stripped;
    for (std::size_t at = 0; at < copy192.size(); at += 192)
        stripped.insert(stripped.end(), copy192.begin() + static_cast<long>(at + 4),
                        copy192.begin() + static_cast<long>(at + 192));
    EXPECT_EQ(stripped, plain);
    EXPECT_TRUE(inPlace(mts, prefixed) == copy192) << "in place differs from the copy";
}

TEST_F(HdCutTest, PicturesAfterTheLastRandomAccessPictureGoWithAnAreaBeforeThem) {
    // The area ends inside the last GOP: the pictures after it refer to
    // those it removes, and no random-access picture follows.
    const std::string source = hdcut::H264Recording();
    std::vector<std::uint64_t> keys;
    for (const VideoPacket& packet : VideoPackets(source, "v:0"))
        if (packet.key) keys.push_back(packet.pos);
    ASSERT_GE(keys.size(), 4u);
    cutBothWays(source, {{keys[2] + 20000, keys.back() + 20000}}, {"a:0", "a:1"});
    EXPECT_NE(LogText().find("they are left out"), std::string::npos) << LogText();
}

TEST_F(HdCutTest, AnAreaWithoutARandomAccessPictureIsKeptWithAWarning) {
    const std::string source = hdcut::H264Recording();
    std::vector<std::uint64_t> keys;
    for (const VideoPacket& packet : VideoPackets(source, "v:0"))
        if (packet.key) keys.push_back(packet.pos);
    ASSERT_GE(keys.size(), 4u);
    // Inside the third GOP, and one that ends at the file's end.
    const std::vector<TestArea> areas = {{keys[2] + 20000, keys[3] - 20000},
                                         {keys[3] + 20000, fs::file_size(source)}};
    Open(source, areas);
    m_prompts.saveAs = m_dir.File("copy.ts");
    EXPECT_EQ(FunctionMng().FnProcessCopy(), JobResult::DoneWithWarnings);
    EXPECT_NE(LogText().find("holds no random-access picture: it is kept"), std::string::npos);
    ExpectSoftCutOutput(m_dir.File("copy.ts"), source, areas, 188);
}
