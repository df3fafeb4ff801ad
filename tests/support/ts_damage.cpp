#include "support/ts_damage.h"

#include <map>
#include <random>

namespace damage {
namespace {

constexpr std::size_t kPacket = 188;

int Pid(const unsigned char* p) {
    return ((p[1] & 0x1F) << 8) | p[2];
}

int PayloadStart(const unsigned char* p) {
    const int control = (p[3] >> 4) & 3;
    if (control == 2) return static_cast<int>(kPacket);
    return control == 3 ? 5 + p[4] : 4;
}

// The PTS of the PES that this packet starts, if it starts one that has a PTS.
bool StartPts(const unsigned char* p, std::int64_t& pts) {
    if (!(p[1] & 0x40)) return false;
    const int start = PayloadStart(p);
    if (start + 14 > static_cast<int>(kPacket)) return false;
    const unsigned char* q = p + start;
    if (q[0] != 0 || q[1] != 0 || q[2] != 1 || !(q[7] & 0x80)) return false;
    pts = (std::int64_t{(q[9] >> 1) & 7} << 30) | (std::int64_t{q[10]} << 22) |
          (std::int64_t{q[11] >> 1} << 15) | (std::int64_t{q[12]} << 7) | (q[13] >> 1);
    return true;
}

void Append(Bytes& out, const unsigned char* p) {
    out.insert(out.end(), p, p + kPacket);
}

}  // namespace

std::int64_t FirstPts(const Bytes& ts, int pid) {
    for (std::size_t at = 0; at + kPacket <= ts.size(); at += kPacket) {
        std::int64_t pts = 0;
        if (Pid(ts.data() + at) == pid && StartPts(ts.data() + at, pts)) return pts;
    }
    return -1;
}

namespace {
constexpr std::int64_t kWrap = std::int64_t{1} << 33;
// Whether pts lies in [from, to) on the 33-bit circle of the stamps.
bool Within(std::int64_t pts, std::int64_t from, std::int64_t to) {
    return ((pts - from) & (kWrap - 1)) < ((to - from) & (kWrap - 1));
}
}  // namespace

Bytes RemovePackets(const Bytes& ts, const std::set<int>& pids, std::int64_t from, std::int64_t to) {
    Bytes out;
    std::map<int, std::int64_t> current;
    for (std::size_t at = 0; at + kPacket <= ts.size(); at += kPacket) {
        const unsigned char* p = ts.data() + at;
        const int pid = Pid(p);
        std::int64_t pts = 0;
        if (StartPts(p, pts)) current[pid] = pts;
        auto it = current.find(pid);
        if (pids.count(pid) && it != current.end() && Within(it->second, from, to)) continue;
        Append(out, p);
    }
    return out;
}

Bytes RemovePesStarts(const Bytes& ts, int pid, std::int64_t from, std::int64_t to, int every) {
    Bytes out;
    int count = 0;
    for (std::size_t at = 0; at + kPacket <= ts.size(); at += kPacket) {
        const unsigned char* p = ts.data() + at;
        std::int64_t pts = 0;
        if (Pid(p) == pid && StartPts(p, pts) && Within(pts, from, to) && count++ % every == 0)
            continue;
        Append(out, p);
    }
    return out;
}

Bytes RemovePacketInPes(const Bytes& ts, int pid, std::int64_t from, int k) {
    Bytes out;
    int after = -1;  // packets of pid since the PES start, -1 before it
    for (std::size_t at = 0; at + kPacket <= ts.size(); at += kPacket) {
        const unsigned char* p = ts.data() + at;
        std::int64_t pts = 0;
        if (Pid(p) == pid) {
            if (after < 0 && StartPts(p, pts) && pts >= from)
                after = 0;
            else if (after >= 0 && ++after == k && !(p[1] & 0x40))
                continue;
        }
        Append(out, p);
    }
    return out;
}

Bytes Overwrite(const Bytes& ts, std::size_t at, std::size_t length, bool noise) {
    Bytes out = ts;
    std::mt19937 random(12);
    for (std::size_t i = at; i < at + length && i < out.size(); ++i)
        out[i] = noise ? static_cast<unsigned char>(random()) : 0;
    return out;
}

std::size_t OffsetOfPts(const Bytes& ts, int pid, std::int64_t pts) {
    for (std::size_t at = 0; at + kPacket <= ts.size(); at += kPacket) {
        std::int64_t stamp = 0;
        if (Pid(ts.data() + at) == pid && StartPts(ts.data() + at, stamp) && stamp >= pts) return at;
    }
    return ts.size();
}

}  // namespace damage
