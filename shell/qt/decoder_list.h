#pragma once
// The MPEG-2 video decoders the program can use: its own built-in snapshot
// decoder first, then the MPEG-2 video decoders of the system's GStreamer
// registry when gst-inspect-1.0 is installed.

#include <QStringList>

constexpr const char* kBuiltInDecoderName = "Ravelo MPEG-2 snapshot decoder";

QStringList ListMpeg2Decoders();

// From the output of "gst-inspect-1.0" (one "plugin:  element: description"
// line per element), the elements that may decode MPEG-2 video.
QStringList GstDecoderCandidates(const QString& inspectOutput);
// Whether the details of one element ("gst-inspect-1.0 <element>") show a
// sink pad that takes MPEG-2 video.
bool GstTakesMpeg2Video(const QString& elementDetails);
