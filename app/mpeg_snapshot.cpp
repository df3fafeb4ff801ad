#include "app/mpeg_snapshot.h"

#include <algorithm>
#include <vector>

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
    if (IsMpegAudio(entry.streamType)) return parseMpegAudio(payload, from, length, entry);
    return parseAc3(payload, from, length, entry);
}

bool CMpegSnapshot::allAudioRead() const {
    return std::none_of(m_streams.begin(), m_streams.end(), [](const sPMTEntry& e) {
        return e.streamType != kStreamVideo && e.sampleRate == 0;
    });
}

struct CMpegSnapshot::Search {
    std::vector<std::uint8_t> out;
    std::size_t outLength = 0;
    std::size_t headerOffset = 0;  // where the sequence header went in out
    std::uint64_t windowStart = 0;
    bool started = false;
    bool pictureDone = false;
    bool stop = false;
};

void CMpegSnapshot::append(Search& search, const std::uint8_t* bytes, int count) {
    // The window bounds what is appended; the buffer's end is checked anyway.
    const std::size_t room = search.out.size() - search.outLength;
    const std::size_t n = std::min(room, static_cast<std::size_t>(std::max(count, 0)));
    std::copy(bytes, bytes + n, search.out.begin() + static_cast<std::ptrdiff_t>(search.outLength));
    search.outLength += n;
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

bool CMpegSnapshot::handleVideo(Search& search, const std::uint8_t* payload, int n) {
    const int p = findCode(payload, n, 0x00);
    const int s = findCode(payload, n, 0xB3);
    int e = findCode(payload, n, -1);
    if (e >= 0 && (payload[e + 3] < 0xE0 || payload[e + 3] > 0xEF)) e = -1;
    // A B picture (picture_coding_type 3) ends what the decoder needs.
    if (p >= 0 && p + 5 < n && ((payload[p + 5] >> 3) & 7) == 3 && search.started)
        search.pictureDone = true;
    if (s >= 0 && search.started) {
        search.pictureDone = true;
        if (m_audioDone) {
            append(search, payload, s);
            return false;
        }
    }
    std::int64_t pts = 0;
    if (e >= 0 && !search.started && ReadPesPts(payload + e, n - e, pts)) m_pictureStamp = pts;
    if (s >= 0) {
        if (!search.started) {
            // The first sequence header fixes the picture: its position,
            // stamp and header stay even when the search runs on for audio.
            m_picturePosition = m_recording->GetPosition();
            search.headerOffset = search.outLength;
            search.started = true;
        }
        append(search, payload + s, n - s);
    } else if (search.started) {
        append(search, payload, n);
    } else {
        // Until the first sequence header the window moves with the video.
        search.windowStart = m_recording->GetPosition();
    }
    return true;
}

bool CMpegSnapshot::ExtractPicture(std::uint64_t position, const std::string& path) {
    Search search;
    search.out.resize(kOutputSize);
    m_recording->Seek(static_cast<std::int64_t>(position), CRawFile::begin);
    search.windowStart = position;
    const std::uint64_t window = m_videoPid != 0 ? kWindowVideo : kWindowNoVideo;
    for (sPMTEntry& entry : m_streams)
        entry.sampleRate = 0;
    m_audioDone = false;
    m_pictureFound = false;
    m_writeFailed = false;
    m_pictureStamp = 0;
    m_sequenceHeader.fill(0);
    const std::uint64_t length = m_recording->GetLength();
    std::uint8_t packet[kTsReadSize];
    std::uint8_t payload[kTsPayloadSize];
    while (m_recording->GetPosition() < search.windowStart + window) {
        if (m_recording->GetPosition() + 512 >= length) break;  // no "length - 512" wrap
        if (m_packets.ReadPacket(packet) == 0) continue;        // the position moved on
        int n = 0;
        if (!CMpegTsDemux::GetPayload(packet, payload, n)) continue;
        const int pid = TsPid(packet);
        if (TsUnitStart(packet) && !m_audioDone) m_audioDone = handleAudio(payload, n, pid);
        if (m_audioDone && search.pictureDone) break;
        if (pid != m_videoPid || m_videoPid == 0) continue;
        if (!handleVideo(search, payload, n)) break;
    }
    m_pictureFound = search.started;
    if (search.started) {
        const std::size_t held = std::min<std::size_t>(12, search.outLength - search.headerOffset);
        std::copy_n(search.out.begin() + static_cast<std::ptrdiff_t>(search.headerOffset), held,
                    m_sequenceHeader.begin());
    }
    if (!path.empty()) {
        try {
            platform::PlatformFile file;
            platform::FileError error;
            if (!file.Open(path, platform::modeCreate | platform::modeWrite, &error) ||
                error.Failed()) {
                m_writeFailed = true;
                LogWrite("Cannot create " + path, 1);
            } else {
                file.WriteAt(0, search.out.data(), search.outLength);
            }
        } catch (const platform::FileException& e) {
            m_writeFailed = true;
            LogWrite(std::string("Cannot write picture file: ") + e.what(), 1);
        }
    }
    return search.started && m_audioDone;
}
