#pragma once
// The elementary-stream writer: the payload of every packet of every output
// channel goes to one file per channel (.m2v/.mpv, .mp2/.mpa, .ac3; for
// H.264/HEVC recordings .h264/.hevc, .aac, .eac3 as well). Base of
// the program-stream and VOB writers, which share its overwrite question.
//
// Write errors and files that cannot be created throw platform::FileException;
// the job driver ends the job on them.

#include <cstdint>
#include <string>
#include <vector>

class CChannelSet;
class CMpegChannel;

class CMpegStorage {
public:
    CMpegStorage() = default;
    virtual ~CMpegStorage();
    CMpegStorage(const CMpegStorage&) = delete;
    CMpegStorage& operator=(const CMpegStorage&) = delete;

    // Prepares the output files; false only when the user cancels the
    // overwrite question.
    virtual bool Open(CChannelSet* channels, std::string prefix);
    // Writes the queued packets, oldest time stamp first. finalWrite marks the
    // last call of a job, after which nothing more arrives.
    virtual bool Write(bool finalWrite = false);
    // Flushes and closes every file; throws when a buffered write fails.
    virtual bool Close();

    // Asks before an existing prefix + extension is replaced: Yes deletes it,
    // No asks for another name (which changes prefix), Cancel gives false.
    static bool AskOverwrite(std::string& prefix, const std::string& extension);
    // The same for every file a job writes (prefix + each suffix): one
    // question names all that exist, before any of them is touched.
    static bool AskOverwrite(std::string& prefix, const std::vector<std::string>& suffixes);
    // The files this writer created (for the job's check of empty outputs).
    const std::vector<std::string>& Files() const { return m_files; }
    // The file extension of a channel's stream type, from the preferences.
    static std::string Extension(std::int32_t streamType);

    const std::string& Prefix() const { return m_prefix; }

protected:
    CChannelSet* m_channels = nullptr;
    std::string m_prefix;

    // Creates path for writing; throws platform::FileException when it cannot.
    void CreateFile(CMpegChannel& channel, const std::string& path);
    // The name of each channel's file after the prefix: Film.mp2, Film(2).mp2, ...
    std::vector<std::string> ChannelSuffixes() const;
    std::vector<std::string> m_files;
    void CloseAll();
};
