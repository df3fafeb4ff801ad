#pragma once
// A writer's output file: bytes are gathered in a large buffer and written in
// big blocks, so that a pack or frame never costs a system call of its own.
// The bytes on disk are exactly those handed to Write, in order. A failed or
// short write (disk full) throws platform::FileException, from Write or Close.

#include <cstdint>
#include <string>
#include <memory>

#include "platform/file.h"

class COutputFile {
public:
    static constexpr std::size_t kBufferSize = 4u << 20;
    static constexpr std::size_t kDirectWriteSize = 128u << 10;

    COutputFile() = default;
    ~COutputFile();  // closes without throwing; call Close to learn of errors
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Creates (truncates) the file for writing; false with error filled on failure.
    bool Create(const std::string& path, platform::FileError* error);
    bool IsOpen() const { return m_file.IsOpen(); }
    const std::string& Path() const { return m_file.Path(); }

    void Write(const void* bytes, std::size_t n);
    // Room for n bytes (at most kBufferSize) at the end of what is gathered,
    // for the caller to fill: they count as written, in order, like a Write.
    // nullptr when the file is not open.
    std::uint8_t* Reserve(std::size_t n);
    void Flush();
    void Close();
    std::uint64_t BytesWritten() const { return m_position + m_fill; }

private:
    platform::PlatformFile m_file;
    std::unique_ptr<std::uint8_t[]> m_buffer;  // kBufferSize bytes, m_fill of them gathered
    std::size_t m_fill = 0;
    std::uint64_t m_position = 0;  // file offset of m_buffer's first byte
};
