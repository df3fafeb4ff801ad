#pragma once
// What "Copy edited recording" will join around one cut area. MPEG-2: the cut
// planner says where the kept data ends (the end of the GOP the area starts
// in) and where it resumes (the next GOP start after the area, without the
// B pictures of an open GOP that refer to the GOP cut away). The last picture
// shown before the splice is the last reference picture in decode order of
// the kept GOP (its B pictures are all shown before it); the first shown after
// it is the resumed GOP's I picture, or the B pictures before it when they
// are kept.

#include <cstdint>

#include "demux/cut_area.h"
#include "engine/nal_splice_planner.h"
#include "mpegsnap/decoded_frame.h"

class CRecordingModel;

struct SplicePicture {
    enum class State {
        Picture,         // decoded
        RecordingStart,  // nothing is kept before the area
        RecordingEnd,    // nothing is kept after it
        NotFound,        // no decodable picture where one should be
    };
    State state = State::NotFound;
    mpegsnap::DecodedFrame frame;
    int aspectCode = 0;  // aspect_ratio_information of its sequence header
    bool hasStamp = false;
    std::int64_t stamp = 0;  // PTS of the PES that starts with the picture
};

struct SplicePreview {
    enum class Outcome {
        Cut,      // the copy leaves keptEnd..resume out
        Kept,     // the area holds no GOP start: the copy keeps it whole
        NoVideo,  // no video stream, or not a complete area
    };
    Outcome outcome = Outcome::NoVideo;
    std::uint64_t keptEnd = 0;  // bytes
    std::uint64_t resume = 0;
    SplicePicture before;
    SplicePicture after;
};

class CSpliceFinder {
  public:
    explicit CSpliceFinder(CRecordingModel& model) : m_model(model) {}

    SplicePreview Find(const CCutArea& area);

  private:
    // H.264 and HEVC recordings: see nal_splice_finder.h.
    SplicePreview FindNal(const CCutArea& area, const CNalSplicePlanner::Streams& streams);
    SplicePicture LastPictureBefore(std::uint64_t end);
    SplicePicture FirstPictureAt(std::uint64_t start, bool leadingPicturesDropped);
    // The data start and packet grid the cut engine uses for this recording.
    void FindDataStart();
    // The PTS of the PES header in the packet at position, if it has one.
    bool PesStampAt(std::uint64_t position, std::int64_t& stamp);

    CRecordingModel& m_model;
    std::uint64_t m_dataStart = 0;
    std::int32_t m_syncOffset = 0;
};
