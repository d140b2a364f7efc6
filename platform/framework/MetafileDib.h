// Device-independent bitmaps carried inside metafile records (a bitmap info
// header, its colour table and the bits), sampled one pixel at a time so that
// a stretched copy never needs a decoded image in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Graphics.h"

class TMetafileDib {
public:
    // The length of the header and colour table at the start of a packed
    // bitmap (as metafiles of the older kind store it, bits following), or 0
    // when the header is not one we read.
    static size_t InfoSize(const uint8_t* info, size_t available);

    // Takes copies of header and bits. False when the bitmap is malformed,
    // too large, compressed, or its bits are shorter than its rows need.
    bool Parse(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize);

    int Width() const { return width_; }
    int Height() const { return height_; }
    // The colour at (x, y), row y counted from the top; 0 <= x < Width(),
    // 0 <= y < Height().
    TColor Pixel(int x, int y) const;
    // The alpha byte of a plain 32-bit pixel; other pixels are opaque.
    uint8_t Alpha(int x, int y) const;

private:
    bool ParseMasks(const uint8_t* info, size_t infoSize, size_t headerSize, uint32_t compression);
    TColor MaskedColor(uint32_t value) const;

    int width_ = 0, height_ = 0, bitCount_ = 0;
    bool bottomUp_ = true;
    bool alpha_ = false;
    size_t rowBytes_ = 0;
    uint32_t masks_[3] = {0, 0, 0};
    std::vector<TColor> colors_;
    std::vector<uint8_t> bits_;
};
