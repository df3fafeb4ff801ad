#include "demux/raw_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/clock.h"

namespace {

constexpr std::size_t kCacheSize = 4 << 20;
// Reads this large gain nothing from the read buffer: they go straight to disk.
constexpr std::size_t kDirectReadSize = 256 << 10;

// Process-wide data-rate counters, shared by every recording file.
struct RateCounters {
    std::uint32_t bytesRequested = 0;
    std::uint64_t sampleTime = 0;
    std::uint32_t rate = 0;
};

RateCounters& rate() {
    static RateCounters counters;
    return counters;
}

void resetRate() {
    rate().bytesRequested = 0;
    rate().rate = 0;
    rate().sampleTime = platform::TickCount();
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A backslash is an ordinary character of a Linux file name, not a folder.
std::string titleOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The last three characters of a title, without a leading ".", lower-case.
std::string extensionOf(const std::string& title) {
    std::string ext = title.size() > 3 ? title.substr(title.size() - 3) : title;
    if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
    return lower(ext);
}

}  // namespace

CRawFile::CRawFile() {
    resetRate();
}

CRawFile::~CRawFile() {
    Close();
}

void CRawFile::countBytes(std::size_t count) {
    rate().bytesRequested += static_cast<std::uint32_t>(count);
}

std::uint32_t CRawFile::GetThroughput() {
    std::uint64_t now = platform::TickCount();
    std::uint64_t elapsed = now - rate().sampleTime;
    if (elapsed <= 1000) return rate().rate;
    double perSecond =
        static_cast<double>(rate().bytesRequested) * 1000.0 / static_cast<double>(elapsed);
    rate().rate = static_cast<std::uint32_t>((perSecond + rate().rate) / 2.0);
    rate().bytesRequested = 0;
    rate().sampleTime = now;
    return rate().rate;
}

std::string CRawFile::GetSegmentName(const std::string& name, int index) {
    if (index == 0) return name;
    if (extensionOf(titleOf(name)) == "vid") {
        // Humax receivers split as Film~0.vid, Film~1.vid, ...
        std::string base = name;
        std::string suffix = ".vid";
        if (lower(name).find("~0.vid") != std::string::npos && name.size() >= 6) {
            suffix = name.substr(name.size() - 4);  // keep the extension's case
            base = name.substr(0, name.size() - 6);
        }
        return base + "~" + std::to_string(index) + suffix;
    }
    std::string digits = "000" + std::to_string(index);
    return name + "." + digits.substr(digits.size() - 3);
}

bool CRawFile::Open(const std::string& name, unsigned flags, platform::FileError* error) {
    resetRate();
    resetCache();
    m_position = 0;
    if (error) error->Reset();
    return (flags & platform::modeCreate) ? openForCreate(name, flags, error)
                                          : openForReading(name, flags, error);
}

bool CRawFile::openForReading(const std::string& name, unsigned flags, platform::FileError* error) {
    Close();
    Segment first;
    if (!first.file.Open(name, flags, error)) return false;
    first.path = name;
    first.length = first.file.Length();
    m_segments.push_back(std::move(first));
    std::uint64_t total = m_segments.front().length;
    for (int index = 1; index < kMaxSegments; ++index) {
        Segment next;
        next.path = GetSegmentName(name, index);
        platform::FileError segmentError;
        if (!next.file.Open(next.path, flags, &segmentError)) {
            if (platform::IsAccessDenied(segmentError.osError)) {
                // A later segment we may not write: the caller opens read-only.
                if (error) *error = segmentError;
                Close();
                return false;
            }
            break;  // a missing segment ends the chain
        }
        next.start = total;
        next.length = next.file.Length();
        total += next.length;
        m_segments.push_back(std::move(next));
    }
    return true;
}

bool CRawFile::openForCreate(const std::string& name, unsigned flags, platform::FileError* error) {
    // The layout copied from the source decides where the output is split.
    if (m_segments.empty()) m_segments.push_back(Segment{});
    m_createName = name;
    m_createFlags = flags;
    for (std::size_t index = 0; index < m_segments.size(); ++index) {
        Segment& segment = m_segments[index];
        segment.path = GetSegmentName(name, static_cast<int>(index));
        platform::FileError segmentError;
        if (!segment.file.Open(segment.path, flags, &segmentError)) {
            if (error) *error = segmentError;
            Close();
            return false;
        }
    }
    return true;
}

void CRawFile::Close() {
    for (Segment& segment : m_segments)
        segment.file.Close();
    m_segments.clear();
    m_capacities.clear();
    m_createName.clear();
    resetCache();
}

int CRawFile::Handle() const {
    return m_segments.empty() ? -1 : m_segments.front().file.Handle();
}

void CRawFile::CopySegmentLayout(const CRawFile& other) {
    m_capacities.clear();
    for (const Segment& source : other.m_segments) {
        Segment copy;
        copy.start = source.start;
        copy.length = source.length;
        m_segments.push_back(std::move(copy));
        m_capacities.push_back(source.length);
    }
    // The last segment takes the rest, as the source's last one does.
    if (!m_capacities.empty()) m_capacities.pop_back();
}

std::vector<std::string> CRawFile::ExistingLaterSegments(const std::string& name) {
    std::vector<std::string> found;
    for (int index = 1; index < kMaxSegments; ++index) {
        std::string path = GetSegmentName(name, index);
        if (!platform::FileExists(path)) break;
        found.push_back(std::move(path));
    }
    return found;
}

std::string CRawFile::GetFileName() const {
    return GetFilePath();
}
std::string CRawFile::GetFilePath() const {
    return m_segments.empty() ? std::string() : m_segments.front().path;
}
std::string CRawFile::GetFileTitle() const {
    return titleOf(GetFilePath());
}
std::string CRawFile::GetFileExtension() const {
    return extensionOf(GetFileTitle());
}

std::string CRawFile::GetSegmentPath(int index) const {
    return m_segments.at(static_cast<std::size_t>(index)).path;
}
std::uint64_t CRawFile::GetSegmentStart(int index) const {
    return m_segments.at(static_cast<std::size_t>(index)).start;
}
std::uint64_t CRawFile::GetSegmentLength(int index) const {
    return m_segments.at(static_cast<std::size_t>(index)).length;
}

bool CRawFile::HoldsFile(const std::string& path) const {
    platform::FileIdentity id;
    if (!platform::GetFileIdentity(path, id)) return false;
    return std::any_of(m_segments.begin(), m_segments.end(), [&](const Segment& s) {
        return s.file.IsOpen() && s.file.Identity() == id;
    });
}

void CRawFile::SetUnswapped(int mode) {
    m_unswapped = mode;
    resetCache();
}

std::uint64_t CRawFile::GetLength() const {
    return m_segments.empty() ? 0 : m_segments.back().end();
}

std::uint64_t CRawFile::GetReadableLength() const {
    return IsSwapped() ? GetLength() & ~std::uint64_t{1} : GetLength();
}

void CRawFile::Flush() {
    for (Segment& segment : m_segments)
        if (segment.file.IsOpen()) segment.file.Sync();
}

std::uint64_t CRawFile::Seek(std::int64_t offset, int from) {
    switch (from) {
        case begin:
            m_position = static_cast<std::uint64_t>(offset);
            break;
        case current:
            m_position += static_cast<std::uint64_t>(offset);
            break;
        case end:
            m_position = GetLength() - static_cast<std::uint64_t>(offset);
            break;
        default:
            break;
    }
    return m_position;
}

std::uint64_t CRawFile::SeekToStart() {
    return m_position = 0;
}

std::uint64_t CRawFile::SeekToLastEnd() {
    m_position = GetLength();
    return m_position - 1;
}

int CRawFile::segmentAt(std::uint64_t position) const {
    // Empty segments hold no position, so they are passed over.
    for (std::size_t i = 0; i < m_segments.size(); ++i)
        if (position >= m_segments[i].start && position < m_segments[i].end())
            return static_cast<int>(i);
    return -1;
}

std::size_t CRawFile::readPhysical(std::uint64_t position, std::uint8_t* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        int index = segmentAt(position + done);
        if (index < 0) break;
        Segment& segment = m_segments[static_cast<std::size_t>(index)];
        std::uint64_t inSegment = position + done - segment.start;
        std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(count - done, segment.length - inSegment));
        std::size_t got = segment.file.ReadAt(inSegment, out + done, want);
        done += got;
        if (got < want) break;  // the file is shorter than when it was opened
    }
    return done;
}

std::size_t CRawFile::segmentForWrite(std::uint64_t position) {
    if (int index = segmentAt(position); index >= 0) return static_cast<std::size_t>(index);
    // Inside an empty segment's place: the next non-empty one holds it.
    for (std::size_t i = 0; i + 1 < m_segments.size(); ++i)
        if (m_segments[i].end() > position) return i;
    for (;;) {
        const std::size_t last = m_segments.size() - 1;
        if (last >= m_capacities.size() ||
            position < m_segments[last].start + m_capacities[last])
            return last;
        // The last segment is full by the copied layout: the output goes on
        // in a new segment file, named the way reading finds it.
        Segment next;
        next.start = m_segments[last].start + m_capacities[last];
        next.path = GetSegmentName(m_createName, static_cast<int>(m_segments.size()));
        platform::FileError error;
        if (m_createName.empty() || !next.file.Open(next.path, m_createFlags, &error))
            throw platform::FileException(error.osError >= 0 ? error.osError : EBADF, next.path,
                                          "Cannot create");
        m_segments.push_back(std::move(next));
    }
}

void CRawFile::writePhysical(std::uint64_t position, const std::uint8_t* in, std::size_t count) {
    if (m_segments.empty()) throw platform::FileException(EBADF, "", "Cannot write");
    std::size_t done = 0;
    while (done < count) {
        // A write spans as many segments as it needs; the last one grows up
        // to its size in the copied layout, if it has one.
        const std::size_t index = segmentForWrite(position + done);
        Segment& segment = m_segments[index];
        const bool isLast = index + 1 == m_segments.size();
        const std::uint64_t inSegment = position + done - segment.start;
        std::size_t n = count - done;
        if (!isLast)
            n = static_cast<std::size_t>(std::min<std::uint64_t>(n, segment.length - inSegment));
        else if (index < m_capacities.size())
            n = static_cast<std::size_t>(
                std::min<std::uint64_t>(n, m_capacities[index] - inSegment));
        segment.file.WriteAt(inSegment, in + done, n);
        if (isLast) segment.length = std::max(segment.length, inSegment + n);
        done += n;
    }
}

std::size_t CRawFile::readLogical(std::uint64_t position, std::uint8_t* out, std::size_t count) {
    if (!IsSwapped()) return readPhysical(position, out, count);
    // Byte pairs sit at even file offsets: logical byte i is stored at i ^ 1.
    std::uint64_t base = position & ~std::uint64_t{1};
    std::uint64_t physicalEnd = (position + count + 1) & ~std::uint64_t{1};
    // One scratch buffer for the life of the file: swapped reads allocate nothing.
    std::vector<std::uint8_t>& stored = m_swapScratch;
    stored.resize(static_cast<std::size_t>(physicalEnd - base));
    const std::size_t got = readPhysical(base, stored.data(), stored.size());
    // Only whole pairs are delivered: an odd last byte has no partner.
    const std::uint8_t* pairs = stored.data();
    std::size_t whole = got & ~std::size_t{1};
    std::size_t delivered = 0;
    if ((position & 1) != 0 && count > 0 && whole > 0) {
        out[delivered++] = pairs[0];  // the first byte of its pair, stored second
        pairs += 2;
        whole -= 2;
    }
    const std::size_t n = std::min(count - delivered, whole);
    for (std::size_t i = 0; i < n; ++i) out[delivered + i] = pairs[i ^ 1];
    return delivered + n;
}

void CRawFile::writeSwapped(std::uint64_t position, const std::uint8_t* in, std::size_t count) {
    std::uint64_t base = position & ~std::uint64_t{1};
    std::uint64_t logicalEnd = position + count;
    std::uint64_t physicalEnd = (logicalEnd + 1) & ~std::uint64_t{1};
    std::vector<std::uint8_t> stored(static_cast<std::size_t>(physicalEnd - base), 0);
    // A half-covered pair keeps its other byte as it is on disk.
    if (position & 1) readPhysical(base + 1, &stored[1], 1);
    if (logicalEnd & 1) readPhysical(logicalEnd - 1, &stored[stored.size() - 2], 1);
    for (std::size_t i = 0; i < count; ++i)
        stored[static_cast<std::size_t>(((position + i) ^ 1) - base)] = in[i];
    writePhysical(base, stored.data(), stored.size());
}

std::size_t CRawFile::Read(void* buffer, std::size_t count) {
    countBytes(count);
    auto* out = static_cast<std::uint8_t*>(buffer);
    // The common case: a packet-sized read wholly inside the read buffer.
    if (m_position >= m_cacheStart && m_position + count <= m_cacheStart + m_cacheLength) {
        std::memcpy(out, m_cache.data() + (m_position - m_cacheStart), count);
        m_position += count;
        return count;
    }
    std::size_t done = 0;
    while (done < count) {
        std::uint64_t position = m_position + done;
        if (m_cacheLength > 0 && position >= m_cacheStart &&
            position < m_cacheStart + m_cacheLength) {
            std::size_t offset = static_cast<std::size_t>(position - m_cacheStart);
            std::size_t n = std::min(count - done, m_cacheLength - offset);
            std::memcpy(out + done, m_cache.data() + offset, n);
            done += n;
            continue;
        }
        if (count - done >= kDirectReadSize) {
            done += readLogical(position, out + done, count - done);
            break;
        }
        if (m_cache.size() != kCacheSize) m_cache.resize(kCacheSize);
        m_cacheStart = position;
        m_cacheLength = readLogical(position, m_cache.data(), kCacheSize);
        if (m_cacheLength == 0) break;
    }
    m_position += done;
    return done;
}

const std::uint8_t* CRawFile::Peek(std::size_t count) {
    if (count > kCacheSize) return nullptr;
    if (m_position < m_cacheStart || m_position + count > m_cacheStart + m_cacheLength) {
        if (m_cache.size() != kCacheSize) m_cache.resize(kCacheSize);
        m_cacheStart = m_position;
        m_cacheLength = readLogical(m_position, m_cache.data(), kCacheSize);
        if (m_cacheLength < count) return nullptr;
    }
    countBytes(count);
    return m_cache.data() + (m_position - m_cacheStart);
}

void CRawFile::Write(const void* buffer, std::size_t count) {
    countBytes(count);
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    if (IsSwapped())
        writeSwapped(m_position, in, count);
    else
        writePhysical(m_position, in, count);
    // Keep the read buffer coherent with what is now on disk.
    std::uint64_t from = std::max(m_position, m_cacheStart);
    std::uint64_t to = std::min(m_position + count, m_cacheStart + m_cacheLength);
    if (m_cacheLength > 0 && from < to)
        std::memcpy(m_cache.data() + (from - m_cacheStart), in + (from - m_position),
                    static_cast<std::size_t>(to - from));
    m_position += count;
}

void CRawFile::SetLength(std::uint64_t length) {
    resetCache();
    for (std::size_t i = m_segments.size(); i-- > 0;) {
        Segment& segment = m_segments[i];
        if (i > 0 && segment.start >= length) {
            // Wholly behind the new end: the segment file goes.
            segment.file.Close();
            platform::RemoveFile(segment.path);
            m_segments.erase(m_segments.begin() + static_cast<std::ptrdiff_t>(i));
        } else if (length < segment.end()) {
            segment.file.SetLength(length - segment.start);
            segment.length = length - segment.start;
        }
    }
}
