#include "Zorgraph.h"

#include <algorithm>
#include <array>
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

// The 5-bit channels of a 5-6-5 texel (green keeps its upper five bits).
struct Channels {
    uint16_t r, g, b;
};

Channels Split565(uint16_t texel) { return {uint16_t(texel >> 11), uint16_t((texel >> 6) & 0x1F), uint16_t(texel & 0x1F)}; }

bool IsKeyed(Channels c) { return c.r >= 29 && c.g <= 2 && c.b >= 29; }

bool IsDark(Channels c) { return c.r <= 20 || c.g <= 20 || c.b <= 20; }

uint16_t Pack1555(Channels c) { return Opaque | (c.r << 10) | (c.g << 5) | c.b; }

template <bool DarkToBlack>
void ConvertKeyed(uint16_t* buffer, int32_t size) {
    const int32_t count = size / 2;
    for (int32_t i = 0; i < count; ++i) {
        const Channels c = Split565(buffer[i]);
        if (IsKeyed(c))
            buffer[i] = 0;
        else if (DarkToBlack && IsDark(c))
            buffer[i] = Opaque;
        else
            buffer[i] = Pack1555(c);
    }
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
        int dx, dy;
    };
    static constexpr std::array<Offset, 8> Neighbours{
        {{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {1, -1}, {1, 1}, {-1, 1}, {-1, -1}}};
    for (int32_t y = 0; y < height; ++y) {
        uint16_t* row = buffer + static_cast<ptrdiff_t>(y) * width;
        for (int32_t x = 0; x < width; ++x) {
            if (row[x] & Opaque) continue;
            for (const Offset& o : Neighbours) {
                const int32_t nx = x + o.dx, ny = y + o.dy;
                if (nx < 0 || nx >= width || ny < 0 || ny >= height) continue;
                const uint16_t source = buffer[static_cast<ptrdiff_t>(ny) * width + nx];
                if (source & Opaque) {
                    row[x] = source & ~Opaque;
                    break;
                }
            }
        }
    }
}
