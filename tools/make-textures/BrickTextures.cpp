#include "BrickTextures.h"

#include <algorithm>
#include <cmath>

namespace {

// A repeatable pseudo-random value in [0, 1) for an integer lattice point.
float Hash(int x, int y, uint32_t seed) {
    uint32_t h = static_cast<uint32_t>(x) * 0x8DA6B343u ^ static_cast<uint32_t>(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return static_cast<float>(h & 0xFFFFFF) / 16777216.0f;
}

// Smooth value noise with a lattice of `cell` texels that tiles over
// `period` texels (period a multiple of cell).
float ValueNoise(int x, int y, int cell, int period, uint32_t seed) {
    const int cells = period / cell;
    const int cx = x / cell, cy = y / cell;
    const float fx = float(x % cell) / cell, fy = float(y % cell) / cell;
    const auto corner = [&](int i, int j) { return Hash((cx + i) % cells, (cy + j) % cells, seed); };
    const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    const float top = corner(0, 0) + (corner(1, 0) - corner(0, 0)) * sx;
    const float bottom = corner(0, 1) + (corner(1, 1) - corner(0, 1)) * sx;
    return top + (bottom - top) * sy;
}

struct TBrickCell {
    int Column, Row;  // which brick
    int Distance;     // texels from the face's nearest edge; < 0 in a joint
};

TBrickCell CellAt(int x, int y, const TBrickLayout& layout) {
    const int row = y / layout.BrickHeight;
    const int shifted = x + (row % 2) * (layout.BrickWidth / 2);
    const int u = shifted % layout.BrickWidth, v = y % layout.BrickHeight;
    // The joint runs along the left and top side of each brick's cell.
    const int fromLeft = u - layout.MortarWidth, fromRight = layout.BrickWidth - 1 - u;
    const int fromTop = v - layout.MortarWidth, fromBottom = layout.BrickHeight - 1 - v;
    return {shifted / layout.BrickWidth, row, std::min({fromLeft, fromRight, fromTop, fromBottom})};
}

}  // namespace

float THeightField::At(int x, int y) const {
    x = ((x % Width) + Width) % Width;
    y = ((y % Height) + Height) % Height;
    return Heights[static_cast<size_t>(y) * Width + x];
}

THeightField BrickHeights(int width, int height, const TBrickLayout& layout) {
    THeightField field{width, height, std::vector<float>(static_cast<size_t>(width) * height)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TBrickCell cell = CellAt(x, y, layout);
            const float grain = ValueNoise(x, y, 8, std::min(width, height), 1) - 0.5f;
            float h;
            if (cell.Distance < 0)
                h = 0.3f * grain;
            else
                h = layout.BrickRise * std::min(1.0f, float(cell.Distance + 1) / layout.BevelWidth) + 0.8f * grain;
            field.Heights[static_cast<size_t>(y) * width + x] = h;
        }
    return field;
}

TBitmap BrickColors(const THeightField& field, const TBrickLayout& layout) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(field.Width, field.Height);
    for (int y = 0; y < field.Height; ++y)
        for (int x = 0; x < field.Width; ++x) {
            const TBrickCell cell = CellAt(x, y, layout);
            const float shade = std::clamp(0.8f + 0.1f * field.At(x, y) / layout.BrickRise * 2, 0.6f, 1.0f);
            float r, g, b;
            if (cell.Distance < 0) {
                r = 168, g = 162, b = 150;
            } else {
                const float tone = Hash(cell.Column, cell.Row, 7);
                r = 150 + 40 * tone, g = 58 + 18 * tone, b = 42 + 10 * tone;
            }
            const auto channel = [&](float c) { return static_cast<uint8_t>(std::clamp(c * shade, 0.0f, 255.0f)); };
            bitmap.SetPixel(x, y, RGB(channel(r), channel(g), channel(b)));
        }
    return bitmap;
}

uint8_t EncodeNormalComponent(float c) { return static_cast<uint8_t>(static_cast<int>(127.0f * c + 128.0f)); }

TBitmap NormalMap(const THeightField& field) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(field.Width, field.Height);
    for (int y = 0; y < field.Height; ++y)
        for (int x = 0; x < field.Width; ++x) {
            // Picture rows run downwards, so the slope towards the top is
            // the negated row difference.
            const float dx = (field.At(x + 1, y) - field.At(x - 1, y)) / 2;
            const float dyUp = (field.At(x, y - 1) - field.At(x, y + 1)) / 2;
            const float length = std::sqrt(dx * dx + dyUp * dyUp + 1);
            bitmap.SetPixel(x, y, RGB(EncodeNormalComponent(-dx / length), EncodeNormalComponent(-dyUp / length),
                                      EncodeNormalComponent(1 / length)));
        }
    return bitmap;
}
