#pragma once
// VDR's editing marks ("marks" in a recording's folder): one mark per line,
// "H:MM:SS.FF" (FF: the frame within that second, from 0) and an optional
// comment. VDR sorts the marks by time and keeps what lies between each odd
// mark and the even one after it (1-2, 3-4, ...); a last odd mark keeps the
// rest of the recording. What the marks leave out is what we cut.

#include <string>
#include <vector>

#include "app/cut_span.h"

namespace vdr {

// The stretches the marks leave out, at the given frame rate.
CutFileContent Read(const std::string& text, const FrameRate& rate);
// Marks that keep what the spans do not cut (spans sorted and not
// overlapping; see MergeCutSpans).
std::string Write(const std::vector<CutSpan>& spans, const FrameRate& rate);

// "H:MM:SS.FF" of a frame number, and back; false for a malformed text.
std::string FrameToText(std::int64_t frame, const FrameRate& rate);
bool TextToFrame(const std::string& text, const FrameRate& rate, std::int64_t& frame);

}  // namespace vdr
