#pragma once
// What the cut planner must know of the streams of an H.264 or HEVC
// recording, for the copy and for the window's splice preview alike.

#include <optional>

#include "engine/nal_splice_planner.h"

class CRecordingModel;

// Nothing for a recording whose video is not H.264/HEVC (MPEG-2 video is
// cut at its GOP starts). Probes the stream for random-access marks once
// and notes the answer in its entry.
std::optional<CNalSplicePlanner::Streams> NalCutStreams(CRecordingModel& model);
