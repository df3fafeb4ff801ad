#include "codec/annexb_nals.h"

#include "demux/start_code.h"

namespace codec {

std::vector<NalSpan> SplitNals(const std::uint8_t* data, std::size_t size) {
    std::vector<NalSpan> nals;
    std::size_t at = FindStartCodePrefix(data, size, 0);
    while (at != mpeg::kNotFound) {
        NalSpan nal;
        nal.prefix = at;
        nal.begin = at + 3;
        const std::size_t next = FindStartCodePrefix(data, size, nal.begin);
        std::size_t end = next == mpeg::kNotFound ? size : next;
        while (end > nal.begin && data[end - 1] == 0)
            --end;
        nal.end = end;
        nals.push_back(nal);
        at = next;
    }
    return nals;
}

std::vector<std::uint8_t> Unescape(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> rbsp;
    rbsp.reserve(size);
    int zeros = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        if (zeros >= 2 && b == 0x03) {
            zeros = 0;
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        rbsp.push_back(b);
    }
    return rbsp;
}

std::vector<std::uint8_t> Escape(const std::vector<std::uint8_t>& rbsp) {
    std::vector<std::uint8_t> out;
    out.reserve(rbsp.size() + rbsp.size() / 64 + 2);
    int zeros = 0;
    for (std::uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 0x03) {
            out.push_back(0x03);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    // A unit may not end in a zero byte (it would be taken for trailing
    // zeros): cabac_zero_words get a final 03.
    if (!out.empty() && out.back() == 0) out.push_back(0x03);
    return out;
}

bool PutBits(std::vector<std::uint8_t>& rbsp, std::uint64_t at, int count, std::uint32_t value) {
    if (count < 0 || count > 32 || at + static_cast<std::uint64_t>(count) > 8 * rbsp.size())
        return false;
    for (int i = 0; i < count; ++i) {
        const std::uint64_t bit = at + static_cast<std::uint64_t>(i);
        const auto mask = static_cast<std::uint8_t>(0x80 >> (bit & 7));
        std::uint8_t& byte = rbsp[static_cast<std::size_t>(bit >> 3)];
        if ((value >> (count - 1 - i)) & 1)
            byte |= mask;
        else
            byte &= static_cast<std::uint8_t>(~mask);
    }
    return true;
}

}  // namespace codec
