#include "view/log_file.h"

#include "platform/sys/crt.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

std::atomic<int> LogDescriptor{-1};

namespace {

// Held while the descriptor is used, opened or closed, so no line goes to a
// descriptor that was closed or handed out again.
std::mutex g_descriptorLock;
std::atomic<void (*)()> g_writeHook{nullptr};

void WriteLine(const char* text, unsigned length)
{
    std::lock_guard<std::mutex> hold(g_descriptorLock);
    int fd = LogDescriptor.load();
    if (auto hook = g_writeHook.load()) hook();
    if (fd >= 0) crt::Write(fd, text, length);
}

}  // namespace

void SetLogWriteHook(void (*hook)()) { g_writeHook.store(hook); }

int OpenLogFile(const char* path)
{
    std::lock_guard<std::mutex> hold(g_descriptorLock);
    int fd = crt::Open(path, crt::O_WRONLY_ | crt::O_CREAT_ | crt::O_TRUNC_ | crt::O_TEXT_, 0644);
    int old = LogDescriptor.exchange(fd);
    if (old >= 0) crt::Close(old);
    return fd;
}

void CloseLogFile()
{
    std::lock_guard<std::mutex> hold(g_descriptorLock);
    int fd = LogDescriptor.exchange(-1);
    if (fd >= 0) crt::Close(fd);
}

void WriteLogText(const char* text)
{
    if (LogDescriptor.load() < 0 || !text) return;
    WriteLine(text, static_cast<unsigned>(std::strlen(text)));
}

void WriteLog(const char* format, ...)
{
    if (LogDescriptor.load() < 0) return;
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return;
    unsigned length = static_cast<unsigned>(n) < sizeof buffer ? static_cast<unsigned>(n) : sizeof buffer - 1;
    WriteLine(buffer, length);
}
