#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "Zorgraph.h"

namespace {

using Texels = std::vector<uint16_t>;

TEST(ColorKey1555, KeysNearMagentaAndPacksTheRest) {
    const struct {
        uint16_t in, keyed, dark;
    } cases[] = {
        {0xF81F, 0x0000, 0x0000},  // magenta; the key wins over darkness
        {0xF85F, 0x0000, 0x0000},  // green 2 (of 63) still keys
        {0xF83F, 0x0000, 0x0000},  // the lowest green bit is dropped
        {0xE81D, 0x0000, 0x0000},  // r 29, b 29: the edge of the key
        {0xF8DF, 0xFC7F, 0x8000},  // green 3 (of 31) is past the key
        {0xE01D, 0xF01D, 0x8000},  // r 28 is past the key
        {0xFFFF, 0xFFFF, 0xFFFF},
        {0x0000, 0x8000, 0x8000},
        {0xF800, 0xFC00, 0x8000},  // green 0 is dark
        {0xAD55, 0xD6B5, 0xD6B5},  // every channel 21: not dark
        {0xA554, 0xD2B4, 0x8000},  // red and blue 20 are dark
    };
    for (const auto& c : cases) {
        Texels texels{c.in, c.in, 0x1234};
        ColorKey1555(texels.data(), 2);
        ColorKeyDark1555(texels.data() + 1, 3);  // size div 2: one texel
        EXPECT_EQ(texels, (Texels{c.keyed, c.dark, 0x1234})) << std::hex << c.in;
    }
}

TEST(BleedTransparent, TakesTheFirstOpaqueNeighbourInOrder) {
    Texels row{0x801F, 0x0000, 0x0000};
    BleedTransparent(row.data(), 3, 1);
    EXPECT_EQ(row, (Texels{0x801F, 0x001F, 0x0000}));

    // A transparent centre whose neighbours are hidden one after another in
    // the search order: left, right, above, below, above-right,
    // below-right, below-left, above-left (indices in a 3 x 3 block).
    const int order[] = {3, 5, 1, 7, 2, 8, 6, 0};
    for (int hidden = 0; hidden < 8; ++hidden) {
        Texels block(9);
        for (int i = 0; i < 9; ++i) block[i] = uint16_t(0x8000 | (i + 1));
        block[4] = 0;
        for (int k = 0; k < hidden; ++k) block[order[k]] = 0;
        BleedTransparent(block.data(), 3, 3);
        EXPECT_EQ(block[4], order[hidden] + 1) << hidden << " hidden";
    }
}

TEST(BleedTransparent, ChangedTexelsNeverServeAsSources) {
    Texels grid{0, 0, 0,  //
                0, 0, 0,  //
                0, 0, 0x83FF};
    BleedTransparent(grid.data(), 3, 3);
    EXPECT_EQ(grid, (Texels{0, 0, 0,  //
                            0, 0x03FF, 0x03FF,  //
                            0, 0x03FF, 0x83FF}));
    Texels opaque{0x8000, 0xFFFF, 0x9234, 0x8001};
    BleedTransparent(opaque.data(), 2, 2);
    EXPECT_EQ(opaque, (Texels{0x8000, 0xFFFF, 0x9234, 0x8001}));
}

TBitmap Numbered(TPixelFormat format, int width, int height) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < bitmap.RowBytes(); ++x) bitmap.ScanLine(y)[x] = uint8_t(0x40 * y + x + 1);
    return bitmap;
}

TEST(BleedTransparent, WideRowsBleedWhereverTheGapsFall) {
    // Rows longer than a few texels, with transparent texels at every
    // position of a row (first, last, inside long opaque runs and in runs of
    // their own), compared with a texel-by-texel walk of the same rule.
    constexpr int32_t Width = 21, Height = 5;
    Texels grid(Width * Height);
    uint32_t seed = 12345;
    for (uint16_t& texel : grid) {
        seed = seed * 1103515245u + 12345u;
        const uint16_t colour = static_cast<uint16_t>((seed >> 8) & 0x7FFF);
        texel = ((seed >> 24) % 5 == 0) ? colour : static_cast<uint16_t>(colour | 0x8000);
    }
    grid[0] = grid[Width - 1] = grid[2 * Width + 8] = grid[3 * Width + 20] = 0x1234;
    for (int32_t x = 9; x < 17; ++x) grid[4 * Width + x] = 0x0042;
    Texels expected = grid;
    const int offsets[8][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {1, -1}, {1, 1}, {-1, 1}, {-1, -1}};
    for (int32_t y = 0; y < Height; ++y)
        for (int32_t x = 0; x < Width; ++x) {
            uint16_t& texel = expected[y * Width + x];
            if (texel & 0x8000) continue;
            for (const auto& o : offsets) {
                const int32_t nx = x + o[0], ny = y + o[1];
                if (nx < 0 || nx >= Width || ny < 0 || ny >= Height) continue;
                const uint16_t source = expected[ny * Width + nx];
                if (source & 0x8000) {
                    texel = source & 0x7FFF;
                    break;
                }
            }
        }
    BleedTransparent(grid.data(), Width, Height);
    EXPECT_EQ(grid, expected);
}

TEST(CopyScanLines, CopiesWholeRowsTopFirstCutToSize) {
    const struct {
        TPixelFormat format;
        int size, rowBytes, rows;
    } cases[] = {
        {pf16bit, 16, 8, 2}, {pf16bit, 12, 8, 1}, {pf16bit, 4, 4, 1},  {pf8bit, 8, 4, 2},
        {pf15bit, 16, 8, 2}, {pf24bit, 24, 12, 2}, {pf32bit, 32, 16, 2},
    };
    for (const auto& c : cases) {
        const TBitmap bitmap = Numbered(c.format, 4, 2);
        std::vector<uint8_t> out(40, 0xEE);
        CopyScanLines(bitmap, c.size, out.data());
        for (int y = 0; y < c.rows; ++y)
            EXPECT_EQ(0, std::memcmp(out.data() + y * c.rowBytes, bitmap.ScanLine(y), c.rowBytes)) << c.size;
        EXPECT_EQ(out[c.rows * c.rowBytes], 0xEE) << c.size;
    }
}

TEST(CopyScanLines, NeverReadsPastTheBitmap) {
    // More rows asked for than the bitmap has; a 1-bit bitmap counted at two
    // bytes a pixel, with shorter stored rows; an empty bitmap.
    const TBitmap bitmap = Numbered(pf16bit, 2, 1);
    std::vector<uint8_t> out(80, 0xEE);
    CopyScanLines(bitmap, 16, out.data());
    EXPECT_EQ(0, std::memcmp(out.data(), bitmap.ScanLine(0), 4));
    EXPECT_EQ(out[4], 0xEE);

    const TBitmap mono = Numbered(pf1bit, 40, 1);
    CopyScanLines(mono, 80, out.data());
    EXPECT_EQ(0, std::memcmp(out.data(), mono.ScanLine(0), mono.RowBytes()));
    EXPECT_EQ(out[mono.RowBytes()], 0xEE);

    const std::vector<uint8_t> before(80, 0xEE);
    out = before;
    CopyScanLines(TBitmap(), 16, out.data());
    EXPECT_EQ(out, before) << "an empty bitmap copies nothing";
}

}  // namespace
