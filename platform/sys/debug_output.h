#pragma once
// Debug output channel for trace lines: silent unless MERIDAX_TRACE is set
// in the environment (or EnableDebugOutput is called), then written to stderr.
void OutputDebugStringA(const char* text);
void EnableDebugOutput(bool on);
bool DebugOutputEnabled();
// Tests may capture the channel; nullptr restores the default.
using DebugOutputSink = void (*)(const char* text);
void SetDebugOutputSink(DebugOutputSink sink);
