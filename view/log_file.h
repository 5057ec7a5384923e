#pragma once
// The view program's log file: plain text lines, one write call per line.
#include <atomic>

// Descriptor of the log file, -1 while it is not open (writes then do nothing).
extern std::atomic<int> LogDescriptor;

// Opens the log write-only, truncated, in text mode, creating it when missing.
// Stores and returns the descriptor (-1 on failure).
int OpenLogFile(const char* path = "logfile.txt");
// Closes the log; later lines are dropped.
void CloseLogFile();

// Formats one line into a local buffer and writes it with a single call.
void WriteLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes text as it stands (no formatting), in a single call.
void WriteLogText(const char* text);

// Tests: called by every line write between taking the descriptor and writing.
void SetLogWriteHook(void (*hook)());
