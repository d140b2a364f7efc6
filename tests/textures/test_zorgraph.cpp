#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "Zorgraph.h"

namespace {

using Texels = std::vector<uint16_t>;

uint16_t Converted(uint16_t texel, bool dark) {
    uint16_t t = texel;
    dark ? ColorKeyDark1555(&t, 2) : ColorKey1555(&t, 2);
    return t;
}

TEST(ColorKey1555, KeysNearMagentaAndPacksTheRest) {
    const struct {
        uint16_t in, out;
    } cases[] = {
        {0xF81F, 0x0000},  // magenta
        {0xF85F, 0x0000},  // green 2 of 63 still keys
        {0xF83F, 0x0000},  // lowest green bit is dropped
        {0xE81D, 0x0000},  // r 29, b 29: the lower edge of the key
        {0xF8DF, 0xFC7F},  // g 3 (of 31) is past the key
        {0xE01D, 0xF01D},  // r 28 is past the key
        {0xF81C, 0xFC1C},  // b 28 is past the key
        {0xFFFF, 0xFFFF},
        {0x0000, 0x8000},
        {0xF800, 0xFC00},
        {0x07E0, 0x83E0},
        {0x001F, 0x801F},
    };
    for (const auto& c : cases) EXPECT_EQ(Converted(c.in, false), c.out) << std::hex << c.in;
}

TEST(ColorKeyDark1555, DarkensAnyLowChannelButKeepsTheKey) {
    const struct {
        uint16_t in, out;
    } cases[] = {
        {0xF800, 0x8000},  // green 0 is dark
        {0xAD55, 0xD6B5},  // every channel 21: not dark
        {0xA554, 0x8000},  // blue 20 is dark
        {0xF81F, 0x0000},  // the key wins over darkness
        {0xFFFF, 0xFFFF},
        {0x0000, 0x8000},
    };
    for (const auto& c : cases) EXPECT_EQ(Converted(c.in, true), c.out) << std::hex << c.in;
}

TEST(ColorKey1555, ConvertsSizeDivTwoTexels) {
    Texels texels{0xF81F, 0xFFFF, 0x0000, 0x1234};
    ColorKey1555(texels.data(), 5);
    EXPECT_EQ(texels, (Texels{0x0000, 0xFFFF, 0x0000, 0x1234}));
    ColorKeyDark1555(texels.data(), 0);
    ColorKeyDark1555(texels.data(), -8);
    EXPECT_EQ(texels, (Texels{0x0000, 0xFFFF, 0x0000, 0x1234}));
}

TEST(BleedTransparent, TakesTheFirstOpaqueNeighbourOnly) {
    Texels row{0x801F, 0x0000, 0x0000};
    BleedTransparent(row.data(), 3, 1);
    EXPECT_EQ(row, (Texels{0x801F, 0x001F, 0x0000}));
}

TEST(BleedTransparent, PrefersLeftOverRight) {
    Texels row{0x8001, 0x0000, 0x8002};
    BleedTransparent(row.data(), 3, 1);
    EXPECT_EQ(row, (Texels{0x8001, 0x0001, 0x8002}));
}

TEST(BleedTransparent, FollowsTheNeighbourOrder) {
    // A transparent centre with every neighbour opaque but a chosen few
    // transparent: it takes the first opaque one in the fixed order.
    //  index of neighbours in a 3x3 block around (1,1):
    //  left 3, right 5, above 1, below 7, above-right 2, below-right 8,
    //  below-left 6, above-left 0.
    const int order[] = {3, 5, 1, 7, 2, 8, 6, 0};
    for (int hidden = 0; hidden < 8; ++hidden) {
        Texels block(9);
        for (int i = 0; i < 9; ++i) block[i] = uint16_t(0x8000 | (i + 1));
        block[4] = 0;
        for (int k = 0; k < hidden; ++k) block[order[k]] = 0;
        BleedTransparent(block.data(), 3, 3);
        EXPECT_EQ(block[4], order[hidden] + 1) << hidden << " neighbours hidden";
    }
}

TEST(BleedTransparent, ChangedTexelsNeverServeAsSources) {
    Texels grid{0x0000, 0x0000, 0x0000,  //
                0x0000, 0x0000, 0x0000,  //
                0x0000, 0x0000, 0x83FF};
    BleedTransparent(grid.data(), 3, 3);
    EXPECT_EQ(grid, (Texels{0, 0, 0,  //
                            0, 0x03FF, 0x03FF,  //
                            0, 0x03FF, 0x83FF}));
}

TEST(BleedTransparent, LeavesFullyOpaqueOrFullyTransparentImagesAlone) {
    Texels opaque{0x8000, 0xFFFF, 0x9234, 0x8001, 0xC000, 0x8FFF};
    const Texels before = opaque;
    BleedTransparent(opaque.data(), 3, 2);
    EXPECT_EQ(opaque, before);

    Texels clear{0x0000, 0x7FFF, 0x1234, 0x0001};
    const Texels clearBefore = clear;
    BleedTransparent(clear.data(), 2, 2);
    EXPECT_EQ(clear, clearBefore);

    BleedTransparent(nullptr, 0, 0);
}

TEST(BleedTransparent, ReachesAcrossRowsAtTheEdges) {
    // A 1-wide column: only above and below exist.
    Texels column{0x0000, 0x8005, 0x0000};
    BleedTransparent(column.data(), 1, 3);
    EXPECT_EQ(column, (Texels{0x0005, 0x8005, 0x0005}));
}

TBitmap Bitmap16(int width, int height) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf16bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 2; ++x) bitmap.ScanLine(y)[x] = uint8_t(y * 16 + x + 1);
    return bitmap;
}

TEST(CopyScanLines, CopiesWholeRowsTopFirst) {
    const TBitmap bitmap = Bitmap16(4, 2);
    std::vector<uint8_t> out(16, 0xEE);
    CopyScanLines(bitmap, 16, out.data());
    EXPECT_EQ(0, std::memcmp(out.data(), bitmap.ScanLine(0), 8));
    EXPECT_EQ(0, std::memcmp(out.data() + 8, bitmap.ScanLine(1), 8));
}

TEST(CopyScanLines, CutsToSize) {
    const TBitmap bitmap = Bitmap16(4, 2);
    std::vector<uint8_t> out(16, 0xEE);
    CopyScanLines(bitmap, 4, out.data());
    EXPECT_EQ(0, std::memcmp(out.data(), bitmap.ScanLine(0), 4));
    EXPECT_EQ(out[4], 0xEE);

    // 12 bytes hold one whole 8-byte row; the rest stays untouched.
    std::fill(out.begin(), out.end(), 0xEE);
    CopyScanLines(bitmap, 12, out.data());
    EXPECT_EQ(0, std::memcmp(out.data(), bitmap.ScanLine(0), 8));
    EXPECT_EQ(out[8], 0xEE);
}

TEST(CopyScanLines, UsesTheBytesPerPixelOfTheFormat) {
    const struct {
        TPixelFormat format;
        int bytes;
    } cases[] = {{pf8bit, 1}, {pf15bit, 2}, {pf16bit, 2}, {pf24bit, 3}, {pf32bit, 4}};
    for (const auto& c : cases) {
        TBitmap bitmap;
        bitmap.SetPixelFormat(c.format);
        bitmap.SetSize(3, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < bitmap.RowBytes(); ++x) bitmap.ScanLine(y)[x] = uint8_t(0x40 * y + x + 1);
        const int rowBytes = 3 * c.bytes;
        std::vector<uint8_t> out(2 * rowBytes + 1, 0xEE);
        CopyScanLines(bitmap, 2 * rowBytes, out.data());
        EXPECT_EQ(0, std::memcmp(out.data(), bitmap.ScanLine(0), rowBytes)) << int(c.format);
        EXPECT_EQ(0, std::memcmp(out.data() + rowBytes, bitmap.ScanLine(1), rowBytes)) << int(c.format);
        EXPECT_EQ(out.back(), 0xEE) << int(c.format);
    }
}

TEST(CopyScanLines, NeverReadsPastTheBitmap) {
    // More rows asked for than the bitmap has: the missing ones stay as
    // they were. A 1-bit bitmap counts two bytes a pixel but its rows are
    // shorter: only the stored bytes are read.
    const TBitmap bitmap = Bitmap16(2, 1);
    std::vector<uint8_t> out(16, 0xEE);
    CopyScanLines(bitmap, 16, out.data());
    EXPECT_EQ(0, std::memcmp(out.data(), bitmap.ScanLine(0), 4));
    EXPECT_EQ(out[4], 0xEE);

    TBitmap mono;
    mono.SetPixelFormat(pf1bit);
    mono.SetSize(40, 1);
    std::vector<uint8_t> wide(80, 0xEE);
    CopyScanLines(mono, 80, wide.data());
    EXPECT_EQ(0, std::memcmp(wide.data(), mono.ScanLine(0), mono.RowBytes()));
    EXPECT_EQ(wide[mono.RowBytes()], 0xEE);

    TBitmap empty;
    CopyScanLines(empty, 16, out.data());
}

}  // namespace
