#include "platform/console/console.h"

#include "platform/sys/text.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>
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

// The codeset of a locale name such as "en_US.UTF-8" or "C.utf8@euro" is UTF-8.
bool NamesUtf8(const char* name)
{
    const char* dot = std::strchr(name, '.');
    if (dot == nullptr) return false;
    std::string codeset;
    for (const char* c = dot + 1; *c != '\0' && *c != '@'; ++c) {
        if (*c != '-' && *c != '_') codeset += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    return codeset == "utf8";
}

bool Utf8Terminal(int fd) { return isatty(fd) && LocaleIsUtf8(); }

// The rest of a UTF-8 character after its lead byte, waiting for it. Returns the
// code point, or U+FFFD for a broken sequence (a byte that does not continue it is
// kept for the next read).
char32_t FinishCharacter(unsigned char lead)
{
    char bytes[4] = {static_cast<char>(lead)};
    const int n = Utf8SequenceLength(lead);
    int got = 1;
    while (got < n) {
        const int c = ReadByte();
        if (c < 0) break;
        if (!IsUtf8Continuation(static_cast<unsigned char>(c))) {
            g_pending = c;
            break;
        }
        bytes[got++] = static_cast<char>(c);
    }
    char32_t cp = 0;
    DecodeUtf8Char(bytes, static_cast<std::size_t>(got), &cp);
    return cp;
}

// A line typed on a UTF-8 terminal: at most maxChars characters, each converted to
// one Windows-1252 byte ('?' when it has none).
int ReadUtf8Line(char* buffer, int maxChars)
{
    std::vector<char16_t> line;  // one unit per character; beyond 16 bits U+FFFD
    for (;;) {
        const int c = ReadByte();
        if (c < 0) break;
        if (c == '\r' || c == '\n') {
            Echo("\n", 1);
            break;
        }
        if (c == KEY_BACKSPACE || c == 127) {
            if (!line.empty()) {
                line.pop_back();
                Echo("\b \b", 3);
            }
            continue;
        }
        if (c == KEY_ESCAPE) {
            FinishEscape();  // cursor keys do not edit the line
            continue;
        }
        if (c < 32) continue;
        const char32_t cp = FinishCharacter(static_cast<unsigned char>(c));
        if (cp >= 0x80 && cp < 0xA0) continue;  // control characters
        if (static_cast<int>(line.size()) < maxChars) {
            line.push_back(cp < 0x10000 ? static_cast<char16_t>(cp) : u'\uFFFD');
            std::string e;
            AppendUtf8(e, cp == kReplacementCharacter ? U'?' : cp);
            Echo(e.data(), e.size());
        }
    }
    int length = 0;
    if (!line.empty()) {
        length = WideCharToMultiByte(CP_WINDOWS_1252, 0, line.data(), static_cast<int>(line.size()), buffer, maxChars,
                                     "?", nullptr);
    }
    buffer[length] = '\0';
    return length;
}

}  // namespace

bool LocaleIsUtf8()
{
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return NamesUtf8(value);
    }
    return false;
}

std::string ToTerminalText(const char* text)
{
    if (text == nullptr) return "";
    const bool utf8 = Utf8Terminal(STDOUT_FILENO);
    std::string out;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c != 0; ++c) {
        const char16_t cp = Windows1252ToUnicode(*c);
        if (IsControlCharacter(cp)) {
            out += kControlPlaceholder;  // never an escape sequence or a cursor move
        } else if (utf8) {
            AppendUtf8(out, cp);
        } else {
            out += static_cast<char>(*c);
        }
    }
    return out;
}

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
    if (g_mode == Mode::Terminal && Utf8Terminal(kIn)) return ReadUtf8Line(buffer, maxChars);
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
