#pragma once
// The universe objects of a frame in table order: city, stations, the home planet
// (planet.h), surface mesh, sky box, sun, horizon ring and cloud layer.
#include "platform/gfx/d3d_device.h"
#include "view/atmosphere.h"
#include "view/scene_records.h"

class CockpitApplication;

constexpr float FAR_OBJECT_DISTANCE = 406.2f;     // km: beyond it one untextured sphere
constexpr float FAR_OBJECT_SCALE = 40.62f;
constexpr float OBJECT_FADE_DISTANCE = 380.0f;
constexpr float CLOUD_ALTITUDE = 630.0f;          // km: no clouds at and above
constexpr float CLOUD_DRAW_DISTANCE_SQ = 16384.0f;
// The sky box is built on the far plane; drawn at half size its farthest corner
// lies at 0.87 of the far plane, and the picture is the same (it is centred on the eye).
constexpr float SKY_BOX_DRAW_SCALE = 0.5f;
constexpr int HORIZON_RING_PAIRS = 194;
constexpr int HORIZON_SUN_PAIR = 48;              // the pair straight ahead

// Drawn size of a station's or the city's nav light at viewer distance d:
// d / 21.794495 beyond 19 km, 0.2 sqrt(d) within.
float StationNavLightSize(float d);

// The horizon ring strip into out (390 vertices: 194 pairs and the closing pair);
// returns the sun-side factor of pair 48.
float FillHorizonRing(const AtmosphereFrame& frame, HorizonVertex out[HORIZON_VERTICES]);

// The puff frame: turns a puff's z axis onto the vertical through the viewer.
// Over a pole there is none: false, frame unchanged.
bool CloudPuffFrame(const D3DXVECTOR3& eyeOffset, D3DXMATRIX* frame);

// The object loop, a step of DrawScene after the vessels.
HRESULT DrawUniverseObjects(CockpitApplication& app);
