#include "output/mpeg_storage_mpg.h"

#include <memory>

#include "output/channel_set.h"
#include "output/output_file.h"
#include "platform/file.h"

namespace {
const char* const kExtension = ".mpg";
}

void CMpegStorageMPG::OpenShared(const std::string& path) {
    m_packer.Reset();
    if (!m_vob) m_packer.SetScrBase(0);  // program streams keep the time line's own zero
    m_ids.clear();
    m_written.clear();
    m_packs = 0;
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
    AssignStreamIds();
}

// Video 0xE0; MPEG audio 0xC0, 0xC1, ...; AC-3 in private stream 1 with
// sub-streams 0x80, 0x81, ... as DVD players expect them.
void CMpegStorageMPG::AssignStreamIds() {
    int audio = 0;
    int ac3 = 0;
    for (CMpegChannel* c : m_channels->Channels()) {
        StreamIds ids;
        if (c->m_streamType == 2) {
            ids.id = 0xE0;
        } else if (c->m_streamType == 3 || c->m_streamType == 4) {
            if (audio < 32) ids.id = static_cast<std::uint8_t>(0xC0 + audio++);
        } else if (c->m_streamType == 6) {
            if (ac3 < 8) {
                ids.id = 0xBD;
                ids.sub = static_cast<std::uint8_t>(0x80 + ac3++);
            }
        }
        m_ids[c->m_pid] = ids;  // id 0: the stream is not written
    }
}

bool CMpegStorageMPG::Open(CChannelSet* channels, std::string prefix) {
    if (!AskOverwrite(prefix, kExtension)) return false;
    m_prefix = std::move(prefix);
    m_channels = channels;
    OpenShared(m_prefix + kExtension);
    return true;
}

bool CMpegStorageMPG::MustWait() const {
    bool starved = false;
    for (const CMpegChannel* c : m_channels->Channels()) {
        if (c->Count() * 2 >= c->RingCapacity()) return false;
        if (c->IsEmpty() && m_written.count(c)) starved = true;
    }
    return starved;
}

bool CMpegStorageMPG::Write(bool finalWrite) {
    if (!m_channels) return true;
    CMpegChannel* c = nullptr;
    while (finalWrite || !MustWait()) {
        CMpegPacket* p = m_channels->NextPacket(&c);
        if (!p) break;
        const StreamIds ids = m_ids.count(c->m_pid) ? m_ids[c->m_pid] : StreamIds{};
        if (ids.id != 0 && c->m_file) {
            if (!m_vob && c->m_streamType == 6) m_packer.SetAc3MuxRate();
            m_packs += m_packer.WritePacket(*p, ids.id, ids.sub, *c->m_file);
            m_written.insert(c);
        }
        c->RemoveTail();
    }
    return true;
}

bool CMpegStorageMPG::Close() {
    if (!m_channels) return true;
    // One shared file: closing it through the first channel closes it for all.
    std::shared_ptr<COutputFile> file;
    for (CMpegChannel* c : m_channels->Channels()) {
        if (!file) file = c->m_file;
        c->m_file.reset();
    }
    if (file) file->Close();
    return true;
}
