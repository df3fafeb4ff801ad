// The parts of an H.264/HEVC splice one by one: slice headers renumbered in
// place (and refused where the new bits would need other emulation
// prevention), the shift a splice puts in force, the renumbering of slices
// whose headers run across packets and blocks, packets written anew with
// parameter sets, sound kept or dropped by time stamps, the stretches a run
// goes through, and the journal that holds all of it.

#include <gtest/gtest.h>

#include <map>

#include "codec/bit_writer.h"
#include "codec/h264_slice_header.h"
#include "codec/h264_slice_renumber.h"
#include "demux/raw_file.h"
#include "engine/cut_journal.h"
#include "engine/h264_renumberer.h"
#include "engine/rule_stretches.h"
#include "engine/splice_packets.h"
#include "engine/unit_filter.h"
#include "engine/unit_rule_planner.h"
#include "platform/file.h"
#include "support/temp_dir.h"

namespace {

using namespace codec::h264;
using Bytes = std::vector<std::uint8_t>;

// A slice NAL unit (header byte first) of an interlaced stream: 4-bit
// frame_num, a field flag, 6-bit pic_order_cnt_lsb, then some slice data.
Bytes slice(int frameNum, int pocLsb, bool idr = false, int firstMb = 0) {
    BitWriter w;
    w.Byte(idr ? 0x65 : 0x41);
    w.Ue(static_cast<std::uint32_t>(firstMb)).Ue(5).Ue(0);  // first_mb, slice_type P, pps 0
    w.Bits(static_cast<std::uint64_t>(frameNum), 4).Flag(false);
    if (idr) w.Ue(1);  // idr_pic_id
    w.Bits(static_cast<std::uint64_t>(pocLsb), 6);
    for (int i = 0; i < 6; ++i) w.Byte(static_cast<std::uint8_t>(0x5A + i));
    w.Trailing();
    return w.Escaped();
}

SliceNumbering interlaced() {
    SliceNumbering n;
    n.log2MaxFrameNum = 4;
    n.frameMbsOnly = false;
    n.pocType = 0;
    n.log2MaxPocLsb = 6;
    return n;
}

SliceHeader parse(const Bytes& nal) {
    Sps sps;
    sps.log2MaxFrameNum = 4;
    sps.frameMbsOnly = false;
    sps.log2MaxPocLsb = 6;
    std::map<int, Sps> spsById{{0, sps}};
    std::map<int, Pps> ppsById{{0, Pps{}}};
    SliceHeader header;
    EXPECT_EQ(ParseSliceHeader(nal.data(), nal.size(), ppsById, spsById, header),
              codec::ParseResult::Ok);
    return header;
}

}  // namespace

TEST(SliceRenumberTest, FieldsChangeInPlaceAndWrapOtherSlicesAreLeftAlone) {
    Bytes nal = slice(14, 60, false, 37);
    const std::size_t size = nal.size();
    ASSERT_EQ(RenumberSlice(nal.data(), nal.size(), interlaced(), 3, 10), RenumberResult::Renumbered);
    EXPECT_EQ(nal.size(), size);
    const SliceHeader header = parse(nal);
    EXPECT_EQ(header.frameNum, 1);  // (14 + 3) mod 16
    EXPECT_EQ(header.pocLsb, 6);    // (60 + 10) mod 64
    EXPECT_EQ(header.firstMb, 37);
    // The slice data after the header is untouched.
    EXPECT_TRUE(std::equal(nal.end() - 5, nal.end(), slice(14, 60, false, 37).end() - 5));

    Bytes idr = slice(0, 0, true);
    const Bytes before = idr;
    EXPECT_EQ(RenumberSlice(idr.data(), idr.size(), interlaced(), 3, 10), RenumberResult::Idr);
    EXPECT_EQ(idr, before);
    Bytes sps = {0x67, 0x64, 0x00, 0x28};
    EXPECT_EQ(RenumberSlice(sps.data(), sps.size(), interlaced(), 3, 10), RenumberResult::NotASlice);
    Bytes cut = {0x41, 0x88};  // the header ends before frame_num
    EXPECT_EQ(RenumberSlice(cut.data(), cut.size(), interlaced(), 3, 10), RenumberResult::Broken);
}

TEST(SliceRenumberTest, NewBitsThatWouldNeedOtherEmulationPreventionAreRefused) {
    // 16-bit fields in a frame stream: frame_num 0x0100 and lsb 0x0080 made
    // zero would write 00 00 00 into the NAL unit.
    SliceNumbering wide;
    wide.log2MaxFrameNum = 16;
    wide.log2MaxPocLsb = 16;
    BitWriter w;
    w.Byte(0x01).Ue(0).Ue(0).Ue(0).Bits(0x0100, 16).Bits(0x0080, 16).Flag(true).Trailing();
    Bytes nal = w.Escaped();
    const Bytes before = nal;
    EXPECT_EQ(RenumberSlice(nal.data(), nal.size(), wide, -0x0100, -0x0080),
              RenumberResult::Emulation);
    EXPECT_EQ(nal, before);
    // A prevention byte the old bits needed would be read as data once they
    // are no longer zero.
    BitWriter z;
    z.Byte(0x01).Ue(0).Ue(0).Ue(0).Bits(0, 16).Bits(0, 16).Bits(1, 8).Trailing();
    Bytes escaped = z.Escaped();
    ASSERT_NE(escaped.size(), z.Raw().size());
    const Bytes original = escaped;
    EXPECT_EQ(RenumberSlice(escaped.data(), escaped.size(), wide, 0x4141, 0x4141),
              RenumberResult::Emulation);
    EXPECT_EQ(escaped, original);
}

TEST(RenumberStateTest, ASpliceContinuesTheNumberingInForceBeforeIt) {
    VideoSplice splice;
    splice.numbering = interlaced();
    splice.previousFrameNum = 5;
    splice.previousPocLsb = 20;
    splice.pocGap = 6;
    splice.frameNum = 12;
    splice.pocLsb = 40;
    RenumberState state;
    state.prefix = 2;
    state.Enter(splice);
    EXPECT_TRUE(state.active);
    EXPECT_EQ(state.frameNumDelta, 10);  // 12 becomes 6: the previous one's next
    EXPECT_EQ(state.pocLsbDelta, 50);    // 40 becomes 26: six past the previous one
    EXPECT_EQ(state.prefix, 0);

    // A second splice whose pictures before it were renumbered by the first.
    VideoSplice second = splice;
    second.previousFrameNum = 15;  // written as (15 + 10) mod 16 = 9
    second.previousPocLsb = 60;    // written as (60 + 50) mod 64 = 46
    second.frameNum = 3;
    second.pocLsb = 2;
    state.Enter(second);
    EXPECT_EQ(state.frameNumDelta, 7);   // 3 becomes 10
    EXPECT_EQ(state.pocLsbDelta, 50);    // 2 becomes 52 = 46 + 6

    second.idr = true;
    state.Enter(second);
    EXPECT_FALSE(state.active);
    // Numbers that already follow on need no renumbering.
    VideoSplice following = splice;
    following.frameNum = 6;
    following.pocLsb = 26;
    state.Enter(following);
    EXPECT_FALSE(state.active);
}

namespace {

// Video packets of a buffer, each holding `sizes[i]` bytes of the stream.
struct PacketBuffer {
    Bytes bytes;
    std::vector<CH264Renumberer::Packet> packets;
};
PacketBuffer packetize(const Bytes& es, const std::vector<std::size_t>& sizes, std::uint64_t origin) {
    PacketBuffer b;
    std::size_t at = 0;
    for (std::size_t size : sizes) {
        CH264Renumberer::Packet p;
        p.packetAt = b.bytes.size();
        p.origin = origin + p.packetAt;
        b.bytes.insert(b.bytes.end(), 4, 0xEE);  // a stand-in for the packet header
        p.payloadFrom = b.bytes.size();
        b.bytes.insert(b.bytes.end(), es.begin() + static_cast<long>(at),
                       es.begin() + static_cast<long>(at + size));
        p.payloadTo = b.bytes.size();
        b.packets.push_back(p);
        at += size;
    }
    return b;
}
Bytes payloads(const PacketBuffer& b) {
    Bytes out;
    for (const auto& p : b.packets)
        out.insert(out.end(), b.bytes.begin() + static_cast<long>(p.payloadFrom),
                   b.bytes.begin() + static_cast<long>(p.payloadTo));
    return out;
}
Bytes withStartCode(const Bytes& nal) {
    Bytes out = {0, 0, 0, 1};
    out.insert(out.end(), nal.begin(), nal.end());
    return out;
}

}  // namespace

TEST(H264RenumbererTest, HeadersAcrossPacketsAndBlocksAreRenumberedUntilAnIdrPicture) {
    // Three slices, then an IDR slice and one after it.
    const Bytes first = slice(2, 10), second = slice(3, 14), third = slice(4, 18);
    Bytes es;
    for (const Bytes& nal : {first, second, third, slice(0, 0, true), slice(1, 4)}) {
        const Bytes coded = withStartCode(nal);
        es.insert(es.end(), coded.begin(), coded.end());
    }
    Bytes expected = es;  // what the slices should read once renumbered
    {
        const std::uint8_t prefix[] = {0, 0, 1};
        std::size_t at = 0;
        for (int i = 0; i < 3; ++i) {
            at = static_cast<std::size_t>(std::search(expected.begin() + static_cast<long>(at),
                                                      expected.end(), prefix, prefix + 3) -
                                          expected.begin()) +
                 3;
            ASSERT_EQ(RenumberSlice(expected.data() + at, expected.size() - at, interlaced(), 5, 20),
                      RenumberResult::Renumbered);
        }
    }
    // The first block ends two bytes into the second slice's header (its
    // start code split across two packets); the second block holds the rest.
    const std::size_t secondAt = withStartCode(first).size();
    const std::size_t blockEnd = secondAt + 4 + 2;
    const std::vector<std::size_t> firstSizes = {secondAt + 2, 2 + 2};
    const std::vector<std::size_t> secondSizes = {7, es.size() - blockEnd - 7};
    PacketBuffer one = packetize(Bytes(es.begin(), es.begin() + static_cast<long>(blockEnd)), firstSizes, 1000);
    const std::uint64_t secondOrigin = 1000 + one.bytes.size() + 100;  // a packet of another PID between
    PacketBuffer two = packetize(Bytes(es.begin() + static_cast<long>(blockEnd), es.end()), secondSizes, secondOrigin);

    RenumberState state;
    state.active = true;
    state.frameNumDelta = 5;
    state.pocLsbDelta = 20;
    state.numbering = interlaced();
    std::vector<PendingByte> pending;
    CH264Renumberer renumberer(state, pending);
    // The second slice's header goes on in the next block: read from there.
    auto lookAhead = [&](std::uint8_t* bytes, std::uint64_t* positions, std::size_t count) {
        std::size_t n = 0;
        for (const auto& p : two.packets)
            for (std::size_t i = p.payloadFrom; i < p.payloadTo && n < count; ++i, ++n) {
                bytes[n] = two.bytes[i];
                positions[n] = p.origin + (i - p.packetAt);
            }
        return n;
    };
    EXPECT_TRUE(renumberer.Process(one.bytes.data(), one.packets, lookAhead));
    EXPECT_FALSE(pending.empty());
    EXPECT_TRUE(state.active);
    EXPECT_TRUE(renumberer.Process(two.bytes.data(), two.packets, {}));
    EXPECT_TRUE(pending.empty());
    EXPECT_FALSE(state.active) << "the IDR slice ends the renumbering";
    EXPECT_EQ(renumberer.Failures(), 0);
    Bytes out = payloads(one);
    const Bytes rest = payloads(two);
    out.insert(out.end(), rest.begin(), rest.end());
    EXPECT_EQ(out, expected);
}

TEST(SplicePacketsTest, RepackedPacketsKeepHeaderFieldsAndTheirCountersLeadOn) {
    // A 192-byte packet: prefix, PUSI, an adaptation field with a PCR and
    // stuffing, a PES header that states its length, then video.
    Bytes raw(192, 0);
    raw[0] = 0x12, raw[1] = 0x34, raw[2] = 0x56, raw[3] = 0x78;
    std::uint8_t* ts = raw.data() + 4;
    ts[0] = 0x47, ts[1] = 0x41, ts[2] = 0x00, ts[3] = 0x35;  // PID 0x100, AF + payload, CC 5
    ts[4] = 20;                                          // adaptation_field_length
    ts[5] = 0x50;                                        // random_access + PCR
    for (int i = 0; i < 6; ++i) ts[6 + i] = static_cast<std::uint8_t>(0x10 + i);
    std::fill(ts + 12, ts + 25, 0xFF);
    const std::size_t pes = 25;
    const Bytes header = {0, 0, 1, 0xE0, 0x01, 0x00, 0x80, 0x80, 0x05, 0x21, 0, 1, 0, 1};
    std::copy(header.begin(), header.end(), ts + pes);
    const std::size_t videoAt = 4 + pes + header.size();
    Bytes video(300);
    for (std::size_t i = 0; i < video.size(); ++i) video[i] = static_cast<std::uint8_t>(i * 7 + 1);

    const Bytes out = CSplicePackets(192).Repack(raw.data(), videoAt, video, true);
    ASSERT_EQ(out.size(), 2u * 192);
    Bytes carried;
    for (int i = 0; i < 2; ++i) {
        const std::uint8_t* p = out.data() + i * 192;
        EXPECT_TRUE(std::equal(raw.begin(), raw.begin() + 4, p)) << "prefix of packet " << i;
        const std::uint8_t* t = p + 4;
        EXPECT_EQ(t[0], 0x47);
        EXPECT_EQ((t[1] & 0x40) != 0, i == 0) << "unit start only on the first";
        EXPECT_EQ(((t[1] & 0x1F) << 8) | t[2], 0x100);
        EXPECT_EQ(t[3] & 0x0F, i == 0 ? 4 : 5) << "the counters end with the old packet's";
        std::size_t payload = 4;
        if (t[3] & 0x20) payload += 1 + t[4];
        if (i == 0) {
            EXPECT_EQ(t[5], 0x50 | 0x80) << "the PCR marks the new time base";
            EXPECT_TRUE(std::equal(ts + 6, ts + 12, t + 6)) << "the PCR stays";
            EXPECT_TRUE(std::equal(header.begin(), header.begin() + 4, t + payload));
            const int stated = (t[payload + 4] << 8) | t[payload + 5];
            const int old = 0x0100;
            EXPECT_EQ(stated, old + static_cast<int>(video.size()) - static_cast<int>(188 - (pes + header.size())));
            payload += header.size();
        }
        carried.insert(carried.end(), t + payload, t + 188);
    }
    EXPECT_EQ(carried, video);
}

TEST(UnitRulePlannerTest, SoundPacketsFollowTheirTimeStampsAcrossASplice) {
    constexpr std::uint16_t kA = 0x101, kB = 0x102, kText = 0x103, kC = 0x104;
    SpliceTimes splice;
    splice.from = 100000;
    splice.to = 500000;
    splice.hasCut = true;
    splice.cut = 900000;  // the first picture left out
    splice.hasResume = true;
    splice.resume = 1800000;  // the first picture shown after it
    auto sound = [](std::uint16_t pid, std::uint64_t position, std::int64_t pts, bool stamped = true) {
        return SeenUnitStart{pid, position, stamped, pts, 800000, true};
    };
    const std::vector<SeenUnitStart> starts = {
        // Starts before the cut and runs on into the area: it stays whole.
        sound(kA, 60000, 880000),
        // Plays after the cut, inside the area; the one without a stamp
        // goes with it.
        sound(kA, 110000, 930000), sound(kA, 120000, 0, false),
        // Inside the area, but plays on into the pictures after it: stays.
        sound(kA, 470000, 1770000),
        sound(kA, 520000, 1810000), sound(kA, 540000, 1850000),
        // Before the area, but plays after the cut: goes.
        sound(kB, 95000, 905000),
        // Runs out of the area and ends before the pictures after it: goes,
        // and so does the next, which ends there too.
        sound(kB, 480000, 1700000), sound(kB, 530000, 1730000),
        // Teletext before the pictures after the area: goes.
        {kText, 510000, true, 1750000, 800000, false},
        // The last one read lasts as long as the one before it, and so
        // plays on into the pictures after the area: stays.
        sound(kC, 490000, 1750000), sound(kC, 495000, 1776000),
    };
    // Listed twice, as two stretches read around the splice would see them.
    std::vector<SeenUnitStart> twice = starts;
    twice.insert(twice.end(), starts.begin(), starts.end());
    const std::vector<UnitRule> rules = PlanUnitRules(twice, {splice}, 200000);
    const std::vector<UnitRule> expected = {
        {95000, 100000, kB, UnitRule::Drop, {}},     {100000, 110000, kA, UnitRule::Keep, {}},
        {470000, 500000, kA, UnitRule::Keep, {}},    {495000, 500000, kC, UnitRule::Keep, {}},
        {500000, 530000, kB, UnitRule::Drop, {}},
        {510000, 800000, kText, UnitRule::Drop, {}}, {530000, 800000, kB, UnitRule::Drop, {}},
    };
    EXPECT_EQ(rules, expected);
}

TEST(RuleStretchesTest, AreasAreSkippedWholeWhereNoRuleNamesTheirPackets) {
    CutDrop area;
    area.from = 1000;
    area.to = 9000;
    CutDrop last;
    last.from = 20000;
    last.to = 30000;
    last.reachesEnd = true;
    const std::vector<UnitRule> rules = {
        {800, 1200, 0x101, UnitRule::Keep, {}},   // across the first area's start
        {8000, 9000, 0x101, UnitRule::Keep, {}},  // its end
        {9000, 9188, 0x100, UnitRule::Replace, {}},
        {9100, 9500, 0x101, UnitRule::Drop, {}},
        {20500, 21000, 0x101, UnitRule::Keep, {}},
    };
    const std::vector<CutDrop> drops = BuildStretches({area, last}, rules);
    struct Piece {
        std::uint64_t from, to;
        CutDrop::Kind kind;
        bool keep, end;
    };
    const std::vector<Piece> expected = {
        {800, 1000, CutDrop::Units, true, false},     {1000, 1200, CutDrop::Units, false, false},
        {1200, 8000, CutDrop::Area, true, false},     {8000, 9000, CutDrop::Units, false, false},
        {9000, 9500, CutDrop::Units, true, false},    {20000, 20500, CutDrop::Area, true, false},
        {20500, 21000, CutDrop::Units, false, false}, {21000, 30000, CutDrop::LeadingArea, true, true},
    };
    ASSERT_EQ(drops.size(), expected.size());
    for (std::size_t i = 0; i < drops.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(drops[i].from, expected[i].from);
        EXPECT_EQ(drops[i].to, expected[i].to);
        EXPECT_EQ(drops[i].kind, expected[i].kind);
        if (drops[i].kind == CutDrop::Units) {
            EXPECT_EQ(drops[i].keepByDefault, expected[i].keep);
        }
        EXPECT_EQ(drops[i].reachesEnd, expected[i].end);
    }
}

namespace {

// A journal of the first layout, written as a run of an earlier version
// left it: its header with one drop, and one state slot.
void writeFirstVersionJournal(const std::string& path, std::uint64_t length) {
    Bytes out;
    auto put = [&out](std::uint64_t value, int size) {
        for (int i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    auto seal = [&out, &put](std::size_t from) {
        std::uint64_t hash = 0xcbf29ce484222325ull;
        for (std::size_t i = from; i < out.size(); ++i) {
            hash ^= out[i];
            hash *= 0x100000001b3ull;
        }
        put(hash, 8);
    };
    put(0x4A435652, 4), put(1, 4), put(length, 8);       // magic, version, length
    put(188, 8), put(0, 1), put(188, 4), put(0, 1);     // header, hard cut, stride, first packet
    put(188, 4), put(0, 4), put(0x100, 2), put(0, 4);   // packet size, sync, video, no sound
    put(1, 4), put(1880, 8), put(3760, 8), put(0, 1), put(0, 1), put(0, 1);  // one drop
    put(0, 4);                                          // no areas
    seal(0);
    out.resize(4096, 0);
    const std::size_t slot = out.size() + 4096;  // sequence 1 goes to the second slot
    out.resize(slot, 0);
    put(0x544F4C53, 4), put(1, 8);                      // magic, sequence
    put(3760, 8), put(1880, 8), put(1, 4), put(0, 1);   // read, write, next drop, phase
    put(0, 8), put(0, 8), put(1, 1), put(0, 4);         // phase end, resume, PCR marked, pids
    seal(slot);
    WriteFileBytes(path, std::vector<unsigned char>(out.begin(), out.end()));
}

}  // namespace

TEST(CutJournalTest, RulesSplicesAndRenumberingSurviveAndEarlierJournalsAreStillRead) {
    TempDir dir;
    const std::string path = dir.File("film.ts");
    WriteFileBytes(path, std::vector<unsigned char>(188 * 40, 0x47));
    CRawFile recording;
    platform::FileError error;
    ASSERT_TRUE(recording.Open(path, platform::modeReadWrite, &error));

    CutJournalPlan plan;
    plan.length = recording.GetLength();
    plan.byRules = true;
    CutDrop units;
    units.from = 1880;
    units.to = 3760;
    units.kind = CutDrop::Units;
    units.keepByDefault = false;
    plan.drops = {units};
    plan.rules = {{1880, 2068, 0x100, UnitRule::Replace, Bytes(376, 0x47)},
                  {2068, 3000, 0x101, UnitRule::Keep, {}}};
    VideoSplice splice;
    splice.at = 3760;
    splice.numbering = interlaced();
    splice.previousFrameNum = 7;
    splice.pocGap = 4;
    plan.splices = {splice};
    MoverState state;
    state.read = 2256;
    state.write = 1880;
    state.nextDrop = 1;
    state.phase = MoverState::Units;
    state.phaseEnd = 3760;
    state.nextSplice = 1;
    state.renumber.active = true;
    state.renumber.frameNumDelta = 3;
    state.renumber.numbering = interlaced();
    state.renumber.prefix = 2;
    state.pending = {{2300, 0x42}, {2301, 0x43}};
    auto journal = CCutJournal::Create(recording, plan, state);
    CutJournalRecord record;
    ASSERT_EQ(CCutJournal::Read(recording, &record, nullptr), CCutJournal::Found::Record);
    EXPECT_EQ(record.state, state);
    EXPECT_TRUE(record.plan.byRules);
    EXPECT_EQ(record.plan.rules, plan.rules);
    EXPECT_EQ(record.plan.splices, plan.splices);
    ASSERT_EQ(record.plan.drops.size(), 1u);
    EXPECT_FALSE(record.plan.drops[0].keepByDefault);
    journal->Remove();

    // A journal an earlier version left is finished in its own layout.
    writeFirstVersionJournal(CCutJournal::PathFor(path), recording.GetLength());
    ASSERT_EQ(CCutJournal::Read(recording, &record, nullptr), CCutJournal::Found::Record);
    EXPECT_EQ(record.version, 1u);
    EXPECT_EQ(record.state.read, 3760u);
    ASSERT_EQ(record.plan.drops.size(), 1u);
    EXPECT_EQ(record.plan.drops[0].from, 1880u);
    auto resumed = CCutJournal::Resume(recording, record);
    MoverState later = record.state;
    later.read = 5640;
    later.write = 3760;
    resumed->Commit(later);
    CutJournalRecord after;
    ASSERT_EQ(CCutJournal::Read(recording, &after, nullptr), CCutJournal::Found::Record);
    EXPECT_EQ(after.state.read, 5640u);
    EXPECT_EQ(after.version, 1u);
    resumed->Remove();
}
