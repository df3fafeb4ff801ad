// A whole demultiplexing job over an arbitrary recording, through the job
// driver as the window runs it: elementary streams, a program stream or a
// VOB, with or without cut areas, written into a folder of this process.
// The first 8 bytes choose the job and the cut areas; the rest is the
// recording. A job must end (done, with warnings, or failed), never crash,
// and one done without a warning has written its file.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/recording_model.h"
#include "engine/function_mng.h"
#include "fuzz_input_file.h"
#include "platform/file.h"
#include "platform/memory_settings_store.h"
#include "platform/settings_store.h"
#include "shell/preferences.h"

namespace {

const std::string& OutputFolder() {
    static const std::string folder = "/tmp/ravelo-fuzz-" + std::to_string(::getpid()) + "-out";
    return folder;
}

// The default progress shows nothing and never cancels; the outputs of the
// last input are removed before each job, so that no question is asked.
void Setup() {
    static platform::MemorySettingsStore store;
    platform::SetSettingsStore(&store);
    CPreferences::SetOutputPath(OutputFolder());
}

// A cut area from two bytes: where it starts and how long it is, in
// hundredths of the recording, with stamps at the same share of 20 s.
CCutArea AreaFrom(std::uint8_t start, std::uint8_t length, std::uint64_t sectors, std::int64_t first) {
    CCutArea area;
    area.IsEnabled = true;
    const std::uint64_t from = sectors * (start % 100) / 100;
    area.SectorStart = from;
    area.SectorEnd = from + sectors * (length % 100) / 100 + 1;
    area.PTSStart = first + static_cast<std::int64_t>(start % 100) * 18000;
    area.PTSEnd = area.PTSStart + static_cast<std::int64_t>(length % 100) * 18000 + 3600;
    return area;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    static const bool ready = (Setup(), true);
    (void)ready;
    if (!WriteFuzzRecording(data + 8, size - 8)) return 0;
    std::filesystem::remove_all(OutputFolder());
    platform::MakeDirectory(OutputFolder());
    CRecordingModel model;
    std::string error;
    if (!model.Open(FuzzFilePath(), &error)) return 0;
    const OutputKind kind = data[0] % 3 == 0 ? OutputEs : data[0] % 3 == 1 ? OutputMpeg : OutputVob;
    const std::uint64_t sectors = model.Recording().GetLength() / 512;
    model.m_cutList.clear();
    for (int i = 0; i < (data[1] & 3); ++i)
        model.m_cutList.push_back(AreaFrom(data[2 + 2 * i], data[3 + 2 * i], sectors, model.m_firstPTS));
    SetActiveRecording(&model);
    CFunctionMng& driver = FunctionMng();
    driver.m_outputFolder = OutputFolder();
    const std::uint16_t audio = model.m_audioPid ? model.m_audioPid : model.m_ac3Pid;
    const JobResult result = driver.FnCreateOutput(audio, kind);
    driver.m_pDoc = nullptr;
    SetActiveRecording(nullptr);
    model.CloseWithoutSaving();
    if (result == JobResult::NotStarted || result == JobResult::Cancelled) __builtin_trap();
    // A job done without a warning wrote every stream it holds.
    if (result == JobResult::Done && kind != OutputEs) {
        const std::string name = OutputFolder() + "/ravelo-fuzz-" + std::to_string(::getpid());
        if (!platform::FileExists(name + (kind == OutputMpeg ? ".mpg" : ".vob"))) __builtin_trap();
    }
    return 0;
}
