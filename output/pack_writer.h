#pragma once
// Cuts PES packets into 2048-byte MPEG-2 program-stream packs: a 14-byte pack
// header whose SCR is the packet's time stamp, one PES packet, and stuffing or
// a padding packet to fill the pack. Shared by the .mpg and .vob writers.

#include <array>
#include <cstdint>

class CMpegPacket;
class COutputFile;

class CPackWriter {
public:
    static constexpr int kPackSize = 2048;
    static constexpr int kPesRoom = 2034;  // pack minus its 14-byte header
    static constexpr std::uint64_t kClockMask = (1ull << 33) - 1;
    static constexpr int kEndCodeSize = 4;  // 00 00 01 B9
    // program_mux_rate in units of 50 bytes/s: 25200 is the 10.08 Mbit/s of
    // a DVD; program streams of AC-3 announce 10750 where the streams allow it.
    static constexpr std::uint32_t kMuxRate = 25200;
    static constexpr std::uint32_t kAc3MuxRate = 10750;

    // Lays out one pack in out's buffer: the pack header (scr, muxRate and
    // the stuffing), room for a PES packet of pesSize bytes, which the caller
    // fills through the pointer returned, a padding packet when 8 or more
    // bytes are left, and the program end code when endCode is set. nullptr
    // when out is not open or the PES packet does not fit.
    static std::uint8_t* LayOutPack(COutputFile& out, std::uint64_t scr, std::uint32_t muxRate,
                                    int pesSize, bool endCode);
    // The 90 kHz ticks one pack takes at muxRate, rounded up: the least
    // distance between the SCRs of two packs.
    static std::int64_t PackTicks(std::uint32_t muxRate);
    // program_mux_rate: 22 bits and two marker bits, 3 bytes.
    static void WriteMuxRate(std::uint32_t rate, std::uint8_t* p);
    static std::uint32_t ReadMuxRate(const std::uint8_t* p);

    // Back to the initial state of a job: mux rate 25200, no SCR base.
    void Reset();
    // The SCR base: stamps are written relative to it on the 33-bit clock.
    void SetScrBase(std::uint64_t base);
    bool HasScrBase() const { return m_scrBaseSet; }
    // Program streams of AC-3 announce a lower mux rate from the first AC-3 pack on.
    void SetAc3MuxRate() { m_muxRate = {0x00, 0xA7, 0xFB}; }

    // Writes one packet as packs. streamId is the PES stream id to use (0xE0,
    // 0xC0 + n, or 0xBD for AC-3, which then gets subStreamId 0x80 + n).
    // Returns the number of packs; 0 when the packet is malformed.
    int WritePacket(const CMpegPacket& packet, std::uint8_t streamId, std::uint8_t subStreamId,
                    COutputFile& out);

    // The 33-bit stamp fields as ISO/IEC 13818-1 lays them out.
    static std::uint64_t ReadStamp(const std::uint8_t* p);
    static void WriteStamp(std::uint64_t stamp, std::uint8_t prefix, std::uint8_t* p);
    static void WriteScr(std::uint64_t scr, std::uint8_t* p);
    static std::uint64_t ReadScr(const std::uint8_t* p);  // the 6 SCR bytes of a pack header

private:
    std::array<std::uint8_t, 3> m_muxRate{0x01, 0x89, 0xC3};  // 25200 x 50 bytes/s
    std::uint64_t m_scrBase = 0;
    bool m_scrBaseSet = false;

    int BuildHeader(const CMpegPacket& packet, bool first, std::uint64_t pts, std::uint8_t streamId,
                    std::uint8_t subStreamId, std::uint8_t* out) const;
};
