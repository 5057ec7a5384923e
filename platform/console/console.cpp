#include "platform/console/console.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace console {
namespace {

constexpr int kIn = STDIN_FILENO;
constexpr int kEscapeWaitMs = 30;  // bytes of a key sequence follow within this time

enum class Mode { Unknown, Terminal, Stream };

Mode g_mode = Mode::Unknown;
termios g_saved{};
volatile std::sig_atomic_t g_changed = 0;  // the terminal is in key mode
int g_pending = -1;                        // a byte read ahead by KeyWaiting
bool g_ended = false;

void ApplyKeyMode()
{
    termios t = g_saved;
    t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(kIn, TCSANOW, &t) == 0) g_changed = 1;
}

void RestoreOnSignal(int sig)
{
    Restore();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void OnStop(int)
{
    const int saved = errno;
    Restore();
    std::signal(SIGTSTP, SIG_DFL);
    std::raise(SIGTSTP);
    // Continued: back to key mode and to this handler.
    std::signal(SIGTSTP, OnStop);
    ApplyKeyMode();
    errno = saved;
}

void RestoreAtExit() { Restore(); }

void Setup()
{
    if (g_mode != Mode::Unknown) return;
    if (isatty(kIn) && tcgetattr(kIn, &g_saved) == 0) {
        g_mode = Mode::Terminal;
        std::atexit(RestoreAtExit);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            struct sigaction a {};
            a.sa_handler = RestoreOnSignal;
            sigemptyset(&a.sa_mask);
            a.sa_flags = SA_RESETHAND;
            sigaction(sig, &a, nullptr);
        }
        struct sigaction stop {};
        stop.sa_handler = OnStop;
        sigemptyset(&stop.sa_mask);
        sigaction(SIGTSTP, &stop, nullptr);
        ApplyKeyMode();
    } else {
        g_mode = Mode::Stream;
    }
}

// Waits up to timeoutMs (-1: forever) for input; true when a read will not block.
bool Readable(int timeoutMs)
{
    pollfd p{kIn, POLLIN, 0};
    for (;;) {
        const int r = poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        return r > 0;
    }
}

// One byte of input, waiting for it; -1 at the end of input.
int ReadByte()
{
    if (g_pending >= 0) {
        const int c = g_pending;
        g_pending = -1;
        return c;
    }
    if (g_ended) return -1;
    for (;;) {
        unsigned char c = 0;
        const ssize_t n = read(kIn, &c, 1);
        if (n == 1) return c;
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            if (errno == EAGAIN) Readable(-1);
            continue;
        }
        g_ended = true;
        return -1;
    }
}

void Echo(const char* text, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = write(STDOUT_FILENO, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}

// After an ESC on a terminal: swallows the rest of a key sequence, if one follows.
int FinishEscape()
{
    if (!Readable(kEscapeWaitMs)) return KEY_ESCAPE;
    const int c = ReadByte();
    if (c == '[' || c == 'O') {
        // Parameters, then one final byte in '@'..'~'.
        for (int i = 0; i < 16 && Readable(kEscapeWaitMs); ++i) {
            const int d = ReadByte();
            if (d < 0 || (d >= '@' && d <= '~' && !(c == '[' && d == '['))) break;
        }
    }
    return KEY_EXTENDED;
}

}  // namespace

void Open() { Setup(); }

void Restore()
{
    if (g_changed) {
        tcsetattr(kIn, TCSANOW, &g_saved);
        g_changed = 0;
    }
}

bool KeyWaiting()
{
    Setup();
    if (g_pending >= 0) return true;
    if (g_ended || !Readable(0)) return false;
    if (g_mode == Mode::Terminal) return true;
    // A pipe or file is readable at its end too: look at the byte.
    g_pending = ReadByte();
    return g_pending >= 0;
}

bool InputEnded()
{
    Setup();
    return g_ended && g_pending < 0;
}

int ReadKey()
{
    Setup();
    const int c = ReadByte();
    if (c == '\r' || c == '\n') return KEY_ENTER;
    if (c == KEY_ESCAPE && g_mode == Mode::Terminal) return FinishEscape();
    return c;
}

int ReadLine(char* buffer, int maxChars)
{
    Setup();
    if (buffer == nullptr) return 0;
    if (maxChars < 0) maxChars = 0;
    int length = 0;
    for (;;) {
        const int c = ReadByte();
        if (c < 0) break;
        if (c == '\r' || c == '\n') {
            Echo("\n", 1);
            break;
        }
        if (c == KEY_BACKSPACE || c == 127) {
            if (length > 0) {
                --length;
                Echo("\b \b", 3);
            }
            continue;
        }
        if (c == KEY_ESCAPE && g_mode == Mode::Terminal) {
            FinishEscape();  // cursor keys do not edit the line
            continue;
        }
        if (c < 32) continue;
        if (length < maxChars) {
            buffer[length++] = static_cast<char>(c);
            const char e = static_cast<char>(c);
            Echo(&e, 1);
        }
    }
    buffer[length] = '\0';
    return length;
}

}  // namespace console
