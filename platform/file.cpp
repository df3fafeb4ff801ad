#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

namespace {
OpenHook& openHook() {
    static OpenHook hook;
    return hook;
}

WriteHook& writeHook() {
    static WriteHook hook;
    return hook;
}

std::string describe(int osError) {
    return std::strerror(osError);
}
}  // namespace

bool IsAccessDenied(int osError) {
    return osError == EACCES || osError == EPERM || osError == EROFS || osError == EWOULDBLOCK;
}

FileException::FileException(int osError, const std::string& path, const std::string& what)
    : std::runtime_error(what + " " + path + ": " + describe(osError)),
      m_osError(osError),
      m_path(path) {}

bool GetFileIdentity(const std::string& path, FileIdentity& id) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    return true;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool MakeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return errno == EEXIST && IsDirectory(path);
}

bool WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    PlatformFile file;
    FileError error;
    if (!file.Open(path, modeWrite | modeCreate, &error)) return false;
    try {
        file.WriteAt(0, data, size);
    } catch (const FileException&) {
        file.Close();
        RemoveFile(path);
        return false;
    }
    return true;
}

void SetOpenHookForTesting(OpenHook hook) {
    openHook() = std::move(hook);
}

void SetWriteHookForTesting(WriteHook hook) {
    writeHook() = std::move(hook);
}

void SyncDirectory(const std::string& path) {
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;  // nothing to make durable, or no way to: the caller goes on
    ::fsync(fd);
    ::close(fd);
}

PlatformFile::~PlatformFile() {
    Close();
}

PlatformFile::PlatformFile(PlatformFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)) {}

PlatformFile& PlatformFile::operator=(PlatformFile&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

bool PlatformFile::Open(const std::string& path, unsigned flags, FileError* error) {
    Close();
    auto fail = [&](int code) {
        if (error) error->osError = code, error->path = path;
        return false;
    };
    if (openHook()) {
        if (int code = openHook()(path, flags); code != 0) return fail(code);
    }
    int oflags = O_CLOEXEC;
    if (flags & modeReadWrite)
        oflags |= O_RDWR;
    else if (flags & modeWrite)
        oflags |= O_WRONLY;
    else
        oflags |= O_RDONLY;
    if (flags & modeCreate) oflags |= O_CREAT | O_TRUNC;
    int fd = ::open(path.c_str(), oflags, 0666);
    if (fd < 0) return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail(EISDIR);
    }
    // Another program holding the recording open for writing refuses our lock:
    // that is the access-denied road (the caller opens read-only).
    if ((flags & shareExclusive) && (flags & (modeWrite | modeReadWrite))) {
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int code = errno;
            ::close(fd);
            return fail(code == EWOULDBLOCK ? EACCES : code);
        }
    }
    if (flags & osSequentialScan) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    m_fd = fd;
    m_path = path;
    return true;
}

void PlatformFile::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

std::size_t PlatformFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(m_fd, out + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw FileException(errno, m_path, "Cannot read");
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void PlatformFile::WriteAt(std::uint64_t offset, const void* buffer, std::size_t count) {
    if (writeHook()) {
        if (int code = writeHook()(m_path, offset, count); code != 0)
            throw FileException(code, m_path, "Cannot write");
    }
    auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(m_fd, in + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw FileException(errno, m_path, "Cannot write");
        }
        if (n == 0) throw FileException(ENOSPC, m_path, "Cannot write");
        done += static_cast<std::size_t>(n);
    }
}

std::uint64_t PlatformFile::Length() const {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) throw FileException(errno, m_path, "Cannot get the length of");
    return static_cast<std::uint64_t>(st.st_size);
}

void PlatformFile::SetLength(std::uint64_t length) {
    if (::ftruncate(m_fd, static_cast<off_t>(length)) != 0)
        throw FileException(errno, m_path, "Cannot set the length of");
}

void PlatformFile::Sync() {
    if (m_fd >= 0 && ::fdatasync(m_fd) != 0)
        throw FileException(errno, m_path, "Cannot flush");
}

FileIdentity PlatformFile::Identity() const {
    struct stat st {};
    FileIdentity id;
    if (::fstat(m_fd, &st) == 0) id.device = st.st_dev, id.inode = st.st_ino;
    return id;
}

}  // namespace platform
