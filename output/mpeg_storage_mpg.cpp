#include "output/mpeg_storage_mpg.h"

#include <exception>

#include "output/channel_set.h"
#include "output/output_file.h"
#include "platform/file.h"

namespace {
const char* const kExtension = ".mpg";
}

CMpegStorageMPG::~CMpegStorageMPG() = default;

void CMpegStorageMPG::OpenShared(const std::string& path) {
    m_mux.reset();
    m_streams.clear();
    if (platform::FileExists(path)) platform::RemoveFile(path);
    CMpegChannel* first = nullptr;
    for (CMpegChannel* c : m_channels->Channels()) {
        if (!first) {
            CreateFile(*c, path);
            first = c;
        } else {
            c->m_file = first->m_file;
        }
    }
    if (first) AddStreams(*first->m_file);
}

// Video 0xE0; MPEG audio 0xC0, 0xC1, ...; AC-3 in private stream 1 with
// sub-streams 0x80, 0x81, ... as DVD players expect them. A DVD holds at
// most 8 audio streams of each kind; other stream types are not written.
void CMpegStorageMPG::AddStreams(COutputFile& file) {
    // A program stream of AC-3 announces the lower AC-3 mux rate where it
    // holds; a VOB keeps the DVD rate.
    m_mux = std::make_unique<CPsMultiplexer>(file, !m_vob);
    int audio = 0;
    int ac3 = 0;
    bool video = false;
    for (CMpegChannel* c : m_channels->Channels()) {
        CMuxStream* stream = nullptr;
        if (c->m_streamType == 2 && !video) {
            stream = &m_mux->AddStream(MuxKind::Video, 0xE0);
            video = true;
        } else if ((c->m_streamType == 3 || c->m_streamType == 4) && audio < 8) {
            stream = &m_mux->AddStream(MuxKind::MpegAudio, static_cast<std::uint8_t>(0xC0 + audio++));
        } else if (c->m_streamType == 6 && ac3 < 8) {
            stream = &m_mux->AddStream(MuxKind::Ac3, 0xBD, static_cast<std::uint8_t>(0x80 + ac3++));
        }
        m_streams[c->m_pid] = stream;
    }
}

bool CMpegStorageMPG::Open(CChannelSet* channels, std::string prefix) {
    if (!AskOverwrite(prefix, kExtension)) return false;
    m_prefix = std::move(prefix);
    m_channels = channels;
    OpenShared(m_prefix + kExtension);
    return true;
}

bool CMpegStorageMPG::Write(bool finalWrite) {
    if (!m_channels) return true;
    for (CMpegChannel* c : m_channels->Channels()) {
        const auto found = m_streams.find(c->m_pid);
        CMuxStream* stream = found == m_streams.end() ? nullptr : found->second;
        while (!c->IsEmpty()) {
            CMpegPacket& p = c->GetTail();
            if (stream && m_mux) m_mux->Queue(*stream, std::move(p.Bytes()), p.m_headerLength, p.m_pts);
            c->RemoveTail();
        }
    }
    if (m_mux) m_mux->Pump(finalWrite);
    return true;
}

bool CMpegStorageMPG::Close() {
    if (!m_channels) return true;
    // What the channels still hold is written and the stream ended, also
    // after a job that stopped on an error; the file is closed in any case,
    // and the first error passed on.
    std::exception_ptr error;
    try {
        if (m_mux && !m_mux->Finished()) Write(true);
    } catch (...) {
        error = std::current_exception();
    }
    // One shared file: closing it through the first channel closes it for all.
    std::shared_ptr<COutputFile> file;
    for (CMpegChannel* c : m_channels->Channels()) {
        if (!file) file = c->m_file;
        c->m_file.reset();
    }
    try {
        if (file) file->Close();
    } catch (...) {
        if (!error) error = std::current_exception();
    }
    m_mux.reset();
    if (error) std::rethrow_exception(error);
    return true;
}
