#include "engine/cut_journal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/recording_model.h"
#include "demux/raw_file.h"
#include "shell/text.h"

namespace {

constexpr std::uint32_t kHeaderMagic = 0x4A435652;  // "RVCJ"
constexpr std::uint32_t kSlotMagic = 0x544F4C53;    // "SLOT"
constexpr std::uint32_t kStageMagic = 0x4F444552;   // "REDO"
// Version 1 knew only the MPEG-2 cuts; its journals are still finished.
constexpr std::uint32_t kVersion = 2;
constexpr std::uint32_t kFirstVersion = 1;
constexpr std::uint64_t kSlotSize = 4096;
// A journal is a few KiB plus at most one staged block; anything far larger
// is not ours.
constexpr std::uint64_t kMaxJournalSize = 64 << 20;
constexpr std::size_t kMaxPids = 8192;
// A replacement is a few packets: the parameter sets of a picture.
constexpr std::size_t kMaxReplacement = 1 << 16;
constexpr std::size_t kMaxPending = 256;

// FNV-1a: enough to tell a torn or foreign record from a whole one.
std::uint64_t checksum(const std::uint8_t* data, std::size_t size) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

class Writer {
  public:
    template <typename T>
    void put(T value) {
        for (std::size_t i = 0; i < sizeof(T); ++i)
            m_bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i)));
    }
    void bytes(const std::uint8_t* data, std::size_t size) { m_bytes.insert(m_bytes.end(), data, data + size); }
    // Appends the checksum of everything written so far.
    std::vector<std::uint8_t> sealed() {
        put(checksum(m_bytes.data(), m_bytes.size()));
        return std::move(m_bytes);
    }

  private:
    std::vector<std::uint8_t> m_bytes;
};

// Reads fields in order; a read past the end sets the sticky error and
// yields 0, so a damaged journal is checked once at the end.
class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    template <typename T>
    T get() {
        if (m_bad || m_size - m_at < sizeof(T)) {
            m_bad = true;
            return T{};
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            value |= static_cast<std::uint64_t>(m_data[m_at + i]) << (8 * i);
        m_at += sizeof(T);
        return static_cast<T>(value);
    }
    const std::uint8_t* take(std::size_t size) {
        if (m_bad || m_size - m_at < size) {
            m_bad = true;
            return nullptr;
        }
        m_at += size;
        return m_data + m_at - size;
    }
    // A count of items of itemSize bytes each that the rest can hold.
    std::size_t count(std::size_t itemSize, std::size_t limit) {
        const auto n = get<std::uint32_t>();
        if (n > limit || n > (m_size - std::min(m_at, m_size)) / itemSize) m_bad = true;
        return m_bad ? 0 : n;
    }
    // The checksum over everything read so far follows.
    bool sealed() {
        const std::uint64_t expected = checksum(m_data, m_at);
        return get<std::uint64_t>() == expected && !m_bad;
    }
    void fail() { m_bad = true; }
    bool bad() const { return m_bad; }
    std::size_t at() const { return m_at; }

  private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    bool m_bad = false;
};

void putNumbering(Writer& out, const codec::h264::SliceNumbering& n) {
    out.put(static_cast<std::uint8_t>(n.log2MaxFrameNum));
    out.put(static_cast<std::uint8_t>(n.frameMbsOnly));
    out.put(static_cast<std::uint8_t>(n.separateColourPlane));
    out.put(static_cast<std::uint8_t>(n.pocType));
    out.put(static_cast<std::uint8_t>(n.log2MaxPocLsb));
}

codec::h264::SliceNumbering getNumbering(Reader& in) {
    codec::h264::SliceNumbering n;
    n.log2MaxFrameNum = in.get<std::uint8_t>();
    n.frameMbsOnly = in.get<std::uint8_t>() != 0;
    n.separateColourPlane = in.get<std::uint8_t>() != 0;
    n.pocType = in.get<std::uint8_t>();
    n.log2MaxPocLsb = in.get<std::uint8_t>();
    if (n.log2MaxFrameNum < 4 || n.log2MaxFrameNum > 16 || n.log2MaxPocLsb < 4 ||
        n.log2MaxPocLsb > 16 || n.pocType > 2)
        in.fail();
    return n;
}

void putState(Writer& out, const MoverState& state, std::uint32_t version) {
    out.put(state.read);
    out.put(state.write);
    out.put(state.nextDrop);
    out.put(static_cast<std::uint8_t>(state.phase));
    out.put(state.phaseEnd);
    out.put(state.resumeAt);
    out.put(static_cast<std::uint8_t>(state.pcrMarked));
    out.put(static_cast<std::uint32_t>(state.pids.size()));
    for (std::uint16_t pid : state.pids) out.put(pid);
    if (version == kFirstVersion) return;
    out.put(state.nextSplice);
    const RenumberState& r = state.renumber;
    out.put(static_cast<std::uint8_t>(r.active));
    out.put(r.frameNumDelta);
    out.put(r.pocLsbDelta);
    putNumbering(out, r.numbering);
    out.put(r.prefix);
    out.put(static_cast<std::uint32_t>(state.pending.size()));
    for (const PendingByte& byte : state.pending) {
        out.put(byte.position);
        out.put(byte.value);
    }
}

MoverState getState(Reader& in, std::uint32_t version) {
    MoverState state;
    state.read = in.get<std::uint64_t>();
    state.write = in.get<std::uint64_t>();
    state.nextDrop = in.get<std::uint32_t>();
    const auto phase = in.get<std::uint8_t>();
    const auto last = version == kFirstVersion ? MoverState::Finished : MoverState::Units;
    state.phase = phase <= last ? static_cast<MoverState::Phase>(phase) : MoverState::Finished;
    if (phase > last) in.fail();
    state.phaseEnd = in.get<std::uint64_t>();
    state.resumeAt = in.get<std::uint64_t>();
    state.pcrMarked = in.get<std::uint8_t>() != 0;
    const std::size_t pids = in.count(2, kMaxPids);
    for (std::size_t i = 0; i < pids; ++i) state.pids.push_back(in.get<std::uint16_t>());
    if (version == kFirstVersion) return state;
    state.nextSplice = in.get<std::uint32_t>();
    RenumberState& r = state.renumber;
    r.active = in.get<std::uint8_t>() != 0;
    r.frameNumDelta = in.get<std::int32_t>();
    r.pocLsbDelta = in.get<std::int32_t>();
    r.numbering = getNumbering(in);
    r.prefix = in.get<std::uint8_t>();
    if (r.prefix > 3) in.fail();
    const std::size_t pending = in.count(9, kMaxPending);
    for (std::size_t i = 0; i < pending; ++i) {
        PendingByte byte;
        byte.position = in.get<std::uint64_t>();
        byte.value = in.get<std::uint8_t>();
        state.pending.push_back(byte);
    }
    return state;
}

std::vector<std::uint8_t> headerBytes(const CutJournalPlan& plan) {
    Writer out;
    out.put(kHeaderMagic);
    out.put(kVersion);
    out.put(plan.length);
    out.put(plan.format.headerSize);
    out.put(static_cast<std::uint8_t>(plan.format.hardCut));
    out.put(plan.format.packetStride);
    out.put(static_cast<std::uint8_t>(plan.format.findFirstPacket));
    out.put(static_cast<std::uint32_t>(plan.format.packetSize));
    out.put(plan.syncOffset);
    out.put(plan.videoPid);
    out.put(static_cast<std::uint32_t>(plan.audioPids.size()));
    for (std::uint16_t pid : plan.audioPids) out.put(pid);
    out.put(static_cast<std::uint32_t>(plan.drops.size()));
    for (const CutDrop& drop : plan.drops) {
        out.put(drop.from);
        out.put(drop.to);
        out.put(static_cast<std::uint8_t>(drop.kind));
        out.put(static_cast<std::uint8_t>(drop.videoOnly));
        out.put(static_cast<std::uint8_t>(drop.reachesEnd));
        out.put(static_cast<std::uint8_t>(drop.keepByDefault));
    }
    out.put(static_cast<std::uint32_t>(plan.areas.size()));
    for (const CCutArea& area : plan.areas) {
        out.put(area.SectorStart);
        out.put(area.SectorEnd);
        out.put(area.PTSStart);
        out.put(area.PTSEnd);
    }
    out.put(static_cast<std::uint8_t>(plan.byRules));
    out.put(static_cast<std::uint32_t>(plan.rules.size()));
    for (const UnitRule& rule : plan.rules) {
        out.put(rule.from);
        out.put(rule.to);
        out.put(rule.pid);
        out.put(static_cast<std::uint8_t>(rule.action));
        out.put(static_cast<std::uint32_t>(rule.packets.size()));
        out.bytes(rule.packets.data(), rule.packets.size());
    }
    out.put(static_cast<std::uint32_t>(plan.splices.size()));
    for (const VideoSplice& splice : plan.splices) {
        out.put(splice.at);
        out.put(static_cast<std::uint8_t>(splice.idr));
        putNumbering(out, splice.numbering);
        out.put(splice.previousFrameNum);
        out.put(splice.previousPocLsb);
        out.put(splice.pocGap);
        out.put(splice.frameNum);
        out.put(splice.pocLsb);
    }
    return out.sealed();
}

void readRulesAndSplices(Reader& in, CutJournalPlan& plan) {
    plan.byRules = in.get<std::uint8_t>() != 0;
    const std::size_t rules = in.count(23, SIZE_MAX);
    for (std::size_t i = 0; i < rules; ++i) {
        UnitRule rule;
        rule.from = in.get<std::uint64_t>();
        rule.to = in.get<std::uint64_t>();
        rule.pid = in.get<std::uint16_t>();
        const auto action = in.get<std::uint8_t>();
        if (action > UnitRule::Replace) in.fail();
        rule.action = static_cast<UnitRule::Action>(action);
        const std::size_t size = in.count(1, kMaxReplacement);
        if (const std::uint8_t* bytes = in.take(size)) rule.packets.assign(bytes, bytes + size);
        plan.rules.push_back(std::move(rule));
    }
    const std::size_t splices = in.count(34, SIZE_MAX);
    for (std::size_t i = 0; i < splices; ++i) {
        VideoSplice splice;
        splice.at = in.get<std::uint64_t>();
        splice.idr = in.get<std::uint8_t>() != 0;
        splice.numbering = getNumbering(in);
        splice.previousFrameNum = in.get<std::int32_t>();
        splice.previousPocLsb = in.get<std::int32_t>();
        splice.pocGap = in.get<std::int32_t>();
        splice.frameNum = in.get<std::int32_t>();
        splice.pocLsb = in.get<std::int32_t>();
        plan.splices.push_back(splice);
    }
}

bool readHeader(Reader& in, CutJournalPlan& plan, std::uint32_t* version) {
    if (in.get<std::uint32_t>() != kHeaderMagic) return false;
    *version = in.get<std::uint32_t>();
    if (*version != kVersion && *version != kFirstVersion) return false;
    plan.length = in.get<std::uint64_t>();
    plan.format.headerSize = in.get<std::uint64_t>();
    plan.format.hardCut = in.get<std::uint8_t>() != 0;
    plan.format.packetStride = in.get<std::int32_t>();
    plan.format.findFirstPacket = in.get<std::uint8_t>() != 0;
    plan.format.packetSize = in.get<std::uint32_t>();
    plan.syncOffset = in.get<std::int32_t>();
    plan.videoPid = in.get<std::uint16_t>();
    const std::size_t pids = in.count(2, kMaxPids);
    for (std::size_t i = 0; i < pids; ++i) plan.audioPids.push_back(in.get<std::uint16_t>());
    const bool first = *version == kFirstVersion;
    const auto lastKind = first ? CutDrop::LeadingPictures : CutDrop::Units;
    const std::size_t drops = in.count(first ? 19 : 20, SIZE_MAX);
    for (std::size_t i = 0; i < drops; ++i) {
        CutDrop drop;
        drop.from = in.get<std::uint64_t>();
        drop.to = in.get<std::uint64_t>();
        const auto kind = in.get<std::uint8_t>();
        drop.kind = kind <= lastKind ? static_cast<CutDrop::Kind>(kind) : CutDrop::Area;
        drop.videoOnly = in.get<std::uint8_t>() != 0;
        drop.reachesEnd = in.get<std::uint8_t>() != 0;
        if (!first) drop.keepByDefault = in.get<std::uint8_t>() != 0;
        if (kind > lastKind) in.fail();
        plan.drops.push_back(drop);
    }
    const std::size_t areas = in.count(32, SIZE_MAX);
    for (std::size_t i = 0; i < areas; ++i) {
        CCutArea area;
        area.SectorStart = in.get<std::uint64_t>();
        area.SectorEnd = in.get<std::uint64_t>();
        area.PTSStart = in.get<std::int64_t>();
        area.PTSEnd = in.get<std::int64_t>();
        area.IsEnabled = true;
        plan.areas.push_back(area);
    }
    if (!first) readRulesAndSplices(in, plan);
    return in.sealed();
}

std::uint64_t slotBaseFor(std::size_t headerSize) {
    return (headerSize + kSlotSize - 1) / kSlotSize * kSlotSize;
}

// The plan and state must describe a run over this recording that a mover
// can go on with: anything else is damage, or a journal of another file.
bool fits(const CutJournalRecord& record, std::uint64_t length) {
    const CutJournalPlan& plan = record.plan;
    const MoverState& state = record.state;
    if (plan.format.packetSize != 188 && plan.format.packetSize != 192) return false;
    if (plan.format.packetStride <= 0) return false;
    for (std::size_t i = 0; i < plan.drops.size(); ++i) {
        const CutDrop& drop = plan.drops[i];
        if (drop.from > drop.to || drop.to > plan.length) return false;
        if (i > 0 && drop.from < plan.drops[i - 1].to) return false;
    }
    if (state.write > state.read || state.read > plan.length) return false;
    if (state.nextDrop > plan.drops.size()) return false;
    if (state.phase != MoverState::Finished && length != plan.length) return false;
    if (state.phase == MoverState::Units &&
        (state.nextDrop == 0 || plan.drops[state.nextDrop - 1].kind != CutDrop::Units))
        return false;
    for (std::size_t i = 0; i < plan.rules.size(); ++i) {
        const UnitRule& rule = plan.rules[i];
        if (rule.from > rule.to || rule.to > plan.length) return false;
        if (i > 0 && rule.from < plan.rules[i - 1].from) return false;
        if (rule.packets.size() % plan.format.packetSize != 0) return false;
    }
    for (std::size_t i = 1; i < plan.splices.size(); ++i)
        if (plan.splices[i].at < plan.splices[i - 1].at) return false;
    if (state.nextSplice > plan.splices.size()) return false;
    return std::is_sorted(state.pids.begin(), state.pids.end());
}

std::vector<std::uint8_t> readWholeFile(const std::string& path, bool* exists) {
    platform::PlatformFile file;
    platform::FileError error;
    *exists = file.Open(path, platform::modeRead, &error);
    if (!*exists) {
        *exists = error.osError != ENOENT;
        return {};
    }
    const std::uint64_t length = std::min<std::uint64_t>(file.Length(), kMaxJournalSize);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    bytes.resize(file.ReadAt(0, bytes.data(), bytes.size()));
    return bytes;
}

}  // namespace

std::string CCutJournal::PathFor(const std::string& recordingPath) {
    return CutJournalPath(recordingPath);
}

CCutJournal::CCutJournal(CRawFile& recording, std::string path, std::uint64_t slotBase,
                         std::uint64_t sequence, std::uint32_t version)
    : m_recording(recording),
      m_path(std::move(path)),
      m_slotBase(slotBase),
      m_sequence(sequence),
      m_version(version) {}

CCutJournal::Found CCutJournal::Read(const CRawFile& recording, CutJournalRecord* record,
                                     std::string* why) {
    const std::string path = PathFor(recording.GetFilePath());
    bool exists = false;
    const std::vector<std::uint8_t> bytes = readWholeFile(path, &exists);
    if (!exists) return Found::None;
    CutJournalRecord found;
    Reader header(bytes.data(), bytes.size());
    std::uint32_t version = kVersion;
    if (!readHeader(header, found.plan, &version)) return Found::Torn;
    const std::uint64_t slotBase = slotBaseFor(header.at());
    bool any = false;
    for (std::uint64_t slot = 0; slot < 2; ++slot) {
        const std::uint64_t at = slotBase + slot * kSlotSize;
        if (at >= bytes.size()) continue;
        Reader in(bytes.data() + at, static_cast<std::size_t>(std::min<std::uint64_t>(kSlotSize, bytes.size() - at)));
        if (in.get<std::uint32_t>() != kSlotMagic) continue;
        const auto sequence = in.get<std::uint64_t>();
        const MoverState state = getState(in, version);
        if (!in.sealed() || (any && sequence <= found.sequence)) continue;
        any = true;
        found.sequence = sequence;
        found.state = state;
    }
    if (!any) return Found::Torn;
    found.version = version;
    found.slotBase = slotBase;
    const std::uint64_t stageAt = slotBase + 2 * kSlotSize;
    if (stageAt < bytes.size()) {
        Reader in(bytes.data() + stageAt, static_cast<std::size_t>(bytes.size() - stageAt));
        if (in.get<std::uint32_t>() == kStageMagic) {
            const auto sequence = in.get<std::uint64_t>();
            const auto at = in.get<std::uint64_t>();
            const MoverState after = getState(in, version);
            const std::size_t count = in.count(1, CBlockMover::kBlockSize);
            const std::uint8_t* data = in.take(count);
            // Only a whole staged write newer than the state counts: an
            // older one was written and committed, a torn one never began.
            if (in.sealed() && sequence > found.sequence && data != nullptr) {
                found.staged = true;
                found.stagedAt = at;
                found.stagedData.assign(data, data + count);
                found.sequence = sequence;
                found.state = after;
            }
        }
    }
    const bool fitting =
        fits(found, recording.GetLength()) &&
        (!found.staged || found.stagedAt + found.stagedData.size() <= found.plan.length);
    if (!fitting) {
        if (why)
            *why = FormatString("the journal %s does not fit the recording %s", path.c_str(),
                                recording.GetFilePath().c_str());
        return Found::Foreign;
    }
    if (record) *record = std::move(found);
    return Found::Record;
}

std::unique_ptr<CCutJournal> CCutJournal::Create(CRawFile& recording, const CutJournalPlan& plan,
                                                 const MoverState& state) {
    const std::string path = PathFor(recording.GetFilePath());
    const std::vector<std::uint8_t> header = headerBytes(plan);
    std::unique_ptr<CCutJournal> journal(
        new CCutJournal(recording, path, slotBaseFor(header.size()), 0, kVersion));
    platform::FileError error;
    if (!journal->m_file.Open(path, platform::modeCreate | platform::modeReadWrite, &error))
        throw platform::FileException(error.osError, path, "Cannot create the journal");
    journal->m_file.WriteAt(0, header.data(), header.size());
    journal->Commit(state);
    // The journal's folder entry too: after a power cut the file must be found.
    platform::SyncDirectory(DirPart(path));
    return journal;
}

std::unique_ptr<CCutJournal> CCutJournal::Resume(CRawFile& recording,
                                                 const CutJournalRecord& record) {
    const std::string path = PathFor(recording.GetFilePath());
    // The journal goes on in the layout it was begun with.
    std::unique_ptr<CCutJournal> journal(new CCutJournal(
        recording, path, record.slotBase, record.sequence, record.version));
    platform::FileError error;
    if (!journal->m_file.Open(path, platform::modeReadWrite, &error))
        throw platform::FileException(error.osError, path, "Cannot open the journal");
    if (record.staged) {
        recording.Seek(static_cast<std::int64_t>(record.stagedAt), CRawFile::begin);
        recording.Write(record.stagedData.data(), record.stagedData.size());
    }
    journal->Commit(record.state);
    return journal;
}

void CCutJournal::writeRecord(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    m_file.WriteAt(offset, bytes.data(), bytes.size());
    m_file.Sync();
}

void CCutJournal::Commit(const MoverState& state) {
    // What was written before must be on the disk before the journal says so.
    m_recording.Flush();
    Writer out;
    out.put(kSlotMagic);
    out.put(++m_sequence);
    putState(out, state, m_version);
    writeRecord(m_slotBase + (m_sequence % 2) * kSlotSize, out.sealed());
}

void CCutJournal::Stage(std::uint64_t at, const std::uint8_t* data, std::size_t count,
                        const MoverState& after) {
    m_recording.Flush();
    Writer out;
    out.put(kStageMagic);
    out.put(++m_sequence);
    out.put(at);
    putState(out, after, m_version);
    out.put(static_cast<std::uint32_t>(count));
    out.bytes(data, count);
    writeRecord(m_slotBase + 2 * kSlotSize, out.sealed());
}

void CCutJournal::Remove() {
    m_recording.Flush();
    m_file.Close();
    platform::RemoveFile(m_path);
    platform::SyncDirectory(DirPart(m_path));
}

CCutList CCutJournal::Describe(const CutJournalRecord& record) {
    const MoverState& state = record.state;
    CCutList areas;
    // The stretch between the moved data and the untouched rest, with the
    // area the run was working on when it stopped.
    CCutArea moved;
    moved.SectorStart = state.write / kSectorSize;
    std::uint64_t end = state.phase == MoverState::Completing ? state.resumeAt : state.read;
    std::vector<CCutArea> sorted = record.plan.areas;
    std::sort(sorted.begin(), sorted.end(),
              [](const CCutArea& a, const CCutArea& b) { return a.SectorStart < b.SectorStart; });
    CCutList later;
    for (const CCutArea& area : sorted) {
        if (area.SectorEnd * kSectorSize <= state.read) continue;  // done
        if (area.SectorStart * kSectorSize <= end)
            end = std::max(end, area.SectorEnd * kSectorSize);
        else
            later.push_back(area);
    }
    moved.SectorEnd = (end + kSectorSize - 1) / kSectorSize;
    moved.IsEnabled = moved.SectorStart != moved.SectorEnd;
    if (state.phase != MoverState::Finished && moved.IsEnabled) areas.push_back(moved);
    areas.insert(areas.end(), later.begin(), later.end());
    return areas;
}
