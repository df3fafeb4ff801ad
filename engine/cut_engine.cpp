#include "engine/cut_engine.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "demux/raw_file.h"
#include "engine/cut_planner.h"
#include "platform/file.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {
constexpr std::size_t kPacketSize = 188;
constexpr std::uint8_t kSyncByte = 0x47;
// TF-Get (Topfield's transfer tool) expects a packet to start within this
// stretch of the first KiB.
constexpr std::size_t kTfGetCheckSize = 1024;
constexpr std::size_t kTfGetSyncFirst = 468;
constexpr std::size_t kTfGetSyncLast = 655;

bool twoSyncsAt(const std::vector<std::uint8_t>& data, std::size_t at) {
    return at + kPacketSize < data.size() && data[at] == kSyncByte &&
           data[at + kPacketSize] == kSyncByte;
}
}  // namespace

CCutEngine::CCutEngine(CRawFile& source, CRawFile& destination, std::uint16_t videoPid,
                       CBlockMover::ProgressFn progress)
    : m_source(source),
      m_destination(destination),
      m_inPlace(&source == &destination || source.Handle() == destination.Handle()),
      m_videoPid(videoPid),
      m_progress(std::move(progress)),
      m_format(CutFormatFor(source.GetFileExtension())) {}

JobResult CCutEngine::Run(const CCutList& cuts) {
    CBlockMover mover(m_source, m_destination, m_inPlace, m_videoPid, m_format.hardCut,
                      m_format.packetStride, m_progress);
    if (!m_format.hardCut) mover.SetAudioPids(m_audioPids);
    try {
        return cut(cuts, mover);
    } catch (const platform::FileException& error) {
        std::string reason = error.what();
        if (error.OsError() > 0) reason += std::string(" (") + std::strerror(error.OsError()) + ")";
        if (!error.Path().empty()) reason += ": " + error.Path();
        describeFailure(reason, mover);
    } catch (const std::bad_alloc&) {
        describeFailure("Out of memory", mover);
    }
    if (!m_inPlace) {
        // What was written stays readable up to where the copy stopped.
        try {
            m_destination.SetLength(mover.WritePosition());
        } catch (const platform::FileException&) {
        }
    }
    LogWrite(m_error, 1);
    return JobResult::Failed;
}

JobResult CCutEngine::cut(const CCutList& cuts, CBlockMover& mover) {
    copyHeader();
    LogWrite("Skip to first cut", 1);
    std::uint64_t readPosition = m_format.headerSize;
    if (m_format.findFirstPacket) readPosition = findFirstPacket(readPosition);
    CCutPlanner planner(m_source, m_format, m_videoPid, readPosition, m_syncOffset);
    const std::vector<CutDrop> drops = planner.Plan(cuts);
    m_progress(0);
    // The write position stays after the header: the destination goes on
    // with a whole packet right after it.
    mover.Run(readPosition, m_format.headerSize, drops);
    m_destination.SetLength(mover.WritePosition());
    if (m_format.findFirstPacket) checkTfGetSync();
    return mover.Cancelled() ? JobResult::Cancelled : JobResult::Done;
}

void CCutEngine::copyHeader() {
    const auto size = static_cast<std::size_t>(
        std::min<std::uint64_t>(m_format.headerSize, m_source.GetLength()));
    if (size == 0 || m_inPlace) return;  // in place the header is where it belongs
    std::vector<std::uint8_t> header(size);
    m_source.SeekToStart();
    header.resize(m_source.Read(header.data(), size));
    m_destination.SeekToStart();
    m_destination.Write(header.data(), header.size());
}

std::uint64_t CCutEngine::findFirstPacket(std::uint64_t from) {
    std::vector<std::uint8_t> block(CBlockMover::kBlockSize);
    m_source.Seek(static_cast<std::int64_t>(from), CRawFile::begin);
    block.resize(m_source.Read(block.data(), block.size()));
    for (std::size_t i = 0; i + kPacketSize < block.size(); ++i) {
        if (!twoSyncsAt(block, i)) continue;
        m_syncOffset = static_cast<std::int32_t>((from + i) % kPacketSize);
        return from + i;
    }
    return from;  // no packet structure found: the data is moved as it is
}

void CCutEngine::checkTfGetSync() {
    // Examined and patched on the destination: that is the file TF-Get reads.
    LogWrite("Checking TS_SYNC for TF-Get", 1);
    std::vector<std::uint8_t> data(kTfGetCheckSize);
    m_destination.SeekToStart();
    data.resize(m_destination.Read(data.data(), data.size()));
    for (std::size_t i = kTfGetSyncFirst; i <= kTfGetSyncLast; ++i) {
        if (twoSyncsAt(data, i)) {
            LogWrite("TS-Stream is synced for TF-Get", 1);
            return;
        }
    }
    LogWrite("Correction neccessary for TF-Get bug", 1);
    const auto header = static_cast<std::size_t>(m_format.headerSize);
    for (std::size_t j = header; j < header + kPacketSize; ++j) {
        if (!twoSyncsAt(data, j)) continue;
        LogWrite("found TS-Sync at index " + std::to_string(j), 1);
        data[j - kPacketSize] = kSyncByte;
        m_destination.SeekToStart();
        m_destination.Write(data.data(), data.size());
        return;
    }
}

void CCutEngine::describeFailure(const std::string& reason, const CBlockMover& mover) {
    if (m_inPlace) {
        m_error = FormatString(
            "Removing the cut areas stopped at byte %llu of the recording (the data before byte "
            "%llu is already moved): %s\r\nThe recording may be damaged.",
            static_cast<unsigned long long>(mover.ReadPosition()),
            static_cast<unsigned long long>(mover.WritePosition()), reason.c_str());
    } else {
        m_error = FormatString(
            "Copying the recording failed at byte %llu of the recording: %s\r\nThe copy is "
            "incomplete.",
            static_cast<unsigned long long>(mover.ReadPosition()), reason.c_str());
    }
}
