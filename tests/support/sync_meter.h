#pragma once
// Measures audio/video sync of an output against its source recording.
//
// The pictures of both are decoded by ffmpeg and hashed (framemd5), the
// compressed audio frames are hashed as they stand; every output picture and
// audio frame is matched back to the source by its hash. A source made with
// noise audio has no two audio frames alike, so each output frame names the
// source time it came from. For every output audio frame the meter compares
// how far it moved (output time - source time) with how far the pictures
// shown while it plays moved: the smallest difference is the A/V error the
// output adds to the source's own. Silence and damaged pictures match nothing and are
// counted apart.

#include <string>
#include <vector>

namespace meter {

struct Frame {
    double time = 0;  // seconds
    std::string hash;
    double duration = 0;  // seconds
};

struct Streams {
    std::vector<Frame> video;  // decoded pictures in display order
    std::vector<Frame> audio;  // compressed frames in stream order
    std::string errors;        // what ffmpeg reported while decoding
};

// A transport or program stream: the first video stream and the audio
// stream audioIndex (0 = first), times from the file's own stamps.
Streams ReadProgram(const std::string& path, int audioIndex = 0);
// Elementary streams as an authoring tool muxes them back: both start at 0,
// each picture lasts one frame period (25 per second), each audio frame its
// own duration.
Streams ReadElementary(const std::string& video, const std::string& audio);

struct Error {
    double at = 0;     // output time of the audio frame, seconds from the output's start
    double error = 0;  // seconds; positive: the sound comes late
    double source = 0; // source time of the audio frame, from the first picture
};

struct SyncReport {
    int sourcePictures = 0;
    int outputPictures = 0;
    int foreignPictures = 0;  // decoded pictures found nowhere in the source
    int outputAudio = 0;
    int matchedAudio = 0;
    std::vector<double> lostPictures;  // source times (from its first picture) not in the output
    std::vector<double> repeatedPictures;  // source times shown more than once
    std::vector<Error> errors;             // one per matched audio frame, in output order
    double firstPicture = 0;               // source time of the output's first picture
    double lastPicture = 0;                // and of its last

    // The largest A/V error in size over the whole output (0 without audio).
    double WorstError() const;
    // Pictures lost with a source time in [from, to).
    int LostBetween(double from, double to) const;
    // One line: pictures, audio frames, the worst error and where it is,
    // and the error over time in whole seconds.
    std::string Summary() const;
};

SyncReport Measure(const Streams& source, const Streams& output);

}  // namespace meter
