#pragma once
// The program-stream writer: the video and one audio channel multiplexed into
// one .mpg file of 2048-byte packs. The VOB writer is the same scheme with its
// own time base and naming, and derives from it.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "output/mpeg_storage.h"
#include "output/pack_writer.h"

class CMpegStorageMPG : public CMpegStorage {
public:
    CMpegStorageMPG() = default;

    bool Open(CChannelSet* channels, std::string prefix) override;
    // Holds packets back while a channel that has been written to has nothing
    // queued (its next unit may still be older than what waits), so that the
    // SCR never goes backwards; a half-full queue or the final call drains all.
    bool Write(bool finalWrite = false) override;
    bool Close() override;

    // Packs written so far (tests).
    std::int64_t PackCount() const { return m_packs; }

protected:
    explicit CMpegStorageMPG(bool vob) : m_vob(vob) {}
    // The file of all channels; the channels share it.
    void OpenShared(const std::string& path);

private:
    struct StreamIds {
        std::uint8_t id = 0;
        std::uint8_t sub = 0;
    };

    bool m_vob = false;
    CPackWriter m_packer;
    std::unordered_map<std::uint16_t, StreamIds> m_ids;
    std::unordered_set<const CMpegChannel*> m_written;
    std::int64_t m_packs = 0;

    void AssignStreamIds();
    bool MustWait() const;
};
