#include "Graphics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "BlockAllocator.h"
#include "SysUtils.h"

namespace {

constexpr TColor kMagenta = RGB(255, 0, 255);
const TColor kPrimaries[] = {RGB(0, 0, 0),   RGB(255, 255, 255), RGB(255, 0, 0),   RGB(0, 255, 0),
                             RGB(0, 0, 255), kMagenta,           RGB(0, 255, 255), RGB(255, 255, 0)};

TBitmap MakeBitmap(TPixelFormat format, int width, int height) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    return bitmap;
}

uint16_t Word(const TBitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.ScanLine(y) + 2 * x;
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

TEST(Bitmap, RowsArePaddedToFourBytes) {
    const struct {
        TPixelFormat format;
        int width, rowBytes;
    } cases[] = {{pf1bit, 33, 8}, {pf4bit, 9, 8},   {pf8bit, 5, 8},   {pf15bit, 3, 8},
                 {pf16bit, 2, 4}, {pf24bit, 3, 12}, {pf32bit, 3, 12}, {pfDevice, 1, 4}};
    for (const auto& c : cases) EXPECT_EQ(MakeBitmap(c.format, c.width, 2).RowBytes(), c.rowBytes) << c.format;
}

TEST(Bitmap, PrimariesSurviveEveryFormatChange) {
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
        TBitmap bitmap = MakeBitmap(pf24bit, 8, 1);
        for (int x = 0; x < 8; ++x) bitmap.SetPixel(x, 0, kPrimaries[x]);
        bitmap.SetPixelFormat(format);
        EXPECT_EQ(bitmap.PixelFormat(), format);
        bitmap.SetPixelFormat(pf24bit);
        const int count = format == pf1bit ? 2 : 8;  // one bit holds black and white only
        for (int x = 0; x < count; ++x) EXPECT_EQ(bitmap.Pixel(x, 0), kPrimaries[x]) << format << " pixel " << x;
    }
}

TEST(Bitmap, DirectFormatsTruncateAndWidenByReplication) {
    TBitmap bitmap = MakeBitmap(pf24bit, 1, 1);
    bitmap.SetPixel(0, 0, RGB(0x12, 0x34, 0x56));
    TBitmap b16 = bitmap, b15 = bitmap;
    b16.SetPixelFormat(pf16bit);
    b15.SetPixelFormat(pf15bit);
    EXPECT_EQ(Word(b16, 0, 0), (0x12 >> 3) << 11 | (0x34 >> 2) << 5 | 0x56 >> 3);
    EXPECT_EQ(Word(b15, 0, 0), (0x12 >> 3) << 10 | (0x34 >> 3) << 5 | 0x56 >> 3);
    // 5 bits 00010 widen to 00010000 | 000 = 0x10; 6 bits 001101 to 0x34 | 0 = 0x34.
    EXPECT_EQ(b16.Pixel(0, 0), RGB(0x10, 0x34, 0x52));
}

TEST(Bitmap, IndexedWideningKeepsIndicesAndPalette) {
    TBitmap bitmap = MakeBitmap(pf4bit, 3, 1);
    TLogPalette palette;
    palette.palPalEntry = {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}};
    bitmap.SetPalette(palette);
    for (int x = 0; x < 3; ++x)
        bitmap.SetPixel(x, 0,
                        RGB(palette.palPalEntry[2 - x].peRed, palette.palPalEntry[2 - x].peGreen,
                            palette.palPalEntry[2 - x].peBlue));
    EXPECT_EQ(bitmap.ScanLine(0)[0], 0x21);
    bitmap.SetPixelFormat(pf8bit);
    EXPECT_EQ(bitmap.Palette(), palette);
    EXPECT_EQ(bitmap.ScanLine(0)[0], 2);
    EXPECT_EQ(bitmap.ScanLine(0)[2], 0);
    // Narrowing to one bit maps each colour to the nearer of black and white.
    bitmap.SetPixelFormat(pf1bit);
    EXPECT_EQ(bitmap.Pixel(0, 0), RGB(0, 0, 0));
}

TEST(Bitmap, SetSizeKeepsOverlapAndZeroesNewPixels) {
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf16bit, pf24bit}) {
        TBitmap bitmap = MakeBitmap(format, 5, 3);
        bitmap.Canvas().FillRect(Rect(0, 0, 5, 3), clWhite);
        bitmap.SetSize(3, 2);
        bitmap.SetSize(6, 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                EXPECT_EQ(bitmap.Pixel(x, y), x < 3 && y < 2 ? clWhite : clBlack) << format << " " << x << "," << y;
    }
}

TEST(Bitmap, SizeLimits) {
    TBitmap bitmap;
    EXPECT_THROW(bitmap.SetSize(-1, 4), EInvalidGraphic);
    EXPECT_THROW(bitmap.SetSize(1 << 15, (1 << 13) + 1), EInvalidGraphic);
    EXPECT_EQ(bitmap.Width(), 0) << "a refused size changes nothing";
    EXPECT_THROW(bitmap.ScanLine(0), EInvalidGraphicOperation);
}

TEST(Bitmap, SetSizeForOverwriteSizesAndClearsRowPadding) {
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf16bit, pf24bit}) {
        TBitmap bitmap = MakeBitmap(format, 2, 2);
        bitmap.Canvas().FillRect(Rect(0, 0, 2, 2), clWhite);
        bitmap.SetSizeForOverwrite(5, 3);
        ASSERT_EQ(bitmap.Width(), 5);
        ASSERT_EQ(bitmap.Height(), 3);
        bitmap.Canvas().FillRect(Rect(0, 0, 5, 3), clWhite);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 5; ++x) EXPECT_EQ(bitmap.Pixel(x, y), clWhite) << format;
            // Bytes after the last whole pixel were zero before the fill, so
            // only the bits of pixels written since may be set.
            const int bits = BitsPerPixel(format);
            const uint8_t* row = bitmap.ScanLine(y);
            const int firstUnused = 5 * bits / 8 + ((5 * bits) % 8 != 0);
            for (int i = firstUnused; i < bitmap.RowBytes(); ++i) EXPECT_EQ(row[i], 0) << format << " byte " << i;
            if ((5 * bits) % 8 != 0) {
                EXPECT_EQ(row[5 * bits / 8] & (0xFF >> ((5 * bits) % 8)), 0) << format << " trailing bits";
            }
        }
    }
    TBitmap bitmap;
    EXPECT_THROW(bitmap.SetSizeForOverwrite(-1, 4), EInvalidGraphic);
    EXPECT_THROW(bitmap.SetSizeForOverwrite(1 << 15, (1 << 13) + 1), EInvalidGraphic);
    EXPECT_EQ(bitmap.Width(), 0) << "a refused size changes nothing";
}

// Rows stored bottom row first are still counted from the top, and every
// operation that keeps pixels keeps them in their place in the picture.
TEST(Bitmap, BottomUpRowsKeepTheirPlaceThroughCopiesAndChanges) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf8bit);
    bitmap.SetSizeForOverwrite(3, 4, true);
    EXPECT_FALSE(bitmap.TopDown());
    EXPECT_EQ(bitmap.ScanLine(2) - bitmap.ScanLine(3), bitmap.RowBytes()) << "the bottom row lies first";
    for (int y = 0; y < 4; ++y) bitmap.SetPixel(0, y, kPrimaries[y + 1]);
    const auto expectRows = [](const TBitmap& b, int rows, const char* what) {
        for (int y = 0; y < rows; ++y) EXPECT_EQ(b.Pixel(0, y), kPrimaries[y + 1]) << what << " row " << y;
    };
    expectRows(TBitmap(bitmap), 4, "copy");
    TBitmap moved{TBitmap(bitmap)};
    expectRows(moved, 4, "move");
    bitmap.SetPixelFormat(pf24bit);
    expectRows(bitmap, 4, "format change");
    bitmap.SetSize(2, 3);
    EXPECT_TRUE(bitmap.TopDown()) << "a resize stores the top row first";
    expectRows(bitmap, 3, "resize");
    bitmap.SetSizeForOverwrite(3, 4, true);
    bitmap.FreeImage();
    bitmap.SetSizeForOverwrite(1, 2);
    EXPECT_TRUE(bitmap.TopDown());
}

// Blocks below and above the huge page size, held at once: the large ones
// start on a huge page boundary, and every byte of each is its own (a
// block cut from a larger allocation keeps that allocation's address
// beside it, which writing a block whole must not disturb).
TEST(Bitmap, PixelBlocksAreWholeAndLargeOnesAlignedToHugePages) {
    constexpr size_t HugePage = size_t(2) << 20;
    const size_t sizes[] = {1, 4096, HugePage - 1, HugePage, HugePage + 1, 3 * HugePage + 12345};
    std::vector<TByteBlock> blocks;
    for (size_t size : sizes) {
        blocks.emplace_back(size);
        std::fill(blocks.back().begin(), blocks.back().end(), uint8_t(blocks.size()));
        if (size >= HugePage) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(blocks.back().data()) % HugePage, 0u) << size;
        }
    }
    for (size_t k = 0; k < blocks.size(); ++k)
        EXPECT_TRUE(std::all_of(blocks[k].begin(), blocks[k].end(), [&](uint8_t b) { return b == k + 1; }))
            << sizes[k];
    // Freed and taken again, as loading one picture after another does.
    blocks.clear();
    TByteBlock again(3 * HugePage + 12345);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(again.data()) % HugePage, 0u);
}

TEST(Bitmap, CopiesAreIndependentAndDrawOnThemselves) {
    TBitmap original = MakeBitmap(pf24bit, 2, 2);
    original.Transparent = true;
    original.TransparentColor = kMagenta;
    TBitmap copy(original);
    copy.Canvas().FillRect(Rect(0, 0, 2, 2), kMagenta);
    EXPECT_EQ(original.Pixel(1, 1), clBlack);
    EXPECT_EQ(copy.Pixel(1, 1), kMagenta);
    EXPECT_TRUE(copy.Transparent);
    EXPECT_EQ(copy.TransparentColor, kMagenta);
    original = copy;
    EXPECT_EQ(original.Pixel(0, 0), kMagenta);
}

TEST(Bitmap, MovingHandsThePixelsOver) {
    TBitmap source = MakeBitmap(pf8bit, 3, 2);
    source.SetPixel(2, 1, kMagenta);
    TBitmap target(std::move(source));
    EXPECT_EQ(source.Width(), 0);
    EXPECT_EQ(target.Pixel(2, 1), kMagenta);
    target.Canvas().FillRect(Rect(0, 0, 1, 1), clWhite);
    EXPECT_EQ(target.Pixel(0, 0), clWhite) << "the canvas draws on the new owner";
    source = std::move(target);
    EXPECT_EQ(source.Pixel(2, 1), kMagenta);
    EXPECT_EQ(source.PixelFormat(), pf8bit);
}

TEST(Canvas, FillRectClipsAndPicksNearestPaletteEntry) {
    TBitmap bitmap = MakeBitmap(pf8bit, 4, 4);
    bitmap.Canvas().FillRect(Rect(-5, 2, 99, 99), RGB(250, 3, 252));
    EXPECT_EQ(bitmap.Pixel(0, 1), clBlack);
    EXPECT_EQ(bitmap.Pixel(3, 3), kMagenta);
}

TEST(StretchDraw, NearestSampling) {
    TBitmap source = MakeBitmap(pf24bit, 4, 1);
    for (int x = 0; x < 4; ++x) source.SetPixel(x, 0, kPrimaries[x + 2]);
    TBitmap wide = MakeBitmap(pf24bit, 8, 1), narrow = MakeBitmap(pf24bit, 2, 1);
    wide.Canvas().StretchDraw(Rect(0, 0, 8, 1), source);
    narrow.Canvas().StretchDraw(Rect(0, 0, 2, 1), source);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(wide.Pixel(x, 0), kPrimaries[x / 2 + 2]);
    EXPECT_EQ(narrow.Pixel(0, 0), kPrimaries[2]);
    EXPECT_EQ(narrow.Pixel(1, 0), kPrimaries[4]);

    // Partly outside the target: the visible part keeps its mapping.
    TBitmap shifted = MakeBitmap(pf24bit, 4, 1);
    shifted.Canvas().StretchDraw(Rect(-4, 0, 4, 1), source);
    EXPECT_EQ(shifted.Pixel(0, 0), kPrimaries[4]);
    EXPECT_EQ(shifted.Pixel(3, 0), kPrimaries[5]);
}

TEST(StretchDraw, MagentaKeyStaysExactIn565) {
    for (TPixelFormat format : {pf8bit, pf15bit, pf24bit, pf32bit}) {
        TBitmap source = MakeBitmap(format, 3, 3);
        source.Canvas().FillRect(Rect(0, 0, 3, 3), RGB(200, 100, 50));
        source.SetPixel(1, 1, kMagenta);
        TBitmap target = MakeBitmap(pf16bit, 8, 8);
        target.Canvas().StretchDraw(Rect(0, 0, 8, 8), source);
        int keyed = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) keyed += Word(target, x, y) == 0xF81F;
        EXPECT_EQ(keyed, 9) << format;  // source pixel 1 covers x and y in 3..5
        EXPECT_EQ(Word(target, 4, 4), 0xF81F);
    }
}

TEST(StretchDraw, TrueColourOnto15And16BitMatchesFormatConversion) {
    // Every value of each channel appears, so each truncation step is seen.
    TBitmap source = MakeBitmap(pf24bit, 7, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 7; ++x)
            source.SetPixel(x, y, RGB((y * 4 + x) & 255, (y * 4 + x * 37) & 255, (255 - y * 4 - x * 11) & 255));
    source.SetPixel(3, 5, kMagenta);
    for (TPixelFormat format : {pf15bit, pf16bit}) {
        TBitmap converted(source);
        converted.SetPixelFormat(format);
        for (const TRect rect : {Rect(0, 0, 7, 64), Rect(0, 0, 14, 128), Rect(-3, 2, 4, 66), Rect(0, 0, 5, 40)}) {
            TBitmap target = MakeBitmap(format, 14, 128);
            target.Canvas().StretchDraw(rect, source);
            for (int y = std::max(rect.Top, 0); y < std::min<int>(rect.Bottom, 128); ++y)
                for (int x = std::max(rect.Left, 0); x < std::min<int>(rect.Right, 14); ++x) {
                    const int sx = (x - rect.Left) * 7 / rect.Width(), sy = (y - rect.Top) * 64 / rect.Height();
                    ASSERT_EQ(Word(target, x, y), Word(converted, sx, sy)) << format << " " << x << "," << y;
                }
        }
        TBitmap same = MakeBitmap(format, 7, 64);
        same.Canvas().Draw(0, 0, source);
        EXPECT_EQ(Word(same, 3, 5), format == pf16bit ? 0xF81F : 0x7C1F);
        // Keyed: the transparent pixel leaves the target as it was.
        TBitmap keyed(source);
        keyed.Transparent = true;
        keyed.TransparentColor = kMagenta;
        same.Canvas().FillRect(Rect(0, 0, 7, 64), RGB(8, 8, 8));
        same.Canvas().Draw(0, 0, keyed);
        EXPECT_EQ(same.Pixel(3, 5), RGB(8, 8, 8));
        EXPECT_EQ(Word(same, 4, 5), Word(converted, 4, 5));
    }
}

TEST(StretchDraw, TransparentColourIsSkipped) {
    TBitmap source = MakeBitmap(pf24bit, 2, 1);
    source.SetPixel(0, 0, kMagenta);
    source.SetPixel(1, 0, clWhite);
    TBitmap target = MakeBitmap(pf24bit, 2, 1);
    target.Canvas().FillRect(Rect(0, 0, 2, 1), RGB(1, 2, 3));
    target.Canvas().Draw(0, 0, source);
    EXPECT_EQ(target.Pixel(0, 0), kMagenta) << "not transparent yet";
    source.Transparent = true;
    source.TransparentColor = kMagenta;
    target.Canvas().FillRect(Rect(0, 0, 2, 1), RGB(1, 2, 3));
    target.Canvas().Draw(0, 0, source);
    EXPECT_EQ(target.Pixel(0, 0), RGB(1, 2, 3));
    EXPECT_EQ(target.Pixel(1, 0), clWhite);
}

TEST(StretchDraw, AlphaReachesOnly32BitTargets) {
    TBitmap source = MakeBitmap(pf32bit, 1, 1);
    source.ScanLine(0)[0] = 10, source.ScanLine(0)[3] = 77;
    TBitmap target = MakeBitmap(pf32bit, 1, 1);
    target.Canvas().Draw(0, 0, source);
    EXPECT_EQ(target.ScanLine(0)[3], 77);
    TBitmap opaque = MakeBitmap(pf24bit, 1, 1);
    target.Canvas().Draw(0, 0, opaque);
    EXPECT_EQ(target.ScanLine(0)[3], 255);
}

}  // namespace
