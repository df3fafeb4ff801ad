#pragma once
// The job driver: runs one job over the active recording and its cut list.
// Demultiplexing jobs go through the demultiplexer, synchroniser and a writer;
// the copying jobs through the byte-level cut engine.

#include <cstdint>
#include <string>

#include "demux/cut_area.h"

class CRawFile;
class CRecordingModel;

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
    // An interrupted run in place must be completed before anything else
    // reads the recording: says so and returns true when one is.
    bool RefuseUnfinishedRun(const CRawFile& recording);
    // Progress and cancel callback of every job; false means stop.
    bool ReportProgress(std::uint64_t position);

    CRecordingModel* m_pDoc = nullptr;
    std::int32_t m_nPacketStride = 188;
    std::int32_t m_nSyncOffset = 0;
    // When set (ravelo-cli -o), the demultiplexing jobs write here instead of
    // the folder the preferences name.
    std::string m_outputFolder;
    // Whether the jobs make sure the work folders (~log, ~temp, ~demux)
    // exist; the command-line tool's copy and cut need none of them.
    bool m_workFolders = true;
};

// Whether two cut lists hold the same enabled areas in the same order.
bool SameAreas(const CCutList& a, const CCutList& b);

// The one driver of the process.
CFunctionMng& FunctionMng();
