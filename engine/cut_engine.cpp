#include "engine/cut_engine.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "demux/raw_file.h"
#include "demux/packet_size.h"
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
    try {
        return m_inPlace ? cutInPlace(cuts) : copy(cuts);
    } catch (const platform::FileException& error) {
        std::string reason = error.what();
        if (!error.Path().empty() && reason.find(error.Path()) == std::string::npos)
            reason += ": " + error.Path();
        describeFailure(reason);
    } catch (const std::bad_alloc&) {
        describeFailure("Out of memory");
    }
    if (!m_inPlace && m_mover) {
        // What was written stays readable up to where the copy stopped.
        try {
            m_destination.SetLength(m_mover->WritePosition());
        } catch (const platform::FileException&) {
        }
    }
    LogWrite(m_error, 1);
    return JobResult::Failed;
}

CBlockMover& CCutEngine::makeMover() {
    m_mover = std::make_unique<CBlockMover>(m_source, m_destination, m_inPlace, m_videoPid,
                                            m_format.hardCut, m_format.packetStride, m_progress,
                                            m_format.packetSize);
    if (m_plan.byRules)
        m_mover->SetUnitRules(&m_plan.rules, &m_plan.splices);
    else if (!m_format.hardCut)
        m_mover->SetAudioPids(m_audioPids);
    m_mover->SetJournal(m_journal.get());
    return *m_mover;
}

std::uint64_t CCutEngine::plan(const CCutList& cuts) {
    const PacketLayout layout = DetectPacketLayout(m_source, 0);
    m_format = CutFormatFor(m_source.GetFileExtension(), layout.found ? layout.size : 188);
    const std::size_t prefix = m_format.packetSize - 188;
    if (m_format.packetSize != 188 && layout.firstSync >= prefix)
        m_syncOffset = static_cast<std::int32_t>((layout.firstSync - prefix) % m_format.packetSize);
    copyHeader();
    LogWrite("Skip to first cut", 1);
    std::uint64_t readPosition = m_format.headerSize;
    if (m_format.findFirstPacket) readPosition = findFirstPacket(readPosition);
    CCutPlanner planner(m_source, m_format, m_videoPid, readPosition, m_syncOffset);
    if (m_streams) planner.SetStreams(*m_streams);
    m_plan.length = m_source.GetLength();
    m_plan.format = m_format;
    m_plan.syncOffset = m_syncOffset;
    m_plan.videoPid = m_videoPid;
    m_plan.audioPids.assign(m_audioPids.begin(), m_audioPids.end());
    m_plan.drops = planner.Plan(cuts);
    m_plan.byRules = planner.ByRules();
    m_plan.rules = planner.Rules();
    m_plan.splices = planner.Splices();
    m_keptAreas = planner.KeptAreas();
    m_plan.areas.clear();
    for (const CCutArea& area : cuts)
        if (area.IsEnabled) m_plan.areas.push_back(area);
    return readPosition;
}

JobResult CCutEngine::copy(const CCutList& cuts) {
    const std::uint64_t readPosition = plan(cuts);
    CBlockMover& mover = makeMover();
    m_progress(0);
    // The write position stays after the header: the destination goes on
    // with a whole packet right after it.
    mover.Run(readPosition, m_format.headerSize, m_plan.drops);
    reportRenumbering();
    m_destination.SetLength(mover.WritePosition());
    if (m_format.findFirstPacket) checkTfGetSync();
    if (mover.Cancelled()) return JobResult::Cancelled;
    return warned() ? JobResult::DoneWithWarnings : JobResult::Done;
}

JobResult CCutEngine::cutInPlace(const CCutList& cuts) {
    CutJournalRecord record;
    std::string why;
    switch (CCutJournal::Read(m_source, &record, &why)) {
        case CCutJournal::Found::Foreign:
            m_error = "The cut areas cannot be removed: " + why +
                      ".\r\nNothing was changed. Remove the journal file if it belongs to no "
                      "recording there.";
            LogWrite(m_error, 1);
            return JobResult::Failed;
        case CCutJournal::Found::Record:
            // The run that was interrupted is finished as it was planned.
            LogWrite("Finishing the interrupted removal of cut areas", 1);
            m_resumed = true;
            m_plan = record.plan;
            m_format = m_plan.format;
            m_syncOffset = m_plan.syncOffset;
            m_journal = CCutJournal::Resume(m_source, record);
            break;
        case CCutJournal::Found::Torn:
            // Written only in part: that run never moved a byte.
            platform::RemoveFile(CCutJournal::PathFor(m_source.GetFilePath()));
            [[fallthrough]];
        case CCutJournal::Found::None: {
            MoverState start;
            start.read = plan(cuts);
            start.write = m_format.headerSize;
            record.state = start;
            // The journal is on the disk before the first byte moves.
            m_journal = CCutJournal::Create(m_source, m_plan, start);
            break;
        }
    }
    CBlockMover& mover = makeMover();
    m_progress(0);
    mover.Resume(record.state, m_plan.drops);
    reportRenumbering();
    m_destination.SetLength(mover.WritePosition());
    if (m_format.findFirstPacket) checkTfGetSync();
    m_destination.Flush();
    if (m_onComplete) m_onComplete();
    m_journal->Remove();
    m_journal.reset();
    return warned() ? JobResult::DoneWithWarnings : JobResult::Done;
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

bool CCutEngine::warned() const {
    return m_keptAreas > 0 || (m_mover && m_mover->RenumberFailures() > 0);
}

void CCutEngine::reportRenumbering() const {
    if (m_mover->RenumberFailures() == 0) return;
    LogPrint(FormatString("Warning: %d H.264 slices after a cut kept their numbers (the first at "
                          "byte %llu): players may show pictures there out of order",
                          m_mover->RenumberFailures(),
                          static_cast<unsigned long long>(m_mover->FirstRenumberFailure())),
             1);
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

void CCutEngine::describeFailure(const std::string& reason) {
    const std::uint64_t read = m_mover ? m_mover->ReadPosition() : 0;
    if (!m_inPlace) {
        m_error = FormatString("Copying the recording failed at byte %llu: %s\r\nThe copy is "
                               "incomplete.",
                               static_cast<unsigned long long>(read), reason.c_str());
        return;
    }
    CutJournalRecord record;
    m_journal.reset();
    const CCutJournal::Found found = CCutJournal::Read(m_source, &record, nullptr);
    // A journal written only in part stands for a run that never began.
    if (found == CCutJournal::Found::Torn)
        platform::RemoveFile(CCutJournal::PathFor(m_source.GetFilePath()));
    if (found != CCutJournal::Found::Record) {
        m_error = FormatString("Removing the cut areas failed before any data was moved: "
                               "%s\r\nNothing was changed.",
                               reason.c_str());
        return;
    }
    // The journal says where a retry goes on; the recording holds the data
    // moved so far, a stretch already copied forward and the untouched rest.
    m_interrupted = true;
    m_remaining = CCutJournal::Describe(record);
    m_error = FormatString(
        "Removing the cut areas stopped at byte %llu of the recording: %s\r\nNo data is "
        "lost: run \"Remove cuts in recording\" again to complete it.",
        static_cast<unsigned long long>(record.state.read), reason.c_str());
}
