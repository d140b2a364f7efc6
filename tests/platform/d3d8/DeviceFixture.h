// Loads the device module the way the engine does and gives each test a
// device on an in-memory presentation target.
#pragma once

#include <ComRef.h>
#include <Windows.h>
#include <d3d8.h>
#include <d3d8test.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

// Screen-space vertex: D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1.
struct TLVertex {
    float x, y, z, rhw;
    uint32_t diffuse, specular;
    float u, v;
};
constexpr DWORD kTLVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1;
static_assert(sizeof(TLVertex) == 32);

// The engine's vertex: D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX3.
struct SceneVertex {
    float x, y, z;
    uint32_t diffuse, specular;
    float u0, v0, u1, v1, u2, v2;
};
constexpr DWORD kSceneVertexFormat = 0x3C2;
static_assert(sizeof(SceneVertex) == 44);

class DeviceModule {
public:
    DeviceModule() : module_(LoadLibraryA("d3d8.dll")) {}
    ~DeviceModule() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    bool Loaded() const { return module_ != nullptr; }
    Direct3DCreate8Proc Create() const {
        return reinterpret_cast<Direct3DCreate8Proc>(GetProcAddress(module_, "Direct3DCreate8"));
    }
    ID3D8SoftControl* Control() const {
        auto entry = reinterpret_cast<D3D8SoftControlProc>(GetProcAddress(module_, D3D8SoftControlName));
        return entry != nullptr ? entry() : nullptr;
    }

private:
    HMODULE module_;
};

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module_.Loaded());
        control_ = module_.Control();
        ASSERT_NE(control_, nullptr);
        control_->ClearFailures();
        control_->StopCallLog();
        control_->ClearCallLog();
        control_->ForcePlainPixelPipeline(false);
        liveBefore_ = control_->LiveObjects();
        d3d_.Attach(module_.Create()(D3D_SDK_VERSION));
        ASSERT_TRUE(d3d_);
    }

    void TearDown() override {
        device_.Clear();
        d3d_.Clear();
        if (control_ != nullptr) {
            control_->ClearFailures();
            control_->StopCallLog();
            EXPECT_EQ(control_->LiveObjects(), liveBefore_) << "objects leaked";
        }
    }

    D3DPRESENT_PARAMETERS WindowedParameters(HWND window, bool depth = true) const {
        D3DPRESENT_PARAMETERS p{};
        p.BackBufferFormat = D3DFMT_X8R8G8B8;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.hDeviceWindow = window;
        p.Windowed = TRUE;
        p.EnableAutoDepthStencil = depth ? TRUE : FALSE;
        p.AutoDepthStencilFormat = depth ? D3DFMT_D16 : D3DFMT_UNKNOWN;
        return p;
    }

    // A device on a fresh target of the given client size, lighting off and
    // culling off, cleared to black with depth 1.
    void MakeDevice(int width, int height, bool depth = true) {
        target_ = std::make_unique<TMemoryTarget>(width, height);
        D3DPRESENT_PARAMETERS p = WindowedParameters(target_->Handle(), depth);
        ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, target_->Handle(),
                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                                     device_.ReleaseAndGetAddressOf()),
                  D3D_OK);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | (depth ? D3DCLEAR_ZBUFFER : 0), 0, 1.0f, 0);
    }

    // Stage 0 passes the vertex colour through.
    void UseDiffuseOnly() {
        device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    }

    HRESULT DrawTL(const std::vector<TLVertex>& vertices) {
        device_->SetVertexShader(kTLVertexFormat);
        device_->BeginScene();
        const HRESULT result = device_->DrawPrimitiveUP(
            D3DPT_TRIANGLELIST, static_cast<UINT>(vertices.size() / 3), vertices.data(), sizeof(TLVertex));
        device_->EndScene();
        return result;
    }

    // A screen-aligned rectangle of one colour from (x0, y0) to (x1, y1),
    // texture coordinates 0..1 across it.
    static std::vector<TLVertex> Rect(float x0, float y0, float x1, float y1, uint32_t color,
                                      float z = 0.5f, uint32_t specular = 0) {
        const TLVertex a{x0, y0, z, 1, color, specular, 0, 0}, b{x1, y0, z, 1, color, specular, 1, 0};
        const TLVertex c{x1, y1, z, 1, color, specular, 1, 1}, d{x0, y1, z, 1, color, specular, 0, 1};
        return {a, b, c, a, c, d};
    }

    // The back buffer pixel (x, y) as 0xAARRGGBB.
    uint32_t Pixel(int x, int y) {
        TComRef<IDirect3DSurface8> surface;
        EXPECT_EQ(device_->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, surface.ReleaseAndGetAddressOf()), D3D_OK);
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        const uint32_t value = reinterpret_cast<const uint32_t*>(
            static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch)[x];
        surface->UnlockRect();
        return value;
    }
    uint32_t Rgb(int x, int y) { return Pixel(x, y) & 0x00FFFFFFu; }

    // A texture of the format whose level 0 holds the given texels
    // (16-bit formats take the low half of each value).
    TComRef<IDirect3DTexture8> MakeTexture(int width, int height, D3DFORMAT format,
                                           const std::vector<uint32_t>& texels) {
        TComRef<IDirect3DTexture8> texture;
        EXPECT_EQ(device_->CreateTexture(width, height, 1, 0, format, D3DPOOL_MANAGED,
                                         texture.ReleaseAndGetAddressOf()),
                  D3D_OK);
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < height; ++y) {
            auto* row = static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch;
            for (int x = 0; x < width; ++x) {
                const uint32_t t = texels[y * width + x];
                if (format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8)
                    reinterpret_cast<uint32_t*>(row)[x] = t;
                else
                    reinterpret_cast<uint16_t*>(row)[x] = static_cast<uint16_t>(t);
            }
        }
        EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
        return texture;
    }

    DeviceModule module_;
    ID3D8SoftControl* control_ = nullptr;
    int liveBefore_ = 0;
    TComRef<IDirect3D8> d3d_;
    std::unique_ptr<TMemoryTarget> target_;
    TComRef<IDirect3DDevice8> device_;
};
