#include "output/mpeg_storage_vob.h"

#include "output/channel_set.h"

bool CMpegStorageVOB::Open(CChannelSet* channels, std::string prefix) {
    // An existing file is replaced only when the user agrees, as for .mpg.
    if (!AskOverwrite(prefix, ".vob")) return false;
    m_prefix = std::move(prefix);
    m_channels = channels;
    OpenShared(m_prefix + ".vob");
    return true;
}
