#include "debug_output.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<int> g_enabled{-1};  // -1: not decided yet
std::atomic<DebugOutputSink> g_sink{nullptr};
}

void EnableDebugOutput(bool on) { g_enabled.store(on ? 1 : 0); }

bool DebugOutputEnabled()
{
    int v = g_enabled.load();
    if (v < 0) {
        const char* env = std::getenv("MERIDAX_TRACE");
        v = (env && *env && *env != '0') ? 1 : 0;
        g_enabled.store(v);
    }
    return v == 1;
}

void SetDebugOutputSink(DebugOutputSink sink) { g_sink.store(sink); }

void OutputDebugStringA(const char* text)
{
    if (!text) return;
    if (DebugOutputSink sink = g_sink.load()) {
        sink(text);
        return;
    }
    if (DebugOutputEnabled()) std::fputs(text, stderr);
}
