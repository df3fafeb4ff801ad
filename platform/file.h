#pragma once
// A plain operating-system file over POSIX open/pread/pwrite with 64-bit
// offsets and an error record that carries errno, in the manner the engine's
// callers expect: success is judged by the record (osError == -1).

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace platform {

// Open flags. Combine one access mode with any of the others.
enum OpenFlags : unsigned {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareExclusive = 0x0010,  // read-write opens take an exclusive flock
    shareDenyNone = 0x0040,
    modeCreate = 0x1000,  // create, truncating an existing file
    osSequentialScan = 0x10000,
};

// The result of an open. osError is -1 when the file opened, else the errno.
struct FileError {
    int osError = -1;
    std::string path;
    void Reset() { osError = -1, path.clear(); }
    bool Failed() const { return osError >= 0; }
};

// errno values that mean "the system refuses write access here": the caller
// may still open the file read-only.
bool IsAccessDenied(int osError);

// Raised by Read/Write/SetLength when the system reports an error, and by
// Write on a short write (disk full).
class FileException : public std::runtime_error {
  public:
    FileException(int osError, const std::string& path, const std::string& what);
    int OsError() const { return m_osError; }
    const std::string& Path() const { return m_path; }

  private:
    int m_osError;
    std::string m_path;
};

// Identity of a file on disk; two paths name the same file when these match.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

bool GetFileIdentity(const std::string& path, FileIdentity& id);
bool FileExists(const std::string& path);  // file or folder
bool IsDirectory(const std::string& path);
bool RemoveFile(const std::string& path);
bool MakeDirectory(const std::string& path);  // true when it exists afterwards
// Writes data as the whole content of the file at path. A write that fails
// (a full disk) leaves no half-written file behind: false, the file removed.
bool WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// Tests replace the system's answer to an open: the hook returns an errno to
// make the open fail with it, or 0 to let it go ahead.
using OpenHook = std::function<int(const std::string& path, unsigned flags)>;
void SetOpenHookForTesting(OpenHook hook);
// Tests make a write fail: the hook returns an errno to fail the write of
// count bytes at offset with it (nothing is written), or 0 to let it go ahead.
using WriteHook =
    std::function<int(const std::string& path, std::uint64_t offset, std::size_t count)>;
void SetWriteHookForTesting(WriteHook hook);

// Makes a folder's entries (a file just created or removed in it) durable.
void SyncDirectory(const std::string& path);

class PlatformFile {
  public:
    PlatformFile() = default;
    ~PlatformFile();
    PlatformFile(const PlatformFile&) = delete;
    PlatformFile& operator=(const PlatformFile&) = delete;
    PlatformFile(PlatformFile&& other) noexcept;
    PlatformFile& operator=(PlatformFile&& other) noexcept;

    bool Open(const std::string& path, unsigned flags, FileError* error);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    int Handle() const { return m_fd; }
    const std::string& Path() const { return m_path; }

    // Positional I/O; the file keeps no position of its own.
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count);
    void WriteAt(std::uint64_t offset, const void* buffer, std::size_t count);
    std::uint64_t Length() const;
    void SetLength(std::uint64_t length);
    // Waits until what was written is on the disk (fdatasync); throws on failure.
    void Sync();
    FileIdentity Identity() const;

  private:
    int m_fd = -1;
    std::string m_path;
};

}  // namespace platform
