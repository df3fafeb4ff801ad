#include "support/ts_builder.h"

#include <algorithm>
#include <stdexcept>

#include "demux/raw_file.h"
#include "support/temp_dir.h"

namespace tsb {

namespace {
std::uint32_t crc32Mpeg(const Bytes& data) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::uint8_t byte : data) {
        crc ^= static_cast<std::uint32_t>(byte) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

void putCrc(Bytes& section) {
    const std::uint32_t crc = crc32Mpeg(section);
    for (int shift = 24; shift >= 0; shift -= 8)
        section.push_back(static_cast<std::uint8_t>(crc >> shift));
}

void setSectionLength(Bytes& section) {
    const std::size_t length =
        section.size() + 4 - 3;  // the CRC to come, less the first three bytes
    section[1] = static_cast<std::uint8_t>((section[1] & 0xF0) | ((length >> 8) & 0x0F));
    section[2] = static_cast<std::uint8_t>(length & 0xFF);
}

constexpr int kAc3Rates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                               192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr int kAc3Words44[19] = {69,  87,  104, 121, 139, 174, 208,  243,  278, 348,
                                 417, 487, 557, 696, 835, 975, 1114, 1253, 1393};
}  // namespace

Bytes MakePacket(int pid, int cc, const Bytes& payload, const PacketOptions& o) {
    Bytes p(188, 0xFF);
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>((o.transportError ? 0x80 : 0) | (o.unitStart ? 0x40 : 0) |
                                     ((pid >> 8) & 0x1F));
    p[2] = static_cast<std::uint8_t>(pid & 0xFF);
    int adaptation = o.adaptationLength;  // the length byte's value
    int control = 1;
    if (o.adaptationOnly) {
        control = 2;
        adaptation = 183;
    } else {
        const int wanted = static_cast<int>(std::min<std::size_t>(payload.size(), 184));
        if (adaptation < 0 && wanted < 184) adaptation = 183 - wanted;
        if (adaptation >= 0 && 184 - (1 + adaptation) > wanted) adaptation = 183 - wanted;  // stuff
        if (adaptation >= 0) control = 3;
    }
    p[3] = static_cast<std::uint8_t>(((o.scrambling & 3) << 6) | (control << 4) | (cc & 0x0F));
    std::size_t at = 4;
    if (control != 1) {
        p[4] = static_cast<std::uint8_t>(adaptation);
        if (adaptation > 0) p[5] = 0x00;  // no flags; the rest is stuffing (0xFF)
        at = 5 + static_cast<std::size_t>(adaptation);
    }
    if (control != 2 && at < 188) {
        const std::size_t n = std::min(payload.size(), 188 - at);
        std::copy_n(payload.begin(), n, p.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return p;
}

Bytes PatSection(int tsId, const std::vector<std::pair<int, int>>& programs) {
    Bytes s = {
        0x00, 0xB0, 0x00, static_cast<std::uint8_t>(tsId >> 8), static_cast<std::uint8_t>(tsId),
        0xC1, 0x00, 0x00};
    for (const auto& [program, pid] : programs) {
        s.push_back(static_cast<std::uint8_t>(program >> 8));
        s.push_back(static_cast<std::uint8_t>(program));
        s.push_back(static_cast<std::uint8_t>(0xE0 | ((pid >> 8) & 0x1F)));
        s.push_back(static_cast<std::uint8_t>(pid));
    }
    setSectionLength(s);
    putCrc(s);
    return s;
}

Bytes PmtSection(int program, int pcrPid, const std::vector<PmtStream>& streams, int version,
                 bool currentNext, const Bytes& programInfo) {
    Bytes s = {0x02,
               0xB0,
               0x00,
               static_cast<std::uint8_t>(program >> 8),
               static_cast<std::uint8_t>(program),
               static_cast<std::uint8_t>(0xC0 | ((version & 0x1F) << 1) | (currentNext ? 1 : 0)),
               0x00,
               0x00,
               static_cast<std::uint8_t>(0xE0 | ((pcrPid >> 8) & 0x1F)),
               static_cast<std::uint8_t>(pcrPid),
               static_cast<std::uint8_t>(0xF0 | ((programInfo.size() >> 8) & 0x0F)),
               static_cast<std::uint8_t>(programInfo.size())};
    s.insert(s.end(), programInfo.begin(), programInfo.end());
    for (const PmtStream& stream : streams) {
        s.push_back(static_cast<std::uint8_t>(stream.type));
        s.push_back(static_cast<std::uint8_t>(0xE0 | ((stream.pid >> 8) & 0x1F)));
        s.push_back(static_cast<std::uint8_t>(stream.pid));
        s.push_back(static_cast<std::uint8_t>(0xF0 | ((stream.descriptors.size() >> 8) & 0x0F)));
        s.push_back(static_cast<std::uint8_t>(stream.descriptors.size()));
        s.insert(s.end(), stream.descriptors.begin(), stream.descriptors.end());
    }
    setSectionLength(s);
    putCrc(s);
    return s;
}

Bytes LanguageDescriptor(const std::string& language, int audioType) {
    Bytes d = {0x0A, 0x04};
    for (int i = 0; i < 3; ++i)
        d.push_back(
            static_cast<std::uint8_t>(i < static_cast<int>(language.size()) ? language[i] : ' '));
    d.push_back(static_cast<std::uint8_t>(audioType));
    return d;
}

Bytes TeletextDescriptor(const std::string& language) {
    Bytes d = {0x56, 0x05};
    for (int i = 0; i < 3; ++i)
        d.push_back(static_cast<std::uint8_t>(language[i]));
    d.push_back(0x09);  // initial page, magazine 1
    d.push_back(0x00);
    return d;
}

Bytes SubtitlingDescriptor(const std::string& language) {
    Bytes d = {0x59, 0x08};
    for (int i = 0; i < 3; ++i)
        d.push_back(static_cast<std::uint8_t>(language[i]));
    d.insert(d.end(), {0x10, 0x00, 0x01, 0x00, 0x01});
    return d;
}

Bytes Ac3Descriptor() {
    return {0x6A, 0x01, 0x00};
}
Bytes StreamIdentifierDescriptor(int tag) {
    return {0x52, 0x01, static_cast<std::uint8_t>(tag)};
}

Bytes EncodeTimeStamp(std::int64_t stamp, int prefix) {
    const std::uint64_t t = static_cast<std::uint64_t>(stamp) & ((std::uint64_t{1} << 33) - 1);
    return {static_cast<std::uint8_t>((prefix << 4) | ((t >> 29) & 0x0E) | 1),
            static_cast<std::uint8_t>(t >> 22), static_cast<std::uint8_t>(((t >> 14) & 0xFE) | 1),
            static_cast<std::uint8_t>(t >> 7), static_cast<std::uint8_t>(((t << 1) & 0xFE) | 1)};
}

Bytes PesPacket(int streamId, std::optional<std::int64_t> pts, std::optional<std::int64_t> dts,
                const Bytes& data, bool unbounded) {
    Bytes header;
    std::uint8_t flags = 0;
    if (pts) {
        const Bytes t = EncodeTimeStamp(*pts, dts ? 3 : 2);
        header.insert(header.end(), t.begin(), t.end());
        flags = 0x80;
    }
    if (pts && dts) {
        const Bytes t = EncodeTimeStamp(*dts, 1);
        header.insert(header.end(), t.begin(), t.end());
        flags = 0xC0;
    }
    Bytes p = {0x00, 0x00, 0x01,  static_cast<std::uint8_t>(streamId),     0,
               0,    0x80, flags, static_cast<std::uint8_t>(header.size())};
    const std::size_t length = 3 + header.size() + data.size();
    if (!unbounded && length <= 0xFFFF) {
        p[4] = static_cast<std::uint8_t>(length >> 8);
        p[5] = static_cast<std::uint8_t>(length);
    }
    p.insert(p.end(), header.begin(), header.end());
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

Bytes Filler(std::size_t size) {
    return Bytes(size, 0x55);
}

Bytes MpegAudioFrame(int kbits, int sampleRate, bool crc) {
    static const int rates[16] = {0,   32,  48,  56,  64,  80,  96,  112,
                                  128, 160, 192, 224, 256, 320, 384, 0};
    const int rateIndex = static_cast<int>(std::find(rates + 1, rates + 15, kbits) - rates);
    const int srIndex = sampleRate == 44100 ? 0 : sampleRate == 48000 ? 1 : 2;
    Bytes frame = Filler(static_cast<std::size_t>(144000 * kbits / sampleRate));
    frame[0] = 0xFF;
    frame[1] = crc ? 0xFC : 0xFD;
    frame[2] = static_cast<std::uint8_t>((rateIndex << 4) | (srIndex << 2));
    frame[3] = 0x04;
    return frame;
}

Bytes Ac3Frame(int frmsizecod, int acmod, bool lfe, int fscod) {
    const int rate = kAc3Rates[frmsizecod / 2];
    const int words = fscod == 0   ? 2 * rate
                      : fscod == 1 ? kAc3Words44[frmsizecod / 2] + (frmsizecod & 1)
                                   : 3 * rate;
    Bytes frame(static_cast<std::size_t>(2 * words), 0x55);
    frame[0] = 0x0B;
    frame[1] = 0x77;
    frame[2] = frame[3] = 0;
    frame[4] = static_cast<std::uint8_t>((fscod << 6) | frmsizecod);
    frame[5] = 0x40;  // bsid 8, bsmod 0
    // acmod, the optional mix levels, lfeon, then zero bits.
    std::uint32_t bits = static_cast<std::uint32_t>(acmod);
    int count = 3;
    auto put = [&](std::uint32_t value, int n) { bits = (bits << n) | value, count += n; };
    if ((acmod & 1) && acmod != 1) put(0, 2);
    if (acmod & 4) put(0, 2);
    if (acmod == 2) put(0, 2);
    put(lfe ? 1 : 0, 1);
    bits <<= (16 - count);
    frame[6] = static_cast<std::uint8_t>(bits >> 8);
    frame[7] = static_cast<std::uint8_t>(bits);
    return frame;
}

Bytes SequenceHeader(int width, int height, int aspect, int frameRateCode) {
    return {0x00,
            0x00,
            0x01,
            0xB3,
            static_cast<std::uint8_t>(width >> 4),
            static_cast<std::uint8_t>(((width & 0x0F) << 4) | ((height >> 8) & 0x0F)),
            static_cast<std::uint8_t>(height),
            static_cast<std::uint8_t>((aspect << 4) | frameRateCode),
            0x12,
            0x34,
            0xA0,
            0x20};
}

Bytes GopHeader() {
    return {0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x40};
}

Bytes PictureHeader(int codingType, int temporalReference) {
    return {0x00,
            0x00,
            0x01,
            0x00,
            static_cast<std::uint8_t>(temporalReference >> 2),
            static_cast<std::uint8_t>(((temporalReference & 3) << 6) | (codingType << 3) | 0x07),
            0xFF,
            0xF8};
}

int TsBuilder::NextCc(int pid) const {
    auto it = m_cc.find(pid);
    return it == m_cc.end() ? 0 : it->second;
}

void TsBuilder::Packet(int pid, const Bytes& payload, const PacketOptions& options) {
    const int cc = NextCc(pid);
    Raw(MakePacket(pid, cc, payload, options));
    // Packets without payload keep the counter.
    if (!options.adaptationOnly) m_cc[pid] = (cc + 1) & 15;
}

void TsBuilder::Unit(int pid, const Bytes& unit) {
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(184, unit.size() - at);
        PacketOptions options;
        options.unitStart = at == 0;
        Packet(pid,
               Bytes(unit.begin() + static_cast<std::ptrdiff_t>(at),
                     unit.begin() + static_cast<std::ptrdiff_t>(at + n)),
               options);
        at += n;
    } while (at < unit.size());
}

void TsBuilder::Section(int pid, const Bytes& section) {
    Bytes unit = {0x00};  // pointer_field
    unit.insert(unit.end(), section.begin(), section.end());
    // PSI is stuffed with 0xFF, not with an adaptation field.
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(184, unit.size() - at);
        Bytes payload(unit.begin() + static_cast<std::ptrdiff_t>(at),
                      unit.begin() + static_cast<std::ptrdiff_t>(at + n));
        payload.resize(184, 0xFF);
        PacketOptions options;
        options.unitStart = at == 0;
        Packet(pid, payload, options);
        at += n;
    } while (at < unit.size());
}

namespace {
std::vector<PmtStream> pmtStreams(const RecordingPlan& plan) {
    std::vector<PmtStream> streams;
    if (plan.videoPid) streams.push_back({2, plan.videoPid, {}});
    for (const AudioTrack& track : plan.audio) {
        Bytes descriptors = LanguageDescriptor(track.language);
        if (track.ac3) {
            const Bytes ac3 = Ac3Descriptor();
            descriptors.insert(descriptors.end(), ac3.begin(), ac3.end());
        }
        streams.push_back({track.ac3 ? 6 : 3, track.pid, descriptors});
    }
    if (plan.teletext) streams.push_back({6, 0x105, TeletextDescriptor("deu")});
    return streams;
}

Bytes videoPicture(const RecordingPlan& plan, int index) {
    const int inGop = index % plan.gopLength;
    Bytes es;
    auto add = [&](const Bytes& b) { es.insert(es.end(), b.begin(), b.end()); };
    if (inGop == 0) {
        add(SequenceHeader(plan.width, plan.height, plan.aspect, plan.frameRateCode));
        add(GopHeader());
        add(PictureHeader(1, 0));
        add(Filler(2 * plan.pictureBytes));
    } else {
        add(PictureHeader(inGop % 3 == 0 ? 2 : 3, inGop));
        add(Filler(plan.pictureBytes));
    }
    return es;
}
}  // namespace

std::int64_t PictureStamp(int frameRateCode, std::int64_t picture) {
    // frame_rate_code 1..8: 24000/1001, 24, 25, 30000/1001, 30, 50, 60000/1001, 60.
    static const std::int64_t num[] = {25, 24000, 24, 25, 30000, 30, 50, 60000, 60};
    static const std::int64_t den[] = {1, 1001, 1, 1, 1001, 1, 1, 1001, 1};
    const int code = frameRateCode >= 1 && frameRateCode <= 8 ? frameRateCode : 0;
    return picture * 90000 * den[code] / num[code];
}

Bytes BuildRecording(const RecordingPlan& plan) {
    TsBuilder b;
    const Bytes pat = PatSection(1, {{plan.program, plan.pmtPid}});
    const Bytes pmt = PmtSection(
        plan.program, plan.videoPid ? plan.videoPid : plan.audio.front().pid, pmtStreams(plan));
    std::vector<std::int64_t> audioPts(plan.audio.size(), plan.firstPts);
    const int pictures = plan.gops * plan.gopLength;
    for (int k = 0; k < pictures; ++k) {
        if (plan.withPmt && k % plan.psiEvery == 0) {
            b.Section(0, pat);
            b.Section(plan.pmtPid, pmt);
        }
        const std::int64_t pts = plan.firstPts + PictureStamp(plan.frameRateCode, k);
        const std::int64_t nextPts = plan.firstPts + PictureStamp(plan.frameRateCode, k + 1);
        if (plan.videoPid)
            b.Unit(plan.videoPid, PesPacket(0xE0, pts, std::nullopt, videoPicture(plan, k), true));
        for (std::size_t t = 0; t < plan.audio.size(); ++t) {
            const AudioTrack& track = plan.audio[t];
            const int kbits = track.kbits ? track.kbits : track.ac3 ? 448 : 192;
            const std::int64_t duration = track.ac3 ? 2880 : 2160;
            while (audioPts[t] < nextPts) {
                const Bytes frame =
                    track.ac3
                        ? Ac3Frame(static_cast<int>(std::find(kAc3Rates, kAc3Rates + 19, kbits) -
                                                    kAc3Rates) *
                                   2)
                        : MpegAudioFrame(kbits);
                b.Unit(track.pid,
                       PesPacket(track.ac3 ? 0xBD : 0xC0, audioPts[t], std::nullopt, frame));
                audioPts[t] += duration;
            }
        }
        if (plan.teletext && k % 12 == 0)
            b.Unit(0x105, PesPacket(0xBD, pts, std::nullopt, Filler(200)));
    }
    return b.Data();
}

Bytes To192(const Bytes& ts) {
    Bytes out;
    for (std::size_t at = 0; at + 188 <= ts.size(); at += 188) {
        out.insert(out.end(), {0x00, 0x00, 0x00, 0x00});
        out.insert(out.end(), ts.begin() + static_cast<std::ptrdiff_t>(at),
                   ts.begin() + static_cast<std::ptrdiff_t>(at + 188));
    }
    return out;
}

Bytes InsertReceiverBlock(const Bytes& ts, std::size_t packetIndex) {
    Bytes out(ts.begin(), ts.begin() + static_cast<std::ptrdiff_t>((packetIndex + 1) * 188));
    Bytes block(1184, 0x00);
    block[0] = 0x7F;
    out.insert(out.end(), block.begin(), block.end());
    out.insert(out.end(), ts.begin() + static_cast<std::ptrdiff_t>((packetIndex + 1) * 188),
               ts.end());
    return out;
}

Bytes ByteSwap(const Bytes& data) {
    Bytes out = data;
    for (std::size_t i = 0; i + 1 < out.size(); i += 2)
        std::swap(out[i], out[i + 1]);
    return out;
}

Bytes TopfieldHeader(std::size_t size, int pmtPid, int videoPid, int audioPid) {
    Bytes header(size, 0x00);
    auto put = [&](std::size_t at, int pid) {
        header[at] = static_cast<std::uint8_t>((pid >> 8) & 0x1F);
        header[at + 1] = static_cast<std::uint8_t>(pid);
    };
    put(20, pmtPid);
    put(24, videoPid);
    put(26, audioPid);
    return header;
}

std::vector<std::string> WriteSegments(const std::string& name, const Bytes& data,
                                       const std::vector<std::size_t>& sizes) {
    std::vector<std::string> paths;
    std::size_t at = 0;
    for (std::size_t i = 0; at < data.size() || i == 0; ++i) {
        const std::size_t n =
            i < sizes.size() ? std::min(sizes[i], data.size() - at) : data.size() - at;
        const std::string path = CRawFile::GetSegmentName(name, static_cast<int>(i));
        WriteFileBytes(path, Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                                   data.begin() + static_cast<std::ptrdiff_t>(at + n)));
        paths.push_back(path);
        at += n;
        if (i >= sizes.size()) break;
    }
    return paths;
}

}  // namespace tsb
