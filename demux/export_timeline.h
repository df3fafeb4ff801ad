#pragma once
// Where the pictures written to an elementary-stream file lie, in source
// time and in the file's own time, and where each audio frame must go so
// that it plays with them. Elementary streams carry no time stamps: a
// player shows one picture per frame period from the start, and plays the
// audio frames one after the other. So the video written is a series of
// runs: stretches of pictures shown without a gap in the source, each
// following the last in the output (cut areas and lost pictures lie between
// them). An audio frame belongs where its source time lies in a run; it is
// written when the audio written so far ends within half a frame of where
// it must begin and before the run's last picture has gone, passed over
// when the audio already reaches past that, and preceded by silence (or
// reported) where audio is missing.
//
// Times are 90 kHz ticks on one unwrapped source clock.

#include <cstdint>
#include <vector>

class CExportTimeline {
  public:
    // The duration of one picture (frame) of the video.
    void SetFrameTicks(std::int64_t ticks) { m_frameTicks = ticks; }
    std::int64_t FrameTicks() const { return m_frameTicks; }

    // A run begins: its first picture is shown at sourceStart.
    void StartRun(std::int64_t sourceStart);
    // A picture written before the run's first one is shown (a leading
    // picture that stays) moves the run's start back.
    void MoveRunStart(std::int64_t sourceStart);
    // One more frame written to the open run; the video has been decoded up
    // to source time decodedTo (every picture still to come is shown later).
    void AddFrame(std::int64_t decodedTo);
    // The open run ends (pictures are left out after it).
    void EndRun();
    // No more video comes.
    void Finish();
    bool RunOpen() const { return !m_runs.empty() && m_runs.back().open; }
    bool Finished() const { return m_finished; }

    enum class Verdict {
        Wait,  // the video around it is not known yet
        Drop,  // not shown with any picture written, or the audio already reaches past it
        Keep,  // write it (after *missing ticks of silence, when they are more than half a frame)
    };
    // An audio frame of source time [start, start + duration) whose track
    // has written `written` ticks. cursor: the track's own place among the
    // runs (starts at 0).
    Verdict Place(std::int64_t start, std::int64_t duration, std::int64_t written,
                  std::size_t& cursor, std::int64_t& missing) const;

    // Output time where the video written so far ends.
    std::int64_t VideoEnd() const;
    int Runs() const { return static_cast<int>(m_runs.size()); }

  private:
    struct Run {
        std::int64_t sourceStart = 0;
        std::int64_t outputStart = 0;
        std::int64_t frames = 0;
        std::int64_t decodedTo = 0;
        bool open = true;
        std::int64_t SourceEnd(std::int64_t frameTicks) const { return sourceStart + frames * frameTicks; }
    };

    std::vector<Run> m_runs;
    std::int64_t m_frameTicks = 3600;
    bool m_finished = false;
};
