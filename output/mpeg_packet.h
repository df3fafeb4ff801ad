#pragma once
// One unit of stream data with its time stamp: a complete PES packet (header
// first) holding a GOP of video or one audio frame. A value type; copies
// duplicate the bytes.

#include <cstdint>
#include <vector>

// Packet kinds: the start code the unit begins with.
constexpr std::uint32_t kKindVideo = 0xB3;
constexpr std::uint32_t kKindMpegAudio = 0xC0;
constexpr std::uint32_t kKindAC3 = 0xBD;

class CMpegPacket {
public:
    void Clear();
    void Init(std::uint16_t pid, std::uint64_t pts, std::uint32_t kind, std::uint8_t flag);
    // Replaces the bytes. Without bytes (nullptr) the packet gets n zero bytes,
    // so that its data is never absent while its size says otherwise.
    void SetData(const std::uint8_t* bytes, std::int32_t n);
    // Takes the bytes over without copying them.
    void SetData(std::vector<std::uint8_t>&& bytes) { m_data = std::move(bytes); }
    void Release() { SetData(nullptr, 0); }

    std::int32_t Size() const { return static_cast<std::int32_t>(m_data.size()); }
    std::uint8_t* Data() { return m_data.data(); }
    const std::uint8_t* Data() const { return m_data.data(); }
    std::vector<std::uint8_t>& Bytes() { return m_data; }
    const std::vector<std::uint8_t>& Bytes() const { return m_data; }

    std::uint16_t m_pid = 0;
    std::uint32_t m_kind = 0;
    std::uint64_t m_pts = 0;
    std::uint8_t m_flag = 0;
    std::int32_t m_headerLength = 0;  // PES header bytes at the start of the data
    std::int32_t m_reserved = 0;
    // Audio: the first unit after the stream left a cut area.
    std::uint8_t m_afterCut = 0;

private:
    std::vector<std::uint8_t> m_data;
};
