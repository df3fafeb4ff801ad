#pragma once
// One opened recording as the jobs and the picture search see it: the file,
// its four PIDs, its streams, its cut list and the stamp of its first picture.
// The window's document owns one; the command-line tool builds one by the same
// opening steps.

#include <cstdint>
#include <optional>
#include <string>

#include "app/byte_order_probe.h"
#include "demux/cut_area.h"
#include "demux/pmt_entry.h"
#include "demux/raw_file.h"

class CRecordingModel {
  public:
    CRecordingModel() = default;
    ~CRecordingModel();
    CRecordingModel(const CRecordingModel&) = delete;
    CRecordingModel& operator=(const CRecordingModel&) = delete;

    // The opening steps: read-write open, else read-only; byte-order probe;
    // stream scan; the PIDs of a .tts/.rec header; the stored cut list. A
    // recording already open is closed first, its cut list stored. On failure
    // the model is closed and *error (when given) says why.
    bool Open(const std::string& path, std::string* error);
    // Stores the cut list, then closes the file.
    void Close();
    // Closes without storing the cut list (read-only tools).
    void CloseWithoutSaving();
    bool IsOpen() const { return m_recording.IsOpen(); }
    bool IsReadOnly() const { return m_readOnly; }

    // Stores the cut list, unless it holds nothing and the stored areas are
    // another recording's (which must not be lost by opening this one).
    void SaveCutList();
    // Loads the stored cut list. It is applied only when it was made for
    // this recording: its "FirstPTS" is the stamp of this recording's first
    // picture (where both are known) and no area starts beyond its end.
    // Otherwise the areas are kept aside (ForeignCutList) and the list is empty.
    void LoadCutList();

    // The stored cut areas belong to another recording of the same title.
    bool CutListForeign() const { return m_foreignCutList.has_value(); }
    const CCutList& ForeignCutList() const;
    // The user agreed: the other recording's areas are removed from the store.
    void DiscardForeignCutList();
    // A removal of cut areas in place was interrupted: its journal lies
    // beside the recording and the next run completes it.
    bool HasUnfinishedRun() const;

    // Sequence-header counts of the byte-order probe of the last opening.
    ByteOrderCounts ProbeCounts() const { return m_byteOrder; }
    // Whether the stream scan saw transport-stream packets at all (a picture,
    // an empty file or random bytes opened by mistake hold none).
    bool HoldsTransportPackets() const { return m_holdsPackets; }

    CRawFile& Recording() { return m_recording; }
    const CRawFile& Recording() const { return m_recording; }

    std::uint16_t m_pmtPid = 0;
    std::uint16_t m_videoPid = 0;
    std::uint16_t m_audioPid = 0;
    std::uint16_t m_ac3Pid = 0;
    CCutList m_cutList;
    CPMT m_streams;
    // The stamp of the recording's own first picture (found when it is
    // opened), the time base of every displayed time; 0 without pictures.
    std::int64_t m_firstPTS = 0;
    std::int32_t m_bitRate = 4000;  // kbit/s estimate of the stream scan

  private:
    void scan();
    void readRecordingHeader();
    void findFirstPicture();
    bool belongsElsewhere(const CCutList& stored, std::optional<std::int64_t> storedFirst) const;

    CRawFile m_recording;
    bool m_readOnly = false;
    bool m_holdsPackets = false;
    ByteOrderCounts m_byteOrder;
    std::optional<CCutList> m_foreignCutList;
};

// The journal of an in-place run on the recording whose segment 0 is path.
std::string CutJournalPath(const std::string& recordingPath);

// The recording the jobs work on ("the active document").
CRecordingModel* ActiveRecording();
void SetActiveRecording(CRecordingModel* model);
