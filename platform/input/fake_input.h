#pragma once
// A scripted input backend for tests: controllers are described up front, every
// call is logged, effect parameters are kept, and chosen calls fail.
#include "platform/input/dinput.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

struct FakeController {
    std::string name = "Fake Stick";
    bool forceFeedback = false;
    int actuatorAxes = 2;        // axes flagged DIDOI_FFACTUATOR (force-feedback devices)
    int axes = 3;                // X, Y, Rz
    bool createFails = false;    // CreateDevice refuses this one
    DIJOYSTATE state{};          // what GetDeviceState hands out
};

// One effect as the device last received it.
struct FakeEffect {
    GUID kind{};
    DWORD flags = 0;             // DIEFFECT flags
    DWORD duration = 0, gain = 0, triggerButton = 0, samplePeriod = 0;
    DWORD axisCount = 0;
    DWORD axes[2] = {};
    LONG direction[2] = {};
    LONG constantMagnitude = 0;
    DIPERIODIC periodic{};
    DWORD lastParameterFlags = 0;
    int setCount = 0;            // successful SetParameters calls
    int startCount = 0;          // Start calls, including restarts by a re-acquire
    int generation = 0;          // times the effect was (re-)created on the device
};

struct FakeInputSystem {
    std::vector<FakeController> controllers;
    // Method name -> result; the call fails with it instead of acting.
    std::map<std::string, HRESULT> failures;
    std::vector<std::string> log;           // "EnumDevices 257", "CreateDevice Fake Stick", ...
    std::deque<FakeEffect> effects;          // in creation order
    // The device in use: lost until re-acquired (Poll then fails with DIERR_INPUTLOST).
    bool lost = false;
    // Acquire results while lost, in order; when empty a re-acquire succeeds.
    std::deque<HRESULT> reacquireResults;
    std::map<DWORD, std::pair<LONG, LONG>> ranges;  // object type -> range set
    bool effectsComeBackNull = false;        // CreateEffect succeeds without an effect
    DWORD cooperativeLevel = 0;
    bool acquired = false;
    int liveObjects = 0;                     // input objects and devices not yet released

    int Count(const std::string& prefix) const;
};

// Starts a fresh fake and makes DirectInput8Create use it; returns it.
FakeInputSystem& InstallFakeInput();
// Back to the SDL2 backend.
void RemoveFakeInput();
