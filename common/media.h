#pragma once
// Finding media files: the name as given, the bare file name in the current folder,
// then the bare file name in the media folder.
#include "platform/sys/files.h"
#include "platform/sys/hresult.h"

// "Textures\\"
const char* MediaFolder();

// path holds MAX_PATH characters. S_OK: path is the first readable candidate, as it
// exists on disk (separators and letter case as found). E_FAIL: none was found (or
// the name cannot be made absolute) and path holds fileName, cut to MAX_PATH - 1.
// E_INVALIDARG: a null argument.
HRESULT LocateMediaFile(char* path, const char* fileName);
