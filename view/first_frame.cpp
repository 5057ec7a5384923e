#include "view/cockpit_app.h"
#include "view/controller.h"
#include "view/state.h"
#include "view/universe.h"

#include <cstring>

namespace {

constexpr float S = 524288.0f;  // half size of the sky box: the far plane
constexpr float QUARTER_TURN = 1.5707964f;

struct Corner {
    float x, y, z, u, v;
};

const Corner SKY_WALL[SKY_WALL_VERTICES] = {
    {-S, -S, S, 0, 1}, {-S, S, S, 0, 0}, {S, -S, S, 2, 1},   {S, S, S, 2, 0},   {S, -S, -S, 4, 1},
    {S, S, -S, 4, 0},  {-S, -S, -S, 6, 1}, {-S, S, -S, 6, 0}, {-S, -S, S, 8, 1}, {-S, S, S, 8, 0},
};

const Corner SKY_CAPS[SKY_CAP_VERTICES] = {
    {-S, S, S, 0, 0},   {-S, S, -S, 2, 0},  {S, S, S, 0, 2},   {S, S, S, 0, 2},
    {-S, S, -S, 2, 0},  {S, S, -S, 2, 2},   {-S, -S, S, 0, 0}, {S, -S, S, 0, 2},
    {-S, -S, -S, 2, 0}, {S, -S, S, 0, 2},   {S, -S, -S, 2, 2}, {-S, -S, -S, 2, 0},
};

const Corner SUN_QUAD[SUN_QUAD_VERTICES] = {
    {1, -1, 1, 1, 0}, {-1, -1, 1, 1, 1}, {1, -1, -1, 0, 0}, {-1, -1, -1, 0, 1},
};

// Three crossed unit squares, each on its own quarter of the cloud texture.
constexpr int PUFF_SHAPE_VERTICES = 18;
const Corner PUFF_SHAPE[PUFF_SHAPE_VERTICES] = {
    {-0.5f, 0.5f, 0, 0, 0},       {0.5f, 0.5f, 0, 0, 0.5f},     {0.5f, -0.5f, 0, 0.5f, 0.5f},
    {0.5f, -0.5f, 0, 0.5f, 0.5f}, {-0.5f, -0.5f, 0, 0.5f, 0},   {-0.5f, 0.5f, 0, 0, 0},
    {-0.5f, 0, 0.5f, 0.5f, 0},    {0.5f, 0, 0.5f, 0.5f, 0.5f},  {0.5f, 0, -0.5f, 1, 0.5f},
    {0.5f, 0, -0.5f, 1, 0.5f},    {-0.5f, 0, -0.5f, 1, 0},      {-0.5f, 0, 0.5f, 0.5f, 0},
    {0, -0.5f, 0.5f, 0.5f, 0.5f}, {0, 0.5f, 0.5f, 0, 0.5f},     {0, 0.5f, -0.5f, 0, 1},
    {0, 0.5f, -0.5f, 0, 1},       {0, -0.5f, -0.5f, 0.5f, 1},   {0, -0.5f, 0.5f, 0.5f, 0.5f},
};
const D3DXVECTOR3 PUFF_NORMALS[3] = {D3DXVECTOR3(0, 0, 1), D3DXVECTOR3(0, 1, 0), D3DXVECTOR3(1, 0, 0)};

const char* const HELP_LINES[BOARD_LINE_COUNT] = {
    "Forward/reverse thrust using + or - and * or /",
    "Pitch and yaw rotation available using arrow keys",
    "Rolling moment available using HOME and END keys",
    "F1 to null rotation, F6 fires weapons, F3/F4 RVR",
    "ALT-ENTER toggles exclusive full-screen mode",
    "ESC to exit, L for landing light toggle",
};

// Writes position and texture coordinates of each corner and, when given, the
// normal of each (a null normal source leaves the buffer's normals as they are).
void FillBuffer(IDirect3DVertexBuffer8* buffer, const Corner* corners, int count, const D3DXVECTOR3* (*normal)(int))
{
    if (!buffer) return;
    BYTE* data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, 0)) || !data) return;
    for (int i = 0; i < count; ++i) {
        BYTE* vertex = data + i * sizeof(ModelVertex);
        const float position[3] = {corners[i].x, corners[i].y, corners[i].z};
        const float texture[2] = {corners[i].u, corners[i].v};
        std::memcpy(vertex + offsetof(ModelVertex, Position), position, sizeof position);
        if (normal) std::memcpy(vertex + offsetof(ModelVertex, Normal), normal(i), sizeof(D3DXVECTOR3));
        std::memcpy(vertex + offsetof(ModelVertex, U), texture, sizeof texture);
    }
    buffer->Unlock();
}

const D3DXVECTOR3 SKY_NORMAL(1.0f, 1.0f, 1.0f);
const D3DXVECTOR3* SkyNormal(int) { return &SKY_NORMAL; }
const D3DXVECTOR3* PuffNormal(int i) { return &PUFF_NORMALS[i / 6]; }

D3DXMATRIX Product(std::initializer_list<D3DXMATRIX> factors)
{
    D3DXMATRIX result;
    D3DXMatrixIdentity(&result);
    for (const D3DXMATRIX& factor : factors) D3DXMatrixMultiply(&result, &result, &factor);
    return result;
}

D3DXMATRIX BaseMatrix(const UniverseObject& object, const UniverseObject& home)
{
    D3DXMATRIX a, b, c, d, e;
    if (object.Kind == KIND_SKY_BOX) return *D3DXMatrixRotationX(&a, home.Tilt + QUARTER_TURN);
    if (object.Kind == KIND_HOME_PLANET) return *D3DXMatrixTranslation(&a, 0.0f, object.Distance, 0.0f);
    float distance = object.Kind == KIND_STATION ? 1.0f : object.Distance;
    D3DXMATRIX m = Product({*D3DXMatrixRotationZ(&a, object.AngleB),
                            *D3DXMatrixScaling(&b, object.Scale, object.Scale, object.Scale),
                            *D3DXMatrixRotationX(&c, object.Tilt), *D3DXMatrixTranslation(&d, 0.0f, distance, 0.0f),
                            *D3DXMatrixRotationZ(&e, object.AngleA - home.AngleB)});
    if (object.Kind == KIND_CITY) m = Product({m, *D3DXMatrixRotationY(&a, -object.AngleC)});
    return m;
}

}  // namespace

void CockpitApplication::FillStaticBuffers()
{
    FillBuffer(SkyWallBuffer, SKY_WALL, SKY_WALL_VERTICES, SkyNormal);
    FillBuffer(SkyCapBuffer, SKY_CAPS, SKY_CAP_VERTICES, SkyNormal);
    FillBuffer(SunQuadBuffer, SUN_QUAD, SUN_QUAD_VERTICES, nullptr);
    FillBuffer(CloudPuffBuffer, PUFF_SHAPE, PUFF_SHAPE_VERTICES, PuffNormal);
}

void CockpitApplication::PrepareFirstFrame()
{
    // The floating-point unit already computes floats and doubles at their own
    // precision here; there is no precision control to set.
    const UniverseObject home = UniverseObjects[HomeObjectIndex < UNIVERSE_OBJECT_COUNT ? HomeObjectIndex : 0];
    for (UniverseObject& object : UniverseObjects) {
        object.BaseMatrix = BaseMatrix(object, home);
        object.WorldMatrix = object.BaseMatrix;
    }

    FillStaticBuffers();

    Board.Lock.Enter();
    for (int line = 0; line < BOARD_LINE_COUNT; ++line) {
        Board.Brightness[line] = 255.0f;
        std::strncpy(Board.Lines[line], HELP_LINES[line], BOARD_LINE_LENGTH - 1);
        Board.Lines[line][BOARD_LINE_LENGTH - 1] = '\0';
    }
    Board.Lock.Leave();

    if (ForceFeedbackAvailable) StartForceFeedback();
}
