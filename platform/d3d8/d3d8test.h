// The device module's control interface for tests: a log of the calls the
// device received, and failures injected into chosen operations so that the
// callers' failure paths run for real. Reached through the module's exported
// "D3D8SoftControl" function:
//
//   auto control = reinterpret_cast<D3D8SoftControlProc>(
//       GetProcAddress(module, D3D8SoftControlName))();
#pragma once

#include "d3d8.h"

#include <cstddef>
#include <string>
#include <vector>

enum class D3DCallKind {
    CreateDevice,
    GetAdapterDisplayMode,
    Reset,
    CreateAdditionalSwapChain,
    Present,           // Object = the device or the swap chain presented through
    GetBackBuffer,
    GetDepthStencilSurface,
    SetRenderTarget,   // Pointer = render target, Args[0] = depth surface
    Clear,             // Args: flags, colour, depth (bit pattern), stencil
    BeginScene,
    EndScene,
    SetTransform,      // Args[0] = state; Matrix = the matrix
    SetViewport,       // Args: X, Y, Width, Height
    SetRenderState,    // Args: state, value
    SetTextureStageState,  // Args: stage, type, value
    SetTexture,        // Args[0] = stage; Pointer = texture or null
    SetStreamSource,   // Args: stream, stride; Pointer = vertex buffer
    SetVertexShader,   // Args[0] = handle (a flexible vertex format code)
    DrawPrimitive,     // Args: type, start vertex, primitive count
    DrawPrimitiveUP,   // Args: type, primitive count, stride
    CreateVertexBuffer,  // Args: length, usage, fvf, pool; Pointer = the buffer
    LockVertexBuffer,    // Args: offset, size, flags; Pointer = the buffer
    UnlockVertexBuffer,  // Pointer = the buffer
    CreateTexture,       // Args: width, height, levels, format (usage, pool in Args2)
    LockTexture,         // Args: level, flags; Pointer = the texture
    UnlockTexture,       // Args: level; Pointer = the texture
};

struct D3DCallRecord {
    D3DCallKind Kind;
    const void* Object = nullptr;   // the object called
    const void* Pointer = nullptr;  // the object passed or created, if any
    DWORD Args[4] = {0, 0, 0, 0};
    DWORD Args2[2] = {0, 0};
    D3DMATRIX Matrix{};
    HRESULT Result = D3D_OK;
    // Readable form, for example "SetRenderState(D3DRS_ZENABLE, 1)" or
    // "SetTexture(0, null)".
    std::string Text;
};

// Operations whose failure can be injected.
enum class D3DFailPoint {
    Present,
    CreateVertexBuffer,
    CreateDevice,
    CreateTexture,
    GetAdapterDisplayMode,
    Reset,
    CreateAdditionalSwapChain,
    LockVertexBuffer,
    LockTexture,
    Count
};

class ID3D8SoftControl {
public:
    // Recording starts off; calls made while it is on are appended.
    virtual void StartCallLog() = 0;
    virtual void StopCallLog() = 0;
    virtual void ClearCallLog() = 0;
    virtual std::vector<D3DCallRecord> CallLog() const = 0;
    // The readable forms of the log, one per call.
    virtual std::vector<std::string> CallLogText() const = 0;

    // The next count calls of the operation fail (counts add up).
    virtual void FailNext(D3DFailPoint point, int count) = 0;
    // Every call of the operation fails until switched off.
    virtual void SetFailAlways(D3DFailPoint point, bool fail) = 0;
    // Removes every injected failure.
    virtual void ClearFailures() = 0;

    // Shades with the plain build of the pixel pipeline even where the
    // processor offers a faster one, so tests can compare the two.
    virtual void ForcePlainPixelPipeline(bool force) = 0;

    // Objects of the module alive now (Direct3D objects, devices, swap
    // chains, surfaces, textures, buffers): lets tests see leaks.
    virtual int LiveObjects() const = 0;

protected:
    ~ID3D8SoftControl() = default;
};

using D3D8SoftControlProc = ID3D8SoftControl* (*)();
inline constexpr const char* D3D8SoftControlName = "D3D8SoftControl";
