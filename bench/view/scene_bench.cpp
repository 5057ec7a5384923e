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
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
        char folder[] = "/tmp/scene_bench_XXXXXX";
        if (!mkdtemp(folder) || !sample_data::WriteSampleData(folder, error) || chdir(folder) != 0) return false;
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

        SetHeadlessGraphics(true);
        d3d = Direct3DCreate8(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS p{};
        p.Windowed = TRUE;
        p.BackBufferWidth = kWidth;
        p.BackBufferHeight = kHeight;
        p.BackBufferFormat = D3DFMT_X8R8G8B8;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D24S8;
        if (!d3d || FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &gl))) {
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

enum Group : std::uint32_t {
    kFixed = 1u << 0, kMatrices = 1u << 1, kLights = 1u << 2, kLighting = 1u << 3, kFog = 1u << 4,
    kUnit0 = 1u << 5,  // kUnit0 << unit
    kArrays = 1u << 9,
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

void ApplyGroups(const DrawState& s, std::uint32_t groups) {
    if (groups & kFixed) {
        for (int i = 0; i < kCapCount; ++i) SetCap(kCaps[i], s.fixed[static_cast<size_t>(i)]);
        const GLint* f = &s.fixed[kCapCount];
        glDepthFunc(static_cast<GLenum>(f[0]));
        glDepthMask(static_cast<GLboolean>(f[1]));
        glStencilFunc(static_cast<GLenum>(f[2]), f[3], static_cast<GLuint>(f[4]));
        glStencilOp(static_cast<GLenum>(f[5]), static_cast<GLenum>(f[6]), static_cast<GLenum>(f[7]));
        glStencilMask(static_cast<GLuint>(f[8]));
        glAlphaFunc(static_cast<GLenum>(f[9]), s.fixedf[0]);
        glBlendFunc(static_cast<GLenum>(f[10]), static_cast<GLenum>(f[11]));
        glBlendEquation(static_cast<GLenum>(f[12]));
        glCullFace(static_cast<GLenum>(f[13]));
        glFrontFace(static_cast<GLenum>(f[14]));
        glShadeModel(static_cast<GLenum>(f[15]));
        glColorMaterial(GL_FRONT_AND_BACK, static_cast<GLenum>(f[16]));
        glColorMask(static_cast<GLboolean>(f[17]), static_cast<GLboolean>(f[18]), static_cast<GLboolean>(f[19]),
                    static_cast<GLboolean>(f[20]));
        glPolygonMode(GL_FRONT_AND_BACK, static_cast<GLenum>(f[21]));
        glPointSize(s.fixedf[1]);
        glPolygonOffset(s.fixedf[2], s.fixedf[3]);
        glDepthRange(s.fixedf[4], s.fixedf[5]);
    }
    if (groups & (kMatrices | kLights)) {
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(&s.matrices[0]);
        glMatrixMode(GL_MODELVIEW);
    }
    if (groups & kLights) {
        glLoadIdentity();  // positions and directions as GL keeps them, in eye space
        for (int i = 0; i < 8; ++i) {
            const LightState& l = s.lights[static_cast<size_t>(i)];
            const GLenum light = GL_LIGHT0 + static_cast<GLenum>(i);
            SetCap(light, l.on);
            if (!l.on) continue;
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
        }
    }
    if (groups & (kMatrices | kLights)) glLoadMatrixf(&s.matrices[16]);
    if (groups & kLighting) {
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, &s.lighting[0]);
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, &s.lighting[4]);
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, &s.lighting[8]);
        glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, &s.lighting[12]);
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, s.lighting[16]);
        glLightModelfv(GL_LIGHT_MODEL_AMBIENT, &s.lighting[17]);
        glLightModelf(GL_LIGHT_MODEL_LOCAL_VIEWER, s.lighting[21]);
        glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, static_cast<GLint>(s.lighting[22]));
    }
    if (groups & kFog) {
        glFogi(GL_FOG_MODE, static_cast<GLint>(s.fog[0]));
        glFogf(GL_FOG_START, s.fog[1]);
        glFogf(GL_FOG_END, s.fog[2]);
        glFogf(GL_FOG_DENSITY, s.fog[3]);
        glFogfv(GL_FOG_COLOR, &s.fog[4]);
        glFogi(GL_FOG_COORD_SRC, static_cast<GLint>(s.fog[8]));
    }
    for (int i = 0; i < 4; ++i) {
        if (!(groups & (kUnit0 << i))) continue;
        const UnitState& u = s.units[static_cast<size_t>(i)];
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
        glClientActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
        SetCap(GL_TEXTURE_2D, u.enabled);
        if (u.coords.on) {
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
            glTexCoordPointer(u.coords.size, static_cast<GLenum>(u.coords.type), u.coords.stride, u.coords.pointer);
        } else {
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        }
        if (!u.enabled) continue;
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(u.texture));
        glBindSampler(static_cast<GLuint>(i), static_cast<GLuint>(u.sampler));
        int e = 0;
        for (GLenum name : kEnvInts) glTexEnvi(GL_TEXTURE_ENV, name, u.env[static_cast<size_t>(e++)]);
        glTexEnvf(GL_TEXTURE_ENV, GL_RGB_SCALE, u.envf[0]);
        glTexEnvf(GL_TEXTURE_ENV, GL_ALPHA_SCALE, u.envf[1]);
        glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, &u.envf[2]);
    }
    if (groups & kArrays) {
        auto set = [](GLenum array, const ArrayState& a) {
            if (a.on) glEnableClientState(array); else glDisableClientState(array);
            return a.on != 0;
        };
        if (set(GL_VERTEX_ARRAY, s.vertex))
            glVertexPointer(s.vertex.size, static_cast<GLenum>(s.vertex.type), s.vertex.stride, s.vertex.pointer);
        if (set(GL_NORMAL_ARRAY, s.normal))
            glNormalPointer(static_cast<GLenum>(s.normal.type), s.normal.stride, s.normal.pointer);
        else
            glNormal3f(0, 0, 0);
        if (set(GL_COLOR_ARRAY, s.colour))
            glColorPointer(s.colour.size, static_cast<GLenum>(s.colour.type), s.colour.stride, s.colour.pointer);
        else
            glColor4f(1, 1, 1, 1);
        if (set(GL_SECONDARY_COLOR_ARRAY, s.secondary))
            glSecondaryColorPointer(s.secondary.size, static_cast<GLenum>(s.secondary.type), s.secondary.stride,
                                    s.secondary.pointer);
        if (set(GL_FOG_COORD_ARRAY, s.fogCoord))
            glFogCoordPointer(static_cast<GLenum>(s.fogCoord.type), s.fogCoord.stride, s.fogCoord.pointer);
    }
}

std::uint32_t ChangedGroups(const DrawState* before, const DrawState& s) {
    if (!before) return 0xFFFFFFFFu;
    std::uint32_t g = 0;
    if (before->fixed != s.fixed || before->fixedf != s.fixedf) g |= kFixed;
    if (before->matrices != s.matrices) g |= kMatrices;
    // Lights in eye space change with the view; GL keeps them as given.
    if (before->lights != s.lights) g |= kLights;
    if (before->lighting != s.lighting) g |= kLighting;
    if (before->fog != s.fog) g |= kFog;
    for (int i = 0; i < 4; ++i) {
        if (!(before->units[static_cast<size_t>(i)] == s.units[static_cast<size_t>(i)])) g |= kUnit0 << i;
    }
    if (!(before->vertex == s.vertex && before->normal == s.normal && before->colour == s.colour &&
          before->secondary == s.secondary && before->fogCoord == s.fogCoord))
        g |= kArrays;
    return g;
}

// One step of the bare replay: a draw with the groups to set before it, or a
// clear of the depth and stencil (and colour) buffers.
struct BareStep {
    const DrawState* state = nullptr;
    std::uint32_t groups = 0;
    GLbitfield clear = 0;
    GLfloat clearColour[4] = {};
    GLdouble clearDepth = 0;
    GLint clearStencil = 0;
};

void ReplayBare(const std::vector<BareStep>& steps) {
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
        ApplyGroups(*step.state, step.groups);
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
    Scene scene;
    std::string error;
    if (!scene.Open(&error)) return Fail(error.c_str());
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
    const DrawState* before = nullptr;
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
            before = nullptr;  // the masks were opened
            continue;
        }
        if (op.kind != Op::kDraw || draw >= states.size()) continue;
        BareStep d;
        d.state = &states[draw++];
        d.groups = ChangedGroups(before, *d.state);
        before = d.state;
        steps.push_back(d);
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
    double layerTime = 0.0, bareTime = 0.0;
    for (int r = 0; r < kReplays; ++r) {
        Clock::time_point t0 = Clock::now();
        ReplayThroughLayer(scene.gl, ops, [](size_t) {});
        glFinish();
        layerTime += Seconds(Clock::now() - t0);
        t0 = Clock::now();
        ReplayBare(steps);
        glFinish();
        bareTime += Seconds(Clock::now() - t0);
        // GL was used behind the layer's back: it gives everything anew.
        device->DrawState().ForgetApplied();
    }
    for (GLuint s : samplers.names) glDeleteSamplers(1, &s);
    for (const Op& op : ops) {
        if (op.texture) op.texture->Release();
    }
    scene.Close();
    if (chdir(start) != 0) return Fail("the working folder went away");

    const double layerMs = 1000.0 * layerTime / kReplays, bareMs = 1000.0 * bareTime / kReplays;
    std::printf("recorded frame: %zu calls, %d draws; replayed %d times: layer %.2f ms, bare GL %.2f ms; "
                "%zu of %u pixels differ\n",
                ops.size(), draws, kReplays, layerMs, bareMs, differing, kWidth * kHeight);
    std::printf("%d frames in %.1f s of drawing, %.1f s in all\n", kFrames, drawing, Seconds(Clock::now() - begun));
    std::printf("scene %ux%u: %.2f ms/frame, %.1f fps; layer %+.1f%% over bare GL\n", kWidth, kHeight, frameMs,
                1000.0 / frameMs, 100.0 * (layerMs / bareMs - 1.0));
    return 0;
}
