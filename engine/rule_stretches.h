#pragma once
// The stretches a run by unit rules goes through: the parts of the cut areas
// that no rule names are skipped whole; wherever a rule names packets, the
// stretch is judged packet by packet (its packets dropped by default inside
// an area, kept outside). The rest is moved in whole blocks.

#include <cstdint>
#include <vector>

#include "engine/cut_drop.h"
#include "engine/unit_rule.h"

// areas: sorted, not overlapping, of kind Area or LeadingArea. The result is
// sorted and free of overlaps.
std::vector<CutDrop> BuildStretches(const std::vector<CutDrop>& areas,
                                    const std::vector<UnitRule>& rules);
