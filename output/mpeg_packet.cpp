#include "output/mpeg_packet.h"

#include <cstring>

void CMpegPacket::Clear() {
    Init(0, 0, 0, 0);
}

void CMpegPacket::Init(std::uint16_t pid, std::uint64_t pts, std::uint32_t kind,
                       std::uint8_t flag) {
    m_pid = pid;
    m_pts = pts;
    m_kind = kind;
    m_flag = flag;
    m_headerLength = 0;
    m_reserved = 0;
    m_afterCut = 0;
    m_data.clear();
    m_data.shrink_to_fit();
}

void CMpegPacket::SetData(const std::uint8_t* bytes, std::int32_t n) {
    if (n <= 0) {
        m_data.clear();
        m_data.shrink_to_fit();
        return;
    }
    if (bytes)
        m_data.assign(bytes, bytes + n);
    else
        m_data.assign(static_cast<std::size_t>(n), 0);
}
