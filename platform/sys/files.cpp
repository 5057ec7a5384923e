#include "platform/sys/files.h"

#include "platform/sys/paths.h"

#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

DWORD GetFullPathNameA(const char* fileName, DWORD bufferLength, char* buffer, char** filePart)
{
    if (!fileName || !*fileName || (bufferLength && !buffer)) return 0;
    std::string in(fileName);
    for (char& c : in)
        if (c == '\\') c = '/';
    if (in[0] != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd)) return 0;
        in = std::string(cwd) + "/" + in;
    }
    const bool trailing = in.back() == '/';

    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos < in.size()) {
        std::size_t next = in.find('/', pos);
        if (next == std::string::npos) next = in.size();
        std::string part = in.substr(pos, next - pos);
        pos = next + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(std::move(part));
    }
    std::string out;
    for (const std::string& p : parts) out += "/" + p;
    if (out.empty() || trailing) out += "/";

    const DWORD length = static_cast<DWORD>(out.size());
    if (bufferLength <= length) return length + 1;
    std::memcpy(buffer, out.c_str(), out.size() + 1);
    if (filePart) *filePart = out.back() == '/' ? nullptr : buffer + out.rfind('/') + 1;
    return length;
}

bool ProbeFileForReading(const char* path, std::string* found)
{
    if (!path || !*path) return false;
    std::string resolved = ResolvePath(path);
    int fd = ::open(resolved.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st{};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (ok && found) *found = resolved;
    return ok;
}
