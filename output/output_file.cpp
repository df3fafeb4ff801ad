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
    m_buffer.clear();
    m_position = 0;
    if (!m_file.Open(path, platform::modeWrite | platform::modeCreate | platform::osSequentialScan,
                     error))
        return false;
    m_buffer.reserve(kBufferSize);
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
    if (m_buffer.size() + n > kBufferSize) Flush();
    m_buffer.insert(m_buffer.end(), in, in + n);
}

void COutputFile::Flush() {
    if (!m_file.IsOpen() || m_buffer.empty()) return;
    // The buffer is emptied even when the write fails, so that Close after an
    // error does not repeat the failure.
    const std::uint64_t at = m_position;
    m_position += m_buffer.size();
    try {
        m_file.WriteAt(at, m_buffer.data(), m_buffer.size());
    } catch (...) {
        m_buffer.clear();
        throw;
    }
    m_buffer.clear();
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
