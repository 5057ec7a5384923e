#pragma once
// Typed registry values under a key the caller has opened. Reads fall back to the
// caller's default whenever the value cannot be read and always return S_OK;
// writes return S_OK or E_FAIL.
#include "platform/sys/guid.h"
#include "platform/sys/hresult.h"
#include "platform/sys/registry.h"

// Text of at most size bytes with its terminator; a value that does not fit
// (terminator included) gives the default, cut to the buffer.
HRESULT RegReadString(HKEY key, const char* name, char* text, DWORD size, const char* defaultText);
// REG_SZ with the terminator stored.
HRESULT RegWriteString(HKEY key, const char* name, const char* text);
// Any value of up to 4 bytes (its type is not checked; shorter ones are zero-extended).
HRESULT RegReadDword(HKEY key, const char* name, DWORD* value, DWORD defaultValue);
HRESULT RegWriteDword(HKEY key, const char* name, DWORD value);
// A flag is kept as a DWORD.
HRESULT RegReadFlag(HKEY key, const char* name, BOOL* value, BOOL defaultValue);
HRESULT RegWriteFlag(HKEY key, const char* name, BOOL value);
// Any value of up to 16 bytes; stored as REG_BINARY.
HRESULT RegReadGuid(HKEY key, const char* name, GUID* value, const GUID& defaultValue);
HRESULT RegWriteGuid(HKEY key, const char* name, GUID value);
