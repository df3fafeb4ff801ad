#include "codec/start_code_splitter.h"

#include <algorithm>

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

void StartCodeSplitter::Feed(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    // The work buffer: what was held back, then this piece. Its first byte
    // lies at stream offset base.
    const std::uint64_t base = m_fed - m_work.size();
    m_work.insert(m_work.end(), data, data + size);
    m_fed += size;
    const std::size_t n = m_work.size();
    const std::uint8_t* w = m_work.data();
    std::size_t settled = 0;  // bytes of w handed on
    for (;;) {
        const std::size_t at = FindStartCodePrefix(w, n, settled);
        if (at == mpeg::kNotFound) break;
        append(w + settled, at - settled);
        complete();
        m_inUnit = true;
        m_unit.clear();
        m_unitOffset = base + at;
        m_unitLength = 0;
        m_trailingZeros = 0;
        settled = at + 3;
    }
    // Everything but the last bytes is settled: no prefix begins there.
    const std::size_t keep = std::min(kCarry, n - settled);
    append(w + settled, n - settled - keep);
    m_work.erase(m_work.begin(), m_work.end() - static_cast<std::ptrdiff_t>(keep));
}

void StartCodeSplitter::Finish() {
    append(m_work.data(), m_work.size());
    m_work.clear();
    complete();
}

}  // namespace codec
