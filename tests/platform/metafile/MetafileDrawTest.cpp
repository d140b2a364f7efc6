#include "MetafileTestSupport.h"

namespace {

enum : uint16_t {
    kSetBkColor = 0x0201, kSetBkMode = 0x0102, kSetPolyFillMode = 0x0106, kSaveDC = 0x001E, kRestoreDC = 0x0127,
    kMoveTo = 0x0214, kLineTo = 0x0213, kPolyPolygon = 0x0538, kRoundRect = 0x061C, kArc = 0x0817,
    kPie = 0x081A, kChord = 0x0830, kIntersectClipRect = 0x0416, kSetPixel = 0x041F,
};
enum : uint32_t {
    EMR_POLYPOLYGON16 = 91, EMR_SETMAPMODE = 17, EMR_SETWINDOWEXTEX = 9, EMR_SETVIEWPORTEXTEX = 11,
    EMR_SETWORLDTRANSFORM = 35, EMR_MOVETOEX = 27, EMR_LINETO = 54, EMR_BEGINPATH = 59, EMR_ENDPATH = 60,
    EMR_CLOSEFIGURE = 61, EMR_FILLPATH = 62, EMR_STROKEPATH = 64, EMR_POLYBEZIER16 = 85, EMR_EXTCREATEPEN = 95,
};
constexpr int64_t kNullPen = 0x80000008, kBlackBrush = 0x80000004;

// A picture of the given window whose shapes have no outline and a red fill.
TWmfWriter RedNoPen(int width, int height) {
    TWmfWriter w;
    w.Window(0, 0, width, height).Pen(5, 0, 0).Brush(0, kRed).Select(0).Select(1);
    return w;
}

TEST(MetafileDraw, RectangleFillsInsideItsOutline) {
    TWmfWriter w;
    w.Window(0, 0, 10, 6).Pen(0, 0, clBlack).Brush(0, kRed).Select(0).Select(1).Rectangle(1, 1, 6, 5);
    EXPECT_EQ(Picture(Render(w.Plain(), 10, 6)),
              "..........\n"
              ".#####....\n"
              ".#RRR#....\n"
              ".#RRR#....\n"
              ".#####....\n"
              "..........\n");
}

TEST(MetafileDraw, LinesLeaveOutTheirLastPixel) {
    TEmfWriter e;
    e.Ints(EMR_MOVETOEX, {1, 1}).Ints(EMR_LINETO, {5, 1}).Ints(EMR_LINETO, {5, 3});
    EXPECT_EQ(Picture(Render(e.Build(10, 4), 10, 4)),
              "..........\n"
              ".#####....\n"
              ".....#....\n"
              "..........\n");
}

TEST(MetafileDraw, DashedPensCarryTheirPatternAcrossSegments) {
    for (const bool opaque : {false, true}) {
        TWmfWriter w;
        w.Window(0, 0, 12, 2).Pen(2, 0, clBlack).Select(0).Words(kSetBkMode, {opaque ? 2 : 1});
        w.Poly(0x0325, {{0, 0}, {4, 0}, {12, 0}}).Poly(0x0325, {{0, 1}, {7, 1}, {12, 1}});
        const std::string dots = opaque ? "###WWW###WWW\n" : "###...###...\n";
        EXPECT_EQ(Picture(Render(w.Plain(), 12, 2)), dots + dots);
    }
}

TEST(MetafileDraw, PolyPolygonFollowsTheFillMode) {
    for (const int mode : {1, 2}) {
        TWmfWriter w = RedNoPen(8, 8);
        TBytes p;
        Put16(p, 2);
        Put16(p, 4);
        Put16(p, 4);
        for (const int v : {0, 0, 8, 0, 8, 8, 0, 8, 2, 2, 6, 2, 6, 6, 2, 6}) Put16(p, v);
        w.Words(kSetPolyFillMode, {mode}).Record(kPolyPolygon, p);
        const TBitmap b = Render(w.Plain(), 8, 8);
        EXPECT_EQ(Count(b, kRed), mode == 1 ? 48 : 64) << Picture(b);
        EXPECT_EQ(b.Pixel(3, 3), mode == 1 ? kPaper : kRed);
    }
}

TEST(MetafileDraw, HatchGapsTakeTheBackgroundOnlyWhenOpaque) {
    const struct {
        int hatch;
        bool opaque;
        int hatched, gaps;
    } cases[] = {{0, false, 32, 0}, {1, false, 32, 0}, {4, false, 60, 0}, {0, true, 32, 224}, {5, true, 64, 192}};
    for (const auto& c : cases) {
        TWmfWriter w;
        w.Window(0, 0, 16, 16).Pen(5, 0, 0).Brush(2, kBlue, c.hatch).Select(0).Select(1);
        TBytes green;
        Put32(green, kGreen);
        w.Record(kSetBkColor, green).Words(kSetBkMode, {c.opaque ? 2 : 1}).Rectangle(0, 0, 16, 16);
        const TBitmap b = Render(w.Plain(), 16, 16);
        EXPECT_EQ(Count(b, kBlue), c.hatched) << c.hatch << "\n" << Picture(b);
        EXPECT_EQ(Count(b, kGreen), c.gaps) << c.hatch;
    }
}

TEST(MetafileDraw, EllipseAndRoundRectKeepTheirCornersFree) {
    const TBitmap ellipse = Render(RedNoPen(21, 21).Ellipse(0, 0, 21, 21).Plain(), 21, 21);
    EXPECT_NEAR(Count(ellipse, kRed), 346, 12) << Picture(ellipse);
    for (const auto& [x, y] : {std::pair{10, 10}, {10, 0}, {0, 10}, {20, 10}, {10, 20}}) EXPECT_EQ(ellipse.Pixel(x, y), kRed);
    for (const auto& [x, y] : {std::pair{0, 0}, {20, 0}, {0, 20}, {20, 20}, {2, 2}}) EXPECT_EQ(ellipse.Pixel(x, y), kPaper);

    const TBitmap round = Render(RedNoPen(20, 20).Words(kRoundRect, {10, 10, 20, 20, 0, 0}).Plain(), 20, 20);
    for (const auto& [x, y] : {std::pair{10, 0}, {0, 10}, {19, 10}, {10, 19}, {10, 10}}) EXPECT_EQ(round.Pixel(x, y), kRed);
    for (const auto& [x, y] : {std::pair{0, 0}, {19, 0}, {0, 19}, {19, 19}}) EXPECT_EQ(round.Pixel(x, y), kPaper);
}

TEST(MetafileDraw, PieChordAndArcRunCounterclockwiseFromStartToEnd) {
    // From the right-hand point to the top one: the top-right quarter.
    auto shape = [](uint16_t function) {
        TWmfWriter w = RedNoPen(21, 21);
        w.Pen(0, 0, clBlack).Select(2).Words(function, {0, 10, 10, 21, 21, 21, 0, 0});
        return Render(w.Plain(), 21, 21);
    };
    const TBitmap pie = shape(kPie);
    EXPECT_EQ(pie.Pixel(15, 5), kRed) << Picture(pie);
    for (const auto& [x, y] : {std::pair{5, 5}, {5, 15}, {15, 15}}) EXPECT_EQ(pie.Pixel(x, y), kPaper);

    const TBitmap chord = shape(kChord);
    EXPECT_EQ(chord.Pixel(16, 4), kRed) << Picture(chord);
    for (const auto& [x, y] : {std::pair{12, 8}, {5, 5}, {15, 15}}) EXPECT_EQ(chord.Pixel(x, y), kPaper);

    const TBitmap arc = shape(kArc);
    EXPECT_EQ(Count(arc, kRed), 0);
    EXPECT_GT(Count(arc, clBlack), 12);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 21; ++x)
            if (arc.Pixel(x, y) == clBlack) {
                EXPECT_TRUE(x >= 9 && y <= 11) << x << "," << y << "\n" << Picture(arc);
            }
}

TEST(MetafileDraw, WidePensAreAsWideAsScaled) {
    TWmfWriter w;
    w.Window(0, 0, 20, 20).Pen(0, 4, clBlack).Select(0).Words(kMoveTo, {10, 2}).Words(kLineTo, {10, 18});
    const TBitmap b = Render(w.Plain(), 20, 20);
    for (int y = 6; y <= 13; ++y) EXPECT_EQ(b.Pixel(10, y), y >= 8 && y <= 11 ? clBlack : kPaper) << y;
    // The same picture at twice the size draws a line twice as wide.
    const TBitmap big = Render(w.Plain(), 40, 40);
    for (int y = 14; y <= 25; ++y) EXPECT_EQ(big.Pixel(20, y), y >= 16 && y <= 23 ? clBlack : kPaper) << y;
}

TEST(MetafileDraw, RestoreBringsBackTheSavedObjects) {
    for (const int restore : {-1, 1}) {
        TWmfWriter w;
        w.Window(0, 0, 4, 4).Pen(5, 0, 0).Brush(0, kRed).Brush(0, kGreen).Select(0).Select(1);
        w.Words(kSaveDC, {}).Select(2).Words(kRestoreDC, {restore}).Rectangle(0, 0, 4, 4);
        EXPECT_EQ(Count(Render(w.Plain(), 4, 4), kRed), 16) << restore;
    }
}

TEST(MetafileDraw, NewObjectsTakeTheLowestFreeSlot) {
    TWmfWriter w;
    w.Window(0, 0, 4, 4).Brush(0, kRed).Brush(0, kGreen).Delete(0).Brush(0, kBlue).Pen(5, 0, 0);
    w.Select(2).Select(0).Rectangle(0, 0, 4, 4);
    EXPECT_EQ(Count(Render(w.Plain(), 4, 4), kBlue), 16);
}

TEST(MetafileDraw, PictureScalesOntoTheRectangleAndStaysInside) {
    const TBytes quarter = RedNoPen(10, 10).Rectangle(0, 0, 5, 5).Plain();
    const TBitmap big = Render(quarter, 20, 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(big.Pixel(x, y), x < 10 && y < 10 ? kRed : kPaper) << x << "," << y;

    const TBytes spill = RedNoPen(10, 10).Rectangle(-5, -5, 15, 15).Plain();
    const TBitmap inset = Render(spill, 20, 20, Rect(5, 5, 15, 15));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(inset.Pixel(x, y), x >= 5 && x < 15 && y >= 5 && y < 15 ? kRed : kPaper) << x << "," << y;
}

TEST(MetafileDraw, ClipRectangleAndSinglePixels) {
    TWmfWriter w = RedNoPen(10, 10);
    TBytes pixel;
    Put32(pixel, kBlue);
    Put16(pixel, 8);
    Put16(pixel, 7);
    w.Record(kSetPixel, pixel).Words(kIntersectClipRect, {5, 5, 2, 2}).Rectangle(0, 0, 10, 10);
    const TBitmap b = Render(w.Plain(), 10, 10);
    EXPECT_EQ(Count(b, kRed), 9);
    EXPECT_EQ(b.Pixel(2, 2), kRed);
    EXPECT_EQ(b.Pixel(4, 4), kRed);
    EXPECT_EQ(b.Pixel(7, 8), kBlue);
}

TEST(MetafileDraw, ColourKeysSurviveOnSixteenBitTargets) {
    const TColor magenta = RGB(255, 0, 255);
    TWmfWriter w;
    w.Window(0, 0, 4, 4).Pen(5, 0, 0).Brush(0, magenta).Select(0).Select(1).Rectangle(0, 0, 4, 4);
    const TMetafile m = LoadMetafile(w.Plain());
    TBitmap b;
    b.SetPixelFormat(pf16bit);
    b.SetSize(8, 8);
    b.Canvas().StretchDraw(Rect(0, 0, 8, 8), m);
    for (int y = 0; y < 8; ++y) {
        const uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < 8; ++x) ASSERT_EQ(row[2 * x] | (row[2 * x + 1] << 8), 0xF81F);
    }
}

TEST(MetafileDraw, EnhancedWindowViewportAndFixedModesMap) {
    TEmfWriter aniso;
    aniso.Select(kNullPen).Brush(1, 0, kRed).Select(1).Ints(EMR_SETMAPMODE, {8});
    aniso.Ints(EMR_SETWINDOWEXTEX, {100, 100}).Ints(EMR_SETVIEWPORTEXTEX, {10, 10}).Rectangle(0, 0, 50, 50);
    const TBitmap a = Render(aniso.Build(10, 10), 10, 10);
    EXPECT_EQ(Count(a, kRed), 25) << Picture(a);
    EXPECT_EQ(a.Pixel(4, 4), kRed);

    // Hundredths of a millimetre, y pointing up: 265 x 133 is 10 x 5 pixels.
    TEmfWriter metric;
    metric.Select(kNullPen).Brush(1, 0, kRed).Select(1).Ints(EMR_SETMAPMODE, {3}).Rectangle(0, 0, 265, -133);
    const TBitmap m = Render(metric.Build(12, 6), 12, 6);
    EXPECT_EQ(Count(m, kRed), 50) << Picture(m);
    EXPECT_EQ(m.Pixel(9, 4), kRed);
}

TEST(MetafileDraw, EnhancedWorldTransformMovesShapes) {
    TEmfWriter e;
    TBytes form;
    for (const float v : {1.f, 0.f, 0.f, 1.f, 3.f, 2.f}) PutFloat(form, v);
    e.Select(kNullPen).Select(kBlackBrush).Record(EMR_SETWORLDTRANSFORM, form).Rectangle(0, 0, 2, 2);
    EXPECT_EQ(Picture(Render(e.Build(6, 5), 6, 5)),
              "......\n"
              "......\n"
              "...##.\n"
              "...##.\n"
              "......\n");
}

TEST(MetafileDraw, EnhancedPathsFillOrStroke) {
    auto path = [](uint32_t finish) {
        TEmfWriter e;
        e.Brush(1, 0, kRed).Select(1).Ints(EMR_BEGINPATH, {}).Ints(EMR_MOVETOEX, {1, 1});
        e.Ints(EMR_LINETO, {6, 1}).Ints(EMR_LINETO, {6, 5}).Ints(EMR_LINETO, {1, 5}).Ints(EMR_CLOSEFIGURE, {});
        e.Ints(EMR_ENDPATH, {}).Ints(finish, {0, 0, 0, 0});
        return Picture(Render(e.Build(8, 7), 8, 7));
    };
    EXPECT_EQ(path(EMR_FILLPATH),
              "........\n"
              ".RRRRR..\n"
              ".RRRRR..\n"
              ".RRRRR..\n"
              ".RRRRR..\n"
              "........\n"
              "........\n");
    EXPECT_EQ(path(EMR_STROKEPATH),
              "........\n"
              ".######.\n"
              ".#....#.\n"
              ".#....#.\n"
              ".#....#.\n"
              ".######.\n"
              "........\n");
}

TEST(MetafileDraw, EnhancedClipPathAndRegionBounds) {
    TEmfWriter e;
    e.Select(kNullPen).Brush(1, 0, kRed).Select(1).Ints(EMR_BEGINPATH, {}).Rectangle(2, 2, 5, 5);
    e.Ints(EMR_ENDPATH, {}).Ints(67, {5}).Rectangle(0, 0, 8, 8);
    const TBitmap clipped = Render(e.Build(8, 8), 8, 8);
    EXPECT_EQ(Count(clipped, kRed), 9) << Picture(clipped);
    EXPECT_EQ(clipped.Pixel(2, 2), kRed);
    EXPECT_EQ(clipped.Pixel(4, 4), kRed);

    // Selecting no region (copy mode, no data) frees the picture again.
    e.Ints(75, {0, 5}).Rectangle(0, 0, 8, 8);
    EXPECT_EQ(Count(Render(e.Build(8, 8), 8, 8), kRed), 64);
}

// Regions of several rectangles clip to each of them, excluded rectangles
// cut holes; two-colour pattern brushes take the text colour for their 0
// bits and the background colour for their 1 bits.
TEST(MetafileDraw, RegionsClipToTheirRectanglesAndMonochromeBrushesTakeTheTextColours) {
    TEmfWriter e;
    e.Select(kNullPen).Brush(1, 0, kRed).Select(1);
    e.Ints(75, {64, 5, 32, 1, 2, 32, 0, 0, 8, 8, 0, 0, 2, 2, 6, 6, 8, 8}).Ints(29, {0, 0, 1, 1}).Rectangle(0, 0, 8, 8);
    const TBitmap clipped = Render(e.Build(8, 8), 8, 8);
    EXPECT_EQ(Count(clipped, kRed), 7) << Picture(clipped);
    EXPECT_EQ(clipped.Pixel(1, 1), kRed);
    EXPECT_EQ(clipped.Pixel(0, 0), kPaper);
    EXPECT_EQ(clipped.Pixel(7, 7), kRed);

    TBytes mono = MakeDib(2, 1, 1, [](int x, int) { return TColor(x); }, {clBlack, clWhite});
    TBytes brush;
    for (const int64_t v : {int64_t(2), int64_t(2), int64_t(32), int64_t(48), int64_t(80), int64_t(mono.size() - 48)})
        Put32(brush, v);
    Append(brush, mono);
    TEmfWriter m;
    m.Select(kNullPen).Record(93, brush).Select(2).Ints(24, {kRed}).Ints(25, {kBlue}).Rectangle(0, 0, 4, 1);
    EXPECT_EQ(Picture(Render(m.Build(4, 1), 4, 1)), "RBRB\n");
}

// Text takes the text colour within its cell below the reference point,
// over the background colour while the background mode is opaque.
TEST(MetafileDraw, TextDrawsInItsColourInsideItsCell) {
    for (const int mode : {1, 2}) {
        TEmfWriter e;
        e.Font(1, -12, 400, false, false, 0, u"DejaVu Sans").Select(1).Ints(24, {kRed}).Ints(25, {kGreen});
        e.Ints(18, {mode}).TextOut(4, 4, u"HH");
        const TBitmap b = Render(e.Build(30, 24), 30, 24);
        int inkLeft = 30, inkRight = -1, inkTop = 24, inkBottom = -1;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 30; ++x)
                if (b.Pixel(x, y) == kRed)
                    inkLeft = std::min(inkLeft, x), inkRight = std::max(inkRight, x), inkTop = std::min(inkTop, y),
                    inkBottom = std::max(inkBottom, y);
        EXPECT_GT(Count(b, kRed), 20) << Picture(b);
        EXPECT_GE(inkLeft, 4);
        EXPECT_LE(inkRight, 4 + 20);
        EXPECT_GE(inkTop, 4);
        EXPECT_LE(inkBottom, 4 + 14);
        EXPECT_EQ(Count(b, kGreen) > 0, mode == 2) << Picture(b);
    }
}

TEST(MetafileDraw, EnhancedBeziersAndGeometricPens) {
    TEmfWriter e;
    TBytes curve;
    for (int i = 0; i < 4; ++i) Put32(curve, 0);
    Put32(curve, 4);
    for (const int v : {0, 2, 3, 2, 6, 2, 9, 2}) Put16(curve, v);
    e.Record(EMR_POLYBEZIER16, curve);
    const TBitmap b = Render(e.Build(10, 4), 10, 4);
    EXPECT_EQ(Picture(b), "..........\n..........\n#########.\n..........\n");

    // A geometric pen (style 0x10000) two units wide.
    TEmfWriter wide;
    wide.Ints(EMR_EXTCREATEPEN, {1, 0, 0, 0, 0, 0x10000, 2, 0, kBlue, 0, 0}).Select(1);
    wide.Ints(EMR_MOVETOEX, {1, 4}).Ints(EMR_LINETO, {8, 4});
    const TBitmap w = Render(wide.Build(10, 8), 10, 8);
    for (int y = 0; y < 8; ++y) EXPECT_EQ(w.Pixel(4, y), y >= 3 && y <= 4 ? kBlue : kPaper) << y << "\n" << Picture(w);
}

}  // namespace
