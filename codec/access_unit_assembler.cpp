#include "codec/access_unit_assembler.h"

#include <algorithm>

#include "demux/pes_fields.h"

namespace codec {

namespace {

// NAL unit headers never begin with E0..EF (forbidden_zero_bit), so
// 00 00 01 Ex at a payload's start is a PES header.
bool isVideoPesHeader(const std::uint8_t* p, int n) {
    return n >= 9 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] >= 0xE0 && p[3] <= 0xEF;
}

// The bytes before the unit under way are dropped in blocks.
constexpr std::uint64_t kTrimAt = 1u << 20;

}  // namespace

AccessUnitAssembler::AccessUnitAssembler(std::unique_ptr<IAccessUnitScanner> scanner)
    : m_scanner(std::move(scanner)) {}

// Takes the PES header off the payload and notes its stamps where its data
// begins. A header longer than the packet holds is damage: the payload goes.
void AccessUnitAssembler::startPes(const std::uint8_t*& data, int& n) {
    const int header = pes::HeaderLength(data, n);
    if (header == 0) {
        ++m_brokenHeaders;
        Lose();
        n = 0;
        return;
    }
    PesMark mark;
    mark.offset = m_base + m_data.size();
    const int flags = data[7] >> 6;
    if ((flags & 2) && header >= 14) {
        mark.hasPts = true;
        mark.pts = pes::ReadStamp(data + 9);
    }
    if (flags == 3 && header >= 19) {
        mark.hasDts = true;
        mark.dts = pes::ReadStamp(data + 14);
    }
    m_pes.push_back(mark);
    const int declared = (data[4] << 8) | data[5];
    // PES_packet_length counts the bytes behind it: the rest of the header too.
    m_pesDeclared = declared > 0 && declared + 6 >= header ? static_cast<std::uint64_t>(declared + 6 - header) : 0;
    m_pesReceived = 0;
    data += header;
    n -= header;
}

void AccessUnitAssembler::Feed(const VideoPayload& payload, bool unitStart, bool lost) {
    if (payload.length <= 0) return;
    const std::uint8_t* data = payload.data;
    int n = payload.length;
    if (lost) Lose();
    if (unitStart && isVideoPesHeader(data, n)) startPes(data, n);
    if (n <= 0) return;
    m_data.insert(m_data.end(), data, data + n);
    m_pesReceived += static_cast<std::uint64_t>(n);
    m_packets.push_back({m_base + m_data.size(), payload.positionAfter});
    m_scanner->Feed(data, static_cast<std::size_t>(n));
    takeReported();
    if (m_data.size() > kMaxUnit) giveUp();
}

// No unit ends within the bytes held: they are no picture (scrambled data,
// or a stream that is not the codec it was declared) and are dropped.
void AccessUnitAssembler::giveUp() {
    m_pending = false;
    m_base += m_data.size();
    m_data.clear();
    m_packets.clear();
    m_losses.clear();
}

void AccessUnitAssembler::takeReported() {
    for (const AccessUnit& unit : m_scanner->TakeUnits()) {
        if (m_pending) complete(unit.offset);
        m_pending = true;
        m_pendingUnit = unit;
    }
    trim();
}

// The pending unit ends at end.
void AccessUnitAssembler::complete(std::uint64_t end) {
    m_pending = false;
    const std::uint64_t begin = m_pendingUnit.offset;
    // A unit whose bytes are no longer held (a stretch given up as no
    // picture) cannot be written.
    if (begin < m_base || end <= begin || end > m_base + m_data.size()) return;
    AssembledUnit unit;
    unit.unit = m_pendingUnit;
    unit.bytes.assign(m_data.begin() + static_cast<std::ptrdiff_t>(begin - m_base),
                      m_data.begin() + static_cast<std::ptrdiff_t>(end - m_base));
    unit.damaged = std::any_of(m_losses.begin(), m_losses.end(),
                               [&](std::uint64_t loss) { return loss > begin && loss <= end; });
    for (const PacketMark& packet : m_packets) {
        if (packet.end > begin) {
            unit.position = packet.positionAfter;
            break;
        }
    }
    stamp(unit);
    m_units.push_back(std::move(unit));
}

// Every PES that began at or before the unit's first byte has been passed:
// the latest of them gives the unit its stamps if the unit is the first to
// begin in it.
void AccessUnitAssembler::stamp(AssembledUnit& unit) {
    bool first = false;
    PesMark latest;
    while (!m_pes.empty() && m_pes.front().offset <= unit.unit.offset) {
        latest = m_pes.front();
        first = true;
        if (latest.hasPts) {
            m_haveStamp = true;
            m_lastStamp = latest.pts;
        }
        m_pes.pop_front();
    }
    if (first) {
        unit.hasPts = latest.hasPts;
        unit.pts = latest.pts;
        unit.hasDts = latest.hasDts;
        unit.dts = latest.dts;
    }
    unit.hasStamp = m_haveStamp;
    unit.stamp = m_lastStamp;
}

// Drops what lies before the unit under way. Before a unit has been
// reported everything stays: the unit's parameter sets may lie far back.
void AccessUnitAssembler::trim() {
    if (!m_pending) return;
    const std::uint64_t keep = m_pendingUnit.offset;
    if (keep < m_base || keep - m_base < kTrimAt) return;
    m_data.erase(m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(keep - m_base));
    m_base = keep;
    while (!m_packets.empty() && m_packets.front().end <= m_base)
        m_packets.pop_front();
    std::erase_if(m_losses, [this](std::uint64_t loss) { return loss <= m_base; });
}

void AccessUnitAssembler::Finish() {
    m_scanner->Finish();
    takeReported();
    if (!m_pending) return;
    const bool whole = m_pesDeclared > 0 && m_pesReceived >= m_pesDeclared;
    const std::size_t before = m_units.size();
    complete(m_base + m_data.size());
    if (m_units.size() > before && !whole) m_units.back().cutShort = true;
}

}  // namespace codec
