#pragma once
// Writing a synthetic recording to a temporary file and opening it.

#include <memory>
#include <string>

#include "demux/raw_file.h"
#include "support/temp_dir.h"
#include "support/ts_builder.h"

struct OpenedRecording {
    TempDir dir;
    std::string path;
    CRawFile file;

    explicit OpenedRecording(const tsb::Bytes& bytes, const std::string& name = "rec.ts") {
        path = dir.File(name);
        WriteFileBytes(path, bytes);
        platform::FileError error;
        file.Open(path, platform::modeRead, &error);
    }
};
