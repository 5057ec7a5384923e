#pragma once
// A GUID's text form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#include "platform/sys/guid.h"
#include "platform/sys/hresult.h"

constexpr int GUID_TEXT_SIZE = 39;  // 38 characters and the terminator

// Reads the text form (the closing brace is not required). Fewer than the eleven
// hexadecimal fields: *guid becomes the zero GUID and the result is FALSE.
BOOL ParseGuid(const char* text, GUID* guid);
// Writes the text form into text, which holds at least GUID_TEXT_SIZE bytes.
void FormatGuid(const GUID& guid, char* text);
