#pragma once
// The MPEG-2 video decoders the program can use: its own built-in snapshot
// decoder first, then the MPEG-2 video decoders of the system's GStreamer
// registry when gst-inspect-1.0 is installed.

#include <QStringList>

constexpr const char* kBuiltInDecoderName = "Ravelo MPEG-2 snapshot decoder";

// The whole list, the system's decoders included; running gst-inspect-1.0
// takes about a second, so only the About box asks for it.
QStringList ListMpeg2Decoders();
// The start-up check: whether any MPEG-2 decoder is there. The built-in one
// answers it without asking the system.
bool HasMpeg2Decoder();

// From the output of "gst-inspect-1.0" (one "plugin:  element: description"
// line per element), the elements that may decode MPEG-2 video.
QStringList GstDecoderCandidates(const QString& inspectOutput);
// Whether the details of one element ("gst-inspect-1.0 <element>") show a
// sink pad that takes MPEG-2 video.
bool GstTakesMpeg2Video(const QString& elementDetails);
