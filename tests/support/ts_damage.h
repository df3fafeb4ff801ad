#pragma once
// Damage done to a transport stream of 188-byte packets the way poor
// reception does it: packets lost by stream and time, the packet that starts
// a PES, one packet in the middle of a video PES, stretches overwritten with
// zeros or noise.

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

namespace damage {

using Bytes = std::vector<unsigned char>;

// The PTS of the first PES of pid (90 kHz, source clock), -1 when none.
std::int64_t FirstPts(const Bytes& ts, int pid);

// Drops the packets of the given PIDs whose PES began at a PTS in [from, to)
// (on the 33-bit circle: the stretch may span a wrap of the clock).
Bytes RemovePackets(const Bytes& ts, const std::set<int>& pids, std::int64_t from, std::int64_t to);

// Drops the packet that starts each PES of pid with a PTS in [from, to) that
// is the n-th after the previous one dropped (every PES for n = 1).
Bytes RemovePesStarts(const Bytes& ts, int pid, std::int64_t from, std::int64_t to, int every = 1);

// Drops the k-th packet (k >= 1) after the PES start of the first PES of pid
// with a PTS at or after from; that packet carries no PES start.
Bytes RemovePacketInPes(const Bytes& ts, int pid, std::int64_t from, int k = 1);

// Overwrites length bytes from byte offset at with zeros or pseudo-random
// noise (seeded, so every run is alike).
Bytes Overwrite(const Bytes& ts, std::size_t at, std::size_t length, bool noise);

// The byte offset of the first packet of pid whose PES has a PTS at or after
// pts (the packet that starts that PES); ts.size() when none.
std::size_t OffsetOfPts(const Bytes& ts, int pid, std::int64_t pts);

}  // namespace damage
