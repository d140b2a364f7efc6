#include "Zorgraph.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

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

void ColorKey1555(uint16_t* buffer, int32_t size) { ConvertKeyed<false>(buffer, size); }

void ColorKeyDark1555(uint16_t* buffer, int32_t size) { ConvertKeyed<true>(buffer, size); }

void BleedTransparent(uint16_t* buffer, int32_t width, int32_t height) {
    struct Offset {
        int32_t dx, dy;
    };
    static constexpr std::array<Offset, 8> Neighbours{
        {{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {1, -1}, {1, 1}, {-1, 1}, {-1, -1}}};
    const ptrdiff_t stride = width;
    for (int32_t y = 0; y < height; ++y) {
        uint16_t* row = buffer + y * stride;
        for (int32_t x = 0; x < width; ++x) {
            // Runs of opaque texels are passed over eight at a time (bleeding
            // never makes a texel opaque, so the runs stay as they are).
            while (x + 8 <= width) {
                uint64_t a, b;
                std::memcpy(&a, row + x, 8);
                std::memcpy(&b, row + x + 4, 8);
                constexpr uint64_t AllOpaque = 0x8000800080008000ull;
                if ((a & b & AllOpaque) != AllOpaque) break;
                x += 8;
            }
            if (x >= width) break;
            if (row[x] & Opaque) continue;
            for (const Offset& o : Neighbours) {
                const int32_t nx = x + o.dx, ny = y + o.dy;
                if (nx < 0 || nx >= width || ny < 0 || ny >= height) continue;
                const uint16_t source = row[o.dy * stride + nx];
                if (source & Opaque) {
                    row[x] = source & ~Opaque;
                    break;
                }
            }
        }
    }
}
