// Frames per second of the demo's frame on the software device: the 32 x 32
// square seen from the start camera on a 577 x 449 panel, bump mapped with
// two 256 x 256 A1R5G5B5 textures under linear filtering; each iteration
// presents, clears, draws and ends one frame as the engine does.
#include <ComRef.h>
#include <Windows.h>
#include <benchmark/benchmark.h>
#include <d3d8.h>
#include <d3dx8.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct SceneVertex {
    float x, y, z;
    uint32_t diffuse, specular;
    float u0, v0, u1, v1, u2, v2;
};
static_assert(sizeof(SceneVertex) == 44);
constexpr DWORD kSceneFormat = 0x3C2;
constexpr int kWidth = 577, kHeight = 449;

// A colourful base texture and a bumpy normal map, both 1-5-5-5 opaque.
TComRef<IDirect3DTexture8> MakeTexture(IDirect3DDevice8* device, bool normals) {
    TComRef<IDirect3DTexture8> texture;
    if (device->CreateTexture(256, 256, 1, 0, D3DFMT_A1R5G5B5, D3DPOOL_MANAGED,
                              texture.ReleaseAndGetAddressOf()) != D3D_OK)
        return texture;
    D3DLOCKED_RECT locked{};
    texture->LockRect(0, &locked, nullptr, 0);
    for (int y = 0; y < 256; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch);
        for (int x = 0; x < 256; ++x) {
            uint32_t r, g, b;
            if (normals) {
                const double nx = 0.4 * std::sin(x * 0.2), ny = 0.4 * std::cos(y * 0.15);
                const double nz = std::sqrt(1.0 - nx * nx - ny * ny);
                r = static_cast<uint32_t>((nx * 0.5 + 0.5) * 31);
                g = static_cast<uint32_t>((ny * 0.5 + 0.5) * 31);
                b = static_cast<uint32_t>((nz * 0.5 + 0.5) * 31);
            } else {
                r = x >> 3, g = y >> 3, b = (x ^ y) >> 3;
            }
            row[x] = static_cast<uint16_t>(0x8000 | r << 10 | g << 5 | b);
        }
    }
    texture->UnlockRect(0);
    return texture;
}

void BM_DemoFrame(benchmark::State& state) {
    HMODULE module = LoadLibraryA("d3d8.dll");
    auto create = module ? reinterpret_cast<Direct3DCreate8Proc>(GetProcAddress(module, "Direct3DCreate8")) : nullptr;
    if (create == nullptr) {
        state.SkipWithError("d3d8.dll (libd3d8.so) not found");
        return;
    }
    TMemoryTarget panel(kWidth, kHeight);
    {
        TComRef<IDirect3D8> d3d;
        d3d.Attach(create(D3D_SDK_VERSION));
        D3DDISPLAYMODE mode{};
        d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
        D3DPRESENT_PARAMETERS p{};
        p.BackBufferFormat = mode.Format;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.hDeviceWindow = panel.Handle();
        p.Windowed = TRUE;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D16;
        TComRef<IDirect3DDevice8> device;
        if (d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, panel.Handle(),
                              D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, device.ReleaseAndGetAddressOf()) != D3D_OK) {
            state.SkipWithError("CreateDevice failed");
            return;
        }
        // The engine's default states.
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        for (DWORD stage = 0; stage < 4; ++stage) {
            device->SetTextureStageState(stage, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
            device->SetTextureStageState(stage, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
        }
        device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR);
        device->SetRenderState(D3DRS_FOGENABLE, FALSE);

        auto base = MakeTexture(device.get(), false);
        auto normals = MakeTexture(device.get(), true);
        TComRef<IDirect3DVertexBuffer8> buffer;
        device->CreateVertexBuffer((2 + 1000) * 3 * sizeof(SceneVertex), D3DUSAGE_WRITEONLY, kSceneFormat,
                                   D3DPOOL_MANAGED, buffer.ReleaseAndGetAddressOf());

        // The square, as AddQuad stores it: triangles (0, 2, 3) and (0, 1, 2).
        const uint32_t light = 0xFF8080C0;
        const SceneVertex c0{-16, 16, 0, 0xFFFFFFFF, light, 0, 0, 0, 0, 0, 0};
        const SceneVertex c1{16, 16, 0, 0xFFFFFFFF, light, 1, 0, 1, 0, 1, 0};
        const SceneVertex c2{16, -16, 0, 0xFFFFFFFF, light, 1, 1, 1, 1, 1, 1};
        const SceneVertex c3{-16, -16, 0, 0xFFFFFFFF, light, 0, 1, 0, 1, 0, 1};
        const SceneVertex triangles[6] = {c0, c2, c3, c0, c1, c2};

        D3DXMATRIX view, projection, world;
        const D3DXVECTOR3 eye{0, 0, -48}, at{0, 0, 0}, up{0, 1, 0};
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, 0.785398f, static_cast<float>(kWidth) / kHeight, 0.1f, 4224.0f);
        D3DXMatrixScaling(&world, 1, 1, 1);

        for (auto _ : state) {
            device->Present(nullptr, nullptr, nullptr, nullptr);
            TComRef<IDirect3DSurface8> back, depth;
            device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.ReleaseAndGetAddressOf());
            device->GetDepthStencilSurface(depth.ReleaseAndGetAddressOf());
            device->SetRenderTarget(back.get(), depth.get());
            back.Clear();
            depth.Clear();
            device->SetTransform(D3DTS_VIEW, &view);
            device->SetTransform(D3DTS_PROJECTION, &projection);
            device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
            device->BeginScene();
            device->SetTransform(D3DTS_WORLD, &world);
            BYTE* data = nullptr;
            if (buffer->Lock(0, sizeof triangles, &data, D3DLOCK_DISCARD) == D3D_OK) {
                std::memcpy(data, triangles, sizeof triangles);
                buffer->Unlock();
            }
            device->SetStreamSource(0, buffer.get(), sizeof(SceneVertex));
            device->SetVertexShader(kSceneFormat);
            device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
            for (DWORD stage = 0; stage < 2; ++stage) {
                device->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
                device->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            }
            device->SetRenderState(D3DRS_ALPHAREF, 0);
            device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
            device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
            device->SetTexture(0, normals.get());
            device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1);
            device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DOTPRODUCT3);
            device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_SPECULAR);
            device->SetTexture(1, base.get());
            device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
            device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
            device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
            device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
            device->SetTextureStageState(1, D3DTSS_COLORARG0, D3DTA_CURRENT);
            device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2);
            device->EndScene();
        }
        device->SetTexture(0, nullptr);
        device->SetTexture(1, nullptr);
        device->SetStreamSource(0, nullptr, 0);
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    FreeLibrary(module);
}
BENCHMARK(BM_DemoFrame)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
