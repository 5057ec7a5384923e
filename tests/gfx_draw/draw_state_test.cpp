// The device's state shadow: the platform's defaults, state blocks, vertex
// buffer bounds, and failing shader assembly.
#include "tests/gfx_draw/draw_fixture.h"

#include "platform/gfx/d3dx_texture.h"

namespace {

using StateTest = DrawTest;

TEST_F(StateTest, StartsAtThePlatformDefaults) {
    DWORD v = 0;
    auto rs = [&](D3DRENDERSTATETYPE s) {
        device_->GetRenderState(s, &v);
        return v;
    };
    EXPECT_EQ(rs(D3DRS_ALPHAREF), 0u);
    EXPECT_EQ(rs(D3DRS_SRCBLEND), static_cast<DWORD>(D3DBLEND_ONE));
    EXPECT_EQ(rs(D3DRS_DESTBLEND), static_cast<DWORD>(D3DBLEND_ZERO));
    EXPECT_EQ(rs(D3DRS_STENCILFUNC), static_cast<DWORD>(D3DCMP_ALWAYS));
    EXPECT_EQ(rs(D3DRS_STENCILPASS), static_cast<DWORD>(D3DSTENCILOP_KEEP));
    EXPECT_EQ(rs(D3DRS_STENCILMASK), 0xFFFFFFFFu);
    EXPECT_EQ(rs(D3DRS_STENCILWRITEMASK), 0xFFFFFFFFu);
    EXPECT_EQ(rs(D3DRS_ZWRITEENABLE), static_cast<DWORD>(TRUE));
    EXPECT_EQ(rs(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CCW));
    EXPECT_EQ(rs(D3DRS_AMBIENT), 0u);
    EXPECT_EQ(rs(D3DRS_SPECULARENABLE), 0u);
    EXPECT_EQ(rs(D3DRS_FOGTABLEMODE), static_cast<DWORD>(D3DFOG_NONE));
    EXPECT_EQ(rs(D3DRS_TEXTUREFACTOR), 0xFFFFFFFFu);
    EXPECT_EQ(rs(D3DRS_DITHERENABLE), 0u);
    for (DWORD stage = 0; stage < 4; ++stage) {
        auto ts = [&](D3DTEXTURESTAGESTATETYPE t) {
            device_->GetTextureStageState(stage, t, &v);
            return v;
        };
        EXPECT_EQ(ts(D3DTSS_COLOROP), static_cast<DWORD>(stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE));
        EXPECT_EQ(ts(D3DTSS_ALPHAOP), static_cast<DWORD>(stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE));
        EXPECT_EQ(ts(D3DTSS_COLORARG1), D3DTA_TEXTURE);
        EXPECT_EQ(ts(D3DTSS_COLORARG2), D3DTA_CURRENT);
        EXPECT_EQ(ts(D3DTSS_TEXCOORDINDEX), stage);
        EXPECT_EQ(ts(D3DTSS_MINFILTER), static_cast<DWORD>(D3DTEXF_POINT));
        EXPECT_EQ(ts(D3DTSS_MAGFILTER), static_cast<DWORD>(D3DTEXF_POINT));
        EXPECT_EQ(ts(D3DTSS_MIPFILTER), static_cast<DWORD>(D3DTEXF_NONE));
        EXPECT_EQ(ts(D3DTSS_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_WRAP));
    }
    // A light enabled before it was set is the default light.
    ASSERT_EQ(device_->LightEnable(5, TRUE), D3D_OK);
    D3DLIGHT8 l{};
    ASSERT_EQ(device_->GetLight(5, &l), D3D_OK);
    EXPECT_EQ(l.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(l.Diffuse.r, 1.0f);
    EXPECT_EQ(l.Direction.z, 1.0f);
}

TEST_F(StateTest, RecordingLeavesTheCurrentStateAndApplyCaptureDeleteWork) {
    DWORD v = 0;
    ASSERT_EQ(device_->BeginStateBlock(), D3D_OK);
    EXPECT_EQ(device_->SetRenderState(D3DRS_FOGENABLE, TRUE), D3D_OK);
    EXPECT_EQ(device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD), D3D_OK);
    device_->GetRenderState(D3DRS_FOGENABLE, &v);
    EXPECT_EQ(v, 0u) << "recording changed the current state";
    DWORD block = 0;
    ASSERT_EQ(device_->EndStateBlock(&block), D3D_OK);
    ASSERT_NE(block, 0u);
    device_->GetTextureStageState(1, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTOP_DISABLE));

    ASSERT_EQ(device_->ApplyStateBlock(block), D3D_OK);
    device_->GetRenderState(D3DRS_FOGENABLE, &v);
    EXPECT_EQ(v, static_cast<DWORD>(TRUE));
    device_->GetTextureStageState(1, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTOP_ADD));

    // Capture takes the current values of exactly the recorded states.
    device_->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    ASSERT_EQ(device_->CaptureStateBlock(block), D3D_OK);
    device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->ApplyStateBlock(block);
    device_->GetRenderState(D3DRS_FOGENABLE, &v);
    EXPECT_EQ(v, 0u);
    device_->GetRenderState(D3DRS_LIGHTING, &v);
    EXPECT_EQ(v, 0u) << "a state outside the block was touched";

    EXPECT_EQ(device_->DeleteStateBlock(block), D3D_OK);
    EXPECT_NE(device_->ApplyStateBlock(block), D3D_OK);
    EXPECT_NE(device_->DeleteStateBlock(block), D3D_OK);
    DWORD none = 1;
    EXPECT_NE(device_->EndStateBlock(&none), D3D_OK) << "ending a block that was never begun";
}

TEST_F(StateTest, BlocksHoldTheirTexturesAndCreateStateBlockRestoresAll) {
    IDirect3DTexture8* t = SolidTexture(D3DFMT_A8R8G8B8, 0xFFFFFFFF);
    device_->BeginStateBlock();
    device_->SetTexture(0, t);
    DWORD block = 0;
    device_->EndStateBlock(&block);
    EXPECT_EQ(t->Release(), 1u) << "the block keeps one reference";
    device_->ApplyStateBlock(block);
    IDirect3DBaseTexture8* bound = nullptr;
    device_->GetTexture(0, &bound);
    EXPECT_EQ(bound, t);
    bound->Release();
    device_->SetTexture(0, nullptr);
    device_->DeleteStateBlock(block);  // drops the last reference

    DWORD all = 0;
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    ASSERT_EQ(device_->CreateStateBlock(D3DSBT_ALL, &all), D3D_OK);
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_NEVER);
    device_->SetTextureStageState(2, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    device_->ApplyStateBlock(all);
    DWORD v = 0;
    device_->GetRenderState(D3DRS_ZFUNC, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DCMP_GREATER));
    device_->GetTextureStageState(2, D3DTSS_MAGFILTER, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTEXF_POINT));
    device_->DeleteStateBlock(all);
}

TEST_F(StateTest, ViewportIsRecordedIntoABlockAndLeftUntilApplied) {
    D3DVIEWPORT8 before{};
    ASSERT_EQ(device_->GetViewport(&before), D3D_OK);
    D3DVIEWPORT8 small = before;
    small.Width = before.Width / 2;
    small.Height = before.Height / 2;
    device_->BeginStateBlock();
    ASSERT_EQ(device_->SetViewport(&small), D3D_OK);
    DWORD block = 0;
    ASSERT_EQ(device_->EndStateBlock(&block), D3D_OK);
    D3DVIEWPORT8 now{};
    device_->GetViewport(&now);
    EXPECT_EQ(now.Width, before.Width) << "recording changed the current viewport";
    ASSERT_EQ(device_->ApplyStateBlock(block), D3D_OK);
    device_->GetViewport(&now);
    EXPECT_EQ(now.Width, small.Width);
    EXPECT_EQ(now.Height, small.Height);
    device_->DeleteStateBlock(block);

    D3DVIEWPORT8 wrapping = before;
    wrapping.X = 0xFFFFFFF0u;  // X + Width wraps around in 32 bits
    wrapping.Width = 0x20;
    EXPECT_EQ(device_->SetViewport(&wrapping), D3DERR_INVALIDCALL);
}

TEST_F(StateTest, VertexBufferLocksAndDrawsStayInBounds) {
    IDirect3DVertexBuffer8* vb = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(6 * sizeof(ColourVertex), D3DUSAGE_WRITEONLY, 0x42, D3DPOOL_MANAGED, &vb),
              D3D_OK);
    BYTE* data = nullptr;
    EXPECT_EQ(vb->Lock(0, 7 * sizeof(ColourVertex), &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(vb->Lock(5 * sizeof(ColourVertex), 2 * sizeof(ColourVertex), &data, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(vb->Lock(0, 0, &data, D3DLOCK_DISCARD), D3D_OK);
    EXPECT_EQ(vb->Lock(0, 0, &data, 0), D3DERR_INVALIDCALL) << "already locked";
    // Two clockwise triangles: the first on the left, the second on the right.
    const ColourVertex v[6] = {{-1.0f, -1.0f, 0.5f, 0xFFFF0000}, {-1.0f, 1.0f, 0.5f, 0xFFFF0000},
                               {-0.2f, -1.0f, 0.5f, 0xFFFF0000}, {0.2f, -1.0f, 0.5f, 0xFF00FF00},
                               {0.2f, 1.0f, 0.5f, 0xFF00FF00},   {1.0f, -1.0f, 0.5f, 0xFF00FF00}};
    std::memcpy(data, v, sizeof(v));
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetVertexShader(0x42);
    device_->SetStreamSource(0, vb, sizeof(ColourVertex));
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 3), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 4, 1), D3DERR_INVALIDCALL);
    ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 3, 1), D3D_OK);
    EXPECT_EQ(Pixel(4, 60), 0u) << "the start vertex was not honoured";
    EXPECT_EQ(Pixel(60, 60), 0x00FF00u);
    device_->SetStreamSource(0, nullptr, 0);
    vb->Release();
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL) << "no stream";
}

TEST_F(StateTest, ShaderAssemblyFails) {
    ID3DXBuffer* code = reinterpret_cast<ID3DXBuffer*>(1);
    EXPECT_TRUE(FAILED(D3DXAssembleShaderFromFileA("shader.vsh", 0, nullptr, &code, nullptr)));
    EXPECT_EQ(code, nullptr);
    DWORD handle = 7;
    const DWORD declaration[] = {0xFFFFFFFF};
    EXPECT_TRUE(FAILED(device_->CreateVertexShader(declaration, declaration, &handle, 0)));
}

}  // namespace
