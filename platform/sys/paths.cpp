#include "platform/sys/paths.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

namespace {

bool Exists(const std::string& p)
{
    struct stat st{};
    return ::stat(p.c_str(), &st) == 0;
}

// Finds an entry of dir whose name equals name ignoring case.
bool FindEntry(const std::string& dir, const std::string& name, std::string& found)
{
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return false;
    bool ok = false;
    while (dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = e->d_name;
            ok = true;
            break;
        }
    }
    ::closedir(d);
    return ok;
}

}  // namespace

std::string ResolvePath(const std::string& windowsPath)
{
    std::string mapped = windowsPath;
    for (char& c : mapped)
        if (c == '\\') c = '/';
    if (mapped.empty() || Exists(mapped)) return mapped;

    std::string result;
    std::size_t pos = 0;
    if (mapped[0] == '/') {
        result = "/";
        pos = 1;
    }
    while (pos <= mapped.size()) {
        std::size_t next = mapped.find('/', pos);
        if (next == std::string::npos) next = mapped.size();
        std::string part = mapped.substr(pos, next - pos);
        pos = next + 1;
        if (part.empty()) continue;
        std::string base = result;
        std::string candidate = base + part;
        if (!Exists(candidate)) {
            std::string entry;
            if (part == "." || part == ".." || !FindEntry(base.empty() ? std::string(".") : base, part, entry))
                return mapped;  // no match at this level
            candidate = base + entry;
        }
        result = candidate;
        if (next < mapped.size()) result += '/';
    }
    return result;
}
