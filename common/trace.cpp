#include "common/trace.h"

#include "platform/sys/debug_output.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

HRESULT TraceHResult(const char* file, long line, HRESULT hr, const char* message)
{
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, "%s(%ld): ", file ? file : "", line);
    OutputDebugStringA(buffer);
    if (message) OutputDebugStringA(message);
    if (hr != 0) {
        std::snprintf(buffer, sizeof buffer, "(hr=%08lx)\n", static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
        OutputDebugStringA(buffer);
    }
    OutputDebugStringA("\n");
    return hr;
}

void TraceFormat(const char* format, ...)
{
    if (!format) return;
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    buffer[sizeof buffer - 1] = '\0';
    OutputDebugStringA(buffer);
}
