#include "output/output_file.h"

#include <cstring>

COutputFile::~COutputFile() {
    try {
        Close();
    } catch (const platform::FileException&) {
        // The job has already ended with another error; nothing more to tell.
    }
}

bool COutputFile::Create(const std::string& path, platform::FileError* error) {
    m_fill = 0;
    m_position = 0;
    if (!m_file.Open(path, platform::modeWrite | platform::modeCreate | platform::osSequentialScan,
                     error))
        return false;
    if (!m_buffer) m_buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize);
    return true;
}

void COutputFile::Write(const void* bytes, std::size_t n) {
    if (!m_file.IsOpen() || n == 0) return;
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    // A large block (a whole GOP of an elementary stream) goes straight out
    // after what is gathered: copying it into the buffer first gains nothing.
    if (n >= kDirectWriteSize) {
        Flush();
        const std::uint64_t at = m_position;
        m_position += n;
        m_file.WriteAt(at, in, n);
        return;
    }
    std::memcpy(Reserve(n), in, n);
}

std::uint8_t* COutputFile::Reserve(std::size_t n) {
    if (!m_file.IsOpen() || n > kBufferSize) return nullptr;
    if (m_fill + n > kBufferSize) Flush();
    std::uint8_t* room = m_buffer.get() + m_fill;
    m_fill += n;
    return room;
}

void COutputFile::Flush() {
    if (!m_file.IsOpen() || m_fill == 0) return;
    // The buffer is emptied even when the write fails, so that Close after an
    // error does not repeat the failure.
    const std::uint64_t at = m_position;
    const std::size_t n = m_fill;
    m_position += n;
    m_fill = 0;
    m_file.WriteAt(at, m_buffer.get(), n);
}

void COutputFile::Close() {
    if (!m_file.IsOpen()) return;
    try {
        Flush();
    } catch (...) {
        m_file.Close();
        throw;
    }
    m_file.Close();
}
