#include "Rasterizer.h"

#include <algorithm>
#include <cmath>

namespace d3d8soft {

namespace {

constexpr int kSubPixelBits = 8;
constexpr int64_t kSubPixel = 1 << kSubPixelBits;
// Snapped coordinates are kept within this many pixels of the origin, so
// edge products stay inside 64 bits.
constexpr float kCoordinateLimit = 1 << 20;

int64_t Snap(float v) {
    v = std::isfinite(v) ? std::clamp(v, -kCoordinateLimit, kCoordinateLimit) : 0.0f;
    return std::llround(static_cast<double>(v) * kSubPixel);
}

int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

struct TEdge {
    int64_t DX, DY, X0, Y0;
    int64_t Bias;  // 0 on top and left edges, -1 elsewhere, so ties fall inside once

    TEdge(int64_t xa, int64_t ya, int64_t xb, int64_t yb) : DX(xb - xa), DY(yb - ya), X0(xa), Y0(ya) {
        const bool topLeft = DY < 0 || (DY == 0 && DX > 0);
        Bias = topLeft ? 0 : -1;
    }
};

// Narrows [first, last] of row py to the pixels on the inner side of the edge.
void ClipSpan(const TEdge& e, int64_t py, int64_t& first, int64_t& last) {
    // E(px) = DX * (py*S - Y0) - DY * (px*S - X0) + Bias >= 0
    const int64_t c = e.DX * (py * kSubPixel - e.Y0) + e.DY * e.X0 + e.Bias;
    const int64_t step = -e.DY * kSubPixel;
    if (step > 0)
        first = std::max(first, CeilDiv(-c, step));
    else if (step < 0)
        last = std::min(last, FloorDiv(c, -step));
    else if (c < 0)
        last = first - 1;
}

TPlane MakePlane(const double (&x)[3], const double (&y)[3], double area, float f0, float f1,
                 float f2) {
    const double d1 = static_cast<double>(f1) - f0, d2 = static_cast<double>(f2) - f0;
    const double a = (d1 * (y[2] - y[0]) - d2 * (y[1] - y[0])) / area;
    const double b = (d2 * (x[1] - x[0]) - d1 * (x[2] - x[0])) / area;
    const double c = f0 - a * x[0] - b * y[0];
    return {static_cast<float>(a), static_cast<float>(b), static_cast<float>(c)};
}

// The colour shared by the three corners, if they share one: channels are
// compared undivided, and only whole values count, as vertex colours are.
bool FlatColor(const TScreenVertex* const* v, const float* (*channels)(const TScreenVertex&),
               int count, uint32_t& argb) {
    uint32_t packed = count == 3 ? 0xFF000000u : 0u;
    for (int k = 0; k < count; ++k) {
        const float first = channels(*v[0])[k] / v[0]->InvW;
        const float rounded = std::nearbyint(first);
        if (!(std::fabs(first - rounded) < 1e-3f) || rounded < 0.0f || rounded > 255.0f) return false;
        for (int corner = 1; corner < 3; ++corner)
            if (!(std::fabs(channels(*v[corner])[k] / v[corner]->InvW - rounded) < 1e-3f)) return false;
        const int shift = k == 3 ? 24 : 16 - 8 * k;
        packed |= static_cast<uint32_t>(rounded) << shift;
    }
    argb = packed;
    return true;
}

}  // namespace


void TRasterizer::Begin(const TPixelState& state, const TRasterTarget& target, DWORD cullMode,
                        const TStageTexture* stages) {
    shader_ = TControl::Instance().PlainPixelPipeline() ? isa_baseline::ShadeSpan : SelectSpanShader();
    state_ = state;
    target_ = target;
    cullMode_ = cullMode;
    std::copy(stages, stages + kMaxStages, stages_);
}

void TRasterizer::ChooseSamplers(const TScreenVertex* const* v, double screenArea,
                                 TTriangleSetup& setup) const {
    for (int s = 0; s < state_.StageCount; ++s) {
        const TStageSetup& st = state_.Stages[s];
        const TStageTexture& stage = stages_[s];
        if (!st.ReadsTexture || stage.Texture == nullptr) continue;
        // Texels per pixel over the whole triangle decide magnification
        // against minification, and the mip level.
        const float* t[3] = {v[0]->Tex[st.TexCoord], v[1]->Tex[st.TexCoord], v[2]->Tex[st.TexCoord]};
        double u[3], w[3];
        for (int k = 0; k < 3; ++k) {
            u[k] = t[k][0] / v[k]->InvW;
            w[k] = t[k][1] / v[k]->InvW;
        }
        const TSurface& top = stage.Texture->Level(0);
        const double texelArea = std::fabs((u[1] - u[0]) * (w[2] - w[0]) - (u[2] - u[0]) * (w[1] - w[0])) *
                                 top.Width() * top.Height();
        const double ratio = screenArea > 0 ? texelArea / screenArea : 1.0;
        const bool minified = ratio > 1.0;
        int level = 0;
        if (minified && stage.MipFilter != D3DTEXF_NONE && stage.Texture->LevelCount() > 1) {
            const double lod = 0.5 * std::log2(ratio);
            level = std::clamp(static_cast<int>(std::lround(lod)), 0, stage.Texture->LevelCount() - 1);
        }
        const TSurface& surface = stage.Texture->Level(level);
        const DWORD filter = minified ? stage.MinFilter : stage.MagFilter;
        setup.Samplers[s] = {surface.Expanded(), surface.Width(), surface.Height(),
                             surface.ExpandedStride(),
                             filter != D3DTEXF_POINT && filter != D3DTEXF_NONE};
    }
}

void TRasterizer::DrawTriangle(const TScreenVertex& v0, const TScreenVertex& v1,
                               const TScreenVertex& v2) {
    const TScreenVertex* v[3] = {&v0, &v1, &v2};
    int64_t X[3], Y[3];
    for (int k = 0; k < 3; ++k) {
        X[k] = Snap(v[k]->X);
        Y[k] = Snap(v[k]->Y);
    }
    // Positive area: clockwise as seen on screen (y grows downwards).
    int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
    if (area == 0) return;
    if ((cullMode_ == D3DCULL_CCW && area < 0) || (cullMode_ == D3DCULL_CW && area > 0)) return;
    if (area < 0) {
        std::swap(v[1], v[2]);
        std::swap(X[1], X[2]);
        std::swap(Y[1], Y[2]);
        area = -area;
    }

    const RECT& clip = target_.Clip;
    const int64_t minX = std::max<int64_t>(clip.left, CeilDiv(std::min({X[0], X[1], X[2]}), kSubPixel));
    const int64_t maxX = std::min<int64_t>(clip.right - 1, FloorDiv(std::max({X[0], X[1], X[2]}), kSubPixel));
    const int64_t minY = std::max<int64_t>(clip.top, CeilDiv(std::min({Y[0], Y[1], Y[2]}), kSubPixel));
    const int64_t maxY = std::min<int64_t>(clip.bottom - 1, FloorDiv(std::max({Y[0], Y[1], Y[2]}), kSubPixel));
    if (minX > maxX || minY > maxY) return;

    // Interpolation planes from the snapped positions.
    double x[3], y[3];
    for (int k = 0; k < 3; ++k) {
        x[k] = static_cast<double>(X[k]) / kSubPixel;
        y[k] = static_cast<double>(Y[k]) / kSubPixel;
    }
    const double a = static_cast<double>(area) / (kSubPixel * kSubPixel);
    auto plane = [&](auto field) { return MakePlane(x, y, a, field(*v[0]), field(*v[1]), field(*v[2])); };
    TTriangleSetup setup;
    setup.Z = plane([](const TScreenVertex& p) { return p.Z; });
    setup.InvW = plane([](const TScreenVertex& p) { return p.InvW; });
    if (state_.Needs & kNeedDiffuse) {
        setup.FlatDiffuse = FlatColor(v, [](const TScreenVertex& p) -> const float* { return p.Diffuse; }, 4,
                                      setup.FlatDiffuseColor);
        for (int k = 0; k < 4 && !setup.FlatDiffuse; ++k)
            setup.Diffuse[k] = plane([k](const TScreenVertex& p) { return p.Diffuse[k]; });
    }
    if (state_.Needs & kNeedSpecular) {
        setup.FlatSpecular = FlatColor(v, [](const TScreenVertex& p) -> const float* { return p.Specular; }, 3,
                                       setup.FlatSpecularColor);
        for (int k = 0; k < 3 && !setup.FlatSpecular; ++k)
            setup.Specular[k] = plane([k](const TScreenVertex& p) { return p.Specular[k]; });
    }
    if (state_.Needs & kNeedFog) setup.Fog = plane([](const TScreenVertex& p) { return p.Fog; });
    bool planned[kMaxTexCoordSets] = {};
    for (int s = 0; s < state_.StageCount; ++s) {
        const int set = state_.Stages[s].TexCoord;
        if (!state_.Stages[s].ReadsTexture || planned[set]) continue;
        planned[set] = true;
        for (int k = 0; k < 2; ++k)
            setup.Tex[set][k] = plane([set, k](const TScreenVertex& p) { return p.Tex[set][k]; });
    }
    ChooseSamplers(v, a, setup);

    const TEdge edges[3] = {TEdge(X[0], Y[0], X[1], Y[1]), TEdge(X[1], Y[1], X[2], Y[2]),
                            TEdge(X[2], Y[2], X[0], Y[0])};
    for (int64_t py = minY; py <= maxY; ++py) {
        int64_t first = minX, last = maxX;
        for (const TEdge& e : edges) ClipSpan(e, py, first, last);
        if (first > last) continue;
        TSpan span;
        span.Y = static_cast<int>(py);
        span.X0 = static_cast<int>(first);
        span.X1 = static_cast<int>(last + 1);
        span.ColorRow = target_.Color->Row<uint32_t>(span.Y);
        span.DepthRow = target_.Depth != nullptr ? target_.Depth->Row<uint16_t>(span.Y) : nullptr;
        shader_(state_, setup, span);
    }
}

}  // namespace d3d8soft
