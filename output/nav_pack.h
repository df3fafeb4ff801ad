#pragma once
// The navigation pack that begins every VOBU of a DVD video object: a pack
// header, the system header, and the PCI and DSI packets of private stream 2.
// DVD authoring tools fill the PCI and DSI in; written here is what is known
// when the VOBU begins (its sector, its SCR, the presentation times of its
// pictures), the rest stays zero. Players of plain program streams skip it.

#include <cstdint>

class COutputFile;

class CNavPack {
public:
    struct sInfo {
        std::uint64_t scr = 0;        // of this pack, on the 33-bit clock
        std::uint32_t muxRate = 0;    // 50 bytes/s units
        std::uint32_t sector = 0;     // 2048-byte pack number in the file
        std::uint64_t startPtm = 0;   // first picture shown in the VOBU
        std::uint64_t endPtm = 0;     // end of the last picture shown
        int audioStreams = 0;
        int videoStreams = 0;
    };

    static constexpr int kSystemHeaderSize = 24;

    // Lays the pack out in out's buffer; false when out is not open.
    static bool Write(COutputFile& out, const sInfo& info);
    // The system header of a DVD program stream: rate bound 10.08 Mbit/s,
    // the stream counts, and the buffer bounds of video (232 KiB), MPEG
    // audio (4 KiB), private stream 1 (58 KiB) and private stream 2 (2 KiB).
    static void WriteSystemHeader(int audioStreams, int videoStreams, std::uint8_t* p);
};
