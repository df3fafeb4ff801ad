// Preloaded into ravelo-cli by the tests: kills the process in the middle of
// its Nth positional write to a file whose path holds RAVELO_KILL_PATH (half
// the bytes written, then SIGKILL), as a crash or a power cut would stop it;
// or, with RAVELO_KILL_AFTER_UNLINK, right after it removes a file whose path
// holds that text.

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<int> g_writes{0};

bool watched(int fd) {
    const char* part = std::getenv("RAVELO_KILL_PATH");
    if (part == nullptr || *part == '\0') return false;
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0) return false;
    path[n] = '\0';
    return std::strstr(path, part) != nullptr;
}

using PwriteFn = ssize_t (*)(int, const void*, size_t, off_t);

ssize_t killingWrite(PwriteFn real, int fd, const void* buffer, size_t count, off_t offset) {
    const char* limit = std::getenv("RAVELO_KILL_AFTER_WRITES");
    if (limit != nullptr && watched(fd) && ++g_writes == std::atoi(limit)) {
        real(fd, buffer, count / 2, offset);  // a torn write
        ::raise(SIGKILL);
    }
    return real(fd, buffer, count, offset);
}

}  // namespace

extern "C" ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t offset) {
    static auto real = reinterpret_cast<PwriteFn>(::dlsym(RTLD_NEXT, "pwrite64"));
    return killingWrite(real, fd, buffer, count, offset);
}

extern "C" ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    static auto real = reinterpret_cast<PwriteFn>(::dlsym(RTLD_NEXT, "pwrite"));
    return killingWrite(real, fd, buffer, count, offset);
}

extern "C" int unlink(const char* path) {
    using UnlinkFn = int (*)(const char*);
    static auto real = reinterpret_cast<UnlinkFn>(::dlsym(RTLD_NEXT, "unlink"));
    const int result = real(path);
    const char* part = std::getenv("RAVELO_KILL_AFTER_UNLINK");
    if (part != nullptr && *part != '\0' && std::strstr(path, part) != nullptr) ::raise(SIGKILL);
    return result;
}
