#pragma once
// File-name services over Linux paths that may be written the Windows way
// ('\\' separators, any letter case).
#include "platform/sys/hresult.h"

#include <string>

constexpr DWORD MAX_PATH = 260;

// Makes fileName absolute against the current folder: separators become '/', "."
// and ".." are folded, the disk is not consulted. Returns the length written
// (without the terminator), or the size needed (with it) when bufferLength is too
// small, or 0 on failure. *filePart, when given, points at the last name in buffer
// (nullptr when the path ends in a separator).
DWORD GetFullPathNameA(const char* fileName, DWORD bufferLength, char* buffer, char** filePart);

// True when the path names an existing regular file that can be opened for reading
// (the open is closed again at once). *found receives the path as it exists on disk.
bool ProbeFileForReading(const char* path, std::string* found = nullptr);
