#include "engine/function_mng.h"

#include <optional>

#include "app/recording_model.h"
#include "demux/raw_file.h"
#include "platform/clock.h"
#include "shell/progress.h"
#include "shell/text.h"

namespace {

// The window is refreshed and the user interface pumped at most this often;
// the jobs call back far more frequently (once per block or slice).
constexpr std::uint64_t kProgressIntervalMs = 500;
constexpr double kBytesToMebibytes = 9.5367431640625e-07;  // 1 / 1,048,576

// One process-wide throttle, like the one driver it belongs to.
std::optional<std::uint64_t> g_lastUpdateTick;

}  // namespace

CFunctionMng& FunctionMng() {
    static CFunctionMng driver;
    return driver;
}

void CFunctionMng::FindActiveDocument() {
    // There is at most one open recording; without one the driver keeps the
    // recording of its previous job.
    if (CRecordingModel* model = ActiveRecording()) m_pDoc = model;
}

bool CFunctionMng::ReportProgress(std::uint64_t position) {
    const std::uint64_t now = platform::TickCount();
    if (!g_lastUpdateTick) g_lastUpdateTick = now;
    if (now - *g_lastUpdateTick < kProgressIntervalMs && position != 0) return true;

    IProgress& progress = Progress();
    if (m_pDoc != nullptr && m_pDoc->Recording().IsOpen()) {
        const CRawFile& recording = m_pDoc->Recording();
        const std::uint64_t length = recording.GetLength();
        double percent =
            length == 0 ? 0.0 : static_cast<double>(position) * 100.0 / static_cast<double>(length);
        if (percent < 0) percent = 0;
        if (percent > 100) percent = 100;
        progress.SetPos(static_cast<int>(percent * 10));
        progress.SetText(
            recording.GetFileTitle() +
            FormatString(" %2.1f Mbyte/s", CRawFile::GetThroughput() * kBytesToMebibytes));
    }

    // The application is quitting: stop the job as on cancel.
    if (!progress.Pump()) return false;

    g_lastUpdateTick = now;
    return !progress.IsCancelled();
}
