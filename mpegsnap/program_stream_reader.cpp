#include "mpegsnap/program_stream_reader.h"

namespace mpegsnap {

namespace {
constexpr int kPackStart = 0xBA;
constexpr int kProgramEnd = 0xB9;
constexpr int kFirstStreamId = 0xBC;  // below: not a packet of the system layer

// Offset of the next 00 00 01 prefix at or after from, or size.
std::size_t findPrefix(const std::uint8_t* data, std::size_t size, std::size_t from) {
    for (std::size_t i = from; i + 3 <= size; ++i) {
        if (data[i + 2] > 1) {
            i += 2;
            continue;
        }
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
    }
    return size;
}
}  // namespace

std::size_t ProgramStreamReader::PayloadOffset(const std::uint8_t* packet, std::size_t length) {
    // length counts the bytes from the start code on.
    std::size_t at = 6;
    if (at < length && (packet[at] & 0xC0) == 0x80) {
        // MPEG-2 PES header: flags, then its own length.
        if (at + 3 > length) return 0;
        const std::size_t end = at + 3 + packet[at + 2];
        return end <= length ? end : 0;
    }
    // MPEG-1: stuffing, optional STD buffer size, then the time stamps.
    int stuffing = 0;
    while (at < length && packet[at] == 0xFF) {
        if (++stuffing > 16) return 0;
        ++at;
    }
    if (at < length && (packet[at] & 0xC0) == 0x40) at += 2;
    if (at >= length) return 0;
    const std::uint8_t marker = packet[at];
    if ((marker & 0xF0) == 0x20)
        at += 5;
    else if ((marker & 0xF0) == 0x30)
        at += 10;
    else if (marker == 0x0F)
        at += 1;
    else
        return 0;
    return at <= length ? at : 0;
}

bool ProgramStreamReader::Extract(const std::uint8_t* data, std::size_t size,
                                  std::vector<std::uint8_t>& out) const {
    bool found = false;
    std::size_t at = findPrefix(data, size, 0);
    while (at + 4 <= size) {
        const int code = data[at + 3];
        if (code == kProgramEnd) break;
        if (code == kPackStart) {
            // MPEG-2 packs carry 10 bytes and stuffing, MPEG-1 packs 8.
            std::size_t next = at + 4;
            if (at + 5 <= size && (data[at + 4] & 0xC0) == 0x40) {
                next = at + 14;
                if (next <= size) next += data[at + 13] & 7;
            } else if (at + 5 <= size && (data[at + 4] & 0xF0) == 0x20) {
                next = at + 12;
            }
            at = findPrefix(data, size, next < size ? next : size);
            continue;
        }
        if (code < kFirstStreamId || at + 6 > size) {
            at = findPrefix(data, size, at + 3);
            continue;
        }
        std::size_t length = 6 + ((static_cast<std::size_t>(data[at + 4]) << 8) | data[at + 5]);
        if (length == 6) {
            // Unbounded packet: runs to the next pack.
            std::size_t next = at + 6;
            while ((next = findPrefix(data, size, next)) + 4 <= size &&
                   data[next + 3] != kPackStart)
                next += 3;
            length = (next < size ? next : size) - at;
        }
        const bool complete = at + length <= size;
        if (!complete) length = size - at;  // a cut-off last packet keeps what is there
        if (code == m_streamId) {
            const std::size_t offset = PayloadOffset(data + at, length);
            if (offset > 0) {
                out.insert(out.end(), data + at + offset, data + at + length);
                found = true;
            }
        }
        at = findPrefix(data, size, at + length);
    }
    return found;
}

}  // namespace mpegsnap
