#include "view/log_file.h"

#include "platform/sys/crt.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

std::atomic<int> LogDescriptor{-1};

int OpenLogFile(const char* path)
{
    int fd = crt::Open(path, crt::O_WRONLY_ | crt::O_CREAT_ | crt::O_TRUNC_ | crt::O_TEXT_, 0644);
    int old = LogDescriptor.exchange(fd);
    if (old >= 0) crt::Close(old);
    return fd;
}

void CloseLogFile()
{
    int fd = LogDescriptor.exchange(-1);
    if (fd >= 0) crt::Close(fd);
}

void WriteLogText(const char* text)
{
    int fd = LogDescriptor.load();
    if (fd < 0 || !text) return;
    crt::Write(fd, text, static_cast<unsigned>(std::strlen(text)));
}

void WriteLog(const char* format, ...)
{
    int fd = LogDescriptor.load();
    if (fd < 0) return;
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return;
    unsigned length = static_cast<unsigned>(n) < sizeof buffer ? static_cast<unsigned>(n) : sizeof buffer - 1;
    crt::Write(fd, buffer, length);
}
