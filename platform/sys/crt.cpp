#include "platform/sys/crt.h"

#include "platform/sys/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace crt {
namespace {

constexpr int kMaxFds = 4096;

// Descriptors opened in text mode; built on first use so static initialisers may open files.
struct ModeTable {
    std::mutex mutex;
    std::vector<bool> text = std::vector<bool>(kMaxFds, false);
};

ModeTable& Modes()
{
    static ModeTable table;
    return table;
}

bool IsText(int fd)
{
    if (fd < 0 || fd >= kMaxFds) return false;
    ModeTable& m = Modes();
    std::lock_guard<std::mutex> lock(m.mutex);
    return m.text[fd];
}

void SetText(int fd, bool text)
{
    if (fd < 0 || fd >= kMaxFds) return;
    ModeTable& m = Modes();
    std::lock_guard<std::mutex> lock(m.mutex);
    m.text[fd] = text;
}

thread_local RandomGenerator t_random;

}  // namespace

int Open(const char* path, int flags, int permissions)
{
    if (!path) return -1;
    int os = 0;
    switch (flags & 3) {
    case O_WRONLY_: os = O_WRONLY; break;
    case O_RDWR_: os = O_RDWR; break;
    default: os = O_RDONLY; break;
    }
    if (flags & O_APPEND_) os |= O_APPEND;
    if (flags & O_CREAT_) os |= O_CREAT;
    if (flags & O_TRUNC_) os |= O_TRUNC;
    if (flags & O_EXCL_) os |= O_EXCL;
    os |= O_CLOEXEC;
    std::string resolved = ResolvePath(path);
    int fd = ::open(resolved.c_str(), os, permissions);
    SetText(fd, (flags & O_BINARY_) == 0);
    return fd;
}

int Close(int fd)
{
    if (fd < 0) return -1;
    SetText(fd, false);
    return ::close(fd);
}

int Read(int fd, void* buffer, unsigned count)
{
    if (fd < 0 || (!buffer && count)) return -1;
    ssize_t n;
    do {
        n = ::read(fd, buffer, count);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int Write(int fd, const void* buffer, unsigned count)
{
    if (fd < 0 || (!buffer && count)) return -1;
    const char* src = static_cast<const char*>(buffer);
    if (!IsText(fd)) {
        ssize_t n;
        do {
            n = ::write(fd, src, count);
        } while (n < 0 && errno == EINTR);
        return static_cast<int>(n);
    }
    // Lines are short: translate on the stack; longer text goes through the heap.
    char small[1024];
    std::string large;
    char* out = small;
    if (count > sizeof small / 2) {
        large.resize(static_cast<std::size_t>(count) * 2);
        out = large.data();
    }
    std::size_t o = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (src[i] == '\n') out[o++] = '\r';
        out[o++] = src[i];
    }
    ssize_t n;
    do {
        n = ::write(fd, out, o);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    return n == static_cast<ssize_t>(o) ? static_cast<int>(count) : static_cast<int>(n);
}

long Seek(int fd, long offset, int origin)
{
    int whence = origin == SEEK_CUR_ ? SEEK_CUR : origin == SEEK_END_ ? SEEK_END : SEEK_SET;
    off_t r = ::lseek(fd, offset, whence);
    return static_cast<long>(r);
}

int Rand() { return t_random.Next(); }

void Srand(unsigned seed) { t_random.state = seed; }

}  // namespace crt
