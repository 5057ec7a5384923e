#pragma once
// Windows-style paths on Linux: '\\' becomes '/', and each folder level is matched
// case-insensitively against what exists on disk.
#include <string>

// Returns the existing path that matches (exact match preferred), or the path with
// separators mapped when nothing matches.
std::string ResolvePath(const std::string& windowsPath);
