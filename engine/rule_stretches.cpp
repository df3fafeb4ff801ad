#include "engine/rule_stretches.h"

#include <algorithm>

namespace {
struct Range {
    std::uint64_t from = 0;
    std::uint64_t to = 0;
};

std::vector<Range> coveredRanges(const std::vector<UnitRule>& rules) {
    std::vector<Range> ranges;
    for (const UnitRule& rule : rules)
        if (rule.from < rule.to) ranges.push_back({rule.from, rule.to});
    std::sort(ranges.begin(), ranges.end(),
              [](const Range& a, const Range& b) { return a.from < b.from; });
    std::vector<Range> merged;
    for (const Range& range : ranges) {
        if (!merged.empty() && range.from <= merged.back().to)
            merged.back().to = std::max(merged.back().to, range.to);
        else
            merged.push_back(range);
    }
    return merged;
}

void append(std::vector<CutDrop>& drops, CutDrop piece) {
    if (piece.from >= piece.to) return;
    if (!drops.empty()) {
        CutDrop& last = drops.back();
        if (last.to == piece.from && last.kind == CutDrop::Units && piece.kind == CutDrop::Units &&
            last.keepByDefault == piece.keepByDefault) {
            last.to = piece.to;
            return;
        }
    }
    drops.push_back(piece);
}

// The stretch [from, to) outside the areas: judged where rules cover it.
void outside(std::uint64_t from, std::uint64_t to, const std::vector<Range>& covered,
             std::vector<CutDrop>& drops) {
    for (const Range& range : covered) {
        CutDrop piece;
        piece.kind = CutDrop::Units;
        piece.keepByDefault = true;
        piece.from = std::max(from, range.from);
        piece.to = std::min(to, range.to);
        append(drops, piece);
    }
}

// One area: skipped whole where no rule covers it.
void inside(const CutDrop& area, const std::vector<Range>& covered, std::vector<CutDrop>& drops) {
    std::uint64_t at = area.from;
    bool first = true;
    auto skip = [&](std::uint64_t to) {
        CutDrop piece = area;
        piece.from = at;
        piece.to = to;
        piece.reachesEnd = area.reachesEnd && to == area.to;
        // Later pieces of the same area are no new cut to report.
        if (!first) piece.kind = CutDrop::LeadingArea;
        if (piece.from < piece.to) first = false;
        append(drops, piece);
    };
    for (const Range& range : covered) {
        if (range.to <= at || range.from >= area.to) continue;
        skip(std::max(at, range.from));
        CutDrop piece;
        piece.kind = CutDrop::Units;
        piece.keepByDefault = false;
        piece.from = std::max(at, range.from);
        piece.to = std::min(area.to, range.to);
        append(drops, piece);
        at = piece.to;
    }
    skip(area.to);
}
}  // namespace

std::vector<CutDrop> BuildStretches(const std::vector<CutDrop>& areas,
                                    const std::vector<UnitRule>& rules) {
    const std::vector<Range> covered = coveredRanges(rules);
    std::vector<CutDrop> drops;
    std::uint64_t at = 0;
    for (const CutDrop& area : areas) {
        outside(at, area.from, covered, drops);
        inside(area, covered, drops);
        at = area.to;
    }
    outside(at, UINT64_MAX, covered, drops);
    return drops;
}
