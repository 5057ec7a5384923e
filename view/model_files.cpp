#include "view/model_files.h"

#include "platform/sys/crt.h"
#include "view/cockpit_app.h"
#include "view/log_file.h"
#include "view/state.h"
#include "view/universe.h"

#include <cstring>
#include <new>

const char* const PolygonObjectFiles[8] = {
    "Meshes\\E-10.DAW",     "Meshes\\O-4.DAW",   "Meshes\\sphere.DAW", "Meshes\\farspher.DAW",
    "Meshes\\lightsph.DAW", "Meshes\\sphere.DAW", "Meshes\\deois.DAW", "Meshes\\tactical.DAW",
};
const char* const MacroFile = "Meshes\\macro.DAW";
const char* const FacetFiles[FACET_FILE_COUNT] = {
    "Meshes\\facet-1.DAW", "Meshes\\facet00.DAW", "Meshes\\facet01.DAW", "Meshes\\facet02.DAW", "Meshes\\facet03.DAW",
    "Meshes\\facet04.DAW", "Meshes\\facet05.DAW", "Meshes\\facet06.DAW", "Meshes\\facet07.DAW",
};

namespace {

constexpr int DAW_HEADER = 2;
constexpr int DAW_VERTEX = 32;
constexpr int MACRO_RECORD = 96;
constexpr int MACRO_LEVEL = 32;
constexpr int MACRO_ROTATION = 33;
constexpr int FACET_RECORD = 7;
constexpr int FACET_FIELDS = 5;

// Atlas triangles in texels of a 2048 x 2048 atlas.
constexpr float ATLAS_SIZE = 2048.0f;
constexpr float TILE_TEXELS[9][6] = {
    {517.0f, 841.0f, 515.0f, 843.0f, 516.0f, 843.0f},
    {511.5f, 1.0f, 1020.0f, 883.0f, 3.0f, 883.0f},
    {1023.5f, 883.0f, 515.0f, 1.0f, 1532.0f, 1.0f},
    {1535.5f, 1.0f, 2044.0f, 883.0f, 1027.0f, 883.0f},
    {2047.5f, 883.0f, 1539.0f, 1.0f, 2556.0f, 1.0f},
    {511.5f, 886.0f, 1020.0f, 1768.0f, 3.0f, 1768.0f},
    {1023.5f, 1768.0f, 515.0f, 886.0f, 1532.0f, 886.0f},
    {1535.5f, 886.0f, 2044.0f, 1768.0f, 1027.0f, 1768.0f},
    {2047.5f, 1768.0f, 1539.0f, 886.0f, 2556.0f, 886.0f},
};

struct NavLightTable {
    int count;
    NavLight lights[5];
};
const NavLightTable NAV_LIGHTS[2] = {
    {2,
     {{D3DXVECTOR3(0.0f, 7.0f, -27.375f), 1.0f, 1.0f, 1.0f, 0x55},
      {D3DXVECTOR3(0.125f, -4.0f, 6.125f), 1.0f, 0.0f, 0.0f, 0x6a}}},
    {5,
     {{D3DXVECTOR3(0.0f, 0.0f, 31.0f), 1.0f, 1.0f, 1.0f, 0x0d},
      {D3DXVECTOR3(-3.0f, -3.0f, -39.0f), 1.0f, 0.0f, 0.0f, 0xff},
      {D3DXVECTOR3(-3.0f, 3.0f, -39.0f), 1.0f, 0.0f, 0.0f, 0xff},
      {D3DXVECTOR3(3.0f, -3.0f, -39.0f), 1.0f, 0.0f, 0.0f, 0xff},
      {D3DXVECTOR3(3.0f, 3.0f, -39.0f), 1.0f, 0.0f, 0.0f, 0xff}}},
};

// A file opened through the runtime, closed on every path. Each field is fetched
// by its own positioned read; the reads are served from a block read ahead.
class RuntimeFile {
public:
    RuntimeFile(const char* path, int flags) : fd_(crt::Open(path, flags)) {}
    ~RuntimeFile()
    {
        if (fd_ >= 0) crt::Close(fd_);
    }
    RuntimeFile(const RuntimeFile&) = delete;
    RuntimeFile& operator=(const RuntimeFile&) = delete;
    bool IsOpen() const { return fd_ >= 0; }

    // Reads size bytes at offset; true when all of them were in the file.
    bool ReadAt(long offset, void* buffer, unsigned size)
    {
        if (offset < blockStart_ || offset + static_cast<long>(size) > blockStart_ + blockLength_) {
            blockStart_ = offset;
            blockLength_ = 0;
            if (crt::Seek(fd_, offset, crt::SEEK_SET_) != offset) return false;
            const int n = crt::Read(fd_, block_, sizeof block_);
            blockLength_ = n > 0 ? n : 0;
            if (offset + static_cast<long>(size) > blockStart_ + blockLength_) return false;
        }
        std::memcpy(buffer, block_ + (offset - blockStart_), size);
        return true;
    }

    // A DAW value: past the end of the file it repeats the last value read.
    float ReadFloat(long offset)
    {
        float value;
        if (ReadAt(offset, &value, sizeof value)) last_ = value;
        return last_;
    }

private:
    int fd_;
    float last_ = 0.0f;
    long blockStart_ = 0;
    long blockLength_ = 0;
    unsigned char block_[4096];
};

D3DXVECTOR3 ReadVector(RuntimeFile& file, long offset)
{
    float x = file.ReadFloat(offset);
    float y = file.ReadFloat(offset + 4);
    float z = file.ReadFloat(offset + 8);
    return D3DXVECTOR3(x, y, z);
}

D3DXVECTOR3 OnPlanet(const D3DXVECTOR3& point)
{
    D3DXVECTOR3 unit;
    D3DXVec3Normalize(&unit, &point);
    return unit * PLANET_MODEL_RADIUS;
}

HRESULT CreateBuffer(IDirect3DDevice8* device, UINT bytes, DWORD fvf, IDirect3DVertexBuffer8** buffer)
{
    return device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED, buffer);
}

HRESULT RefuseObject(int index)
{
    WriteLog("Could not load polygon object (DAW file) number %i!\n", index);
    return APP_E_MEDIA_MISSING;
}

// Reads the macro file's level and rotation of every facet, then turns the
// facets' corners and gives them their atlas coordinates.
HRESULT PrepareFacets(PlanetFacets& planet, int triangles)
{
    std::uint8_t rotations[PLANET_FACET_COUNT] = {};
    std::memset(planet.Level, 0, sizeof planet.Level);
    {
        RuntimeFile macro(MacroFile, crt::O_RDONLY_ | crt::O_BINARY_);
        if (!macro.IsOpen()) return RefuseObject(POLYGON_PLANET_SPHERE);
        for (int t = 0; t < triangles; ++t) {
            std::uint8_t level;
            if (!macro.ReadAt(static_cast<long>(MACRO_RECORD) * t + MACRO_LEVEL, &level, 1)) break;
            planet.Level[t] = static_cast<std::uint8_t>(level + 1);
            if (!macro.ReadAt(static_cast<long>(MACRO_RECORD) * t + MACRO_ROTATION, &rotations[t], 1)) break;
        }
    }
    for (int t = 0; t < triangles; ++t) {
        ModelVertex* corners = planet.Sphere + 3 * t;
        D3DXVECTOR3 sum = corners[0].Position + corners[1].Position + corners[2].Position;
        planet.Centroids[t] = OnPlanet(sum / 3.0f);
        planet.DrawOrder[t] = static_cast<std::int16_t>(t);
        RotateCorners(corners, rotations[t]);
        GetTileTexCoords(static_cast<std::int8_t>(planet.Level[t]), corners[0].U, corners[0].V, corners[1].U,
                         corners[1].V, corners[2].U, corners[2].V);
    }
    return S_OK;
}

}  // namespace

HRESULT LoadFacetFile(FacetData& facet, int index)
{
    std::memset(facet.CornerShift, 0, sizeof facet.CornerShift);
    std::memset(facet.TileType, 0, sizeof facet.TileType);
    std::memset(facet.HeightA, 0, sizeof facet.HeightA);
    std::memset(facet.HeightB, 0, sizeof facet.HeightB);
    std::memset(facet.HeightC, 0, sizeof facet.HeightC);
    // Opened for reading and writing, so a write-protected file counts as missing.
    RuntimeFile file(FacetFiles[index], crt::O_RDWR_ | crt::O_BINARY_);
    if (!file.IsOpen()) {
        WriteLog("Could not load facet data (DAW file) %i!\n", index);
        return APP_E_MEDIA_MISSING;
    }
    for (int p = 0; p < TERRAIN_TRIANGLES; ++p) {
        unsigned char record[FACET_FIELDS];
        if (!file.ReadAt(static_cast<long>(FACET_RECORD) * p, record, FACET_FIELDS)) break;
        facet.TileType[p] = record[0];
        facet.CornerShift[p] = record[1];
        facet.HeightA[p] = static_cast<std::int8_t>(record[2]);
        facet.HeightB[p] = static_cast<std::int8_t>(record[3]);
        facet.HeightC[p] = static_cast<std::int8_t>(record[4]);
    }
    return S_OK;
}

void GetTileTexCoords(std::int8_t tileType, float& u0, float& v0, float& u1, float& v1, float& u2, float& v2)
{
    const float* texels = TILE_TEXELS[tileType >= 0 && tileType <= 8 ? tileType : 0];
    u0 = texels[0] / ATLAS_SIZE;
    v0 = texels[1] / ATLAS_SIZE;
    u1 = texels[2] / ATLAS_SIZE;
    v1 = texels[3] / ATLAS_SIZE;
    u2 = texels[4] / ATLAS_SIZE;
    v2 = texels[5] / ATLAS_SIZE;
}

void RotateCorners(ModelVertex* corners, unsigned count)
{
    for (unsigned i = 0; i < count % 3; ++i) {
        D3DXVECTOR3 position = corners[0].Position, normal = corners[0].Normal;
        corners[0].Position = corners[1].Position;
        corners[0].Normal = corners[1].Normal;
        corners[1].Position = corners[2].Position;
        corners[1].Normal = corners[2].Normal;
        corners[2].Position = position;
        corners[2].Normal = normal;
    }
}

HRESULT CockpitApplication::InitDeviceObjects()
{
    WriteLog("Build: %.0f (%s)  Mode: %s\n", static_cast<double>(BUILD_NUMBER), BUILD_DATE, DeviceText);
    WriteLogText("InitDeviceObjects() called!\n");
    if (HudFont) HudFont->BuildGlyphAtlas(Device);
    WriteLogText("InitDeviceObjects() font for HUD loaded!\n");

    struct BufferOrder {
        IDirect3DVertexBuffer8** buffer;
        UINT bytes;
        DWORD fvf;
    };
    const BufferOrder order[] = {
        {&SkyWallBuffer, SKY_WALL_VERTICES * sizeof(ModelVertex), MODEL_VERTEX_FVF},
        {&SkyCapBuffer, SKY_CAP_VERTICES * sizeof(ModelVertex), MODEL_VERTEX_FVF},
        {&SunQuadBuffer, SUN_QUAD_VERTICES * sizeof(ModelVertex), MODEL_VERTEX_FVF},
        {&CloudPuffBuffer, CLOUD_PUFF_VERTICES * sizeof(ModelVertex), MODEL_VERTEX_FVF},
    };
    for (const BufferOrder& entry : order)
        if (FAILED(CreateBuffer(Device, entry.bytes, entry.fvf, entry.buffer))) return E_OUTOFMEMORY;
    for (IDirect3DVertexBuffer8*& buffer : TerrainPatchBuffers)
        if (FAILED(CreateBuffer(Device, TERRAIN_VERTICES * sizeof(TerrainVertex), TERRAIN_VERTEX_FVF, &buffer)))
            return E_OUTOFMEMORY;
    if (FAILED(CreateBuffer(Device, HORIZON_VERTICES * sizeof(HorizonVertex), HORIZON_VERTEX_FVF, &HorizonBuffer)))
        return E_OUTOFMEMORY;
    WriteLogText("InitDeviceObjects() created all vertex buffers!\n");

    // Arrays of an earlier device are made anew.
    FreeModelArrays();

    for (int index = 0; index < POLYGON_OBJECT_COUNT; ++index) {
        PolygonObject& object = PolygonObjects[index];
        const bool planet = index == POLYGON_PLANET_SPHERE;
        {
            RuntimeFile file(PolygonObjectFiles[index], crt::O_RDONLY_ | crt::O_BINARY_);
            if (!file.IsOpen()) return RefuseObject(index);
            std::int16_t count = 0;
            if (!file.ReadAt(0, &count, sizeof count)) count = 0;
            // The planet's tables hold exactly its facets.
            if (count < 1 || (planet && count != PLANET_SPHERE_VERTEX_COUNT)) return RefuseObject(index);
            object.VertexCount = count;
            object.TriangleCount = static_cast<std::int16_t>(count / 3);
            UINT bufferVertices = static_cast<UINT>(count);
            if (planet) {
                Planet.Sphere = new ModelVertex[count]();
                bufferVertices = static_cast<UINT>(count / 2);
            }
            WriteLog("Creating memory (%i vertices) for polygon object number %i...\n",
                     static_cast<int>(bufferVertices), index);
            if (FAILED(CreateBuffer(Device, bufferVertices * sizeof(ModelVertex), MODEL_VERTEX_FVF,
                                    &object.VertexBuffer))) {
                WriteLog("Could not create memory (%i vertices) for polygon object number %i!\n",
                         static_cast<int>(bufferVertices), index);
                return E_FAIL;
            }
            if (planet) {
                for (int k = 0; k < count; ++k) {
                    long at = DAW_HEADER + static_cast<long>(DAW_VERTEX) * k;
                    Planet.Sphere[k].Position = OnPlanet(ReadVector(file, at));
                    Planet.Sphere[k].Normal = ReadVector(file, at + 12);
                }
            } else {
                BYTE* data = nullptr;
                if (FAILED(object.VertexBuffer->Lock(0, 0, &data, 0)) || !data) return E_FAIL;
                ModelVertex* vertices = reinterpret_cast<ModelVertex*>(data);
                for (int k = 0; k < count; ++k) {
                    long at = DAW_HEADER + static_cast<long>(DAW_VERTEX) * k;
                    ModelVertex vertex;
                    vertex.Position = ReadVector(file, at);
                    D3DXVECTOR3 normal = ReadVector(file, at + 12);
                    D3DXVec3Normalize(&vertex.Normal, &normal);
                    vertex.U = file.ReadFloat(at + 24);
                    vertex.V = file.ReadFloat(at + 28);
                    std::memcpy(vertices + k, &vertex, sizeof vertex);
                }
                object.VertexBuffer->Unlock();
            }
        }
        if (planet) {
            HRESULT hr = PrepareFacets(Planet, object.TriangleCount);
            if (FAILED(hr)) return hr;
        }
        if (index == POLYGON_SHIP || index == POLYGON_STATION) {
            const NavLightTable& table = NAV_LIGHTS[index];
            object.NavLights = new NavLight[table.count];
            std::memcpy(object.NavLights, table.lights, sizeof(NavLight) * table.count);
            object.NavLightCount = static_cast<std::int16_t>(table.count);
        }
    }

    for (int index = 0; index < FACET_FILE_COUNT; ++index) {
        HRESULT hr = LoadFacetFile(Facets[index], index);
        if (FAILED(hr)) return hr;
    }

    // A device made after the first frame gets its static buffers here.
    if (FirstFrameDone) FillStaticBuffers();
    WriteLogText("InitDeviceObjects() exiting sucessfully!\n");
    return S_OK;
}
