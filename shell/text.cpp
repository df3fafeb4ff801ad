#include "shell/text.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {
// Both separators split a path: recordings may come with either.
std::size_t lastSeparator(std::string_view path) {
    return path.find_last_of("/\\");
}
}  // namespace

std::string DirPart(std::string_view path) {
    auto pos = lastSeparator(path);
    if (pos == std::string_view::npos) return {};
    if (pos == 0) return "/";  // the root stays the root
    return std::string(path.substr(0, pos));
}

std::string FileNamePart(std::string_view path) {
    auto pos = lastSeparator(path);
    return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string BaseName(std::string_view path) {
    std::string name = FileNamePart(path);
    auto dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (!out.empty() && out.back() != '/' && out.back() != '\\') out += '/';
    out += name;
    return out;
}

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        out.assign(buffer.data(), static_cast<std::size_t>(n));
    }
    va_end(args);
    return out;
}

std::string Hex16(std::uint16_t value) {
    return FormatString("0x%04X", value);
}
std::string Hex32(std::uint32_t value) {
    return FormatString("0x%08X", value);
}
std::string Hex64(std::uint64_t value) {
    return FormatString("0x%08X %08X", static_cast<unsigned>(value >> 32),
                        static_cast<unsigned>(value & 0xFFFFFFFFu));
}
std::string LongToStr(std::int32_t value) {
    return FormatString("%d", value);
}
std::string IntToStr(std::int32_t value) {
    return FormatString("%d", value);
}
std::string ULongToStr(std::uint32_t value) {
    return FormatString("%u", value);
}
std::string RealToStr(double value, int decimals) {
    return FormatString(decimals == 1 ? "%2.1f" : "%2.2f", value);
}

std::string ToWidgetText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}
