#pragma once
// Code-page conversion. The 8-bit code page (CP_ACP) is Windows-1252 so that text
// stays byte-compatible with peers; wide text is UTF-16 (char16_t).
#include "platform/sys/hresult.h"

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
