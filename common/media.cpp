#include "common/media.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void CopyCut(char* out, const char* text)
{
    std::size_t n = std::strlen(text);
    if (n >= MAX_PATH) n = MAX_PATH - 1;
    std::memcpy(out, text, n);
    out[n] = '\0';
}

// A candidate too long for the caller's buffer counts as not found.
bool Try(const char* candidate, char* path)
{
    if (std::strlen(candidate) >= MAX_PATH) return false;
    std::string found;
    if (!ProbeFileForReading(candidate, &found) || found.size() >= MAX_PATH) return false;
    std::memcpy(path, found.c_str(), found.size() + 1);
    return true;
}

}  // namespace

const char* MediaFolder() { return "Textures\\"; }

HRESULT LocateMediaFile(char* path, const char* fileName)
{
    if (!path || !fileName) return E_INVALIDARG;
    char full[1024];
    char* filePart = nullptr;
    DWORD n = GetFullPathNameA(fileName, sizeof full, full, &filePart);
    if (n == 0 || n >= sizeof full) {
        CopyCut(path, fileName);
        return E_FAIL;
    }
    if (Try(full, path)) return S_OK;
    // A name ending in a separator has no file-name part to look for elsewhere.
    if (filePart) {
        if (Try(filePart, path)) return S_OK;
        char inFolder[1024];
        int len = std::snprintf(inFolder, sizeof inFolder, "%s%s", MediaFolder(), filePart);
        if (len > 0 && static_cast<std::size_t>(len) < sizeof inFolder && Try(inFolder, path)) return S_OK;
    }
    CopyCut(path, fileName);
    return E_FAIL;
}
