// Triangle set-up and scan conversion: snapped edge functions with the
// top-left fill rule over pixel centres at integer coordinates, culling by
// screen-space winding, interpolation planes, and per-triangle texture level
// and filter choice. Covered spans go to the pixel pipeline.
#pragma once

#include "PixelPipeline.h"
#include "Resources.h"

namespace d3d8soft {

// A vertex after the divide: screen position, depth, 1/w, and attributes
// already divided by w.
struct TScreenVertex {
    float X, Y, Z, InvW;
    float Diffuse[4];
    float Specular[3];
    float Fog;
    float Tex[kMaxTexCoordSets][2];
};

struct TRasterTarget {
    TSurface* Color = nullptr;
    TSurface* Depth = nullptr;  // null: no depth buffer
    RECT Clip{};                // pixels that may be written (the viewport)
};

// What each stage samples from, for the triangle's filter and level choice.
struct TStageTexture {
    const TTexture* Texture = nullptr;
    DWORD MagFilter = D3DTEXF_POINT, MinFilter = D3DTEXF_POINT, MipFilter = D3DTEXF_NONE;
};

class TRasterizer {
public:
    // Fixes the state of the draw that follows.
    void Begin(const TPixelState& state, const TRasterTarget& target, DWORD cullMode,
               const TStageTexture* stages);
    void DrawTriangle(const TScreenVertex& v0, const TScreenVertex& v1, const TScreenVertex& v2);

private:
    void ChooseSamplers(const TScreenVertex* const* v, double screenArea, TTriangleSetup& setup) const;

    TSpanShader shader_ = nullptr;
    TPixelState state_;
    TRasterTarget target_;
    DWORD cullMode_ = D3DCULL_CCW;
    TStageTexture stages_[kMaxStages];
};

}  // namespace d3d8soft
