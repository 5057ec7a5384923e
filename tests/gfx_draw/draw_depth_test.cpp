// Depth over the view program's whole range: near plane 0.001, far plane
// 524288 (kilometres), the W-buffer asked for, compare LESS, cleared to 1.
#include "tests/gfx_draw/draw_fixture.h"

namespace {

class DepthTest : public DrawTest {
protected:
    void SetUp() override {
        DrawTest::SetUp();
        D3DXMATRIX projection;
        D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 4, 1.0f, 0.001f, 524288.0f);
        device_->SetTransform(D3DTS_PROJECTION, &projection);
        device_->SetRenderState(D3DRS_ZENABLE, D3DZB_USEW);
        device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->SetVertexShader(0x42);
    }
    // A triangle at distance z covering the middle of the picture (a quarter
    // of the view's height either way).
    void Triangle(float z, D3DCOLOR colour) {
        const float s = 0.25f * z;
        const ColourVertex v[3] = {{-s, -s, z, colour}, {0, s, z, colour}, {s, -s, z, colour}};
        ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(ColourVertex)), D3D_OK);
    }
    void ClearAll() { device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0); }
    // The nearer of two triangles shows whichever is drawn first.
    void ExpectNearerShows(float nearZ, float farZ, const char* name) {
        ClearAll();
        Triangle(nearZ, 0xFFFF0000);
        Triangle(farZ, 0xFF00FF00);
        EXPECT_EQ(Pixel(32, 32), 0xFF0000u) << nearZ << " drawn before " << farZ;
        ClearAll();
        Triangle(farZ, 0xFF00FF00);
        Triangle(nearZ, 0xFFFF0000);
        EXPECT_EQ(Pixel(32, 32), 0xFF0000u) << nearZ << " drawn after " << farZ;
        Dump(name);
    }
};

TEST_F(DepthTest, TenMetresApartAtAHundredKilometres) {
    ExpectNearerShows(100.0f, 100.01f, "depth_100km");
    ExpectNearerShows(0.01f, 0.0101f, "depth_10m");  // and near the near plane
}

TEST_F(DepthTest, FarAwayStaysInFrontOfTheClearedFarPlane) {
    // 100,000 and 400,000 km; half and 0.99 of the far plane: each is drawn
    // against the clear to 1 and stays apart from what lies behind it.
    for (const float z : {100000.0f, 262144.0f, 400000.0f, 519045.0f}) {
        ClearAll();
        Triangle(z, 0xFF0000FF);
        EXPECT_EQ(Pixel(32, 32), 0x0000FFu) << z << " lost against the cleared far plane";
    }
    ExpectNearerShows(100000.0f, 100100.0f, "depth_100000km");
    ExpectNearerShows(400000.0f, 400400.0f, "depth_400000km");
}

TEST_F(DepthTest, ClearCompareAndDepthRangeKeepThePlatformMeaning) {
    // An orthographic view: depth is z itself.
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    device_->SetTransform(D3DTS_PROJECTION, &identity);
    D3DVIEWPORT8 vp = {0, 0, kSize, kSize, 0.5f, 1.0f};  // depth 0 to 0.5
    device_->SetViewport(&vp);
    const ColourVertex at0[3] = {{-1, -1, 0, 0xFFFFFFFF}, {0, 1, 0, 0xFFFFFFFF}, {1, -1, 0, 0xFFFFFFFF}};
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.4f, 0);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, at0, sizeof(ColourVertex));
    EXPECT_EQ(Pixel(32, 32), 0u) << "depth 0.5 passed LESS against 0.4";
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.6f, 0);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, at0, sizeof(ColourVertex));
    EXPECT_EQ(Pixel(32, 32), 0xFFFFFFu) << "depth 0.5 failed LESS against 0.6";
    // GREATER against a clear to 0.25: screen depth 0.5 passes, 0.1 does not.
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.25f, 0);
    ScreenRect(0, 0, 8, 8, 0xFF00FF00, 0.1f);
    EXPECT_EQ(Pixel(4, 4), 0u);
    ScreenRect(0, 0, 8, 8, 0xFF00FF00, 0.5f);
    EXPECT_EQ(Pixel(4, 4), 0x00FF00u);
}

}  // namespace
