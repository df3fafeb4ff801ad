// The splice preview of H.264 and HEVC recordings: the two pictures must be
// the ones ffmpeg decodes with the stamps the copy joins (the last picture
// shown before the random-access picture the cut starts at, and the
// random-access picture it resumes with, its leading pictures left out).
#include <QLabel>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/qt/splice_finder.h"
#include "app/qt/time_text.h"
#include "support/hd_media.h"
#include "view_fixture.h"

namespace {

struct Recording {
    const char* name;
    std::string (*make)();
    // The leading pictures of a random-access picture refer to nothing
    // before it (HEVC RADL): the copy keeps them after a splice.
    bool leadingKept = false;
};

// 640x360 HEVC, 12 s: IDR pictures with two RADL pictures behind them.
std::string HevcWithRadl() {
    return hdmedia::Made("hevc-radl",
                         "ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -t 12 "
                         "-c:v libx265 -preset ultrafast -x265-params "
                         "keyint=24:min-keyint=24:open-gop=0:bframes=3:radl=2:log-level=error "
                         "-f mpegts OUT");
}

class HdSplicePreviewTest : public ViewTest, public ::testing::WithParamInterface<Recording> {
  protected:
    void SetUp() override {
        ViewTest::SetUp();
        m_recording = GetParam().make();
        m_packets = hdmedia::VideoPackets(m_recording);
        for (const hdmedia::Packet& packet : m_packets)
            if (packet.key) m_keys.push_back(packet);
        // An area that starts in the first 256 KiB is cut from the start.
        while (static_cast<std::size_t>(m_mid) < m_keys.size() && m_keys[static_cast<std::size_t>(m_mid)].pos < 2 * 262144)
            ++m_mid;
        ASSERT_LT(static_cast<std::size_t>(m_mid) + 3, m_keys.size());
        Open(m_recording);
    }

    // An area that starts a little before random-access packet `from` and
    // ends a little before `to` (indexes into m_keys; -1: the recording's end).
    CCutArea AreaBefore(int from, int to) const {
        CCutArea area;
        area.IsEnabled = true;
        area.SectorStart = from < 0 ? 0 : ByteBefore(m_keys[static_cast<std::size_t>(from)]) / 512;
        area.SectorEnd = to < 0 ? std::filesystem::file_size(m_recording) / 512 + 1
                                : ByteBefore(m_keys[static_cast<std::size_t>(to)]) / 512;
        return area;
    }
    static std::uint64_t ByteBefore(const hdmedia::Packet& key) {
        return static_cast<std::uint64_t>(key.pos) - 20000;
    }
    // The stamp of the last picture shown of those sent before `position`.
    std::int64_t LastShownBefore(std::int64_t position) const {
        std::int64_t last = -1;
        for (const hdmedia::Packet& packet : m_packets)
            if (packet.pos < position) last = std::max(last, packet.pts);
        return last;
    }
    const hdmedia::Packet& Key(int index) const { return m_keys[static_cast<std::size_t>(index)]; }
    // The stamp of the first picture shown when decoding resumes at key
    // `index`: the key's own, or that of a kept leading picture.
    std::int64_t FirstShownFrom(int index) const {
        std::int64_t first = Key(index).pts;
        if (!GetParam().leadingKept) return first;
        for (const hdmedia::Packet& packet : m_packets)
            if (packet.pos > Key(index).pos && packet.pos < Key(index + 1).pos)
                first = std::min(first, packet.pts);
        return first;
    }
    SplicePreview Find(const CCutArea& area) { return CSpliceFinder(m_doc->Model()).Find(area); }

    // The picture equals ffmpeg's decode of the picture with this stamp.
    void ExpectPicture(const SplicePicture& side, std::int64_t pts) {
        ASSERT_EQ(side.state, SplicePicture::State::Picture);
        ASSERT_TRUE(side.hasStamp);
        EXPECT_EQ(side.stamp, pts);
        const mpegsnap::DecodedFrame& frame = side.frame;
        ASSERT_EQ(frame.chromaFormat, 1);
        std::vector<unsigned char> planes(frame.y.begin(), frame.y.end());
        planes.insert(planes.end(), frame.cb.begin(), frame.cb.end());
        planes.insert(planes.end(), frame.cr.begin(), frame.cr.end());
        const std::vector<unsigned char> expected = hdmedia::FfmpegPicture(m_recording, pts);
        ASSERT_FALSE(expected.empty()) << "no picture with stamp " << pts;
        for (double psnr : hdmedia::PlanePsnr(planes, expected, frame.width, frame.height))
            EXPECT_GT(psnr, 60.0) << "stamp " << pts;
    }

    std::string m_recording;
    std::vector<hdmedia::Packet> m_packets;
    std::vector<hdmedia::Packet> m_keys;
    int m_mid = 0;  // the first key well into the recording
};

TEST_P(HdSplicePreviewTest, AnAreaInTheMiddleShowsThePicturesTheCopyJoins) {
    const hdmedia::Packet& start = Key(m_mid);
    const hdmedia::Packet& resume = Key(m_mid + 2);
    if (GetParam().leadingKept) {
        ASSERT_LT(FirstShownFrom(m_mid + 2), resume.pts) << "no leading pictures";
    }
    const SplicePreview preview = Find(AreaBefore(m_mid, m_mid + 2));
    ASSERT_EQ(preview.outcome, SplicePreview::Outcome::Cut);
    EXPECT_EQ(preview.keptEnd, static_cast<std::uint64_t>(start.pos));
    EXPECT_EQ(preview.resume, static_cast<std::uint64_t>(resume.pos));
    // The leading pictures of the random-access picture at the cut start
    // are cut with it: the last shown is one of the GOP before.
    const std::int64_t before = LastShownBefore(start.pos);
    ASSERT_LT(before, start.pts);
    ExpectPicture(preview.before, before);
    // Those of the picture it resumes with are left out (it is shown
    // first), unless they refer to nothing before it.
    ExpectPicture(preview.after, FirstShownFrom(m_mid + 2));
    EXPECT_EQ(preview.before.aspectCode, 3);  // 16:9 pictures of square samples
    EXPECT_EQ(preview.after.aspectCode, 3);

    // The pane shows them with their times.
    m_doc->Model().m_cutList = {AreaBefore(m_mid, m_mid + 2)};
    m_view->FillCutListBox();
    Ctl<QListWidget>(m_view.get(), CRaveloView::kCutList)->setCurrentRow(0);
    QTest::qWait(400);
    const std::int64_t first = m_doc->Model().m_firstPTS;
    EXPECT_FALSE(m_view->SpliceBefore()->IsEmpty());
    EXPECT_FALSE(m_view->SpliceAfter()->IsEmpty());
    EXPECT_EQ(m_view->findChild<QLabel*>("spliceBeforeText")->text().toStdString(),
              "Last kept\n" + StampText(before, first));
    EXPECT_EQ(m_view->findChild<QLabel*>("spliceAfterText")->text().toStdString(),
              "First kept\n" + StampText(FirstShownFrom(m_mid + 2), first));
}

TEST_P(HdSplicePreviewTest, AnAreaFromTheStartOrToTheEndHasOnlyOneSide) {
    SplicePreview preview = Find(AreaBefore(-1, m_mid));
    ASSERT_EQ(preview.outcome, SplicePreview::Outcome::Cut);
    EXPECT_EQ(preview.before.state, SplicePicture::State::RecordingStart);
    ExpectPicture(preview.after, FirstShownFrom(m_mid));

    preview = Find(AreaBefore(m_mid + 1, -1));
    ASSERT_EQ(preview.outcome, SplicePreview::Outcome::Cut);
    ExpectPicture(preview.before, LastShownBefore(Key(m_mid + 1).pos));
    EXPECT_EQ(preview.after.state, SplicePicture::State::RecordingEnd);
}

INSTANTIATE_TEST_SUITE_P(Codecs, HdSplicePreviewTest,
                         ::testing::Values(Recording{"H264", hdmedia::H264WithNoise},
                                           Recording{"Hevc", hdmedia::HevcWithNoise},
                                           Recording{"HevcRadl", HevcWithRadl, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Damage before the cut start: no picture to show there, and no crash; the
// other side is still found.
TEST_F(ViewTest, HdSplicePreviewOnDamagedDataFindsNoPictureThere) {
    std::vector<hdmedia::Packet> keys;
    for (const hdmedia::Packet& packet : hdmedia::VideoPackets(hdmedia::H264WithNoise()))
        if (packet.key) keys.push_back(packet);
    ASSERT_GE(keys.size(), 8u);
    const std::string damaged = m_dir.File("damaged.ts");
    std::filesystem::copy_file(hdmedia::H264WithNoise(), damaged);
    {
        // Noise from the second random-access picture up to the seventh:
        // more than the stretch read back from a cut start.
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        std::mt19937 random(7);
        file.seekp(keys[1].pos);
        for (std::int64_t at = keys[1].pos; at < keys[6].pos; ++at)
            file.put(static_cast<char>(random() & 0xFF));
    }
    Open(damaged);
    CCutArea area;
    area.IsEnabled = true;
    area.SectorStart = static_cast<std::uint64_t>(keys[6].pos - 20000) / 512;
    area.SectorEnd = static_cast<std::uint64_t>(keys[7].pos - 20000) / 512;
    const SplicePreview preview = CSpliceFinder(m_doc->Model()).Find(area);
    ASSERT_EQ(preview.outcome, SplicePreview::Outcome::Cut);
    EXPECT_EQ(preview.before.state, SplicePicture::State::NotFound);
    EXPECT_EQ(preview.after.state, SplicePicture::State::Picture);
    EXPECT_EQ(preview.after.stamp, keys[7].pts);
}

}  // namespace
