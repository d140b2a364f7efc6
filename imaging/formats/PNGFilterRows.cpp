// The PNG row filters, undone with SSE2, or with the AVX2 build's SSSE3 and
// SSE4.1 instructions where they shorten the chains. Built twice, with
// PNGFILTERS_ISA naming the namespace of each build. Nothing from the
// standard library's templates is used here: a template instantiated in both
// builds could be merged into the AVX2 one and run where AVX2 is missing.
#include <immintrin.h>

#include <cstring>

#include "formats/PNGFilters.h"

#ifndef PNGFILTERS_ISA
#error "PNGFILTERS_ISA names the instruction-set build"
#endif

namespace pngfilters::PNGFILTERS_ISA {

namespace {

// Sub, Average and Paeth carry a dependency from each pixel to the next, so
// they keep the pixel to the left in a register and work a whole pixel at a
// time. Pixels of 1, 2, 4 and 8 bytes are loaded and stored exactly, the
// rest of the register zero. Pixels of 3 and 6 bytes are loaded and stored
// as 4 and 8 bytes: the lanes past the pixel compute nonsense, which lands
// on the first bytes of the next pixel and is overwritten when that pixel is
// stored; each pixel is loaded before the one to its left is stored, and
// UndoFilterAt puts back the bytes behind the row. (Loading a pixel before
// storing its neighbour also keeps loads from waiting on overlapping
// stores.)
template <uint32_t B>
__m128i LoadPixel(const uint8_t* p) {
    if constexpr (B == 1) {
        return _mm_cvtsi32_si128(p[0]);
    } else if constexpr (B == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return _mm_cvtsi32_si128(v);
    } else if constexpr (B <= 4) {
        int32_t v;
        std::memcpy(&v, p, 4);
        return _mm_cvtsi32_si128(v);
    } else {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    }
}

template <uint32_t B>
void StorePixel(uint8_t* p, __m128i v) {
    const int32_t low = _mm_cvtsi128_si32(v);
    if constexpr (B == 1) {
        p[0] = static_cast<uint8_t>(low);
    } else if constexpr (B == 2) {
        const auto word = static_cast<uint16_t>(low);
        std::memcpy(p, &word, 2);
    } else if constexpr (B <= 4) {
        std::memcpy(p, &low, 4);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
    }
}

// Whether a loaded pixel carries bytes of the next one.
template <uint32_t B>
constexpr bool RidesAlong = B == 3 || B == 6;

__m128i Abs16(__m128i v) {
#if defined(__SSSE3__)
    return _mm_abs_epi16(v);
#else
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
#endif
}

// Per byte: where mask is set, ifSet, else ifClear.
__m128i Select(__m128i mask, __m128i ifSet, __m128i ifClear) {
#if defined(__SSE4_1__)
    return _mm_blendv_epi8(ifClear, ifSet, mask);
#else
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
#endif
}

// The last pixel of a 16-byte block, copied into every pixel of the block.
template <uint32_t B>
__m128i BroadcastLastPixel(__m128i v) {
#if defined(__SSSE3__)
    constexpr auto at = [](int i) { return static_cast<char>(16 - B + i % B); };
    return _mm_shuffle_epi8(v, _mm_setr_epi8(at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8), at(9),
                                             at(10), at(11), at(12), at(13), at(14), at(15)));
#else
    if constexpr (B == 1) {
        const __m128i high = _mm_unpackhi_epi8(v, v);
        return _mm_shuffle_epi32(_mm_unpackhi_epi16(high, high), 0xFF);
    } else if constexpr (B == 2) {
        return _mm_shuffle_epi32(_mm_shufflehi_epi16(v, 0xFF), 0xFF);
    } else if constexpr (B == 4) {
        return _mm_shuffle_epi32(v, 0xFF);
    } else {
        return _mm_unpackhi_epi64(v, v);
    }
#endif
}

void UndoUp(uint8_t* __restrict row, const uint8_t* __restrict prior, uint32_t count) {
    // Plain enough for the compiler to vectorise at the build's width.
    for (uint32_t i = 0; i < count; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
}

// Sub from byte i on, with a holding the pixel to the left.
template <uint32_t B>
void UndoSubPixels(uint8_t* row, uint32_t i, uint32_t count, __m128i a) {
    __m128i x = LoadPixel<B>(row + i);
    for (; i < count; i += B) {
        const __m128i next = LoadPixel<B>(row + i + B);
        a = _mm_add_epi8(x, a);
        StorePixel<B>(row + i, a);
        x = next;
    }
}

// Pixels that divide 16 bytes: each block is summed up within itself off
// the dependency chain (log2 of its pixel count shifted additions), and only
// adding the previous block's last pixel links the blocks.
template <uint32_t B>
void UndoSub(uint8_t* row, uint32_t count) {
    if constexpr (RidesAlong<B>) {
        UndoSubPixels<B>(row, 0, count, _mm_setzero_si128());
    } else {
        __m128i last = _mm_setzero_si128();
        uint32_t i = 0;
        for (; i + 16 <= count; i += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
            if constexpr (B < 2) v = _mm_add_epi8(v, _mm_slli_si128(v, 1));
            if constexpr (B < 4) v = _mm_add_epi8(v, _mm_slli_si128(v, 2));
            if constexpr (B < 8) v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
            v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
            v = _mm_add_epi8(v, last);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), v);
            last = BroadcastLastPixel<B>(v);
        }
        UndoSubPixels<B>(row, i, count, _mm_srli_si128(last, 16 - B));
    }
}

// Average works on complements: with u = 255 - a and v = 255 - b, the
// rounding-up average of u and v is 255 - floor((a + b) / 2), so the
// complement of the next a is that average less the filtered byte, a chain
// of two instructions per pixel.
template <uint32_t B>
void UndoAverage(uint8_t* row, const uint8_t* prior, uint32_t count) {
    const __m128i ones = _mm_set1_epi8(-1);
    __m128i u = ones;
    __m128i x = LoadPixel<B>(row);
    for (uint32_t i = 0; i < count; i += B) {
        const __m128i next = LoadPixel<B>(row + i + B);
        const __m128i v = _mm_xor_si128(LoadPixel<B>(prior + i), ones);
        u = _mm_sub_epi8(_mm_avg_epu8(u, v), x);
        StorePixel<B>(row + i, _mm_xor_si128(u, ones));
        x = next;
    }
}

// Paeth in 16-bit lanes. The three possible results (the filtered byte
// plus a, b or c) are worked out beside the choice between them, so the
// chain from one pixel to the next is the choice and one blend; so is
// pa = |b - c|, which does not depend on the pixel to the left.
template <uint32_t B>
void UndoPaeth(uint8_t* row, const uint8_t* prior, uint32_t count) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_set1_epi16(0x00FF);
    __m128i a = zero, c = zero;
    __m128i x = _mm_unpacklo_epi8(LoadPixel<B>(row), zero);
    for (uint32_t i = 0; i < count; i += B) {
        const __m128i next = _mm_unpacklo_epi8(LoadPixel<B>(row + i + B), zero);
        const __m128i b = _mm_unpacklo_epi8(LoadPixel<B>(prior + i), zero);
        const __m128i bc = _mm_sub_epi16(b, c);
        const __m128i pa = Abs16(bc);
        const __m128i withB = _mm_and_si128(_mm_add_epi16(x, b), low);
        const __m128i withC = _mm_and_si128(_mm_add_epi16(x, c), low);
        const __m128i withA = _mm_and_si128(_mm_add_epi16(x, a), low);
        const __m128i ac = _mm_sub_epi16(a, c);
        const __m128i pb = Abs16(ac);
        const __m128i pc = Abs16(_mm_add_epi16(ac, bc));
        const __m128i notA = _mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc));
        a = Select(notA, Select(_mm_cmpgt_epi16(pb, pc), withC, withB), withA);
        StorePixel<B>(row + i, _mm_packus_epi16(a, zero));
        c = b;
        x = next;
    }
}

// Average of one-byte pixels: the scalar chain is as short as the vector
// one, without the moves between vector and general registers.
void UndoAverage1(uint8_t* row, const uint8_t* prior, uint32_t count) {
    uint32_t a = 0;
    for (uint32_t i = 0; i < count; ++i) {
        a = (row[i] + ((a + prior[i]) >> 1)) & 0xFF;
        row[i] = static_cast<uint8_t>(a);
    }
}

template <uint32_t B>
void UndoFilterAt(uint8_t filter, uint8_t* row, const uint8_t* prior, uint32_t count) {
    // What the last pixel's wide store puts behind the row is put back.
    uint8_t behind[8];
    if constexpr (RidesAlong<B>) std::memcpy(behind, row + count, sizeof(behind));
    switch (filter) {
        case 1: UndoSub<B>(row, count); break;
        case 2: UndoUp(row, prior, count); break;
        case 3:
            if constexpr (B == 1)
                UndoAverage1(row, prior, count);
            else
                UndoAverage<B>(row, prior, count);
            break;
        case 4: UndoPaeth<B>(row, prior, count); break;
        default: break;  // None, and unknown types leave the row as read.
    }
    if constexpr (RidesAlong<B>) std::memcpy(row + count, behind, sizeof(behind));
}

}  // namespace

void UndoFilter(uint8_t filter, uint8_t* row, const uint8_t* prior, uint32_t count, uint32_t pixelStride) {
    switch (pixelStride) {
        case 1: UndoFilterAt<1>(filter, row, prior, count); break;
        case 2: UndoFilterAt<2>(filter, row, prior, count); break;
        case 3: UndoFilterAt<3>(filter, row, prior, count); break;
        case 4: UndoFilterAt<4>(filter, row, prior, count); break;
        case 6: UndoFilterAt<6>(filter, row, prior, count); break;
        default: UndoFilterAt<8>(filter, row, prior, count); break;
    }
}

}  // namespace pngfilters::PNGFILTERS_ISA
