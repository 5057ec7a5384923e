#pragma once
// Registry keys and values, kept in a small file store under the user's
// configuration folder: $XDG_CONFIG_HOME/meridax/registry (default
// ~/.config/meridax/registry). Only HKEY_CURRENT_USER is a predefined root.
//
// Every call reads the store afresh, so values written by another process are seen
// at once. Writes replace the store atomically (temporary file, fsync, rename) under
// an exclusive file lock, so a crash keeps the old contents and concurrent writers
// lose nothing. A damaged store is reported once on stderr, moved aside
// (registry.corrupt-<seconds>-<pid>-<n>) and treated as empty.
#include "platform/sys/hresult.h"

#include <cstdint>

struct RegistryKeyHandle;
using HKEY = RegistryKeyHandle*;
using REGSAM = std::uint32_t;
using LSTATUS = std::int32_t;

inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));

// Result codes.
constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
constexpr LSTATUS ERROR_OUTOFMEMORY = 14;
constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
constexpr LSTATUS ERROR_MORE_DATA = 234;
constexpr LSTATUS ERROR_CANTWRITE = 1013;

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
// Dispositions reported by RegCreateKeyExA.
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Largest value the store accepts, in bytes.
constexpr DWORD REG_MAX_VALUE_BYTES = 1u << 20;

// Opens subKey below key (names separated by '\\', matched ignoring ASCII case),
// creating it when missing. On failure *result is nullptr.
LSTATUS RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                        REGSAM desired, void* securityAttributes, HKEY* result, DWORD* disposition);
// Opens an existing key; ERROR_FILE_NOT_FOUND when it does not exist.
LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM desired, HKEY* result);
// Reads a value (nullptr or "" names the key's default value). data nullptr: only the
// size and type are returned. A buffer smaller than the value gives ERROR_MORE_DATA,
// *size = the size needed, and the buffer is left untouched. A missing value gives
// ERROR_FILE_NOT_FOUND.
LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* size);
// Stores a value with its type and raw bytes (nothing added or removed).
LSTATUS RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD size);
LSTATUS RegCloseKey(HKEY key);
