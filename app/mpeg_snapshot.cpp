#include "app/mpeg_snapshot.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "codec/audio_frame_header.h"
#include "codec/picture_cutter.h"
#include "codec/video_codec.h"
#include "demux/raw_file.h"
#include "platform/file.h"
#include "shell/log.h"

namespace {
// ISO/IEC 11172-3 Layer II bit rates in kbit/s by bit-rate index (0 free
// format, 15 forbidden: neither is taken for a frame header here).
constexpr int kLayer2BitRates[16] = {0,   32,  48,  56,  64,  80,  96,  112,
                                     128, 160, 192, 224, 256, 320, 384, 0};
constexpr int kMpegSampleRates[4] = {44100, 48000, 32000, 0};

// ATSC A/52 nominal bit rates by frmsizecod / 2, and the 16-bit words per
// sync frame at 44.1 kHz (the odd codes carry one word more).
constexpr int kAc3BitRates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                  192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr int kAc3Words44[19] = {69,  87,  104, 121, 139, 174, 208,  243,  278, 348,
                                 417, 487, 557, 696, 835, 975, 1114, 1253, 1393};
constexpr int kAc3SampleRates[4] = {48000, 44100, 32000, 0};

int ac3FrameWords(int fscod, int frmsizecod) {
    const int rate = kAc3BitRates[frmsizecod / 2];
    switch (fscod) {
        case 0:
            return 2 * rate;
        case 1:
            return kAc3Words44[frmsizecod / 2] + (frmsizecod & 1);
        default:
            return 3 * rate;
    }
}

// The first offset where 00 00 01 starts with room for the code byte after
// it (and one more, as the stream scan demands).
int findCode(const std::uint8_t* p, int n, int code) {
    for (int i = 0; i + 4 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && (code < 0 || p[i + 3] == code)) return i;
    }
    return -1;
}

bool parseMpegAudio(const std::uint8_t* p, int from, int n, sPMTEntry& entry) {
    for (int i = from; i + 2 < n; ++i) {
        if (p[i] != 0xFF || (p[i + 1] != 0xFC && p[i + 1] != 0xFD)) continue;
        const int bitRateIndex = p[i + 2] >> 4;
        const int sampleIndex = (p[i + 2] >> 2) & 3;
        if (bitRateIndex == 0 || bitRateIndex == 15 || sampleIndex == 3) continue;
        entry.mpegBitRate = kLayer2BitRates[bitRateIndex];
        entry.sampleRate = kMpegSampleRates[sampleIndex];
        entry.reserved = 0;
        // mode: 3 single channel, 2 dual channel, else stereo
        const int mode = i + 3 < n ? p[i + 3] >> 6 : 0;
        entry.layout = mode == 3 ? "1.0" : "2.0";
        return true;
    }
    return false;
}

int ac3LfeFlag(const std::uint8_t* f, int acmod) {
    // lfeon follows the optional cmixlev, surmixlev and dsurmod fields.
    int skipped = 0;
    if ((acmod & 1) && acmod != 1) skipped += 2;
    if (acmod & 4) skipped += 2;
    if (acmod == 2) skipped += 2;
    switch (skipped) {
        case 0:
            return (f[6] >> 4) & 1;
        case 2:
            return (f[6] >> 2) & 1;
        case 4:
            return f[6] & 1;
        default:
            return (f[7] >> 6) & 1;
    }
}

bool parseAc3(const std::uint8_t* p, int from, int n, sPMTEntry& entry) {
    for (int i = from; i + 7 < n; ++i) {
        if (p[i] != 0x0B || p[i + 1] != 0x77) continue;
        const std::uint8_t* f = p + i;
        const int fscod = f[4] >> 6;
        const int frmsizecod = f[4] & 0x3F;
        if (fscod == 3 || frmsizecod >= 38) continue;
        const int size = 2 * ac3FrameWords(fscod, frmsizecod);
        if (fscod == 0)
            entry.ac3BitRate = size / 4;
        else if (fscod == 1)
            entry.ac3BitRate = static_cast<int>(size * 0.2298850574712644 + 0.5);
        else
            entry.ac3BitRate = size / 6;
        entry.sampleRate = kAc3SampleRates[fscod];
        entry.ac3CodingMode = f[6] >> 5;
        entry.ac3Lfe = ac3LfeFlag(f, entry.ac3CodingMode);
        entry.layout = codec::Ac3ChannelLayout(entry.ac3CodingMode, entry.ac3Lfe != 0);
        return true;
    }
    return false;
}
}  // namespace

CMpegSnapshot& MpegSnapshot() {
    static CMpegSnapshot snapshot;
    return snapshot;
}

int SequenceWidth(const std::array<std::uint8_t, 12>& h) {
    return (h[4] << 4) | (h[5] >> 4);
}
int SequenceHeight(const std::array<std::uint8_t, 12>& h) {
    return ((h[5] & 0x0F) << 8) | h[6];
}
int SequenceAspect(const std::array<std::uint8_t, 12>& h) {
    return h[7] >> 4;
}

bool CMpegSnapshot::Init(CRawFile& recording, std::uint16_t, std::uint16_t videoPid,
                         std::uint16_t) {
    LogScope scope("CMpegSnapshot::Init", 1);
    m_recording = &recording;
    m_packets.SetRecording(recording);
    m_videoPid = videoPid;
    return true;
}

bool CMpegSnapshot::ParseAudioHeader(const std::uint8_t* payload, int length, sPMTEntry& entry) {
    const int q = findCode(payload, length, -1);
    if (q < 0 || q + 8 >= length) return false;
    const int from = q + 9 + payload[q + 8];  // behind the PES header
    switch (EntryCodec(entry)) {
        case StreamCodec::MpegAudio:
            return parseMpegAudio(payload, from, length, entry);
        case StreamCodec::Ac3:
            return parseAc3(payload, from, length, entry);
        case StreamCodec::Eac3:
            // Some E-AC-3 tracks carry plain AC-3 frames.
            return codec::ParseEac3Header(payload, from, length, entry) ||
                   parseAc3(payload, from, length, entry);
        case StreamCodec::Aac:
            return codec::ParseAdtsHeader(payload, from, length, entry);
        case StreamCodec::AacLatm:
            return codec::ParseLatmHeader(payload, from, length, entry);
        default:
            return false;
    }
}

bool CMpegSnapshot::allAudioRead() const {
    return std::none_of(m_streams.begin(), m_streams.end(), [](const sPMTEntry& e) {
        return IsAudio(e.streamType) && e.sampleRate == 0;
    });
}

bool CMpegSnapshot::handleAudio(const std::uint8_t* payload, int length, int pid) {
    if (pid != m_videoPid) {
        for (sPMTEntry& entry : m_streams) {
            if (entry.pid == pid && entry.sampleRate == 0) {
                ParseAudioHeader(payload, length, entry);
                break;
            }
        }
    }
    return allAudioRead();
}

StreamCodec CMpegSnapshot::videoCodec() const {
    for (const sPMTEntry& entry : m_streams)
        if (entry.pid == m_videoPid && IsVideo(entry.streamType)) return EntryCodec(entry);
    // A video PID without its entry (taken from a recording header): the
    // receivers that write such headers record MPEG-2.
    return StreamCodec::Mpeg2Video;
}

bool CMpegSnapshot::ExtractPicture(std::uint64_t position, const std::string& path) {
    m_recording->Seek(static_cast<std::int64_t>(position), CRawFile::begin);
    std::uint64_t windowStart = position;
    sPMTEntry videoEntry;
    for (const sPMTEntry& entry : m_streams)
        if (entry.pid == m_videoPid) videoEntry = entry;
    const codec::IVideoCodec* codec =
        m_videoPid != 0 ? codec::VideoCodecFor(videoCodec()) : nullptr;
    std::unique_ptr<codec::IPictureCutter> cutter =
        codec != nullptr ? codec->NewPictureCutter(videoEntry) : nullptr;
    const std::uint64_t window = cutter ? codec->SearchWindow() : kWindowNoVideo;
    const std::uint64_t limit = cutter ? codec->SearchLimit() : 0;
    for (sPMTEntry& entry : m_streams)
        entry.sampleRate = 0;
    m_audioDone = false;
    m_pictureFound = false;
    m_writeFailed = false;
    m_pictureStamp = 0;
    m_sequenceHeader.fill(0);
    m_format = codec::VideoFormat{};
    const std::uint64_t length = m_recording->GetLength();
    std::uint8_t packet[kTsReadSize];
    std::uint8_t payload[kTsPayloadSize];
    while (m_recording->GetPosition() < windowStart + window) {
        if (m_recording->GetPosition() + 512 >= length) break;  // no "length - 512" wrap
        if (m_packets.ReadPacket(packet) == 0) continue;        // the position moved on
        int n = 0;
        if (!CMpegTsDemux::GetPayload(packet, payload, n)) continue;
        const int pid = TsPid(packet);
        if (TsUnitStart(packet) && !m_audioDone) m_audioDone = handleAudio(payload, n, pid);
        if (m_audioDone && cutter && cutter->PictureDone()) break;
        if (pid != m_videoPid || !cutter) continue;
        const codec::VideoPayload video{payload, n, m_recording->GetPosition(),
                                        (packet[3] >> 4) & 3};
        if (!cutter->Feed(video, m_audioDone)) break;
        // Until the first random-access point the window moves with the
        // video, up to the codec's limit.
        if (!cutter->Started()) {
            windowStart = m_recording->GetPosition();
            if (limit != 0 && windowStart - position > limit) break;
        }
    }
    if (cutter) {
        cutter->Finish();
        const codec::CutPicture& picture = cutter->Picture();
        m_pictureFound = cutter->Started();
        m_pictureStamp = picture.stamp;
        if (m_pictureFound) {
            m_picturePosition = picture.position;
            m_sequenceHeader = picture.sequenceHeader;
            m_format = picture.format;
        }
        if (!path.empty()) writeCutOut(path, picture.bytes);
    } else if (!path.empty()) {
        writeCutOut(path, {});
    }
    return m_pictureFound && m_audioDone;
}

void CMpegSnapshot::writeCutOut(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    try {
        platform::PlatformFile file;
        platform::FileError error;
        if (!file.Open(path, platform::modeCreate | platform::modeWrite, &error) ||
            error.Failed()) {
            m_writeFailed = true;
            LogWrite("Cannot create " + path, 1);
        } else {
            file.WriteAt(0, bytes.data(), bytes.size());
        }
    } catch (const platform::FileException& e) {
        m_writeFailed = true;
        LogWrite(std::string("Cannot write picture file: ") + e.what(), 1);
    }
}
