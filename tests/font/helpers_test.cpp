// Framework helpers: records, colour key, cube faces, cursor rotation, the
// device cursor, media texture loading; the track-ball and the view camera.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "framework/d3d_helpers.h"
#include "framework/trackball.h"
#include "platform/ui/window.h"
#include "tests/font/font_fixture.h"

namespace {

using HelperTest = RecordedDevice;

TEST(Records, MaterialAndLight) {
    D3DMATERIAL8 m;
    m.Power = 5;
    m.Specular = {1, 1, 1, 1};
    EXPECT_EQ(FillMaterial(&m, 0.1f, 0.2f, 0.3f, 0.4f), &m);
    EXPECT_EQ(m.Diffuse.g, 0.2f);
    EXPECT_EQ(m.Ambient.a, 0.4f);
    EXPECT_EQ(m.Specular.r, 0.0f);
    EXPECT_EQ(m.Power, 0.0f);
    for (D3DLIGHTTYPE type : {D3DLIGHT_POINT, D3DLIGHT_SPOT, D3DLIGHT_DIRECTIONAL}) {
        D3DLIGHT8 l;
        l.Falloff = 3;
        FillLight(&l, type, 0, 3, 4);
        EXPECT_EQ(l.Type, type);
        EXPECT_EQ(l.Position.y, 3.0f);
        EXPECT_FLOAT_EQ(l.Direction.y, 0.6f);
        EXPECT_FLOAT_EQ(l.Direction.z, 0.8f);
        EXPECT_EQ(l.Range, 1000.0f);
        EXPECT_EQ(l.Diffuse.r, 1.0f);
        EXPECT_EQ(l.Diffuse.a, 0.0f);
        EXPECT_EQ(l.Falloff, 0.0f);
    }
}

TEST_F(HelperTest, ColourKeyPerFormat) {
    IDirect3DTexture8* t = nullptr;
    ASSERT_EQ(device_->CreateTexture(2, 1, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &t), D3D_OK);
    D3DLOCKED_RECT lr{};
    t->LockRect(0, &lr, nullptr, 0);
    static_cast<std::uint16_t*>(lr.pBits)[0] = 0xF0F0;
    static_cast<std::uint16_t*>(lr.pBits)[1] = 0xF0F1;
    t->UnlockRect(0);
    EXPECT_EQ(ApplyColorKey(t, 0xFF00FF00), S_OK);
    t->LockRect(0, &lr, nullptr, 0);
    EXPECT_EQ(static_cast<std::uint16_t*>(lr.pBits)[0], 0u);
    EXPECT_EQ(static_cast<std::uint16_t*>(lr.pBits)[1], 0xF0F1u);
    t->UnlockRect(0);
    t->Release();

    ASSERT_EQ(device_->CreateTexture(2, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
    t->LockRect(0, &lr, nullptr, 0);
    static_cast<std::uint32_t*>(lr.pBits)[0] = 0xFF123456;
    static_cast<std::uint32_t*>(lr.pBits)[1] = 0x80123456;
    t->UnlockRect(0);
    EXPECT_EQ(ApplyColorKey(t, 0xFF123456), S_OK);
    t->LockRect(0, &lr, nullptr, 0);
    EXPECT_EQ(static_cast<std::uint32_t*>(lr.pBits)[0], 0u);
    EXPECT_EQ(static_cast<std::uint32_t*>(lr.pBits)[1], 0x80123456u) << "alpha is part of the key";
    t->UnlockRect(0);
    t->Release();

    for (D3DFORMAT f : {D3DFMT_X8R8G8B8, D3DFMT_DXT1}) {
        ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, f, D3DPOOL_MANAGED, &t), D3D_OK);
        t->LockRect(0, &lr, nullptr, 0);
        std::memset(lr.pBits, 0, 8);
        t->UnlockRect(0);
        EXPECT_EQ(ApplyColorKey(t, 0), E_FAIL);
        t->LockRect(0, &lr, nullptr, 0);
        EXPECT_EQ(static_cast<BYTE*>(lr.pBits)[0], 0);
        t->UnlockRect(0);
        t->Release();
    }
    device_->failTextureLocks = true;
    ASSERT_EQ(device_->CreateTexture(2, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
    EXPECT_EQ(ApplyColorKey(t, 0xFF123456), E_FAIL);
    t->Release();
}

TEST(CubeFaces, EachFaceLooksAlongItsAxis) {
    const D3DXVECTOR3 axes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (int f = 0; f < 6; ++f) {
        const D3DXMATRIX m = CubeFaceViewMatrix(static_cast<D3DCUBEMAP_FACES>(f));
        D3DXVECTOR3 out;
        D3DXVec3TransformNormal(&out, &axes[f], &m);
        EXPECT_NEAR(out.z, 1.0f, 1e-6f) << f;
    }
    const D3DXMATRIX up = CubeFaceViewMatrix(D3DCUBEMAP_FACE_POSITIVE_Y);
    const D3DXVECTOR3 minusZ(0, 0, -1);
    D3DXVECTOR3 out;
    D3DXVec3TransformNormal(&out, &minusZ, &up);
    EXPECT_NEAR(out.y, 1.0f, 1e-6f) << "the +Y face's up is -Z";
    const D3DXMATRIX bad = CubeFaceViewMatrix(static_cast<D3DCUBEMAP_FACES>(9));
    EXPECT_TRUE(D3DXMatrixIsIdentity(&bad));
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHeadlessWindows(true);
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "HelperTest";
        RegisterClassA(&wc);
    }
    HWND Make(int w, int h) {
        RECT r{0, 0, w, h};
        return CreateWindowA("HelperTest", "t", 0x10CE0000, 0, 0, r.right, r.bottom, nullptr, nullptr, nullptr, nullptr);
    }
};

TEST_F(WindowTest, CursorRotationAtTheCentreAndOnEmptyWindows) {
    HWND hwnd = Make(200, 100);
    ASSERT_NE(hwnd, nullptr);
    InjectResize(hwnd, 200, 100);
    RECT rc{};
    GetClientRect(hwnd, &rc);
    InjectMouseMove(hwnd, (rc.right - rc.left) / 2, (rc.bottom - rc.top) / 2, 0);
    D3DXQUATERNION q = CursorRotation(hwnd, 1.0f);
    EXPECT_EQ(q.w, 1.0f);
    EXPECT_EQ(q.x, 0.0f);
    InjectMouseMove(hwnd, (rc.right - rc.left) * 3 / 4, (rc.bottom - rc.top) / 2, 0);
    q = CursorRotation(hwnd, 1.0f);
    EXPECT_GT(std::fabs(q.y), 0.1f) << "a sideways cursor turns about the vertical";
    EXPECT_NEAR(D3DXQuaternionLength(&q), 1.0f, 1e-5f);
    q = CursorRotation(hwnd, 0.0f);
    EXPECT_EQ(q.w, 1.0f) << "a radius of 0 divides by nothing";
    EXPECT_FALSE(std::isnan(q.x));
    InjectResize(hwnd, 0, 0);
    q = CursorRotation(hwnd, 1.0f);
    EXPECT_FALSE(std::isnan(q.x));
    EXPECT_FALSE(std::isnan(q.w));
    DestroyWindow(hwnd);
}

TEST_F(HelperTest, MonochromeCursorBecomesAHalfHeightDeviceImage) {
    CursorBitmaps bits;
    bits.hotSpotX = 3;
    bits.hotSpotY = 4;
    bits.width = 32;
    bits.maskHeight = 64;
    bits.mask.assign(32 * 64, 0x00FFFFFF);  // AND all 1: transparent
    // Top-down line 0 opaque white at x = 20; bottom-up storage.
    auto at = [&](int topDown, int x) -> std::uint32_t& { return bits.mask[static_cast<size_t>(63 - topDown) * 32 + static_cast<size_t>(x)]; };
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) at(32 + y, x) = 0;
    }
    at(0, 20) = 0;
    at(32, 20) = 0x00FFFFFF;
    at(5, 1) = 0;  // opaque black at (1, 5)
    HCURSOR cursor = reinterpret_cast<HCURSOR>(&bits);
    RegisterCursorBitmaps(cursor, bits);
    ASSERT_EQ(CopyCursorToDevice(device_, cursor, FALSE), S_OK);
    const auto created = device_->Named("CreateImageSurface");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].args, (std::vector<DWORD>{32, 32, D3DFMT_A8R8G8B8}));
    auto set = device_->Named("SetCursorProperties");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].args[0], 3u);
    EXPECT_EQ(set[0].args[1], 4u);
    ASSERT_EQ(set[0].vertices.size(), 32u * 32u * 4u);
    auto pixel = [&](int x, int y) {
        std::uint32_t p;
        std::memcpy(&p, set[0].vertices.data() + (y * 32 + x) * 4, 4);
        return p;
    };
    EXPECT_EQ(pixel(20, 0), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(1, 5), 0xFF000000u);
    EXPECT_EQ(pixel(0, 0), 0u);
    // The mark: row 0 is 0xCCC0, so x = 0 and 1 are ORed with grey.
    device_->Clear();
    ASSERT_EQ(CopyCursorToDevice(device_, cursor, TRUE), S_OK);
    set = device_->Named("SetCursorProperties");
    EXPECT_EQ(pixel(0, 0), 0xFF808080u);
    EXPECT_EQ(pixel(2, 0), 0u);
    // The standard arrow is known; an unknown cursor is a failure.
    EXPECT_EQ(CopyCursorToDevice(device_, LoadCursorA(nullptr, IDC_ARROW), FALSE), S_OK);
    EXPECT_EQ(CopyCursorToDevice(device_, reinterpret_cast<HCURSOR>(&set), FALSE), E_FAIL);
    device_->failures["CreateImageSurface"] = E_OUTOFMEMORY;
    EXPECT_EQ(CopyCursorToDevice(device_, cursor, FALSE), E_OUTOFMEMORY);
}

TEST_F(HelperTest, TexturesAreFoundInTheMediaFolder) {
    const auto dir = std::filesystem::temp_directory_path() / ("media_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "Textures");
    std::vector<std::uint8_t> dds(128 + 8, 0);
    auto put = [&](size_t at, std::uint32_t v) { std::memcpy(dds.data() + at, &v, 4); };
    put(0, 0x20534444);
    put(4, 124);
    put(8, 0x1007);
    put(12, 4);
    put(16, 4);
    put(76, 32);
    put(80, 4);
    put(84, MakeFourCC('D', 'X', 'T', '1'));
    std::FILE* f = std::fopen((dir / "Textures" / "wall.dds").c_str(), "wb");
    std::fwrite(dds.data(), 1, dds.size(), f);
    std::fclose(f);
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    IDirect3DTexture8* t = nullptr;
    EXPECT_EQ(LoadTextureFile(device_, "wall.dds", &t, D3DFMT_DXT1), D3D_OK);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->GetLevelCount(), 1u);
    t->Release();
    t = nullptr;
    EXPECT_TRUE(FAILED(LoadTextureFile(device_, "missing.dds", &t, D3DFMT_DXT1)));
    EXPECT_EQ(t, nullptr);
    EXPECT_TRUE(FAILED(LoadTextureFile(device_, nullptr, &t, D3DFMT_DXT1))) << "no name is a missing file";
    EXPECT_EQ(t, nullptr);
    DWORD handle = 0;
    const DWORD declaration[] = {0xFFFFFFFF};
    EXPECT_TRUE(FAILED(LoadVertexShaderFile(device_, "shader.vsh", declaration, &handle)));
    std::filesystem::current_path(old);
    std::filesystem::remove_all(dir);
}

TEST(TrackBallMaths, SphereMappingAndArcs) {
    TrackBall ball;
    ball.SetScreenSize(640, 480, 1.0f);
    D3DXVECTOR3 p = ball.MapToSphere(320, 240);
    EXPECT_EQ(p, D3DXVECTOR3(0, 0, 1));
    p = ball.MapToSphere(0, 0);
    EXPECT_NEAR(D3DXVec3Length(&p), 1.0f, 1e-6f);
    EXPECT_EQ(p.z, 0.0f);
    EXPECT_GT(p.x, 0.0f);  // left of centre maps to +x
    EXPECT_LT(p.y, 0.0f);
    TrackBall empty;
    p = empty.MapToSphere(10, 10);
    EXPECT_FALSE(std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z));

    D3DXQUATERNION q = ArcQuaternion(D3DXVECTOR3(0, 0, 1), D3DXVECTOR3(0, 0, 1));
    EXPECT_NEAR(q.w, 1.0f, 1e-6f);
    EXPECT_NEAR(q.z, 0.0f, 1e-6f);
    q = ArcQuaternion(D3DXVECTOR3(1, 0, 0), D3DXVECTOR3(0, 2, 0));
    EXPECT_NEAR(q.z, std::sqrt(0.5f), 1e-6f);
    EXPECT_NEAR(q.w, std::sqrt(0.5f), 1e-6f);
    q = ArcQuaternion(D3DXVECTOR3(1, 0, 0), D3DXVECTOR3(-1, 0, 0));
    EXPECT_NEAR(D3DXQuaternionLength(&q), 1.0f, 1e-6f);
    D3DXMATRIX m;
    D3DXMatrixRotationQuaternion(&m, &q);
    const D3DXVECTOR3 x(1, 0, 0);
    D3DXVECTOR3 turned;
    D3DXVec3TransformNormal(&turned, &x, &m);
    EXPECT_NEAR(turned.x, -1.0f, 1e-5f);
    q = CrossDotQuaternion(D3DXVECTOR3(1, 2, 3), D3DXVECTOR3(4, 5, 6));
    EXPECT_EQ(q, D3DXQUATERNION(-3, 6, -3, 32));
}

LPARAM Point(int x, int y) { return static_cast<LPARAM>((y & 0xFFFF) << 16 | (x & 0xFFFF)); }

TEST(TrackBallMaths, DragsPansAndDollies) {
    TrackBall ball;
    ball.SetScreenSize(200, 100, 1.0f);
    EXPECT_TRUE(ball.ProcessMouseMessage(nullptr, WM_LBUTTONDOWN, MK_LBUTTON, Point(100, 50)));
    EXPECT_TRUE(ball.ProcessMouseMessage(nullptr, WM_MOUSEMOVE, MK_LBUTTON, Point(150, 50)));
    const D3DXQUATERNION turned = ball.Rotation();
    EXPECT_GT(std::fabs(turned.y), 0.1f);
    EXPECT_NEAR(turned.x, 0.0f, 1e-6f);
    EXPECT_TRUE(ball.ProcessMouseMessage(nullptr, WM_LBUTTONUP, 0, Point(150, 50)));
    EXPECT_FALSE(ball.Dragging());
    // A move with the button held but no button-down first: no turn yet, then
    // turns relative to the previous drag's start point.
    EXPECT_TRUE(ball.ProcessMouseMessage(nullptr, WM_MOUSEMOVE, MK_LBUTTON, Point(150, 50)));
    EXPECT_TRUE(D3DXMatrixIsIdentity(&ball.RotationStepMatrix()));
    EXPECT_TRUE(ball.Dragging());
    EXPECT_TRUE(ball.ProcessMouseMessage(nullptr, WM_MOUSEMOVE, MK_LBUTTON, Point(150, 50)));
    EXPECT_FALSE(D3DXMatrixIsIdentity(&ball.RotationStepMatrix()));

    EXPECT_TRUE(ball.ProcessMouseMessage(nullptr, WM_RBUTTONDOWN, MK_RBUTTON, Point(100, 100)));
    EXPECT_TRUE(ball.ProcessMouseMessage(nullptr, WM_MOUSEMOVE, MK_RBUTTON, Point(90, 110)));
    // dx = 10 / 200 = 0.05, dy = -10 / 100 = -0.1: translation (-0.1, -0.2, 0).
    EXPECT_FLOAT_EQ(ball.TranslationMatrix()._41, -0.1f);
    EXPECT_FLOAT_EQ(ball.TranslationMatrix()._42, -0.2f);
    EXPECT_TRUE(ball.ProcessMouseMessage(nullptr, WM_MOUSEMOVE, MK_MBUTTON, Point(90, 100)));
    EXPECT_FLOAT_EQ(ball.TranslationMatrix()._43, 0.5f);  // 5 x (110 - 100) / 100
    EXPECT_TRUE(ball.ProcessMouseMessage(nullptr, WM_MOUSEMOVE, 0, Point(0, 0)));
    EXPECT_FALSE(ball.ProcessMouseMessage(nullptr, WM_KEYDOWN, 0, 0));

    TrackBall zero;  // a window of no size pans by nothing
    zero.ProcessMouseMessage(nullptr, WM_RBUTTONDOWN, MK_RBUTTON, Point(5, 5));
    zero.ProcessMouseMessage(nullptr, WM_MOUSEMOVE, MK_RBUTTON, Point(9, 9));
    EXPECT_TRUE(D3DXMatrixIsIdentity(&zero.TranslationMatrix()));
}

TEST(ViewCameraMaths, DefaultsAndBillboard) {
    ViewCamera camera;
    EXPECT_TRUE(D3DXMatrixIsIdentity(&camera.view));
    D3DXMATRIX expected;
    D3DXMatrixPerspectiveFovLH(&expected, 0.7853982f, 1.0f, 1.0f, 1000.0f);
    EXPECT_EQ(camera.projection, expected);
    EXPECT_EQ(camera.viewDirection, D3DXVECTOR3(0, 0, 1));
    camera.SetLookAt(D3DXVECTOR3(1, 2, 3), D3DXVECTOR3(1, 2, 10), D3DXVECTOR3(0, 1, 0));
    EXPECT_EQ(camera.billboard._41, 0.0f);
    EXPECT_EQ(camera.billboard._43, 0.0f);
    EXPECT_EQ(camera.side, D3DXVECTOR3(-1, 0, 0));
    camera.SetPerspective(1.0f, 2.0f, 0.5f, 50.0f);
    EXPECT_EQ(camera.aspect, 2.0f);
}

}  // namespace
