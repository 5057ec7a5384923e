#pragma once
// Trace lines on the debug output channel (see platform/sys/debug_output.h).
#include "platform/sys/hresult.h"

// Emits "file(line): ", the message, "(hr=xxxxxxxx)\n" when hr is non-zero, and
// "\n"; returns hr.
HRESULT TraceHResult(const char* file, long line, HRESULT hr, const char* message);
// printf-style line of at most 511 characters (longer text is cut).
void TraceFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
