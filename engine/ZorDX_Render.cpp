#include "ZorDX_Render.h"

#include <System.h>
#include <TextureBuffer.h>
#include <Windows.h>
#include <d3dx8.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

TComRef<IDirect3D8> Direct3D;
TComRef<IDirect3DDevice8> Device;
Td3dTexture_buffer* TextureBuffer = nullptr;
tviewport_registry ViewportRegistry;
float FarPlane = 1000.0f;
int32_t VertexStride = 44;
int32_t OverlayVertexStride = 28;
tfog_color FogColor = {0, 0, 0};
float FogStart = 540.0f;
float FogEnd = 640.0f;
float FogOffset = 0.0f;
bool FogEnabled = false;

namespace {

HMODULE Direct3DLibrary = nullptr;
Direct3DCreate8Proc Direct3DCreate8Entry = nullptr;

// A device that stays lost makes every present fail; a frame gives up after
// this many restores and the next idle turn tries again.
constexpr int MaxRestoresPerFrame = 3;

// Just below a quarter of pi, as the single with this bit pattern.
const float FieldOfView = std::bit_cast<float>(0x3F490FDAu);
constexpr float NearPlane = 0.1f;

constexpr uint32_t SpareTriangles = 1000;
constexpr uint32_t SpareOverlayTriangles = 250;

D3DXMATRIX ToD3DX(const tmatrix& m) { return std::bit_cast<D3DXMATRIX>(m); }
tmatrix FromD3DX(const D3DXMATRIX& m) { return std::bit_cast<tmatrix>(m); }
D3DXVECTOR3 ToD3DX(const tvector& v) { return std::bit_cast<D3DXVECTOR3>(v); }

void SetState(D3DRENDERSTATETYPE state, DWORD value) { Device->SetRenderState(state, value); }

void SetStage(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    Device->SetTextureStageState(stage, type, value);
}

// Binds the texture filed under id, or unbinds the stage when there is none.
void BindTexture(DWORD stage, uint16_t id) {
    TComRef<IDirect3DTexture8> texture;
    if (TextureBuffer != nullptr) {
        TextureBuffer->SelectTexture(id);
        TextureBuffer->GetCurrentTexture(texture);
    }
    Device->SetTexture(stage, texture.get());
}

bool FillPresentParameters(D3DPRESENT_PARAMETERS& parameters, HWND window, uint8_t fullscreen,
                           int32_t width, int32_t height, int32_t bits, int32_t backBufferCount,
                           bool depthBuffer) {
    parameters = {};
    parameters.Windowed = fullscreen == 1 ? FALSE : TRUE;
    parameters.hDeviceWindow = window;
    parameters.EnableAutoDepthStencil = depthBuffer ? TRUE : FALSE;
    parameters.AutoDepthStencilFormat = depthBuffer ? D3DFMT_D16 : D3DFMT_UNKNOWN;
    if (fullscreen == 1) {
        parameters.BackBufferWidth = static_cast<UINT>(width);
        parameters.BackBufferHeight = static_cast<UINT>(height);
        parameters.BackBufferCount = static_cast<UINT>(backBufferCount);
        switch (bits) {
            case 16: parameters.BackBufferFormat = D3DFMT_R5G6B5; break;
            case 24: parameters.BackBufferFormat = D3DFMT_X8R8G8B8; break;
            case 32: parameters.BackBufferFormat = D3DFMT_A8R8G8B8; break;
            default: return false;
        }
    } else {
        // A windowed back buffer of size 0 x 0 takes the window's client
        // size, in the desktop's format.
        D3DDISPLAYMODE mode = {};
        if (!Direct3D || FAILED(Direct3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode)))
            return false;
        parameters.BackBufferFormat = mode.Format;
    }
    parameters.MultiSampleType = D3DMULTISAMPLE_NONE;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    return true;
}

// Replaces swapChain with a new additional swap chain; a failure leaves it
// empty (the caller ignores the result).
void CreateSwapChain(D3DPRESENT_PARAMETERS& parameters, TComRef<IDirect3DSwapChain8>& swapChain) {
    IDirect3DSwapChain8* created = nullptr;
    if (SUCCEEDED(Device->CreateAdditionalSwapChain(&parameters, &created)))
        swapChain.Attach(created);
}

// Makes a managed vertex buffer of triangles x 3 vertices; false when the
// size does not fit the device's 32-bit length or the device refuses.
bool CreateVertexBuffer(uint64_t triangles, int32_t stride, DWORD format,
                        TComRef<IDirect3DVertexBuffer8>& buffer) {
    const uint64_t length = triangles * static_cast<uint64_t>(std::max(stride, 0)) * 3;
    if (length > UINT32_MAX) return false;
    IDirect3DVertexBuffer8* created = nullptr;
    if (FAILED(Device->CreateVertexBuffer(static_cast<UINT>(length), D3DUSAGE_WRITEONLY, format,
                                          D3DPOOL_MANAGED, &created)) ||
        created == nullptr)
        return false;
    buffer.Attach(created);
    return true;
}

// Copies data into the locked range, never more than either side holds. A
// failed lock leaves the buffer's old contents.
void FillVertexBuffer(IDirect3DVertexBuffer8* buffer, uint64_t lockBytes, const void* data,
                      uint64_t dataBytes) {
    BYTE* target = nullptr;
    if (FAILED(buffer->Lock(0, static_cast<UINT>(lockBytes), &target, D3DLOCK_DISCARD))) return;
    if (target != nullptr) std::memcpy(target, data, std::min(lockBytes, dataBytes));
    buffer->Unlock();
}

bool SameRun(const ttriangle_record& a, const ttriangle_record& b) {
    return a.BlendMode == b.BlendMode && a.BumpMap == b.BumpMap && a.Layers == b.Layers &&
           a.Texture0 == b.Texture0 && a.Texture1 == b.Texture1 && a.Texture2 == b.Texture2;
}

}  // namespace

// ---- Camera ---------------------------------------------------------------

void TGLCamera::UpdateView() {
    Eye = Position;
    LookAt = Target;
    // The horizontal part points back along the view and the vertical part
    // is positive, so the camera's x axis stays horizontal: no roll.
    const float vertical = UpScale * static_cast<float>(std::sin(std::numbers::pi / 2)) + Eye.y;
    Up = MakeVector(Eye.x - LookAt.x, std::fabs(vertical), Eye.z - LookAt.z);
    VectorSub(Target, Position, Direction);
    VectorNormalize(Direction);

    D3DXMATRIX view = ToD3DX(IdentityMatrix);
    const D3DXVECTOR3 eye = ToD3DX(Eye), at = ToD3DX(LookAt), up = ToD3DX(Up);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    View = FromD3DX(view);
    if (Device) Device->SetTransform(D3DTS_VIEW, &view);
}

// ---- Start and end steps --------------------------------------------------

void Direct3D8Initialization() {
    Direct3DLibrary = LoadLibraryA("d3d8.dll");
    Direct3DCreate8Entry = Direct3DLibrary != nullptr
                               ? reinterpret_cast<Direct3DCreate8Proc>(
                                     GetProcAddress(Direct3DLibrary, "Direct3DCreate8"))
                               : nullptr;
}

void Direct3D8Finalization() {
    Direct3DCreate8Entry = nullptr;
    if (Direct3DLibrary != nullptr) FreeLibrary(Direct3DLibrary);
    Direct3DLibrary = nullptr;
}

void ZorDX_RenderInitialization() {
    Direct3D = nullptr;
    Device = nullptr;
    ViewportRegistry = {};
    FarPlane = 1000.0f;
    VertexStride = 44;
    OverlayVertexStride = 28;
    FogColor = {0, 0, 0};
    FogStart = 540.0f;
    FogEnd = 640.0f;
    FogOffset = 0.0f;
    FogEnabled = false;
    TextureBuffer = new Td3dTexture_buffer([] { return Device.get(); });
}

void ZorDX_RenderFinalization() {
    // The textures go before the device that made them.
    delete TextureBuffer;
    TextureBuffer = nullptr;
    ReleaseDirect3D();
}

// ---- Device set-up --------------------------------------------------------

bool StartDirect3D() {
    if (Direct3DCreate8Entry != nullptr) Direct3D.Attach(Direct3DCreate8Entry(D3D_SDK_VERSION));
    return Direct3D != nullptr;
}

bool CreateDeviceForWindow(TComRef<IDirect3DSwapChain8>& SwapChain, HWND Window, uint8_t Fullscreen,
                           int32_t Width, int32_t Height, int32_t Bits, int32_t BackBufferCount,
                           bool Hardware, bool DepthBuffer) {
    D3DPRESENT_PARAMETERS parameters;
    if (!FillPresentParameters(parameters, Window, Fullscreen, Width, Height, Bits, BackBufferCount,
                               DepthBuffer))
        return false;
    if (!Device) {
        // The first viewport presents through the device itself.
        SwapChain = nullptr;
        Device = nullptr;
        IDirect3DDevice8* created = nullptr;
        if (FAILED(Direct3D->CreateDevice(
                D3DADAPTER_DEFAULT, Hardware ? D3DDEVTYPE_HAL : D3DDEVTYPE_REF, Window,
                D3DCREATE_SOFTWARE_VERTEXPROCESSING, &parameters, &created)) ||
            created == nullptr)
            return false;
        Device.Attach(created);
    } else {
        SwapChain = nullptr;
        CreateSwapChain(parameters, SwapChain);
    }
    return true;
}

bool ResetDeviceForWindow(TComRef<IDirect3DSwapChain8>& SwapChain, HWND Window, uint8_t Fullscreen,
                          int32_t Width, int32_t Height, int32_t Bits, int32_t BackBufferCount,
                          bool /*Hardware*/, bool DepthBuffer, int32_t Position) {
    D3DPRESENT_PARAMETERS parameters;
    if (!Device || !FillPresentParameters(parameters, Window, Fullscreen, Width, Height, Bits,
                                          BackBufferCount, DepthBuffer))
        return false;
    SwapChain = nullptr;
    if (Position == 1)
        Device->Reset(&parameters);
    else
        CreateSwapChain(parameters, SwapChain);
    return true;
}

void RestoreAllViewports() {
    const int32_t count = ViewportRegistry.Count;
    for (int32_t i = 0; i < count; ++i) {
        TGLViewport& viewport = *ViewportRegistry.Viewports[i];
        viewport.VertexBuffer = nullptr;
        viewport.OverlayVertexBuffer = nullptr;
        viewport.SwapChain = nullptr;
    }
    for (int32_t position = count; position >= 1; --position) {
        TGLViewport& viewport = *ViewportRegistry.Viewports[position - 1];
        const auto reset = [&](bool hardware) {
            return ResetDeviceForWindow(viewport.SwapChain, viewport.Handle, viewport.Fullscreen,
                                        640, 480, 16, 1, hardware, true, position);
        };
        if (!reset(true)) {
            MessageBoxA(nullptr, "Hardware Mode no availible...Trying software mode", "Warning.",
                        MB_OK | MB_ICONWARNING);
            if (!reset(false)) {
                MessageBoxA(nullptr, "Error trying to setup Direct3d", "Error",
                            MB_OK | MB_ICONERROR);
                ReleaseDirect3D();
                Halt(1);
            }
        }
        Device->GetDeviceCaps(&viewport.Caps);
        viewport.VertexCapacity = 0;
        viewport.OverlayCapacity = 0;
    }
    if (count >= 1) SetDefaultStates(ViewportRegistry.Viewports[0]->ZBufferEnabled);
}

void SetDefaultStates(uint8_t ZEnable) {
    SetState(D3DRS_LIGHTING, FALSE);
    SetState(D3DRS_ZENABLE, ZEnable);
    SetState(D3DRS_CULLMODE, D3DCULL_CCW);
    SetStage(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    SetStage(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    SetStage(0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR);
    for (DWORD stage = 1; stage <= 3; ++stage) {
        SetStage(stage, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
        SetStage(stage, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    }
    SetFogStates();
}

void SetFogStates() {
    if (!FogEnabled) {
        SetState(D3DRS_FOGENABLE, FALSE);
        return;
    }
    SetState(D3DRS_FOGCOLOR, static_cast<DWORD>(FogColor.Red) << 16 |
                                 static_cast<DWORD>(FogColor.Green) << 8 | FogColor.Blue);
    SetState(D3DRS_FOGENABLE, TRUE);
    SetState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
    SetState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    SetState(D3DRS_RANGEFOGENABLE, FALSE);
    SetState(D3DRS_FOGSTART, FloatToDWord(FogStart + FogOffset));
    SetState(D3DRS_FOGEND, FloatToDWord(FogEnd + FogOffset));
}

void ReleaseDirect3D() {
    Device = nullptr;
    Direct3D = nullptr;
}

uint32_t PackColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    return r | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b) << 16 |
           static_cast<uint32_t>(a) << 24;
}

uint32_t ColorToD3D(uint32_t color) {
    const uint32_t red = color & 0xFF, green = (color >> 8) & 0xFF, blue = (color >> 16) & 0xFF;
    return 0xFF000000u | red << 16 | green << 8 | blue;
}

// ---- Viewport: creation and the frame -------------------------------------

TGLViewport::TGLViewport() {
    if (ViewportRegistry.Count < static_cast<int32_t>(ViewportRegistry.Viewports.size()))
        ViewportRegistry.Viewports[ViewportRegistry.Count++] = this;
}

TGLViewport::~TGLViewport() {
    auto& slots = ViewportRegistry.Viewports;
    const auto end = slots.begin() + ViewportRegistry.Count;
    const auto found = std::find(slots.begin(), end, this);
    if (found == end) return;
    std::copy(found + 1, end, found);
    slots[--ViewportRegistry.Count] = nullptr;
}

void TGLViewport::AttachToWindow(HWND window, int32_t width, int32_t height, uint8_t fullscreen) {
    Handle = window;
    Width = width;
    Height = height;
    Fullscreen = fullscreen;
    // 640 x 480 x 16 matter only for full-screen presentation; a windowed
    // back buffer takes the window's client size.
    if (!CreateDeviceForWindow(SwapChain, Handle, Fullscreen, 640, 480, 16, 1, true, true)) {
        MessageBoxA(nullptr, "Error trying to Create DX Viewport!", "Error", MB_OK | MB_ICONERROR);
        ReleaseDirect3D();
        Halt(1);
    }
    SetDefaultStates(ZBufferEnabled);
    Device->GetDeviceCaps(&Caps);
}

void TGLViewport::RenderFrame() {
    SceneBuilt = false;
    DrawFrame();
}

void TGLViewport::DrawFrame() {
    if (!Device) return;
    // A repeated attempt after a restore keeps SceneBuilt, so the scene is
    // not submitted twice.
    for (int restores = 0; !PresentPrevious(); ++restores) {
        if (restores == MaxRestoresPerFrame) return;
        RestoreAllViewports();
    }

    const uint32_t now = static_cast<uint32_t>(ElapsedMilliseconds());
    if (FramesInWindow == 0) FpsWindowStart = now;
    ElapsedInWindow = now - FpsWindowStart;

    SetRenderTargets();
    if (Camera != nullptr) Camera->UpdateView();
    BuildProjection();
    ExtractFrustum(Camera != nullptr ? Camera->View : IdentityMatrix, Projection, Frustum);
    if (!SceneBuilt) {
        if (SceneCallback) SceneCallback();
        PrepareBatches();
        SceneBuilt = true;
    }
    Device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, ColorToD3D(BackgroundColor), 1.0f,
                  0);
    Device->BeginScene();
    BuildWorld();
    if (!DrawTriangleRuns()) return;
    CountFrame();
    DrawOverlay();
    Device->EndScene();
}

bool TGLViewport::PresentPrevious() {
    const HRESULT result = SwapChain ? SwapChain->Present(nullptr, nullptr, nullptr, nullptr)
                                     : Device->Present(nullptr, nullptr, nullptr, nullptr);
    return result == D3D_OK;
}

void TGLViewport::SetRenderTargets() {
    TComRef<IDirect3DSurface8> backBuffer, depth;
    if (SwapChain)
        SwapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, backBuffer.ReleaseAndGetAddressOf());
    else
        Device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, backBuffer.ReleaseAndGetAddressOf());
    Device->GetDepthStencilSurface(depth.ReleaseAndGetAddressOf());
    Device->SetRenderTarget(backBuffer.get(), depth.get());
}

void TGLViewport::BuildProjection() {
    // An unattached viewport has no size; a square aspect keeps the matrix
    // finite.
    const float aspect =
        Height != 0 ? static_cast<float>(Width) / static_cast<float>(Height) : 1.0f;
    D3DXMATRIX projection = ToD3DX(IdentityMatrix);
    D3DXMatrixPerspectiveFovLH(&projection, FieldOfView, aspect, NearPlane, FarPlane);
    Projection = FromD3DX(projection);
    Device->SetTransform(D3DTS_PROJECTION, &projection);
}

void TGLViewport::BuildWorld() {
    D3DXMATRIX world, rotationY, rotationX, rotationZ, rotation;
    D3DXMatrixScaling(&world, static_cast<float>(Scale.x), static_cast<float>(Scale.y),
                      static_cast<float>(Scale.z));
    D3DXMatrixRotationY(&rotationY, static_cast<float>(Rotation.y));
    D3DXMatrixRotationX(&rotationX, static_cast<float>(Rotation.x));
    D3DXMatrixRotationZ(&rotationZ, static_cast<float>(Rotation.z));
    D3DXMatrixMultiply(&rotation, &rotationY, &rotationX);
    D3DXMatrixMultiply(&rotation, &rotation, &rotationZ);
    D3DXMatrixMultiply(&world, &rotation, &world);
    World = FromD3DX(world);
    Device->SetTransform(D3DTS_WORLD, &world);
}

// ---- Viewport: runs and overlay -------------------------------------------

bool TGLViewport::DrawTriangleRuns() {
    const int32_t n = Triangles.Count;
    if (n > 0 && (VertexCapacity < n || VertexCapacity == 0)) {
        // The capacity goes with the buffer, so a failed creation makes the
        // next frame try again instead of drawing from no buffer.
        VertexBuffer = nullptr;
        VertexCapacity = 0;
        const uint64_t capacity = static_cast<uint64_t>(n) + SpareTriangles;
        if (capacity > INT32_MAX ||
            !CreateVertexBuffer(capacity, VertexStride, VertexFormat3D, VertexBuffer)) {
            ShowMessage("failing trying to build a dx8 vertex buffer!!!!");
            return false;
        }
        VertexCapacity = static_cast<int32_t>(capacity);
    }
    if (n > 0 && VertexBuffer)
        FillVertexBuffer(
            VertexBuffer.get(), static_cast<uint64_t>(n) * static_cast<uint64_t>(VertexStride) * 3,
            Triangles.Vertices.data(), static_cast<uint64_t>(n) * sizeof(tvertex_triple));
    Device->SetStreamSource(0, VertexBuffer.get(), static_cast<UINT>(VertexStride));
    Device->SetVertexShader(VertexFormat3D);
    SetState(D3DRS_FILLMODE, D3DFILL_SOLID);

    uint32_t start = 0;
    for (int32_t i = 0; i < n;) {
        const ttriangle_record& run = Triangles.Records[i];
        // Triangles added after the batches were prepared carry no run
        // length; drawing them one by one keeps the loop finite.
        const int32_t length = std::clamp(run.RunLength, 1, n - i);
        DrawRun(run, start, static_cast<uint32_t>(length));
        start += 3 * static_cast<uint32_t>(length);
        i += length;
    }
    return true;
}

void TGLViewport::DrawRun(const ttriangle_record& run, uint32_t startVertex, uint32_t length) {
    const bool bump = run.BumpMap != 0;
    const bool twoStages = run.Layers > 1 || bump;

    SetStage(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    SetStage(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    SetStage(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    SetStage(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);

    switch (run.BlendMode & 63) {
        case 0:
            SetState(D3DRS_ALPHAREF, 0);
            SetState(D3DRS_ALPHATESTENABLE, FALSE);
            SetState(D3DRS_ALPHABLENDENABLE, FALSE);
            break;
        case 1: {
            SetState(D3DRS_ALPHABLENDENABLE, FALSE);
            SetState(D3DRS_ALPHAREF, 1);
            SetState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
            SetState(D3DRS_ALPHATESTENABLE, TRUE);
            SetState(D3DRS_SRCBLEND, D3DBLEND_ONE);
            SetState(D3DRS_DESTBLEND, D3DBLEND_ONE);
            // The alpha key comes from the base texture, whichever stage it is on.
            const DWORD stage = twoStages ? 1 : 0;
            SetStage(stage, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
            SetStage(stage, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
            break;
        }
        case 2:
        case 10:
            SetState(D3DRS_ALPHAREF, 0);
            SetState(D3DRS_ALPHATESTENABLE, FALSE);
            SetState(D3DRS_ALPHABLENDENABLE, TRUE);
            SetState(D3DRS_SRCBLEND, D3DBLEND_ONE);
            SetState(D3DRS_DESTBLEND, D3DBLEND_ONE);
            break;
        case 11:
            SetState(D3DRS_ALPHAREF, 0);
            SetState(D3DRS_ALPHATESTENABLE, FALSE);
            SetState(D3DRS_ALPHABLENDENABLE, TRUE);
            SetState(D3DRS_SRCBLEND, D3DBLEND_INVSRCCOLOR);
            SetState(D3DRS_DESTBLEND, D3DBLEND_INVSRCCOLOR);
            break;
        default:  // the blending of the previous run stays
            break;
    }

    if (bump) {
        BindTexture(0, run.Texture1);
        SetStage(0, D3DTSS_TEXCOORDINDEX, 1);
        SetStage(0, D3DTSS_COLOROP, D3DTOP_DOTPRODUCT3);
        SetStage(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        SetStage(0, D3DTSS_COLORARG2, D3DTA_SPECULAR);
    }
    if (run.Layers > 1 && !bump) {
        BindTexture(0, run.Texture2);
        SetStage(0, D3DTSS_TEXCOORDINDEX, 2);
        SetStage(0, D3DTSS_COLOROP, D3DTOP_ADD);
        SetStage(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        SetStage(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    }
    if (twoStages) {
        BindTexture(1, run.Texture0);
        SetStage(1, D3DTSS_TEXCOORDINDEX, 0);
        SetStage(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
        SetStage(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
        SetStage(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
        SetStage(1, D3DTSS_COLORARG0, D3DTA_CURRENT);
    }
    if (run.Layers == 1 && !bump) {
        BindTexture(0, run.Texture0);
        SetStage(0, D3DTSS_TEXCOORDINDEX, 0);
        SetStage(0, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
        SetStage(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        SetStage(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    }
    if (run.Layers == 0 && !bump) {
        BindTexture(0, run.Texture0);
        SetStage(0, D3DTSS_TEXCOORDINDEX, 0);
        SetStage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        SetStage(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    }
    Device->DrawPrimitive(D3DPT_TRIANGLELIST, startVertex, length);

    if (run.Layers > 0 && bump) {
        // Second pass: multiply the lit base by the vertex colour (and the
        // third layer), 2 x source x destination.
        SetState(D3DRS_SRCBLEND, D3DBLEND_DESTCOLOR);
        SetState(D3DRS_DESTBLEND, D3DBLEND_SRCCOLOR);
        SetStage(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        SetStage(2, D3DTSS_COLOROP, D3DTOP_DISABLE);
        BindTexture(0, run.Texture2);
        SetStage(0, D3DTSS_TEXCOORDINDEX, 2);
        SetStage(0, D3DTSS_COLOROP, run.Layers == 1 ? D3DTOP_SELECTARG1 : D3DTOP_ADD);
        SetStage(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        SetStage(0, D3DTSS_COLORARG2, D3DTA_TEXTURE);
        SetState(D3DRS_ALPHABLENDENABLE, TRUE);
        Device->DrawPrimitive(D3DPT_TRIANGLELIST, startVertex, length);
    }
}

void TGLViewport::CountFrame() {
    ++FramesInWindow;
    const uint32_t now = static_cast<uint32_t>(ElapsedMilliseconds());
    LastFrameTime = now;
    if (now - FpsWindowStart >= 1000) {
        FramesPerSecond = (FramesPerSecond + FramesInWindow) / 2;
        FramesInWindow = 0;
    }
}

void TGLViewport::DrawOverlay() {
    if (OverlayCallback) OverlayCallback();
    const int32_t m = OverlayTriangleCount;
    if (m > 0 && (OverlayCapacity < m || OverlayCapacity == 0)) {
        OverlayVertexBuffer = nullptr;
        OverlayCapacity = 0;
        const uint64_t capacity = static_cast<uint64_t>(m) + SpareOverlayTriangles;
        if (capacity > INT32_MAX || !CreateVertexBuffer(capacity, OverlayVertexStride,
                                                        VertexFormat2D, OverlayVertexBuffer)) {
            ShowMessage("failing trying to build a dx8 vertex buffer for 2d stuff!!!!");
            return;
        }
        OverlayCapacity = static_cast<int32_t>(capacity);
    }
    if (m > 0 && OverlayVertexBuffer)
        FillVertexBuffer(OverlayVertexBuffer.get(),
                         static_cast<uint64_t>(m) * sizeof(tvertex_2d) * 3, OverlayVertices.data(),
                         OverlayVertices.size() * sizeof(tvertex_2d));
    Device->SetStreamSource(0, OverlayVertexBuffer.get(), static_cast<UINT>(OverlayVertexStride));
    Device->SetVertexShader(VertexFormat2D);
    SetState(D3DRS_FILLMODE, D3DFILL_SOLID);
    SetState(D3DRS_FOGENABLE, FALSE);

    const auto groups = std::min<size_t>(std::max(OverlayGroupCount, 0), OverlayGroups.size());
    uint32_t start = 0;
    for (size_t g = 0; g < groups; ++g) {
        const uint16_t textureId = OverlayGroups[g].TextureId;
        const uint8_t blendMode = OverlayGroups[g].BlendMode;
        const uint32_t count = OverlayGroups[g].TriangleCount;
        SetStage(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
        SetStage(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        SetStage(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        SetStage(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        BindTexture(0, textureId);
        if (blendMode == 1) {
            SetState(D3DRS_ALPHABLENDENABLE, FALSE);
            SetState(D3DRS_ALPHAREF, 1);
            SetState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
            SetState(D3DRS_ALPHATESTENABLE, TRUE);
            SetStage(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
            SetStage(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        } else if (blendMode == 10) {
            SetState(D3DRS_ALPHAREF, 0);
            SetState(D3DRS_ALPHATESTENABLE, FALSE);
            SetState(D3DRS_ALPHABLENDENABLE, TRUE);
            SetState(D3DRS_SRCBLEND, D3DBLEND_ONE);
            SetState(D3DRS_DESTBLEND, D3DBLEND_ONE);
        } else {
            SetState(D3DRS_ALPHAREF, 0);
            SetState(D3DRS_ALPHATESTENABLE, FALSE);
            SetState(D3DRS_ALPHABLENDENABLE, FALSE);
        }
        SetStage(0, D3DTSS_TEXCOORDINDEX, 0);
        SetStage(0, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
        SetStage(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        SetStage(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        SetStage(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        Device->DrawPrimitive(D3DPT_TRIANGLELIST, start, count);
        start += 3 * count;
    }
    if (FogEnabled) SetState(D3DRS_FOGENABLE, TRUE);
}

// ---- Viewport: triangles --------------------------------------------------

void TGLViewport::AddTriangle(float x0, float y0, float z0, uint8_t r0, uint8_t g0, uint8_t b0,
                              float tu0, float tv0, float x1, float y1, float z1, uint8_t r1,
                              uint8_t g1, uint8_t b1, float tu1, float tv1, float x2, float y2,
                              float z2, uint8_t r2, uint8_t g2, uint8_t b2, float tu2, float tv2) {
    const int32_t index = Triangles.Count++;
    if (Triangles.Records.size() < static_cast<size_t>(Triangles.Count)) {
        Triangles.Records.resize(Triangles.Count);
        Triangles.Vertices.resize(Triangles.Count);
    }
    ttriangle_record& record = Triangles.Records[index];
    record.Tag = CurrentTag;
    record.Texture0 = static_cast<uint16_t>(CurrentTexture0);
    record.Texture1 = static_cast<uint16_t>(CurrentTexture1);
    record.Texture2 = static_cast<uint16_t>(CurrentTexture2);
    record.BlendMode = CurrentBlendMode;
    record.Layers = CurrentLayers;
    record.BumpMap = CurrentBumpMap;
    record.RunLength = 0;

    const auto corner = [this](float x, float y, float z, uint8_t r, uint8_t g, uint8_t b, float tu,
                               float tv) {
        const uint32_t diffuse =
            0xFF000000u | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | b;
        return tvertex_3d{x, y, z, diffuse, CurrentSpecular, tu, tv, tu, tv, tu, tv};
    };
    tvertex_triple& vertices = Triangles.Vertices[index];
    vertices = {corner(x0, y0, z0, r0, g0, b0, tu0, tv0), corner(x1, y1, z1, r1, g1, b1, tu1, tv1),
                corner(x2, y2, z2, r2, g2, b2, tu2, tv2)};

    const tvector p0 = MakeVector(x0, y0, z0), p1 = MakeVector(x1, y1, z1),
                  p2 = MakeVector(x2, y2, z2);
    TriangleNormal(p0, p1, p2, record.Normal);
    // Without a camera the eye is taken at the origin.
    const tvector eye = Camera != nullptr ? Camera->Position : MakeVector(0, 0, 0);
    float radius;
    TriangleRadius(p0, p1, p2, eye, radius);
    record.Depth = -radius;
}

void TGLViewport::AddQuad(float x0, float y0, float z0, uint8_t r0, uint8_t g0, uint8_t b0,
                          float tu0, float tv0, float x1, float y1, float z1, uint8_t r1,
                          uint8_t g1, uint8_t b1, float tu1, float tv1, float x2, float y2,
                          float z2, uint8_t r2, uint8_t g2, uint8_t b2, float tu2, float tv2,
                          float x3, float y3, float z3, uint8_t r3, uint8_t g3, uint8_t b3,
                          float tu3, float tv3) {
    AddTriangle(x0, y0, z0, r0, g0, b0, tu0, tv0, x2, y2, z2, r2, g2, b2, tu2, tv2, x3, y3, z3, r3,
                g3, b3, tu3, tv3);
    AddTriangle(x0, y0, z0, r0, g0, b0, tu0, tv0, x1, y1, z1, r1, g1, b1, tu1, tv1, x2, y2, z2, r2,
                g2, b2, tu2, tv2);
}

// ---- Depth sort and runs --------------------------------------------------

bool TriangleNotBefore(const ttriangle_record& a, const ttriangle_record& pivot) {
    if (a.Depth > pivot.Depth) return true;
    if (!(a.Depth == pivot.Depth)) return false;  // smaller, or unordered
    const auto compare = [](unsigned x, unsigned y) { return x < y ? -1 : (x > y ? 1 : 0); };
    const int order[] = {
        compare(a.BlendMode, pivot.BlendMode), compare(a.BumpMap, pivot.BumpMap),
        compare(a.Layers, pivot.Layers),       compare(a.Texture0, pivot.Texture0),
        compare(a.Texture1, pivot.Texture1),   compare(a.Texture2, pivot.Texture2),
    };
    for (const int o : order)
        if (o != 0) return o > 0;
    return true;
}

void TGLViewport::PrepareBatches() {
    const int32_t n = Triangles.Count;
    if (n == 0) return;
    for (int32_t i = 0; i < n; ++i)
        if (Triangles.Records[i].Texture0 & 0x8000) ResolveAnimatedTexture(i);
    SortTriangles(0, n - 1);

    auto& records = Triangles.Records;
    int32_t start = 0, length = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (SameRun(records[i], records[start])) {
            ++length;
        } else {
            records[start].RunLength = length;
            start = i;
            length = 1;
        }
    }
    records[start].RunLength = length;
}

void TGLViewport::MoveTriangle(int32_t from, int32_t to) {
    Triangles.Records[to] = Triangles.Records[from];
    Triangles.Vertices[to] = Triangles.Vertices[from];
}

void TGLViewport::SortTriangles(int32_t lo, int32_t hi) {
    auto& records = Triangles.Records;
    // Recurse into the smaller part and loop on the larger: the parts are
    // disjoint, so the order is that of plain recursion, at a depth of
    // log2(n) even when many keys are equal.
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        const ttriangle_record pivot = records[mid];
        const tvertex_triple pivotVertices = Triangles.Vertices[mid];
        MoveTriangle(lo, mid);  // position lo is now the hole
        int32_t i = lo, j = hi;
        do {
            while (TriangleNotBefore(records[j], pivot) && i < j) --j;
            if (j > i) {
                MoveTriangle(j, i);
                while (!TriangleNotBefore(records[i], pivot) && j > i) ++i;
            }
            if (j > i) MoveTriangle(i, j);
        } while (j > i);
        records[i] = pivot;
        Triangles.Vertices[i] = pivotVertices;

        if (i - lo < hi - i) {
            SortTriangles(lo, i - 1);
            lo = i + 1;
        } else {
            SortTriangles(i + 1, hi);
            hi = i - 1;
        }
    }
}

void TGLViewport::ResolveAnimatedTexture(int32_t index) {
    ttriangle_record& record = Triangles.Records[index];
    const uint16_t id = record.Texture0;
    const Tanimated_textures& table = AnimatedTextures[id & 1];
    const uint16_t animation = static_cast<uint16_t>(((id >> 8) & 127) - 1);
    // The table's count and each animation's frame count are trusted only
    // as far as the arrays behind them reach.
    const size_t animations = std::min<size_t>(table.Count, table.Animations.size());
    if (animation >= animations) {
        record.Texture0 = 0;
        return;
    }
    const taset& set = table.Animations[animation];
    const int64_t frames =
        static_cast<int64_t>(std::min<size_t>(set.FrameCount, set.Frames.size()));
    if (frames == 0) {
        record.Texture0 = 0;
        return;
    }
    const int64_t f = std::min<int64_t>((id & 127) >> 1, frames - 1);
    const tanimation_frame& first = set.Frames[f];
    if (set.FrameTime == 0) {
        record.Texture0 = static_cast<uint16_t>(table.BaseId + first.Id);
        return;
    }
    const int64_t steps = static_cast<int64_t>(ElapsedMilliseconds()) / set.FrameTime;
    tvertex_triple& corners = Triangles.Vertices[index];
    if (set.Mode == AnimationCycle) {
        // A negative clock or frame time must still pick a frame in range.
        int64_t g = (steps + f) % frames;
        if (g < 0) g += frames;
        const tanimation_frame& frame = set.Frames[g];
        record.Texture0 = static_cast<uint16_t>(table.BaseId + frame.Id);
        for (tvertex_3d& c : corners) {
            c.tu0 = frame.U + (c.tu0 - first.U);
            c.tv0 = frame.V + (c.tv0 - first.V);
        }
    } else if (set.Mode == AnimationScroll) {
        const int64_t h = TruncToInt((static_cast<long double>(first.End) - first.V) / 2 * 256);
        record.Texture0 = static_cast<uint16_t>(table.BaseId + first.Id);
        if (h == 0) return;  // no scroll period: nothing to move
        const int64_t t = steps % h;
        for (tvertex_3d& c : corners) {
            c.tv0 = static_cast<float>(first.V + ((static_cast<double>(c.tv0 - first.V) +
                                                   static_cast<double>(h) * 0.00390625) -
                                                  static_cast<double>(t) * 0.00390625));
            c.tu0 = first.U + (c.tu0 - first.U);
        }
    }
}
