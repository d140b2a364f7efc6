#include <gtest/gtest.h>

#include <climits>

#include "DibBuilder.h"
#include "Graphics.h"
#include "SysUtils.h"

namespace {

using namespace testing_dib;

TBitmap Load(const Bytes& bytes) {
    TMemoryStream stream = StreamOf(bytes);
    TBitmap bitmap;
    bitmap.LoadFromStream(stream);
    return bitmap;
}

Bytes Save(const TBitmap& bitmap) {
    TMemoryStream stream;
    bitmap.SaveToStream(stream);
    return Bytes(stream.Memory(), stream.Memory() + stream.Size());
}

Bytes GrayPalette(int count, int entrySize = 4) {
    Bytes palette;
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < entrySize; ++c) palette.push_back(c < 3 ? static_cast<uint8_t>(i * 16) : 0);
    return palette;
}

// Index of pixel (x, y) of an indexed bitmap, via its grey palette.
int GrayIndex(const TBitmap& bitmap, int x, int y) { return GetRValue(bitmap.Pixel(x, y)) / 16; }

TEST(BitmapFile, EveryPixelFormatRoundTrips) {
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
        TBitmap bitmap;
        bitmap.SetPixelFormat(format);
        bitmap.SetSize(13, 5);
        for (int y = 0; y < 5; ++y)
            for (int i = 0; i < bitmap.RowBytes(); ++i)
                bitmap.ScanLine(y)[i] = static_cast<uint8_t>(y * 31 + i * 7 + 1);
        const TBitmap back = Load(Save(bitmap));
        ASSERT_EQ(back.PixelFormat(), format);
        ASSERT_EQ(back.Width(), 13);
        ASSERT_EQ(back.Height(), 5);
        EXPECT_EQ(back.Palette(), bitmap.Palette()) << format;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 13; ++x)
                EXPECT_EQ(back.Pixel(x, y), bitmap.Pixel(x, y)) << format << " " << x << "," << y;
        if (format == pf32bit) {
            EXPECT_EQ(back.ScanLine(2)[3], bitmap.ScanLine(2)[3]) << "alpha kept";
        }
    }
}

TEST(BitmapFile, HeaderVariantsReadTheSamePixels) {
    // A 2 x 2 image, 8-bit, indices 1 2 / 3 4 from the top.
    const Bytes bottomUp = {3, 4, 0, 0, 1, 2, 0, 0}, topDown = {1, 2, 0, 0, 3, 4, 0, 0};
    struct Case {
        uint32_t headerSize;
        int32_t height;
        const Bytes* pixels;
    };
    for (const Case& c : {Case{12, 2, &bottomUp}, Case{40, 2, &bottomUp}, Case{40, -2, &topDown},
                          Case{56, -2, &topDown}, Case{108, 2, &bottomUp}, Case{124, 2, &bottomUp}}) {
        DibLayout layout;
        layout.headerSize = c.headerSize;
        layout.width = 2, layout.height = c.height, layout.bits = 8;
        layout.palette = GrayPalette(256, c.headerSize == 12 ? 3 : 4);
        layout.pixels = *c.pixels;
        const TBitmap bitmap = Load(MakeBmp(layout));
        ASSERT_EQ(bitmap.PixelFormat(), pf8bit) << c.headerSize;
        EXPECT_EQ(GrayIndex(bitmap, 0, 0), 1) << c.headerSize;
        EXPECT_EQ(GrayIndex(bitmap, 1, 0), 2);
        EXPECT_EQ(GrayIndex(bitmap, 0, 1), 3);
        EXPECT_EQ(GrayIndex(bitmap, 1, 1), 4);
    }
}

TEST(BitmapFile, ShortPaletteAndWrongOffset) {
    DibLayout layout;
    layout.width = 3, layout.bits = 4, layout.colorsUsed = 3;
    layout.palette = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0};
    layout.pixels = {0x12, 0x00, 0, 0};
    // An offset pointing into the headers falls back to "after the table".
    const TBitmap bitmap = Load(MakeBmp(layout, 20));
    EXPECT_EQ(bitmap.Palette().palPalEntry.size(), 3u);
    EXPECT_EQ(bitmap.Pixel(0, 0), RGB(0, 255, 0));
    EXPECT_EQ(bitmap.Pixel(1, 0), RGB(0, 0, 255));
    EXPECT_EQ(bitmap.Pixel(2, 0), RGB(255, 0, 0));
}

// OS/2 and Windows writers may store fewer colour table entries than the bit
// depth allows: the table ends where the pixel offset says, the entries
// present give their colours and the other indices are black.
TEST(BitmapFile, ColourTablesEndWhereThePixelsBegin) {
    struct Case {
        uint32_t headerSize;
        uint16_t bits;
        int entries;
    };
    for (const Case& c : {Case{12, 8, 2}, Case{12, 4, 3}, Case{12, 1, 1}, Case{40, 8, 5}, Case{40, 4, 2},
                          Case{64, 8, 3}}) {
        SCOPED_TRACE(testing::Message() << c.headerSize << "-byte header, " << c.bits << " bits, " << c.entries);
        DibLayout layout;
        layout.headerSize = c.headerSize;
        layout.width = 3, layout.height = 1, layout.bits = c.bits;
        const int entrySize = c.headerSize == 12 ? 3 : 4;
        for (int i = 0; i < c.entries; ++i)
            for (int k = 0; k < entrySize; ++k) layout.palette.push_back(k < 3 ? uint8_t(40 + 50 * i + k) : 0);
        // Indices 0, the last entry and the first index without one.
        const unsigned indices[3] = {0, unsigned(c.entries - 1), unsigned(c.entries)};
        layout.pixels.assign(4, 0);
        for (int x = 0; x < 3; ++x) {
            const int bit = x * c.bits;
            layout.pixels[bit / 8] |= uint8_t(indices[x] << (8 - c.bits - bit % 8));
        }
        const TBitmap bitmap = Load(MakeBmp(layout));
        EXPECT_EQ(bitmap.Palette().palPalEntry.size(), size_t(c.entries));
        for (int x = 0; x < 2; ++x) {
            const int i = int(indices[x]);
            EXPECT_EQ(bitmap.Pixel(x, 0), RGB(uint8_t(42 + 50 * i), uint8_t(41 + 50 * i), uint8_t(40 + 50 * i))) << x;
        }
        EXPECT_EQ(bitmap.Pixel(2, 0), RGB(0, 0, 0));
    }
    // A table of more entries than 8 bits index gives its first 256.
    DibLayout layout;
    layout.width = 2, layout.height = 1, layout.bits = 8, layout.colorsUsed = 300, layout.pixels = {255, 7, 0, 0};
    for (int i = 0; i < 300; ++i) layout.palette.insert(layout.palette.end(), {uint8_t(i), 0, 9, 0});
    EXPECT_EQ(Load(MakeBmp(layout)).Pixel(0, 0), RGB(9, 0, 255));
    EXPECT_EQ(Load(MakeBmp(layout)).Pixel(1, 0), RGB(9, 0, 7));
}

TEST(BitmapFile, Rle8RunsAbsoluteDeltaAndEnds) {
    DibLayout layout;
    layout.width = 6, layout.height = 3, layout.bits = 8, layout.compression = 1, layout.colorsUsed = 16;
    layout.palette = GrayPalette(16);
    layout.pixels = {
        3, 5, 0, 3, 1, 2, 3, 0,  // bottom row: 5 5 5 then absolute 1 2 3 (padded)
        0, 0,                    // end of line
        0, 2, 2, 1,              // delta: right 2, up 1 -> row 2 (top), x 2
        2, 7,                    // 7 7
        9, 4,                    // a run past the right edge is clipped
        0, 1,                    // end of bitmap
    };
    const TBitmap bitmap = Load(MakeBmp(layout));
    const int expected[3][6] = {{0, 0, 7, 7, 4, 4}, {0, 0, 0, 0, 0, 0}, {5, 5, 5, 1, 2, 3}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(GrayIndex(bitmap, x, y), expected[y][x]) << x << "," << y;
}

// A negative height stores run-length rows from the top too.
TEST(BitmapFile, RleRowsTopDown) {
    DibLayout layout;
    layout.width = 1, layout.height = -2, layout.bits = 8, layout.compression = 1, layout.palette = GrayPalette(256);
    layout.pixels = {1, 5, 0, 0, 1, 9, 0, 1};
    EXPECT_EQ(GrayIndex(Load(MakeBmp(layout)), 0, 1), 9);
}

TEST(BitmapFile, Rle4AlternatesNibbles) {
    DibLayout layout;
    layout.width = 7, layout.height = 1, layout.bits = 4, layout.compression = 2;
    layout.palette = GrayPalette(16);
    layout.pixels = {4, 0x12, 0, 3, 0xAB, 0xC0, 0, 1};
    const TBitmap bitmap = Load(MakeBmp(layout));
    const int expected[7] = {1, 2, 1, 2, 10, 11, 12};
    for (int x = 0; x < 7; ++x) EXPECT_EQ(GrayIndex(bitmap, x, 0), expected[x]) << x;
}

TEST(BitmapFile, RleNeverWritesOutsideTheImage) {
    DibLayout layout;
    layout.width = 2, layout.height = 2, layout.bits = 8, layout.compression = 1, layout.colorsUsed = 16;
    layout.palette = GrayPalette(16);
    layout.pixels = {0, 2, 250, 250, 255, 1, 0, 255};  // delta far away, a long run, an absolute run without data
    layout.pixels.resize(layout.pixels.size() + 256, 3);
    EXPECT_NO_THROW(Load(MakeBmp(layout)));
    layout.pixels = {2, 1, 0, 0};  // rows end before the bitmap does
    EXPECT_THROW(Load(MakeBmp(layout)), EInvalidGraphic);
}

TEST(BitmapFile, BitFields) {
    struct Case {
        uint16_t bits;
        std::vector<uint32_t> masks;
        uint32_t headerSize, compression, pixel;
        TPixelFormat format;
        TColor color;
        int alpha;
    };
    const Case cases[] = {
        {16, {0xF800, 0x07E0, 0x001F}, 40, 3, 0xF81F, pf16bit, RGB(255, 0, 255), -1},
        {16, {0x7C00, 0x03E0, 0x001F}, 40, 3, 0x7C1F, pf15bit, RGB(255, 0, 255), -1},
        {16, {}, 40, 0, 0x03E0, pf15bit, RGB(0, 255, 0), -1},
        {16, {0x0F00, 0x00F0, 0x000F, 0xF000}, 56, 3, 0x8F30, pf32bit, RGB(255, 51, 0), 0x88},
        {16, {0x0F00, 0x00F0, 0x000F, 0xF000}, 40, 6, 0x8F30, pf32bit, RGB(255, 51, 0), 0x88},
        {32, {0x000000FF, 0x0000FF00, 0x00FF0000}, 40, 3, 0x00332211, pf24bit, RGB(0x11, 0x22, 0x33), -1},
        {32, {0x3FF00000, 0x000FFC00, 0x000003FF}, 52, 3, 0x3FF003FF, pf24bit, RGB(255, 0, 255), -1},
        {32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 108, 3, 0x40112233, pf32bit, RGB(0x11, 0x22, 0x33), 0x40},
        {32, {0xFF0000, 0xFF00, 0xFF}, 40, 3, 0x40112233, pf32bit, RGB(0x11, 0x22, 0x33), 255},
    };
    for (const Case& c : cases) {
        DibLayout layout;
        layout.headerSize = c.headerSize, layout.bits = c.bits, layout.compression = c.compression, layout.masks = c.masks;
        for (int i = 0; i < 4; ++i)
            layout.pixels.push_back(i < c.bits / 8 ? static_cast<uint8_t>(c.pixel >> (8 * i)) : 0);
        const TBitmap bitmap = Load(MakeBmp(layout));
        EXPECT_EQ(bitmap.PixelFormat(), c.format) << std::hex << c.pixel;
        EXPECT_EQ(bitmap.Pixel(0, 0), c.color) << std::hex << c.pixel;
        if (c.alpha >= 0) {
            EXPECT_EQ(bitmap.ScanLine(0)[3], c.alpha) << std::hex << c.pixel;
        }
    }
}

TEST(BitmapFile, Plain32BitAlphaOnlyWhenSomePixelSetsIt) {
    DibLayout layout;
    layout.width = 2, layout.bits = 32;
    layout.pixels = {1, 2, 3, 0, 4, 5, 6, 0};
    EXPECT_EQ(Load(MakeBmp(layout)).ScanLine(0)[7], 255);
    layout.pixels[3] = 9;
    const TBitmap bitmap = Load(MakeBmp(layout));
    EXPECT_EQ(bitmap.ScanLine(0)[3], 9);
    EXPECT_EQ(bitmap.ScanLine(0)[7], 0);
}

// Two bytes of run-length data stand for at most 255 pixels: a small file
// claiming a huge image is refused before the bitmap is allocated, while the
// densest real encoding of the same size still loads.
TEST(BitmapFile, RunLengthDataTooShortForTheSizeIsRefused) {
    struct Case {
        uint32_t compression;
        uint16_t bits;
        int32_t width, height;
        size_t runs;  // packets of 255 pixels, ended by end-of-bitmap
        bool loads;
    };
    for (const Case& c : {Case{1, 8, 16384, 16384, 550, false}, Case{2, 4, 16384, 16384, 550, false},
                          Case{1, 8, 255 * 4, 2, 6, false}, Case{1, 8, 255 * 4, 2, 7, true},
                          Case{2, 4, 255, 255, 254, true}}) {
        SCOPED_TRACE(testing::Message() << c.compression << " " << c.width << " x " << c.height << " " << c.runs);
        DibLayout layout;
        layout.width = c.width, layout.height = c.height, layout.bits = c.bits, layout.compression = c.compression;
        layout.palette = GrayPalette(16);
        layout.colorsUsed = 16;
        for (size_t i = 0; i < c.runs; ++i) layout.pixels.insert(layout.pixels.end(), {255, 0x11});
        layout.pixels.insert(layout.pixels.end(), {0, 1});
        if (c.loads) {
            EXPECT_EQ(Load(MakeBmp(layout)).Width(), c.width);
        } else {
            try {
                Load(MakeBmp(layout));
                ADD_FAILURE() << "loaded";
            } catch (const EInvalidGraphic& error) {
                EXPECT_STREQ(error.what(),
                             "Bitmap image is not valid: the run-length data is too short for the image size");
            }
        }
    }
}

TEST(BitmapFile, MalformedHeadersRaiseClearErrors) {
    auto message = [](const Bytes& bytes) {
        try {
            Load(bytes);
        } catch (const EInvalidGraphic& error) {
            return std::string(error.what());
        }
        return std::string("loaded");
    };
    DibLayout good;
    good.width = 2, good.height = 2, good.pixels.assign(16, 0);
    Bytes bytes = MakeBmp(good);
    bytes[0] = 'X';
    EXPECT_EQ(message(bytes), "Bitmap image is not valid: the file does not start with \"BM\"");

    struct Case {
        uint32_t headerSize;
        int32_t width, height;
        uint16_t bits;
        uint32_t compression, colorsUsed;
        const char* text;
    };
    for (const Case& c :
         {Case{64 + 1, 2, 2, 24, 0, 0, "unsupported header size 65"}, Case{40, 0, 2, 24, 0, 0, "invalid size 0 x 2"},
          Case{40, 2, INT_MIN, 24, 0, 0, "invalid size"}, Case{40, 2, 2, 7, 0, 0, "unsupported bit count 7"},
          Case{40, 2, 2, 24, 1, 0, "unsupported compression 1 with 24 bits"},
          Case{40, 2, 2, 8, 4, 0, "unsupported compression 4"},
          Case{40, 1 << 15, 1 << 14, 24, 0, 0, "is too large"},
          Case{40, 2, 2, 24, 0, 0, "the pixel data is truncated"}}) {
        DibLayout layout;
        layout.headerSize = c.headerSize;
        layout.width = c.width, layout.height = c.height, layout.bits = c.bits;
        layout.compression = c.compression, layout.colorsUsed = c.colorsUsed;
        layout.pixels.assign(8, 0);
        EXPECT_NE(message(MakeBmp(layout)).find(c.text), std::string::npos) << message(MakeBmp(layout));
    }
}

TEST(BitmapFile, EveryTruncationFailsCleanlyAndKeepsTheBitmap) {
    DibLayout layout;
    layout.width = 5, layout.height = 3, layout.bits = 4, layout.compression = 2;
    layout.palette = GrayPalette(16);
    layout.pixels = {5, 0x12, 0, 0, 0, 3, 0x45, 0x60, 0, 0, 5, 0x77, 0, 1};
    const Bytes rle = MakeBmp(layout);
    DibLayout plain;
    plain.width = 3, plain.height = 2, plain.bits = 16, plain.compression = 3, plain.masks = {0xF00, 0xF0, 0xF};
    plain.pixels.assign(16, 0xAB);
    for (const Bytes& file : {rle, MakeBmp(plain)}) {
        ASSERT_NO_THROW(Load(file));
        for (size_t length = 0; length < file.size(); ++length) {
            TBitmap bitmap;
            bitmap.SetSize(1, 1);
            TMemoryStream stream(file.data(), length);
            try {
                bitmap.LoadFromStream(stream);
                ADD_FAILURE() << "loaded a file cut at " << length;
            } catch (const Exception&) {
            }
            EXPECT_EQ(bitmap.Width(), 1);
        }
    }
}

TEST(BitmapFile, EmptyBitmapSavesNothing) { EXPECT_TRUE(Save(TBitmap()).empty()); }

}  // namespace
