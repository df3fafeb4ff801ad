// "Demux to MPEG" on H.264 and HEVC recordings made by ffmpeg with noise
// sound: every picture written is the source's own, in the source's order
// (framemd5), the pictures kept are exactly those between the splices, the
// outputs decode without a message, and the sound is in step with the
// pictures at every point (the sync meter).

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <unordered_map>

#include "app/mark_placement.h"
#include "job_fixture.h"
#include "support/hd_media.h"
#include "support/sync_meter.h"

namespace jobs {
namespace {

constexpr std::int64_t kSecond = 90000;

// Where the pictures of an output come from: the source's index of each (in
// display order), -1 for a picture the source does not have.
std::vector<int> SourceIndices(const meter::Streams& source, const meter::Streams& output) {
    std::unordered_map<std::string, int> index;
    for (std::size_t i = 0; i < source.video.size(); ++i)
        index.emplace(source.video[i].hash, static_cast<int>(i));
    std::vector<int> indices;
    for (const meter::Frame& f : output.video) {
        auto it = index.find(f.hash);
        indices.push_back(it == index.end() ? -1 : it->second);
    }
    return indices;
}

class HdExportTest : public JobTest {
protected:
    // A cut area between two times from the first picture, its marks placed
    // as the window and ravelo-cli place them (on random-access points).
    CCutArea Area(double from, double to) {
        const PlacedMark a = PlaceMarkAtTime(m_model, static_cast<std::int64_t>(from * kSecond));
        const PlacedMark b = PlaceMarkAtTime(m_model, static_cast<std::int64_t>(to * kSecond));
        EXPECT_TRUE(a.pictureFound && b.pictureFound);
        CCutArea area;
        area.SectorStart = a.sector;
        area.SectorEnd = b.sector;
        area.PTSStart = a.stamp;
        area.PTSEnd = b.stamp;
        area.IsEnabled = true;
        return area;
    }

    // Runs the export of the recording with areas cut at these times.
    JobResult Export(const std::string& recording, const std::vector<std::pair<double, double>>& cuts) {
        m_model.CloseWithoutSaving();
        Open(recording);
        CCutList areas;
        for (const auto& [from, to] : cuts) areas.push_back(Area(from, to));
        m_model.m_cutList = areas;
        m_areas = areas;
        return RunJob(OutputEs);
    }

    std::string Out(const std::string& recording, const std::string& extension) const {
        return Output(std::filesystem::path(recording).stem().string() + extension);
    }

    // The source pictures (display order) a cut area takes: from the leading
    // pictures of the random-access point where it begins (they are decoded
    // after that point and go with its group) up to the point where it ends.
    static std::set<int> Taken(const std::vector<hdmedia::Picture>& pictures, const CCutArea& area) {
        std::set<int> taken;
        auto at = [&](std::int64_t pts) {
            for (std::size_t i = 0; i < pictures.size(); ++i)
                if (pictures[i].pts == pts) return static_cast<int>(i);
            ADD_FAILURE() << "no picture at " << pts;
            return 0;
        };
        int from = at(area.PTSStart);
        const int to = at(area.PTSEnd);
        while (from > 0 && pictures[static_cast<std::size_t>(from - 1)].type == 'B') --from;
        for (int i = from; i < to; ++i) taken.insert(i);
        return taken;
    }

    // The pictures written are the source's, in its order, and exactly those
    // the cut areas (with their leading pictures) leave. The data may end
    // inside the last picture in decoding order: it goes, with the pictures
    // from the last I or P picture before it on (shown after the B pictures
    // that follow it, which refer to it).
    void ExpectPictures(const std::string& recording, const meter::Streams& source,
                        const meter::Streams& output) {
        const std::vector<hdmedia::Picture> pictures = hdmedia::Pictures(recording);
        ASSERT_EQ(pictures.size(), source.video.size());
        std::set<int> lost;
        for (const CCutArea& area : m_areas) lost.merge(Taken(pictures, area));
        std::map<std::int64_t, int> byPts;
        for (std::size_t i = 0; i < pictures.size(); ++i) byPts[pictures[i].pts] = static_cast<int>(i);
        const std::vector<hdmedia::Packet> decoding = hdmedia::VideoPackets(recording);
        for (auto it = decoding.rbegin(); it != decoding.rend(); ++it) {
            const int shown = byPts.at(it->pts);
            lost.insert(shown);
            if (pictures[static_cast<std::size_t>(shown)].type != 'B') break;
        }
        std::vector<int> expected;
        for (int i = 0; i < static_cast<int>(pictures.size()); ++i)
            if (!lost.count(i)) expected.push_back(i);
        EXPECT_EQ(SourceIndices(source, output), expected);
    }

    // The sound of the output against the source's: every frame is the
    // source's own (no silence needed), the first lies within one frame of
    // the first picture, and none is more than half a frame out of step.
    void ExpectInStep(const meter::Streams& source, const meter::Streams& output, double frame) {
        const meter::SyncReport report = meter::Measure(source, output);
        SCOPED_TRACE(report.Summary());
        ASSERT_FALSE(report.errors.empty());
        EXPECT_EQ(report.matchedAudio, report.outputAudio);
        EXPECT_LE(std::abs(report.errors.front().error), frame);
        EXPECT_LE(std::abs(report.WorstError()), frame / 2 + 0.001);
    }

    CCutList m_areas;
};

TEST_F(HdExportTest, H264WithoutCutsIsTheSourceStreamFromItsFirstPicture) {
    const std::string rec = hdmedia::H264WithNoise();
    EXPECT_EQ(Export(rec, {}), JobResult::Done) << Lines();
    for (const char* ext : {".h264", ".aac", ".eac3"}) EXPECT_EQ(DecodeErrors(Out(rec, ext)), "") << ext;
    // Byte for byte what ffmpeg copies out, but for the last picture, which
    // the data may end inside.
    const auto es = ReadFileBytes(hdmedia::VideoElementaryStream(rec));
    const auto written = ReadFileBytes(Out(rec, ".h264"));
    ASSERT_LT(written.size(), es.size());
    EXPECT_TRUE(std::equal(written.begin(), written.end(), es.begin()));
    EXPECT_LT(es.size() - written.size(), 200000u);
    for (int track : {0, 1}) {
        SCOPED_TRACE(track);
        const meter::Streams source = meter::ReadProgram(rec, track);
        const meter::Streams output = meter::ReadElementary(Out(rec, ".h264"), Out(rec, track ? ".eac3" : ".aac"));
        EXPECT_EQ(output.errors, "");
        ExpectInStep(source, output, track ? 0.032 : 0.0214);
    }
}

TEST_F(HdExportTest, H264WithTwoCutAreasKeepsThePicturesBetweenTheSplicesInStep) {
    const std::string rec = hdmedia::H264WithNoise();
    EXPECT_EQ(Export(rec, {{1.5, 2.5}, {4.2, 6.1}}), JobResult::Done) << Lines();
    EXPECT_TRUE(Logged("Cut area left out, the output goes on here")) << Lines();
    for (const char* ext : {".h264", ".aac", ".eac3"}) EXPECT_EQ(DecodeErrors(Out(rec, ext)), "") << ext;
    for (int track : {0, 1}) {
        SCOPED_TRACE(track);
        const meter::Streams source = meter::ReadProgram(rec, track);
        const meter::Streams output =
            meter::ReadElementary(Out(rec, ".h264"), Out(rec, track ? ".eac3" : ".aac"));
        ExpectPictures(rec, source, output);
        ExpectInStep(source, output, track ? 0.032 : 0.0214);
    }
}

// A cut of more than half the picture order count's range: without the
// CRA picture after it turned into a BLA picture, a decoder would take the
// pictures after the splice for older ones. The LATM sound becomes ADTS
// frames identical to those of the same sound sent as ADTS.
TEST_F(HdExportTest, HevcWithALongCutAndLatmSound) {
    const std::string adts = hdmedia::HevcWithNoise();
    const std::string latm = hdmedia::HevcWithLatm();
    // (A cut area in the first 256 KiB would take the recording's start.)
    EXPECT_EQ(Export(latm, {{2.7, 3.5}, {4.0, 10.0}}), JobResult::Done) << Lines();
    for (const char* ext : {".hevc", ".aac", ".mp2"}) EXPECT_EQ(DecodeErrors(Out(latm, ext)), "") << ext;
    for (int track : {0, 1}) {
        SCOPED_TRACE(track);
        const meter::Streams source = meter::ReadProgram(adts, track);
        const meter::Streams output =
            meter::ReadElementary(Out(latm, ".hevc"), Out(latm, track ? ".mp2" : ".aac"));
        ExpectPictures(latm, source, output);
        ExpectInStep(source, output, track ? 0.024 : 0.0214);
    }
}

// Damage costs what it destroys and no more: a lost video packet the
// pictures from it up to the next random-access point (from the last I or P
// picture before it when it hit a B picture), lost sound its own frames,
// which silence stands in for; the sound stays in step throughout.
TEST_F(HdExportTest, DamageCostsWhatItDestroysAndTheSoundStaysInStep) {
    const std::string rec = hdmedia::H264WithNoise();
    damage::Bytes bytes = ReadFileBytes(rec);
    const std::int64_t first = FirstPts(bytes, 0x100);
    bytes = damage::RemovePacketInPes(bytes, 0x100, first + 3 * kSecond, 4);
    bytes = damage::RemovePesStarts(bytes, 0x101, first + 5 * kSecond, first + 5 * kSecond + 12000);
    bytes = damage::RemovePesStarts(bytes, 0x102, first + 6 * kSecond, first + 6 * kSecond + 3000);
    WriteFileBytes(m_dir.File("damaged.ts"), bytes);
    const std::string damaged = m_dir.File("damaged.ts");
    EXPECT_EQ(Export(damaged, {}), JobResult::DoneWithWarnings) << Lines();
    EXPECT_TRUE(Logged("Damaged picture")) << Lines();
    EXPECT_TRUE(Logged("Padding with 'silence'")) << Lines();
    for (const char* ext : {".h264", ".aac", ".eac3"}) EXPECT_EQ(DecodeErrors(Out(damaged, ext)), "") << ext;
    for (int track : {0, 1}) {
        SCOPED_TRACE(track);
        const double frame = track ? 0.032 : 0.0214;
        const meter::Streams source = meter::ReadProgram(rec, track);
        const meter::Streams output =
            meter::ReadElementary(Out(damaged, ".h264"), Out(damaged, track ? ".eac3" : ".aac"));
        const meter::SyncReport report = meter::Measure(source, output);
        SCOPED_TRACE(report.Summary());
        EXPECT_EQ(report.foreignPictures, 0);
        // One group of pictures at the most, and its leading pictures, from
        // just before the damage; the last pictures as ever.
        EXPECT_LE(report.LostBetween(2.5, 4.0), 24 + 3);
        EXPECT_EQ(report.LostBetween(0, 2.5) + report.LostBetween(4.0, 7.5), 0);
        const int silent = report.outputAudio - report.matchedAudio;
        EXPECT_GE(silent, 1);
        EXPECT_LE(silent, 12);
        EXPECT_LE(std::abs(report.WorstError()), frame / 2 + 0.001);
    }
}

}  // namespace
}  // namespace jobs
