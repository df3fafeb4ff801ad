#pragma once
// Whether a job can handle a recording's streams. Copy and the cut in place
// take MPEG-2, H.264 and HEVC video, and "Demux to MPEG" writes the streams
// of each; the program-stream jobs (MPEG, VOB) need MPEG-2 video, as DVD
// does. A recording a job cannot handle is refused with a message that names
// the codec, before anything is written, instead of an empty or broken
// output. The job driver asks at the start of every job.

#include <cstdint>
#include <string>

class CRecordingModel;

enum class JobKind { Copy, CutInPlace, Demux, Mpeg, Vob };

// Empty when the job can run; else what to tell the user. audioPid: the
// audio track chosen for an MPEG program stream.
std::string UnsupportedStreamsMessage(const CRecordingModel& model, JobKind kind,
                                      std::uint16_t audioPid = 0);
