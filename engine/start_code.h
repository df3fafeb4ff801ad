#pragma once
// MPEG video start codes (00 00 01 xx) in elementary-stream bytes.

#include <cstddef>
#include <cstdint>

namespace mpeg {
constexpr std::uint8_t kPictureStartCode = 0x00;
constexpr std::uint8_t kSequenceHeaderCode = 0xB3;
constexpr std::uint8_t kGroupStartCode = 0xB8;
constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
}  // namespace mpeg

// Index of the first start code 00 00 01 `code` that begins at or after
// `from` and lies wholly inside the buffer; mpeg::kNotFound if there is none.
std::size_t FindStartCode(const std::uint8_t* buffer, std::size_t length, std::size_t from,
                          std::uint8_t code);
