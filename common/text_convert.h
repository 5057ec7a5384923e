#pragma once
// Conversions between the programs' 8-bit text (Windows-1252) and wide UTF-16 text.
// count is the destination's capacity in characters, or -1 for the source's length
// plus 1; the destination always ends with a terminator at index count - 1 (longer
// text is cut). Null pointers, a zero count or a count below -1 do nothing.
#include "platform/sys/text.h"

void AnsiToWide(WCHAR* dest, const char* source, int count);
void WideToAnsi(char* dest, const WCHAR* source, int count);
// Copies: count -1 copies the whole string; otherwise at most count characters,
// padding a shorter source with zeros, and a terminator at count - 1.
void TextToAnsi(char* dest, const char* source, int count);
void AnsiToText(char* dest, const char* source, int count);
void TextToWide(WCHAR* dest, const char* source, int count);
void WideToText(char* dest, const WCHAR* source, int count);
