#include "MetafileTestSupport.h"

namespace {

enum : uint16_t { kStretchDib = 0x0F43, kDibBitBlt = 0x0940, kDibStretchBlt = 0x0B41, kSetDibToDev = 0x0D33,
                  kDibPatternBrush = 0x0142 };
constexpr uint32_t kSrcCopy = 0x00CC0020, kPatCopy = 0x00F00021, kDstInvert = 0x00550009;

TColor Sample(int x, int y) { return RGB(uint8_t(x * 60), uint8_t(y * 80), 7); }
const TBytes kDib = MakeDib(4, 3, 24, Sample);

TBytes Words(std::initializer_list<int> words) {
    TBytes b;
    for (int w : words) Put16(b, w);
    return b;
}

void ExpectScaled(const TBitmap& b, int scale) {
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) ASSERT_EQ(b.Pixel(x, y), Sample(x / scale, y / scale)) << x << "," << y;
}

TEST(MetafileBitmap, PlaceableStretchDibLoadsToThatBitmapAtItsSize) {
    TBytes p;
    Put32(p, kSrcCopy);
    Append(p, Words({0, 3, 4, 0, 0, 3, 4, 0, 0}));
    Append(p, kDib);
    const TBytes wmf = TWmfWriter().Record(kStretchDib, p).Placeable(0, 0, 4, 3, 96);
    const TMetafile m = LoadMetafile(wmf);
    ASSERT_EQ(m.Width(), 4);
    ASSERT_EQ(m.Height(), 3);
    ExpectScaled(Render(wmf, 4, 3), 1);
    ExpectScaled(Render(wmf, 8, 6), 2);
}

TEST(MetafileBitmap, EnhancedStretchDibitsLoadsToThatBitmapAtItsSize) {
    const TBytes emf = TEmfWriter().StretchDib(0, 0, 4, 3, kDib, 4, 3).Build(4, 3);
    const TMetafile m = LoadMetafile(emf);
    ASSERT_EQ(m.Width(), 4);
    ASSERT_EQ(m.Height(), 3);
    ExpectScaled(Render(emf, 4, 3), 1);
    ExpectScaled(Render(emf, 12, 9), 3);
}

TEST(MetafileBitmap, EveryPixelLayoutDecodes) {
    std::vector<TColor> sixteen, grey;
    for (int i = 0; i < 16; ++i) sixteen.push_back(RGB(uint8_t(i * 16), uint8_t(255 - i * 16), uint8_t(i)));
    for (int i = 0; i < 256; ++i) grey.push_back(RGB(uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)));
    const int expand5[] = {0, 8, 16, 31};
    const struct {
        const char* name;
        int bitCount;
        std::vector<TColor> palette;
        bool topDown;
        uint32_t compression;
        std::vector<uint32_t> masks;
        std::function<TColor(int, int)> raw, expected;
    } cases[] = {
        {"1-bit", 1, {kRed, kBlue}, false, 0, {}, [](int x, int y) { return TColor((x + y) & 1); },
         [](int x, int y) { return (x + y) & 1 ? kBlue : kRed; }},
        {"4-bit", 4, sixteen, false, 0, {}, [](int x, int y) { return TColor((x + 2 * y) % 16); },
         [&](int x, int y) { return sixteen[(x + 2 * y) % 16]; }},
        {"8-bit", 8, grey, false, 0, {}, [](int x, int y) { return TColor((x * 7 + y * 13) % 256); },
         [&](int x, int y) { return grey[(x * 7 + y * 13) % 256]; }},
        {"16-bit 5-5-5", 16, {}, false, 0, {},
         [&](int x, int y) { return TColor(expand5[x % 4] << 10 | expand5[y % 4] << 5 | 31); },
         // Five bits widen to eight by repeating their top bits.
         [&](int x, int y) {
             const auto widen = [](int v) { return uint8_t(v << 3 | v >> 2); };
             return RGB(widen(expand5[x % 4]), widen(expand5[y % 4]), 255);
         }},
        {"16-bit 5-6-5 fields", 16, {}, false, 3, {0xF800, 0x07E0, 0x001F},
         [](int x, int y) { return TColor((x == 1 ? 0xF800 : 0) | (y == 1 ? 0x07E0 : 0)); },
         [](int x, int y) { return RGB(x == 1 ? 255 : 0, y == 1 ? 255 : 0, 0); }},
        {"24-bit top-down", 24, {}, true, 0, {}, Sample, Sample},
        {"32-bit", 32, {}, false, 0, {}, [](int x, int y) { return TColor(0xFF000000u | Sample(x, y) >> 16 | (Sample(x, y) & 0xFF00) | (Sample(x, y) & 0xFF) << 16); },
         Sample},
    };
    for (const auto& c : cases) {
        const TBytes dib = MakeDib(5, 3, c.bitCount, c.raw, c.palette, c.topDown, c.compression, c.masks);
        const TBitmap b = Render(TEmfWriter().StretchDib(0, 0, 5, 3, dib, 5, 3).Build(5, 3), 5, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) EXPECT_EQ(b.Pixel(x, y), c.expected(x, y)) << c.name << " " << x << "," << y;
    }
}

// Bitmaps inside metafiles decode as bitmap files do: run-length data, and
// colour tables shorter than the bit depth allows.
TEST(MetafileBitmap, RunLengthAndShortTableBitmapsDecodeAsBitmapFilesDo) {
    const auto header = [](int width, int height, int bits, uint32_t compression, int colors) {
        TBytes b;
        for (const int64_t v : {int64_t(40), int64_t(width), int64_t(height)}) Put32(b, v);
        Put16(b, 1);
        Put16(b, bits);
        for (const int64_t v : {int64_t(compression), int64_t(0), int64_t(0), int64_t(0), int64_t(colors), int64_t(0)})
            Put32(b, v);
        return b;
    };
    const TBytes redAndBlue = {0, 0, 255, 0, 255, 0, 0, 0};

    // 4 x 2, 8 bits a pixel run-length encoded: red below, blue above.
    TBytes rle8 = header(4, 2, 8, 1, 2);
    Append(rle8, redAndBlue);
    Append(rle8, {4, 0, 0, 0, 4, 1, 0, 1});
    TBytes stretch;
    Put32(stretch, kSrcCopy);
    Append(stretch, Words({0, 2, 4, 0, 0, 2, 4, 0, 0}));
    Append(stretch, rle8);
    EXPECT_EQ(Picture(Render(TWmfWriter().Window(0, 0, 4, 2).Record(kStretchDib, stretch).Plain(), 4, 2)),
              "BBBB\nRRRR\n");

    // The same with 4 bits a pixel, in an enhanced metafile.
    TBytes rle4 = header(4, 2, 4, 2, 2);
    Append(rle4, redAndBlue);
    Append(rle4, {4, 0x00, 0, 0, 4, 0x11, 0, 1});
    EXPECT_EQ(Picture(Render(TEmfWriter().StretchDib(0, 0, 4, 2, rle4, 4, 2).Build(4, 2), 4, 2)), "BBBB\nRRRR\n");

    // 8 bits a pixel with two of 256 entries: index 2 has none and is black.
    TBytes shortTable = header(3, 1, 8, 0, 0);
    Append(shortTable, redAndBlue);
    Append(shortTable, {0, 1, 2, 0});
    EXPECT_EQ(Picture(Render(TEmfWriter().StretchDib(0, 0, 3, 1, shortTable, 3, 1, kSrcCopy, 48).Build(3, 1), 3, 1)),
              "RB#\n");
}

TEST(MetafileBitmap, OlderBlitRecordsCopyTheBitmap) {
    TBytes bitBlt;
    Put32(bitBlt, kSrcCopy);
    Append(bitBlt, Words({0, 0, 3, 4, 0, 0}));
    Append(bitBlt, kDib);
    TBytes stretchBlt;
    Put32(stretchBlt, kSrcCopy);
    Append(stretchBlt, Words({3, 4, 0, 0, 6, 8, 0, 0}));
    Append(stretchBlt, kDib);
    TBytes toDevice = Words({0, 3, 0, 0, 0, 3, 4, 0, 0});
    Append(toDevice, kDib);

    ExpectScaled(Render(TWmfWriter().Window(0, 0, 4, 3).Record(kDibBitBlt, bitBlt).Plain(), 4, 3), 1);
    ExpectScaled(Render(TWmfWriter().Window(0, 0, 8, 6).Record(kDibStretchBlt, stretchBlt).Plain(), 8, 6), 2);
    ExpectScaled(Render(TWmfWriter().Window(0, 0, 4, 3).Record(kSetDibToDev, toDevice).Plain(), 4, 3), 1);
}

TEST(MetafileBitmap, EnhancedBitBltWithABitmap) {
    const size_t info = DibInfoSize(kDib);
    TBytes p;
    for (int i = 0; i < 4; ++i) Put32(p, 0);
    for (const int64_t v : {int64_t(0), int64_t(0), int64_t(4), int64_t(3), int64_t(kSrcCopy), int64_t(0), int64_t(0)}) Put32(p, v);
    for (const float f : {1.f, 0.f, 0.f, 1.f, 0.f, 0.f}) PutFloat(p, f);
    for (const int64_t v : {int64_t(0), int64_t(0), int64_t(100), int64_t(info), int64_t(100 + info), int64_t(kDib.size() - info)})
        Put32(p, v);
    Append(p, kDib);
    ExpectScaled(Render(TEmfWriter().Record(76, p).Build(4, 3), 4, 3), 1);
}

// The stretching blit's layout, as alpha-blending and transparent blits use
// it: operation (or blend, or transparent colour) at 40, bitmap at 108.
TBytes CombiningBlit(uint32_t type, uint32_t operation, const TBytes& dib, int width) {
    const size_t info = DibInfoSize(dib);
    TBytes p;
    for (int i = 0; i < 4; ++i) Put32(p, 0);
    for (const int64_t v : {int64_t(0), int64_t(0), int64_t(width), int64_t(1), int64_t(operation), int64_t(0), int64_t(0)})
        Put32(p, v);
    for (const float f : {1.f, 0.f, 0.f, 1.f, 0.f, 0.f}) PutFloat(p, f);
    for (const int64_t v : {int64_t(0), int64_t(0), int64_t(108), int64_t(info), int64_t(108 + info),
                            int64_t(dib.size() - info), int64_t(width), int64_t(1)})
        Put32(p, v);
    Append(p, dib);
    return EnhancedRecordBytes(type, p);
}

TEST(MetafileBitmap, TransparentBlitLeavesOutItsColourKey) {
    const TColor magenta = RGB(255, 0, 255);
    const TBytes dib = MakeDib(3, 1, 24, [&](int x, int) { return x == 0 ? kRed : x == 1 ? magenta : kBlue; });
    TEmfWriter e;
    e.Raw(CombiningBlit(116, magenta, dib, 3));
    EXPECT_EQ(Picture(Render(e.Build(3, 1), 3, 1)), "R.B\n");
}

TEST(MetafileBitmap, AlphaBlendCoversByTheSourceAlpha) {
    // Premultiplied: a clear pixel, a solid red one and a half-covering blue.
    const TColor pixels[] = {0x00000000, 0xFFFF0000, 0x80000080};
    const TBytes dib = MakeDib(3, 1, 32, [&](int x, int) { return pixels[x]; });
    TEmfWriter e;
    e.Raw(CombiningBlit(114, 0x01FF0000, dib, 3));
    const TBitmap b = Render(e.Build(3, 1), 3, 1);
    EXPECT_EQ(b.Pixel(0, 0), kPaper);
    EXPECT_EQ(b.Pixel(1, 0), kRed);
    EXPECT_EQ(b.Pixel(2, 0), RGB(0, 0, 128 + 3 * 127 / 255));
}

TEST(MetafileBitmap, SourceRectangleCountsFromTheBottomRow) {
    // Two columns from x = 1 and the two rows above the bottom one.
    const size_t info = DibInfoSize(kDib);
    TBytes p;
    for (int i = 0; i < 4; ++i) Put32(p, 0);
    for (const int64_t v : {0, 0, 1, 1, 2, 2}) Put32(p, v);
    for (const int64_t v : {int64_t(80), int64_t(info), int64_t(80 + info), int64_t(kDib.size() - info), int64_t(0),
                            int64_t(kSrcCopy), int64_t(2), int64_t(2)})
        Put32(p, v);
    Append(p, kDib);
    const TBitmap b = Render(TEmfWriter().Record(81, p).Build(2, 2), 2, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(b.Pixel(x, y), Sample(x + 1, y)) << x << "," << y;
}

TEST(MetafileBitmap, OperationsWithoutASourceUseBrushAndTarget) {
    TBytes patCopy;
    Put32(patCopy, kPatCopy);
    Append(patCopy, Words({0, 0, 0, 2, 2, 0, 0}));
    TBytes invert;
    Put32(invert, kDstInvert);
    Append(invert, Words({0, 0, 0, 2, 2, 2, 2}));
    TWmfWriter w;
    w.Window(0, 0, 4, 4).Brush(0, kGreen).Select(0).Record(kDibBitBlt, patCopy).Record(kDibBitBlt, invert);
    EXPECT_EQ(Picture(Render(w.Plain(), 4, 4)), "GG..\nGG..\n..??\n..??\n");
    EXPECT_EQ(Render(w.Plain(), 4, 4).Pixel(3, 3), RGB(254, 253, 252));
}

TEST(MetafileBitmap, PatternBrushesTileFromTheTargetCorner) {
    TBytes p = Words({5, 0});
    Append(p, MakeDib(2, 2, 24, [](int x, int y) { return (x + y) % 2 ? kBlue : kRed; }));
    TWmfWriter w;
    w.Window(0, 0, 5, 3).Pen(5, 0, 0).Select(0).Record(kDibPatternBrush, p).Select(1).Rectangle(0, 0, 5, 3);
    EXPECT_EQ(Picture(Render(w.Plain(), 5, 3)), "RBRBR\nBRBRB\nRBRBR\n");
}

}  // namespace
