// Frame time of the cockpit view's whole scene on the headless device, and the
// device layer's share of it.
//
// The scene: the sample data written into a scratch folder, the own vessel
// 1 km above the ground facing the sunlit horizon with clouds in view (the
// home planet's spin and tilt set to zero, so the puffs lie around the
// vessel), three near vessels with their nav lights, eight projectiles, the
// HUD with the help lines. DrawScene and Present are timed over 300 frames at
// 1024 x 768; the simulation between frames is not.
//
// The layer's share: one frame is recorded (the calls with their vertices,
// matrices, lights, materials and textures) and replayed through the layer,
// and as bare GL calls doing the same draws: the GL state each draw needs is
// read back from a replay through the layer before timing, and the bare
// replay sets only what differs from the draw before, as the layer's own
// change tracking would at best.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/gfx/d3d_device.h"
#include "platform/gfx/gl_device.h"
#include "platform/gfx/recording_device.h"
#include "platform/gfx/renderer_heap.h"
#include "tools/sample-data/sample_data.h"
#include "tools/universe-standin/standin.h"
#include "view/cockpit_app.h"
#include "view/entry.h"
#include "view/log_file.h"
#include "view/simulation.h"
#include "view/state.h"
#include "view/universe.h"

namespace {

constexpr UINT kWidth = 1024, kHeight = 768;
constexpr int kFrames = 300;
constexpr int kReplays = 60;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double ProcessSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

int Fail(const char* what) {
    std::fprintf(stderr, "scene_bench: %s\n", what);
    return 1;
}

// ------------------------------------------------------------------ scene

struct Scene {
    IDirect3D8* d3d = nullptr;
    IDirect3DDevice8* gl = nullptr;
    RecordingDevice* recorder = nullptr;
    CockpitApplication app;
    D3DXVECTOR3 ownPosition;
    D3DXQUATERNION ownAttitude;
    float t = 0.0f;
    std::string folder;  // the scratch folder with the sample data, removed at the end

    // The other vessels and projectiles before the frame's simulation: placed
    // ahead of the view, still.
    void Place() {
        VesselState& own = Vessels[0];
        D3DXVECTOR3 ahead(0, 0, 1), side(1, 0, 0), up(0, 1, 0), forward, right, above;
        {
            ScopedSection hold(own.Lock);
            own.Position = ownPosition;
            for (int i = 0; i < 3; ++i) own.DoublePosition[i] = (&ownPosition.x)[i];
            own.Velocity = own.SurfaceVelocity = own.Rates = D3DXVECTOR3(0, 0, 0);
            own.Attitude = ownAttitude;
            own.Landed = 0;
            D3DXMATRIX rotation, world;
            D3DXMatrixRotationQuaternion(&rotation, &ownAttitude);
            D3DXMatrixInverse(&world, nullptr, &rotation);
            D3DXVec3TransformNormal(&forward, &ahead, &world);
            D3DXVec3TransformNormal(&right, &side, &world);
            D3DXVec3TransformNormal(&above, &up, &world);
        }
        // A point drawn at offset o from the eye lies at P - o in the planet's frame.
        auto at = [&](float f, float r, float u) { return ownPosition - (forward * f + right * r + above * u); };
        const float vessels[3][3] = {{0.3f, -0.04f, -0.01f}, {0.5f, 0.06f, 0.01f}, {0.8f, -0.1f, 0.03f}};
        for (int v = 1; v <= 3; ++v) {
            VesselState& s = Vessels[v];
            ScopedSection hold(s.Lock);
            const D3DXVECTOR3 p = at(vessels[v - 1][0], vessels[v - 1][1], vessels[v - 1][2]);
            s.Position = s.TargetPosition = s.PreviousPosition = p;
            for (int i = 0; i < 3; ++i) s.DoublePosition[i] = (&p.x)[i];
            s.Velocity = s.SurfaceVelocity = s.Rates = D3DXVECTOR3(0, 0, 0);
            s.Present = 1;
            s.Landed = 0;
        }
        for (int j = 0; j < PROJECTILE_COUNT; ++j) {
            Projectile& shot = Projectiles[j];
            ScopedSection hold(shot.Lock);
            shot.Position = at(0.25f + 0.05f * static_cast<float>(j), 0.01f * static_cast<float>(j - 4), -0.005f);
            shot.Velocity = D3DXVECTOR3(0, 0, 0);
            shot.Active = 1;
            shot.Exploded = static_cast<std::uint8_t>(j % 2);
            shot.FrameCounter = static_cast<std::uint8_t>(3 * j);
        }
    }

    // One untimed simulation step of dt.
    HRESULT Simulate(float dt) {
        Place();
        t += dt;
        app.AppTime = t;
        app.ElapsedTime = dt;
        FrameContext frame;
        frame.t = t;
        frame.dt = dt;
        frame.framesPerSecond = 60.0f;
        frame.device = app.Device;
        frame.landingLight = &app.LandingLight;
        frame.projectileLight = &app.ProjectileLight;
        frame.prepareFirstFrame = [](void* a) { static_cast<CockpitApplication*>(a)->PrepareFirstFrame(); };
        frame.prepareContext = &app;
        frame.sleep = false;
        const HRESULT hr = SimulateFrame(frame);
        // Shots stay where they were put.
        for (Projectile& shot : Projectiles) {
            ScopedSection hold(shot.Lock);
            shot.Active = 1;
        }
        return hr;
    }

    bool Open(std::string* error) {
        char name[] = "/tmp/scene_bench_XXXXXX";
        if (!mkdtemp(name)) return false;
        folder = name;
        if (!sample_data::WriteSampleData(folder, error) || chdir(name) != 0) return false;
        OpenLogFile("logfile.txt");
        ReadConfiguration("Panorel.cfg");
        if (FAILED(app.OneTimeSceneInit())) {
            *error = "universe.dat did not load";
            return false;
        }
        // The home planet without spin or tilt, and the clock at noon.
        UniverseObject& home = UniverseObjects[HomeObjectIndex];
        home.AngleB = home.RateB = home.Tilt = 0.0f;
        UniverseStandin::Sky sky;
        UniverseStandin::ReadSky("universe.dat", &sky);
        sky.homeAngleB = sky.homeRateB = sky.homeTilt = 0.0f;
        const float hours = 12.0f, seconds = 0.0f;
        UniverseHours = hours;
        UniverseSecondsAtSetup = seconds;
        LocalTimeAtSetup = 0.0f;
        InitialStateComplete = 1;
        OwnVesselIndex = 0;
        PropulsionEnabled = 0;
        const UniverseStandin::StartState start = UniverseStandin::StartStateFor(sky, hours, seconds);
        D3DXVECTOR3 up;
        D3DXVec3Normalize(&up, &start.position);
        ownPosition = up * (start.groundRadius + 1.0f);
        ownAttitude = start.attitude;

        if (FAILED(CreateHeadlessDevice(kWidth, kHeight, &d3d, &gl))) {
            *error = "no headless GL device";
            return false;
        }
        recorder = new RecordingDevice(gl);
        // The HUD font keeps the device it was made on: the recorder, so the
        // recorded frame holds the text too.
        app.Device = recorder;
        app.BackBufferDesc.Width = kWidth;
        app.BackBufferDesc.Height = kHeight;
        if (FAILED(app.InitDeviceObjects()) || FAILED(app.PrepareDeviceObjects())) {
            *error = "device objects failed";
            return false;
        }
        app.Device = gl;
        for (int v = 1; v <= 3; ++v) {
            VesselState& s = Vessels[v];
            ScopedSection hold(s.Lock);
            s.Model = 0;
            s.HitRadius = VESSEL_HIT_RADIUS;
            s.Attitude = D3DXQUATERNION(0, 0, 0, 1);
            D3DXMatrixScaling(&s.ModelMatrix, VESSEL_MODEL_SCALE, VESSEL_MODEL_SCALE, VESSEL_MODEL_SCALE);
            s.BlinkInterval = 0.25f;
        }
        // The first frame shows the loading screen and loads the textures; the
        // next settle the cloud order and the terrain cache.
        for (int i = 0; i < 40; ++i) {
            if (FAILED(Simulate(1.0f / 60.0f)) || app.DrawScene() < 0) {
                *error = "a frame failed";
                return false;
            }
            gl->Present(nullptr, nullptr, nullptr, nullptr);
        }
        recorder->Clear();
        return true;
    }

    void Close() {
        app.ReleaseVolatileObjects();
        app.FreeDeviceObjects();
        app.Device = nullptr;
        if (recorder) recorder->Release();
        if (gl) gl->Release();
        if (d3d) d3d->Release();
    }
};

// ------------------------------------------------------------------ recorded frame

// One call of the recorded frame with what the recorder leaves out.
struct Op {
    enum Kind {
        kRenderState, kStageState, kTransform, kLight, kLightEnable, kMaterial, kTexture, kShader, kViewport,
        kClear, kDraw, kBegin, kEnd, kApplyBlock, kCaptureBlock, kPresent, kSkip
    } kind = kSkip;
    std::vector<DWORD> args;
    D3DMATRIX matrix{};
    D3DLIGHT8 light{};
    D3DMATERIAL8 material{};
    D3DVIEWPORT8 viewport{};
    IDirect3DBaseTexture8* texture = nullptr;  // holds a reference
    std::vector<BYTE> vertices;
    D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
    UINT primitives = 0, stride = 0;
};

Op::Kind KindOf(const std::string& name) {
    static const std::pair<const char*, Op::Kind> names[] = {
        {"SetRenderState", Op::kRenderState}, {"SetTextureStageState", Op::kStageState},
        {"SetTransform", Op::kTransform},     {"SetLight", Op::kLight},
        {"LightEnable", Op::kLightEnable},    {"SetMaterial", Op::kMaterial},
        {"SetTexture", Op::kTexture},         {"SetVertexShader", Op::kShader},
        {"SetViewport", Op::kViewport},       {"Clear", Op::kClear},
        {"DrawPrimitive", Op::kDraw},         {"DrawPrimitiveUP", Op::kDraw},
        {"BeginScene", Op::kBegin},           {"EndScene", Op::kEnd},
        {"ApplyStateBlock", Op::kApplyBlock}, {"CaptureStateBlock", Op::kCaptureBlock},
        {"Present", Op::kPresent}};
    for (const auto& [n, k] : names) {
        if (name == n) return k;
    }
    return Op::kSkip;
}

// Records one frame. The recorder sees each call before the device does, so
// the values a call set are read from the device when the next call comes.
std::vector<Op> RecordFrame(Scene& scene) {
    std::vector<Op> ops;
    IDirect3DDevice8* gl = scene.gl;
    auto settle = [&](size_t index) {
        Op& op = ops[index];
        const std::vector<DWORD>& a = op.args;
        switch (op.kind) {
            case Op::kTransform: gl->GetTransform(static_cast<D3DTRANSFORMSTATETYPE>(a[0]), &op.matrix); break;
            case Op::kLight: gl->GetLight(a[0], &op.light); break;
            case Op::kMaterial: gl->GetMaterial(&op.material); break;
            case Op::kViewport: gl->GetViewport(&op.viewport); break;
            case Op::kTexture: gl->GetTexture(a[0], &op.texture); break;
            default: break;
        }
    };
    scene.recorder->onCall = [&](const DeviceCall& call) {
        if (!ops.empty()) settle(ops.size() - 1);
        Op op;
        op.kind = KindOf(call.name);
        op.args = call.args;
        ops.push_back(std::move(op));
    };
    scene.recorder->Clear();
    scene.app.Device = scene.recorder;
    scene.Simulate(1.0f / 60.0f);
    scene.app.DrawScene();
    scene.recorder->Present(nullptr, nullptr, nullptr, nullptr);
    scene.recorder->onCall = nullptr;
    if (!ops.empty()) settle(ops.size() - 1);
    scene.app.Device = scene.gl;
    // The vertices of each draw, from the recorder's own list.
    const std::vector<DeviceCall>& calls = scene.recorder->calls;
    for (size_t i = 0; i < ops.size() && i < calls.size(); ++i) {
        if (ops[i].kind != Op::kDraw) continue;
        ops[i].vertices = calls[i].vertices;
        ops[i].type = static_cast<D3DPRIMITIVETYPE>(calls[i].args[0]);
        ops[i].primitives = calls[i].name == "DrawPrimitive" ? calls[i].args[2] : calls[i].args[1];
        ops[i].stride = calls[i].stride;
        if (ops[i].stride == 0 || ops[i].vertices.empty()) ops[i].kind = Op::kSkip;
    }
    scene.recorder->Clear();
    return ops;
}

float FloatOf(DWORD d) {
    float f;
    std::memcpy(&f, &d, sizeof(f));
    return f;
}

// The recorded frame through the layer; after each draw, if given, a callback.
template <typename AfterDraw>
void ReplayThroughLayer(IDirect3DDevice8* d, const std::vector<Op>& ops, AfterDraw afterDraw) {
    for (size_t i = 0; i < ops.size(); ++i) {
        const Op& op = ops[i];
        const std::vector<DWORD>& a = op.args;
        switch (op.kind) {
            case Op::kRenderState: d->SetRenderState(static_cast<D3DRENDERSTATETYPE>(a[0]), a[1]); break;
            case Op::kStageState:
                d->SetTextureStageState(a[0], static_cast<D3DTEXTURESTAGESTATETYPE>(a[1]), a[2]);
                break;
            case Op::kTransform: d->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(a[0]), &op.matrix); break;
            case Op::kLight: d->SetLight(a[0], &op.light); break;
            case Op::kLightEnable: d->LightEnable(a[0], static_cast<BOOL>(a[1])); break;
            case Op::kMaterial: d->SetMaterial(&op.material); break;
            case Op::kTexture: d->SetTexture(a[0], op.texture); break;
            case Op::kShader: d->SetVertexShader(a[0]); break;
            case Op::kViewport: d->SetViewport(&op.viewport); break;
            case Op::kClear: d->Clear(0, nullptr, a[1], a[2], FloatOf(a[3]), a[4]); break;
            case Op::kDraw:
                d->DrawPrimitiveUP(op.type, op.primitives, op.vertices.data(), op.stride);
                afterDraw(i);
                break;
            case Op::kBegin: d->BeginScene(); break;
            case Op::kEnd: d->EndScene(); break;
            case Op::kApplyBlock: d->ApplyStateBlock(a[0]); break;
            case Op::kCaptureBlock: d->CaptureStateBlock(a[0]); break;
            case Op::kPresent: d->Present(nullptr, nullptr, nullptr, nullptr); break;
            case Op::kSkip: break;
        }
    }
}

// ------------------------------------------------------------------ bare GL

// The GL state one draw needs, read back after the layer drew it. Groups are
// compared whole; a group that differs from the draw before is set again.
struct ArrayState {
    GLint on = 0, size = 0, type = 0, stride = 0;
    const void* pointer = nullptr;
    bool operator==(const ArrayState&) const = default;
};
struct UnitState {
    GLint enabled = 0, texture = 0, sampler = 0;
    std::array<GLint, 16> env{};  // mode, combine rgb/alpha, sources, operands
    std::array<GLfloat, 6> envf{};  // rgb scale, alpha scale, colour
    ArrayState coords;
    bool operator==(const UnitState&) const = default;
};
struct LightState {
    GLint on = 0;
    std::array<GLfloat, 28> v{};  // ambient, diffuse, specular, position, direction, cutoff, exponent, attenuations
    bool operator==(const LightState&) const = default;
};
struct DrawState {
    std::array<GLint, 40> fixed{};  // switches and functions of the raster stages
    std::array<GLfloat, 8> fixedf{};
    std::array<GLfloat, 32> matrices{};
    std::array<LightState, 8> lights{};
    std::array<GLfloat, 25> lighting{};  // material, light model
    std::array<GLfloat, 10> fog{};
    std::array<UnitState, 4> units{};
    ArrayState vertex, normal, colour, secondary, fogCoord;
    GLenum mode = GL_TRIANGLES;
    GLsizei count = 0;
};

const GLenum kCaps[] = {GL_DEPTH_TEST, GL_STENCIL_TEST, GL_ALPHA_TEST, GL_BLEND, GL_CULL_FACE, GL_LIGHTING,
                        GL_FOG, GL_NORMALIZE, GL_COLOR_MATERIAL, GL_COLOR_SUM, GL_POLYGON_OFFSET_FILL, GL_DITHER};
constexpr int kCapCount = sizeof(kCaps) / sizeof(kCaps[0]);
const GLenum kFixedInts[] = {GL_DEPTH_FUNC,      GL_DEPTH_WRITEMASK,    GL_STENCIL_FUNC,        GL_STENCIL_REF,
                             GL_STENCIL_VALUE_MASK, GL_STENCIL_FAIL,    GL_STENCIL_PASS_DEPTH_FAIL,
                             GL_STENCIL_PASS_DEPTH_PASS, GL_STENCIL_WRITEMASK, GL_ALPHA_TEST_FUNC,
                             GL_BLEND_SRC_RGB,   GL_BLEND_DST_RGB,      GL_BLEND_EQUATION_RGB,  GL_CULL_FACE_MODE,
                             GL_FRONT_FACE,      GL_SHADE_MODEL,        GL_COLOR_MATERIAL_PARAMETER};
constexpr int kFixedIntCount = sizeof(kFixedInts) / sizeof(kFixedInts[0]);
const GLenum kEnvInts[] = {GL_TEXTURE_ENV_MODE, GL_COMBINE_RGB,   GL_COMBINE_ALPHA, GL_SRC0_RGB,     GL_SRC1_RGB,
                           GL_SRC2_RGB,         GL_SRC0_ALPHA,    GL_SRC1_ALPHA,    GL_SRC2_ALPHA,   GL_OPERAND0_RGB,
                           GL_OPERAND1_RGB,     GL_OPERAND2_RGB,  GL_OPERAND0_ALPHA, GL_OPERAND1_ALPHA,
                           GL_OPERAND2_ALPHA};

ArrayState ReadArray(GLenum array, GLenum size, GLenum type, GLenum stride, GLenum pointer) {
    ArrayState a;
    a.on = glIsEnabled(array);
    if (!a.on) return a;
    if (size) glGetIntegerv(size, &a.size);
    glGetIntegerv(type, &a.type);
    glGetIntegerv(stride, &a.stride);
    void* p = nullptr;
    glGetPointerv(pointer, &p);
    a.pointer = p;
    return a;
}

// Arrays that point into the layer's scratch memory get a copy of their own
// (count values of size components, tightly packed).
void KeepArray(ArrayState* a, const BYTE* vertices, size_t vertexBytes, GLsizei count, int components,
               std::vector<std::vector<BYTE>>* store) {
    if (!a->on) return;
    const BYTE* p = static_cast<const BYTE*>(a->pointer);
    if (p >= vertices && p < vertices + vertexBytes) return;
    const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(components) *
                         (a->type == GL_UNSIGNED_BYTE ? 1u : 4u);
    store->emplace_back(p, p + bytes);
    a->pointer = store->back().data();
}

DrawState ReadDrawState(const Op& op, std::vector<std::vector<BYTE>>* store) {
    DrawState s;
    int k = 0;
    for (GLenum cap : kCaps) s.fixed[static_cast<size_t>(k++)] = glIsEnabled(cap);
    for (GLenum e : kFixedInts) glGetIntegerv(e, &s.fixed[static_cast<size_t>(k++)]);
    GLboolean mask[4];
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    for (GLboolean m : mask) s.fixed[static_cast<size_t>(k++)] = m;
    glGetIntegerv(GL_POLYGON_MODE, &s.fixed[static_cast<size_t>(k)]);
    glGetFloatv(GL_ALPHA_TEST_REF, &s.fixedf[0]);
    glGetFloatv(GL_POINT_SIZE, &s.fixedf[1]);
    glGetFloatv(GL_POLYGON_OFFSET_FACTOR, &s.fixedf[2]);
    glGetFloatv(GL_POLYGON_OFFSET_UNITS, &s.fixedf[3]);
    glGetFloatv(GL_DEPTH_RANGE, &s.fixedf[4]);
    glGetFloatv(GL_PROJECTION_MATRIX, &s.matrices[0]);
    glGetFloatv(GL_MODELVIEW_MATRIX, &s.matrices[16]);
    for (int i = 0; i < 8; ++i) {
        LightState& l = s.lights[static_cast<size_t>(i)];
        const GLenum light = GL_LIGHT0 + static_cast<GLenum>(i);
        l.on = glIsEnabled(light);
        if (!l.on) continue;
        glGetLightfv(light, GL_AMBIENT, &l.v[0]);
        glGetLightfv(light, GL_DIFFUSE, &l.v[4]);
        glGetLightfv(light, GL_SPECULAR, &l.v[8]);
        glGetLightfv(light, GL_POSITION, &l.v[12]);
        glGetLightfv(light, GL_SPOT_DIRECTION, &l.v[16]);
        glGetLightfv(light, GL_SPOT_CUTOFF, &l.v[19]);
        glGetLightfv(light, GL_SPOT_EXPONENT, &l.v[20]);
        glGetLightfv(light, GL_CONSTANT_ATTENUATION, &l.v[21]);
        glGetLightfv(light, GL_LINEAR_ATTENUATION, &l.v[22]);
        glGetLightfv(light, GL_QUADRATIC_ATTENUATION, &l.v[23]);
    }
    glGetMaterialfv(GL_FRONT, GL_AMBIENT, &s.lighting[0]);
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, &s.lighting[4]);
    glGetMaterialfv(GL_FRONT, GL_SPECULAR, &s.lighting[8]);
    glGetMaterialfv(GL_FRONT, GL_EMISSION, &s.lighting[12]);
    glGetMaterialfv(GL_FRONT, GL_SHININESS, &s.lighting[16]);
    glGetFloatv(GL_LIGHT_MODEL_AMBIENT, &s.lighting[17]);
    glGetFloatv(GL_LIGHT_MODEL_LOCAL_VIEWER, &s.lighting[21]);
    glGetFloatv(GL_LIGHT_MODEL_COLOR_CONTROL, &s.lighting[22]);
    glGetFloatv(GL_FOG_MODE, &s.fog[0]);
    glGetFloatv(GL_FOG_START, &s.fog[1]);
    glGetFloatv(GL_FOG_END, &s.fog[2]);
    glGetFloatv(GL_FOG_DENSITY, &s.fog[3]);
    glGetFloatv(GL_FOG_COLOR, &s.fog[4]);
    glGetFloatv(GL_FOG_COORD_SRC, &s.fog[8]);

    GLenum mode = GL_TRIANGLES;
    switch (op.type) {
        case D3DPT_POINTLIST: mode = GL_POINTS; s.count = static_cast<GLsizei>(op.primitives); break;
        case D3DPT_LINELIST: mode = GL_LINES; s.count = static_cast<GLsizei>(op.primitives * 2); break;
        case D3DPT_LINESTRIP: mode = GL_LINE_STRIP; s.count = static_cast<GLsizei>(op.primitives + 1); break;
        case D3DPT_TRIANGLESTRIP: mode = GL_TRIANGLE_STRIP; s.count = static_cast<GLsizei>(op.primitives + 2); break;
        case D3DPT_TRIANGLEFAN: mode = GL_TRIANGLE_FAN; s.count = static_cast<GLsizei>(op.primitives + 2); break;
        default: s.count = static_cast<GLsizei>(op.primitives * 3); break;
    }
    s.mode = mode;
    const BYTE* vertices = op.vertices.data();
    const size_t bytes = op.vertices.size();
    s.vertex = ReadArray(GL_VERTEX_ARRAY, GL_VERTEX_ARRAY_SIZE, GL_VERTEX_ARRAY_TYPE, GL_VERTEX_ARRAY_STRIDE,
                         GL_VERTEX_ARRAY_POINTER);
    KeepArray(&s.vertex, vertices, bytes, s.count, s.vertex.size, store);
    s.normal = ReadArray(GL_NORMAL_ARRAY, 0, GL_NORMAL_ARRAY_TYPE, GL_NORMAL_ARRAY_STRIDE, GL_NORMAL_ARRAY_POINTER);
    KeepArray(&s.normal, vertices, bytes, s.count, 3, store);
    s.colour = ReadArray(GL_COLOR_ARRAY, GL_COLOR_ARRAY_SIZE, GL_COLOR_ARRAY_TYPE, GL_COLOR_ARRAY_STRIDE,
                         GL_COLOR_ARRAY_POINTER);
    KeepArray(&s.colour, vertices, bytes, s.count, 4, store);
    s.secondary = ReadArray(GL_SECONDARY_COLOR_ARRAY, GL_SECONDARY_COLOR_ARRAY_SIZE, GL_SECONDARY_COLOR_ARRAY_TYPE,
                            GL_SECONDARY_COLOR_ARRAY_STRIDE, GL_SECONDARY_COLOR_ARRAY_POINTER);
    KeepArray(&s.secondary, vertices, bytes, s.count, 4, store);
    s.fogCoord = ReadArray(GL_FOG_COORD_ARRAY, 0, GL_FOG_COORD_ARRAY_TYPE, GL_FOG_COORD_ARRAY_STRIDE,
                           GL_FOG_COORD_ARRAY_POINTER);
    KeepArray(&s.fogCoord, vertices, bytes, s.count, 1, store);
    GLint active = 0, clientActive = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetIntegerv(GL_CLIENT_ACTIVE_TEXTURE, &clientActive);
    for (int i = 0; i < 4; ++i) {
        UnitState& u = s.units[static_cast<size_t>(i)];
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
        glClientActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
        u.coords = ReadArray(GL_TEXTURE_COORD_ARRAY, GL_TEXTURE_COORD_ARRAY_SIZE, GL_TEXTURE_COORD_ARRAY_TYPE,
                             GL_TEXTURE_COORD_ARRAY_STRIDE, GL_TEXTURE_COORD_ARRAY_POINTER);
        u.enabled = glIsEnabled(GL_TEXTURE_2D);
        if (!u.enabled) continue;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &u.texture);
        glGetIntegerv(GL_SAMPLER_BINDING, &u.sampler);
        int e = 0;
        for (GLenum name : kEnvInts) glGetTexEnviv(GL_TEXTURE_ENV, name, &u.env[static_cast<size_t>(e++)]);
        glGetTexEnvfv(GL_TEXTURE_ENV, GL_RGB_SCALE, &u.envf[0]);
        glGetTexEnvfv(GL_TEXTURE_ENV, GL_ALPHA_SCALE, &u.envf[1]);
        glGetTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, &u.envf[2]);
    }
    glActiveTexture(static_cast<GLenum>(active));
    glClientActiveTexture(static_cast<GLenum>(clientActive));
    return s;
}

// Sampler settings are copied into samplers of the bare side's own, one per
// distinct setting, so that a bound sampler keeps what it had at that draw.
struct SamplerCopies {
    std::vector<std::array<GLint, 6>> settings;
    std::vector<GLuint> names;
    GLuint Copy(GLuint layer) {
        std::array<GLint, 6> p{};
        const GLenum keys[6] = {GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER, GL_TEXTURE_WRAP_S,
                                GL_TEXTURE_WRAP_T, GL_TEXTURE_LOD_BIAS, GL_TEXTURE_MAX_ANISOTROPY};
        for (int i = 0; i < 6; ++i) glGetSamplerParameteriv(layer, keys[i], &p[static_cast<size_t>(i)]);
        for (size_t i = 0; i < settings.size(); ++i) {
            if (settings[i] == p) return names[i];
        }
        GLuint name = 0;
        glGenSamplers(1, &name);
        for (int i = 0; i < 6; ++i) glSamplerParameteri(name, keys[i], p[static_cast<size_t>(i)]);
        settings.push_back(p);
        names.push_back(name);
        return name;
    }
};

void SetCap(GLenum cap, GLint on) {
    if (on) glEnable(cap); else glDisable(cap);
}

// One piece of GL state as the bare side sets it: a byte range of DrawState
// compared and copied whole, and the call that gives it to GL.
struct Item {
    enum Kind {
        kCap, kDepthFunc, kDepthMask, kStencilFunc, kStencilOp, kStencilWriteMask, kAlphaFunc, kBlendFunc,
        kBlendEquation, kCullFace, kFrontFace, kShadeModel, kColourMaterial, kColourMask, kPolygonMode, kPointSize,
        kPolygonOffset, kDepthRange, kProjection, kModelview, kLight, kMaterial, kLightModelAmbient, kLocalViewer,
        kColourControl, kFog, kUnitEnable, kUnitCoords, kUnitTexture, kUnitSampler, kUnitEnv, kUnitEnvScale,
        kUnitEnvColour, kArray, kIdentity
    } kind;
    size_t offset, size;
    int index = 0;  // cap, light, unit, env slot, array, material or fog parameter
    int unit = -1;
};

std::vector<Item> Items() {
    std::vector<Item> items;
    auto add = [&](Item::Kind kind, size_t offset, size_t size, int index = 0, int unit = -1) {
        items.push_back({kind, offset, size, index, unit});
    };
    const size_t fixed = offsetof(DrawState, fixed), fixedf = offsetof(DrawState, fixedf);
    const size_t i4 = sizeof(GLint), f4 = sizeof(GLfloat);
    for (int i = 0; i < kCapCount; ++i) add(Item::kCap, fixed + static_cast<size_t>(i) * i4, i4, i);
    const size_t k = static_cast<size_t>(kCapCount);
    add(Item::kDepthFunc, fixed + k * i4, i4);
    add(Item::kDepthMask, fixed + (k + 1) * i4, i4);
    add(Item::kStencilFunc, fixed + (k + 2) * i4, 3 * i4);
    add(Item::kStencilOp, fixed + (k + 5) * i4, 3 * i4);
    add(Item::kStencilWriteMask, fixed + (k + 8) * i4, i4);
    add(Item::kAlphaFunc, fixed + (k + 9) * i4, i4);
    add(Item::kAlphaFunc, fixedf, f4);
    add(Item::kBlendFunc, fixed + (k + 10) * i4, 2 * i4);
    add(Item::kBlendEquation, fixed + (k + 12) * i4, i4);
    add(Item::kCullFace, fixed + (k + 13) * i4, i4);
    add(Item::kFrontFace, fixed + (k + 14) * i4, i4);
    add(Item::kShadeModel, fixed + (k + 15) * i4, i4);
    add(Item::kColourMaterial, fixed + (k + 16) * i4, i4);
    add(Item::kColourMask, fixed + (k + 17) * i4, 4 * i4);
    add(Item::kPolygonMode, fixed + (k + 21) * i4, i4);
    add(Item::kPointSize, fixedf + f4, f4);
    add(Item::kPolygonOffset, fixedf + 2 * f4, 2 * f4);
    add(Item::kDepthRange, fixedf + 4 * f4, 2 * f4);
    add(Item::kProjection, offsetof(DrawState, matrices), 16 * f4);
    add(Item::kModelview, offsetof(DrawState, matrices) + 16 * f4, 16 * f4);
    for (int i = 0; i < 8; ++i) {
        add(Item::kLight, offsetof(DrawState, lights) + static_cast<size_t>(i) * sizeof(LightState), sizeof(LightState), i);
    }
    const size_t lighting = offsetof(DrawState, lighting);
    for (int i = 0; i < 4; ++i) add(Item::kMaterial, lighting + static_cast<size_t>(4 * i) * f4, 4 * f4, i);
    add(Item::kMaterial, lighting + 16 * f4, f4, 4);
    add(Item::kLightModelAmbient, lighting + 17 * f4, 4 * f4);
    add(Item::kLocalViewer, lighting + 21 * f4, f4);
    add(Item::kColourControl, lighting + 22 * f4, f4);
    const size_t fog = offsetof(DrawState, fog);
    for (int i = 0; i < 4; ++i) add(Item::kFog, fog + static_cast<size_t>(i) * f4, f4, i);
    add(Item::kFog, fog + 4 * f4, 4 * f4, 4);
    add(Item::kFog, fog + 8 * f4, f4, 8);
    for (int u = 0; u < 4; ++u) {
        const size_t unit = offsetof(DrawState, units) + static_cast<size_t>(u) * sizeof(UnitState);
        add(Item::kUnitEnable, unit + offsetof(UnitState, enabled), i4, 0, u);
        add(Item::kUnitCoords, unit + offsetof(UnitState, coords), sizeof(ArrayState), 0, u);
        add(Item::kUnitTexture, unit + offsetof(UnitState, texture), i4, 0, u);
        add(Item::kUnitSampler, unit + offsetof(UnitState, sampler), i4, 0, u);
        for (int e = 0; e < 15; ++e) {
            add(Item::kUnitEnv, unit + offsetof(UnitState, env) + static_cast<size_t>(e) * i4, i4, e, u);
        }
        add(Item::kUnitEnvScale, unit + offsetof(UnitState, envf), f4, 0, u);
        add(Item::kUnitEnvScale, unit + offsetof(UnitState, envf) + f4, f4, 1, u);
        add(Item::kUnitEnvColour, unit + offsetof(UnitState, envf) + 2 * f4, 4 * f4, 0, u);
    }
    const size_t arrays[5] = {offsetof(DrawState, vertex), offsetof(DrawState, normal), offsetof(DrawState, colour),
                              offsetof(DrawState, secondary), offsetof(DrawState, fogCoord)};
    for (int i = 0; i < 5; ++i) add(Item::kArray, arrays[i], sizeof(ArrayState), i);
    return items;
}

const BYTE* Field(const DrawState& s, const Item& item) { return reinterpret_cast<const BYTE*>(&s) + item.offset; }

// Whether a draw needs the item at all: a switched-off unit, light or array
// needs only its switch.
bool Needed(const DrawState& s, const Item& item) {
    switch (item.kind) {
        case Item::kLight: return true;
        case Item::kUnitTexture:
        case Item::kUnitSampler:
        case Item::kUnitEnv:
        case Item::kUnitEnvScale:
        case Item::kUnitEnvColour: return s.units[static_cast<size_t>(item.unit)].enabled != 0;
        default: return true;
    }
}

bool Same(const DrawState& a, const DrawState& b, const Item& item) {
    if (item.kind == Item::kLight) {
        const LightState& x = a.lights[static_cast<size_t>(item.index)];
        const LightState& y = b.lights[static_cast<size_t>(item.index)];
        return x.on == y.on && (!x.on || x.v == y.v);
    }
    if (item.kind == Item::kArray || item.kind == Item::kUnitCoords) {
        const auto* x = reinterpret_cast<const ArrayState*>(Field(a, item));
        const auto* y = reinterpret_cast<const ArrayState*>(Field(b, item));
        return x->on == y->on && (!x->on || *x == *y);
    }
    return std::memcmp(Field(a, item), Field(b, item), item.size) == 0;
}

struct BareGl {
    int unit = -1, clientUnit = -1;
    void Unit(int u) {
        if (unit != u) glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit = u));
    }
    void ClientUnit(int u) {
        if (clientUnit != u) glClientActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(clientUnit = u));
    }
    void Apply(const DrawState& s, const Item& item) {
        const GLint* f = &s.fixed[kCapCount];
        switch (item.kind) {
            case Item::kCap: SetCap(kCaps[item.index], s.fixed[static_cast<size_t>(item.index)]); break;
            case Item::kDepthFunc: glDepthFunc(static_cast<GLenum>(f[0])); break;
            case Item::kDepthMask: glDepthMask(static_cast<GLboolean>(f[1])); break;
            case Item::kStencilFunc: glStencilFunc(static_cast<GLenum>(f[2]), f[3], static_cast<GLuint>(f[4])); break;
            case Item::kStencilOp:
                glStencilOp(static_cast<GLenum>(f[5]), static_cast<GLenum>(f[6]), static_cast<GLenum>(f[7]));
                break;
            case Item::kStencilWriteMask: glStencilMask(static_cast<GLuint>(f[8])); break;
            case Item::kAlphaFunc: glAlphaFunc(static_cast<GLenum>(f[9]), s.fixedf[0]); break;
            case Item::kBlendFunc: glBlendFunc(static_cast<GLenum>(f[10]), static_cast<GLenum>(f[11])); break;
            case Item::kBlendEquation: glBlendEquation(static_cast<GLenum>(f[12])); break;
            case Item::kCullFace: glCullFace(static_cast<GLenum>(f[13])); break;
            case Item::kFrontFace: glFrontFace(static_cast<GLenum>(f[14])); break;
            case Item::kShadeModel: glShadeModel(static_cast<GLenum>(f[15])); break;
            case Item::kColourMaterial: glColorMaterial(GL_FRONT_AND_BACK, static_cast<GLenum>(f[16])); break;
            case Item::kColourMask:
                glColorMask(static_cast<GLboolean>(f[17]), static_cast<GLboolean>(f[18]), static_cast<GLboolean>(f[19]),
                            static_cast<GLboolean>(f[20]));
                break;
            case Item::kPolygonMode: glPolygonMode(GL_FRONT_AND_BACK, static_cast<GLenum>(f[21])); break;
            case Item::kPointSize: glPointSize(s.fixedf[1]); break;
            case Item::kPolygonOffset: glPolygonOffset(s.fixedf[2], s.fixedf[3]); break;
            case Item::kDepthRange: glDepthRange(s.fixedf[4], s.fixedf[5]); break;
            case Item::kProjection:
                glMatrixMode(GL_PROJECTION);
                glLoadMatrixf(&s.matrices[0]);
                glMatrixMode(GL_MODELVIEW);
                break;
            case Item::kModelview: glLoadMatrixf(&s.matrices[16]); break;
            case Item::kIdentity: glLoadIdentity(); break;  // lights as GL keeps them, in eye space
            case Item::kLight: {
                const LightState& l = s.lights[static_cast<size_t>(item.index)];
                const GLenum light = GL_LIGHT0 + static_cast<GLenum>(item.index);
                SetCap(light, l.on);
                if (!l.on) break;
                glLightfv(light, GL_AMBIENT, &l.v[0]);
                glLightfv(light, GL_DIFFUSE, &l.v[4]);
                glLightfv(light, GL_SPECULAR, &l.v[8]);
                glLightfv(light, GL_POSITION, &l.v[12]);
                glLightfv(light, GL_SPOT_DIRECTION, &l.v[16]);
                glLightf(light, GL_SPOT_CUTOFF, l.v[19]);
                glLightf(light, GL_SPOT_EXPONENT, l.v[20]);
                glLightf(light, GL_CONSTANT_ATTENUATION, l.v[21]);
                glLightf(light, GL_LINEAR_ATTENUATION, l.v[22]);
                glLightf(light, GL_QUADRATIC_ATTENUATION, l.v[23]);
                break;
            }
            case Item::kMaterial: {
                static const GLenum names[5] = {GL_AMBIENT, GL_DIFFUSE, GL_SPECULAR, GL_EMISSION, GL_SHININESS};
                glMaterialfv(GL_FRONT_AND_BACK, names[item.index], &s.lighting[static_cast<size_t>(4 * item.index)]);
                break;
            }
            case Item::kLightModelAmbient: glLightModelfv(GL_LIGHT_MODEL_AMBIENT, &s.lighting[17]); break;
            case Item::kLocalViewer: glLightModelf(GL_LIGHT_MODEL_LOCAL_VIEWER, s.lighting[21]); break;
            case Item::kColourControl:
                glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, static_cast<GLint>(s.lighting[22]));
                break;
            case Item::kFog: {
                static const GLenum names[9] = {GL_FOG_MODE, GL_FOG_START, GL_FOG_END, GL_FOG_DENSITY, GL_FOG_COLOR,
                                                0, 0, 0, GL_FOG_COORD_SRC};
                if (item.index == 0 || item.index == 8) {
                    glFogi(names[item.index], static_cast<GLint>(s.fog[static_cast<size_t>(item.index)]));
                } else {
                    glFogfv(names[item.index], &s.fog[static_cast<size_t>(item.index)]);
                }
                break;
            }
            case Item::kUnitEnable:
                Unit(item.unit);
                SetCap(GL_TEXTURE_2D, s.units[static_cast<size_t>(item.unit)].enabled);
                break;
            case Item::kUnitCoords: {
                const ArrayState& a = s.units[static_cast<size_t>(item.unit)].coords;
                ClientUnit(item.unit);
                if (a.on) {
                    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
                    glTexCoordPointer(a.size, static_cast<GLenum>(a.type), a.stride, a.pointer);
                } else {
                    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
                }
                break;
            }
            case Item::kUnitTexture:
                Unit(item.unit);
                glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(s.units[static_cast<size_t>(item.unit)].texture));
                break;
            case Item::kUnitSampler:
                glBindSampler(static_cast<GLuint>(item.unit),
                              static_cast<GLuint>(s.units[static_cast<size_t>(item.unit)].sampler));
                break;
            case Item::kUnitEnv:
                Unit(item.unit);
                glTexEnvi(GL_TEXTURE_ENV, kEnvInts[item.index],
                          s.units[static_cast<size_t>(item.unit)].env[static_cast<size_t>(item.index)]);
                break;
            case Item::kUnitEnvScale:
                Unit(item.unit);
                glTexEnvf(GL_TEXTURE_ENV, item.index == 0 ? GL_RGB_SCALE : GL_ALPHA_SCALE,
                          s.units[static_cast<size_t>(item.unit)].envf[static_cast<size_t>(item.index)]);
                break;
            case Item::kUnitEnvColour:
                Unit(item.unit);
                glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, &s.units[static_cast<size_t>(item.unit)].envf[2]);
                break;
            case Item::kArray: {
                static const GLenum names[5] = {GL_VERTEX_ARRAY, GL_NORMAL_ARRAY, GL_COLOR_ARRAY,
                                                GL_SECONDARY_COLOR_ARRAY, GL_FOG_COORD_ARRAY};
                const auto* a = reinterpret_cast<const ArrayState*>(Field(s, item));
                if (!a->on) {
                    glDisableClientState(names[item.index]);
                    if (item.index == 1) glNormal3f(0, 0, 0);
                    if (item.index == 2) glColor4f(1, 1, 1, 1);
                    break;
                }
                glEnableClientState(names[item.index]);
                const auto type = static_cast<GLenum>(a->type);
                switch (item.index) {
                    case 0: glVertexPointer(a->size, type, a->stride, a->pointer); break;
                    case 1: glNormalPointer(type, a->stride, a->pointer); break;
                    case 2: glColorPointer(a->size, type, a->stride, a->pointer); break;
                    case 3: glSecondaryColorPointer(a->size, type, a->stride, a->pointer); break;
                    default: glFogCoordPointer(type, a->stride, a->pointer); break;
                }
                break;
            }
        }
    }
};

// One step of the bare replay: a draw with the items to set before it, or a
// clear of the depth and stencil (and colour) buffers.
struct BareStep {
    const DrawState* state = nullptr;
    std::vector<Item> items;
    GLbitfield clear = 0;
    GLfloat clearColour[4] = {};
    GLdouble clearDepth = 0;
    GLint clearStencil = 0;
};

// Works out before timing what each draw must set: what it needs and GL does
// not hold yet (nothing is taken as held at the start).
class BarePlanner {
public:
    BarePlanner() : items_(Items()), known_(items_.size(), false) {}
    std::vector<Item> Plan(const DrawState& s) {
        std::vector<Item> out;
        bool lights = false;
        for (size_t i = 0; i < items_.size(); ++i) {
            const Item& item = items_[i];
            if (!Needed(s, item) || (known_[i] && Same(held_, s, item))) continue;
            if (item.kind == Item::kLight && !lights) {
                out.push_back({Item::kIdentity, 0, 0});
                lights = true;
            }
            if (item.kind == Item::kModelview) continue;  // after the lights
            out.push_back(item);
            std::memcpy(reinterpret_cast<BYTE*>(&held_) + item.offset, Field(s, item), item.size);
            known_[i] = true;
        }
        const size_t modelview = ModelviewIndex();
        if (lights || !known_[modelview] || !Same(held_, s, items_[modelview])) {
            out.push_back(items_[modelview]);
            std::memcpy(reinterpret_cast<BYTE*>(&held_) + items_[modelview].offset, Field(s, items_[modelview]),
                        items_[modelview].size);
            known_[modelview] = true;
        }
        return out;
    }
    // A clear opens the write masks.
    void Cleared() {
        for (size_t i = 0; i < items_.size(); ++i) {
            const Item::Kind k = items_[i].kind;
            if (k == Item::kDepthMask || k == Item::kStencilWriteMask || k == Item::kColourMask) known_[i] = false;
        }
    }

private:
    size_t ModelviewIndex() const {
        for (size_t i = 0; i < items_.size(); ++i) {
            if (items_[i].kind == Item::kModelview) return i;
        }
        return 0;
    }
    std::vector<Item> items_;
    std::vector<bool> known_;
    DrawState held_;
};

void ReplayBare(const std::vector<BareStep>& steps) {
    BareGl gl;
    glMatrixMode(GL_MODELVIEW);
    for (const BareStep& step : steps) {
        if (step.clear) {
            glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            glDepthMask(GL_TRUE);
            glStencilMask(0xFFFFFFFFu);
            glClearColor(step.clearColour[0], step.clearColour[1], step.clearColour[2], step.clearColour[3]);
            glClearDepth(step.clearDepth);
            glClearStencil(step.clearStencil);
            glClear(step.clear);
            continue;
        }
        for (const Item& item : step.items) gl.Apply(*step.state, item);
        glDrawArrays(step.state->mode, 0, step.state->count);
    }
}

std::vector<std::uint32_t> ReadFrame(GlDevice* device) {
    std::vector<std::uint32_t> pixels;
    device->ReadBackBuffer(&pixels);
    return pixels;
}

void WritePpm(const char* path, const std::vector<std::uint32_t>& pixels) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return;
    std::fprintf(f, "P6\n%u %u\n255\n", kWidth, kHeight);
    for (std::uint32_t p : pixels) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                      static_cast<unsigned char>(p)};
        std::fwrite(rgb, 1, 3, f);
    }
    std::fclose(f);
}

}  // namespace

int main() {
    KeepRendererHeap();  // as a drawing program does at start-up
    char start[4096];
    if (!getcwd(start, sizeof start)) return Fail("no working folder");
    const Clock::time_point begun = Clock::now();
    // Back to where it started, the scratch folder removed, on every way out.
    struct Leave {
        const char* start;
        std::string folder;
        ~Leave() {
            if (chdir(start) != 0) return;
            std::error_code ignored;
            if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
        }
    } leave{start, {}};
    Scene scene;
    std::string error;
    const bool opened = scene.Open(&error);
    leave.folder = scene.folder;
    if (!opened) return Fail(error.c_str());
    auto* device = static_cast<GlDevice*>(scene.gl);

    // The full scene, DrawScene and Present timed, the simulation between not.
    double drawing = 0.0;
    for (int i = 0; i < kFrames; ++i) {
        if (FAILED(scene.Simulate(1.0f / 60.0f))) return Fail("the simulation failed");
        const Clock::time_point t0 = Clock::now();
        if (scene.app.DrawScene() < 0) return Fail("DrawScene failed");
        scene.gl->Present(nullptr, nullptr, nullptr, nullptr);
        glFinish();
        drawing += Seconds(Clock::now() - t0);
        scene.recorder->Clear();  // the HUD font's calls
    }
    const double frameMs = 1000.0 * drawing / kFrames;
    const std::vector<std::uint32_t> shown = ReadFrame(device);
    if (const char* shot = std::getenv("MERIDAX_SCENE_PPM")) WritePpm(shot, shown);

    // One recorded frame, then its bare GL state per draw from a replay
    // through the layer.
    const std::vector<Op> ops = RecordFrame(scene);
    std::vector<DrawState> states;
    std::vector<std::vector<BYTE>> arrays;
    SamplerCopies samplers;
    states.reserve(ops.size());
    ReplayThroughLayer(scene.gl, ops, [&](size_t i) {
        states.push_back(ReadDrawState(ops[i], &arrays));
        for (UnitState& u : states.back().units) {
            if (u.enabled) u.sampler = static_cast<GLint>(samplers.Copy(static_cast<GLuint>(u.sampler)));
        }
    });
    const std::vector<std::uint32_t> layerFrame = ReadFrame(device);
    device->DrawState().ForgetApplied();
    std::vector<BareStep> steps;
    size_t draw = 0;
    BarePlanner planner;
    int draws = 0;
    for (const Op& op : ops) {
        if (op.kind == Op::kClear) {
            BareStep c;
            const DWORD flags = op.args[1];
            c.clear = ((flags & D3DCLEAR_TARGET) ? GL_COLOR_BUFFER_BIT : 0u) |
                      ((flags & D3DCLEAR_ZBUFFER) ? GL_DEPTH_BUFFER_BIT : 0u) |
                      ((flags & D3DCLEAR_STENCIL) ? GL_STENCIL_BUFFER_BIT : 0u);
            const DWORD colour = op.args[2];
            c.clearColour[0] = static_cast<float>((colour >> 16) & 0xFF) / 255.0f;
            c.clearColour[1] = static_cast<float>((colour >> 8) & 0xFF) / 255.0f;
            c.clearColour[2] = static_cast<float>(colour & 0xFF) / 255.0f;
            c.clearColour[3] = static_cast<float>(colour >> 24) / 255.0f;
            c.clearDepth = StoredDepth(FloatOf(op.args[3]));
            c.clearStencil = static_cast<GLint>(op.args[4] & 0xFF);
            steps.push_back(c);
            planner.Cleared();
            continue;
        }
        if (op.kind != Op::kDraw || draw >= states.size()) continue;
        BareStep d;
        d.state = &states[draw++];
        d.items = planner.Plan(*d.state);
        steps.push_back(std::move(d));
        ++draws;
    }
    // Both replays once untimed, then timed alternately.
    ReplayBare(steps);
    glFinish();
    const std::vector<std::uint32_t> bareFrame = ReadFrame(device);
    size_t differing = 0;
    for (size_t i = 0; i < bareFrame.size() && i < layerFrame.size(); ++i) {
        differing += ((bareFrame[i] ^ layerFrame[i]) & 0xFFFFFFu) != 0;
    }
    // Elapsed time (medians) and the processor time of this process, the
    // renderer's threads included: the second is the work done, which other
    // programs on the machine do not lengthen.
    std::vector<double> layerTimes, bareTimes;
    double layerWork = 0.0, bareWork = 0.0;
    for (int r = 0; r < kReplays; ++r) {
        Clock::time_point t0 = Clock::now();
        double w0 = ProcessSeconds();
        ReplayThroughLayer(scene.gl, ops, [](size_t) {});
        glFinish();
        layerWork += ProcessSeconds() - w0;
        layerTimes.push_back(Seconds(Clock::now() - t0));
        t0 = Clock::now();
        w0 = ProcessSeconds();
        ReplayBare(steps);
        glFinish();
        bareWork += ProcessSeconds() - w0;
        bareTimes.push_back(Seconds(Clock::now() - t0));
        // GL was used behind the layer's back: it gives everything anew.
        device->DrawState().ForgetApplied();
    }
    for (GLuint s : samplers.names) glDeleteSamplers(1, &s);
    for (const Op& op : ops) {
        if (op.texture) op.texture->Release();
    }
    scene.Close();


    const double layerMs = 1000.0 * Median(layerTimes), bareMs = 1000.0 * Median(bareTimes);
    std::printf("recorded frame: %zu calls, %d draws; replayed %d times: elapsed (median) layer %.2f ms, bare GL "
                "%.2f ms; processor time layer %.2f ms, bare GL %.2f ms; %zu of %u pixels differ\n",
                ops.size(), draws, kReplays, layerMs, bareMs, 1000.0 * layerWork / kReplays,
                1000.0 * bareWork / kReplays, differing, kWidth * kHeight);
    std::printf("%d frames in %.1f s of drawing, %.1f s in all\n", kFrames, drawing, Seconds(Clock::now() - begun));
    std::printf("scene %ux%u: %.2f ms/frame, %.1f fps; layer %+.1f%% over bare GL\n", kWidth, kHeight, frameMs,
                1000.0 / frameMs, 100.0 * (layerWork / bareWork - 1.0));
    return 0;
}
