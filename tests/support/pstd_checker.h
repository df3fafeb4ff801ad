#pragma once
// A model decoder for the program streams the writers make (the P-STD of
// ISO/IEC 13818-1), kept apart from the multiplexer's own code: it reads the
// packs, checks the SCR order and rate, reassembles every stream, finds its
// access units and their decoding times as a decoder infers them (stamped in
// a PES header, else following the unit before by its duration), and plays
// the buffers through: when each byte arrives, when each unit is decoded, how
// full each buffer gets. Bytes count as arrived in the buffer at their pack's
// SCR and as complete at its end (the pack's length at its mux rate).

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace pstd {

struct StreamReport {
    int streamId = 0;
    int subStreamId = 0;           // AC-3 sub-stream, 0 for the others
    std::int64_t bufferSize = 0;   // from the PES extension, else the DVD bound
    std::int64_t bytes = 0;        // elementary-stream bytes
    int units = 0;                 // access units found
    int stamped = 0;               // of them with a PTS in their PES header
    int late = 0;                  // last byte arrived after the unit's decoding time
    std::int64_t worstLate = 0;    // ticks
    std::int64_t peak = 0;         // highest buffer fill, bytes
    int overflows = 0;             // arrivals that filled the buffer past its size
    std::int64_t maxLead = 0;      // decoding time minus arrival of the first byte, ticks
    std::int64_t firstDts = 0;     // on the file's clock (ticks from SCR 0... as written)
    std::int64_t firstPts = -1;
    int lostSync = 0;              // audio: bytes where a frame header was expected
};

struct Report {
    int packs = 0;
    int badPacks = 0;              // not 2048 bytes, or not made of packets
    int scrBackwards = 0;          // SCR not above the one before
    int rateViolations = 0;        // SCR closer to the one before than the pack takes
    std::set<std::uint32_t> muxRates;
    std::uint32_t rateBound = 0;   // of the system header
    bool systemHeaderFirst = false;
    int systemHeaders = 0;
    int navPacks = 0;              // packs with PCI and DSI
    int gops = 0;                  // video units that begin with a sequence header
    int gopsWithoutNav = 0;        // of them not in the pack right after a navigation pack
    bool endCode = false;          // the program end code ends the file
    std::int64_t firstScr = -1;
    std::vector<std::uint32_t> packRates;  // mux rate of each pack, in order
    std::map<int, StreamReport> streams;   // by (stream id << 8) | sub-stream id
    std::vector<std::string> problems;

    int LateUnits() const;
    int Overflows() const;
    std::int64_t MaxLead() const;
    // First decoding time minus the first SCR.
    std::int64_t StartDelay() const;
    const StreamReport* Stream(int streamId, int subStreamId = 0) const;
};

Report Check(const std::vector<unsigned char>& file);
Report CheckFile(const std::string& path);
// One paragraph for a failing test's message.
std::string Describe(const Report& report);
// What keeps a stream from being DVD-ready: packs that are not 2048 bytes,
// parse problems, an SCR going back or too fast, units late, buffers
// overflowing, data more than 1 s ahead of its decoding, no system header in
// the first pack, no end code, a GOP without its navigation pack, no packs at
// all. Empty when there is nothing; else Describe follows the list.
std::string Faults(const Report& report);

}  // namespace pstd
