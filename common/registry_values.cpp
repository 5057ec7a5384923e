#include "common/registry_values.h"

#include <cstring>

namespace {

void CopyCut(char* out, DWORD size, const char* text)
{
    if (!text) text = "";
    std::size_t n = std::strlen(text);
    if (n >= size) n = size - 1;
    std::memcpy(out, text, n);
    out[n] = '\0';
}

}  // namespace

HRESULT RegReadString(HKEY key, const char* name, char* text, DWORD size, const char* defaultText)
{
    if (!text || size == 0) return S_OK;
    DWORD got = size;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &got) == ERROR_SUCCESS) {
        // Stored text need not carry its terminator: add one when there is room.
        if (got < size) {
            text[got] = '\0';
            return S_OK;
        }
        if (std::memchr(text, '\0', size)) return S_OK;
    }
    CopyCut(text, size, defaultText);
    return S_OK;
}

HRESULT RegWriteString(HKEY key, const char* name, const char* text)
{
    if (!text) return E_FAIL;
    DWORD size = static_cast<DWORD>(std::strlen(text) + 1);
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) == ERROR_SUCCESS ? S_OK
                                                                                                           : E_FAIL;
}

HRESULT RegReadDword(HKEY key, const char* name, DWORD* value, DWORD defaultValue)
{
    if (!value) return S_OK;
    DWORD v = 0, size = sizeof v;
    *value = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) == ERROR_SUCCESS
                 ? v
                 : defaultValue;
    return S_OK;
}

HRESULT RegWriteDword(HKEY key, const char* name, DWORD value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
                   ERROR_SUCCESS
               ? S_OK
               : E_FAIL;
}

HRESULT RegReadFlag(HKEY key, const char* name, BOOL* value, BOOL defaultValue)
{
    if (!value) return S_OK;
    DWORD v = 0;
    RegReadDword(key, name, &v, static_cast<DWORD>(defaultValue));
    *value = static_cast<BOOL>(v);
    return S_OK;
}

HRESULT RegWriteFlag(HKEY key, const char* name, BOOL value)
{
    return RegWriteDword(key, name, static_cast<DWORD>(value));
}

HRESULT RegReadGuid(HKEY key, const char* name, GUID* value, const GUID& defaultValue)
{
    if (!value) return S_OK;
    GUID g = GUID_NULL;
    DWORD size = sizeof g;
    *value = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&g), &size) == ERROR_SUCCESS
                 ? g
                 : defaultValue;
    return S_OK;
}

HRESULT RegWriteGuid(HKEY key, const char* name, GUID value)
{
    return RegSetValueExA(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
                   ERROR_SUCCESS
               ? S_OK
               : E_FAIL;
}
