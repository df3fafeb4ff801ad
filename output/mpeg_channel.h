#pragma once
// The per-stream buffer between the engine's stages. The demultiplexer fills
// an input channel's assembly buffer and queues finished units in its ring;
// the synchroniser moves them to output channels, which the writers drain
// into the channel's output file.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "output/mpeg_packet.h"

class COutputFile;

class CMpegChannel {
public:
    CMpegChannel(std::int32_t streamType, std::uint16_t pid, std::int32_t bufferCapacity);
    CMpegChannel(const CMpegChannel&) = delete;
    CMpegChannel& operator=(const CMpegChannel&) = delete;
    ~CMpegChannel();

    // Resizes the ring; any packets held are lost. At least 2 slots.
    void SetRingSize(std::int32_t n);
    // A larger ring that keeps the packets held, in their order.
    void GrowRing(std::int32_t n);
    // Stores a copy of the packet at the head. A full ring (capacity - 1
    // packets) logs and throws CMpegChannelException, keeping what it holds.
    void Add(const CMpegPacket& packet);
    void Add(CMpegPacket&& packet);
    // The oldest packet; throws std::logic_error on an empty ring.
    CMpegPacket& GetTail();
    // Frees the oldest packet's bytes and advances the tail.
    void RemoveTail();
    bool IsEmpty() const { return m_head == m_tail; }
    // Packets added since the channel was made.
    std::int64_t Added() const { return m_added; }
    std::int32_t Count() const { return m_head - m_tail; }
    std::int32_t RingCapacity() const { return m_ringCapacity; }
    std::int32_t Head() const { return m_head; }
    std::int32_t Tail() const { return m_tail; }
    // Sets the free-running counters (tests of the counter folding).
    void SetCountersForTesting(std::int32_t head, std::int32_t tail);
    const CMpegPacket& Slot(std::int32_t index) const { return m_packets[index]; }

    // Appends to the assembly buffer; a full buffer logs and throws
    // CMpegChannelException and keeps its contents.
    void Append(const std::uint8_t* bytes, std::int32_t n);
    std::uint8_t* Buffer() { return m_buffer.data(); }
    std::int32_t BufferFill() const { return static_cast<std::int32_t>(m_buffer.size()); }
    std::int32_t BufferCapacity() const { return m_bufferCapacity; }
    void EmptyBuffer() { m_buffer.clear(); }
    // Keeps the first length bytes of the assembly buffer.
    void TruncateBuffer(std::int32_t length);
    // A larger assembly buffer (a video stream of a high bit rate needs room
    // for one GOP); never smaller than what it holds.
    void SetBufferCapacity(std::int32_t capacity);
    // Hands over the first `length` bytes of the assembly buffer without
    // copying them (a video unit of a megabyte); the channel goes on with a
    // new, empty buffer.
    std::vector<std::uint8_t> TakeBuffer(std::int32_t length);

    // "H:MM:SS,mmm" of a stamp, counted from the stream's first stamp.
    std::string FormatTime(std::uint64_t timeStamp) const;

    std::shared_ptr<COutputFile> m_file;  // opened by a writer
    std::int32_t m_streamType;
    std::uint16_t m_pid;
    std::uint8_t m_errorMark = 0;
    std::uint8_t m_dropMark = 0;
    std::uint8_t m_started = 0;
    std::uint8_t m_checkAllowed = 0;  // synchroniser: the lead check may run
    std::uint8_t m_syncFlag = 0;      // synchroniser: spare flag
    std::int64_t m_missingSound = 0;
    std::int64_t m_runningDuration = 0;
    std::uint64_t m_currentPTS = 0;
    std::int64_t m_compensation = 0;  // 0: initial audio delay not compensated yet
    std::array<std::uint8_t, 255> m_savedHeader{};
    std::uint8_t m_seqHeaderSeen = 0;  // audio channels: MPEG audio (not AC-3)
    std::uint8_t m_inCut = 0;
    std::int32_t m_expectedUnitLength = 0;
    std::int32_t m_savedHeaderLength = 0;
    std::uint64_t m_lastPTS = 0;      // synchroniser: last source stamp, 0 = none
    std::uint64_t m_startPTS = 0;     // first stamp of the stream, 0 = none
    std::int64_t m_syncTime = 0;      // synchroniser: output time line
    std::int32_t m_frameDuration = 0;
    // Audio: the PTS of a PES that began while a frame was still being
    // assembled; it belongs to the next frame, not to the one completed.
    std::uint64_t m_pendingPTS = 0;
    std::uint8_t m_hasPendingPTS = 0;
    // Audio: the stream has left a cut area; its next unit is marked so.
    std::uint8_t m_leftCut = 0;
    // Length of the PES header at the start of the unit being assembled.
    std::int32_t m_unitHeaderLength = 0;
    // Video: the unit in the buffer was cut at a loss; nothing more is
    // collected for it.
    std::uint8_t m_unitSealed = 0;
    // Audio: the frame in the buffer has had its header read (it may come
    // split over two packets), so m_expectedUnitLength holds its length.
    std::uint8_t m_frameLengthKnown = 0;
    // Audio: the last frame's sample rate and samples per channel, so that
    // a time line can count 44.1 kHz frames (2351.02 ticks) exactly.
    std::int32_t m_sampleRate = 0;
    std::int32_t m_frameSamples = 0;
    // Synchroniser, audio: the part of a tick its time line owes (in
    // 1/m_sampleRate ticks).
    std::int64_t m_tickRemainder = 0;
    // What the assembly has read of the stream, for the synchroniser's look
    // ahead: the stamp of the latest PES header (source clock; valid when
    // m_seenPTS is set), and for video the stamp of the unit being
    // assembled (valid when m_unitPTSValid is set).
    std::uint64_t m_latestPTS = 0;
    std::uint8_t m_seenPTS = 0;
    std::uint64_t m_unitPTS = 0;
    std::uint8_t m_unitPTSValid = 0;
    // The demultiplexer has read all there is: nothing more will arrive.
    std::uint8_t m_atEnd = 0;

private:
    std::vector<CMpegPacket> m_packets;
    std::int32_t m_ringCapacity = 0;
    std::int32_t m_head = 0;
    std::int32_t m_tail = 0;
    std::int64_t m_added = 0;
    std::int32_t m_bufferCapacity;
    // Only reserved: output channels never touch theirs, and the pages of a
    // buffer are only faulted in as far as it is filled.
    std::vector<std::uint8_t> m_buffer;

    CMpegPacket& ReserveHead();
};
