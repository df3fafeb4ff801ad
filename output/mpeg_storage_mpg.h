#pragma once
// The program-stream writer: the video and one audio channel multiplexed into
// one .mpg file of 2048-byte packs that DVD authoring tools accept (P-STD
// buffer model, navigation pack at every GOP). The VOB writer is the same
// with its own naming and the fixed DVD mux rate, and derives from it.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "output/mpeg_storage.h"
#include "output/ps_multiplexer.h"

class CMpegStorageMPG : public CMpegStorage {
public:
    CMpegStorageMPG() = default;
    ~CMpegStorageMPG() override;

    bool Open(CChannelSet* channels, std::string prefix) override;
    // Hands every queued unit to the multiplexer, which writes the packs
    // that the data decides; the final call writes the rest and ends the stream.
    bool Write(bool finalWrite = false) override;
    // Writes what the channels still hold and ends the stream if the final
    // Write has not, and closes the file.
    bool Close() override;

    // Packs written so far (tests).
    std::int64_t PackCount() const { return m_mux ? m_mux->Packs() : 0; }

protected:
    explicit CMpegStorageMPG(bool vob) : m_vob(vob) {}
    // The file of all channels; the channels share it.
    void OpenShared(const std::string& path);

private:
    bool m_vob = false;
    std::unique_ptr<CPsMultiplexer> m_mux;
    std::unordered_map<std::uint16_t, CMuxStream*> m_streams;  // by PID; none: not written

    void AddStreams(COutputFile& file);
};
