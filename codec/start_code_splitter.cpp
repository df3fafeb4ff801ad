#include "codec/start_code_splitter.h"

#include <algorithm>
#include <array>

#include "demux/start_code.h"

namespace codec {

namespace {
// A prefix may begin in the last three bytes of a piece with its code byte
// in the next: they are held back until then.
constexpr std::size_t kCarry = 3;
}  // namespace

void StartCodeSplitter::append(const std::uint8_t* bytes, std::size_t count) {
    if (!m_inUnit || count == 0) return;
    m_unitLength += count;
    const std::size_t room = kHeld - std::min(kHeld, m_unit.size());
    m_unit.insert(m_unit.end(), bytes, bytes + std::min(room, count));
    // Zero bytes before the next prefix belong to it (zero_byte) or are
    // trailing_zero_8bits: neither is part of the unit.
    std::size_t zeros = 0;
    while (zeros < count && bytes[count - 1 - zeros] == 0)
        ++zeros;
    m_trailingZeros = zeros == count ? m_trailingZeros + count : zeros;
}

void StartCodeSplitter::complete() {
    if (!m_inUnit) return;
    StartCodeUnit unit;
    unit.offset = m_unitOffset;
    unit.length = m_unitLength - std::min<std::uint64_t>(m_trailingZeros, m_unitLength);
    unit.size = static_cast<std::size_t>(std::min<std::uint64_t>(m_unit.size(), unit.length));
    unit.data = m_unit.data();
    m_handler(unit);
    m_inUnit = false;
}

void StartCodeSplitter::openUnit(std::uint64_t offset) {
    m_inUnit = true;
    m_unit.clear();
    m_unitOffset = offset;
    m_unitLength = 0;
    m_trailingZeros = 0;
}

void StartCodeSplitter::Feed(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const std::uint64_t base = m_fed;  // stream offset of data[0]
    m_fed += size;
    const std::size_t held = m_carry.size();
    if (held > 0 && size < kCarry) {
        // Too short to settle what was held back: both are split together.
        std::array<std::uint8_t, 2 * kCarry> joined{};
        std::copy(m_carry.begin(), m_carry.end(), joined.begin());
        std::copy(data, data + size, joined.begin() + static_cast<std::ptrdiff_t>(held));
        m_carry.clear();
        split(joined.data(), held + size, base - held, 0, false);
        return;
    }
    if (held == 0) {
        split(data, size, base, 0, false);
        return;
    }
    // A prefix that begins in the bytes held back has its code byte within
    // the first three of this piece.
    std::array<std::uint8_t, 2 * kCarry> joined{};
    std::copy(m_carry.begin(), m_carry.end(), joined.begin());
    std::copy(data, data + kCarry, joined.begin() + static_cast<std::ptrdiff_t>(held));
    const std::size_t at = FindStartCodePrefix(joined.data(), held + kCarry, 0);
    if (at != mpeg::kNotFound && at < held) {
        append(m_carry.data(), at);
        complete();
        openUnit(base - held + at);
        m_carry.clear();
        split(data, size, base, at + kCarry - held, true);
        return;
    }
    append(m_carry.data(), held);
    m_carry.clear();
    split(data, size, base, 0, false);
}

void StartCodeSplitter::split(const std::uint8_t* data, std::size_t size, std::uint64_t base,
                              std::size_t from, bool openHere) {
    // A unit that begins in this piece is handed on from it, unless it
    // runs past the piece; one that began before goes on in m_unit.
    std::size_t settled = from;  // bytes of data handed on
    std::size_t unitStart = from;
    for (;;) {
        const std::size_t at = FindStartCodePrefix(data, size, settled);
        if (at == mpeg::kNotFound) break;
        if (openHere)
            completeIn(data + unitStart, at - unitStart);
        else {
            append(data + settled, at - settled);
            complete();
        }
        openUnit(base + at);
        openHere = true;
        unitStart = settled = at + kCarry;
    }
    // Everything but the last bytes is settled: no prefix begins there.
    const std::size_t keep = std::min(kCarry, size - settled);
    append(data + settled, size - settled - keep);
    m_carry.assign(data + size - keep, data + size);
}

void StartCodeSplitter::completeIn(const std::uint8_t* bytes, std::size_t count) {
    // The whole unit lies in the piece: it is handed on where it is.
    std::size_t zeros = 0;
    while (zeros < count && bytes[count - 1 - zeros] == 0)
        ++zeros;
    StartCodeUnit unit;
    unit.offset = m_unitOffset;
    unit.length = count - zeros;
    unit.size = static_cast<std::size_t>(std::min<std::uint64_t>(kHeld, unit.length));
    unit.data = bytes;
    m_handler(unit);
    m_inUnit = false;
}

void StartCodeSplitter::Finish() {
    append(m_carry.data(), m_carry.size());
    m_carry.clear();
    complete();
}

}  // namespace codec
