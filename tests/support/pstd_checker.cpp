#include "support/pstd_checker.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <queue>
#include <sstream>

namespace pstd {
namespace {

constexpr std::int64_t kWrap = 1ll << 33;

std::int64_t Diff33(std::int64_t earlier, std::int64_t later) {
    std::int64_t d = (later - earlier) & (kWrap - 1);
    return d >= kWrap / 2 ? d - kWrap : d;
}

std::int64_t Stamp(const unsigned char* p) {
    return (std::int64_t{(p[0] >> 1) & 7} << 30) | (std::int64_t{p[1]} << 22) |
           (std::int64_t{p[2] >> 1} << 15) | (std::int64_t{p[3]} << 7) | (p[4] >> 1);
}

std::int64_t Scr(const unsigned char* p) {
    return (std::int64_t{(p[0] >> 3) & 7} << 30) | (std::int64_t{p[0] & 3} << 28) |
           (std::int64_t{p[1]} << 20) | (std::int64_t{p[2] >> 3} << 15) |
           (std::int64_t{p[2] & 3} << 13) | (std::int64_t{p[3]} << 5) | (p[4] >> 3);
}

// MPEG-1 and MPEG-2 (half rate) Layer II: kbit/s by index.
constexpr int kLayer2Mpeg1[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
constexpr int kLayer2Mpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
// AC-3 frame sizes in 16-bit words by frmsizecod, for 48, 44.1 and 32 kHz.
constexpr int kAc3Words[3][38] = {
    {64, 64, 80, 80, 96, 96, 112, 112, 128, 128, 160, 160, 192, 192, 224, 224, 256, 256, 320,
     320, 384, 384, 448, 448, 512, 512, 640, 640, 768, 768, 896, 896, 1024, 1024, 1152, 1152,
     1280, 1280},
    {69, 70, 87, 88, 104, 105, 121, 122, 139, 140, 174, 175, 208, 209, 243, 244, 278, 279, 348,
     349, 417, 418, 487, 488, 557, 558, 696, 697, 835, 836, 975, 976, 1114, 1115, 1253, 1254,
     1393, 1394},
    {96, 96, 120, 120, 144, 144, 168, 168, 192, 192, 240, 240, 288, 288, 336, 336, 384, 384, 480,
     480, 576, 576, 672, 672, 768, 768, 960, 960, 1152, 1152, 1344, 1344, 1536, 1536, 1728, 1728,
     1920, 1920}};

// Frame length in bytes and duration in ticks of the audio frame at p; 0 if none.
int AudioFrame(const unsigned char* p, bool ac3, double& ticks) {
    if (ac3) {
        const int fscod = p[4] >> 6, code = p[4] & 0x3F;
        if (p[0] != 0x0B || p[1] != 0x77 || fscod > 2 || code >= 38) return 0;
        static constexpr int kRates[3] = {48000, 44100, 32000};
        ticks = 1536.0 * 90000 / kRates[fscod];
        return 2 * kAc3Words[fscod][code];
    }
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
    const int version = (p[1] >> 3) & 3, layer = (p[1] >> 1) & 3;
    const int rateIndex = (p[2] >> 2) & 3, bitIndex = p[2] >> 4;
    if (layer != 2 || (version != 3 && version != 2) || rateIndex == 3) return 0;
    static constexpr int kRates[3] = {44100, 48000, 32000};
    const int rate = kRates[rateIndex] >> (version == 3 ? 0 : 1);
    const int kbits = (version == 3 ? kLayer2Mpeg1 : kLayer2Mpeg2)[bitIndex];
    if (kbits == 0) return 0;
    ticks = 1152.0 * 90000 / rate;
    return 144 * kbits * 1000 / rate + ((p[2] >> 1) & 1);
}

enum class Kind { Video, Audio, Ac3 };

// One stream played through its buffer.
class StreamModel {
public:
    StreamModel(Kind kind, StreamReport& report, std::vector<std::string>& problems)
        : m_kind(kind), m_r(report), m_problems(problems) {}

    // A PES payload (without an AC-3 sub-stream header) arriving in pack
    // `pack` from scr on, complete at end.
    void Pes(const unsigned char* payload, std::size_t n, int extraBytes, bool stamped,
             std::int64_t pts, std::int64_t dts, std::int64_t scr, double end, int pack,
             int frames, int pointer) {
        while (!m_removals.empty() && m_removals.top().first <= scr) {
            m_removed += m_removals.top().second;
            m_removals.pop();
        }
        m_arrived += static_cast<std::int64_t>(n) + extraBytes;
        m_extra += extraBytes;
        const std::int64_t fill = m_arrived - m_removed;
        m_r.peak = std::max(m_r.peak, fill);
        if (fill > m_r.bufferSize) ++m_r.overflows;
        m_pes.push_back({m_esEnd, m_esEnd + static_cast<std::int64_t>(n), stamped, pts, dts, frames,
                         pointer, 0, -1});
        m_chunks.push_back({m_esEnd + static_cast<std::int64_t>(n), scr, end, pack});
        m_es.insert(m_es.end(), payload, payload + n);
        m_esEnd += static_cast<std::int64_t>(n);
        m_r.bytes += static_cast<std::int64_t>(n);
        Scan();
    }

    void Finish() {
        if (m_open) Complete(m_esEnd);
        while (!m_pes.empty()) popPes();
    }

    std::set<int>* navPacks = nullptr;
    Report* report = nullptr;

private:
    struct Chunk {
        std::int64_t esEnd;
        std::int64_t scr;
        double end;
        int pack;
    };
    struct PesInfo {
        std::int64_t esStart, esEnd;
        bool stamped;
        std::int64_t pts, dts;
        int frames, pointer;  // AC-3 sub-stream header
        int seen;
        std::int64_t first;
    };

    Kind m_kind;
    StreamReport& m_r;
    std::vector<std::string>& m_problems;
    std::vector<unsigned char> m_es;
    std::int64_t m_base = 0;  // stream offset of m_es[0]
    std::size_t m_scan = 0;   // index in m_es where the scan goes on
    std::int64_t m_esEnd = 0;
    std::deque<Chunk> m_chunks;
    std::deque<PesInfo> m_pes;
    std::priority_queue<std::pair<std::int64_t, std::int64_t>,
                        std::vector<std::pair<std::int64_t, std::int64_t>>, std::greater<>>
        m_removals;
    std::int64_t m_arrived = 0, m_removed = 0, m_extra = 0;
    // The access unit being received.
    bool m_open = false;
    std::int64_t m_auStart = 0, m_auDts = 0, m_auRemoval = 0;
    double m_auTicks = 0;
    bool m_haveTime = false;
    double m_nextDts = 0;
    std::int64_t m_lastRemoval = INT64_MIN;
    // Video.
    bool m_headerSeen = false;
    std::int64_t m_candidate = 0;
    bool m_candidateGop = false;
    double m_period = 3600;

    const Chunk& ChunkOf(std::int64_t offset) const {
        for (const Chunk& c : m_chunks)
            if (offset < c.esEnd) return c;
        return m_chunks.back();
    }

    void popPes() {
        const PesInfo& p = m_pes.front();
        if (m_kind == Kind::Ac3) {
            const int pointer = p.first < 0 ? 0 : static_cast<int>(p.first - p.esStart) + 1;
            if (p.frames != p.seen || p.pointer != pointer)
                m_problems.push_back("AC-3 sub-stream header says " + std::to_string(p.frames) +
                                     " frame(s) at " + std::to_string(p.pointer) + ", found " +
                                     std::to_string(p.seen) + " at " + std::to_string(pointer));
        }
        if (p.stamped && p.seen == 0)
            m_problems.push_back("a PES packet carries a PTS but no access unit begins in it");
        m_pes.pop_front();
    }

    void Complete(std::int64_t end) {
        const Chunk& last = ChunkOf(end - 1);
        const std::int64_t bytes = end - m_auStart + m_extra;
        m_extra = 0;
        if (last.end > static_cast<double>(m_auRemoval)) {
            ++m_r.late;
            m_r.worstLate = std::max(m_r.worstLate, static_cast<std::int64_t>(last.end) - m_auRemoval);
        }
        m_removals.push({std::max(m_auRemoval, last.scr), bytes});
        m_open = false;
        while (m_chunks.size() > 1 && m_chunks.front().esEnd <= end) m_chunks.pop_front();
    }

    void StartUnit(std::int64_t offset, double ticks, bool gop) {
        if (m_open) Complete(offset);
        while (!m_pes.empty() && m_pes.front().esEnd <= offset) popPes();
        const PesInfo* pes = nullptr;
        for (PesInfo& p : m_pes) {
            if (offset >= p.esStart && offset < p.esEnd) {
                if (p.seen++ == 0) p.first = offset;
                if (p.seen == 1 && p.stamped) pes = &p;
                break;
            }
        }
        ++m_r.units;
        const Chunk& chunk = ChunkOf(offset);
        double dts = 0;
        if (pes) {
            ++m_r.stamped;
            dts = static_cast<double>(pes->dts);
            if (m_r.firstPts < 0) m_r.firstPts = pes->pts;
        } else if (m_haveTime) {
            dts = m_nextDts;
        } else {
            m_problems.push_back("the first access unit has no time stamp");
            dts = static_cast<double>(chunk.scr);
        }
        if (!m_haveTime) m_r.firstDts = static_cast<std::int64_t>(dts);
        m_haveTime = true;
        m_auDts = static_cast<std::int64_t>(dts);
        m_auRemoval = std::max(m_auDts, m_lastRemoval);
        m_lastRemoval = m_auRemoval;
        m_auTicks = ticks;
        m_nextDts = dts + ticks;
        m_auStart = offset;
        m_open = true;
        m_r.maxLead = std::max(m_r.maxLead, m_auDts - chunk.scr);
        if (gop && report) {
            ++report->gops;
            if (!navPacks || !navPacks->count(chunk.pack - 1)) ++report->gopsWithoutNav;
        }
    }

    void Trim() {
        if (m_scan > (1u << 20)) {
            m_es.erase(m_es.begin(), m_es.begin() + static_cast<std::ptrdiff_t>(m_scan));
            m_base += static_cast<std::int64_t>(m_scan);
            m_scan = 0;
        }
    }

    void Scan() {
        if (m_kind == Kind::Video)
            ScanVideo();
        else
            ScanAudio();
        Trim();
    }

    void ScanVideo() {
        for (;;) {
            std::size_t i = m_scan;
            while (i + 3 < m_es.size() && !(m_es[i] == 0 && m_es[i + 1] == 0 && m_es[i + 2] == 1)) ++i;
            if (i + 3 >= m_es.size()) {
                m_scan = m_es.size() >= 3 ? std::max(m_scan, m_es.size() - 3) : m_scan;
                return;
            }
            const unsigned char code = m_es[i + 3];
            const std::size_t need = code == 0xB3 ? 8 : code == 0xB5 ? 7 : code == 0x00 ? 6 : 4;
            if (i + need > m_es.size()) {
                m_scan = i;
                return;
            }
            const std::int64_t at = m_base + static_cast<std::int64_t>(i);
            if (code == 0xB3 || code == 0xB8) {
                if (code == 0xB3) {
                    static constexpr double kRates[9] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001,
                                                         30, 50, 60000.0 / 1001, 60};
                    const int rate = m_es[i + 7] & 0x0F;
                    if (rate >= 1 && rate <= 8) m_period = 90000 / kRates[rate];
                }
                if (!m_headerSeen) {
                    m_headerSeen = true;
                    m_candidate = at;
                    m_candidateGop = code == 0xB3;
                }
            } else if (code == 0x00) {
                const std::int64_t start = m_headerSeen ? m_candidate : at;
                const bool gop = m_headerSeen && m_candidateGop;
                m_headerSeen = false;
                StartUnit(start, m_period, gop);
            } else if (code == 0xB5 && (m_es[i + 4] >> 4) == 8 && m_open) {
                const int structure = m_es[i + 6] & 3;
                if (structure == 1 || structure == 2) {
                    m_nextDts -= m_auTicks / 2;
                    m_auTicks /= 2;
                }
            }
            m_scan = i + 3;
        }
    }

    void ScanAudio() {
        const bool ac3 = m_kind == Kind::Ac3;
        const std::size_t header = ac3 ? 5 : 4;
        while (m_scan + header <= m_es.size()) {
            double ticks = 0;
            const int length = AudioFrame(m_es.data() + m_scan, ac3, ticks);
            if (length == 0) {
                ++m_r.lostSync;
                ++m_scan;
                continue;
            }
            StartUnit(m_base + static_cast<std::int64_t>(m_scan), ticks, false);
            m_scan += static_cast<std::size_t>(length);
        }
    }
};

struct Clock {
    bool set = false;
    std::int64_t raw = 0, value = 0;
    std::int64_t Place(std::int64_t stamp) {
        if (!set) {
            set = true;
            raw = stamp;
            value = stamp;
        }
        value += Diff33(raw, stamp);
        raw = stamp;
        return value;
    }
};

class Checker {
public:
    Report Run(const unsigned char* p, std::size_t n) {
        std::size_t at = 0;
        while (at + 4 <= n) {
            if (p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1 && p[at + 3] == 0xB9) {
                m_report.endCode = at + 4 == n;
                if (!m_report.endCode) m_report.problems.push_back("data after the program end code");
                break;
            }
            if (!(p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1 && p[at + 3] == 0xBA) || at + 14 > n) {
                m_report.problems.push_back("no pack header at byte " + std::to_string(at));
                break;
            }
            at = Pack(p, n, at);
        }
        for (auto& [key, model] : m_models) model->Finish();
        return m_report;
    }

private:
    Report m_report;
    std::map<int, std::unique_ptr<StreamModel>> m_models;
    std::set<int> m_navPacks;
    Clock m_clock;
    std::int64_t m_lastScr = 0;
    double m_lastEnd = 0;

    std::size_t Pack(const unsigned char* p, std::size_t n, std::size_t start) {
        const unsigned char* h = p + start;
        const int index = m_report.packs++;
        const std::int64_t scr = m_clock.Place(Scr(h + 4));
        const std::uint32_t rate = ((h[10] << 16) | (h[11] << 8) | h[12]) >> 2;
        m_report.muxRates.insert(rate);
        m_report.packRates.push_back(rate);
        if (m_report.firstScr < 0) m_report.firstScr = scr;
        if (index > 0) {
            if (scr <= m_lastScr) ++m_report.scrBackwards;
            if (static_cast<double>(scr) < m_lastEnd - 1e-6) ++m_report.rateViolations;
        }
        const double end = static_cast<double>(scr) + 2048.0 * 90000 / (rate * 50.0);
        m_lastScr = scr;
        m_lastEnd = end;
        std::size_t at = start + 14 + (h[13] & 7);
        bool pci = false, dsi = false;
        while (at + 6 <= n) {
            const unsigned char* q = p + at;
            if (!(q[0] == 0 && q[1] == 0 && q[2] == 1)) {
                m_report.problems.push_back("no packet start in pack " + std::to_string(index));
                ++m_report.badPacks;
                return n;
            }
            const int code = q[3];
            if (code == 0xBA || code == 0xB9) break;
            const std::size_t length = 6 + ((q[4] << 8) | q[5]);
            if (at + length > n) {
                m_report.problems.push_back("packet runs past the end in pack " + std::to_string(index));
                return n;
            }
            if (code == 0xBB) {
                ++m_report.systemHeaders;
                if (index == 0) m_report.systemHeaderFirst = true;
                m_report.rateBound = (((q[6] & 0x7F) << 15) | (q[7] << 7) | (q[8] >> 1));
            } else if (code == 0xBF && length > 6) {
                (q[6] == 0 ? pci : dsi) = true;
            } else if (code == 0xE0 || (code >= 0xC0 && code <= 0xDF) || code == 0xBD) {
                Pes(q, length, scr, end, index);
            }
            at += length;
        }
        if (pci && dsi) {
            ++m_report.navPacks;
            m_navPacks.insert(index);
        }
        // A pack may end with the program end code.
        std::size_t size = at - start;
        if (at + 4 <= n && p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1 && p[at + 3] == 0xB9) {
            size += 4;
            at += 4;
            m_report.endCode = at == n;
            if (at != n) m_report.problems.push_back("data after the program end code");
            at = n;
        }
        if (size != 2048) ++m_report.badPacks;
        return at;
    }

    void Pes(const unsigned char* q, std::size_t length, std::int64_t scr, double end, int pack) {
        if (length < 9 || 9u + q[8] > length) {
            m_report.problems.push_back("short PES header");
            return;
        }
        const std::size_t headerEnd = 9 + q[8];
        const int flags = q[7];
        bool stamped = false;
        std::int64_t pts = 0, dts = 0;
        if ((flags & 0x80) && headerEnd >= 14) {
            stamped = true;
            pts = m_clock.value + Diff33(m_clock.raw, Stamp(q + 9));
            dts = (flags & 0x40) && headerEnd >= 19 ? m_clock.value + Diff33(m_clock.raw, Stamp(q + 14))
                                                   : pts;
        }
        std::int64_t bufferSize = 0;
        // PES extension with a P-STD buffer field.
        std::size_t ext = 9 + ((flags & 0x80) ? 5 : 0) + ((flags & 0x40) ? 5 : 0) + ((flags & 0x20) ? 6 : 0) +
                          ((flags & 0x10) ? 3 : 0) + ((flags & 0x08) ? 1 : 0) + ((flags & 0x04) ? 2 : 0);
        if ((flags & 0x01) && ext + 3 <= headerEnd && (q[ext] & 0x10)) {
            const int field = (q[ext + 1] << 8) | q[ext + 2];
            bufferSize = ((field >> 13) & 1 ? 1024 : 128) * std::int64_t{field & 0x1FFF};
        }
        int id = q[3], sub = 0, extra = 0, frames = 0, pointer = 0;
        const unsigned char* payload = q + headerEnd;
        std::size_t n = length - headerEnd;
        if (id == 0xBD) {
            if (n < 4) return;
            sub = payload[0];
            frames = payload[1];
            pointer = (payload[2] << 8) | payload[3];
            payload += 4;
            n -= 4;
            extra = 4;
        }
        const int key = (id << 8) | sub;
        auto& model = m_models[key];
        if (!model) {
            StreamReport& r = m_report.streams[key];
            r.streamId = id;
            r.subStreamId = sub;
            const Kind kind = id == 0xE0 ? Kind::Video : id == 0xBD ? Kind::Ac3 : Kind::Audio;
            r.bufferSize = bufferSize ? bufferSize : kind == Kind::Video ? 232 * 1024 : kind == Kind::Ac3 ? 58 * 1024 : 4096;
            model = std::make_unique<StreamModel>(kind, r, m_report.problems);
            model->navPacks = &m_navPacks;
            model->report = &m_report;
        }
        if (bufferSize) m_report.streams[key].bufferSize = bufferSize;
        model->Pes(payload, n, extra, stamped, pts, dts, scr, end, pack, frames, pointer);
    }
};

}  // namespace

int Report::LateUnits() const {
    int late = 0;
    for (const auto& [key, s] : streams) late += s.late;
    return late;
}

int Report::Overflows() const {
    int n = 0;
    for (const auto& [key, s] : streams) n += s.overflows;
    return n;
}

std::int64_t Report::MaxLead() const {
    std::int64_t lead = 0;
    for (const auto& [key, s] : streams) lead = std::max(lead, s.maxLead);
    return lead;
}

std::int64_t Report::StartDelay() const {
    std::int64_t first = INT64_MAX;
    for (const auto& [key, s] : streams)
        if (s.units > 0) first = std::min(first, s.firstDts);
    return first == INT64_MAX ? 0 : first - firstScr;
}

const StreamReport* Report::Stream(int streamId, int subStreamId) const {
    const auto found = streams.find((streamId << 8) | subStreamId);
    return found == streams.end() ? nullptr : &found->second;
}

Report Check(const std::vector<unsigned char>& file) {
    return Checker().Run(file.data(), file.size());
}

Report CheckFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    Report failed;
    if (fd < 0) {
        failed.problems.push_back("cannot open " + path);
        return failed;
    }
    struct stat st {};
    fstat(fd, &st);
    const auto n = static_cast<std::size_t>(st.st_size);
    if (n == 0) {
        close(fd);
        return failed;
    }
    void* map = mmap(nullptr, n, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (map == MAP_FAILED) {
        failed.problems.push_back("cannot map " + path);
        return failed;
    }
    Report r = Checker().Run(static_cast<const unsigned char*>(map), n);
    munmap(map, n);
    return r;
}

std::string Describe(const Report& r) {
    std::ostringstream s;
    s << r.packs << " packs (" << r.badPacks << " bad, " << r.navPacks << " navigation), SCR backwards "
      << r.scrBackwards << ", too fast " << r.rateViolations << ", GOPs " << r.gops << " ("
      << r.gopsWithoutNav << " without navigation pack), system header first "
      << r.systemHeaderFirst << ", end code " << r.endCode << ", start delay " << r.StartDelay()
      << ", mux rates";
    for (std::uint32_t rate : r.muxRates) s << " " << rate;
    for (const auto& [key, t] : r.streams)
        s << "\n  stream " << std::hex << t.streamId << "/" << t.subStreamId << std::dec << ": " << t.units
          << " units, " << t.late << " late (worst " << t.worstLate << "), peak " << t.peak << " of "
          << t.bufferSize << ", overflows " << t.overflows << ", lead " << t.maxLead << ", lost sync "
          << t.lostSync;
    for (std::size_t i = 0; i < r.problems.size() && i < 10; ++i) s << "\n  " << r.problems[i];
    return s.str();
}

std::string Faults(const Report& r) {
    std::string faults;
    const auto fault = [&faults](bool bad, const char* what) {
        if (bad) faults += std::string(what) + "; ";
    };
    fault(r.packs == 0, "no packs");
    fault(r.badPacks > 0, "packs not of 2048 bytes");
    fault(!r.problems.empty(), "problems");
    fault(r.scrBackwards > 0, "SCR going back");
    fault(r.rateViolations > 0, "SCR faster than the mux rate");
    fault(r.LateUnits() > 0, "units late");
    fault(r.Overflows() > 0, "buffers overflowing");
    fault(r.MaxLead() > 90000, "data more than 1 s ahead");
    fault(!r.systemHeaderFirst, "no system header in the first pack");
    fault(!r.endCode, "no program end code");
    fault(r.gopsWithoutNav > 0, "GOPs without navigation pack");
    return faults.empty() ? faults : faults + "\n" + Describe(r);
}

}  // namespace pstd
