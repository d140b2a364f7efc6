#include <gtest/gtest.h>

#include "GraphicFormats.h"
#include "PCXFiles.h"
#include "PixelAccess.h"
#include "ToolFiles.h"

namespace {

using namespace imagefiles;

TColor HeaderColor(uint32_t i) { return RGB(uint8_t(i * 16), uint8_t(255 - i * 15), uint8_t(i * 5 + 3)); }
TColor TrailerColor(uint32_t i) { return RGB(uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)); }

enum PaletteKind { kHeader, kTrailer, kGray, kStandard, kTrueColor };

struct PcxCase {
    uint8_t planes, bits;
    PaletteKind palette;
    uint8_t version = 5;
    bool runLength = true;
    uint16_t paletteType = 1;
    uint8_t fileID = 10;
    uint16_t xMin = 0;
};

constexpr uint32_t Width = 21, Height = 40;

uint32_t IndexAt(uint32_t x, uint32_t y, uint32_t colors) { return (x * 3 + y * 7 + x / 5) % colors; }
uint8_t SampleAt(uint32_t x, uint32_t y, uint32_t plane) {
    return static_cast<uint8_t>(x < 8 ? y * 9 + plane : x * 11 + y * 31 + plane * 70);
}

PcxImage Build(const PcxCase& c) {
    PcxImage image{c.fileID, c.version, c.runLength, c.bits, c.planes, c.xMin, 3, uint16_t(c.xMin + Width - 1),
                   3 + Height - 1, uint16_t((Width * c.bits + 15) / 16 * 2), c.paletteType, {}, {}, {}};
    // Images of up to 4 bits shown in grey or standard colours have an
    // all-black header palette, which stands for none.
    const bool headerColors = c.planes * c.bits > 4 || (c.palette != kGray && c.palette != kStandard);
    for (uint32_t i = 0; i < 16 && headerColors; ++i) {
        const TColor color = HeaderColor(i);
        image.ColorMap.insert(image.ColorMap.end(), {GetRValue(color), GetGValue(color), GetBValue(color)});
    }
    const uint32_t colors = c.palette == kTrueColor ? 1 : 1u << (c.planes * c.bits);
    for (uint32_t y = 0; y < Height; ++y)
        for (uint32_t plane = 0; plane < c.planes; ++plane) {
            std::vector<uint8_t> line(image.BytesPerLine);
            for (uint32_t x = 0; x < Width; ++x) {
                const uint32_t v = IndexAt(x, y, colors), stored = c.planes > 1 ? (v >> plane & 1) : v;
                if (c.palette == kTrueColor)
                    line[x] = SampleAt(x, y, plane);
                else
                    line[x * c.bits / 8] |= static_cast<uint8_t>(stored << (8 - c.bits - x * c.bits % 8));
            }
            image.Lines.insert(image.Lines.end(), line.begin(), line.end());
        }
    if (c.palette == kTrailer) {
        image.Trailer.push_back(12);
        for (uint32_t i = 0; i < 256; ++i) {
            const TColor color = TrailerColor(i);
            image.Trailer.insert(image.Trailer.end(), {GetRValue(color), GetGValue(color), GetBValue(color)});
        }
    }
    return image;
}

TEST(PCX, EveryLayoutLoadsEveryPixelWithItsPalette) {
    const PcxCase cases[] = {
        {1, 1, kHeader},        {1, 1, kGray},
        {1, 2, kHeader},        {1, 2, kHeader, 3},       {1, 2, kStandard},
        {1, 4, kHeader},        {1, 4, kHeader, 5, true, 2},  // palette type 2 keeps the header's colours
        {4, 1, kHeader},        {4, 1, kHeader, 3},       {4, 1, kStandard},
        {3, 1, kHeader},        {2, 1, kHeader},
        {4, 1, kHeader, 5, false},
        {1, 8, kTrailer},
        {1, 8, kGray, 5, true, 2},                // gray palette type
        {1, 8, kStandard, 5, false},              // no palette: every byte is a pixel
        {1, 8, kTrailer, 5, true, 1, 205},        // a Word screen capture
        {1, 8, kTrailer, 5, true, 1, 10, 300},    // an origin away from 0
        {3, 8, kTrueColor}, {3, 8, kTrueColor, 5, false}, {4, 8, kTrueColor}};
    for (const PcxCase& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.planes) << " planes of " << int(c.bits) << " bits, palette "
                                        << c.palette << ", version " << int(c.version) << ", run-length "
                                        << c.runLength << ", id " << int(c.fileID));
        const Bytes file = MakePcx(Build(c));
        EXPECT_TRUE(Probe<TPCXGraphic>(file));
        TPCXGraphic graphic;
        Load(graphic, file);
        const uint32_t bitsPerPixel = c.planes * c.bits;
        const TPixelFormat format = bitsPerPixel == 32 ? pf32bit
                                    : bitsPerPixel == 24 ? pf24bit
                                    : bitsPerPixel == 8  ? pf8bit
                                    : bitsPerPixel == 1  ? pf1bit
                                                         : pf4bit;
        ASSERT_EQ(graphic.PixelFormat(), format);
        // Two-bit indices are widened to 0, 5, 10 and 15.
        const uint32_t widen = c.planes == 1 && c.bits == 2 ? 5 : 1;
        const auto index = [&](int x, int y) { return IndexAt(x, y, 1u << bitsPerPixel); };
        EXPECT_TRUE(ShowsPixels(graphic, Width, Height, [&](int x, int y) -> TColor {
            switch (c.palette) {
                case kHeader: return HeaderColor(index(x, y));
                case kTrailer: return TrailerColor(index(x, y));
                case kGray: {
                    const auto level = static_cast<uint8_t>(index(x, y) * 255 / ((1u << bitsPerPixel) - 1));
                    return RGB(level, level, level);
                }
                case kStandard: {
                    const TPaletteEntry e = DefaultPalette(format).palPalEntry[index(x, y) * widen];
                    return RGB(e.peRed, e.peGreen, e.peBlue);
                }
                default: return RGB(SampleAt(x, y, 0), SampleAt(x, y, 1), SampleAt(x, y, 2));
            }
        }));
        for (uint32_t y = 0; y < Height; ++y)
            for (uint32_t x = 0; x < Width; ++x) {
                if (c.palette != kTrueColor) {
                    ASSERT_EQ(ReadIndex(graphic.ScanLine(y), x, format), index(x, y) * widen) << x << "," << y;
                } else if (c.planes == 4) {
                    ASSERT_EQ(graphic.ScanLine(y)[4 * x + 3], SampleAt(x, y, 3)) << x << "," << y;
                }
            }
    }
}

TEST(PCX, RefusesBrokenAndHostileHeaders) {
    const Bytes good = MakePcx(Build({1, 8, kTrailer})), raw = MakePcx(Build({1, 8, kGray, 5, false}));
    // Rows of 4096 bytes, one more than the data holds at the best ratio: a
    // run packs 63 bytes into two.
    const size_t data = good.size() - 128 - 769, rows = (data / 2 * 63 + data % 2) / 4096 + 1;
    const std::string invalid = "Cannot load image. Invalid or unexpected PCX or SCR image format.";
    const std::string colorFormat = "Invalid color format in PCX file.";
    ExpectRefusals<TPCXGraphic>({
        {"two planes of 8 bits", Patched(good, 65, {2}), colorFormat},
        {"16 bits in one plane", Patched(good, 3, {16}), colorFormat},
        {"X max below X min", Patched(Patched(good, 4, {5, 0}), 8, {0, 0}), invalid},
        {"wider than its lines", Patched(good, 8, {0xFF, 0xFF}), invalid},
        {"beyond 2^28 pixels", Patched(good, 8, {0xFF, 0xFF, 0xFF, 0xFF}), invalid},
        {"a row more than the data can hold",
         Patched(Patched(good, 10, {uint8_t(rows + 2), uint8_t((rows + 2) >> 8)}), 66, {0, 0x10}), invalid},
        {"lines a byte too short for the width", Patched(good, 66, {Width - 1, 0}), invalid},
        {"raw lines cut short", Cut(raw, 500), invalid},
    });
    // Not a PCX header: nothing is loaded and nothing raised.
    for (const Bytes& file : {Patched(good, 0, {11}), Cut(good, 100)}) {
        EXPECT_FALSE(Probe<TPCXGraphic>(file));
        TPCXGraphic graphic;
        Load(graphic, file);
        EXPECT_TRUE(graphic.Empty());
    }
}

// The picture written as PCX by ImageMagick and by netpbm in every layout
// they choose loads to the pixels the writing tool reads back.
TEST(PCX, ToolFilesLoadAsTheToolsReadThem) {
    ASSERT_TRUE(ToolsPresent({"/usr/bin/convert", "/usr/bin/ppmtopcx", "/usr/bin/pcxtoppm", "/usr/bin/pnmquant"}));
    ScratchFolder folder;
    WriteFileBytes(folder / "base.ppm", MakePortableMap(ToolPicture(53, 7)));
    const std::string source = folder / "base.ppm";
    const std::string imageMagick = "/usr/bin/convert ", netpbm = "pcxtoppm ";
    const std::pair<std::string, std::string> variants[] = {
        {imageMagick + source + " pcx:", imageMagick + "pcx:"},
        {imageMagick + source + " -type Palette pcx:", imageMagick + "pcx:"},
        {imageMagick + source + " -colors 2 pcx:", imageMagick + "pcx:"},
        {imageMagick + source + " -alpha set -channel A -fx i/w +channel pcx:", imageMagick + "pcx:"},
        {"ppmtopcx -24bit " + source + " > ", netpbm},
        {"pnmquant 200 " + source + " | ppmtopcx -8bit > ", netpbm},
        {"pnmquant 16 " + source + " | ppmtopcx > ", netpbm},
        {"pnmquant 16 " + source + " | ppmtopcx -packed > ", netpbm},
        {"pnmquant 4 " + source + " | ppmtopcx > ", netpbm},
        {"pnmquant 4 " + source + " | ppmtopcx -packed > ", netpbm},
        {"ppmtopgm " + source + " | pgmtopbm -threshold | ppmtopcx > ", netpbm},
        {"pnmquant 2 " + source + " | ppmtopcx > ", netpbm},
    };
    int n = 0;
    for (const auto& [write, read] : variants) {
        SCOPED_TRACE(write);
        const std::string file = folder / ("v" + std::to_string(n++) + ".pcx");
        ASSERT_TRUE(RunTool(write + file));
        const std::string readBack = read == netpbm ? netpbm + file : read + file + " -depth 8 ppm:-";
        ASSERT_TRUE(RunTool(readBack + " > " + file + ".ppm"));
        TPCXGraphic graphic;
        graphic.LoadFromFile(file);
        EXPECT_TRUE(ShowsReference(graphic, ReadReferenceMap(ReadFileBytes(file + ".ppm"))));
    }
}

}  // namespace
