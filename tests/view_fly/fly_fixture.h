#pragma once
// Fresh view state, the simulation's own globals and the scripted controller.
#include "platform/input/fake_input.h"
#include "view/controller.h"
#include "view/simulation.h"
#include "view_test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace flytest {

inline void ResetFlightState()
{
    viewtest::ResetViewState();
    ControllerTickAccumulator = 0.0f;
    FireButtonState = 0;
    SendTimers = ReportTimers{};
    LandingLightOn = 0;
    Controller = GameController{};
}

// Releases the controller as the program does at exit, then the two effects the
// program leaves to the end of the process.
inline void DropController()
{
    ReleaseGameController();
    if (Controller.constantForce != nullptr) Controller.constantForce->Release();
    if (Controller.squareWave != nullptr) Controller.squareWave->Release();
    Controller = GameController{};
}

// Own vessel 3, level on nothing in particular: identity attitude and world matrix.
inline void MakeOwnVessel(std::uint8_t own = 3)
{
    OwnVesselIndex = own;
    InitialStateComplete = 1;
    VesselState& v = Vessels[own];
    v.Attitude = D3DXQUATERNION(0, 0, 0, 1);
    D3DXMatrixIdentity(&v.WorldMatrix);
    for (VesselState& other : Vessels) {
        other.Attitude = D3DXQUATERNION(0, 0, 0, 1);
        D3DXMatrixIdentity(&other.ModelMatrix);
        other.HitRadius = VESSEL_HIT_RADIUS;
    }
}

inline float Deg(float degrees) { return static_cast<float>(degrees * 3.14159265358979 / 180.0); }

}  // namespace flytest
