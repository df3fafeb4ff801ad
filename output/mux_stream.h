#pragma once
// One elementary stream inside the program-stream multiplexer: the units
// queued for it, cut into access units with their decoding times, and a model
// of its buffer in the decoder (the P-STD buffer of ISO/IEC 13818-1): what has
// been delivered and is not decoded yet. The multiplexer asks it what the next
// PES packet would hold and from when that packet fits into the buffer.
//
// Times are on the multiplexer's clock: 90 kHz ticks, continuous (no 33-bit
// wrap), the same clock as the SCR.

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

enum class MuxKind { Video, MpegAudio, Ac3 };

struct sMuxAccessUnit {
    std::int64_t dts = 0;
    std::int64_t pts = 0;
    // When the decoder takes it: its DTS, but never before the unit decoded
    // before it (decoding is in order, whatever a damaged stamp says).
    std::int64_t deadline = 0;
    std::int32_t size = 0;
    std::int32_t left = 0;     // bytes not delivered yet
    bool stamped = false;      // a PES header it begins in carries its PTS (and DTS)
    bool continuous = false;   // audio: its PTS follows the previous frame's end
};

// What one PES packet of the stream holds.
struct sPesPlan {
    std::int32_t header = 0;      // PES header bytes
    std::int32_t subHeader = 0;   // AC-3: sub-stream id, frame count, first-unit pointer
    std::int32_t payload = 0;     // elementary-stream bytes
    bool stamped = false;         // it begins with a unit whose stamps the header carries
    std::int32_t frames = 0;      // access units that begin in the payload
    std::int32_t firstAt = -1;    // payload offset of the first of them
    std::int64_t lastDeadline = 0;  // of the last unit with bytes in the payload
    std::int32_t Size() const { return header + subHeader + payload; }
    std::int32_t BufferBytes() const { return subHeader + payload; }
};

class CMuxStream {
public:
    // Decoder buffer sizes (bytes) of a DVD decoder: MPEG-2 MP@ML video
    // 232 KiB; MPEG audio 4 KiB; AC-3 4 KiB as its PES extension announces.
    static constexpr std::int32_t kVideoBuffer = 232 * 1024;
    static constexpr std::int32_t kAudioBuffer = 4 * 1024;
    // Safety margin of the model (ticks): a unit counts as decoded this much
    // after its deadline and must be complete this much before it, so that a
    // decoder that infers unstamped times from frame durations agrees.
    static constexpr std::int64_t kMargin = 90;

    CMuxStream(MuxKind kind, std::uint8_t streamId, std::uint8_t subStreamId);

    MuxKind Kind() const { return m_kind; }

    // Queues a unit: bytes is a whole PES packet whose header is headerLength
    // bytes long; pts is the PTS of its first access unit on the multiplexer
    // clock. A unit without payload or with a damaged header is ignored (false).
    bool Queue(std::vector<std::uint8_t>&& bytes, std::int32_t headerLength, std::int64_t pts);

    std::int64_t Pending() const { return m_pending; }
    bool HasReceived() const { return m_received; }
    // Video: the next byte to deliver begins a unit (a GOP); a VOBU starts there.
    bool AtUnitStart() const;
    // The deadline of the access unit that holds the next byte to deliver.
    std::int64_t NextDeadline() const;
    // The DTS of that access unit.
    std::int64_t NextDts() const;
    // Video: display start and end of the unit that begins next (for the
    // navigation pack). False when none begins.
    bool NextUnitDisplay(std::int64_t& start, std::int64_t& end) const;

    // Appends (deadline, bytes not delivered) of the units due by horizon, in
    // order; a unit that begins a GOP adds the pack of its navigation data.
    void DueBy(std::int64_t horizon, std::vector<std::pair<std::int64_t, std::int64_t>>& out) const;

    // The next PES packet in at most room bytes of a pack.
    sPesPlan Plan(std::int32_t room) const;
    // Writes that PES packet at out; its bytes count as delivered at scr for
    // the buffer and as complete at arrived. Stamps are written relative to origin.
    void Write(const sPesPlan& plan, std::int64_t origin, std::int64_t scr, std::int64_t arrived,
               std::uint8_t* out);

    // The earliest time from now on at which need more bytes fit into the buffer.
    std::int64_t TimeWithRoom(std::int32_t need, std::int64_t now) const;

    // Access units whose last byte arrived after their deadline.
    std::int64_t LateUnits() const { return m_late; }

private:
    struct Unit {
        std::vector<std::uint8_t> bytes;
        std::int32_t pos = 0;  // next byte to deliver
        std::uint8_t flags = 0;  // PES flag bits kept: copyright, original
        std::int64_t displayStart = 0;
        std::int64_t displayEnd = 0;
    };
    struct Delivered {
        std::int64_t removal;
        std::int32_t bytes;
    };

    MuxKind m_kind;
    std::uint8_t m_streamId;
    std::uint8_t m_subStreamId;
    std::int32_t m_bufferSize;
    std::deque<Unit> m_queue;
    std::deque<sMuxAccessUnit> m_aus;
    std::deque<Delivered> m_buffer;
    std::int32_t m_fill = 0;
    std::int64_t m_pending = 0;
    std::int64_t m_lastDeadline = INT64_MIN;
    bool m_received = false;
    bool m_firstPes = true;
    // Video: 90 kHz ticks per frame, numerator over denominator (25 Hz until a
    // sequence header says otherwise).
    std::int64_t m_periodNum = 3600;
    std::int64_t m_periodDen = 1;
    // Audio: where the previous frame ends (its PTS plus its duration).
    std::int64_t m_audioEnd = INT64_MIN;
    std::int64_t m_late = 0;

    // The decoder takes every unit whose time has come by now.
    void decode(std::int64_t now);
    void queueVideo(Unit& unit, std::int64_t pts);
    void queueAudio(Unit& unit, std::int64_t pts);
    void addUnit(sMuxAccessUnit au);
    std::int32_t headerBytes(bool stamped, const sMuxAccessUnit* au) const;
    std::int32_t writeHeader(const sPesPlan& plan, std::int64_t origin, std::uint8_t* out) const;
    void copyPayload(std::int32_t n, std::uint8_t* out);
    void account(std::int32_t bufferBytes, std::int32_t payload, std::int64_t arrived);
};
