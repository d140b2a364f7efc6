// The per-vertex half of the device: reading flexible-format vertices,
// transforming them to clip space, vertex fog, clipping against the view
// volume before the divide, and the viewport mapping that hands screen-space
// triangles to the rasteriser.
#pragma once

#include "Rasterizer.h"

#include <vector>

namespace d3d8soft {

struct TVertexLayout {
    bool PreTransformed = false;
    int Size = 0;
    int Diffuse = -1, Specular = -1;  // byte offsets, -1 when absent
    int TexCount = 0;
    int Tex[kMaxTexCoordSets] = {};
    int TexFloats[kMaxTexCoordSets] = {};
};

// False for formats this device cannot draw (blend weights, no position).
bool DescribeVertexFormat(DWORD fvf, TVertexLayout& layout);

enum class TFogSource { None, SpecularAlpha, Linear, Exp, Exp2 };

struct TTransformSetup {
    D3DMATRIX WorldViewProj{};
    D3DMATRIX WorldView{};
    D3DVIEWPORT8 Viewport{};
    bool Lighting = false;
    TFogSource Fog = TFogSource::None;
    float FogStart = 0, FogEnd = 1, FogDensity = 1;
};

// A vertex in clip space with its attributes undivided.
struct TClipVertex {
    float P[4];
    float Diffuse[4];
    float Specular[3];
    float Fog;
    float Tex[kMaxTexCoordSets][2];
};

class TVertexPipeline {
public:
    // Draws primitiveCount triangles of a list, strip or fan from vertices
    // (already checked to hold every vertex the primitives use).
    void Draw(const TTransformSetup& setup, const TVertexLayout& layout, const uint8_t* vertices,
              UINT stride, D3DPRIMITIVETYPE type, UINT primitiveCount, TRasterizer& rasterizer);

private:
    void Fetch(const TTransformSetup& setup, const TVertexLayout& layout, const uint8_t* data,
               TClipVertex& out) const;
    void DrawClipped(const TTransformSetup& setup, bool preTransformed, const TClipVertex& a,
                     const TClipVertex& b, const TClipVertex& c, TRasterizer& rasterizer);

    std::vector<TClipVertex> vertices_;
};

// Most primitives one draw call may ask for, as the capabilities report.
constexpr UINT kMaxPrimitiveCount = 0x00FFFFFF;

// Vertices needed by primitiveCount primitives of the type; 0 for types
// that are not triangles and for counts above kMaxPrimitiveCount.
UINT VerticesForTriangles(D3DPRIMITIVETYPE type, UINT primitiveCount);

}  // namespace d3d8soft
