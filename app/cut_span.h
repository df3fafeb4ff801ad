#pragma once
// Cut areas as other programs' cut lists describe them: stretches of time
// from the recording's first picture, in 90 kHz ticks, and the frame rate
// that frame-counting lists need.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr std::int64_t kTicksPerSecond = 90000;

// Frames per second as a ratio: 25/1, 30000/1001, ...
struct FrameRate {
    std::int64_t num = 25;
    std::int64_t den = 1;
    bool operator==(const FrameRate&) const = default;
};

// The MPEG-1/2 sequence header's frame_rate_code (1..8); nullopt for the
// forbidden and reserved codes.
std::optional<FrameRate> FrameRateFromCode(int code);

// Frame n starts at n frame durations; a frame number read from a file is
// placed half a frame early, so that the picture shown for that frame is
// the first one at or after the time even when its stamp was rounded down.
std::int64_t FrameTicks(std::int64_t frame, const FrameRate& rate);
std::int64_t FrameSearchTicks(std::int64_t frame, const FrameRate& rate);
// The frame shown at ticks (the nearest frame start).
std::int64_t NearestFrame(std::int64_t ticks, const FrameRate& rate);
// "25", "29.97", "23.976".
std::string FrameRateText(const FrameRate& rate);

struct CutSpan {
    std::int64_t start = 0;  // ticks from the first picture
    std::int64_t end = 0;
    bool toEnd = false;  // runs to the end of the recording; end is unused
    int line = 0;        // the line of the file it was read from
};

// What a cut-list reader found: the spans in file order, the lines it left
// out (each said why), or the first malformed line.
struct CutFileContent {
    std::vector<CutSpan> spans;
    std::vector<std::string> notes;  // "line N: ..."
    std::string error;               // "line N: ..."; empty when the file was read
    bool Failed() const { return !error.empty(); }
    // A malformed line: nothing of the file is used.
    void Refuse(std::string why) {
        spans.clear();
        error = std::move(why);
    }
};

// The text of a cut list split into lines (CR LF or LF, a UTF-8 byte-order
// mark dropped). False when it holds a NUL byte (not a text file).
bool SplitCutFileLines(const std::string& text, std::vector<std::string>& lines);
std::string LineError(std::size_t index, const std::string& what);  // index 0 = line 1
std::string Trim(const std::string& text);
