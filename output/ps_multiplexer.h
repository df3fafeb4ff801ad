#pragma once
// Multiplexes elementary streams into an MPEG-2 program stream of 2048-byte
// packs that follows the P-STD model: a pack's SCR is the time its bytes enter
// the decoder, chosen so that every access unit is in its buffer by its DTS
// and no buffer overflows. Of the streams whose buffer has room for a packet,
// the one whose next unit is due first is fed; when none has room, the clock
// jumps ahead to the next decoding time. Every GOP of the video begins a VOBU
// with a navigation pack (so DVD authoring tools accept the stream), the first
// pack carries the system header, the last one the program end code.
//
// Units arrive stream by stream as the synchroniser hands them on; a pack is
// only decided once every stream has data queued (or has been silent for too
// long), so that a unit that comes later never belongs before a pack written.

#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "output/mux_stream.h"

class COutputFile;

class CPsMultiplexer {
public:
    // Time stamps lead the first SCR by this start-up delay (0.5 s).
    static constexpr std::int64_t kStartDelay = 45000;
    // No byte enters a buffer more than 0.7 s before its unit is decoded.
    static constexpr std::int64_t kMaxLead = 63000;
    // A stream with nothing queued holds the others back until this much is
    // queued (it may still send units older than theirs); one that has sent
    // nothing yet, until kStartHoldBytes.
    static constexpr std::int64_t kHoldBytes = 48ll << 20;
    static constexpr std::int64_t kStartHoldBytes = 8ll << 20;

    // ac3MuxRate: announce the lower AC-3 mux rate from the first AC-3 pack
    // on, as long as the streams fit into it.
    CPsMultiplexer(COutputFile& out, bool ac3MuxRate);
    CPsMultiplexer(const CPsMultiplexer&) = delete;
    CPsMultiplexer& operator=(const CPsMultiplexer&) = delete;

    CMuxStream& AddStream(MuxKind kind, std::uint8_t streamId, std::uint8_t subStreamId = 0);
    // Queues a unit of a stream: a whole PES packet with its header length and
    // the PTS of its first access unit on the 33-bit clock. False when the
    // unit holds nothing to write.
    bool Queue(CMuxStream& stream, std::vector<std::uint8_t>&& bytes, std::int32_t headerLength,
               std::uint64_t pts);
    // Writes the packs that what is queued decides. With final set nothing
    // more comes: everything is written and the stream ends with the program
    // end code.
    void Pump(bool final);

    bool Finished() const { return m_finished; }
    std::int64_t Packs() const { return m_packs; }
    std::int64_t NavPacks() const { return m_navPacks; }
    std::int64_t LateUnits() const;
    // The lower AC-3 mux rate was announced, and then given up as too low.
    bool Ac3RateUsed() const { return m_ac3RateUsed; }
    bool Ac3RateGivenUp() const { return m_ac3RateOff; }

private:
    struct Choice {
        CMuxStream* stream = nullptr;
        std::int64_t nextReady = INT64_MAX;  // when one becomes ready, if none is now
    };

    COutputFile& m_out;
    std::vector<std::unique_ptr<CMuxStream>> m_streams;
    CMuxStream* m_video = nullptr;
    bool m_ac3Switch;
    bool m_ac3RateOn = false;
    bool m_ac3RateOff = false;
    bool m_ac3RateUsed = false;
    bool m_clockSet = false;
    std::uint64_t m_refRaw = 0;  // last 33-bit stamp seen and its place on the clock
    std::int64_t m_refClock = 0;
    bool m_started = false;
    std::int64_t m_origin = 0;  // the clock at SCR 0
    std::int64_t m_scr = 0;     // the earliest SCR of the next pack
    std::uint32_t m_lastRate = 25200;
    std::int64_t m_packs = 0;
    std::int64_t m_navPacks = 0;
    bool m_videoWritten = false;
    bool m_endWritten = false;
    bool m_finished = false;
    // Units of the last second queued (time, bytes), for the AC-3 rate.
    std::deque<std::pair<std::int64_t, std::int64_t>> m_recent;
    std::int64_t m_recentBytes = 0;

    std::int64_t clockOf(std::uint64_t stamp);
    std::int64_t pending() const;
    bool mustWait() const;
    void start();
    Choice choose() const;
    std::uint32_t muxRate(const CMuxStream& stream);
    bool holdsAt(std::uint32_t rate) const;
    void meter(std::int64_t time, std::int64_t bytes);
    void giveUpAc3Rate();
    bool writePack(CMuxStream& stream, bool final);
    bool writeNavPack(std::uint32_t rate);
    void finish();
};
