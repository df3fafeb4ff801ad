#pragma once
// The fuzz input as a recording on disk: one file per process, rewritten for
// every input.

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <string>

#include "demux/raw_file.h"

inline std::string FuzzFilePath() {
    static const std::string path = "/tmp/ravelo-fuzz-" + std::to_string(::getpid()) + ".ts";
    return path;
}

// Writes the bytes to the process's fuzz file; false when the system refuses.
inline bool WriteFuzzRecording(const std::uint8_t* data, std::size_t size) {
    std::FILE* out = std::fopen(FuzzFilePath().c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(data, 1, size, out) == size;
    std::fclose(out);
    return written;
}

// Writes the bytes and opens them read-only; false when the system refuses.
inline bool OpenFuzzRecording(CRawFile& file, const std::uint8_t* data, std::size_t size) {
    platform::FileError error;
    return WriteFuzzRecording(data, size) &&
           file.Open(FuzzFilePath(), platform::modeRead, &error) && !error.Failed();
}
