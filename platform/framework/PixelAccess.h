// Pixel-level access shared by the bitmap, its file reader and the icon: one
// pixel of any format read as 8-bit RGBA, written back with truncation, and
// the nearest-sample stretch copy that every Draw uses.
#pragma once

#include <cstdint>
#include <vector>

#include "Graphics.h"

struct TRGBA {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const TRGBA&) const = default;
};

// 5- and 6-bit channels widened to 8 bits by repeating their top bits, so
// that truncating back gives the stored value again.
constexpr uint8_t Widen5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
constexpr uint8_t Widen6(unsigned v) { return static_cast<uint8_t>((v << 2) | (v >> 4)); }

inline bool IsIndexed(TPixelFormat format) { return format == pf1bit || format == pf4bit || format == pf8bit; }

// Palette index of pixel x in a row of a 1-, 4- or 8-bit format.
inline unsigned ReadIndex(const uint8_t* row, int x, TPixelFormat format) {
    switch (format) {
        case pf1bit: return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case pf4bit: return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
        default: return row[x];
    }
}

inline void WriteIndex(uint8_t* row, int x, TPixelFormat format, unsigned index) {
    switch (format) {
        case pf1bit: {
            const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
            row[x >> 3] = static_cast<uint8_t>((index & 1) ? row[x >> 3] | bit : row[x >> 3] & ~bit);
            break;
        }
        case pf4bit: {
            uint8_t& byte = row[x >> 1];
            byte =
                static_cast<uint8_t>((x & 1) ? (byte & 0xF0) | (index & 0x0F) : (byte & 0x0F) | ((index & 0x0F) << 4));
            break;
        }
        default: row[x] = static_cast<uint8_t>(index);
    }
}

// Pixel x of a row; indices outside the palette read as opaque black.
TRGBA ReadPixel(const uint8_t* row, int x, TPixelFormat format, const std::vector<TPaletteEntry>& palette);

// Writes colours into rows of one format, choosing the nearest palette
// entry for indexed formats (the last match is remembered, since runs of one
// colour are the common case).
class TPixelWriter {
public:
    TPixelWriter(TPixelFormat format, const TLogPalette& palette);
    void Write(uint8_t* row, int x, TRGBA color);
    unsigned NearestIndex(TRGBA color);

private:
    TPixelFormat format_;
    const std::vector<TPaletteEntry>& entries_;
    TRGBA lastColor_{0, 0, 0, 0};
    unsigned lastIndex_ = 0;
    bool haveLast_ = false;
};

// Which source pixels a stretch copy leaves out.
struct TSkipRule {
    enum Kind { skNone, skColor, skZeroAlpha } kind = skNone;
    TColor color = clNone;
};

// Draws source scaled onto rect of dest by nearest sampling, clipped to dest.
void StretchCopy(const TBitmap& source, TBitmap& dest, const TRect& rect, TSkipRule skip);

// The palette an indexed format starts with: black and white, the 16 VGA
// colours, or those 16 followed by a 6x6x6 colour cube and a grey ramp.
TLogPalette DefaultPalette(TPixelFormat format);
