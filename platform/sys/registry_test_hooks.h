#pragma once
// Lets tests interrupt a store write after the new contents are on disk and
// before they replace the old store (e.g. by ending the process there).
using RegistryWriteHook = void (*)(const char* temporaryPath);
void SetRegistryBeforeRenameHook(RegistryWriteHook hook);
// Lets a test see the damaged-store report again.
void ResetRegistryCorruptionReport();
