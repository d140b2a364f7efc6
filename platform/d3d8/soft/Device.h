// The Direct3D object, the device and its swap chains.
#pragma once

#include "ComRef.h"
#include "Resources.h"
#include "States.h"
#include "VertexPipeline.h"

#include <memory>

namespace d3d8soft {

// The capabilities this device reports for either device type.
void FillCaps(D3DDEVTYPE type, D3DCAPS8& caps);

// What a set of present parameters gives: the window and the back buffer.
struct TPresentation {
    HWND Window = nullptr;
    UINT Width = 0, Height = 0;
    D3DFORMAT Format = D3DFMT_X8R8G8B8;
    bool DepthBuffer = false;
};

// Checks the parameters (filling a windowed 0 x 0 size from the window's
// client area); false when they cannot be served.
bool ResolvePresentation(HWND focusWindow, const D3DPRESENT_PARAMETERS& params,
                         TPresentation& out);

// A back buffer and the window it is shown in.
struct TChainCore {
    HWND Window = nullptr;
    std::unique_ptr<TSurface> BackBuffer;

    void Create(IUnknown* container, const TDeviceToken& device, const TPresentation& p);
    HRESULT Present(HWND overrideWindow) const;
};

class TDevice;

class TSwapChain final : public TCounted<IDirect3DSwapChain8> {
public:
    TSwapChain(TDevice* device, const TPresentation& presentation);

    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                    const RGNDATA* dirtyRegion) override;
    HRESULT GetBackBuffer(UINT backBuffer, D3DBACKBUFFER_TYPE type,
                          IDirect3DSurface8** surface) override;

private:
    TChainCore core_;
};

class TDirect3D final : public TCounted<IDirect3D8> {
public:
    UINT GetAdapterCount() override { return 1; }
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE deviceType, D3DCAPS8* caps) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow,
                         DWORD behaviorFlags, D3DPRESENT_PARAMETERS* presentationParameters,
                         IDirect3DDevice8** returnedDevice) override;
};

class TDevice final : public TCounted<IDirect3DDevice8> {
public:
    TDevice(IDirect3D8* direct3D, D3DDEVTYPE type, const TPresentation& presentation);
    ~TDevice() override;

    HRESULT TestCooperativeLevel() override;
    UINT GetAvailableTextureMem() override;
    HRESULT GetDirect3D(IDirect3D8** direct3D) override;
    HRESULT GetDeviceCaps(D3DCAPS8* caps) override;
    HRESULT GetDisplayMode(D3DDISPLAYMODE* mode) override;
    HRESULT CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* presentationParameters,
                                      IDirect3DSwapChain8** swapChain) override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* presentationParameters) override;
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                    const RGNDATA* dirtyRegion) override;
    HRESULT GetBackBuffer(UINT backBuffer, D3DBACKBUFFER_TYPE type,
                          IDirect3DSurface8** surface) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                          D3DPOOL pool, IDirect3DTexture8** texture) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer8** vertexBuffer) override;
    HRESULT SetRenderTarget(IDirect3DSurface8* renderTarget,
                            IDirect3DSurface8* newZStencil) override;
    HRESULT GetRenderTarget(IDirect3DSurface8** renderTarget) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface8** zStencilSurface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT SetViewport(const D3DVIEWPORT8* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT8* viewport) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture8** texture) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture8* texture) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                 DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                 DWORD value) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE primitiveType, UINT startVertex,
                          UINT primitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE primitiveType, UINT primitiveCount,
                            const void* vertexStreamZeroData,
                            UINT vertexStreamZeroStride) override;
    HRESULT SetVertexShader(DWORD handle) override;
    HRESULT GetVertexShader(DWORD* handle) override;
    HRESULT SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer8* streamData,
                            UINT stride) override;
    HRESULT GetStreamSource(UINT streamNumber, IDirect3DVertexBuffer8** streamData,
                            UINT* stride) override;

    const TDeviceToken& Token() const { return token_; }

private:
    // A surface bound as render target or depth buffer. The device's own
    // surfaces count on the device itself, so they are bound without a
    // reference to avoid keeping the device alive through itself.
    struct TBinding {
        TSurface* Surface = nullptr;
        TComRef<IUnknown> Hold;
        void Set(TSurface* surface, IUnknown* self);
    };

    void CreateSurfaces(const TPresentation& presentation);
    void ResetState();
    TSurface* OwnSurface(IDirect3DSurface8* surface) const;
    HRESULT Draw(D3DPRIMITIVETYPE type, UINT primitiveCount, const uint8_t* vertices,
                 size_t available, UINT stride);
    TPixelState BuildPixelState() const;
    TTransformSetup BuildTransformSetup() const;

    TDeviceToken token_;
    TComRef<IDirect3D8> direct3D_;
    D3DDEVTYPE type_;
    TChainCore chain_;
    std::unique_ptr<TSurface> depthBuffer_;
    TBinding renderTarget_, depthTarget_;
    bool lost_ = false;
    bool inScene_ = false;

    TStateBlock states_;
    D3DMATRIX world_{}, view_{}, projection_{};
    D3DVIEWPORT8 viewport_{};
    TComRef<IDirect3DBaseTexture8> textures_[kMaxStages];
    TComRef<IDirect3DVertexBuffer8> stream_;
    UINT streamStride_ = 0;
    DWORD vertexShader_ = 0;
    int textureSerial_ = 0, bufferSerial_ = 0;

    TVertexPipeline vertexPipeline_;
    TRasterizer rasterizer_;
};

}  // namespace d3d8soft
