#pragma once
// The 2048-byte packs of the program-stream and VOB writers: a 14-byte MPEG-2
// pack header with the SCR and the mux rate, one PES packet, then 0 to 7
// stuffing bytes in the pack header or a padding packet to fill the pack, and
// in the last pack the program end code. Also the 33-bit time fields of pack
// and PES headers.

#include <cstdint>

class COutputFile;

class CPackWriter {
public:
    static constexpr int kPackSize = 2048;
    static constexpr int kPesRoom = 2034;   // pack minus its 14-byte header
    static constexpr int kEndCodeSize = 4;  // 00 00 01 B9
    // program_mux_rate in units of 50 bytes/s: 25200 is the 10.08 Mbit/s of
    // a DVD; program streams of AC-3 announce 10750 where the streams allow it.
    static constexpr std::uint32_t kMuxRate = 25200;
    static constexpr std::uint32_t kAc3MuxRate = 10750;
    static constexpr std::uint64_t kClockMask = (1ull << 33) - 1;

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

    // The 33-bit stamp fields as ISO/IEC 13818-1 lays them out.
    static std::uint64_t ReadStamp(const std::uint8_t* p);
    static void WriteStamp(std::uint64_t stamp, std::uint8_t prefix, std::uint8_t* p);
    static void WriteScr(std::uint64_t scr, std::uint8_t* p);
    static std::uint64_t ReadScr(const std::uint8_t* p);  // the 6 SCR bytes of a pack header
    // program_mux_rate: 22 bits and two marker bits, 3 bytes.
    static void WriteMuxRate(std::uint32_t rate, std::uint8_t* p);
    static std::uint32_t ReadMuxRate(const std::uint8_t* p);
};
