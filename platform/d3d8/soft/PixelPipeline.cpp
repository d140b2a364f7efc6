// Built twice, with D3D8SOFT_ISA naming the namespace of each build.
#include "PixelPipeline.h"

#include <algorithm>
#include <utility>

#ifndef D3D8SOFT_ISA
#error "D3D8SOFT_ISA names the instruction-set build"
#endif

namespace d3d8soft::D3D8SOFT_ISA {

namespace {

constexpr int kChunk = 64;

struct alignas(64) TColors {
    int32_t R[kChunk], G[kChunk], B[kChunk], A[kChunk];
};

// Scratch space for one chunk of pixels.
struct TChunk {
    int N = 0;
    float Row = 0;                   // y of the row
    alignas(64) float X[kChunk];     // x of each pixel centre
    alignas(64) float W[kChunk];     // w of each pixel (1 / interpolated 1/w)
    alignas(64) float U[kChunk], V[kChunk];
    alignas(64) int32_t Depth[kChunk];
    alignas(64) int32_t Fog[kChunk];
    alignas(64) uint8_t Mask[kChunk];
    TColors Diffuse, Specular, Factor, Zero, Dest;
    TColors Tex[kMaxStages];
    TColors Current[2];
    TColors Args[3];
    TColors SrcFactor, DestFactor;
};

// round(x / 255) for 0 <= x <= 65025.
inline int32_t Div255(int32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

inline int32_t Clamp255(int32_t v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Rounds to 0..255; NaN becomes 0.
inline int32_t ToByte(float v) {
    v = v > 0.0f ? v : 0.0f;
    v = v < 255.0f ? v : 255.0f;
    return static_cast<int32_t>(v + 0.5f);
}

// Floor to an integer, for values kept well inside the int range; NaN
// becomes the lower bound.
inline int32_t FloorToInt(float v) {
    v = v > -1.0e9f ? v : -1.0e9f;
    v = v < 1.0e9f ? v : 1.0e9f;
    const int32_t t = static_cast<int32_t>(v);
    return t - (v < static_cast<float>(t) ? 1 : 0);
}

template <class Body>
void WithCompare(DWORD func, Body&& body) {
    switch (func) {
        case D3DCMP_NEVER: body([](int32_t, int32_t) { return false; }); break;
        case D3DCMP_LESS: body([](int32_t a, int32_t b) { return a < b; }); break;
        case D3DCMP_EQUAL: body([](int32_t a, int32_t b) { return a == b; }); break;
        case D3DCMP_LESSEQUAL: body([](int32_t a, int32_t b) { return a <= b; }); break;
        case D3DCMP_GREATER: body([](int32_t a, int32_t b) { return a > b; }); break;
        case D3DCMP_NOTEQUAL: body([](int32_t a, int32_t b) { return a != b; }); break;
        case D3DCMP_GREATEREQUAL: body([](int32_t a, int32_t b) { return a >= b; }); break;
        default: body([](int32_t, int32_t) { return true; }); break;
    }
}

void Fill(TColors& c, uint32_t argb, int n) {
    const int32_t a = argb >> 24, r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
    for (int i = 0; i < n; ++i) {
        c.R[i] = r;
        c.G[i] = g;
        c.B[i] = b;
        c.A[i] = a;
    }
}

void Unpack(const uint32_t* pixels, TColors& c, int n) {
    for (int i = 0; i < n; ++i) {
        const uint32_t p = pixels[i];
        c.A[i] = p >> 24;
        c.R[i] = (p >> 16) & 255;
        c.G[i] = (p >> 8) & 255;
        c.B[i] = p & 255;
    }
}

// ---- Interpolation -------------------------------------------------------

// Depth values of the chunk, and the mask of pixels passing the depth test.
void TestDepth(const TPixelState& state, const TTriangleSetup& tri, TChunk& c,
               const uint16_t* depthRow) {
    const float zRow = tri.Z.B * c.Row + tri.Z.C;
    for (int i = 0; i < c.N; ++i) {
        float z = tri.Z.A * c.X[i] + zRow;
        z = z > 0.0f ? z : 0.0f;
        z = z < 1.0f ? z : 1.0f;
        c.Depth[i] = static_cast<int32_t>(z * 65535.0f + 0.5f);
    }
    WithCompare(state.DepthFunc, [&](auto passes) {
        for (int i = 0; i < c.N; ++i) c.Mask[i] = passes(c.Depth[i], depthRow[i]) ? 1 : 0;
    });
}

void ComputeW(const TTriangleSetup& tri, TChunk& c) {
    const float row = tri.InvW.B * c.Row + tri.InvW.C;
    for (int i = 0; i < c.N; ++i) c.W[i] = 1.0f / (tri.InvW.A * c.X[i] + row);
}

// Perspective-correct value of a plane that holds value / w.
void Interpolate(const TPlane& plane, const TChunk& c, float* out) {
    const float row = plane.B * c.Row + plane.C;
    for (int i = 0; i < c.N; ++i) out[i] = (plane.A * c.X[i] + row) * c.W[i];
}

void InterpolateByte(const TPlane& plane, const TChunk& c, int32_t* out) {
    const float row = plane.B * c.Row + plane.C;
    for (int i = 0; i < c.N; ++i) out[i] = ToByte((plane.A * c.X[i] + row) * c.W[i]);
}

// Colours with three planes read as opaque.
void InterpolateColors(const TPlane* planes, int channels, const TChunk& c, TColors& out) {
    int32_t* targets[4] = {out.R, out.G, out.B, out.A};
    for (int k = 0; k < channels; ++k) InterpolateByte(planes[k], c, targets[k]);
    if (channels == 3) std::fill(out.A, out.A + c.N, 255);
}

// ---- Sampling ------------------------------------------------------------

struct TTexelIndex {
    alignas(64) int32_t I00[kChunk], I01[kChunk], I10[kChunk], I11[kChunk];
    alignas(64) int32_t FX[kChunk], FY[kChunk];
};

// Coordinates in 1/256 texel are split into a wrapped texel and a fraction.
template <bool Pow2>
inline void Wrap(int32_t fixed, int size, int32_t& texel, int32_t& next) {
    if constexpr (Pow2) {
        texel = (fixed >> 8) & (size - 1);
        next = (texel + 1) & (size - 1);
    } else {
        texel = (fixed >> 8) % size;
        if (texel < 0) texel += size;
        next = texel + 1 == size ? 0 : texel + 1;
    }
}

template <bool Pow2>
void LinearIndices(const TSampler& s, const TChunk& c, TTexelIndex& idx) {
    const float su = static_cast<float>(s.Width) * 256.0f;
    const float sv = static_cast<float>(s.Height) * 256.0f;
    for (int i = 0; i < c.N; ++i) {
        // Texel centres sit at +0.5: shift by half a texel before splitting.
        const int32_t fu = FloorToInt(c.U[i] * su - 128.0f);
        const int32_t fv = FloorToInt(c.V[i] * sv - 128.0f);
        int32_t x0, x1, y0, y1;
        Wrap<Pow2>(fu, s.Width, x0, x1);
        Wrap<Pow2>(fv, s.Height, y0, y1);
        idx.FX[i] = fu & 255;
        idx.FY[i] = fv & 255;
        idx.I00[i] = y0 * s.Width + x0;
        idx.I01[i] = y0 * s.Width + x1;
        idx.I10[i] = y1 * s.Width + x0;
        idx.I11[i] = y1 * s.Width + x1;
    }
}

void SampleLinear(const TSampler& s, const TChunk& c, TColors& out) {
    TTexelIndex idx;
    const bool pow2 = (s.Width & (s.Width - 1)) == 0 && (s.Height & (s.Height - 1)) == 0;
    if (pow2)
        LinearIndices<true>(s, c, idx);
    else
        LinearIndices<false>(s, c, idx);
    const uint32_t* texels = s.Texels;
    for (int i = 0; i < c.N; ++i) {
        const uint32_t t00 = texels[idx.I00[i]], t01 = texels[idx.I01[i]];
        const uint32_t t10 = texels[idx.I10[i]], t11 = texels[idx.I11[i]];
        const int32_t fx = idx.FX[i], fy = idx.FY[i];
        const int32_t w00 = (256 - fx) * (256 - fy), w01 = fx * (256 - fy);
        const int32_t w10 = (256 - fx) * fy, w11 = fx * fy;
        auto channel = [&](int shift) {
            return (static_cast<int32_t>((t00 >> shift) & 255) * w00 +
                    static_cast<int32_t>((t01 >> shift) & 255) * w01 +
                    static_cast<int32_t>((t10 >> shift) & 255) * w10 +
                    static_cast<int32_t>((t11 >> shift) & 255) * w11 + 32768) >>
                   16;
        };
        out.B[i] = channel(0);
        out.G[i] = channel(8);
        out.R[i] = channel(16);
        out.A[i] = channel(24);
    }
}

void SamplePoint(const TSampler& s, const TChunk& c, TColors& out) {
    const float su = static_cast<float>(s.Width) * 256.0f;
    const float sv = static_cast<float>(s.Height) * 256.0f;
    const bool pow2 = (s.Width & (s.Width - 1)) == 0 && (s.Height & (s.Height - 1)) == 0;
    alignas(64) uint32_t texel[kChunk];
    for (int i = 0; i < c.N; ++i) {
        int32_t x, y, unused;
        const int32_t fu = FloorToInt(c.U[i] * su), fv = FloorToInt(c.V[i] * sv);
        if (pow2) {
            Wrap<true>(fu, s.Width, x, unused);
            Wrap<true>(fv, s.Height, y, unused);
        } else {
            Wrap<false>(fu, s.Width, x, unused);
            Wrap<false>(fv, s.Height, y, unused);
        }
        texel[i] = s.Texels[y * s.Width + x];
    }
    Unpack(texel, out, c.N);
}

// ---- Texture stages ------------------------------------------------------

struct TStageInputs {
    TChunk& C;
    const TPixelState& State;
    bool FactorReady = false, ZeroReady = false;

    const TColors& Source(DWORD arg, int stage, const TColors& current) {
        switch (arg & D3DTA_SELECTMASK) {
            case D3DTA_DIFFUSE: return C.Diffuse;
            case D3DTA_CURRENT: return stage == 0 ? C.Diffuse : current;
            case D3DTA_TEXTURE: return C.Tex[stage];
            case D3DTA_SPECULAR: return C.Specular;
            case D3DTA_TFACTOR:
                if (!FactorReady) Fill(C.Factor, State.TextureFactor, kChunk);
                FactorReady = true;
                return C.Factor;
            default:  // the temporary register, never written here, reads zero
                if (!ZeroReady) Fill(C.Zero, 0, kChunk);
                ZeroReady = true;
                return C.Zero;
        }
    }

    // The argument with its modifiers applied, in scratch slot `slot` when
    // a modifier changes it.
    const TColors& ColorArg(DWORD arg, int stage, const TColors& current, int slot) {
        const TColors& source = Source(arg, stage, current);
        const bool complement = (arg & D3DTA_COMPLEMENT) != 0;
        const bool replicate = (arg & D3DTA_ALPHAREPLICATE) != 0;
        if (!complement && !replicate) return source;
        TColors& out = C.Args[slot];
        const int32_t flip = complement ? 255 : 0;
        const int32_t sign = complement ? -1 : 1;
        const int32_t* r = replicate ? source.A : source.R;
        const int32_t* g = replicate ? source.A : source.G;
        const int32_t* b = replicate ? source.A : source.B;
        for (int i = 0; i < C.N; ++i) {
            out.R[i] = flip + sign * r[i];
            out.G[i] = flip + sign * g[i];
            out.B[i] = flip + sign * b[i];
            out.A[i] = flip + sign * source.A[i];
        }
        return out;
    }

    const int32_t* AlphaArg(DWORD arg, int stage, const TColors& current, int slot) {
        const TColors& source = Source(arg, stage, current);
        if ((arg & D3DTA_COMPLEMENT) == 0) return source.A;
        int32_t* out = C.Args[slot].A;
        for (int i = 0; i < C.N; ++i) out[i] = 255 - source.A[i];
        return out;
    }
};

bool UsesArg1(DWORD op) { return op != D3DTOP_SELECTARG2; }
bool UsesArg2(DWORD op) { return op != D3DTOP_SELECTARG1; }

template <class F>
void ForChannel(const int32_t* a, const int32_t* b, int32_t* out, int n, F f) {
    for (int i = 0; i < n; ++i) out[i] = f(a[i], b[i]);
}

// One operation on one channel; false for operations this device lacks.
bool ApplyOp(DWORD op, const int32_t* a, const int32_t* b, int32_t* out, int n) {
    switch (op) {
        case D3DTOP_SELECTARG1: ForChannel(a, a, out, n, [](int32_t x, int32_t) { return x; }); break;
        case D3DTOP_SELECTARG2: ForChannel(b, b, out, n, [](int32_t x, int32_t) { return x; }); break;
        case D3DTOP_MODULATE:
            ForChannel(a, b, out, n, [](int32_t x, int32_t y) { return Div255(x * y); });
            break;
        case D3DTOP_MODULATE2X:
            ForChannel(a, b, out, n,
                       [](int32_t x, int32_t y) { return Div255(std::min(2 * x * y, 65025)); });
            break;
        case D3DTOP_MODULATE4X:
            ForChannel(a, b, out, n,
                       [](int32_t x, int32_t y) { return Div255(std::min(4 * x * y, 65025)); });
            break;
        case D3DTOP_ADD:
            ForChannel(a, b, out, n, [](int32_t x, int32_t y) { return std::min(x + y, 255); });
            break;
        case D3DTOP_ADDSIGNED:
            ForChannel(a, b, out, n, [](int32_t x, int32_t y) { return Clamp255(x + y - 128); });
            break;
        case D3DTOP_ADDSIGNED2X:
            ForChannel(a, b, out, n,
                       [](int32_t x, int32_t y) { return Clamp255(2 * (x + y - 128)); });
            break;
        case D3DTOP_SUBTRACT:
            ForChannel(a, b, out, n, [](int32_t x, int32_t y) { return std::max(x - y, 0); });
            break;
        default:
            return false;
    }
    return true;
}

// 4 x ((a - 0.5) . (b - 0.5)) in 0..1, with each channel c taken as c / 255:
// in bytes that is the sum of (2a - 255)(2b - 255) over 255, saturated.
void DotProduct3(const TColors& a, const TColors& b, TColors& out, int n) {
    for (int i = 0; i < n; ++i) {
        const int32_t sum = (2 * a.R[i] - 255) * (2 * b.R[i] - 255) +
                            (2 * a.G[i] - 255) * (2 * b.G[i] - 255) +
                            (2 * a.B[i] - 255) * (2 * b.B[i] - 255);
        const int32_t v = Div255(std::clamp(sum, 0, 65025));
        out.R[i] = out.G[i] = out.B[i] = out.A[i] = v;
    }
}

void Copy(const int32_t* from, int32_t* to, int n) { std::copy(from, from + n, to); }

// Runs the cascade; answers the result.
TColors& RunStages(const TPixelState& state, TChunk& c) {
    TStageInputs inputs{c, state};
    const bool alpha = (state.Needs & kNeedAlpha) != 0;
    TColors* current = &c.Diffuse;
    int next = 0;
    for (int s = 0; s < state.StageCount; ++s) {
        const TStageSetup& st = state.Stages[s];
        TColors& out = c.Current[next];
        if (st.ColorOp == D3DTOP_DOTPRODUCT3) {
            DotProduct3(inputs.ColorArg(st.ColorArg1, s, *current, 0),
                        inputs.ColorArg(st.ColorArg2, s, *current, 1), out, c.N);
        } else {
            const TColors& a1 = UsesArg1(st.ColorOp)
                                    ? inputs.ColorArg(st.ColorArg1, s, *current, 0) : *current;
            const TColors& a2 = UsesArg2(st.ColorOp)
                                    ? inputs.ColorArg(st.ColorArg2, s, *current, 1) : *current;
            ApplyOp(st.ColorOp, a1.R, a2.R, out.R, c.N);
            ApplyOp(st.ColorOp, a1.G, a2.G, out.G, c.N);
            ApplyOp(st.ColorOp, a1.B, a2.B, out.B, c.N);
            if (alpha) {
                const int32_t* passed = current->A;
                if (st.AlphaOp == D3DTOP_DISABLE ||
                    !ApplyOp(st.AlphaOp,
                             UsesArg1(st.AlphaOp) ? inputs.AlphaArg(st.AlphaArg1, s, *current, 0)
                                                  : passed,
                             UsesArg2(st.AlphaOp) ? inputs.AlphaArg(st.AlphaArg2, s, *current, 1)
                                                  : passed,
                             out.A, c.N))
                    Copy(passed, out.A, c.N);
            }
        }
        current = &out;
        next ^= 1;
    }
    return *current;
}

// ---- Output merger -------------------------------------------------------

void BlendFactor(DWORD blend, const TColors& src, const TColors& dst, TColors& f, int n) {
    auto fill = [&](auto pick) {
        for (int i = 0; i < n; ++i) {
            f.R[i] = pick(src.R[i], src.A[i], dst.R[i], dst.A[i]);
            f.G[i] = pick(src.G[i], src.A[i], dst.G[i], dst.A[i]);
            f.B[i] = pick(src.B[i], src.A[i], dst.B[i], dst.A[i]);
            f.A[i] = pick(src.A[i], src.A[i], dst.A[i], dst.A[i]);
        }
    };
    switch (blend) {
        case D3DBLEND_ZERO: fill([](int32_t, int32_t, int32_t, int32_t) { return 0; }); break;
        case D3DBLEND_SRCCOLOR: fill([](int32_t s, int32_t, int32_t, int32_t) { return s; }); break;
        case D3DBLEND_INVSRCCOLOR:
            fill([](int32_t s, int32_t, int32_t, int32_t) { return 255 - s; });
            break;
        case D3DBLEND_SRCALPHA: fill([](int32_t, int32_t sa, int32_t, int32_t) { return sa; }); break;
        case D3DBLEND_INVSRCALPHA:
            fill([](int32_t, int32_t sa, int32_t, int32_t) { return 255 - sa; });
            break;
        case D3DBLEND_DESTALPHA:
            fill([](int32_t, int32_t, int32_t, int32_t da) { return da; });
            break;
        case D3DBLEND_INVDESTALPHA:
            fill([](int32_t, int32_t, int32_t, int32_t da) { return 255 - da; });
            break;
        case D3DBLEND_DESTCOLOR: fill([](int32_t, int32_t, int32_t d, int32_t) { return d; }); break;
        case D3DBLEND_INVDESTCOLOR:
            fill([](int32_t, int32_t, int32_t d, int32_t) { return 255 - d; });
            break;
        case D3DBLEND_SRCALPHASAT:
            for (int i = 0; i < n; ++i) {
                f.R[i] = f.G[i] = f.B[i] = std::min(src.A[i], 255 - dst.A[i]);
                f.A[i] = 255;
            }
            break;
        default:  // D3DBLEND_ONE
            fill([](int32_t, int32_t, int32_t, int32_t) { return 255; });
            break;
    }
}

void ApplyBlend(const TPixelState& state, TChunk& c, const TColors& src, TColors& out,
                const uint32_t* row) {
    Unpack(row, c.Dest, c.N);
    BlendFactor(state.SrcBlend, src, c.Dest, c.SrcFactor, c.N);
    BlendFactor(state.DestBlend, src, c.Dest, c.DestFactor, c.N);
    auto mix = [&](const int32_t* s, const int32_t* sf, const int32_t* d, const int32_t* df,
                   int32_t* o) {
        for (int i = 0; i < c.N; ++i) o[i] = Div255(std::min(s[i] * sf[i] + d[i] * df[i], 65025));
    };
    mix(src.R, c.SrcFactor.R, c.Dest.R, c.DestFactor.R, out.R);
    mix(src.G, c.SrcFactor.G, c.Dest.G, c.DestFactor.G, out.G);
    mix(src.B, c.SrcFactor.B, c.Dest.B, c.DestFactor.B, out.B);
    mix(src.A, c.SrcFactor.A, c.Dest.A, c.DestFactor.A, out.A);
}

void ApplyFog(const TPixelState& state, TChunk& c, TColors& color) {
    const int32_t fr = (state.FogColor >> 16) & 255, fg = (state.FogColor >> 8) & 255,
                  fb = state.FogColor & 255;
    for (int i = 0; i < c.N; ++i) {
        const int32_t f = c.Fog[i], g = 255 - f;
        color.R[i] = Div255(color.R[i] * f + fr * g);
        color.G[i] = Div255(color.G[i] * f + fg * g);
        color.B[i] = Div255(color.B[i] * f + fb * g);
    }
}

void ShadeChunk(const TPixelState& state, const TTriangleSetup& tri, TChunk& c,
                uint32_t* colorRow, uint16_t* depthRow) {
    const bool depth = state.DepthTest && depthRow != nullptr;
    if (depth) {
        TestDepth(state, tri, c, depthRow);
        bool any = false;
        for (int i = 0; i < c.N; ++i) any |= c.Mask[i] != 0;
        if (!any) return;
    } else {
        std::fill(c.Mask, c.Mask + c.N, uint8_t{1});
    }
    ComputeW(tri, c);
    const bool alpha = (state.Needs & kNeedAlpha) != 0;
    if (state.Needs & kNeedDiffuse) InterpolateColors(tri.Diffuse, 4, c, c.Diffuse);
    if (state.Needs & kNeedSpecular) InterpolateColors(tri.Specular, 3, c, c.Specular);
    for (int s = 0; s < state.StageCount; ++s) {
        const TStageSetup& st = state.Stages[s];
        if (!st.ReadsTexture) continue;
        const TSampler& sampler = tri.Samplers[s];
        if (!st.HasTexture || sampler.Texels == nullptr) {
            Fill(c.Tex[s], 0xFFFFFFFF, c.N);
            continue;
        }
        Interpolate(tri.Tex[st.TexCoord][0], c, c.U);
        Interpolate(tri.Tex[st.TexCoord][1], c, c.V);
        if (sampler.Linear)
            SampleLinear(sampler, c, c.Tex[s]);
        else
            SamplePoint(sampler, c, c.Tex[s]);
    }

    TColors& color = state.StageCount == 0 ? c.Diffuse : RunStages(state, c);
    if (state.SpecularAdd) {
        for (int i = 0; i < c.N; ++i) {
            color.R[i] = std::min(color.R[i] + c.Specular.R[i], 255);
            color.G[i] = std::min(color.G[i] + c.Specular.G[i], 255);
            color.B[i] = std::min(color.B[i] + c.Specular.B[i], 255);
        }
    }
    if (state.Fog) {
        const float row = tri.Fog.B * c.Row + tri.Fog.C;
        for (int i = 0; i < c.N; ++i) c.Fog[i] = ToByte((tri.Fog.A * c.X[i] + row) * c.W[i] * 255.0f);
        ApplyFog(state, c, color);
    }
    if (state.AlphaTest) {
        WithCompare(state.AlphaFunc, [&](auto passes) {
            for (int i = 0; i < c.N; ++i) c.Mask[i] &= passes(color.A[i], state.AlphaRef) ? 1 : 0;
        });
    }
    if (state.Blend) ApplyBlend(state, c, color, color, colorRow);

    const uint32_t alphaBits = state.TargetHasAlpha ? 0u : 0xFF000000u;
    const int32_t* a = alpha ? color.A : color.R;  // ignored when the target has no alpha
    for (int i = 0; i < c.N; ++i) {
        const uint32_t packed = alphaBits | static_cast<uint32_t>(a[i]) << 24 |
                                static_cast<uint32_t>(color.R[i]) << 16 |
                                static_cast<uint32_t>(color.G[i]) << 8 |
                                static_cast<uint32_t>(color.B[i]);
        colorRow[i] = c.Mask[i] ? packed : colorRow[i];
    }
    if (depth && state.DepthWrite) {
        for (int i = 0; i < c.N; ++i)
            depthRow[i] = c.Mask[i] ? static_cast<uint16_t>(c.Depth[i]) : depthRow[i];
    }
}

}  // namespace

void ShadeSpan(const TPixelState& state, const TTriangleSetup& triangle, const TSpan& span) {
    TChunk c;
    c.Row = static_cast<float>(span.Y);
    for (int x = span.X0; x < span.X1; x += kChunk) {
        c.N = std::min(kChunk, span.X1 - x);
        for (int i = 0; i < c.N; ++i) c.X[i] = static_cast<float>(x + i);
        ShadeChunk(state, triangle, c, span.ColorRow + x,
                   span.DepthRow != nullptr ? span.DepthRow + x : nullptr);
    }
}

}  // namespace d3d8soft::D3D8SOFT_ISA
