#include "engine/start_code.h"

#include <cstring>

std::size_t FindStartCode(const std::uint8_t* buffer, std::size_t length, std::size_t from,
                          std::uint8_t code) {
    // Look for the 01 byte with memchr and check its neighbours: start codes
    // are rare, so the scan runs at memory speed.
    if (length < 4 || from > length - 4) return mpeg::kNotFound;
    std::size_t one = from + 2;
    while (one + 1 < length) {
        const void* hit = std::memchr(buffer + one, 0x01, length - 1 - one);
        if (hit == nullptr) return mpeg::kNotFound;
        one = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - buffer);
        if (buffer[one - 1] == 0 && buffer[one - 2] == 0 && buffer[one + 1] == code) return one - 2;
        ++one;
    }
    return mpeg::kNotFound;
}
