#pragma once
// One opened recording as the jobs and the picture search see it: the file,
// its four PIDs, its streams, its cut list and the stamp of its first picture.
// The window's document owns one; the command-line tool builds one by the same
// opening steps.

#include <cstdint>
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

    void SaveCutList();
    void LoadCutList();

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
    std::int64_t m_firstPTS = 0;
    std::int32_t m_bitRate = 4000;  // kbit/s estimate of the stream scan

  private:
    void scan();
    void readRecordingHeader();

    CRawFile m_recording;
    bool m_readOnly = false;
    bool m_holdsPackets = false;
    ByteOrderCounts m_byteOrder;
};

// The recording the jobs work on ("the active document").
CRecordingModel* ActiveRecording();
void SetActiveRecording(CRecordingModel* model);
