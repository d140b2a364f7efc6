// Built twice, with D3D8SOFT_ISA naming the namespace of each build.
#include "PixelPipeline.h"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

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
    alignas(64) int32_t Mask[kChunk];  // 1: the pixel is still to be written
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
    const int n = c.N;
    const float zRow = tri.Z.B * c.Row + tri.Z.C;
    for (int i = 0; i < n; ++i) {
        float z = tri.Z.A * c.X[i] + zRow;
        z = z > 0.0f ? z : 0.0f;
        z = z < 1.0f ? z : 1.0f;
        c.Depth[i] = static_cast<int32_t>(z * 65535.0f + 0.5f);
    }
    WithCompare(state.DepthFunc, [&](auto passes) {
        for (int i = 0; i < n; ++i) c.Mask[i] = passes(c.Depth[i], depthRow[i]) ? 1 : 0;
    });
}

void ComputeW(const TTriangleSetup& tri, TChunk& c) {
    const int n = c.N;
    const float row = tri.InvW.B * c.Row + tri.InvW.C;
    for (int i = 0; i < n; ++i) c.W[i] = 1.0f / (tri.InvW.A * c.X[i] + row);
}

// Perspective-correct value of a plane that holds value / w.
void Interpolate(const TPlane& plane, const TChunk& c, float* out) {
    const int n = c.N;
    const float row = plane.B * c.Row + plane.C;
    for (int i = 0; i < n; ++i) out[i] = (plane.A * c.X[i] + row) * c.W[i];
}

void InterpolateByte(const TPlane& plane, const TChunk& c, int32_t* out) {
    const int n = c.N;
    const float row = plane.B * c.Row + plane.C;
    for (int i = 0; i < n; ++i) out[i] = ToByte((plane.A * c.X[i] + row) * c.W[i]);
}

// Colours with three planes read as opaque.
void InterpolateColors(const TPlane* planes, int channels, const TChunk& c, TColors& out) {
    int32_t* targets[4] = {out.R, out.G, out.B, out.A};
    for (int k = 0; k < channels; ++k) InterpolateByte(planes[k], c, targets[k]);
    if (channels == 3) std::fill(out.A, out.A + c.N, int32_t{255});
}

// ---- Sampling ------------------------------------------------------------

struct TTexelIndex {
    alignas(64) int32_t I00[kChunk], I10[kChunk];  // upper left and lower left texels
    alignas(64) int32_t FX[kChunk], FY[kChunk];
};

// Coordinates in 1/256 texel are split into a wrapped texel and a fraction.
template <bool Pow2>
inline int32_t Wrap(int32_t fixed, int size) {
    if constexpr (Pow2) {
        return (fixed >> 8) & (size - 1);
    } else {
        const int32_t texel = (fixed >> 8) % size;
        return texel < 0 ? texel + size : texel;
    }
}

template <bool Pow2>
void LinearIndices(const TSampler& s, const TChunk& c, TTexelIndex& idx) {
    const int n = c.N;
    const float su = static_cast<float>(s.Width) * 256.0f;
    const float sv = static_cast<float>(s.Height) * 256.0f;
    for (int i = 0; i < n; ++i) {
        // Texel centres sit at +0.5: shift by half a texel before splitting.
        const int32_t fu = FloorToInt(c.U[i] * su - 128.0f);
        const int32_t fv = FloorToInt(c.V[i] * sv - 128.0f);
        const int32_t x0 = Wrap<Pow2>(fu, s.Width), y0 = Wrap<Pow2>(fv, s.Height);
        idx.FX[i] = fu & 255;
        idx.FY[i] = fv & 255;
        idx.I00[i] = y0 * s.Stride + x0;
        idx.I10[i] = idx.I00[i] + s.Stride;
    }
}

// Blends the four texels around each coordinate, weights in 1/65536.
inline void Bilinear(const uint32_t* texels, const TTexelIndex& idx, int i, TColors& out) {
    const uint32_t t00 = texels[idx.I00[i]], t01 = texels[idx.I00[i] + 1];
    const uint32_t t10 = texels[idx.I10[i]], t11 = texels[idx.I10[i] + 1];
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

#if defined(__AVX2__)
// Two texels side by side for each of four pixels. Plain 64-bit loads beat
// the gather instruction here.
inline __m256i LoadPairs(const uint32_t* texels, const int32_t* index) {
    auto pair = [&](int k) {
        long long bits;
        std::memcpy(&bits, texels + index[k], sizeof bits);
        return bits;
    };
    return _mm256_set_epi64x(pair(3), pair(2), pair(1), pair(0));
}

// Splits the pairs of eight pixels into the left and the right texels.
inline void SplitPairs(__m256i low4, __m256i high4, __m256i& left, __m256i& right) {
    const __m256i order = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i a = _mm256_permutevar8x32_epi32(low4, order);
    const __m256i b = _mm256_permutevar8x32_epi32(high4, order);
    left = _mm256_permute2x128_si256(a, b, 0x20);
    right = _mm256_permute2x128_si256(a, b, 0x31);
}

struct TTexels8 {
    __m256i R, G, B, A;
};

// A power-of-two texture prepared for FootprintAvx2: its constants in
// registers, read once rather than from memory the stores might touch.
struct TSamplerAvx2 {
    const uint32_t* Texels;
    __m256 ScaleU, ScaleV;
    __m256i WidthMask, HeightMask, Stride;

    explicit TSamplerAvx2(const TSampler& s)
        : Texels(s.Texels),
          ScaleU(_mm256_set1_ps(static_cast<float>(s.Width) * 256.0f)),
          ScaleV(_mm256_set1_ps(static_cast<float>(s.Height) * 256.0f)),
          WidthMask(_mm256_set1_epi32(s.Width - 1)),
          HeightMask(_mm256_set1_epi32(s.Height - 1)),
          Stride(_mm256_set1_epi32(s.Stride)) {}
};

// Where eight pixels sample a texture: the upper left texel of each and the
// fractions towards the next column and row.
struct TFootprint8 {
    alignas(32) int32_t Upper[8], Lower[8];
    __m256i FX, FY;
};

// The same arithmetic as LinearIndices.
inline void FootprintAvx2(const TSamplerAvx2& s, __m256 u, __m256 v, TFootprint8& f) {
    const __m256 lo = _mm256_set1_ps(-1.0e9f), hi = _mm256_set1_ps(1.0e9f);
    const __m256i byte = _mm256_set1_epi32(255);
    __m256 fu = _mm256_sub_ps(_mm256_mul_ps(u, s.ScaleU), _mm256_set1_ps(128.0f));
    __m256 fv = _mm256_sub_ps(_mm256_mul_ps(v, s.ScaleV), _mm256_set1_ps(128.0f));
    fu = _mm256_min_ps(_mm256_max_ps(fu, lo), hi);  // NaN takes the lower bound
    fv = _mm256_min_ps(_mm256_max_ps(fv, lo), hi);
    const __m256i iu = _mm256_cvttps_epi32(_mm256_floor_ps(fu));
    const __m256i iv = _mm256_cvttps_epi32(_mm256_floor_ps(fv));
    const __m256i x0 = _mm256_and_si256(_mm256_srai_epi32(iu, 8), s.WidthMask);
    const __m256i y0 = _mm256_and_si256(_mm256_srai_epi32(iv, 8), s.HeightMask);
    const __m256i i00 = _mm256_add_epi32(_mm256_mullo_epi32(y0, s.Stride), x0);
    _mm256_store_si256(reinterpret_cast<__m256i*>(f.Upper), i00);
    _mm256_store_si256(reinterpret_cast<__m256i*>(f.Lower), _mm256_add_epi32(i00, s.Stride));
    f.FX = _mm256_and_si256(iu, byte);
    f.FY = _mm256_and_si256(iv, byte);
}

// The four texels around each footprint blended: the same arithmetic as
// Bilinear. Alpha only when asked for.
template <bool WithAlpha>
inline TTexels8 BlendAvx2(const uint32_t* texels, const TFootprint8& f) {
    const __m256i full = _mm256_set1_epi32(256);
    const __m256i pairMask = _mm256_set1_epi32(0x00FF00FF), halfMask = _mm256_set1_epi32(0xFFFF);
    __m256i t00, t01, t10, t11;
    SplitPairs(LoadPairs(texels, f.Upper), LoadPairs(texels, f.Upper + 4), t00, t01);
    SplitPairs(LoadPairs(texels, f.Lower), LoadPairs(texels, f.Lower + 4), t10, t11);
    const __m256i gx = _mm256_sub_epi32(full, f.FX), gy = _mm256_sub_epi32(full, f.FY);
    // Across: two channels per 32-bit lane in 16-bit halves, exact since
    // c0 (256 - fx) + c1 fx <= 65280.
    const __m256i fx2 = _mm256_or_si256(f.FX, _mm256_slli_epi32(f.FX, 16));
    const __m256i gx2 = _mm256_or_si256(gx, _mm256_slli_epi32(gx, 16));
    auto across = [&](__m256i left, __m256i right, int shift) {
        const __m256i l = _mm256_and_si256(_mm256_srli_epi32(left, shift), pairMask);
        const __m256i r = _mm256_and_si256(_mm256_srli_epi32(right, shift), pairMask);
        return _mm256_add_epi16(_mm256_mullo_epi16(l, gx2), _mm256_mullo_epi16(r, fx2));
    };
    // Down: the two rows in 32 bits, rounded to a byte.
    auto down = [&](__m256i upperRow, __m256i lowerRow) {
        const __m256i sum =
            _mm256_add_epi32(_mm256_mullo_epi32(upperRow, gy), _mm256_mullo_epi32(lowerRow, f.FY));
        return _mm256_srli_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(32768)), 16);
    };
    auto lowHalf = [&](__m256i x) { return _mm256_and_si256(x, halfMask); };
    auto highHalf = [&](__m256i x) { return _mm256_srli_epi32(x, 16); };
    const __m256i upperBR = across(t00, t01, 0), upperGA = across(t00, t01, 8);
    const __m256i lowerBR = across(t10, t11, 0), lowerGA = across(t10, t11, 8);
    TTexels8 out;
    out.B = down(lowHalf(upperBR), lowHalf(lowerBR));
    out.R = down(highHalf(upperBR), highHalf(lowerBR));
    out.G = down(lowHalf(upperGA), lowHalf(lowerGA));
    if constexpr (WithAlpha) out.A = down(highHalf(upperGA), highHalf(lowerGA));
    return out;
}

int SampleLinearPow2Avx2(const TSampler& sampler, const TChunk& c, TColors& out) {
    const TSamplerAvx2 s(sampler);
    int i = 0;
    for (; i + 8 <= c.N; i += 8) {
        TFootprint8 footprint;
        FootprintAvx2(s, _mm256_load_ps(c.U + i), _mm256_load_ps(c.V + i), footprint);
        const TTexels8 t = BlendAvx2<true>(s.Texels, footprint);
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.R + i), t.R);
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.G + i), t.G);
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.B + i), t.B);
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.A + i), t.A);
    }
    return i;
}
#endif

void SampleLinear(const TSampler& s, const TChunk& c, TColors& out) {
    const int n = c.N;
    TTexelIndex idx;
    const bool pow2 = (s.Width & (s.Width - 1)) == 0 && (s.Height & (s.Height - 1)) == 0;
    int done = 0;
#if defined(__AVX2__)
    if (pow2) done = SampleLinearPow2Avx2(s, c, out);
    if (done == c.N) return;
#endif
    if (pow2)
        LinearIndices<true>(s, c, idx);
    else
        LinearIndices<false>(s, c, idx);
    for (int i = done; i < n; ++i) Bilinear(s.Texels, idx, i, out);
}

void SamplePoint(const TSampler& s, const TChunk& c, TColors& out) {
    const int n = c.N;
    const float su = static_cast<float>(s.Width) * 256.0f;
    const float sv = static_cast<float>(s.Height) * 256.0f;
    const bool pow2 = (s.Width & (s.Width - 1)) == 0 && (s.Height & (s.Height - 1)) == 0;
    alignas(64) uint32_t texel[kChunk];
    for (int i = 0; i < n; ++i) {
        const int32_t fu = FloorToInt(c.U[i] * su), fv = FloorToInt(c.V[i] * sv);
        const int32_t x = pow2 ? Wrap<true>(fu, s.Width) : Wrap<false>(fu, s.Width);
        const int32_t y = pow2 ? Wrap<true>(fv, s.Height) : Wrap<false>(fv, s.Height);
        texel[i] = s.Texels[y * s.Stride + x];
    }
    Unpack(texel, out, n);
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
        const int n = C.N;
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
        // Colour operations read the three colours only.
        for (int i = 0; i < n; ++i) {
            out.R[i] = flip + sign * r[i];
            out.G[i] = flip + sign * g[i];
            out.B[i] = flip + sign * b[i];
        }
        return out;
    }

    const int32_t* AlphaArg(DWORD arg, int stage, const TColors& current, int slot) {
        const int n = C.N;
        const TColors& source = Source(arg, stage, current);
        if ((arg & D3DTA_COMPLEMENT) == 0) return source.A;
        int32_t* out = C.Args[slot].A;
        for (int i = 0; i < n; ++i) out[i] = 255 - source.A[i];
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
    const int n = c.N;
    Unpack(row, c.Dest, n);
    BlendFactor(state.SrcBlend, src, c.Dest, c.SrcFactor, n);
    BlendFactor(state.DestBlend, src, c.Dest, c.DestFactor, n);
    auto mix = [&](const int32_t* s, const int32_t* sf, const int32_t* d, const int32_t* df,
                   int32_t* o) {
        for (int i = 0; i < n; ++i) o[i] = Div255(std::min(s[i] * sf[i] + d[i] * df[i], 65025));
    };
    mix(src.R, c.SrcFactor.R, c.Dest.R, c.DestFactor.R, out.R);
    mix(src.G, c.SrcFactor.G, c.Dest.G, c.DestFactor.G, out.G);
    mix(src.B, c.SrcFactor.B, c.Dest.B, c.DestFactor.B, out.B);
    mix(src.A, c.SrcFactor.A, c.Dest.A, c.DestFactor.A, out.A);
}

void ApplyFog(const TPixelState& state, TChunk& c, TColors& color) {
    const int n = c.N;
    const int32_t fr = (state.FogColor >> 16) & 255, fg = (state.FogColor >> 8) & 255,
                  fb = state.FogColor & 255;
    for (int i = 0; i < n; ++i) {
        const int32_t f = c.Fog[i], g = 255 - f;
        color.R[i] = Div255(color.R[i] * f + fr * g);
        color.G[i] = Div255(color.G[i] * f + fg * g);
        color.B[i] = Div255(color.B[i] * f + fb * g);
    }
}

void ShadeChunk(const TPixelState& state, const TTriangleSetup& tri, TChunk& c,
                uint32_t* colorRow, uint16_t* depthRow) {
    const int n = c.N;
    const bool depth = state.DepthTest && depthRow != nullptr;
    if (depth) {
        TestDepth(state, tri, c, depthRow);
        int32_t any = 0;
        for (int i = 0; i < n; ++i) any |= c.Mask[i];
        if (any == 0) return;
    } else {
        std::fill(c.Mask, c.Mask + n, int32_t{1});
    }
    ComputeW(tri, c);
    const bool alpha = (state.Needs & kNeedAlpha) != 0;
    if (state.Needs & kNeedDiffuse) {
        if (tri.FlatDiffuse)
            Fill(c.Diffuse, tri.FlatDiffuseColor, n);
        else
            InterpolateColors(tri.Diffuse, 4, c, c.Diffuse);
    }
    if (state.Needs & kNeedSpecular) {
        if (tri.FlatSpecular)
            Fill(c.Specular, tri.FlatSpecularColor, n);
        else
            InterpolateColors(tri.Specular, 3, c, c.Specular);
    }
    for (int s = 0; s < state.StageCount; ++s) {
        const TStageSetup& st = state.Stages[s];
        if (!st.ReadsTexture) continue;
        const TSampler& sampler = tri.Samplers[s];
        if (!st.HasTexture || sampler.Texels == nullptr) {
            Fill(c.Tex[s], 0xFFFFFFFF, n);
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
        for (int i = 0; i < n; ++i) {
            color.R[i] = std::min(color.R[i] + c.Specular.R[i], 255);
            color.G[i] = std::min(color.G[i] + c.Specular.G[i], 255);
            color.B[i] = std::min(color.B[i] + c.Specular.B[i], 255);
        }
    }
    if (state.Fog) {
        const float row = tri.Fog.B * c.Row + tri.Fog.C;
        for (int i = 0; i < n; ++i) c.Fog[i] = ToByte((tri.Fog.A * c.X[i] + row) * c.W[i] * 255.0f);
        ApplyFog(state, c, color);
    }
    if (state.AlphaTest) {
        WithCompare(state.AlphaFunc, [&](auto passes) {
            for (int i = 0; i < n; ++i) c.Mask[i] &= passes(color.A[i], state.AlphaRef) ? 1 : 0;
        });
    }
    if (state.Blend) ApplyBlend(state, c, color, color, colorRow);

    const uint32_t alphaBits = state.TargetHasAlpha ? 0u : 0xFF000000u;
    const int32_t* a = alpha ? color.A : color.R;  // ignored when the target has no alpha
    for (int i = 0; i < n; ++i) {
        const uint32_t packed = alphaBits | static_cast<uint32_t>(a[i]) << 24 |
                                static_cast<uint32_t>(color.R[i]) << 16 |
                                static_cast<uint32_t>(color.G[i]) << 8 |
                                static_cast<uint32_t>(color.B[i]);
        colorRow[i] = c.Mask[i] ? packed : colorRow[i];
    }
    if (depth && state.DepthWrite) {
        for (int i = 0; i < n; ++i)
            depthRow[i] = c.Mask[i] ? static_cast<uint16_t>(c.Depth[i]) : depthRow[i];
    }
}

#if defined(__AVX2__)
// ---- The demo's bump set-up, fused ---------------------------------------
//
// Stage 0 Dot3 of a texture with a flat specular colour, stage 1 twice that
// times a second texture, both linearly filtered power-of-two textures, no
// alpha, fog or blending, depth LESSEQUAL with writes or no depth at all:
// eight pixels at a time kept in registers from depth test to write. Every
// step is the arithmetic of the general path, so the pixels are the same.

bool IsPow2Linear(const TStageSetup& stage, const TSampler& s) {
    return stage.HasTexture && s.Texels != nullptr && s.Linear && (s.Width & (s.Width - 1)) == 0 &&
           (s.Height & (s.Height - 1)) == 0;
}

bool FusedBumpApplies(const TPixelState& st, const TTriangleSetup& tri) {
    auto takes = [](const TStageSetup& s, DWORD a, DWORD b) {
        return (s.ColorArg1 == a && s.ColorArg2 == b) || (s.ColorArg1 == b && s.ColorArg2 == a);
    };
    return st.StageCount == 2 && (st.Needs & kNeedAlpha) == 0 && !st.SpecularAdd && !st.Fog &&
           !st.Blend && !st.AlphaTest &&
           (!st.DepthTest || (st.DepthFunc == D3DCMP_LESSEQUAL && st.DepthWrite)) &&
           st.Stages[0].ColorOp == D3DTOP_DOTPRODUCT3 &&
           takes(st.Stages[0], D3DTA_TEXTURE, D3DTA_SPECULAR) &&
           st.Stages[1].ColorOp == D3DTOP_MODULATE2X &&
           takes(st.Stages[1], D3DTA_CURRENT, D3DTA_TEXTURE) && tri.FlatSpecular &&
           IsPow2Linear(st.Stages[0], tri.Samplers[0]) && IsPow2Linear(st.Stages[1], tri.Samplers[1]);
}

// A plane along one row: value(x) = A x + (B y + C), as the general path
// computes it.
struct TRowPlane {
    __m256 A, Row;
    TRowPlane(const TPlane& p, float y) : A(_mm256_set1_ps(p.A)), Row(_mm256_set1_ps(p.B * y + p.C)) {}
    __m256 At(__m256 x) const { return _mm256_add_ps(_mm256_mul_ps(A, x), Row); }
};

bool SamePlane(const TPlane& a, const TPlane& b) { return a.A == b.A && a.B == b.B && a.C == b.C; }

inline __m256i Div255Avx2(__m256i x) {
    x = _mm256_add_epi32(x, _mm256_set1_epi32(128));
    return _mm256_srli_epi32(_mm256_add_epi32(x, _mm256_srli_epi32(x, 8)), 8);
}

// Pixels x0 .. x1 - 1 of row y.
void ShadeFusedBump(const TPixelState& st, const TTriangleSetup& tri, int y, int x0, int x1,
                    uint32_t* colorRow, uint16_t* depthRow) {
    const bool depth = st.DepthTest && depthRow != nullptr;
    const float row = static_cast<float>(y);
    const int set0 = st.Stages[0].TexCoord, set1 = st.Stages[1].TexCoord;
    const uint32_t light = tri.FlatSpecularColor;
    const __m256i lr = _mm256_set1_epi32(2 * static_cast<int32_t>((light >> 16) & 255) - 255);
    const __m256i lg = _mm256_set1_epi32(2 * static_cast<int32_t>((light >> 8) & 255) - 255);
    const __m256i lb = _mm256_set1_epi32(2 * static_cast<int32_t>(light & 255) - 255);
    const __m256i zero = _mm256_setzero_si256(), ones = _mm256_set1_epi32(-1);
    const __m256i most = _mm256_set1_epi32(65025), c255 = _mm256_set1_epi32(255);
    const __m256 iota = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    const TRowPlane zPlane(tri.Z, row), wPlane(tri.InvW, row);
    const TRowPlane u0(tri.Tex[set0][0], row), v0(tri.Tex[set0][1], row);
    const TRowPlane u1(tri.Tex[set1][0], row), v1(tri.Tex[set1][1], row);
    const TSamplerAvx2 normals(tri.Samplers[0]), bases(tri.Samplers[1]);
    // The engine gives every vertex the same coordinates in all sets, so with
    // textures of one size both stages sample at the same places.
    const TSampler& n0 = tri.Samplers[0];
    const TSampler& b1 = tri.Samplers[1];
    const bool shared = n0.Width == b1.Width && n0.Height == b1.Height && n0.Stride == b1.Stride &&
                        SamePlane(tri.Tex[set0][0], tri.Tex[set1][0]) &&
                        SamePlane(tri.Tex[set0][1], tri.Tex[set1][1]);
    // Pixels x .. x + 7 whose lanes are set; their colours and depths are
    // at colors8 and depths8.
    auto shade8 = [&](int x, uint32_t* colors8, uint16_t* depths8, __m256i lanes) {
        const __m256 px = _mm256_add_ps(_mm256_set1_ps(static_cast<float>(x)), iota);
        __m256i pass = lanes, z16 = zero;
        if (depth) {
            __m256 z = zPlane.At(px);
            z = _mm256_min_ps(_mm256_max_ps(z, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
            z16 = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(z, _mm256_set1_ps(65535.0f)),
                                                    _mm256_set1_ps(0.5f)));
            const __m256i stored = _mm256_cvtepu16_epi32(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(depths8)));
            pass = _mm256_andnot_si256(_mm256_cmpgt_epi32(z16, stored), lanes);
            if (_mm256_testz_si256(pass, pass)) return;
        }
        const __m256 w = _mm256_div_ps(_mm256_set1_ps(1.0f), wPlane.At(px));
        auto coordinate = [&](const TRowPlane& p) { return _mm256_mul_ps(p.At(px), w); };
        TFootprint8 normalAt, baseAt;
        FootprintAvx2(normals, coordinate(u0), coordinate(v0), normalAt);
        if (!shared) FootprintAvx2(bases, coordinate(u1), coordinate(v1), baseAt);
        const TTexels8 normal = BlendAvx2<false>(normals.Texels, normalAt);
        const TTexels8 base = BlendAvx2<false>(bases.Texels, shared ? normalAt : baseAt);
        auto centred = [&](__m256i c) { return _mm256_sub_epi32(_mm256_add_epi32(c, c), c255); };
        const __m256i sum = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_mullo_epi32(centred(normal.R), lr), _mm256_mullo_epi32(centred(normal.G), lg)),
            _mm256_mullo_epi32(centred(normal.B), lb));
        const __m256i dot = Div255Avx2(_mm256_min_epi32(_mm256_max_epi32(sum, zero), most));
        auto twice = [&](__m256i t) {
            const __m256i product = _mm256_mullo_epi32(dot, t);
            return Div255Avx2(_mm256_min_epi32(_mm256_add_epi32(product, product), most));
        };
        const __m256i packed = _mm256_or_si256(
            _mm256_or_si256(_mm256_set1_epi32(static_cast<int>(0xFF000000u)), _mm256_slli_epi32(twice(base.R), 16)),
            _mm256_or_si256(_mm256_slli_epi32(twice(base.G), 8), twice(base.B)));
        auto* colors = reinterpret_cast<__m256i*>(colors8);
        _mm256_storeu_si256(colors, _mm256_blendv_epi8(_mm256_loadu_si256(colors), packed, pass));
        if (depth) {
            auto* depths = reinterpret_cast<__m128i*>(depths8);
            const __m256i stored = _mm256_cvtepu16_epi32(_mm_loadu_si128(depths));
            const __m256i kept = _mm256_blendv_epi8(stored, z16, pass);
            const __m256i narrow = _mm256_permute4x64_epi64(_mm256_packus_epi32(kept, kept), 0x08);
            _mm_storeu_si128(depths, _mm256_castsi256_si128(narrow));
        }
    };
    int x = x0;
    for (; x + 8 <= x1; x += 8) shade8(x, colorRow + x, depth ? depthRow + x : nullptr, ones);
    if (x == x1) return;
    // The last few pixels go through copies, so no lane reads past the row.
    const int count = x1 - x;
    uint32_t colors[8] = {};
    uint16_t depths[8] = {};
    std::copy_n(colorRow + x, count, colors);
    if (depth) std::copy_n(depthRow + x, count, depths);
    const __m256i lanes = _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    shade8(x, colors, depths, lanes);
    std::copy_n(colors, count, colorRow + x);
    if (depth) std::copy_n(depths, count, depthRow + x);
}
#endif

}  // namespace

void ShadeSpan(const TPixelState& state, const TTriangleSetup& triangle, const TSpan& span) {
#if defined(__AVX2__)
    if (FusedBumpApplies(state, triangle)) {
        ShadeFusedBump(state, triangle, span.Y, span.X0, span.X1, span.ColorRow, span.DepthRow);
        return;
    }
#endif
    TChunk c;
    c.Row = static_cast<float>(span.Y);
    for (int x = span.X0; x < span.X1; x += kChunk) {
        const int n = std::min(kChunk, span.X1 - x);
        c.N = n;
        for (int i = 0; i < n; ++i) c.X[i] = static_cast<float>(x + i);
        ShadeChunk(state, triangle, c, span.ColorRow + x,
                   span.DepthRow != nullptr ? span.DepthRow + x : nullptr);
    }
}

}  // namespace d3d8soft::D3D8SOFT_ISA
