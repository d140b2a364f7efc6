// The RGB family: RGB or BGR sources, with or without alpha, to RGB or BGR
// targets at 8 and 16 bits per sample.
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "color/GraphicColor.h"
#include "color/Rows.h"

using namespace graphiccolor;

namespace {

struct TRGBRow {
    TSourceSamples Source;  // components red, green, blue, alpha
    TTargetPixels Target;
    bool CarryAlpha;
    uint32_t Count;
    uint8_t Mask;
};

// The general loop: every component through Colour, alpha through Alpha.
template <class SourceT, class TargetT, bool CarryAlpha, class ColourFn, class AlphaFn>
void ConvertPixels(const TRGBRow& row, ColourFn colour, AlphaFn alpha) {
    const TSourceSamples& s = row.Source;
    const TTargetPixels& t = row.Target;
    ForEachSelected(row.Count, row.Mask, [&](size_t j, size_t i) {
        t.Put<TargetT>(i, colour(Load<SourceT>(s.At(0, j))), colour(Load<SourceT>(s.At(1, j))),
                       colour(Load<SourceT>(s.At(2, j))));
        if constexpr (CarryAlpha) Store<TargetT>(t.At(i) + t.Alpha, alpha(Load<SourceT>(s.At(3, j))));
    });
}

template <class SourceT, class TargetT, class ColourFn, class AlphaFn>
void ConvertPixels(const TRGBRow& row, ColourFn colour, AlphaFn alpha) {
    if (row.CarryAlpha)
        ConvertPixels<SourceT, TargetT, true>(row, colour, alpha);
    else
        ConvertPixels<SourceT, TargetT, false>(row, colour, alpha);
}

}  // namespace

namespace graphiccolor {

// Five pixels at a time with one byte shuffle. Stops while its 16-byte loads
// and stores still stay within the row. Each block is loaded before the one
// ahead of it is stored: the 16th byte stored is the next pixel's, as it
// was, and in place a load that waited for that store would stall.
__attribute__((target("ssse3"))) size_t ExchangeOuterBytes3Shuffled(const uint8_t* source, uint8_t* target,
                                                                    size_t count) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    if (count < 6) return 0;
    size_t i = 0;
    __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
    for (; i + 11 <= count; i += 5) {
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 3 * (i + 5)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 3 * i), _mm_shuffle_epi8(pixels, order));
        pixels = next;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 3 * i), _mm_shuffle_epi8(pixels, order));
    return i + 5;
}

namespace {

// 21 pixels at a time with one byte permutation across 64 bytes, a third of
// the shuffle's stores, and the last pixels through masked moves rather than
// the caller's byte loop. Loads run a block ahead of stores, as in the
// shuffle, so that the conversion may run in place.
__attribute__((target("avx512f,avx512bw,avx512vbmi,bmi2"))) void ExchangeBlocksOf21(const uint8_t* source,
                                                                                 uint8_t* target, size_t count) {
    alignas(64) static constexpr uint8_t order[64] = {
        2,  1,  0,  5,  4,  3,  8,  7,  6,  11, 10, 9,  14, 13, 12, 17, 16, 15, 20, 19, 18, 23,
        22, 21, 26, 25, 24, 29, 28, 27, 32, 31, 30, 35, 34, 33, 38, 37, 36, 41, 40, 39, 44, 43,
        42, 47, 46, 45, 50, 49, 48, 53, 52, 51, 56, 55, 54, 59, 58, 57, 62, 61, 60, 63};
    const __m512i index = _mm512_load_si512(order);
    const __mmask64 all = ~__mmask64(0);
    size_t i = 0;
    if (count >= 22) {
        __m512i pixels = _mm512_loadu_si512(source);
        for (; i + 43 <= count; i += 21) {
            const __m512i next = _mm512_loadu_si512(source + 3 * (i + 21));
            _mm512_storeu_si512(target + 3 * i, _mm512_maskz_permutexvar_epi8(all, index, pixels));
            pixels = next;
        }
        _mm512_storeu_si512(target + 3 * i, _mm512_maskz_permutexvar_epi8(all, index, pixels));
        i += 21;
    }
    const __mmask64 rest = _bzhi_u64(all, unsigned(3 * (count - i)));
    const __m512i pixels = _mm512_maskz_loadu_epi8(rest, source + 3 * i);
    _mm512_mask_storeu_epi8(target + 3 * i, rest, _mm512_maskz_permutexvar_epi8(all, index, pixels));
}

// A group of 64 pixels fills three 64-byte blocks exactly. Output block j is
// permuted from the 128 source bytes at GroupBase[j]: each output byte
// comes from at most two bytes before or after it, so blocks 0 and 2 take
// theirs from whole source blocks and block 1 from bytes 62 to 189.
constexpr size_t GroupBase[3] = {0, 62, 64};

struct TGroupOrder {
    alignas(64) uint8_t Index[3][64];
};

constexpr TGroupOrder MakeGroupOrder() {
    TGroupOrder order{};
    for (size_t j = 0; j < 3; ++j)
        for (size_t k = 0; k < 64; ++k) {
            const size_t byte = 64 * j + k, sample = byte % 3;
            order.Index[j][k] = uint8_t(byte - sample + (2 - sample) - GroupBase[j]);
        }
    return order;
}

constexpr TGroupOrder GroupOrder = MakeGroupOrder();

}  // namespace

// Groups of 64 pixels whose three stores each fill a whole 64-byte line of
// the target: stores that cross lines, as 21-pixel blocks do, cost a fifth
// more. The pixels before the first line that starts a pixel, and those
// after the last whole group, go through 21-pixel blocks. Each group is
// loaded whole before it is stored, so the conversion may run in place.
__attribute__((target("avx512f,avx512bw,avx512vbmi,bmi2"))) size_t ExchangeOuterBytes3Permuted(const uint8_t* source,
                                                                                         uint8_t* target,
                                                                                         size_t count) {
    // 43 is 3's inverse modulo 64: the head's pixels bring the target to a line.
    const size_t offset = reinterpret_cast<uintptr_t>(target) % 64;
    const size_t head = std::min(count, (64 - offset) % 64 * 43 % 64);
    ExchangeBlocksOf21(source, target, head);
    const __m512i first = _mm512_load_si512(GroupOrder.Index[0]);
    const __m512i second = _mm512_load_si512(GroupOrder.Index[1]);
    const __m512i third = _mm512_load_si512(GroupOrder.Index[2]);
    size_t i = head;
    for (; i + 64 <= count; i += 64) {
        const uint8_t* in = source + 3 * i;
        const __m512i low = _mm512_loadu_si512(in), middle = _mm512_loadu_si512(in + 64);
        const __m512i high = _mm512_loadu_si512(in + 128);
        const __m512i shifted = _mm512_loadu_si512(in + GroupBase[1]);
        const __m512i shiftedNext = _mm512_loadu_si512(in + GroupBase[1] + 64);
        const __m512i out0 = _mm512_permutex2var_epi8(low, first, middle);
        const __m512i out1 = _mm512_permutex2var_epi8(shifted, second, shiftedNext);
        const __m512i out2 = _mm512_permutex2var_epi8(middle, third, high);
        uint8_t* out = target + 3 * i;
        _mm512_store_si512(out, out0);
        _mm512_store_si512(out + 64, out1);
        _mm512_store_si512(out + 128, out2);
    }
    ExchangeBlocksOf21(source + 3 * i, target + 3 * i, count - i);
    return count;
}

TExchangeOuterBytes3 SelectExchangeOuterBytes3() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512vbmi")) return ExchangeOuterBytes3Permuted;
    if (__builtin_cpu_supports("ssse3")) return ExchangeOuterBytes3Shuffled;
    return nullptr;
}

}  // namespace graphiccolor

namespace {

// Interleaved 8-bit rows without gamma, every pixel: the layouts that are a
// plain copy or a red/blue exchange get loops of their own. Answers false
// for any other layout.
bool ConvertPlain8(const uint8_t* source, size_t sourceStep, bool exchange, uint8_t* target, size_t targetStep,
                   uint32_t count) {
    if (sourceStep != targetStep) return false;
    if (!exchange) {
        std::memcpy(target, source, size_t(count) * sourceStep);
        return true;
    }
    if (sourceStep == 3) {
        static const TExchangeOuterBytes3 vectorExchange = SelectExchangeOuterBytes3();
        const size_t done = vectorExchange ? vectorExchange(source, target, count) : 0;
        source += 3 * done;
        target += 3 * done;
        for (size_t i = done; i < count; ++i, source += 3, target += 3) {
            const uint8_t first = source[0], second = source[1], third = source[2];
            target[0] = third;
            target[1] = second;
            target[2] = first;
        }
    } else {
        for (size_t i = 0; i < count; ++i) {
            const uint32_t v = Load<uint32_t>(source + 4 * i);
            Store<uint32_t>(target + 4 * i, (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16));
        }
    }
    return true;
}

// The byte shuffles that spread 16 samples of each of three planes over 48
// interleaved bytes: Masks[j][c] picks plane c's samples for output block j
// (0x80 leaves a byte zero).
struct TInterleave3Masks {
    alignas(16) uint8_t Masks[3][3][16];
    constexpr TInterleave3Masks() : Masks() {
        for (int j = 0; j < 3; ++j)
            for (int c = 0; c < 3; ++c)
                for (int b = 0; b < 16; ++b) {
                    const int k = 16 * j + b;
                    Masks[j][c][b] = uint8_t(k % 3 == c ? k / 3 : 0x80);
                }
    }
};

// Interleaves three 8-bit planes 16 pixels at a time, on processors with
// SSSE3; answers the pixels done.
__attribute__((target("ssse3"))) size_t Interleave3Shuffled(const uint8_t* const (&planes)[4], uint8_t* target,
                                                            size_t count) {
    static constexpr TInterleave3Masks masks;
    const auto mask = [](int j, int c) { return _mm_load_si128(reinterpret_cast<const __m128i*>(masks.Masks[j][c])); };
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i samples[3];
        for (int c = 0; c < 3; ++c) samples[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(planes[c] + i));
        for (int j = 0; j < 3; ++j) {
            const __m128i block = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(samples[0], mask(j, 0)),
                                                            _mm_shuffle_epi8(samples[1], mask(j, 1))),
                                               _mm_shuffle_epi8(samples[2], mask(j, 2)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 3 * i + 16 * j), block);
        }
    }
    return i;
}

// Interleaves four 8-bit planes 16 pixels at a time; answers the pixels
// done.
size_t Interleave4Unpacked(const uint8_t* const (&planes)[4], uint8_t* target, size_t count) {
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i samples[4];
        for (int c = 0; c < 4; ++c) samples[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(planes[c] + i));
        const __m128i low01 = _mm_unpacklo_epi8(samples[0], samples[1]), high01 = _mm_unpackhi_epi8(samples[0], samples[1]);
        const __m128i low23 = _mm_unpacklo_epi8(samples[2], samples[3]), high23 = _mm_unpackhi_epi8(samples[2], samples[3]);
        const __m128i blocks[4] = {_mm_unpacklo_epi16(low01, low23), _mm_unpackhi_epi16(low01, low23),
                                   _mm_unpacklo_epi16(high01, high23), _mm_unpackhi_epi16(high01, high23)};
        for (int j = 0; j < 4; ++j) _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 4 * i + 16 * j), blocks[j]);
    }
    return i;
}

// Planar 8-bit rows without gamma, every pixel, into pixels of three samples
// or of four with the alpha plane. Answers false for any other layout (a
// target alpha without a plane to fill it is left as it is, pixel by pixel).
bool Interleave8(const TRGBRow& row) {
    const TTargetPixels& t = row.Target;
    const size_t samples = t.Step;
    if (samples == 4 && !row.CarryAlpha) return false;
    // The planes in the order their samples take in a target pixel.
    const uint8_t* planes[4] = {};
    planes[t.Red] = row.Source.Component[0];
    planes[t.Green] = row.Source.Component[1];
    planes[t.Blue] = row.Source.Component[2];
    if (samples == 4) planes[t.Alpha] = row.Source.Component[3];

    static const bool shuffle = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    size_t done = 0;
    if (samples == 4)
        done = Interleave4Unpacked(planes, t.Row, row.Count);
    else if (shuffle)
        done = Interleave3Shuffled(planes, t.Row, row.Count);
    for (size_t i = done; i < row.Count; ++i)
        for (size_t c = 0; c < samples; ++c) t.Row[i * samples + c] = planes[c][i];
    return true;
}

// Interleaved 16-bit rows reduced to 8 bits without gamma, every pixel: the
// layout is fixed at compile time so the loop needs no offsets or masks.
template <size_t SourceSamples, size_t TargetSamples, bool Exchange, class ScaleFn>
void Narrow16(const uint8_t* source, uint8_t* target, uint32_t count, ScaleFn scale) {
    for (size_t i = 0; i < count; ++i, source += 2 * SourceSamples, target += TargetSamples) {
        const uint8_t first = scale(Load<uint16_t>(source)), second = scale(Load<uint16_t>(source + 2)),
                      third = scale(Load<uint16_t>(source + 4));
        target[0] = Exchange ? third : first;
        target[1] = second;
        target[2] = Exchange ? first : third;
        if constexpr (SourceSamples == 4 && TargetSamples == 4) target[3] = scale(Load<uint16_t>(source + 6));
    }
}

template <size_t SourceSamples, size_t TargetSamples, class ScaleFn>
void Narrow16(const uint8_t* source, uint8_t* target, uint32_t count, bool exchange, ScaleFn scale) {
    if (exchange)
        Narrow16<SourceSamples, TargetSamples, true>(source, target, count, scale);
    else
        Narrow16<SourceSamples, TargetSamples, false>(source, target, count, scale);
}

template <class ScaleFn>
void Narrow16(const uint8_t* source, size_t sourceSamples, uint8_t* target, size_t targetSamples, uint32_t count,
              bool exchange, ScaleFn scale) {
    if (sourceSamples == 3 && targetSamples == 3) Narrow16<3, 3>(source, target, count, exchange, scale);
    if (sourceSamples == 3 && targetSamples == 4) Narrow16<3, 4>(source, target, count, exchange, scale);
    if (sourceSamples == 4 && targetSamples == 3) Narrow16<4, 3>(source, target, count, exchange, scale);
    if (sourceSamples == 4 && targetSamples == 4) Narrow16<4, 4>(source, target, count, exchange, scale);
}

// Shared by the four RGB converters, which differ only in the order of the
// colour samples on either side.
void ConvertRGBFamily(const TColorManager& manager, TColorManager::TSourceRows Source, void* Target, uint32_t Count,
                      uint8_t Mask, bool sourceBlueFirst, bool targetBlueFirst) {
    const unsigned s = manager.SourceBitsPerSample(), t = manager.TargetBitsPerSample();
    if ((s != 8 && s != 16) || (t != 8 && t != 16)) return;
    const bool sourceAlpha = Has(manager.SourceMode, cvAlpha), targetAlpha = Has(manager.TargetMode, cvAlpha);
    const bool planar = Source.size() > 1;
    const bool gamma = Has(manager.TargetMode, cvApplyGamma) && !manager.GammaIsIdentity();
    // Whole interleaved 8-bit rows, the common case, go to their own loops
    // before anything the general loop needs is set up.
    if (s == 8 && t == 8 && !gamma && Mask == 0xFF && Source.size() == 1 &&
        ConvertPlain8(static_cast<const uint8_t*>(Source[0]), sourceAlpha ? 4 : 3, sourceBlueFirst != targetBlueFirst,
                      static_cast<uint8_t*>(Target), targetAlpha ? 4 : 3, Count))
        return;
    // A planar source without an alpha plane has no alpha to carry.
    const bool carryAlpha = sourceAlpha && targetAlpha && (!planar || Source.size() >= 4);

    const int blueFirst[4] = {2, 1, 0, 3}, redFirst[4] = {0, 1, 2, 3};
    TRGBRow row{{}, TTargetPixels(Target, targetBlueFirst, targetAlpha, int(t / 8)), carryAlpha, Count, Mask};
    if (!LocateSamples(Source, sourceBlueFirst ? blueFirst : redFirst, carryAlpha ? 4 : 3, sourceAlpha ? 4 : 3,
                       int(s / 8), row.Source))
        return;

    const bool swap = Has(manager.SourceMode, cvByteSwap);
    const uint8_t* table = manager.GammaTable().data();
    const auto copy8 = [](uint8_t v) { return v; };
    const auto copy16 = [](uint16_t v) { return v; };
    const auto swap16 = [](uint16_t v) { return TColorManager::Swap16(v); };
    const auto scale8 = [](uint16_t v) { return TColorManager::Scale16To8(v); };
    const auto swapScale8 = [](uint16_t v) { return TColorManager::Swap16Scale8(v); };

    if (s == 8 && t == 8) {
        if (gamma) {
            ConvertPixels<uint8_t, uint8_t>(
                row, [table](uint8_t v) { return table[v]; }, copy8);
        } else if (Mask != 0xFF || !planar || !Interleave8(row)) {
            ConvertPixels<uint8_t, uint8_t>(row, copy8, copy8);
        }
    } else if (s == 8) {
        // A widened value (v * 257) reads the same in either byte order.
        if (gamma)
            ConvertPixels<uint8_t, uint16_t>(
                row, [table](uint8_t v) { return Widen8(table[v]); }, Widen8);
        else
            ConvertPixels<uint8_t, uint16_t>(row, Widen8, Widen8);
    } else if (t == 8) {
        if (!planar && Mask == 0xFF && !gamma) {
            const auto* source = static_cast<const uint8_t*>(Source[0]);
            const size_t sourceSamples = sourceAlpha ? 4 : 3, targetSamples = targetAlpha ? 4 : 3;
            const bool exchange = sourceBlueFirst != targetBlueFirst;
            if (swap)
                Narrow16(source, sourceSamples, row.Target.Row, targetSamples, Count, exchange, swapScale8);
            else
                Narrow16(source, sourceSamples, row.Target.Row, targetSamples, Count, exchange, scale8);
        } else if (swap && gamma)
            ConvertPixels<uint16_t, uint8_t>(
                row, [table](uint16_t v) { return table[TColorManager::Swap16Scale8(v)]; }, swapScale8);
        else if (swap)
            ConvertPixels<uint16_t, uint8_t>(row, swapScale8, swapScale8);
        else if (gamma)
            ConvertPixels<uint16_t, uint8_t>(
                row, [table](uint16_t v) { return table[TColorManager::Scale16To8(v)]; }, scale8);
        else
            ConvertPixels<uint16_t, uint8_t>(row, scale8, scale8);
    } else {
        if (swap)
            ConvertPixels<uint16_t, uint16_t>(row, swap16, swap16);
        else
            ConvertPixels<uint16_t, uint16_t>(row, copy16, copy16);
    }
}

}  // namespace

void TColorManager::RGBToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertRGBFamily(*this, Source, Target, Count, Mask, false, false);
}

void TColorManager::RGBToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertRGBFamily(*this, Source, Target, Count, Mask, false, true);
}

void TColorManager::BGRToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertRGBFamily(*this, Source, Target, Count, Mask, true, false);
}

void TColorManager::BGRToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertRGBFamily(*this, Source, Target, Count, Mask, true, true);
}
