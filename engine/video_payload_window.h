#pragma once
// The video elementary stream of a stretch of a recording: the payloads of the
// video PID's packets joined, each byte traceable to the packet it came from.
// Start codes are searched here and only here, so that a multiplex of several
// programmes never yields another programme's pictures, and a start code that
// straddles two packets is still found.

#include <cstddef>
#include <cstdint>
#include <vector>

class CRawFile;

class CVideoPayloadWindow {
  public:
    // Packets start at positions congruent to syncOffset modulo the packet
    // size (the scan re-synchronises where a recording is damaged). A 192-byte
    // packet is a 4-byte prefix and a transport packet; positions are those
    // of the prefix.
    CVideoPayloadWindow(CRawFile& file, std::uint16_t videoPid, std::uint64_t syncOffset,
                        std::uint64_t packetSize = 188);

    // Joins the payloads of the video packets that start in [from, to), from
    // the first packet start at or after `from`.
    void Load(std::uint64_t from, std::uint64_t to);

    // First packet start at or after `position` on the packet grid.
    std::uint64_t PacketStartAtOrAfter(std::uint64_t position) const;

    const std::uint8_t* Data() const { return m_es.data(); }
    std::size_t Size() const { return m_es.size(); }
    // mpeg::kNotFound when the window holds no such start code.
    std::size_t FindStartCode(std::size_t from, std::uint8_t code) const;
    // File position of the packet that holds elementary-stream byte `index`.
    std::uint64_t FindVideoPacketBack(std::size_t index) const;

    // For a picture start code at `index`: its picture_coding_type (1 I, 2 P,
    // 3 B), or 0 when the header is not in the window.
    int PictureCodingType(std::size_t index) const;
    // For a GOP header at `index`: whether its pictures need no earlier GOP.
    bool IsClosedGop(std::size_t index) const;

  private:
    struct PacketRef {
        std::size_t esStart;     // first payload byte's index in m_es
        std::uint64_t position;  // where the packet starts in the recording
    };

    void appendPayload(const std::uint8_t* packet, std::uint64_t position);
    bool isPacketAt(std::size_t at) const;

    CRawFile& m_file;
    std::uint16_t m_videoPid;
    std::uint64_t m_packetSize;
    std::uint64_t m_syncAt;  // the sync byte's place in a packet
    std::uint64_t m_syncOffset;
    std::vector<std::uint8_t> m_raw;
    std::vector<std::uint8_t> m_es;
    std::vector<PacketRef> m_packets;
};
