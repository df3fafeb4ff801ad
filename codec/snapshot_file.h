#pragma once
// The decoded picture of a cut-out file ("pic.m2v" of the picture search),
// whatever its codec: as planes, or as the 24-bit bitmap the window shows.
// MPEG-2 cut-outs take the snapshot decoder's own road unchanged.

#include <string>

#include "mpegsnap/decoded_frame.h"

namespace codec {

// The first picture of the cut-out; false with the reason in *error.
bool DecodeCutOutFile(const std::string& path, mpegsnap::DecodedFrame& frame, std::string* error);

// Writes the bitmap of the cut-out's first picture to bmpPath (a plain file
// name). Nothing is written when it cannot be decoded; a failed write leaves
// no file behind.
void WriteSnapshotBitmap(const std::string& cutOutPath, const std::string& bmpPath);

}  // namespace codec
