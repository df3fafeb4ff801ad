#include "demux/export_timeline.h"

void CExportTimeline::StartRun(std::int64_t sourceStart) {
    EndRun();
    Run run;
    run.sourceStart = sourceStart;
    run.outputStart = VideoEnd();
    run.decodedTo = sourceStart;
    m_runs.push_back(run);
}

void CExportTimeline::MoveRunStart(std::int64_t sourceStart) {
    if (RunOpen() && sourceStart < m_runs.back().sourceStart) m_runs.back().sourceStart = sourceStart;
}

void CExportTimeline::AddFrame(std::int64_t decodedTo) {
    if (!RunOpen()) return;
    Run& run = m_runs.back();
    ++run.frames;
    if (decodedTo > run.decodedTo) run.decodedTo = decodedTo;
}

void CExportTimeline::EndRun() {
    if (RunOpen()) m_runs.back().open = false;
}

void CExportTimeline::Finish() {
    EndRun();
    m_finished = true;
}

std::int64_t CExportTimeline::VideoEnd() const {
    if (m_runs.empty()) return 0;
    const Run& last = m_runs.back();
    return last.outputStart + last.frames * m_frameTicks;
}

CExportTimeline::Verdict CExportTimeline::Place(std::int64_t start, std::int64_t duration,
                                                std::int64_t written, std::size_t& cursor,
                                                std::int64_t& missing) const {
    missing = 0;
    const std::int64_t end = start + duration;
    // Runs that end before the frame are behind every later frame as well.
    while (cursor < m_runs.size() && !m_runs[cursor].open &&
           m_runs[cursor].SourceEnd(m_frameTicks) <= start)
        ++cursor;
    for (std::size_t i = cursor; i < m_runs.size(); ++i) {
        const Run& run = m_runs[i];
        if (end <= run.sourceStart) return Verdict::Drop;  // in no run: before this one
        // An open run may still grow over the frame; until the video has been
        // decoded past it, its end is not known.
        if (run.open && end > run.decodedTo) return Verdict::Wait;
        if (start >= run.SourceEnd(m_frameTicks)) continue;
        // A frame that would begin where the run's last picture has gone
        // plays with the pictures after the splice.
        if (!run.open && written >= run.outputStart + run.frames * m_frameTicks) continue;
        const std::int64_t ideal = run.outputStart + (start - run.sourceStart);
        const std::int64_t late = written - ideal;
        // Written, it would begin more than half a frame after its place:
        // the audio is ahead of it already (the frame overlaps a splice, or
        // repeats a stretch). The next run may still want it.
        if (2 * late > duration) continue;
        if (-2 * late > duration) missing = -late;
        return Verdict::Keep;
    }
    return m_finished ? Verdict::Drop : Verdict::Wait;
}
