#pragma once
// The video elementary stream of a stretch of a recording: the payloads of the
// video PID's packets joined, each byte traceable to the packet it came from.
// Start codes are searched here and only here, so that a multiplex of several
// programmes never yields another programme's pictures, and a start code that
// straddles two packets is still found.

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
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

    // A PES header of the video PID: where its payload begins in the
    // elementary stream, the packet it came in and its time stamp.
    struct PesHeader {
        std::size_t esIndex = 0;
        std::uint64_t position = 0;
        bool hasPts = false;
        std::int64_t pts = 0;
    };
    const std::vector<PesHeader>& VideoPesHeaders() const { return m_pesHeaders; }
    // The PES header whose payload holds elementary-stream byte `index`;
    // nullptr before the first one.
    const PesHeader* PesHeaderOf(std::size_t index) const;

    // The first unit start of every PES packet of these PIDs (the sound,
    // subtitle and teletext streams) is noted by the next Load.
    void SetUnitPids(std::set<std::uint16_t> pids) { m_unitPids = std::move(pids); }
    struct UnitStart {
        std::uint16_t pid = 0;
        std::uint64_t position = 0;
        bool hasPts = false;
        std::int64_t pts = 0;
    };
    const std::vector<UnitStart>& UnitStarts() const { return m_unitStarts; }
    // Packets (of any PID) whose adaptation field carries a PCR.
    const std::vector<std::uint64_t>& PcrPackets() const { return m_pcrPackets; }

    // The bytes of the packet (its prefix included) that starts at
    // `position`, when the last Load read it; nullptr otherwise.
    const std::uint8_t* PacketAt(std::uint64_t position) const;
    // Where elementary-stream byte `index` lies in the recording.
    std::uint64_t FilePositionOf(std::size_t index) const;
    // The video bytes of the packet at `position`: their first index in the
    // elementary stream, how many, and where they begin in the packet
    // (counted from its prefix). False when the packet brought none.
    bool VideoBytesOf(std::uint64_t position, std::size_t* esStart, std::size_t* count,
                      std::size_t* payloadAt) const;
    // How many video packets with video bytes start in [from, to).
    std::size_t VideoPacketsIn(std::uint64_t from, std::uint64_t to) const;
    std::uint64_t PacketSize() const { return m_packetSize; }
    // The first packet start loaded and the end of the stretch loaded.
    std::uint64_t LoadedFrom() const { return m_loadedFrom; }
    std::uint64_t LoadedTo() const { return m_loadedTo; }

  private:
    struct PacketRef {
        std::size_t esStart;     // first payload byte's index in m_es
        std::uint64_t position;  // where the packet starts in the recording
        std::uint32_t payloadAt;  // offset of that byte from the packet start
    };
    const PacketRef* refOf(std::size_t index) const;
    void noteOtherPacket(const std::uint8_t* packet, std::uint64_t position);

    void appendPayload(const std::uint8_t* packet, std::uint64_t position);
    bool isPacketAt(std::size_t at) const;
    // Reads the next chunk of the stretch, keeping its bytes from keepFrom.
    void readOn(std::size_t keepFrom);

    CRawFile& m_file;
    std::uint16_t m_videoPid;
    std::uint64_t m_packetSize;
    std::uint64_t m_syncAt;  // the sync byte's place in a packet
    std::uint64_t m_syncOffset;
    // The stretch's bytes [m_chunkFrom, m_chunkEnd) (counted from its first
    // packet) while it is taken apart.
    std::vector<std::uint8_t> m_chunk;
    std::size_t m_chunkFrom = 0;
    std::size_t m_chunkEnd = 0;
    std::size_t m_wanted = 0;
    bool m_readEnded = true;
    std::size_t m_rawSize = 0;  // bytes of the stretch read
    // Packets PacketAt has read again.
    mutable std::map<std::uint64_t, std::vector<std::uint8_t>> m_copies;
    std::vector<std::uint8_t> m_es;
    std::vector<PacketRef> m_packets;
    std::vector<PesHeader> m_pesHeaders;
    std::set<std::uint16_t> m_unitPids;
    std::vector<UnitStart> m_unitStarts;
    std::vector<std::uint64_t> m_pcrPackets;
    std::uint64_t m_loadedFrom = 0;
    std::uint64_t m_loadedTo = 0;
};
