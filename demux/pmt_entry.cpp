#include "demux/pmt_entry.h"

StreamCodec EntryCodec(const sPMTEntry& entry) {
    if (entry.codec != StreamCodec::Unknown) return entry.codec;
    switch (entry.streamType) {
        case kStreamVideo:
            return StreamCodec::Mpeg2Video;
        case kStreamH264:
            return StreamCodec::H264;
        case kStreamHevc:
            return StreamCodec::Hevc;
        case kStreamMpeg1Audio:
        case kStreamMpeg2Audio:
            return StreamCodec::MpegAudio;
        case kStreamAC3:
            return StreamCodec::Ac3;
        case kStreamEac3:
            return StreamCodec::Eac3;
        case kStreamAacAdts:
            return StreamCodec::Aac;
        case kStreamAacLatm:
            return StreamCodec::AacLatm;
        default:
            return StreamCodec::Unknown;
    }
}

const char* CodecName(StreamCodec codec) {
    switch (codec) {
        case StreamCodec::Mpeg2Video:
            return "mpeg2";
        case StreamCodec::H264:
            return "h264";
        case StreamCodec::Hevc:
            return "hevc";
        case StreamCodec::MpegAudio:
            return "mp2";
        case StreamCodec::Ac3:
            return "ac3";
        case StreamCodec::Eac3:
            return "eac3";
        case StreamCodec::Aac:
            return "aac";
        case StreamCodec::AacLatm:
            return "aac-latm";
        case StreamCodec::DvbSubtitle:
            return "dvb-subtitle";
        case StreamCodec::Teletext:
            return "teletext";
        default:
            return "unknown";
    }
}

const char* CodecDisplayName(StreamCodec codec) {
    switch (codec) {
        case StreamCodec::Mpeg2Video:
            return "MPEG-2 video";
        case StreamCodec::H264:
            return "H.264 video";
        case StreamCodec::Hevc:
            return "HEVC video";
        case StreamCodec::MpegAudio:
            return "MPEG audio";
        case StreamCodec::Ac3:
            return "AC-3 audio";
        case StreamCodec::Eac3:
            return "E-AC-3 audio";
        case StreamCodec::Aac:
            return "AAC audio";
        case StreamCodec::AacLatm:
            return "AAC (LATM) audio";
        case StreamCodec::DvbSubtitle:
            return "DVB subtitles";
        case StreamCodec::Teletext:
            return "teletext";
        default:
            return "an unknown stream";
    }
}
