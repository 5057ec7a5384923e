#pragma once
// Shared set-up for the application object's tests: generated model files in a
// scratch working folder and a headless device seen through a recording device.
#include "platform/gfx/d3d_device.h"
#include "platform/gfx/recording_device.h"
#include "view/cockpit_app.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace viewapp {

struct DawVertex {
    float px, py, pz, nx, ny, nz, u, v;
};
// A DAW file: the count as given, then the vertices (the count may disagree).
std::vector<std::uint8_t> DawImage(std::int16_t count, const std::vector<DawVertex>& vertices);

// A planet sphere of `count` vertices: triangle t's corners lie at distinct
// directions of radius 1.5 + t % 2 (normals (t, corner, 0)).
std::vector<DawVertex> SphereVertices(int count);

// Macro file of `triangles` records: level byte t % 9 - 1 (255 for t % 9 == 0) and
// rotation byte t % 5.
std::vector<std::uint8_t> MacroImage(int triangles);
// Facet file: record p = (type p % 9, shift p % 3, heights p % 7 - 3, -(p % 5), p % 11 - 5, 0x5A, 0x5A).
std::vector<std::uint8_t> FacetImage(int seed);

// Writes a complete Meshes folder into `folder`: small models (E-10 six vertices,
// O-4 nine, the rest three), a 13500-vertex sphere, the macro file and nine facet
// files (facet file i built from seed i).
void WriteModelFiles(const std::string& folder);

// The first `count` vertices of a 32-byte vertex buffer.
std::vector<ModelVertex> ReadVertices(IDirect3DVertexBuffer8* buffer, int count);

// Runs a test in a scratch working folder holding the model files, with the log
// captured, fresh shared state and a headless device behind a recorder.
class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the device (back buffer width x height) and hands it to app.
    void MakeDevice(UINT width = 128, UINT height = 64);
    // Releases and frees the application's device objects (as the framework's
    // shut-down does) and drops the device; true when the
    // device had no references left.
    bool ReleaseDevice();

    std::string folder_;
    std::string previousFolder_;
    std::unique_ptr<CockpitApplication> app_;
    IDirect3D8* d3d_ = nullptr;
    IDirect3DDevice8* gl_ = nullptr;
    RecordingDevice* device_ = nullptr;
};

}  // namespace viewapp
