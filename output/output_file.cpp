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
    if (m_buffer.size() + n > kBufferSize) {
        Flush();
        if (n >= kBufferSize) {  // a block this large goes straight out
            m_file.WriteAt(m_position, in, n);
            m_position += n;
            return;
        }
    }
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
