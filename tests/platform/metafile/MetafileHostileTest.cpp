// Damaged and hostile metafiles: broken structure is refused when loading;
// records whose contents make no sense are skipped or clipped when drawing.
#include <climits>
#include <cmath>

#include "MetafileTestSupport.h"
#include "SysUtils.h"

namespace {

TEST(MetafileHostile, RecordsRunningPastTheFileAreRefused) {
    TBytes pastEnd;
    Put32(pastEnd, 1000);
    Put16(pastEnd, 0x041B);
    TBytes zeroSize;
    Put32(zeroSize, 0);
    Put16(zeroSize, 0x041B);
    TBytes twoWords;
    Put32(twoWords, 2);
    Put16(twoWords, 0x041B);
    TBytes placeableOnly = TWmfWriter().Placeable(0, 0, 4, 4, 96);
    placeableOnly.resize(30);

    TBytes enhancedPastEnd = TEmfWriter().Build(4, 4);
    enhancedPastEnd.resize(enhancedPastEnd.size() - 8);  // the end record loses its tail
    TBytes enhancedTiny = TEmfWriter().Rectangle(0, 0, 2, 2).Build(4, 4);
    enhancedTiny[88 + 4] = 4;  // the rectangle claims four bytes
    TBytes enhancedHeader = TEmfWriter().Build(4, 4);
    enhancedHeader[4] = 40;

    const std::vector<std::pair<const char*, TBytes>> cases = {
        {"record past end", TWmfWriter().Raw(pastEnd).Placeable(0, 0, 4, 4, 96)},
        {"zero-size record", TWmfWriter().Window(0, 0, 4, 4).Raw(zeroSize).Plain()},
        {"two-word record", TWmfWriter().Window(0, 0, 4, 4).Raw(twoWords).Plain()},
        {"placeable header alone", placeableOnly},
        {"enhanced record past end", enhancedPastEnd},
        {"enhanced record of four bytes", enhancedTiny},
        {"enhanced header too small", enhancedHeader},
        // Pictures of more than 2^28 pixels, which no bitmap could take.
        {"placeable picture of 3145632 x 3145632 pixels", TWmfWriter().Placeable(0, 0, 32767, 32767, 1)},
        {"enhanced frame of 3780 x 3780 metres", TEmfWriter().Build(Rect(0, 0, 9, 9), Rect(0, 0, INT_MAX, INT_MAX))},
        {"enhanced bounds without a frame", TEmfWriter().Build(Rect(0, 0, 1 << 20, 1 << 20), Rect(0, 0, 0, 0))},
    };
    for (const auto& [name, bytes] : cases) EXPECT_THROW(LoadMetafile(bytes), EInvalidGraphic) << name;
}

// Each of these is played onto a small bitmap; none may crash, read outside
// its record or draw outside the bitmap.
TEST(MetafileHostile, NonsenseInOlderRecordsIsSkippedOrClipped) {
    const uint16_t functions[] = {0x001E, 0x0102, 0x0106, 0x0127, 0x012D, 0x0142, 0x01F0, 0x0201, 0x020B,
                                  0x020C, 0x020F, 0x0213, 0x0214, 0x02FA, 0x02FC, 0x0324, 0x0325, 0x0410,
                                  0x0416, 0x0418, 0x041B, 0x041F, 0x0538, 0x061C, 0x0817, 0x081A, 0x0830,
                                  0x0940, 0x0B41, 0x0D33, 0x0F43};
    TWmfWriter w;
    w.Window(0, 0, 16, 16).Pen(0, 3, kBlue).Brush(0, kRed).Select(0).Select(1);
    for (const uint16_t f : functions) {
        w.Record(f, {});
        w.Words(f, {1});
    }
    w.Poly(0x0324, {{1, 1}, {5, 5}});
    w.Words(0x0324, {1000, 1, 1, 5, 5});  // more points than the record holds
    w.Words(0x0324, {-1, 1, 1});          // a negative count
    w.Words(0x0538, {-1, 3});
    w.Words(0x0538, {2, 3, -1, 0, 0, 4, 0, 4, 4});
    w.Words(0x0127, {-5}).Words(0x0127, {0}).Words(0x0127, {7});
    w.Words(0x012D, {0xFFFF}).Words(0x01F0, {500});
    w.Words(0x0418, {32767, 32767, -32768, -32768});
    w.Words(0x0817, {0, 0, 0, 0, 32767, 32767, -32768, -32768});
    w.Words(0x0410, {0, 1, 0, 1}).Words(0x020C, {0, 0});
    TBytes hugeDib;
    Put32(hugeDib, 0x00CC0020);
    for (int v : {0, 3, 4, 0, 0, 3, 4, 0, 0}) Put16(hugeDib, v);
    Append(hugeDib, MakeDib(4, 3, 24, [](int, int) { return kGreen; }));
    hugeDib[22 + 4] = 0xFF;  // width 0x7FFFFFxx
    hugeDib[22 + 7] = 0x7F;
    w.Record(0x0F43, hugeDib);
    TBytes shortBits;
    Put32(shortBits, 0x00CC0020);
    for (int v : {0, 3, 4, 0, 0, 3, 4, 0, 0}) Put16(shortBits, v);
    TBytes dib = MakeDib(4, 3, 24, [](int, int) { return kGreen; });
    dib.resize(dib.size() - 4);
    Append(shortBits, dib);
    w.Record(0x0F43, shortBits);
    w.Window(0, 0, 1, 1).Rectangle(-32768, -32768, 32767, 32767);

    const TBitmap b = Render(w.Plain(), 16, 16, Rect(2, 2, 14, 14));
    EXPECT_EQ(Count(b, kGreen), 0);
    EXPECT_EQ(b.Pixel(8, 8), kRed) << "the last rectangle covers the whole picture";
    EXPECT_EQ(b.Pixel(1, 1), kPaper);
    EXPECT_EQ(b.Pixel(14, 14), kPaper);
}

TEST(MetafileHostile, NonsenseInEnhancedRecordsIsSkippedOrClipped) {
    TEmfWriter e;
    e.Pen(1, 0, 5, kBlue).Brush(2, 0, kRed).Select(1).Select(2);
    for (uint32_t type = 2; type <= 122; ++type) {
        if (type == 14) continue;  // the end record would end the picture
        e.Record(type, {});
        e.Ints(type, {1});
        e.Ints(type, {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1});
    }
    e.Ints(3, {0, 0, 0, 0, 0xFFFFFFFF, 1, 1});              // polygon, count of -1
    e.Ints(8, {0, 0, 0, 0, 0x40000000, 4, 4, 0, 0, 9, 0});  // poly-polygon, far too many figures
    e.Ints(43, {INT_MIN, INT_MIN, INT_MAX, INT_MAX});
    e.Ints(42, {INT_MIN, INT_MIN, INT_MAX, INT_MAX});
    e.Ints(27, {INT_MIN, 5}).Ints(54, {INT_MAX, 6});
    e.Ints(2, {0, 0, 0, 0, 4, INT_MIN, 0, INT_MAX, 0, INT_MIN, 5, INT_MAX, 5});  // a curve longer than an int
    e.Ints(81, {0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 0x7FFFFFF0, 0x20, 100, 16, 0, 0xCC0020, 4, 4});  // bitmap far outside
    TBytes form;
    for (const float v : {INFINITY, NAN, 1e30f, -1e30f, 3.f, 4.f}) PutFloat(form, v);
    e.Record(35, form).Rectangle(0, 0, 4, 4).Ints(42, {0, 0, 4, 4}).Ints(45, {0, 0, 4, 4, 1, 1, 2, 2});
    e.Ints(36, {0, 0, 0, 0, 0, 0, 1});  // back to identity
    e.Ints(32, {0, 0, 1, 0}).Ints(9, {0, 0}).Ints(34, {INT_MIN});
    for (int i = 0; i < 3; ++i) e.Ints(33, {});
    e.Ints(75, {0, 5});  // the clip back to the whole picture
    e.Select(0x80000008).Rectangle(INT_MIN, INT_MIN, INT_MAX, INT_MAX);

    const TBitmap b = Render(e.Build(16, 16), 16, 16, Rect(2, 2, 14, 14));
    EXPECT_EQ(b.Pixel(8, 8), kRed);
    EXPECT_EQ(b.Pixel(1, 1), kPaper);
    EXPECT_EQ(b.Pixel(14, 14), kPaper);
}

TEST(MetafileHostile, EmptyAndInvertedTargetsDrawNothingOutside) {
    const TBytes wmf = TWmfWriter().Window(0, 0, 4, 4).Brush(0, kRed).Select(0).Rectangle(0, 0, 4, 4).Plain();
    const TBitmap none = Render(wmf, 8, 8, Rect(3, 3, 3, 9));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(none.Pixel(x, y), kPaper);
    // A rectangle given right to left mirrors the picture inside it.
    const TBitmap mirrored = Render(wmf, 8, 8, Rect(6, 2, 2, 6));
    EXPECT_EQ(mirrored.Pixel(4, 4), kRed);
    EXPECT_EQ(mirrored.Pixel(1, 4), kPaper);
    EXPECT_EQ(mirrored.Pixel(6, 4), kPaper);
}

}  // namespace
