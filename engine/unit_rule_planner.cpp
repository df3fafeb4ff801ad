#include "engine/unit_rule_planner.h"

#include <algorithm>

namespace {
constexpr std::int64_t kWrap = std::int64_t{1} << 33;
// A sound PES packet lasts a few frames; a longer gap to the next one is a
// gap in the sound, not its duration.
constexpr std::int64_t kLongestDuration = 90000;

// later - earlier across a 33-bit wrap, as a signed value.
std::int64_t signedDifference(std::int64_t earlier, std::int64_t later) {
    std::int64_t d = (later - earlier) % kWrap;
    if (d < 0) d += kWrap;
    return d >= kWrap / 2 ? d - kWrap : d;
}

// Whether a PES packet stays: Keep, Drop, or Undecided when no splice
// judges it.
enum Verdict { Undecided, Keep, Drop };

Verdict verdict(const SeenUnitStart& start, std::int64_t duration,
                const std::vector<SpliceTimes>& splices, std::uint64_t reach) {
    Verdict keep = Undecided;
    for (const SpliceTimes& splice : splices) {
        const std::uint64_t near = splice.from > reach ? splice.from - reach : 0;
        if (start.position < near || start.position >= splice.to + reach) continue;
        if (!splice.hasCut && !splice.hasResume) continue;
        const bool before = splice.hasCut && signedDifference(start.pts, splice.cut) > 0;
        const bool after =
            splice.hasResume && signedDifference(splice.resume, start.pts + duration) > 0;
        keep = keep != Drop && (before || after) ? Keep : Drop;
    }
    return keep;
}

// Adds the rules that make [from, to) of a PID kept or dropped where the
// stretches it crosses would do otherwise.
void addRules(std::uint16_t pid, std::uint64_t from, std::uint64_t to, bool keep,
              const std::vector<SpliceTimes>& splices, std::vector<UnitRule>& rules) {
    std::uint64_t at = from;
    for (const SpliceTimes& splice : splices) {
        if (at >= to) break;
        if (splice.to <= at) continue;
        const std::uint64_t areaFrom = std::max(at, splice.from);
        const std::uint64_t areaTo = std::min(to, splice.to);
        if (!keep && at < std::min(to, splice.from))
            rules.push_back({at, std::min(to, splice.from), pid, UnitRule::Drop, {}});
        if (keep && areaFrom < areaTo) rules.push_back({areaFrom, areaTo, pid, UnitRule::Keep, {}});
        at = std::max(at, areaTo);
    }
    if (!keep && at < to) rules.push_back({at, to, pid, UnitRule::Drop, {}});
}
}  // namespace

std::vector<UnitRule> PlanUnitRules(std::vector<SeenUnitStart> starts,
                                    const std::vector<SpliceTimes>& splices, std::uint64_t reach) {
    std::sort(starts.begin(), starts.end(), [](const SeenUnitStart& a, const SeenUnitStart& b) {
        return a.pid != b.pid ? a.pid < b.pid : a.position < b.position;
    });
    // The same start seen in two stretches: the one read further counts.
    std::vector<SeenUnitStart> unique;
    for (const SeenUnitStart& start : starts) {
        if (!unique.empty() && unique.back().pid == start.pid &&
            unique.back().position == start.position)
            unique.back().scannedTo = std::max(unique.back().scannedTo, start.scannedTo);
        else
            unique.push_back(start);
    }
    std::vector<UnitRule> rules;
    Verdict last = Undecided;
    std::int64_t lastDuration = 0;
    for (std::size_t i = 0; i < unique.size(); ++i) {
        const SeenUnitStart& start = unique[i];
        if (i == 0 || unique[i - 1].pid != start.pid) {
            last = Undecided;
            lastDuration = 0;
        }
        const SeenUnitStart* next =
            i + 1 < unique.size() && unique[i + 1].pid == start.pid &&
                    unique[i + 1].position <= start.scannedTo
                ? &unique[i + 1]
                : nullptr;
        const std::uint64_t end = next != nullptr ? next->position : start.scannedTo;
        // The last one seen is taken to last as long as the one before it.
        std::int64_t duration = start.audio ? lastDuration : 0;
        if (start.audio && next != nullptr && start.hasPts && next->hasPts) {
            const std::int64_t d = signedDifference(start.pts, next->pts);
            duration = d > 0 && d <= kLongestDuration ? d : 0;
        }
        lastDuration = duration;
        // A PES packet without a time stamp goes with the one before it.
        const Verdict keep = start.hasPts ? verdict(start, duration, splices, reach) : last;
        last = keep;
        if (keep != Undecided) addRules(start.pid, start.position, end, keep == Keep, splices, rules);
    }
    std::stable_sort(rules.begin(), rules.end(),
                     [](const UnitRule& a, const UnitRule& b) { return a.from < b.from; });
    return rules;
}
