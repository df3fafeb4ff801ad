#include "output/mpeg_storage_vob.h"

#include "output/channel_set.h"

bool CMpegStorageVOB::Open(CChannelSet* channels, std::string prefix) {
    m_prefix = std::move(prefix);
    m_channels = channels;
    OpenShared(m_prefix + ".vob");
    return true;
}
