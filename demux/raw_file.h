#pragma once
// A receiver recording as one seekable 64-bit byte stream over its segment
// files (Film.ts, Film.ts.001, ... or Film~0.vid, Film~1.vid, ...), optionally
// stored with every pair of bytes swapped. Small reads are served from a large
// read buffer, so the demultiplexer's 190-byte reads cost no system call.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"

class CRawFile {
  public:
    static constexpr int kMaxSegments = 200;
    enum SeekFrom { begin = 0, current = 1, end = 2 };

    CRawFile();
    ~CRawFile();
    CRawFile(const CRawFile&) = delete;
    CRawFile& operator=(const CRawFile&) = delete;

    // Without modeCreate: opens segment 0 and every further segment found.
    // With modeCreate: creates the layout copied by CopySegmentLayout (or one
    // segment). Success is judged by error->osError == -1.
    bool Open(const std::string& name, unsigned flags, platform::FileError* error);
    void Close();
    bool IsOpen() const { return !m_segments.empty() && m_segments.front().file.IsOpen(); }
    int Handle() const;  // segment 0's handle, or -1

    std::uint64_t GetPosition() const { return m_position; }
    std::uint64_t Seek(std::int64_t offset, int from);  // from end: the offset counts back
    std::uint64_t SeekToStart();
    std::uint64_t SeekToLastEnd();  // position of the last byte
    std::uint64_t GetLength() const;
    // The bytes a Read can deliver: in swapped mode an odd last byte has no
    // partner and is never delivered, so this is the length rounded down to
    // whole pairs; otherwise the length.
    std::uint64_t GetReadableLength() const;
    void SetLength(std::uint64_t length);  // shortens, deleting trailing segment files
    // Waits until every segment's written data is on the disk.
    void Flush();

    // Returns the bytes delivered: fewer at the end of the recording.
    std::size_t Read(void* buffer, std::size_t count);
    // The next count bytes (at most 4 MiB) without moving the position, straight
    // from the read buffer, which is filled from the position if need be;
    // nullptr when fewer remain. Valid until the next Read, Peek, Write or
    // SetLength. Counted for the throughput like a Read.
    const std::uint8_t* Peek(std::size_t count);
    // Throws platform::FileException on any failure, a short write included.
    void Write(const void* buffer, std::size_t count);

    std::string GetFileName() const;       // segment 0's path as given
    std::string GetFileTitle() const;      // segment 0's name without the folder
    std::string GetFilePath() const;       // segment 0's path
    std::string GetFileExtension() const;  // "ts", "tts", "vid", ... lower-case

    // Byte order: 1 transfers bytes as stored; anything else swaps each pair.
    void SetUnswapped(int mode);
    int GetUnswapped() const { return m_unswapped; }
    bool IsSwapped() const { return m_unswapped != 1; }

    // Before an Open with modeCreate: the output is split where other is.
    // Every segment but the last gets the size of other's segment of that
    // index, also when more is written than was set aside: further segment
    // files are then created as the writes need them.
    void CopySegmentLayout(const CRawFile& other);
    int GetSegmentCount() const { return static_cast<int>(m_segments.size()); }
    std::string GetSegmentPath(int index) const;
    std::uint64_t GetSegmentStart(int index) const;
    std::uint64_t GetSegmentLength(int index) const;
    // Whether path names one of this recording's segment files (device, inode).
    bool HoldsFile(const std::string& path) const;

    static std::string GetSegmentName(const std::string& name, int index);
    // The later segment files (index 1, 2, ... up to the first missing one)
    // that exist beside name: what reading name would take for its segments.
    static std::vector<std::string> ExistingLaterSegments(const std::string& name);

    // Bytes per second over about the last second of reads and writes.
    static std::uint32_t GetThroughput();

  private:
    struct Segment {
        std::uint64_t start = 0;
        std::uint64_t length = 0;
        std::string path;
        platform::PlatformFile file;
        std::uint64_t end() const { return start + length; }  // exclusive
    };

    void resetCache() { m_cacheLength = 0; }
    std::size_t readPhysical(std::uint64_t position, std::uint8_t* out, std::size_t count);
    void writePhysical(std::uint64_t position, const std::uint8_t* in, std::size_t count);
    std::size_t readLogical(std::uint64_t position, std::uint8_t* out, std::size_t count);
    void writeSwapped(std::uint64_t position, const std::uint8_t* in, std::size_t count);
    int segmentAt(std::uint64_t position) const;
    // Where a write at position goes; creates the next segment file when the
    // last one is full by the copied layout.
    std::size_t segmentForWrite(std::uint64_t position);
    bool openForReading(const std::string& name, unsigned flags, platform::FileError* error);
    bool openForCreate(const std::string& name, unsigned flags, platform::FileError* error);
    static void countBytes(std::size_t count);

    std::vector<Segment> m_segments;
    // Created outputs: the size of each segment but the last (empty: the last
    // segment takes whatever is written), and how further segments are made.
    std::vector<std::uint64_t> m_capacities;
    std::string m_createName;
    unsigned m_createFlags = 0;
    int m_unswapped = 1;
    std::uint64_t m_position = 0;
    std::vector<std::uint8_t> m_cache;  // logical bytes [m_cacheStart, +m_cacheLength)
    std::uint64_t m_cacheStart = 0;
    std::size_t m_cacheLength = 0;
    std::vector<std::uint8_t> m_swapScratch;  // stored bytes of a swapped read
};
