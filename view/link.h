#pragma once
// The view program's link to the console client: sending, the handling of
// everything the console client sends, and shots.
#include "client/wire.h"
#include "platform/sys/hresult.h"
#include "platform/ui/win_types.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// What the link needs of the session and the window system. InitDirectPlay installs
// the session-backed set; tests install their own.
struct LinkHooks {
    // Hands one buffer to the session; a negative result is a failed send.
    HRESULT (*send)(const void* data, DWORD size, bool guaranteed, DWORD timeoutMs) = nullptr;
    // Round trip to the console client in milliseconds.
    DWORD (*roundTripMs)() = nullptr;
    // Posts the close request to the main window (never blocks).
    void (*postClose)() = nullptr;
    // Shows a modal box owned by the main window.
    void (*messageBox)(const char* text, const char* caption, UINT type) = nullptr;
    // Ends the process.
    void (*exitProcess)(int code) = nullptr;
};
void SetLinkHooks(const LinkHooks& hooks);
LinkHooks GetLinkHooks();

// Set by every close request (refusal, shut-down notice, end of the session).
extern std::atomic<std::uint8_t> CloseRequested;

// Close request: marks CloseRequested (which ends the start-up wait) and posts
// WM_CLOSE to the main window. Safe from any thread; never waits.
void RequestClose();

// The start-up wait: returns true once the initial state is complete, false when a
// close request came first (the caller then skips the message loop and shuts down).
bool WaitForInitialState();

// Sends one message; on failure shows the "Communication Error!" box and ends the
// process with code 0, so it returns only on success.
void SendPacket(const void* buffer, DWORD size, std::uint8_t guaranteed, DWORD timeoutMs);

// The received-data part of the message handler: a buffer of exactly 20 bytes is a
// StatusPacket, anything else an EventPacket of which at most 82 bytes are read.
void HandleReceivedData(const void* data, std::size_t size);
void HandleStatusPacket(const StatusPacket& packet);
void HandleEventPacket(const EventPacket& packet, std::size_t receivedSize);

// Launches a shot from the own vessel into the first free projectile slot and
// sends it to the console client.
void FireWeapon();

// The chat line as shown on the board: "IVR 52%3.0f: %s", cut to fit 80 bytes.
void FormatChatLine(char (&line)[80], float registration, const char* text);

// Time difference of a position report, wrapped into [-1800, 1800).
float WrapReportDelay(float seconds);
