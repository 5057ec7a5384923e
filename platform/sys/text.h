#pragma once
// Code-page conversion. The 8-bit code page (CP_ACP) is Windows-1252 so that text
// stays byte-compatible with peers; wide text is UTF-16 (char16_t).
#include "platform/sys/hresult.h"

#include <cstddef>
#include <string>
#include <string_view>

using WCHAR = char16_t;

constexpr UINT CP_ACP = 0;
constexpr UINT CP_WINDOWS_1252 = 1252;

// Converts srcLen bytes (-1: up to and including the terminator) into dst.
// dstLen 0: returns the characters needed and writes nothing. Otherwise returns the
// characters written, or 0 when dst is too small (what fits has been written then)
// or on a bad argument or unknown code page.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, WCHAR* dst, int dstLen);

// Converts srcLen characters (-1: up to and including the terminator) into dst.
// Characters without a Windows-1252 byte become defaultChar's first byte ('?' when
// nullptr), and *usedDefault (if given) tells whether that happened. Returns as
// MultiByteToWideChar does.
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* src, int srcLen, char* dst, int dstLen,
                        const char* defaultChar, BOOL* usedDefault);

// The code point of one Windows-1252 byte, and the byte of a code point (-1: none).
char16_t Windows1252ToUnicode(unsigned char byte);
int UnicodeToWindows1252(char16_t unit);
// A control character: C0 (below U+0020), DEL or C1 (U+0080 to U+009F).
constexpr bool IsControlCharacter(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp < 0xA0); }

// UTF-8 and UTF-16.
constexpr char32_t kReplacementCharacter = 0xFFFD;

// Length of the UTF-8 sequence a lead byte starts, 1 to 4; 0 for a byte that cannot lead one.
int Utf8SequenceLength(unsigned char lead);
// True for a byte that continues a UTF-8 sequence.
inline bool IsUtf8Continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes the character at the start of s[0..len). Returns the bytes it takes (1 to 4)
// and sets *cp; returns 0 with *cp = U+FFFD when no well-formed character starts there
// (a byte that cannot lead, a sequence cut short, an overlong form, a surrogate, or a
// code point beyond U+10FFFF).
int DecodeUtf8Char(const char* s, std::size_t len, char32_t* cp);

// Well-formed UTF-8 as code points appended to *out; false at the first broken character.
bool DecodeUtf8(std::string_view s, std::u32string* out);

// Appends a code point as UTF-8; a surrogate or one beyond U+10FFFF becomes U+FFFD.
void AppendUtf8(std::string& out, char32_t cp);

// UTF-16 as UTF-8; a surrogate without its partner becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view s);
// UTF-8 as UTF-16; each byte that starts no well-formed character becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view s);
