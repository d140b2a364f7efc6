#include "VertexPipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace d3d8soft {

namespace {

float ReadFloat(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void ReadColor(const uint8_t* p, float* out, int channels) {
    // D3DCOLOR in memory: blue, green, red, alpha.
    out[0] = p[2];
    out[1] = p[1];
    out[2] = p[0];
    if (channels == 4) out[3] = p[3];
}

void Transform(const float in[4], const D3DMATRIX& m, float out[4]) {
    for (int col = 0; col < 4; ++col)
        out[col] = in[0] * m.m[0][col] + in[1] * m.m[1][col] + in[2] * m.m[2][col] +
                   in[3] * m.m[3][col];
}

// Signed distances to the six planes of the view volume; inside is >= 0.
constexpr int kPlanes = 6;
float PlaneDistance(const TClipVertex& v, int plane) {
    const float x = v.P[0], y = v.P[1], z = v.P[2], w = v.P[3];
    switch (plane) {
        case 0: return z;
        case 1: return w - z;
        case 2: return w + x;
        case 3: return w - x;
        case 4: return w + y;
        default: return w - y;
    }
}

unsigned OutCode(const TClipVertex& v) {
    unsigned code = 0;
    for (int plane = 0; plane < kPlanes; ++plane)
        if (!(PlaneDistance(v, plane) >= 0.0f)) code |= 1u << plane;
    return code;
}

TClipVertex Lerp(const TClipVertex& a, const TClipVertex& b, float t) {
    TClipVertex r;
    const float* pa = reinterpret_cast<const float*>(&a);
    const float* pb = reinterpret_cast<const float*>(&b);
    float* pr = reinterpret_cast<float*>(&r);
    constexpr int kFloats = sizeof(TClipVertex) / sizeof(float);
    for (int i = 0; i < kFloats; ++i) pr[i] = pa[i] + (pb[i] - pa[i]) * t;
    return r;
}

// Screen-space vertex; false when w cannot be divided by.
bool Project(const TTransformSetup& setup, bool preTransformed, const TClipVertex& v,
             TScreenVertex& s) {
    float invW;
    if (preTransformed) {
        s.X = v.P[0];
        s.Y = v.P[1];
        s.Z = v.P[2];
        invW = v.P[3];
    } else {
        if (!(v.P[3] > 0.0f)) return false;
        invW = 1.0f / v.P[3];
        const D3DVIEWPORT8& vp = setup.Viewport;
        s.X = static_cast<float>(vp.X) + (v.P[0] * invW + 1.0f) * 0.5f * static_cast<float>(vp.Width);
        s.Y = static_cast<float>(vp.Y) + (1.0f - v.P[1] * invW) * 0.5f * static_cast<float>(vp.Height);
        s.Z = vp.MinZ + v.P[2] * invW * (vp.MaxZ - vp.MinZ);
    }
    if (!(invW > 0.0f) || !std::isfinite(invW)) return false;
    s.InvW = invW;
    for (int k = 0; k < 4; ++k) s.Diffuse[k] = v.Diffuse[k] * invW;
    for (int k = 0; k < 3; ++k) s.Specular[k] = v.Specular[k] * invW;
    s.Fog = v.Fog * invW;
    for (int t = 0; t < kMaxTexCoordSets; ++t)
        for (int k = 0; k < 2; ++k) s.Tex[t][k] = v.Tex[t][k] * invW;
    return true;
}

}  // namespace

bool DescribeVertexFormat(DWORD fvf, TVertexLayout& layout) {
    layout = TVertexLayout{};
    int offset;
    switch (fvf & D3DFVF_POSITION_MASK) {
        case D3DFVF_XYZ: offset = 12; break;
        case D3DFVF_XYZRHW: offset = 16; layout.PreTransformed = true; break;
        default: return false;
    }
    if (fvf & D3DFVF_NORMAL) offset += 12;
    if (fvf & D3DFVF_PSIZE) offset += 4;
    if (fvf & D3DFVF_DIFFUSE) {
        layout.Diffuse = offset;
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        layout.Specular = offset;
        offset += 4;
    }
    layout.TexCount = static_cast<int>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    if (layout.TexCount > kMaxTexCoordSets) return false;
    static constexpr int kFloatsOfSize[4] = {2, 3, 4, 1};
    for (int t = 0; t < layout.TexCount; ++t) {
        layout.Tex[t] = offset;
        layout.TexFloats[t] = kFloatsOfSize[(fvf >> (16 + 2 * t)) & 3];
        offset += 4 * layout.TexFloats[t];
    }
    layout.Size = offset;
    return true;
}

UINT VerticesForTriangles(D3DPRIMITIVETYPE type, UINT primitiveCount) {
    if (primitiveCount == 0 || primitiveCount > kMaxPrimitiveCount) return 0;
    switch (type) {
        case D3DPT_TRIANGLELIST: return primitiveCount * 3;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN: return primitiveCount + 2;
        default: return 0;
    }
}

void TVertexPipeline::Fetch(const TTransformSetup& setup, const TVertexLayout& layout,
                            const uint8_t* data, TClipVertex& out) const {
    const float position[4] = {ReadFloat(data), ReadFloat(data + 4), ReadFloat(data + 8),
                               layout.PreTransformed ? ReadFloat(data + 12) : 1.0f};
    if (layout.PreTransformed)
        std::copy(position, position + 4, out.P);
    else
        Transform(position, setup.WorldViewProj, out.P);

    out.Diffuse[0] = out.Diffuse[1] = out.Diffuse[2] = out.Diffuse[3] = 255.0f;
    out.Specular[0] = out.Specular[1] = out.Specular[2] = 0.0f;
    float specularAlpha = 255.0f;
    if (layout.Diffuse >= 0) ReadColor(data + layout.Diffuse, out.Diffuse, 4);
    if (layout.Specular >= 0) {
        ReadColor(data + layout.Specular, out.Specular, 3);
        specularAlpha = data[layout.Specular + 3];
    }
    if (setup.Lighting && !layout.PreTransformed) {
        // No lights can be set on this device and the material is black, so
        // lit vertices keep only their diffuse alpha.
        out.Diffuse[0] = out.Diffuse[1] = out.Diffuse[2] = 0.0f;
        out.Specular[0] = out.Specular[1] = out.Specular[2] = 0.0f;
    }

    float fog = 1.0f;
    if (setup.Fog == TFogSource::SpecularAlpha || (setup.Fog != TFogSource::None && layout.PreTransformed)) {
        fog = specularAlpha / 255.0f;
    } else if (setup.Fog != TFogSource::None) {
        float eye[4];
        Transform(position, setup.WorldView, eye);
        const float distance = std::fabs(eye[2]);
        switch (setup.Fog) {
            case TFogSource::Linear:
                fog = setup.FogEnd != setup.FogStart
                          ? (setup.FogEnd - distance) / (setup.FogEnd - setup.FogStart)
                          : (distance < setup.FogEnd ? 1.0f : 0.0f);
                break;
            case TFogSource::Exp: fog = std::exp(-setup.FogDensity * distance); break;
            default: {
                const float d = setup.FogDensity * distance;
                fog = std::exp(-d * d);
                break;
            }
        }
        fog = std::isfinite(fog) ? std::clamp(fog, 0.0f, 1.0f) : 0.0f;
    }
    out.Fog = fog;

    for (int t = 0; t < kMaxTexCoordSets; ++t) {
        out.Tex[t][0] = out.Tex[t][1] = 0.0f;
        if (t >= layout.TexCount) continue;
        out.Tex[t][0] = ReadFloat(data + layout.Tex[t]);
        if (layout.TexFloats[t] > 1) out.Tex[t][1] = ReadFloat(data + layout.Tex[t] + 4);
    }
}

void TVertexPipeline::Draw(const TTransformSetup& setup, const TVertexLayout& layout,
                           const uint8_t* vertices, UINT stride, D3DPRIMITIVETYPE type,
                           UINT primitiveCount, TRasterizer& rasterizer) {
    const UINT count = VerticesForTriangles(type, primitiveCount);
    vertices_.resize(count);
    for (UINT i = 0; i < count; ++i)
        Fetch(setup, layout, vertices + static_cast<size_t>(i) * stride, vertices_[i]);
    for (UINT p = 0; p < primitiveCount; ++p) {
        UINT i0, i1, i2;
        if (type == D3DPT_TRIANGLELIST) {
            i0 = 3 * p, i1 = 3 * p + 1, i2 = 3 * p + 2;
        } else if (type == D3DPT_TRIANGLESTRIP) {
            // Every second triangle of a strip is turned round so that all
            // keep the winding of the first.
            i0 = p, i1 = (p & 1) ? p + 2 : p + 1, i2 = (p & 1) ? p + 1 : p + 2;
        } else {
            i0 = 0, i1 = p + 1, i2 = p + 2;
        }
        DrawClipped(setup, layout.PreTransformed, vertices_[i0], vertices_[i1], vertices_[i2],
                    rasterizer);
    }
}

void TVertexPipeline::DrawClipped(const TTransformSetup& setup, bool preTransformed,
                                  const TClipVertex& a, const TClipVertex& b,
                                  const TClipVertex& c, TRasterizer& rasterizer) {
    // Pre-transformed vertices are already on the screen: the rasteriser's
    // viewport rectangle is their only clip.
    const unsigned codes[3] = {preTransformed ? 0u : OutCode(a), preTransformed ? 0u : OutCode(b),
                               preTransformed ? 0u : OutCode(c)};
    if (codes[0] & codes[1] & codes[2]) return;

    // Each plane can add one vertex to the polygon.
    constexpr int kMaxVertices = 3 + kPlanes;
    TClipVertex buffers[2][kMaxVertices];
    TClipVertex* polygon = buffers[0];
    int n = 3;
    polygon[0] = a;
    polygon[1] = b;
    polygon[2] = c;
    const unsigned crossing = codes[0] | codes[1] | codes[2];
    for (int plane = 0; plane < kPlanes && n >= 3; ++plane) {
        if (!(crossing & (1u << plane))) continue;
        TClipVertex* out = polygon == buffers[0] ? buffers[1] : buffers[0];
        int m = 0;
        for (int i = 0; i < n; ++i) {
            const TClipVertex& p = polygon[i];
            const TClipVertex& q = polygon[(i + 1) % n];
            const float dp = PlaneDistance(p, plane), dq = PlaneDistance(q, plane);
            const bool pIn = dp >= 0.0f, qIn = dq >= 0.0f;
            if (pIn) out[m++] = p;
            if (pIn != qIn) out[m++] = Lerp(p, q, dp / (dp - dq));
        }
        polygon = out;
        n = m;
    }
    if (n < 3) return;

    TScreenVertex screen[kMaxVertices];
    for (int i = 0; i < n; ++i)
        if (!Project(setup, preTransformed, polygon[i], screen[i])) return;
    for (int i = 1; i + 1 < n; ++i) rasterizer.DrawTriangle(screen[0], screen[i], screen[i + 1]);
}

}  // namespace d3d8soft
