// Device-independent bitmaps carried inside metafile records (a bitmap info
// header, its colour table and the bits), decoded by the bitmap reader so
// that every layout a .bmp file may hold - run-length data, short colour
// tables, bit fields - draws the same inside a metafile.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Graphics.h"

class TMetafileDib {
public:
    // Decodes a header with its colour table (info) and the bits that follow
    // it (bits). The colour table ends where the info does. False when the
    // bitmap is malformed, unsupported, too large for its data, or its bits
    // are shorter than its rows need.
    bool Parse(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize);
    // The same for a packed bitmap, as metafiles of the older kind store it:
    // header, colour table and bits in one block.
    bool ParsePacked(const uint8_t* data, size_t size);

    int Width() const { return image_.Width(); }
    int Height() const { return image_.Height(); }
    // The colour at (x, y), row y counted from the top; 0 <= x < Width(),
    // 0 <= y < Height().
    TColor Pixel(int x, int y) const { return image_.Pixel(x, y); }
    // The alpha of a 32-bit pixel that carries one; other pixels are opaque.
    uint8_t Alpha(int x, int y) const;
    // Whether the pixel is a 1 bit of a two-colour bitmap (of others:
    // whether it is light).
    bool Bit(int x, int y) const;

private:
    TBitmap image_;
};
