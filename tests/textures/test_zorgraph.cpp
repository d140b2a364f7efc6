#include <gtest/gtest.h>

#include <algorithm>
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
    // their own), compared with a texel-by-texel walk of the same rule; bled
    // in place and into rows of a wider pitch.
    for (const int32_t Width : {10, 21, 70}) {
        constexpr int32_t Height = 5;
        Texels grid(Width * Height);
        uint32_t seed = 12345;
        for (uint16_t& texel : grid) {
            seed = seed * 1103515245u + 12345u;
            const uint16_t colour = static_cast<uint16_t>((seed >> 8) & 0x7FFF);
            texel = ((seed >> 24) % 5 == 0) ? colour : static_cast<uint16_t>(colour | 0x8000);
        }
        grid[0] = grid[Width - 1] = grid[2 * Width + 8] = grid[3 * Width + Width - 1] = 0x1234;
        for (int32_t x = 1; x < 9; ++x) grid[4 * Width + x] = 0x0042;
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
        Texels pitched(size_t(Width + 3) * Height, 0xEEEE);
        BleedTransparentInto(grid.data(), Width, Height, reinterpret_cast<uint8_t*>(pitched.data()), (Width + 3) * 2);
        for (int32_t y = 0; y < Height; ++y) {
            EXPECT_TRUE(std::equal(expected.begin() + y * Width, expected.begin() + (y + 1) * Width,
                                   pitched.begin() + y * (Width + 3)))
                << Width << " wide, row " << y;
            EXPECT_EQ(pitched[y * (Width + 3) + Width], 0xEEEE);
        }
        BleedTransparent(grid.data(), Width, Height);
        EXPECT_EQ(grid, expected) << Width << " wide";
    }
}

// The texels made in one pass are those of the stretch-draw onto 5-6-5 and
// the colour key, for every format it takes, at the same size, enlarged and
// reduced, wide enough for whole blocks and a rest; other formats are left
// to the two passes.
TEST(StretchKeyed1555, MatchesStretchDrawAndColorKey) {
    const struct {
        TPixelFormat Format;
        int Width, Height, TargetWidth, TargetHeight;
    } cases[] = {{pf24bit, 37, 5, 37, 5},  {pf24bit, 37, 5, 64, 8}, {pf24bit, 50, 9, 32, 4},
                 {pf32bit, 19, 3, 19, 3},  {pf32bit, 7, 3, 16, 4},  {pf8bit, 20, 4, 20, 4},
                 {pf8bit, 20, 4, 32, 8}};
    for (const auto& c : cases) {
        TBitmap picture;
        picture.SetPixelFormat(c.Format);
        if (c.Format == pf8bit) {
            TLogPalette palette;
            for (int i = 0; i < 200; ++i)
                palette.palPalEntry.push_back({uint8_t(i * 37), uint8_t(i % 3 ? 0 : i), uint8_t(255 - i % 7), 0});
            picture.SetPalette(palette);
        }
        picture.SetSize(c.Width, c.Height);
        uint32_t seed = 7;
        for (int y = 0; y < c.Height; ++y)
            for (int x = 0; x < picture.RowBytes(); ++x) {
                seed = seed * 1103515245u + 12345u;
                // Near-magenta and dark values, where the key and the
                // darkening have their edges.
                const uint8_t near[] = {255, 232, 231, 0, 23, 24, 167, 168};
                picture.ScanLine(y)[x] = (seed >> 20) % 2 ? near[(seed >> 24) % 8] : uint8_t(seed >> 24);
            }
        for (bool dark : {false, true}) {
            TBitmap drawn;
            drawn.SetPixelFormat(pf16bit);
            drawn.SetSize(c.TargetWidth, c.TargetHeight);
            drawn.Canvas().StretchDraw(Rect(0, 0, c.TargetWidth, c.TargetHeight), picture);
            const int32_t size = c.TargetWidth * c.TargetHeight * 2;
            Texels expected(size_t(size / 2)), texels(size_t(size / 2));
            CopyScanLines(drawn, size, expected.data());
            dark ? ColorKeyDark1555(expected.data(), size) : ColorKey1555(expected.data(), size);
            ASSERT_TRUE(StretchKeyed1555(picture, c.TargetWidth, c.TargetHeight, dark, texels.data()));
            EXPECT_EQ(texels, expected) << c.Format << " " << c.Width << " to " << c.TargetWidth << " dark " << dark;
        }
    }
    TBitmap other;
    other.SetPixelFormat(pf16bit);
    other.SetSize(2, 2);
    Texels untouched(4, 0x1234);
    EXPECT_FALSE(StretchKeyed1555(other, 2, 2, false, untouched.data()));
    EXPECT_EQ(untouched, Texels(4, 0x1234));
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
