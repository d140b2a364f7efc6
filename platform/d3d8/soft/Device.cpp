#include "Device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

namespace d3d8soft {

namespace {

constexpr UINT kMaxSurfaceSide = 8192;
// Vertex buffers larger than this are refused rather than attempted.
constexpr UINT kMaxVertexBufferBytes = 1u << 28;

D3DMATRIX IdentityMatrix() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            r.m[row][col] = a.m[row][0] * b.m[0][col] + a.m[row][1] * b.m[1][col] +
                            a.m[row][2] * b.m[2][col] + a.m[row][3] * b.m[3][col];
    return r;
}

std::string FloatText(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
    return text;
}

bool IsSupportedOp(DWORD op) {
    switch (op) {
        case D3DTOP_SELECTARG1: case D3DTOP_SELECTARG2: case D3DTOP_MODULATE:
        case D3DTOP_MODULATE2X: case D3DTOP_MODULATE4X: case D3DTOP_ADD:
        case D3DTOP_ADDSIGNED: case D3DTOP_ADDSIGNED2X: case D3DTOP_SUBTRACT:
        case D3DTOP_DOTPRODUCT3:
            return true;
        default:
            return false;
    }
}

bool OpUsesArg1(DWORD op) { return op != D3DTOP_SELECTARG2; }
bool OpUsesArg2(DWORD op) { return op != D3DTOP_SELECTARG1; }

}  // namespace

// ---- Capabilities and presentation ---------------------------------------

void FillCaps(D3DDEVTYPE type, D3DCAPS8& caps) {
    caps = D3DCAPS8{};
    caps.DeviceType = type;
    caps.AdapterOrdinal = D3DADAPTER_DEFAULT;
    caps.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    caps.DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                   D3DDEVCAPS_DRAWPRIMTLVERTEX;
    caps.PrimitiveMiscCaps = D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW;
    caps.RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGVERTEX;
    const DWORD allCompares = D3DPCMPCAPS_NEVER | D3DPCMPCAPS_LESS | D3DPCMPCAPS_EQUAL |
                              D3DPCMPCAPS_LESSEQUAL | D3DPCMPCAPS_GREATER | D3DPCMPCAPS_NOTEQUAL |
                              D3DPCMPCAPS_GREATEREQUAL | D3DPCMPCAPS_ALWAYS;
    caps.ZCmpCaps = allCompares;
    caps.AlphaCmpCaps = allCompares;
    const DWORD blends = D3DPBLENDCAPS_ZERO | D3DPBLENDCAPS_ONE | D3DPBLENDCAPS_SRCCOLOR |
                         D3DPBLENDCAPS_INVSRCCOLOR | D3DPBLENDCAPS_SRCALPHA |
                         D3DPBLENDCAPS_INVSRCALPHA | D3DPBLENDCAPS_DESTALPHA |
                         D3DPBLENDCAPS_INVDESTALPHA | D3DPBLENDCAPS_DESTCOLOR |
                         D3DPBLENDCAPS_INVDESTCOLOR;
    caps.SrcBlendCaps = blends;
    caps.DestBlendCaps = blends;
    caps.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB |
                     D3DPSHADECAPS_FOGGOURAUD;
    caps.TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA;
    caps.TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                             D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
    caps.TextureAddressCaps = D3DPTADDRESSCAPS_WRAP;
    caps.MaxTextureWidth = kMaxSurfaceSide;
    caps.MaxTextureHeight = kMaxSurfaceSide;
    caps.MaxTextureRepeat = 32768;
    caps.MaxTextureAspectRatio = kMaxSurfaceSide;
    caps.MaxAnisotropy = 1;
    caps.MaxVertexW = 1.0e10f;
    caps.GuardBandLeft = caps.GuardBandTop = -1.0e6f;
    caps.GuardBandRight = caps.GuardBandBottom = 1.0e6f;
    caps.FVFCaps = kMaxTexCoordSets;
    caps.TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 |
                         D3DTEXOPCAPS_SELECTARG2 | D3DTEXOPCAPS_MODULATE |
                         D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X | D3DTEXOPCAPS_ADD |
                         D3DTEXOPCAPS_ADDSIGNED | D3DTEXOPCAPS_SUBTRACT |
                         D3DTEXOPCAPS_DOTPRODUCT3;
    caps.MaxTextureBlendStages = kMaxStages;
    caps.MaxSimultaneousTextures = kMaxStages;
    caps.MaxPointSize = 1.0f;
    caps.MaxPrimitiveCount = kMaxPrimitiveCount;
    caps.MaxVertexIndex = 0x00FFFFFF;
    caps.MaxStreams = 1;
    caps.MaxStreamStride = 255;
}

bool ResolvePresentation(HWND focusWindow, const D3DPRESENT_PARAMETERS& params,
                         TPresentation& out) {
    out = TPresentation{};
    out.Window = params.hDeviceWindow != nullptr ? params.hDeviceWindow : focusWindow;
    RECT client{};
    if (!GetClientRect(out.Window, &client)) return false;
    out.Width = params.BackBufferWidth;
    out.Height = params.BackBufferHeight;
    if (params.Windowed && out.Width == 0) out.Width = static_cast<UINT>(std::max(0, client.right - client.left));
    if (params.Windowed && out.Height == 0) out.Height = static_cast<UINT>(std::max(0, client.bottom - client.top));
    // A minimised window has no client area; its back buffer keeps one pixel.
    out.Width = std::max(out.Width, 1u);
    out.Height = std::max(out.Height, 1u);
    if (out.Width > kMaxSurfaceSide || out.Height > kMaxSurfaceSide) return false;
    switch (params.BackBufferFormat) {
        case D3DFMT_A8R8G8B8: out.Format = D3DFMT_A8R8G8B8; break;
        case D3DFMT_UNKNOWN:
            if (!params.Windowed) return false;
            out.Format = D3DFMT_X8R8G8B8;
            break;
        case D3DFMT_X8R8G8B8: case D3DFMT_R5G6B5: case D3DFMT_X1R5G5B5: case D3DFMT_A1R5G5B5:
            // Colour is always rendered at eight bits a channel.
            out.Format = D3DFMT_X8R8G8B8;
            break;
        default:
            return false;
    }
    out.DepthBuffer = params.EnableAutoDepthStencil != FALSE;
    return true;
}

void TChainCore::Create(IUnknown* container, const TDeviceToken& device, const TPresentation& p) {
    Window = p.Window;
    BackBuffer = std::make_unique<TSurface>(container, device, p.Format, p.Width, p.Height,
                                            D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT);
    // Unrendered X8 pixels still present as opaque black.
    if (p.Format == D3DFMT_X8R8G8B8)
        for (int y = 0; y < BackBuffer->Height(); ++y)
            std::fill_n(BackBuffer->Row<uint32_t>(y), BackBuffer->Width(), 0xFF000000u);
}

HRESULT TChainCore::Present(HWND overrideWindow) const {
    if (TControl::Instance().ShouldFail(D3DFailPoint::Present)) return D3DERR_DEVICELOST;
    IPresentationTarget* target = FindWindowTarget(overrideWindow != nullptr ? overrideWindow : Window);
    if (target == nullptr) return D3DERR_DEVICELOST;
    target->PresentFrame(reinterpret_cast<const uint32_t*>(BackBuffer->Bits()), BackBuffer->Width(),
                         BackBuffer->Height(), BackBuffer->Pitch());
    return D3D_OK;
}

// ---- Swap chains ---------------------------------------------------------

TSwapChain::TSwapChain(TDevice* device, const TPresentation& presentation) {
    core_.Create(this, device->Token(), presentation);
}

HRESULT TSwapChain::Present(const RECT*, const RECT*, HWND destWindowOverride, const RGNDATA*) {
    return Logged(MakeCall(D3DCallKind::Present, this, "Present(swap chain)"),
                  core_.Present(destWindowOverride));
}

HRESULT TSwapChain::GetBackBuffer(UINT backBuffer, D3DBACKBUFFER_TYPE type,
                                  IDirect3DSurface8** surface) {
    D3DCallRecord record = MakeCall(D3DCallKind::GetBackBuffer, this,
                                "GetBackBuffer(swap chain, " + std::to_string(backBuffer) + ")");
    if (surface == nullptr || backBuffer != 0 || type != D3DBACKBUFFER_TYPE_MONO)
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    *surface = core_.BackBuffer.get();
    AddRef();
    return Logged(std::move(record), D3D_OK);
}

// ---- The Direct3D object -------------------------------------------------

HRESULT TDirect3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    D3DCallRecord record = MakeCall(D3DCallKind::GetAdapterDisplayMode, this,
                                "GetAdapterDisplayMode(" + std::to_string(adapter) + ")");
    record.Args[0] = adapter;
    if (mode == nullptr || adapter != D3DADAPTER_DEFAULT ||
        TControl::Instance().ShouldFail(D3DFailPoint::GetAdapterDisplayMode))
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    *mode = D3DDISPLAYMODE{1024, 768, 60, D3DFMT_X8R8G8B8};
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDirect3D::GetDeviceCaps(UINT adapter, D3DDEVTYPE deviceType, D3DCAPS8* caps) {
    if (caps == nullptr || adapter != D3DADAPTER_DEFAULT ||
        (deviceType != D3DDEVTYPE_HAL && deviceType != D3DDEVTYPE_REF))
        return D3DERR_INVALIDCALL;
    FillCaps(deviceType, *caps);
    return D3D_OK;
}

HRESULT TDirect3D::CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow,
                                DWORD behaviorFlags, D3DPRESENT_PARAMETERS* params,
                                IDirect3DDevice8** returnedDevice) {
    D3DCallRecord record = MakeCall(D3DCallKind::CreateDevice, this,
                                std::string("CreateDevice(") +
                                    (deviceType == D3DDEVTYPE_HAL   ? "D3DDEVTYPE_HAL"
                                     : deviceType == D3DDEVTYPE_REF ? "D3DDEVTYPE_REF"
                                                                    : std::to_string(deviceType)) +
                                    ", " + Hex(behaviorFlags) + ")");
    record.Args[0] = adapter;
    record.Args[1] = deviceType;
    record.Args[2] = behaviorFlags;
    if (returnedDevice == nullptr) return Logged(std::move(record), D3DERR_INVALIDCALL);
    *returnedDevice = nullptr;
    TPresentation presentation;
    if (params == nullptr || adapter != D3DADAPTER_DEFAULT ||
        (deviceType != D3DDEVTYPE_HAL && deviceType != D3DDEVTYPE_REF) ||
        !ResolvePresentation(focusWindow, *params, presentation))
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    if (TControl::Instance().ShouldFail(D3DFailPoint::CreateDevice))
        return Logged(std::move(record), D3DERR_NOTAVAILABLE);
    try {
        auto* device = new TDevice(this, deviceType, presentation);
        params->BackBufferWidth = presentation.Width;
        params->BackBufferHeight = presentation.Height;
        record.Pointer = device;
        *returnedDevice = device;
    } catch (const std::bad_alloc&) {
        return Logged(std::move(record), E_OUTOFMEMORY);
    }
    return Logged(std::move(record), D3D_OK);
}

// ---- The device: creation and presentation -------------------------------

void TDevice::TBinding::Set(TSurface* surface, IUnknown* self) {
    Surface = surface;
    Hold = surface != nullptr && surface->Container() != self ? surface->Container() : nullptr;
}

TDevice::TDevice(IDirect3D8* direct3D, D3DDEVTYPE type, const TPresentation& presentation)
    : token_(std::make_shared<IDirect3DDevice8*>(this)), direct3D_(direct3D), type_(type) {
    CreateSurfaces(presentation);
    ResetState();
}

TDevice::~TDevice() {
    // Bindings go first: they may hold swap chains and textures that name
    // this device through the token.
    for (auto& texture : textures_) texture = nullptr;
    stream_ = nullptr;
    renderTarget_.Set(nullptr, this);
    depthTarget_.Set(nullptr, this);
    *token_ = nullptr;
}

void TDevice::CreateSurfaces(const TPresentation& presentation) {
    chain_.Create(this, token_, presentation);
    depthBuffer_.reset();
    if (presentation.DepthBuffer)
        depthBuffer_ = std::make_unique<TSurface>(this, token_, D3DFMT_D16, presentation.Width,
                                                  presentation.Height, D3DUSAGE_DEPTHSTENCIL,
                                                  D3DPOOL_DEFAULT);
}

void TDevice::ResetState() {
    states_ = TStateBlock::Defaults();
    // An automatic depth buffer switches depth testing on; without one it
    // starts off.
    states_.Render[D3DRS_ZENABLE] = depthBuffer_ ? D3DZB_TRUE : D3DZB_FALSE;
    world_ = view_ = projection_ = IdentityMatrix();
    for (auto& texture : textures_) texture = nullptr;
    stream_ = nullptr;
    streamStride_ = 0;
    vertexShader_ = 0;
    renderTarget_.Set(chain_.BackBuffer.get(), this);
    depthTarget_.Set(depthBuffer_.get(), this);
    viewport_ = D3DVIEWPORT8{0, 0, static_cast<DWORD>(chain_.BackBuffer->Width()),
                             static_cast<DWORD>(chain_.BackBuffer->Height()), 0.0f, 1.0f};
    inScene_ = false;
}

HRESULT TDevice::TestCooperativeLevel() {
    if (!lost_) return D3D_OK;
    return FindWindowTarget(chain_.Window) != nullptr ? D3DERR_DEVICENOTRESET : D3DERR_DEVICELOST;
}

UINT TDevice::GetAvailableTextureMem() { return 256u << 20; }

HRESULT TDevice::GetDirect3D(IDirect3D8** direct3D) {
    if (direct3D == nullptr) return D3DERR_INVALIDCALL;
    *direct3D = direct3D_.get();
    direct3D_->AddRef();
    return D3D_OK;
}

HRESULT TDevice::GetDeviceCaps(D3DCAPS8* caps) {
    if (caps == nullptr) return D3DERR_INVALIDCALL;
    FillCaps(type_, *caps);
    return D3D_OK;
}

HRESULT TDevice::GetDisplayMode(D3DDISPLAYMODE* mode) {
    if (mode == nullptr) return D3DERR_INVALIDCALL;
    *mode = D3DDISPLAYMODE{1024, 768, 60, D3DFMT_X8R8G8B8};
    return D3D_OK;
}

HRESULT TDevice::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* params,
                                           IDirect3DSwapChain8** swapChain) {
    D3DCallRecord record = MakeCall(D3DCallKind::CreateAdditionalSwapChain, this,
                                "CreateAdditionalSwapChain");
    if (swapChain == nullptr) return Logged(std::move(record), D3DERR_INVALIDCALL);
    *swapChain = nullptr;
    TPresentation presentation;
    if (params == nullptr || !ResolvePresentation(nullptr, *params, presentation) ||
        TControl::Instance().ShouldFail(D3DFailPoint::CreateAdditionalSwapChain))
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    try {
        auto* chain = new TSwapChain(this, presentation);
        record.Pointer = chain;
        *swapChain = chain;
    } catch (const std::bad_alloc&) {
        return Logged(std::move(record), E_OUTOFMEMORY);
    }
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDevice::Reset(D3DPRESENT_PARAMETERS* params) {
    D3DCallRecord record = MakeCall(D3DCallKind::Reset, this, "Reset");
    TPresentation presentation;
    if (params == nullptr || !ResolvePresentation(chain_.Window, *params, presentation) ||
        TControl::Instance().ShouldFail(D3DFailPoint::Reset))
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    try {
        // Let go of bindings to the old surfaces before replacing them.
        renderTarget_.Set(nullptr, this);
        depthTarget_.Set(nullptr, this);
        CreateSurfaces(presentation);
    } catch (const std::bad_alloc&) {
        return Logged(std::move(record), E_OUTOFMEMORY);
    }
    params->BackBufferWidth = presentation.Width;
    params->BackBufferHeight = presentation.Height;
    ResetState();
    lost_ = false;
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDevice::Present(const RECT*, const RECT*, HWND destWindowOverride, const RGNDATA*) {
    D3DCallRecord record = MakeCall(D3DCallKind::Present, this, "Present");
    if (lost_) return Logged(std::move(record), D3DERR_DEVICELOST);
    const HRESULT result = chain_.Present(destWindowOverride);
    // A window that is gone loses the device until a Reset; an injected
    // failure fails only the calls it was asked for.
    lost_ = FindWindowTarget(destWindowOverride != nullptr ? destWindowOverride : chain_.Window) == nullptr;
    return Logged(std::move(record), result);
}

HRESULT TDevice::GetBackBuffer(UINT backBuffer, D3DBACKBUFFER_TYPE type,
                               IDirect3DSurface8** surface) {
    D3DCallRecord record = MakeCall(D3DCallKind::GetBackBuffer, this,
                                "GetBackBuffer(" + std::to_string(backBuffer) + ")");
    if (surface == nullptr || backBuffer != 0 || type != D3DBACKBUFFER_TYPE_MONO)
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    *surface = chain_.BackBuffer.get();
    AddRef();
    return Logged(std::move(record), D3D_OK);
}

// ---- Resources -----------------------------------------------------------

HRESULT TDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                               D3DFORMAT format, D3DPOOL pool, IDirect3DTexture8** texture) {
    D3DCallRecord record = MakeCall(D3DCallKind::CreateTexture, this,
                                "CreateTexture(" + std::to_string(width) + ", " +
                                    std::to_string(height) + ", " + std::to_string(levels) + ", " +
                                    Hex(usage) + ", " + FormatName(format) + ", " +
                                    std::to_string(pool) + ")");
    record.Args[0] = width;
    record.Args[1] = height;
    record.Args[2] = levels;
    record.Args[3] = format;
    record.Args2[0] = usage;
    record.Args2[1] = pool;
    if (texture == nullptr) return Logged(std::move(record), D3DERR_INVALIDCALL);
    *texture = nullptr;
    if (width == 0 || height == 0 || width > kMaxSurfaceSide || height > kMaxSurfaceSide ||
        !IsTextureFormat(format) || (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)))
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    if (TControl::Instance().ShouldFail(D3DFailPoint::CreateTexture))
        return Logged(std::move(record), D3DERR_OUTOFVIDEOMEMORY);
    try {
        auto* created = new TTexture(token_, width, height, levels, usage, format, pool,
                                     ++textureSerial_);
        record.Pointer = created;
        *texture = created;
    } catch (const std::bad_alloc&) {
        return Logged(std::move(record), E_OUTOFMEMORY);
    }
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                    IDirect3DVertexBuffer8** vertexBuffer) {
    D3DCallRecord record = MakeCall(D3DCallKind::CreateVertexBuffer, this,
                                "CreateVertexBuffer(" + std::to_string(length) + ", " + Hex(usage) +
                                    ", " + Hex(fvf) + ", " + std::to_string(pool) + ")");
    record.Args[0] = length;
    record.Args[1] = usage;
    record.Args[2] = fvf;
    record.Args[3] = pool;
    if (vertexBuffer == nullptr) return Logged(std::move(record), D3DERR_INVALIDCALL);
    *vertexBuffer = nullptr;
    if (length == 0 || length > kMaxVertexBufferBytes)
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    if (TControl::Instance().ShouldFail(D3DFailPoint::CreateVertexBuffer))
        return Logged(std::move(record), D3DERR_OUTOFVIDEOMEMORY);
    try {
        auto* created = new TVertexBuffer(token_, length, usage, fvf, pool, ++bufferSerial_);
        record.Pointer = created;
        *vertexBuffer = created;
    } catch (const std::bad_alloc&) {
        return Logged(std::move(record), E_OUTOFMEMORY);
    }
    return Logged(std::move(record), D3D_OK);
}

// ---- Targets -------------------------------------------------------------

TSurface* TDevice::OwnSurface(IDirect3DSurface8* surface) const {
    auto* own = dynamic_cast<TSurface*>(surface);
    return own != nullptr && own->BelongsTo(token_) ? own : nullptr;
}

HRESULT TDevice::SetRenderTarget(IDirect3DSurface8* renderTarget, IDirect3DSurface8* newZStencil) {
    D3DCallRecord record = MakeCall(D3DCallKind::SetRenderTarget, this, "SetRenderTarget");
    record.Pointer = renderTarget;
    record.Args[0] = newZStencil != nullptr ? 1 : 0;
    TSurface* color = renderTarget != nullptr ? OwnSurface(renderTarget) : renderTarget_.Surface;
    TSurface* depth = newZStencil != nullptr ? OwnSurface(newZStencil) : nullptr;
    const bool colorOk = color != nullptr && BytesPerPixel(color->Format()) == 4 &&
                         !IsDepthFormat(color->Format());
    const bool depthOk = colorOk && (newZStencil == nullptr ||
                                     (depth != nullptr && IsDepthFormat(depth->Format()) &&
                                      depth->Width() >= color->Width() && depth->Height() >= color->Height()));
    if (!colorOk || !depthOk) return Logged(std::move(record), D3DERR_INVALIDCALL);
    renderTarget_.Set(color, this);
    depthTarget_.Set(depth, this);
    viewport_ = D3DVIEWPORT8{0, 0, static_cast<DWORD>(color->Width()),
                             static_cast<DWORD>(color->Height()), 0.0f, 1.0f};
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDevice::GetRenderTarget(IDirect3DSurface8** renderTarget) {
    if (renderTarget == nullptr || renderTarget_.Surface == nullptr) return D3DERR_INVALIDCALL;
    *renderTarget = renderTarget_.Surface;
    renderTarget_.Surface->AddRef();
    return D3D_OK;
}

HRESULT TDevice::GetDepthStencilSurface(IDirect3DSurface8** zStencilSurface) {
    D3DCallRecord record = MakeCall(D3DCallKind::GetDepthStencilSurface, this, "GetDepthStencilSurface");
    if (zStencilSurface == nullptr) return Logged(std::move(record), D3DERR_INVALIDCALL);
    *zStencilSurface = depthTarget_.Surface;
    if (depthTarget_.Surface == nullptr) return Logged(std::move(record), D3DERR_NOTFOUND);
    depthTarget_.Surface->AddRef();
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDevice::BeginScene() {
    const HRESULT result = inScene_ ? D3DERR_INVALIDCALL : D3D_OK;
    inScene_ = true;
    return Logged(MakeCall(D3DCallKind::BeginScene, this, "BeginScene"), result);
}

HRESULT TDevice::EndScene() {
    const HRESULT result = inScene_ ? D3D_OK : D3DERR_INVALIDCALL;
    inScene_ = false;
    return Logged(MakeCall(D3DCallKind::EndScene, this, "EndScene"), result);
}

HRESULT TDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                       DWORD stencil) {
    D3DCallRecord record = MakeCall(D3DCallKind::Clear, this,
                                "Clear(" + std::to_string(count) + ", " + Hex(flags) + ", " +
                                    Hex(color) + ", " + FloatText(z) + ", " +
                                    std::to_string(stencil) + ")");
    record.Args[0] = flags;
    record.Args[1] = color;
    record.Args[2] = FloatBits(z);
    record.Args[3] = stencil;
    TSurface* target = renderTarget_.Surface;
    TSurface* depth = depthTarget_.Surface;
    if ((flags & D3DCLEAR_ZBUFFER) && depth == nullptr)
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    const RECT view{static_cast<LONG>(viewport_.X), static_cast<LONG>(viewport_.Y),
                    static_cast<LONG>(viewport_.X + viewport_.Width),
                    static_cast<LONG>(viewport_.Y + viewport_.Height)};
    const uint32_t pixel = target->Format() == D3DFMT_X8R8G8B8 ? (color | 0xFF000000u) : color;
    const float clamped = std::isfinite(z) ? std::clamp(z, 0.0f, 1.0f) : 1.0f;
    const auto depthValue = static_cast<uint16_t>(std::lround(clamped * 65535.0f));
    auto clearRect = [&](RECT r) {
        r.left = std::max(r.left, view.left);
        r.top = std::max(r.top, view.top);
        r.right = std::min(r.right, view.right);
        r.bottom = std::min(r.bottom, view.bottom);
        if (r.left >= r.right) return;
        for (LONG y = r.top; y < r.bottom; ++y) {
            if (flags & D3DCLEAR_TARGET)
                std::fill(target->Row<uint32_t>(y) + r.left, target->Row<uint32_t>(y) + r.right, pixel);
            if (flags & D3DCLEAR_ZBUFFER)
                std::fill(depth->Row<uint16_t>(y) + r.left, depth->Row<uint16_t>(y) + r.right,
                          depthValue);
        }
    };
    if (count == 0 || rects == nullptr) {
        clearRect(view);
    } else {
        for (DWORD i = 0; i < count; ++i) clearRect(RECT{rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2});
    }
    return Logged(std::move(record), D3D_OK);
}

// ---- State ---------------------------------------------------------------

HRESULT TDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    D3DCallRecord record = MakeCall(D3DCallKind::SetTransform, this,
                                "SetTransform(" + TransformName(state) + ")");
    record.Args[0] = state;
    if (matrix == nullptr) return Logged(std::move(record), D3DERR_INVALIDCALL);
    record.Matrix = *matrix;
    switch (state) {
        case D3DTS_WORLD: world_ = *matrix; break;
        case D3DTS_VIEW: view_ = *matrix; break;
        case D3DTS_PROJECTION: projection_ = *matrix; break;
        default:
            // Texture transforms and further world matrices are accepted and
            // have no effect on this device.
            if (state > D3DTS_WORLDMATRIX(255)) return Logged(std::move(record), D3DERR_INVALIDCALL);
            break;
    }
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (matrix == nullptr) return D3DERR_INVALIDCALL;
    switch (state) {
        case D3DTS_WORLD: *matrix = world_; return D3D_OK;
        case D3DTS_VIEW: *matrix = view_; return D3D_OK;
        case D3DTS_PROJECTION: *matrix = projection_; return D3D_OK;
        default: *matrix = IdentityMatrix(); return D3D_OK;
    }
}

HRESULT TDevice::SetViewport(const D3DVIEWPORT8* viewport) {
    D3DCallRecord record = MakeCall(D3DCallKind::SetViewport, this, "SetViewport");
    if (viewport == nullptr) return Logged(std::move(record), D3DERR_INVALIDCALL);
    record.Args[0] = viewport->X;
    record.Args[1] = viewport->Y;
    record.Args[2] = viewport->Width;
    record.Args[3] = viewport->Height;
    record.Text = "SetViewport(" + std::to_string(viewport->X) + ", " + std::to_string(viewport->Y) +
                  ", " + std::to_string(viewport->Width) + ", " + std::to_string(viewport->Height) + ")";
    const TSurface* target = renderTarget_.Surface;
    const uint64_t right = static_cast<uint64_t>(viewport->X) + viewport->Width;
    const uint64_t bottom = static_cast<uint64_t>(viewport->Y) + viewport->Height;
    if (viewport->Width == 0 || viewport->Height == 0 || right > static_cast<uint64_t>(target->Width()) ||
        bottom > static_cast<uint64_t>(target->Height()))
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    viewport_ = *viewport;
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDevice::GetViewport(D3DVIEWPORT8* viewport) {
    if (viewport == nullptr) return D3DERR_INVALIDCALL;
    *viewport = viewport_;
    return D3D_OK;
}

HRESULT TDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    D3DCallRecord record = MakeCall(D3DCallKind::SetRenderState, this,
                                "SetRenderState(" + RenderStateName(state) + ", " +
                                    std::to_string(value) + ")");
    record.Args[0] = state;
    record.Args[1] = value;
    if (state >= kRenderStateCount) return Logged(std::move(record), D3DERR_INVALIDCALL);
    states_.Render[state] = value;
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (value == nullptr || state >= kRenderStateCount) return D3DERR_INVALIDCALL;
    *value = states_.Render[state];
    return D3D_OK;
}

HRESULT TDevice::GetTexture(DWORD stage, IDirect3DBaseTexture8** texture) {
    if (texture == nullptr || stage >= kMaxStages) return D3DERR_INVALIDCALL;
    *texture = textures_[stage].get();
    if (*texture != nullptr) (*texture)->AddRef();
    return D3D_OK;
}

HRESULT TDevice::SetTexture(DWORD stage, IDirect3DBaseTexture8* texture) {
    D3DCallRecord record = MakeCall(D3DCallKind::SetTexture, this,
                                "SetTexture(" + std::to_string(stage) + ", " + TextureText(texture) + ")");
    record.Args[0] = stage;
    record.Pointer = texture;
    if (stage >= kMaxStages || (texture != nullptr && dynamic_cast<TTexture*>(texture) == nullptr))
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    textures_[stage] = texture;
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (value == nullptr || stage >= kMaxStages || type >= kStageStateCount) return D3DERR_INVALIDCALL;
    *value = states_.Stage[stage][type];
    return D3D_OK;
}

HRESULT TDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    D3DCallRecord record = MakeCall(D3DCallKind::SetTextureStageState, this,
                                "SetTextureStageState(" + std::to_string(stage) + ", " +
                                    StageStateName(type) + ", " + std::to_string(value) + ")");
    record.Args[0] = stage;
    record.Args[1] = type;
    record.Args[2] = value;
    if (stage >= kMaxStages || type >= kStageStateCount)
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    states_.Stage[stage][type] = value;
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDevice::SetVertexShader(DWORD handle) {
    D3DCallRecord record = MakeCall(D3DCallKind::SetVertexShader, this, "SetVertexShader(" + Hex(handle) + ")");
    record.Args[0] = handle;
    vertexShader_ = handle;
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDevice::GetVertexShader(DWORD* handle) {
    if (handle == nullptr) return D3DERR_INVALIDCALL;
    *handle = vertexShader_;
    return D3D_OK;
}

HRESULT TDevice::SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer8* streamData, UINT stride) {
    D3DCallRecord record = MakeCall(D3DCallKind::SetStreamSource, this,
                                "SetStreamSource(" + std::to_string(streamNumber) + ", " +
                                    VertexBufferText(streamData) + ", " + std::to_string(stride) + ")");
    record.Args[0] = streamNumber;
    record.Args[1] = stride;
    record.Pointer = streamData;
    if (streamNumber != 0 ||
        (streamData != nullptr && dynamic_cast<TVertexBuffer*>(streamData) == nullptr))
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    stream_ = streamData;
    streamStride_ = stride;
    return Logged(std::move(record), D3D_OK);
}

HRESULT TDevice::GetStreamSource(UINT streamNumber, IDirect3DVertexBuffer8** streamData, UINT* stride) {
    if (streamNumber != 0 || streamData == nullptr || stride == nullptr) return D3DERR_INVALIDCALL;
    *streamData = stream_.get();
    if (*streamData != nullptr) (*streamData)->AddRef();
    *stride = streamStride_;
    return D3D_OK;
}

// ---- Drawing -------------------------------------------------------------

TPixelState TDevice::BuildPixelState() const {
    const TStateBlock& s = states_;
    TPixelState p;
    for (int stage = 0; stage < kMaxStages; ++stage) {
        const auto& t = s.Stage[stage];
        // The cascade ends at the first disabled stage; an operation this
        // device lacks ends it too.
        if (!IsSupportedOp(t[D3DTSS_COLOROP])) break;
        TStageSetup& st = p.Stages[p.StageCount++];
        st.ColorOp = t[D3DTSS_COLOROP];
        st.ColorArg1 = t[D3DTSS_COLORARG1];
        st.ColorArg2 = t[D3DTSS_COLORARG2];
        st.AlphaOp = IsSupportedOp(t[D3DTSS_ALPHAOP]) && t[D3DTSS_ALPHAOP] != D3DTOP_DOTPRODUCT3
                         ? t[D3DTSS_ALPHAOP] : static_cast<DWORD>(D3DTOP_DISABLE);
        st.AlphaArg1 = t[D3DTSS_ALPHAARG1];
        st.AlphaArg2 = t[D3DTSS_ALPHAARG2];
        st.TexCoord = static_cast<int>(t[D3DTSS_TEXCOORDINDEX] & 0xFFFF) % kMaxTexCoordSets;
        st.HasTexture = textures_[stage] != nullptr;
    }

    p.TargetHasAlpha = renderTarget_.Surface->Format() == D3DFMT_A8R8G8B8;
    p.AlphaTest = s.Render[D3DRS_ALPHATESTENABLE] != FALSE;
    p.AlphaFunc = s.Render[D3DRS_ALPHAFUNC];
    p.AlphaRef = static_cast<int>(s.Render[D3DRS_ALPHAREF] & 0xFF);
    p.Blend = s.Render[D3DRS_ALPHABLENDENABLE] != FALSE;
    p.SrcBlend = s.Render[D3DRS_SRCBLEND];
    p.DestBlend = s.Render[D3DRS_DESTBLEND];
    p.SpecularAdd = s.Render[D3DRS_SPECULARENABLE] != FALSE;
    p.Fog = s.Render[D3DRS_FOGENABLE] != FALSE;
    p.FogColor = s.Render[D3DRS_FOGCOLOR];
    p.TextureFactor = s.Render[D3DRS_TEXTUREFACTOR];
    p.DepthTest = s.Render[D3DRS_ZENABLE] != D3DZB_FALSE && depthTarget_.Surface != nullptr;
    p.DepthWrite = p.DepthTest && s.Render[D3DRS_ZWRITEENABLE] != FALSE;
    p.DepthFunc = s.Render[D3DRS_ZFUNC];

    // A stage that replicates the current alpha into its colour needs the
    // alpha the stages before it computed, whatever happens to the pixel's.
    bool replicatesCurrent = false;
    for (int stage = 1; stage < p.StageCount; ++stage) {
        const TStageSetup& st = p.Stages[stage];
        for (const DWORD arg : {st.ColorArg1, st.ColorArg2})
            replicatesCurrent |= (arg & D3DTA_ALPHAREPLICATE) != 0 && (arg & D3DTA_SELECTMASK) == D3DTA_CURRENT;
    }
    const bool alpha = p.AlphaTest || p.Blend || p.TargetHasAlpha || replicatesCurrent;
    if (alpha) p.Needs |= kNeedAlpha;
    if (p.SpecularAdd) p.Needs |= kNeedSpecular;
    if (p.Fog) p.Needs |= kNeedFog;
    if (p.StageCount == 0) p.Needs |= kNeedDiffuse;
    auto need = [&](DWORD arg, int stage) {
        switch (arg & D3DTA_SELECTMASK) {
            case D3DTA_DIFFUSE: p.Needs |= kNeedDiffuse; break;
            case D3DTA_CURRENT: if (stage == 0) p.Needs |= kNeedDiffuse; break;
            case D3DTA_SPECULAR: p.Needs |= kNeedSpecular; break;
            case D3DTA_TEXTURE: p.Stages[stage].ReadsTexture = true; break;
            default: break;
        }
    };
    for (int stage = 0; stage < p.StageCount; ++stage) {
        TStageSetup& st = p.Stages[stage];
        st.ReadsTexture = false;
        if (OpUsesArg1(st.ColorOp)) need(st.ColorArg1, stage);
        if (OpUsesArg2(st.ColorOp)) need(st.ColorArg2, stage);
        if (!alpha || st.ColorOp == D3DTOP_DOTPRODUCT3) continue;
        if (st.AlphaOp == D3DTOP_DISABLE) {
            if (stage == 0) p.Needs |= kNeedDiffuse;
            continue;
        }
        if (OpUsesArg1(st.AlphaOp)) need(st.AlphaArg1, stage);
        if (OpUsesArg2(st.AlphaOp)) need(st.AlphaArg2, stage);
    }
    return p;
}

TTransformSetup TDevice::BuildTransformSetup() const {
    TTransformSetup t;
    t.WorldView = Multiply(world_, view_);
    t.WorldViewProj = Multiply(t.WorldView, projection_);
    t.Viewport = viewport_;
    t.Lighting = states_.Render[D3DRS_LIGHTING] != FALSE;
    if (states_.Render[D3DRS_FOGENABLE] != FALSE) {
        // Table fog is computed per vertex from the same distances.
        DWORD mode = states_.Render[D3DRS_FOGTABLEMODE];
        if (mode == D3DFOG_NONE) mode = states_.Render[D3DRS_FOGVERTEXMODE];
        switch (mode) {
            case D3DFOG_LINEAR: t.Fog = TFogSource::Linear; break;
            case D3DFOG_EXP: t.Fog = TFogSource::Exp; break;
            case D3DFOG_EXP2: t.Fog = TFogSource::Exp2; break;
            default: t.Fog = TFogSource::SpecularAlpha; break;
        }
    }
    t.FogStart = BitsFloat(states_.Render[D3DRS_FOGSTART]);
    t.FogEnd = BitsFloat(states_.Render[D3DRS_FOGEND]);
    t.FogDensity = BitsFloat(states_.Render[D3DRS_FOGDENSITY]);
    return t;
}

HRESULT TDevice::Draw(D3DPRIMITIVETYPE type, UINT primitiveCount, const uint8_t* vertices,
                      size_t available, UINT stride) {
    TVertexLayout layout;
    const UINT count = VerticesForTriangles(type, primitiveCount);
    if (!inScene_ || count == 0 || !DescribeVertexFormat(vertexShader_, layout) ||
        stride < static_cast<UINT>(layout.Size))
        return D3DERR_INVALIDCALL;
    // Every vertex read must lie inside the data given.
    const uint64_t needed = static_cast<uint64_t>(count - 1) * stride + static_cast<uint64_t>(layout.Size);
    if (needed > available) return D3DERR_INVALIDCALL;

    TStageTexture stages[kMaxStages];
    for (int s = 0; s < kMaxStages; ++s) {
        stages[s].Texture = static_cast<const TTexture*>(textures_[s].get());
        stages[s].MagFilter = states_.Stage[s][D3DTSS_MAGFILTER];
        stages[s].MinFilter = states_.Stage[s][D3DTSS_MINFILTER];
        stages[s].MipFilter = states_.Stage[s][D3DTSS_MIPFILTER];
    }
    TRasterTarget target;
    target.Color = renderTarget_.Surface;
    target.Depth = depthTarget_.Surface;
    target.Clip = RECT{static_cast<LONG>(viewport_.X), static_cast<LONG>(viewport_.Y),
                       static_cast<LONG>(viewport_.X + viewport_.Width),
                       static_cast<LONG>(viewport_.Y + viewport_.Height)};
    rasterizer_.Begin(BuildPixelState(), target, states_.Render[D3DRS_CULLMODE], stages);
    vertexPipeline_.Draw(BuildTransformSetup(), layout, vertices, stride, type, primitiveCount,
                         rasterizer_);
    return D3D_OK;
}

HRESULT TDevice::DrawPrimitive(D3DPRIMITIVETYPE primitiveType, UINT startVertex, UINT primitiveCount) {
    D3DCallRecord record = MakeCall(D3DCallKind::DrawPrimitive, this,
                                "DrawPrimitive(" + PrimitiveName(primitiveType) + ", " +
                                    std::to_string(startVertex) + ", " + std::to_string(primitiveCount) + ")");
    record.Args[0] = primitiveType;
    record.Args[1] = startVertex;
    record.Args[2] = primitiveCount;
    const auto* buffer = static_cast<const TVertexBuffer*>(stream_.get());
    if (buffer == nullptr || streamStride_ == 0) return Logged(std::move(record), D3DERR_INVALIDCALL);
    const uint64_t offset = static_cast<uint64_t>(startVertex) * streamStride_;
    if (offset > buffer->Size()) return Logged(std::move(record), D3DERR_INVALIDCALL);
    return Logged(std::move(record), Draw(primitiveType, primitiveCount, buffer->Data() + offset,
                                          buffer->Size() - offset, streamStride_));
}

HRESULT TDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE primitiveType, UINT primitiveCount,
                                 const void* vertexStreamZeroData, UINT vertexStreamZeroStride) {
    D3DCallRecord record = MakeCall(D3DCallKind::DrawPrimitiveUP, this,
                                "DrawPrimitiveUP(" + PrimitiveName(primitiveType) + ", " +
                                    std::to_string(primitiveCount) + ", " +
                                    std::to_string(vertexStreamZeroStride) + ")");
    record.Args[0] = primitiveType;
    record.Args[1] = primitiveCount;
    record.Args[2] = vertexStreamZeroStride;
    if (vertexStreamZeroData == nullptr) return Logged(std::move(record), D3DERR_INVALIDCALL);
    const UINT count = VerticesForTriangles(primitiveType, primitiveCount);
    const size_t available = static_cast<size_t>(count) * vertexStreamZeroStride;
    const HRESULT result = Draw(primitiveType, primitiveCount,
                                static_cast<const uint8_t*>(vertexStreamZeroData), available,
                                vertexStreamZeroStride);
    // As in Direct3D, drawing from user memory leaves no stream bound.
    stream_ = nullptr;
    streamStride_ = 0;
    return Logged(std::move(record), result);
}

}  // namespace d3d8soft
