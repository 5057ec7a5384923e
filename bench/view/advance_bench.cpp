// Time of one simulation frame (without its 1 ms sleep) with eight vessels and eight
// shots flying, the universe objects turning, the flight model and the reports on.
// Prints the median and the 90th percentile of single frames.
#include "view/link.h"
#include "view/simulation.h"
#include "view/state.h"
#include "view/universe.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

HRESULT DropSend(const void*, DWORD, bool, DWORD) { return S_OK; }
DWORD NoRoundTrip() { return 0; }

void SetUpSession()
{
    OwnVesselIndex = 0;
    InitialStateComplete = 1;
    PropulsionEnabled = 1;
    AltitudeMSL = 12.0f;
    GroundRadius = 2939.6f;
    for (int i = 0; i < VESSEL_COUNT; ++i) {
        VesselState& v = Vessels[i];
        const float a = 0.1f * static_cast<float>(i);
        v.DoublePosition[0] = 2952.0 * std::cos(a);
        v.DoublePosition[1] = 2952.0 * std::sin(a);
        v.DoublePosition[2] = 0.0;
        v.Velocity = D3DXVECTOR3(-0.3f * std::sin(a), 0.3f * std::cos(a), 0.0f);
        v.TargetPosition = D3DXVECTOR3(static_cast<float>(v.DoublePosition[0]), static_cast<float>(v.DoublePosition[1]), 0.0f);
        v.PreviousPosition = v.TargetPosition;
        v.Attitude = D3DXQUATERNION(0.0f, 0.0f, 0.0f, 1.0f);
        v.Rates = D3DXVECTOR3(0.01f, 0.02f, 0.03f);
        D3DXMatrixScaling(&v.ModelMatrix, 0.001f, 0.001f, 0.001f);
        D3DXMatrixIdentity(&v.WorldMatrix);
        v.Present = 1;
        v.Landed = 0;
        v.HitRadius = VESSEL_HIT_RADIUS;
        v.BlinkBits = 0x80000000u;
        v.BlinkInterval = 0.05f;
        v.GroundRadius = DEFAULT_GROUND_RADIUS;
    }
    const std::int16_t kinds[UNIVERSE_OBJECT_COUNT] = {2, 1, 1, -1, -3, -5, -7, -9, -11};
    for (int i = 0; i < UNIVERSE_OBJECT_COUNT; ++i) {
        UniverseObject& o = UniverseObjects[i];
        o = UniverseObject();
        o.Kind = kinds[i];
        o.Distance = o.Kind == 1 ? 3300.0f + 50.0f * static_cast<float>(i) : 2939.6f;
        o.RateA = o.Kind == 1 ? std::sqrt(97386.87f / o.Distance) / o.Distance : 0.0f;
        o.RateB = o.Kind == -1 ? 7.2921e-5f : 0.001f;
        o.HitRadius = 0.2f;
        o.BeaconInterval = 1.0f;
        D3DXMatrixTranslation(&o.BaseMatrix, 0.0f, o.Kind == 1 ? 1.0f : o.Distance, 0.0f);
    }
    HomeObjectIndex = 3;
}

void LaunchShots(float universeSeconds)
{
    for (int i = 0; i < PROJECTILE_COUNT; ++i) {
        Projectile& p = Projectiles[i];
        p.Active = 1;
        p.Exploded = 0;
        p.FrameCounter = static_cast<std::uint8_t>(i);
        p.Owner = static_cast<std::uint8_t>(i);
        p.Position = D3DXVECTOR3(2960.0f, 5.0f * static_cast<float>(i), 3.0f);
        p.Velocity = D3DXVECTOR3(0.0f, 0.0f, 0.5f);
        p.LaunchTime = universeSeconds;
    }
}

}  // namespace

int main()
{
    LinkHooks hooks;
    hooks.send = DropSend;
    hooks.roundTripMs = NoRoundTrip;
    SetLinkHooks(hooks);
    SetUpSession();

    std::vector<double> micros;
    FrameContext frame;
    frame.sleep = false;
    frame.dt = 1.0f / 60.0f;
    frame.framesPerSecond = 60.0f;
    for (int round = 0; round < 40; ++round) {
        frame.t = 1.0f;
        LaunchShots(frame.t);
        for (int k = 0; k < 500; ++k) {   // 8.3 s: the shots stay in flight
            frame.t += frame.dt;
            const auto start = std::chrono::steady_clock::now();
            const HRESULT hr = SimulateFrame(frame);
            const auto stop = std::chrono::steady_clock::now();
            if (hr != S_OK) {
                std::fprintf(stderr, "frame failed: %08x\n", static_cast<unsigned>(hr));
                return 1;
            }
            micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
        }
    }
    int flying = 0;
    for (const Projectile& p : Projectiles) flying += p.Active && !p.Exploded ? 1 : 0;
    std::sort(micros.begin(), micros.end());
    std::printf("AdvanceScene frames: %zu, shots still flying at the end: %d\n", micros.size(), flying);
    std::printf("median %.2f us, 90th percentile %.2f us\n", micros[micros.size() / 2], micros[micros.size() * 9 / 10]);
    return 0;
}
