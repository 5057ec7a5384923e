#pragma once
// Keyboard input of a text console: a poll for a waiting key, a key read without
// echo and a line read with echo.
//
// On a terminal the first call switches it to unbuffered input without echo; the
// terminal is put back as it was at exit, on SIGINT, SIGTERM, SIGHUP and SIGQUIT
// (after which the signal takes its usual course), and around a stop (Ctrl-Z).
// When standard input is not a terminal (a pipe or a file) keys are its bytes,
// one by one.
#include <string>

namespace console {

// Key codes of ReadKey besides the characters themselves.
constexpr int KEY_ENTER = 13;
constexpr int KEY_ESCAPE = 27;
constexpr int KEY_BACKSPACE = 8;
constexpr int KEY_EXTENDED = 224;  // a cursor or function key (its sequence is swallowed)
constexpr int KEY_NONE = -1;       // end of input

// True when a key press is waiting to be read. Never blocks.
bool KeyWaiting();

// Reads one key without echo, waiting for it. ENTER gives 13 (from CR or LF), a
// lone ESC 27; -1 once the input has ended.
int ReadKey();

// Reads a line with echo into buffer (room for maxChars + 1 bytes): printable
// characters are kept and echoed up to maxChars, further ones are dropped;
// backspace removes the last one; ENTER or the end of input ends the line (ENTER
// echoes a line end). Returns the length; the buffer is always NUL-terminated.
// The line is 8-bit Windows-1252 text: on a terminal whose locale is UTF-8 the
// typed characters are converted (one byte each, '?' for those 1252 lacks); from
// anything else (a pipe, a file, another locale) the bytes are kept as they come.
int ReadLine(char* buffer, int maxChars);

// Windows-1252 text as it is to be written to standard output: converted to UTF-8
// when standard output is a terminal whose locale is UTF-8, else the bytes as they
// travelled. Control characters (C0, DEL, and the C1 codes of the bytes 1252 leaves
// undefined) become kControlPlaceholder either way.
constexpr char kControlPlaceholder = '?';
std::string ToTerminalText(const char* text);

// The locale of the environment (LC_ALL, else LC_CTYPE, else LANG) names UTF-8.
bool LocaleIsUtf8();

// True once standard input has ended: no key will ever come.
bool InputEnded();

// Switches a terminal to key input now (otherwise done on first use).
void Open();

// Puts the terminal back as it was found. Safe to call more than once and from a
// signal handler.
void Restore();

}  // namespace console
