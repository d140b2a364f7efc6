// The per-pixel half of the device: given a triangle's interpolation planes
// and the state of a draw, shade a horizontal run of covered pixels (depth
// test, texture stages, specular, fog, alpha test, blending, writes).
//
// Pixels are shaded in chunks, one attribute or one stage at a time over the
// whole chunk, so that the choice of operation is made once per chunk and
// the loops inside are plain array arithmetic the compiler turns into SIMD.
// The same source is built for the baseline instruction set and for AVX2;
// SelectSpanShader picks one at run time.
#pragma once

#include "States.h"

#include <cstdint>

namespace d3d8soft {

// value(x, y) = A * x + B * y + C at the pixel centre (x, y).
struct TPlane {
    float A = 0, B = 0, C = 0;
};

struct TSampler {
    // A8R8G8B8 rows Stride texels apart; each row and the rows as a whole
    // repeat their first texel after the last, so a texel's right and lower
    // neighbours need no wrapping.
    const uint32_t* Texels = nullptr;
    int Width = 0, Height = 0, Stride = 0;
    bool Linear = false;
};

enum : uint32_t {
    kNeedDiffuse = 1u << 0,
    kNeedSpecular = 1u << 1,
    kNeedFog = 1u << 2,
    kNeedAlpha = 1u << 3,  // the pixel's alpha reaches a test, a blend or the target
};

struct TStageSetup {
    DWORD ColorOp, ColorArg1, ColorArg2;
    DWORD AlphaOp, AlphaArg1, AlphaArg2;
    int TexCoord;          // which interpolated coordinate set the stage reads
    bool ReadsTexture;     // its arguments name D3DTA_TEXTURE
    bool HasTexture;       // a texture is bound (otherwise it reads white)
};

// Everything a draw fixes for its pixels.
struct TPixelState {
    int StageCount = 0;  // stages before the first disabled one
    TStageSetup Stages[kMaxStages];
    uint32_t Needs = 0;
    bool DepthTest = false, DepthWrite = false;
    DWORD DepthFunc = D3DCMP_LESSEQUAL;
    bool AlphaTest = false;
    DWORD AlphaFunc = D3DCMP_ALWAYS;
    int AlphaRef = 0;
    bool Blend = false;
    DWORD SrcBlend = D3DBLEND_ONE, DestBlend = D3DBLEND_ZERO;
    bool SpecularAdd = false;
    bool Fog = false;
    uint32_t FogColor = 0;
    uint32_t TextureFactor = 0xFFFFFFFF;
    bool TargetHasAlpha = false;
};

// What one triangle adds: its planes and the sampler each stage reads.
struct TTriangleSetup {
    TPlane Z, InvW;
    TPlane Diffuse[4];      // red, green, blue, alpha in 0..255, divided by w
    TPlane Specular[3];     // red, green, blue in 0..255, divided by w
    TPlane Fog;             // fog factor 0..1, divided by w
    TPlane Tex[kMaxTexCoordSets][2];
    TSampler Samplers[kMaxStages];
    // Colours equal at all three corners need no interpolation.
    bool FlatDiffuse = false, FlatSpecular = false;
    uint32_t FlatDiffuseColor = 0, FlatSpecularColor = 0;  // A8R8G8B8
};

struct TSpan {
    int Y, X0, X1;          // pixels X0 .. X1 - 1 of row Y
    uint32_t* ColorRow;     // the row of the render target
    uint16_t* DepthRow;     // the row of the depth buffer, or null
};

using TSpanShader = void (*)(const TPixelState& state, const TTriangleSetup& triangle,
                             const TSpan& span);

TSpanShader SelectSpanShader();

// The two builds of the shader.
namespace isa_baseline {
void ShadeSpan(const TPixelState& state, const TTriangleSetup& triangle, const TSpan& span);
}
namespace isa_avx2 {
void ShadeSpan(const TPixelState& state, const TTriangleSetup& triangle, const TSpan& span);
}

}  // namespace d3d8soft
