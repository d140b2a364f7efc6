// The Direct3D object, device creation, presentation, resources, reference
// counts, the call log and injected failures.
#include "DeviceFixture.h"

#include <algorithm>
#include <cstring>

namespace {

using ObjectTest = DeviceTest;

TEST_F(ObjectTest, OnlySdkVersion120IsAccepted) {
    EXPECT_EQ(module_.Create()(119), nullptr);
    EXPECT_EQ(module_.Create()(220), nullptr);
    IDirect3D8* d3d = module_.Create()(120);
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(d3d->Release(), 0u);
}

TEST_F(ObjectTest, DisplayModeIsX8R8G8B8) {
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), D3D_OK);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_GT(mode.Width, 0u);
    EXPECT_NE(d3d_->GetAdapterDisplayMode(1, &mode), D3D_OK);
}

TEST_F(ObjectTest, WindowedZeroSizeTakesTheClientSizeForBothDeviceTypes) {
    for (D3DDEVTYPE type : {D3DDEVTYPE_HAL, D3DDEVTYPE_REF}) {
        TMemoryTarget target(577, 449);
        D3DPRESENT_PARAMETERS p = WindowedParameters(target.Handle());
        TComRef<IDirect3DDevice8> device;
        ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, type, target.Handle(),
                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, device.ReleaseAndGetAddressOf()),
                  D3D_OK);
        TComRef<IDirect3DSurface8> back;
        ASSERT_EQ(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.ReleaseAndGetAddressOf()), D3D_OK);
        D3DSURFACE_DESC desc{};
        back->GetDesc(&desc);
        EXPECT_EQ(desc.Width, 577u);
        EXPECT_EQ(desc.Height, 449u);
        EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
        D3DCAPS8 caps{};
        ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
        EXPECT_EQ(caps.DeviceType, type);
        EXPECT_EQ(caps.MaxTextureWidth, 8192u);
        EXPECT_EQ(caps.MaxTextureHeight, 8192u);
        EXPECT_GE(caps.MaxSimultaneousTextures, 2u);
    }
}

TEST_F(ObjectTest, DeviceCreationFailsForAnUnknownWindow) {
    HWND gone;
    {
        TMemoryTarget target(8, 8);
        gone = target.Handle();
    }
    D3DPRESENT_PARAMETERS p = WindowedParameters(gone);
    IDirect3DDevice8* device = reinterpret_cast<IDirect3DDevice8*>(1);
    EXPECT_NE(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, gone, 0, &p, &device), D3D_OK);
    EXPECT_EQ(device, nullptr);
}

TEST_F(ObjectTest, DefaultStatesAreDirect3DDefaults) {
    MakeDevice(8, 8);
    D3DPRESENT_PARAMETERS p = WindowedParameters(target_->Handle());
    ASSERT_EQ(device_->Reset(&p), D3D_OK);
    struct Case {
        D3DRENDERSTATETYPE state;
        DWORD value;
    };
    const Case render[] = {
        {D3DRS_LIGHTING, TRUE}, {D3DRS_ZENABLE, D3DZB_TRUE}, {D3DRS_ZWRITEENABLE, TRUE},
        {D3DRS_ZFUNC, D3DCMP_LESSEQUAL}, {D3DRS_CULLMODE, D3DCULL_CCW}, {D3DRS_FILLMODE, D3DFILL_SOLID},
        {D3DRS_SHADEMODE, D3DSHADE_GOURAUD}, {D3DRS_ALPHABLENDENABLE, FALSE}, {D3DRS_SRCBLEND, D3DBLEND_ONE},
        {D3DRS_DESTBLEND, D3DBLEND_ZERO}, {D3DRS_ALPHATESTENABLE, FALSE}, {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
        {D3DRS_ALPHAREF, 0}, {D3DRS_FOGENABLE, FALSE}, {D3DRS_SPECULARENABLE, FALSE},
        {D3DRS_TEXTUREFACTOR, 0xFFFFFFFF},
    };
    for (const Case& c : render) {
        DWORD value = 12345;
        device_->GetRenderState(c.state, &value);
        EXPECT_EQ(value, c.value) << "render state " << c.state;
    }
    struct StageCase {
        DWORD stage;
        D3DTEXTURESTAGESTATETYPE type;
        DWORD value;
    };
    const StageCase stages[] = {
        {0, D3DTSS_COLOROP, D3DTOP_MODULATE}, {0, D3DTSS_COLORARG1, D3DTA_TEXTURE},
        {0, D3DTSS_COLORARG2, D3DTA_CURRENT}, {0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1},
        {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE}, {0, D3DTSS_ALPHAARG2, D3DTA_CURRENT},
        {1, D3DTSS_COLOROP, D3DTOP_DISABLE}, {7, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
        {3, D3DTSS_TEXCOORDINDEX, 3}, {5, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP},
        {5, D3DTSS_ADDRESSV, D3DTADDRESS_WRAP}, {2, D3DTSS_MAGFILTER, D3DTEXF_POINT},
        {2, D3DTSS_MINFILTER, D3DTEXF_POINT}, {2, D3DTSS_MIPFILTER, D3DTEXF_NONE},
    };
    for (const StageCase& c : stages) {
        DWORD value = 12345;
        device_->GetTextureStageState(c.stage, c.type, &value);
        EXPECT_EQ(value, c.value) << "stage " << c.stage << " state " << c.type;
    }

    // Without an automatic depth buffer depth testing starts off.
    D3DPRESENT_PARAMETERS noDepth = WindowedParameters(target_->Handle(), false);
    ASSERT_EQ(device_->Reset(&noDepth), D3D_OK);
    DWORD zenable = 12345;
    device_->GetRenderState(D3DRS_ZENABLE, &zenable);
    EXPECT_EQ(zenable, static_cast<DWORD>(D3DZB_FALSE));
}

TEST_F(ObjectTest, PresentStretchesIntoATargetOfAnotherSize) {
    TMemoryTarget big(8, 8);
    target_ = std::make_unique<TMemoryTarget>(8, 8);
    D3DPRESENT_PARAMETERS p = WindowedParameters(target_->Handle());
    p.BackBufferWidth = 4;
    p.BackBufferHeight = 2;
    ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, target_->Handle(), 0, &p,
                                 device_.ReleaseAndGetAddressOf()),
              D3D_OK);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    UseDiffuseOnly();
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1.0f, 0);
    ASSERT_EQ(DrawTL(Rect(0, 0, 2, 1, 0xFFFF0000)), D3D_OK);
    ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(target_->Presents(), 1);
    // The 4 x 2 picture doubled in x and quadrupled in y, opaque.
    EXPECT_EQ(target_->Pixel(3, 3), 0xFFFF0000u);
    EXPECT_EQ(target_->Pixel(4, 3), 0xFF0000FFu);
    EXPECT_EQ(target_->Pixel(0, 4), 0xFF0000FFu);
    EXPECT_EQ(target_->Pixel(7, 7), 0xFF0000FFu);

    // Presenting into another window named at the call.
    ASSERT_EQ(device_->Present(nullptr, nullptr, big.Handle(), nullptr), D3D_OK);
    EXPECT_EQ(big.Presents(), 1);
    EXPECT_EQ(big.Pixel(0, 0), 0xFFFF0000u);
}

TEST_F(ObjectTest, FirstPresentShowsAnUndrawnOpaqueBackBuffer) {
    MakeDevice(4, 4);
    TMemoryTarget fresh(4, 4);
    D3DPRESENT_PARAMETERS p = WindowedParameters(fresh.Handle());
    TComRef<IDirect3DDevice8> device;
    ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, fresh.Handle(), 0, &p, device.ReleaseAndGetAddressOf()),
              D3D_OK);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(fresh.Pixel(2, 2), 0xFF000000u);
}

TEST_F(ObjectTest, PresentFailsOnceTheWindowIsGoneUntilReset) {
    MakeDevice(4, 4);
    target_.reset();
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_NE(device_->TestCooperativeLevel(), D3D_OK);
    D3DPRESENT_PARAMETERS p = WindowedParameters(nullptr);
    EXPECT_NE(device_->Reset(&p), D3D_OK);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
}

TEST_F(ObjectTest, AdditionalSwapChainPresentsIntoItsOwnWindow) {
    MakeDevice(4, 4);
    TMemoryTarget second(6, 3);
    D3DPRESENT_PARAMETERS p = WindowedParameters(second.Handle());
    TComRef<IDirect3DSwapChain8> chain;
    ASSERT_EQ(device_->CreateAdditionalSwapChain(&p, chain.ReleaseAndGetAddressOf()), D3D_OK);
    TComRef<IDirect3DSurface8> back, depth;
    ASSERT_EQ(chain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.ReleaseAndGetAddressOf()), D3D_OK);
    D3DSURFACE_DESC desc{};
    back->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 6u);
    EXPECT_EQ(desc.Height, 3u);
    ASSERT_EQ(device_->GetDepthStencilSurface(depth.ReleaseAndGetAddressOf()), D3D_OK);
    // The device's own depth buffer (4 x 4) is too small for a 6 x 3 target.
    EXPECT_NE(device_->SetRenderTarget(back.get(), depth.get()), D3D_OK);
    ASSERT_EQ(device_->SetRenderTarget(back.get(), nullptr), D3D_OK);
    UseDiffuseOnly();
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    ASSERT_EQ(chain->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(second.Pixel(5, 2), 0xFF00FF00u);
    EXPECT_EQ(target_->Presents(), 0);

    // Back to the device's own buffers.
    TComRef<IDirect3DSurface8> own;
    ASSERT_EQ(device_->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, own.ReleaseAndGetAddressOf()), D3D_OK);
    ASSERT_EQ(device_->SetRenderTarget(own.get(), depth.get()), D3D_OK);
}

// A surface that is not one of this device's.
class TForeignSurface final : public IDirect3DSurface8 {
public:
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetDevice(IDirect3DDevice8**) override { return D3DERR_INVALIDCALL; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override {
        *desc = D3DSURFACE_DESC{};
        desc->Format = D3DFMT_X8R8G8B8;
        desc->Width = desc->Height = 4;
        return D3D_OK;
    }
    HRESULT LockRect(D3DLOCKED_RECT*, const RECT*, DWORD) override { return D3DERR_INVALIDCALL; }
    HRESULT UnlockRect() override { return D3DERR_INVALIDCALL; }
};

// Render targets and depth buffers are this device's own surfaces; anything
// else is refused, and the target stays as it was.
TEST_F(ObjectTest, RenderTargetsFromElsewhereAreRefused) {
    MakeDevice(4, 4);
    TComRef<IDirect3DDevice8> other;
    D3DPRESENT_PARAMETERS p = WindowedParameters(target_->Handle());
    ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_REF, target_->Handle(),
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, other.ReleaseAndGetAddressOf()),
              D3D_OK);
    TComRef<IDirect3DSurface8> own, depth, otherBack, otherDepth;
    ASSERT_EQ(device_->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, own.ReleaseAndGetAddressOf()), D3D_OK);
    ASSERT_EQ(device_->GetDepthStencilSurface(depth.ReleaseAndGetAddressOf()), D3D_OK);
    ASSERT_EQ(other->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, otherBack.ReleaseAndGetAddressOf()), D3D_OK);
    ASSERT_EQ(other->GetDepthStencilSurface(otherDepth.ReleaseAndGetAddressOf()), D3D_OK);
    TForeignSurface foreign;

    const struct {
        const char* name;
        IDirect3DSurface8 *color, *depth;
        HRESULT expected;
    } cases[] = {
        {"not a surface of ours", &foreign, depth.get(), D3DERR_INVALIDCALL},
        {"not a surface of ours, no depth", &foreign, nullptr, D3DERR_INVALIDCALL},
        {"another device's back buffer", otherBack.get(), depth.get(), D3DERR_INVALIDCALL},
        {"another device's depth buffer", own.get(), otherDepth.get(), D3DERR_INVALIDCALL},
        {"the current target kept", nullptr, depth.get(), D3D_OK},
        {"our own", own.get(), depth.get(), D3D_OK},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(device_->SetRenderTarget(c.color, c.depth), c.expected) << c.name;
        TComRef<IDirect3DSurface8> current;
        ASSERT_EQ(device_->GetRenderTarget(current.ReleaseAndGetAddressOf()), D3D_OK);
        EXPECT_EQ(current.get(), own.get()) << c.name;
    }
}

TEST_F(ObjectTest, ReferencesAreCountedOnEveryObject) {
    MakeDevice(4, 4);
    const int live = control_->LiveObjects();
    TComRef<IDirect3DTexture8> texture;
    ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_A1R5G5B5, D3DPOOL_MANAGED, texture.ReleaseAndGetAddressOf()),
              D3D_OK);
    EXPECT_EQ(control_->LiveObjects(), live + 1);
    EXPECT_EQ(texture->AddRef(), 2u);
    EXPECT_EQ(texture->Release(), 1u);
    // A bound texture is held by the device.
    device_->SetTexture(0, texture.get());
    texture.Clear();
    EXPECT_EQ(control_->LiveObjects(), live + 1);
    device_->SetTexture(0, nullptr);
    EXPECT_EQ(control_->LiveObjects(), live);

    // Surfaces count on their container.
    TComRef<IDirect3DSurface8> back;
    ASSERT_EQ(device_->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.ReleaseAndGetAddressOf()), D3D_OK);
    EXPECT_EQ(device_->AddRef(), 3u);
    EXPECT_EQ(device_->Release(), 2u);
    back.Clear();
    EXPECT_EQ(device_->AddRef(), 2u);
    EXPECT_EQ(device_->Release(), 1u);

    // A vertex buffer bound as stream outlives its last outside reference.
    TComRef<IDirect3DVertexBuffer8> buffer;
    ASSERT_EQ(device_->CreateVertexBuffer(96, D3DUSAGE_WRITEONLY, kTLVertexFormat, D3DPOOL_MANAGED,
                                          buffer.ReleaseAndGetAddressOf()),
              D3D_OK);
    device_->SetStreamSource(0, buffer.get(), sizeof(TLVertex));
    buffer.Clear();
    EXPECT_EQ(control_->LiveObjects(), live + 1);
    // Releasing the device releases what it holds; the Direct3D object stays
    // until its own last reference goes.
    device_.Clear();
    EXPECT_EQ(control_->LiveObjects(), live - 1);
}

TEST_F(ObjectTest, TextureLevelsLockAndKeepTheirPixels) {
    MakeDevice(4, 4);
    TComRef<IDirect3DTexture8> texture;
    ASSERT_EQ(device_->CreateTexture(8, 4, 0, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, texture.ReleaseAndGetAddressOf()),
              D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 4u);  // 8x4, 4x2, 2x1, 1x1
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(texture->GetLevelDesc(2, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 2u);
    EXPECT_EQ(desc.Height, 1u);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_GE(locked.Pitch, 16);
    D3DLOCKED_RECT twice{};
    EXPECT_NE(texture->LockRect(0, &twice, nullptr, 0), D3D_OK);
    static_cast<uint16_t*>(locked.pBits)[3] = 0xBEEF;
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    EXPECT_NE(texture->UnlockRect(0), D3D_OK);
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<uint16_t*>(locked.pBits)[3], 0xBEEF);
    texture->UnlockRect(0);
    EXPECT_NE(texture->LockRect(4, &locked, nullptr, 0), D3D_OK);
    const RECT outside{0, 0, 9, 4};
    EXPECT_NE(texture->LockRect(0, &locked, &outside, 0), D3D_OK);

    TComRef<IDirect3DTexture8> refused;
    EXPECT_NE(device_->CreateTexture(16384, 16, 1, 0, D3DFMT_A1R5G5B5, D3DPOOL_MANAGED, refused.ReleaseAndGetAddressOf()),
              D3D_OK);
    EXPECT_FALSE(refused);
    EXPECT_NE(device_->CreateTexture(16, 16, 1, 0, D3DFMT_D16, D3DPOOL_MANAGED, refused.ReleaseAndGetAddressOf()),
              D3D_OK);
}

TEST_F(ObjectTest, VertexBuffersLockWithinBoundsAndDrawOnlyWhatTheyHold) {
    MakeDevice(4, 4);
    UseDiffuseOnly();
    TComRef<IDirect3DVertexBuffer8> buffer;
    ASSERT_EQ(device_->CreateVertexBuffer(6 * sizeof(TLVertex), D3DUSAGE_WRITEONLY, kTLVertexFormat,
                                          D3DPOOL_MANAGED, buffer.ReleaseAndGetAddressOf()),
              D3D_OK);
    BYTE* data = nullptr;
    EXPECT_NE(buffer->Lock(0, 7 * sizeof(TLVertex), &data, D3DLOCK_DISCARD), D3D_OK);
    EXPECT_EQ(data, nullptr);
    ASSERT_EQ(buffer->Lock(0, 6 * sizeof(TLVertex), &data, D3DLOCK_DISCARD), D3D_OK);
    const auto quad = Rect(0, 0, 4, 4, 0xFF00FF00);
    std::memcpy(data, quad.data(), 6 * sizeof(TLVertex));
    ASSERT_EQ(buffer->Unlock(), D3D_OK);

    device_->SetStreamSource(0, buffer.get(), sizeof(TLVertex));
    device_->SetVertexShader(kTLVertexFormat);
    EXPECT_NE(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK) << "outside a scene";
    device_->BeginScene();
    EXPECT_NE(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 3), D3D_OK);
    EXPECT_NE(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 4, 1), D3D_OK);
    EXPECT_NE(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0xFFFFFFFF, 1), D3D_OK);
    // A count whose vertex total wraps round 32 bits.
    EXPECT_NE(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 0x55555556), D3D_OK);
    EXPECT_NE(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 0x55555556, quad.data(), sizeof(TLVertex)), D3D_OK);
    device_->SetStreamSource(0, buffer.get(), sizeof(TLVertex));
    EXPECT_EQ(Rgb(1, 1), 0u);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    device_->EndScene();
    EXPECT_EQ(Rgb(1, 1), 0x00FF00u);
    device_->SetStreamSource(0, nullptr, 0);
}

TEST_F(ObjectTest, ClearTakesRectanglesInsideTheViewportOnly) {
    MakeDevice(8, 8);
    const D3DRECT rects[] = {{2, 2, 4, 4}, {6, 6, 20, 20}, {5, 1, 3, 2}, {-5, -5, 1, 1}};
    ASSERT_EQ(device_->Clear(4, rects, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
    int green = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) green += Rgb(x, y) == 0x00FF00u ? 1 : 0;
    EXPECT_EQ(green, 4 + 4 + 1);
    EXPECT_EQ(Rgb(3, 3), 0x00FF00u);
    EXPECT_EQ(Rgb(7, 7), 0x00FF00u);
    EXPECT_EQ(Rgb(0, 0), 0x00FF00u);
    EXPECT_EQ(Rgb(4, 1), 0u);
}

TEST_F(ObjectTest, CallLogRecordsCallsInOrderWithReadableText) {
    MakeDevice(4, 4);
    control_->StartCallLog();
    device_->SetRenderState(D3DRS_ZENABLE, 1);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DOTPRODUCT3);
    device_->SetTexture(1, nullptr);
    TComRef<IDirect3DVertexBuffer8> buffer;
    device_->CreateVertexBuffer(132, D3DUSAGE_WRITEONLY, 0x3C2, D3DPOOL_MANAGED, buffer.ReleaseAndGetAddressOf());
    device_->SetStreamSource(0, buffer.get(), 44);
    device_->SetVertexShader(0x3C2);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device_->BeginScene();
    device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1);
    device_->EndScene();
    device_->Present(nullptr, nullptr, nullptr, nullptr);
    control_->StopCallLog();
    device_->SetRenderState(D3DRS_ZENABLE, 0);  // not recorded

    const std::vector<std::string> expected = {
        "SetRenderState(D3DRS_ZENABLE, 1)",
        "SetTextureStageState(0, D3DTSS_COLOROP, 24)",
        "SetTexture(1, null)",
        "CreateVertexBuffer(132, 0x8, 0x3C2, 1)",
        "SetStreamSource(0, vertex buffer #1, 44)",
        "SetVertexShader(0x3C2)",
        "Clear(0, 0x3, 0xFF000000, 1, 0)",
        "BeginScene",
        "DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1)",
        "EndScene",
        "Present",
    };
    EXPECT_EQ(control_->CallLogText(), expected);
    const auto log = control_->CallLog();
    ASSERT_EQ(log.size(), expected.size());
    EXPECT_EQ(log[0].Kind, D3DCallKind::SetRenderState);
    EXPECT_EQ(log[0].Args[0], static_cast<DWORD>(D3DRS_ZENABLE));
    EXPECT_EQ(log[4].Pointer, buffer.get());
    EXPECT_EQ(log[8].Args[2], 1u);
    control_->ClearCallLog();
    EXPECT_TRUE(control_->CallLog().empty());
    device_->SetStreamSource(0, nullptr, 0);
}

TEST_F(ObjectTest, InjectedFailures) {
    MakeDevice(4, 4);
    // Present: the next call fails, the one after succeeds.
    control_->FailNext(D3DFailPoint::Present, 1);
    EXPECT_NE(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    // ... or every call until switched off.
    control_->SetFailAlways(D3DFailPoint::Present, true);
    for (int i = 0; i < 3; ++i) EXPECT_NE(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    control_->SetFailAlways(D3DFailPoint::Present, false);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    control_->FailNext(D3DFailPoint::CreateVertexBuffer, 2);
    TComRef<IDirect3DVertexBuffer8> buffer;
    for (int i = 0; i < 2; ++i) {
        EXPECT_NE(device_->CreateVertexBuffer(64, 0, 0x3C2, D3DPOOL_MANAGED, buffer.ReleaseAndGetAddressOf()), D3D_OK);
        EXPECT_FALSE(buffer);
    }
    EXPECT_EQ(device_->CreateVertexBuffer(64, 0, 0x3C2, D3DPOOL_MANAGED, buffer.ReleaseAndGetAddressOf()), D3D_OK);

    control_->FailNext(D3DFailPoint::CreateTexture, 1);
    TComRef<IDirect3DTexture8> texture;
    EXPECT_NE(device_->CreateTexture(4, 4, 1, 0, D3DFMT_A1R5G5B5, D3DPOOL_MANAGED, texture.ReleaseAndGetAddressOf()), D3D_OK);
    EXPECT_FALSE(texture);
    ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_A1R5G5B5, D3DPOOL_MANAGED, texture.ReleaseAndGetAddressOf()), D3D_OK);
    control_->FailNext(D3DFailPoint::LockTexture, 1);
    D3DLOCKED_RECT locked{};
    EXPECT_NE(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(locked.pBits, nullptr);
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);

    control_->FailNext(D3DFailPoint::GetAdapterDisplayMode, 1);
    D3DDISPLAYMODE mode{};
    EXPECT_NE(d3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), D3D_OK);

    control_->FailNext(D3DFailPoint::CreateDevice, 1);
    D3DPRESENT_PARAMETERS p = WindowedParameters(target_->Handle());
    TComRef<IDirect3DDevice8> second;
    EXPECT_NE(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, target_->Handle(), 0, &p,
                                 second.ReleaseAndGetAddressOf()),
              D3D_OK);
    EXPECT_FALSE(second);
    EXPECT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, target_->Handle(), 0, &p,
                                 second.ReleaseAndGetAddressOf()),
              D3D_OK);

    control_->FailNext(D3DFailPoint::LockVertexBuffer, 1);
    BYTE* data = nullptr;
    EXPECT_NE(buffer->Lock(0, 0, &data, D3DLOCK_DISCARD), D3D_OK);
    EXPECT_EQ(data, nullptr);
    control_->ClearFailures();
    EXPECT_EQ(buffer->Lock(0, 0, &data, D3DLOCK_DISCARD), D3D_OK);
    buffer->Unlock();
}

}  // namespace
