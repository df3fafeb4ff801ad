#pragma once
// The job driver: runs one job over the active recording and its cut list.
// Demultiplexing jobs go through the demultiplexer, synchroniser and a writer;
// the copying jobs through the byte-level cut engine.

#include <cstdint>
#include <string>

class CRawFile;
class CRecordingModel;
struct CCutArea;

enum OutputKind { OutputEs = 0, OutputVob = 1, OutputMpeg = 2 };

// What a job ended with, for the front ends (the CLI's exit code).
enum class JobResult { Done, DoneWithWarnings, Cancelled, Failed, NotStarted };

class CFunctionMng {
public:
    // Demultiplexing jobs (create_output.cpp).
    JobResult FnCreateOutput(std::uint16_t audioPid, OutputKind kind);

    // Copying jobs (copy_jobs.cpp, cut_engine.cpp).
    JobResult FnProcessCopy();
    JobResult FnProcessSource();
    JobResult FnProcessCuts(CRawFile& source, CRawFile& destination);

    void FindActiveDocument();
    // Progress and cancel callback of every job; false means stop.
    bool ReportProgress(std::uint64_t position);

    CRecordingModel* m_pDoc = nullptr;
    std::int32_t m_nPacketStride = 188;
    std::int32_t m_nSyncOffset = 0;
    // When set (ravelo-cli -o), the demultiplexing jobs write here instead of
    // the folder the preferences name.
    std::string m_outputFolder;
};

// The one driver of the process.
CFunctionMng& FunctionMng();
