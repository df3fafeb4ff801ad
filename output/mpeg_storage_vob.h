#pragma once
// The VOB writer: all channels into one .vob file of 2048-byte packs at the
// fixed DVD mux rate. An existing file is replaced without a question.

#include <string>

#include "output/mpeg_storage_mpg.h"

class CMpegStorageVOB : public CMpegStorageMPG {
public:
    CMpegStorageVOB() : CMpegStorageMPG(true) {}
    bool Open(CChannelSet* channels, std::string prefix) override;
};
