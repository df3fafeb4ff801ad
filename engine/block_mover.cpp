#include "engine/block_mover.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "demux/raw_file.h"
#include "platform/file.h"
#include "shell/log.h"

namespace {
// How far around a cut the sound's PES packets are completed or skipped: a
// PES of a sound stream spans a few packets, far below this.
constexpr std::uint64_t kUnitReach = 1 << 20;

// These take the transport packet itself, after any prefix.
std::uint16_t pidOf(const std::uint8_t* packet) {
    return static_cast<std::uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
}
bool isUnitStart(const std::uint8_t* packet) {
    return (packet[1] & 0x40) != 0;
}
// An adaptation field with a PCR: its flags byte follows the length byte.
bool carriesPcr(const std::uint8_t* packet) {
    return (packet[3] & 0x20) != 0 && packet[4] > 0 && (packet[5] & 0x10) != 0;
}
constexpr std::uint8_t kDiscontinuityIndicator = 0x80;

bool holds(const std::vector<std::uint16_t>& pids, std::uint16_t pid) {
    return std::binary_search(pids.begin(), pids.end(), pid);
}
void erase(std::vector<std::uint16_t>& pids, std::uint16_t pid) {
    auto at = std::lower_bound(pids.begin(), pids.end(), pid);
    if (at != pids.end() && *at == pid) pids.erase(at);
}
std::size_t wholeUnits(std::size_t bytes, std::size_t unit) {
    return unit > 0 && unit <= bytes ? bytes / unit * unit : bytes;
}
}  // namespace

CBlockMover::CBlockMover(CRawFile& source, CRawFile& destination, bool inPlace,
                         std::uint16_t videoPid, bool hardCut, std::int32_t packetStride,
                         ProgressFn progress, std::size_t packetSize)
    : m_source(source),
      m_destination(destination),
      m_inPlace(inPlace),
      m_videoPid(videoPid),
      m_hardCut(hardCut),
      m_progress(std::move(progress)),
      m_packetSize(packetSize),
      m_syncAt(packetSize > 188 ? packetSize - 188 : 0),
      m_blockSize(wholeUnits(kBlockSize, packetStride > 0 ? static_cast<std::size_t>(packetStride)
                                                          : 0)),
      // Whole packets, so that a stretch is filtered packet by packet.
      m_filterChunk(wholeUnits(kBlockSize, packetSize)),
      m_block(kBlockSize),
      m_filter(videoPid, packetSize) {}

void CBlockMover::SetUnitRules(const std::vector<UnitRule>* rules,
                               const std::vector<VideoSplice>* splices) {
    m_rules = rules;
    m_splices = splices;
    m_filter.SetRules(rules);
}

void CBlockMover::Run(std::uint64_t readPosition, std::uint64_t writePosition,
                      const std::vector<CutDrop>& drops) {
    MoverState start;
    start.read = readPosition;
    start.write = writePosition;
    Resume(start, drops);
}

void CBlockMover::Resume(const MoverState& state, const std::vector<CutDrop>& drops) {
    m_state = state;
    m_drops = &drops;
    m_cancelled = false;
    // A swapped recording of odd length ends with a byte that has no partner.
    m_end = m_source.GetReadableLength();
    const std::uint64_t end = m_end;
    m_committedRead = m_state.read;
    if (m_journal) m_journal->Commit(m_state);
    while (m_state.phase != MoverState::Finished) {
        if (m_rules != nullptr) {
            if (!ruleStep(end)) return;  // cancelled
            continue;
        }
        if (m_state.phase != MoverState::Blocks)
            filterStep();
        else if (!blockStep(end))
            return;  // cancelled
        if (m_state.phase != MoverState::Blocks && m_state.phase != MoverState::Finished &&
            m_state.read >= m_state.phaseEnd)
            endPhase(end);
    }
    if (m_journal) m_journal->Commit(m_state);
}

bool CBlockMover::blockStep(std::uint64_t end) {
    const std::vector<CutDrop>& drops = *m_drops;
    if (m_state.read >= end) {
        m_state.phase = MoverState::Finished;
        return true;
    }
    // Passed over drops (behind the start) are of no concern.
    while (m_state.nextDrop < drops.size() && drops[m_state.nextDrop].to <= m_state.read)
        ++m_state.nextDrop;
    if (m_state.nextDrop < drops.size() && m_state.read >= drops[m_state.nextDrop].from) {
        enterDrop(drops[m_state.nextDrop++], end);
        return true;
    }
    // A copy stops on cancel; a run in place goes on, since stopping
    // would leave the recording half moved.
    if (!m_progress(m_state.read) && !m_inPlace) {
        m_cancelled = true;
        return false;
    }
    const std::uint64_t limit =
        m_state.nextDrop < drops.size() ? drops[m_state.nextDrop].from : end;
    moveBlock(static_cast<std::size_t>(
        std::min<std::uint64_t>(m_blockSize, limit - m_state.read)));
    return true;
}

void CBlockMover::enterDrop(const CutDrop& drop, std::uint64_t end) {
    logCut(drop);
    if (drop.reachesEnd) {
        m_state.phase = MoverState::Finished;
        return;
    }
    if (drop.videoOnly) {
        m_state.phase = MoverState::WithoutVideo;
        m_state.phaseEnd = drop.to;
        return;
    }
    if (drop.kind == CutDrop::Area) {
        m_state.phase = MoverState::Completing;
        m_state.phaseEnd = std::min(drop.to, drop.from + kUnitReach);
        m_state.resumeAt = drop.to;
        m_state.pids.assign(m_audioPids.begin(), m_audioPids.end());
        return;
    }
    m_state.read = drop.to;
    enterSkipping(false, end);
}

void CBlockMover::enterSkipping(bool afterSplice, std::uint64_t end) {
    const std::vector<CutDrop>& drops = *m_drops;
    const std::uint64_t limit =
        m_state.nextDrop < drops.size() ? drops[m_state.nextDrop].from : end;
    m_state.phase = MoverState::Skipping;
    m_state.phaseEnd = std::min(limit, m_state.read + kUnitReach);
    m_state.pids.assign(m_audioPids.begin(), m_audioPids.end());
    m_state.pcrMarked = !afterSplice || m_hardCut;
}

void CBlockMover::endPhase(std::uint64_t end) {
    if (m_state.phase == MoverState::Completing) {
        m_state.read = std::max(m_state.read, m_state.resumeAt);
        enterSkipping(true, end);
        return;
    }
    m_state.phase = MoverState::Blocks;
    m_state.pids.clear();
}

void CBlockMover::logCut(const CutDrop& drop) const {
    if (drop.kind != CutDrop::Area) return;
    LogWrite("Detected cut at " + std::to_string(static_cast<std::uint32_t>(m_state.read)), 1);
    if (drop.reachesEnd)
        LogWrite("Cut stops at end of stream => exit", 1);
    else
        LogWrite(m_hardCut ? "Performing hard cut" : "Performing soft cut", 1);
}

void CBlockMover::readSource(std::uint64_t position, std::uint8_t* buffer, std::size_t count) {
    m_source.Seek(static_cast<std::int64_t>(position), CRawFile::begin);
    // The end was measured when the run began: a read that falls short of it
    // means the recording lost data under way, which no run can make good.
    if (m_source.Read(buffer, count) != count)
        throw platform::FileException(EIO, m_source.GetFilePath(),
                                      "The recording ended before its stated length");
}

void CBlockMover::writeChunk(const MoverState& before, const std::uint8_t* data,
                             std::size_t count) {
    const std::uint64_t writeEnd = before.write + count;
    if (m_journal && writeEnd > m_committedRead) {
        if (writeEnd <= before.read) {
            // Only bytes that are moved already are overwritten: recording
            // the state before this write lets a retry redo it from the source.
            m_journal->Commit(before);
            m_committedRead = before.read;
        } else {
            // The write reaches source bytes that are not moved yet (the
            // stretch removed so far is shorter than the data): the data goes
            // into the journal first, so that a retry can write it again.
            m_journal->Stage(before.write, data, count, m_state);
            m_destination.Seek(static_cast<std::int64_t>(before.write), CRawFile::begin);
            m_destination.Write(data, count);
            m_journal->Commit(m_state);
            m_committedRead = m_state.read;
            return;
        }
    }
    m_destination.Seek(static_cast<std::int64_t>(before.write), CRawFile::begin);
    m_destination.Write(data, count);
}

void CBlockMover::moveBlock(std::size_t count) {
    const MoverState before = m_state;
    m_state.read += count;
    m_state.write += count;
    // In place, data that has not moved is where it belongs already.
    if (m_inPlace && before.read == before.write) return;
    readSource(before.read, m_block.data(), count);
    writeChunk(before, m_block.data(), count);
}

CBlockMover::Verdict CBlockMover::judge(std::uint8_t* unit, std::size_t size, bool& changed) {
    const bool whole = size == m_packetSize && unit[m_syncAt] == 0x47;
    const std::uint8_t* packet = unit + m_syncAt;
    switch (m_state.phase) {
        case MoverState::WithoutVideo:
            // The packets of the other streams (sound above all) stay, so
            // that no audio frame is broken here.
            return whole && pidOf(packet) == m_videoPid ? Verdict::Drop : Verdict::Keep;
        case MoverState::Completing:
            // The sound PES packets under way where the kept data ends are
            // finished from the stretch that is cut out, up to the next unit
            // start of each.
            if (m_state.pids.empty()) return Verdict::Stop;
            if (!whole || !holds(m_state.pids, pidOf(packet))) return Verdict::Drop;
            if (!isUnitStart(packet)) return Verdict::Keep;
            erase(m_state.pids, pidOf(packet));
            return Verdict::Drop;
        case MoverState::Skipping:
            // Where the data resumes, the rest of a sound PES whose start was
            // cut out is no use to anyone: it goes up to the stream's next
            // unit start. The first PCR after a splice gets the discontinuity
            // indicator, so that a player takes the jump of the clock for a
            // new time base.
            if (m_state.pids.empty() && m_state.pcrMarked) return Verdict::Stop;
            if (!whole) return Verdict::Keep;
            if (holds(m_state.pids, pidOf(packet))) {
                if (!isUnitStart(packet)) return Verdict::Drop;
                erase(m_state.pids, pidOf(packet));
            }
            if (!m_state.pcrMarked && carriesPcr(packet)) {
                unit[m_syncAt + 5] |= kDiscontinuityIndicator;
                m_state.pcrMarked = changed = true;
            }
            return Verdict::Keep;
        default:
            return Verdict::Keep;
    }
}

void CBlockMover::filterStep() {
    const MoverState before = m_state;
    const auto count = static_cast<std::size_t>(
        std::min<std::uint64_t>(m_filterChunk, m_state.phaseEnd - m_state.read));
    readSource(before.read, m_block.data(), count);
    bool changed = false;
    bool stopped = false;
    std::size_t kept = 0;
    std::size_t at = 0;
    for (; at < count; at += m_packetSize) {
        const std::size_t size = std::min(m_packetSize, count - at);
        const Verdict verdict = judge(m_block.data() + at, size, changed);
        if (verdict == Verdict::Stop) {
            stopped = true;
            break;
        }
        if (verdict == Verdict::Drop) continue;
        std::memmove(m_block.data() + kept, m_block.data() + at, size);
        kept += size;
    }
    m_state.read += at;
    m_state.write += kept;
    // The stretch ends before the packet answered Stop for.
    if (stopped) m_state.phaseEnd = m_state.read;
    if (m_state.read >= m_state.phaseEnd) endPhase(m_end);
    // In place the kept packets may be where they belong already.
    if (kept > 0 && !(m_inPlace && before.read == before.write && kept == at && !changed))
        writeChunk(before, m_block.data(), kept);
}

std::uint64_t CBlockMover::nextEvent(std::uint64_t end) const {
    std::uint64_t limit = end;
    const std::vector<CutDrop>& drops = *m_drops;
    if (m_state.nextDrop < drops.size() && drops[m_state.nextDrop].from > m_state.read)
        limit = std::min(limit, drops[m_state.nextDrop].from);
    if (m_splices != nullptr && m_state.nextSplice < m_splices->size() &&
        (*m_splices)[m_state.nextSplice].at > m_state.read)
        limit = std::min(limit, (*m_splices)[m_state.nextSplice].at);
    return limit;
}

bool CBlockMover::ruleStep(std::uint64_t end) {
    const std::vector<CutDrop>& drops = *m_drops;
    if (m_state.phase == MoverState::Units) {
        const CutDrop& stretch = drops[m_state.nextDrop - 1];
        filteredChunk(std::min(m_state.phaseEnd, nextEvent(end)), true, stretch.keepByDefault);
        if (m_state.read >= m_state.phaseEnd) m_state.phase = MoverState::Blocks;
        return true;
    }
    // A splice is entered where its picture begins; one passed over went
    // with a cut.
    while (m_splices != nullptr && m_state.nextSplice < m_splices->size() &&
           (*m_splices)[m_state.nextSplice].at <= m_state.read) {
        const VideoSplice& splice = (*m_splices)[m_state.nextSplice++];
        if (splice.at == m_state.read) m_state.renumber.Enter(splice);
    }
    while (m_state.nextDrop < drops.size() && drops[m_state.nextDrop].to <= m_state.read)
        ++m_state.nextDrop;
    if (m_state.read >= end) {
        m_state.phase = MoverState::Finished;
        return true;
    }
    if (m_state.nextDrop < drops.size() && m_state.read >= drops[m_state.nextDrop].from) {
        const CutDrop& drop = drops[m_state.nextDrop++];
        if (drop.kind == CutDrop::Units) {
            m_state.phase = MoverState::Units;
            m_state.phaseEnd = drop.to;
            return true;
        }
        logCut(drop);
        if (drop.reachesEnd)
            m_state.phase = MoverState::Finished;
        else
            m_state.read = drop.to;
        return true;
    }
    if (!m_progress(m_state.read) && !m_inPlace) {
        m_cancelled = true;
        return false;
    }
    const std::uint64_t limit = nextEvent(end);
    if (m_state.renumber.active || !m_state.pending.empty())
        filteredChunk(limit, false, true);
    else
        moveBlock(static_cast<std::size_t>(
            std::min<std::uint64_t>(m_blockSize, limit - m_state.read)));
    return true;
}

bool CBlockMover::filteredChunk(std::uint64_t limit, bool withRules, bool keepByDefault) {
    const MoverState before = m_state;
    const auto count = static_cast<std::size_t>(
        std::min<std::uint64_t>(m_filterChunk, limit - m_state.read));
    readSource(before.read, m_block.data(), count);
    const bool renumber = m_state.renumber.active || !m_state.pending.empty();
    bool changed = m_filter.Filter(m_block.data(), count, before.read, withRules, keepByDefault,
                                   m_out, renumber ? &m_video : nullptr);
    m_state.read += count;
    if (renumber) {
        CH264Renumberer renumberer(m_state.renumber, m_state.pending);
        const std::uint64_t from = m_state.read;
        const std::uint64_t to = nextEvent(m_end);
        changed |= renumberer.Process(
            m_out.data(), m_video,
            [this, from, to](std::uint8_t* bytes, std::uint64_t* positions, std::size_t wanted) {
                return lookAhead(from, to, bytes, positions, wanted);
            });
        if (renumberer.Failures() > 0 && m_renumberFailures == 0)
            m_firstRenumberFailure = renumberer.FirstFailure();
        m_renumberFailures += renumberer.Failures();
    }
    m_state.write += m_out.size();
    // Data written in place must never reach data not yet read: the plan
    // makes room for every packet it adds where it leaves out more.
    if (m_inPlace && m_state.write > m_state.read)
        throw platform::FileException(EIO, m_destination.GetFilePath(),
                                      "The cut would overwrite data not yet moved");
    if (!m_out.empty() && !(m_inPlace && before.read == before.write && !changed))
        writeChunk(before, m_out.data(), m_out.size());
    return changed;
}

std::size_t CBlockMover::lookAhead(std::uint64_t from, std::uint64_t limit, std::uint8_t* bytes,
                                   std::uint64_t* positions, std::size_t count) {
    // The rest of a slice header lies in the next few video packets.
    constexpr std::size_t kPackets = 64;
    std::vector<std::uint8_t> packets(kPackets * m_packetSize);
    const std::uint64_t end = std::min(limit, from + packets.size());
    if (end <= from) return 0;
    packets.resize(static_cast<std::size_t>(end - from));
    m_source.Seek(static_cast<std::int64_t>(from), CRawFile::begin);
    packets.resize(m_source.Read(packets.data(), packets.size()));
    std::size_t n = 0;
    for (std::size_t at = 0; at + m_packetSize <= packets.size() && n < count; at += m_packetSize) {
        const std::uint8_t* packet = packets.data() + at + m_syncAt;
        if (packet[0] != 0x47 || pidOf(packet) != m_videoPid) continue;
        const std::size_t payload = CUnitFilter::VideoPayloadAt(packet);
        if (payload == 0) continue;
        for (std::size_t i = payload; i < 188 && n < count; ++i, ++n) {
            bytes[n] = packet[i];
            positions[n] = from + at + m_syncAt + i;
        }
    }
    return n;
}
