#pragma once
// Small text helpers for log lines and info texts.

#include <cstdint>
#include <string>
#include <string_view>

std::string DirPart(std::string_view path);       // the text before the last separator
std::string BaseName(std::string_view path);      // after the last separator, before the last "."
std::string FileNamePart(std::string_view path);  // after the last separator
std::string JoinPath(std::string_view folder, std::string_view name);

std::string Hex16(std::uint16_t value);  // "0x%04X"
std::string Hex32(std::uint32_t value);  // "0x%08X"
std::string Hex64(std::uint64_t value);  // "0x%08X %08X", high part first
std::string LongToStr(std::int32_t value);
std::string IntToStr(std::int32_t value);
std::string ULongToStr(std::uint32_t value);
std::string RealToStr(double value, int decimals);  // "%2.1f" for 1 decimal, else "%2.2f"

// printf into a string of any length.
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Qt widgets break lines at "\n"; the texts carry "\r\n".
std::string ToWidgetText(std::string_view text);
