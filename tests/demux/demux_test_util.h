#pragma once
// Writing a synthetic recording to a temporary file and opening it, and
// demultiplexing a whole recording the way the job driver does.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "demux/mpeg_ts_demux.h"
#include "demux/raw_file.h"
#include "output/channel_set.h"
#include "output/mpeg_channel_exception.h"
#include "shell/log.h"
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

struct DemuxResult {
    std::map<int, std::vector<CMpegPacket>> units;  // by PID, in queue order
    std::vector<std::string> lines;                 // the log lines
    bool cancelled = false;
    std::uint64_t position = 0;  // where the recording was left

    bool Logged(const std::string& text) const {
        for (const std::string& l : lines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
    int Count(const std::string& text) const {
        int n = 0;
        for (const std::string& l : lines)
            if (l.find(text) != std::string::npos) ++n;
        return n;
    }
};

// Demultiplexes a whole recording, draining the rings after every slice.
// The cut areas and the progress hook are given to the demultiplexer.
inline DemuxResult DemuxAll(const tsb::Bytes& ts, const CCutList& cuts = {},
                            std::function<bool(std::uint64_t)> hook = {}) {
    DemuxResult r;
    SetLogListener([&r](const std::string& line) { r.lines.push_back(line); });
    OpenedRecording rec(ts);
    CMpegTsDemux demux;
    std::uint16_t pmt = 0, video = 0, audio = 0, ac3 = 0;
    if (demux.Init(rec.file, pmt, video, audio, ac3)) {
        demux.SetCutList(cuts);
        if (hook) demux.SetProgressHook(std::move(hook));
        auto drain = [&] {
            for (CMpegChannel* c : demux.Channels().Channels())
                while (!c->IsEmpty()) {
                    r.units[c->m_pid].push_back(c->GetTail());
                    c->RemoveTail();
                }
        };
        try {
            for (int guard = 0; demux.Demux() && guard < 100000; ++guard) drain();
            drain();
        } catch (const CMpegChannelException& e) {
            r.lines.push_back(std::string("exception: ") + e.what());
        }
        r.cancelled = demux.Cancelled();
        r.position = rec.file.GetPosition();
    }
    SetLogListener(nullptr);
    return r;
}
