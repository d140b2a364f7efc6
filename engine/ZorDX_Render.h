// The engine's process-wide Direct3D state, the viewport that draws one
// frame on a window, and the look-at camera.
//
// Start-up: Direct3D8Initialization loads the runtime module, the clock
// starts (ZorDX_GeometryInitialization), then ZorDX_RenderInitialization
// creates the texture buffer and sets the globals. The end steps run in
// reverse: the render unit frees the texture buffer and releases the device
// and the Direct3D object before the runtime module is unloaded.
#pragma once

#include <ComRef.h>
#include <d3d8.h>

#include <array>
#include <cstdint>
#include <functional>

#include "ZorDX_Engine.h"
#include "ZorDX_Geometry.h"

class Td3dTexture_buffer;
class TGLViewport;

// ---- Camera ---------------------------------------------------------------

// A look-at camera whose derived up vector keeps the view from rolling.
class TGLCamera {
public:
    TGLCamera() = default;

    // Derives Eye, LookAt, Up, Direction and View from Position and Target
    // and sets View as the device's view transform.
    void UpdateView();

    tvector Eye = {0, 0, 0};
    tvector LookAt = {0, 0, 0};
    tvector Up = {0, 0, 0};
    tvector Direction = {0, 0, 0};
    tvector Position = {0, 0, 0};
    tvector Target = {0, 0, 1};
    tmatrix View = IdentityMatrix;
    float UpScale = 1.0f;
};

// ---- Unit globals ---------------------------------------------------------

struct tfog_color {
    uint8_t Red, Green, Blue;
};

// Viewports in creation order, positions counted from 1. There is one slot:
// a viewport made while it is taken stays unregistered.
struct tviewport_registry {
    int32_t Count = 0;
    std::array<TGLViewport*, 1> Viewports = {};
};

extern TComRef<IDirect3D8> Direct3D;
extern TComRef<IDirect3DDevice8> Device;
extern Td3dTexture_buffer* TextureBuffer;
extern tviewport_registry ViewportRegistry;
extern float FarPlane;
extern int32_t VertexStride;
extern int32_t OverlayVertexStride;
extern tfog_color FogColor;
extern float FogStart;
extern float FogEnd;
extern float FogOffset;
extern bool FogEnabled;

// ---- Start and end steps --------------------------------------------------

// Loads "d3d8.dll" and looks up Direct3DCreate8; a missing module or entry
// leaves the entry unset, which StartDirect3D reports.
void Direct3D8Initialization();
void Direct3D8Finalization();
void ZorDX_RenderInitialization();
void ZorDX_RenderFinalization();

// ---- Device set-up --------------------------------------------------------

// Creates the Direct3D object; false when the runtime or its entry is
// missing or refuses the SDK version.
bool StartDirect3D();
bool CreateDeviceForWindow(TComRef<IDirect3DSwapChain8>& SwapChain, HWND Window, uint8_t Fullscreen,
                           int32_t Width, int32_t Height, int32_t Bits, int32_t BackBufferCount,
                           bool Hardware, bool DepthBuffer);
bool ResetDeviceForWindow(TComRef<IDirect3DSwapChain8>& SwapChain, HWND Window, uint8_t Fullscreen,
                          int32_t Width, int32_t Height, int32_t Bits, int32_t BackBufferCount,
                          bool Hardware, bool DepthBuffer, int32_t Position);
// Rebuilds the device objects of every registered viewport after a failed
// present; ends the program when even the software device cannot be set up.
void RestoreAllViewports();
void SetDefaultStates(uint8_t ZEnable);
void SetFogStates();
void ReleaseDirect3D();

// r + g*256 + b*65536 + a*16777216 (a window colour: red in the low byte).
uint32_t PackColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a);
// Window colour to opaque A8R8G8B8; the fourth byte is ignored.
uint32_t ColorToD3D(uint32_t color);

// ---- Viewport -------------------------------------------------------------

// True when a's sort key (Depth, BlendMode, BumpMap, Layers, Texture0,
// Texture1, Texture2) is greater than or equal to the pivot's. An unordered
// depth comparison counts as "before".
bool TriangleNotBefore(const ttriangle_record& a, const ttriangle_record& pivot);

struct tdouble_vector {
    double x, y, z;
};

class TGLViewport {
public:
    TGLViewport();
    ~TGLViewport();
    TGLViewport(const TGLViewport&) = delete;
    TGLViewport& operator=(const TGLViewport&) = delete;

    void SetCamera(TGLCamera* camera) { Camera = camera; }
    TGLCamera* GetCamera() const { return Camera; }
    // Creates the device (or a swap chain) on the window; ends the program
    // with a message when that fails.
    void AttachToWindow(HWND window, int32_t width, int32_t height, uint8_t fullscreen);
    void SetBackgroundColor(uint32_t color) { BackgroundColor = color; }
    void RenderFrame();
    void DrawFrame();

    void AddTriangle(float x0, float y0, float z0, uint8_t r0, uint8_t g0, uint8_t b0, float tu0,
                     float tv0, float x1, float y1, float z1, uint8_t r1, uint8_t g1, uint8_t b1,
                     float tu1, float tv1, float x2, float y2, float z2, uint8_t r2, uint8_t g2,
                     uint8_t b2, float tu2, float tv2);
    // Adds the triangles (0, 2, 3) and (0, 1, 2).
    void AddQuad(float x0, float y0, float z0, uint8_t r0, uint8_t g0, uint8_t b0, float tu0,
                 float tv0, float x1, float y1, float z1, uint8_t r1, uint8_t g1, uint8_t b1,
                 float tu1, float tv1, float x2, float y2, float z2, uint8_t r2, uint8_t g2,
                 uint8_t b2, float tu2, float tv2, float x3, float y3, float z3, uint8_t r3,
                 uint8_t g3, uint8_t b3, float tu3, float tv3);
    void ClearTriangles() { Triangles.Count = 0; }

    // Resolves animated ids, sorts back to front and groups runs.
    void PrepareBatches();
    // Sorts positions lo..hi, each record moving with its vertex triple.
    void SortTriangles(int32_t lo, int32_t hi);
    void ResolveAnimatedTexture(int32_t index);

    HWND Handle = nullptr;
    uint32_t BackgroundColor = 0;
    TGLCamera* Camera = nullptr;
    int32_t VertexCapacity = 0;
    int32_t OverlayCapacity = 0;
    TComRef<IDirect3DSwapChain8> SwapChain;
    bool SceneBuilt = false;
    uint32_t FpsWindowStart = 0;
    uint32_t LastFrameTime = 0;
    int32_t FramesInWindow = 0;
    ttriangles_buffer Triangles;
    int32_t OverlayGroupCount = 0;
    std::vector<toverlay_group> OverlayGroups;
    int32_t OverlayTriangleCount = 0;
    std::vector<tvertex_2d> OverlayVertices;
    TComRef<IDirect3DVertexBuffer8> VertexBuffer;
    TComRef<IDirect3DVertexBuffer8> OverlayVertexBuffer;
    D3DCAPS8 Caps = {};
    tdouble_vector Translation = {0, 0, 0};
    tdouble_vector Rotation = {0, 0, 0};
    tdouble_vector Scale = {1.0, 1.0, 1.0};
    tmatrix World = IdentityMatrix;
    tmatrix Projection = IdentityMatrix;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t CurrentTexture0 = 0;
    int32_t CurrentTexture1 = 0;
    int32_t CurrentTexture2 = 0;
    uint8_t CurrentBlendMode = 0;
    uint8_t CurrentLayers = 0;
    uint16_t CurrentBumpMap = 0;
    int32_t CurrentTag = 0;
    uint32_t CurrentSpecular = 0;
    uint32_t ElapsedInWindow = 0;
    int32_t FramesPerSecond = 0;
    uint8_t Fullscreen = 0;
    uint8_t ZBufferEnabled = 1;
    tfrustum Frustum = {};
    Tanimated_textures AnimatedTextures[2];
    std::function<void()> SceneCallback = [] {};
    std::function<void()> OverlayCallback = [] {};

private:
    bool PresentPrevious();
    void SetRenderTargets();
    void BuildProjection();
    void BuildWorld();
    // Steps of the frame after BeginScene; false when the frame must end
    // at once (no vertex buffer could be made).
    bool DrawTriangleRuns();
    void DrawRun(const ttriangle_record& run, uint32_t startVertex, uint32_t length);
    void CountFrame();
    void DrawOverlay();
    void MoveTriangle(int32_t from, int32_t to);
};
