#include "Zorgraph.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include <emmintrin.h>
#include <tmmintrin.h>

namespace {

int BytesPerPixel(TPixelFormat format) {
    switch (format) {
        case pf8bit: return 1;
        case pf15bit:
        case pf16bit: return 2;
        case pf24bit: return 3;
        case pf32bit: return 4;
        default: return 2;
    }
}

constexpr uint16_t Opaque = 0x8000;

template <bool DarkToBlack>
uint16_t KeyedTexel(uint16_t texel) {
    // 5-bit channels; green keeps the upper five of its six bits.
    const unsigned r = texel >> 11, g = (texel >> 6) & 0x1F, b = texel & 0x1F;
    const bool keyed = (r >= 29) & (g <= 2) & (b >= 29);
    uint16_t out = Opaque | ((texel >> 1) & 0x7FE0) | b;
    if constexpr (DarkToBlack) out = ((r <= 20) | (g <= 20) | (b <= 20)) ? Opaque : out;
    return keyed ? 0 : out;
}

template <bool DarkToBlack>
void ConvertKeyed(uint16_t* buffer, int32_t size) {
    // Fixed-length blocks without branches let the compiler convert a block
    // of texels at once.
    constexpr int32_t Block = 16;
    const int32_t count = std::max(size / 2, 0);
    int32_t i = 0;
    for (; i + Block <= count; i += Block)
        for (int32_t k = 0; k < Block; ++k) buffer[i + k] = KeyedTexel<DarkToBlack>(buffer[i + k]);
    for (; i < count; ++i) buffer[i] = KeyedTexel<DarkToBlack>(buffer[i]);
}

}  // namespace

void CopyScanLines(const TBitmap& bitmap, int32_t size, void* dest) {
    int32_t rowBytes = BytesPerPixel(bitmap.PixelFormat()) * bitmap.Width();
    if (rowBytes <= 0 || size <= 0) return;
    const int32_t rows = std::max(size / rowBytes, 1);
    rowBytes = std::min(rowBytes, size);
    // A row never reads past its own stored bytes, nor a row past the last.
    const int32_t copied = std::min(rowBytes, bitmap.RowBytes());
    const int32_t available = std::min(rows, bitmap.Height());
    auto* out = static_cast<uint8_t*>(dest);
    for (int32_t y = 0; y < available; ++y, out += rowBytes)
        std::memcpy(out, bitmap.ScanLine(y), static_cast<size_t>(copied));
}

namespace {

uint16_t Pack565(uint8_t r, uint8_t g, uint8_t b) { return uint16_t(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)); }

// Byte masks that gather channel c (0 blue, 1 green, 2 red) of 16 blue-first
// pixels from the k-th 16 of their 48 bytes; 0x80 leaves a byte zero.
constexpr std::array<uint8_t, 16> GatherMask(int c, int k) {
    std::array<uint8_t, 16> mask{};
    for (int p = 0; p < 16; ++p) mask[p] = (3 * p + c) / 16 == k ? uint8_t((3 * p + c) % 16) : 0x80;
    return mask;
}

template <int C>
__attribute__((target("ssse3"))) __m128i GatherChannel(__m128i a, __m128i b, __m128i c) {
    static constexpr std::array<uint8_t, 16> masks[3] = {GatherMask(C, 0), GatherMask(C, 1), GatherMask(C, 2)};
    const auto m = [](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks[k].data())); };
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m(0)), _mm_shuffle_epi8(b, m(1))), _mm_shuffle_epi8(c, m(2)));
}

// Lanes of bytes at or above / at or below a limit (unsigned).
__m128i AtLeast(__m128i v, uint8_t limit) { return _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(char(limit))), v); }
__m128i AtMost(__m128i v, uint8_t limit) { return _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(char(limit))), v); }

// KeyedTexel of the 5-6-5 truncation, 16 blue-first pixels at a time; the
// last pixels of the row go one by one. Answers how many were converted.
template <bool DarkToBlack>
__attribute__((target("ssse3"))) int32_t KeyedRow24Shuffled(const uint8_t* in, uint16_t* out, int32_t count) {
    int32_t x = 0;
    const __m128i zero = _mm_setzero_si128(), high5 = _mm_set1_epi8(char(0xF8));
    for (; x + 16 <= count; x += 16, in += 48) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32));
        const __m128i blue = GatherChannel<0>(a, b, c), green = GatherChannel<1>(a, b, c), red = GatherChannel<2>(a, b, c);
        // In 8-bit terms the key is red and blue of 29 << 3 and more, green
        // below 3 << 3; dark is a channel below 21 << 3.
        const __m128i keyed = _mm_and_si128(_mm_and_si128(AtLeast(red, 232), AtMost(green, 23)), AtLeast(blue, 232));
        const __m128i dark = _mm_or_si128(_mm_or_si128(AtMost(red, 167), AtMost(green, 167)), AtMost(blue, 167));
        const __m128i r = _mm_and_si128(red, high5), g = _mm_and_si128(green, high5);
        for (int half = 0; half < 2; ++half) {
            const auto widen = [&](__m128i v) { return half ? _mm_unpackhi_epi8(v, zero) : _mm_unpacklo_epi8(v, zero); };
            const auto widenMask = [&](__m128i m) { return half ? _mm_unpackhi_epi8(m, m) : _mm_unpacklo_epi8(m, m); };
            __m128i texel = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(widen(r), 7), _mm_slli_epi16(widen(g), 2)),
                                         _mm_srli_epi16(widen(blue), 3));
            texel = _mm_or_si128(texel, _mm_set1_epi16(short(Opaque)));
            if constexpr (DarkToBlack) texel = _mm_or_si128(_mm_andnot_si128(widenMask(dark), texel),
                                                            _mm_and_si128(widenMask(dark), _mm_set1_epi16(short(Opaque))));
            texel = _mm_andnot_si128(widenMask(keyed), texel);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 8 * half), texel);
        }
    }
    return x;
}

// Rows of the picture's blue-first pixels of PixelBytes bytes, or of palette
// indices looked up in keyedPalette, sampled as the stretch-draw samples
// them: pixel x of row y from source pixel x * sw / width of row
// y * sh / height. A row sampled from the same source row as the one before
// is a copy of it.
template <bool DarkToBlack, int PixelBytes>
void StretchKeyedRows(const TBitmap& picture, int32_t width, int32_t height, const uint16_t* keyedPalette,
                      uint16_t* texels) {
    const int32_t sw = picture.Width(), sh = picture.Height();
    std::vector<int32_t> sourceX(static_cast<size_t>(width));
    for (int32_t x = 0; x < width; ++x) sourceX[size_t(x)] = int32_t(int64_t(x) * sw / width);
    int32_t previous = -1;
    for (int32_t y = 0; y < height; ++y, texels += width) {
        const int32_t sy = int32_t(int64_t(y) * sh / height);
        if (sy == previous) {
            std::memcpy(texels, texels - width, size_t(width) * 2);
            continue;
        }
        previous = sy;
        const uint8_t* in = picture.ScanLine(sy);
        const auto texel = [&](int32_t sx) {
            if constexpr (PixelBytes == 1) return keyedPalette[in[sx]];
            const uint8_t* p = in + size_t(sx) * PixelBytes;
            return KeyedTexel<DarkToBlack>(Pack565(p[2], p[1], p[0]));
        };
        if (sw == width) {
            int32_t x = 0;
            if constexpr (PixelBytes == 3)
                if (__builtin_cpu_supports("ssse3")) x = KeyedRow24Shuffled<DarkToBlack>(in, texels, width);
            for (; x < width; ++x) texels[x] = texel(x);
        }
        else
            for (int32_t x = 0; x < width; ++x) texels[x] = texel(sourceX[size_t(x)]);
    }
}

template <bool DarkToBlack>
bool StretchKeyedAs(const TBitmap& picture, int32_t width, int32_t height, uint16_t* texels) {
    switch (picture.PixelFormat()) {
        case pf8bit: {
            // Indices without a palette entry are black, as the stretch-draw reads them.
            uint16_t keyed[256];
            const auto& entries = picture.Palette().palPalEntry;
            for (size_t i = 0; i < 256; ++i) {
                const TPaletteEntry e = i < entries.size() ? entries[i] : TPaletteEntry{};
                keyed[i] = KeyedTexel<DarkToBlack>(Pack565(e.peRed, e.peGreen, e.peBlue));
            }
            StretchKeyedRows<DarkToBlack, 1>(picture, width, height, keyed, texels);
            return true;
        }
        case pf24bit: StretchKeyedRows<DarkToBlack, 3>(picture, width, height, nullptr, texels); return true;
        case pf32bit: StretchKeyedRows<DarkToBlack, 4>(picture, width, height, nullptr, texels); return true;
        default: return false;
    }
}

}  // namespace

bool StretchKeyed1555(const TBitmap& picture, int32_t width, int32_t height, bool DarkToBlack, uint16_t* texels) {
    if (picture.Width() <= 0 || picture.Height() <= 0 || width <= 0 || height <= 0) return false;
    return DarkToBlack ? StretchKeyedAs<true>(picture, width, height, texels)
                       : StretchKeyedAs<false>(picture, width, height, texels);
}

void ColorKey1555(uint16_t* buffer, int32_t size) { ConvertKeyed<false>(buffer, size); }

void ColorKeyDark1555(uint16_t* buffer, int32_t size) { ConvertKeyed<true>(buffer, size); }

namespace {

// The texel bleeding gives the transparent texel at (x, y) of source: its
// first opaque neighbour's colour, or itself when it has none.
uint16_t BledTexel(const uint16_t* source, int32_t width, int32_t height, int32_t x, int32_t y) {
    struct Offset {
        int32_t dx, dy;
    };
    static constexpr std::array<Offset, 8> Neighbours{
        {{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {1, -1}, {1, 1}, {-1, 1}, {-1, -1}}};
    for (const Offset& o : Neighbours) {
        const int32_t nx = x + o.dx, ny = y + o.dy;
        if (nx < 0 || nx >= width || ny < 0 || ny >= height) continue;
        const uint16_t neighbour = source[ny * ptrdiff_t(width) + nx];
        if (neighbour & Opaque) return neighbour & ~Opaque;
    }
    return source[y * ptrdiff_t(width) + x];
}

// All-ones in the lanes of opaque texels.
__m128i OpaqueLanes(__m128i texels) { return _mm_srai_epi16(texels, 15); }

__m128i Load8(const uint16_t* texels) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(texels)); }

// Eight texels from x of row y (1 <= x, x + 8 < width) bled at once: the
// neighbours are taken in reverse order, each opaque one replacing the
// choice so far, so that the first opaque one in order wins. Rows above the
// first and below the last are given as all transparent.
__m128i BledLanes(const uint16_t* above, const uint16_t* row, const uint16_t* below, __m128i here) {
    const __m128i neighbours[8] = {Load8(row - 1),   Load8(row + 1),   Load8(above), Load8(below),
                                   Load8(above + 1), Load8(below + 1), Load8(below - 1), Load8(above - 1)};
    __m128i choice = neighbours[7], found = OpaqueLanes(choice);
    for (int k = 6; k >= 0; --k) {
        const __m128i opaque = OpaqueLanes(neighbours[k]);
        choice = _mm_or_si128(_mm_and_si128(opaque, neighbours[k]), _mm_andnot_si128(opaque, choice));
        found = _mm_or_si128(found, opaque);
    }
    const __m128i replace = _mm_andnot_si128(OpaqueLanes(here), found);
    const __m128i colour = _mm_and_si128(choice, _mm_set1_epi16(0x7FFF));
    return _mm_or_si128(_mm_and_si128(replace, colour), _mm_andnot_si128(replace, here));
}

}  // namespace

void BleedTransparentInto(const uint16_t* source, int32_t width, int32_t height, uint8_t* dest, ptrdiff_t destPitch) {
    if (width <= 0 || height <= 0) return;
    const bool inPlace = reinterpret_cast<const uint8_t*>(source) == dest && destPitch == ptrdiff_t(width) * 2;
    // Outside the picture there are only transparent texels.
    std::vector<uint16_t> blank(size_t(width) + 2, 0);
    for (int32_t y = 0; y < height; ++y) {
        const uint16_t* row = source + y * ptrdiff_t(width);
        const uint16_t* above = y > 0 ? row - width : blank.data() + 1;
        const uint16_t* below = y + 1 < height ? row + width : blank.data() + 1;
        auto* out = reinterpret_cast<uint16_t*>(dest + y * destPitch);
        const auto single = [&](int32_t x) {
            out[x] = (row[x] & Opaque) ? row[x] : BledTexel(source, width, height, x, y);
        };
        if (width < 10) {
            for (int32_t x = 0; x < width; ++x) single(x);
            continue;
        }
        single(0);
        int32_t x = 1;
        for (; x + 8 < width; x += 8) {
            const __m128i here = Load8(row + x);
            // Blocks of opaque texels, the common case, stay as they are.
            if (_mm_movemask_epi8(OpaqueLanes(here)) == 0xFFFF) {
                if (!inPlace) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), here);
                continue;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), BledLanes(above + x, row + x, below + x, here));
        }
        for (; x < width; ++x) single(x);
    }
}

void BleedTransparent(uint16_t* buffer, int32_t width, int32_t height) {
    BleedTransparentInto(buffer, width, height, reinterpret_cast<uint8_t*>(buffer), ptrdiff_t(width) * 2);
}
