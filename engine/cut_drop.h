#pragma once
// One stretch of the source that a cut leaves out, or filters.

#include <cstdint>

struct CutDrop {
    enum Kind {
        Area,             // a cut area, from where the kept data ends to where it resumes
        LeadingArea,      // a cut area at the start of the recording
        LeadingPictures,  // the B pictures after the first I picture of the resumed GOP
        Units,            // packets judged one by one by the unit rules (H.264/HEVC splices)
    };
    std::uint64_t from = 0;
    std::uint64_t to = 0;  // exclusive
    Kind kind = Area;
    bool videoOnly = false;   // only the video PID's packets of the stretch go
    bool reachesEnd = false;  // the area reaches the end: nothing after it is kept
    // Units: what becomes of a packet no rule names (false inside a cut area).
    bool keepByDefault = true;
};
