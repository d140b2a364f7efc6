#include <gtest/gtest.h>

#include "GraphicFormats.h"
#include "PCXFiles.h"
#include "PixelAccess.h"
#include "ToolFiles.h"

namespace {

using namespace imagefiles;

void Load(TPCXGraphic& graphic, const std::vector<uint8_t>& file) {
    TMemoryStream stream(file.data(), file.size());
    graphic.LoadFromStream(stream);
}

TColor HeaderColor(uint32_t i) { return RGB(uint8_t(i * 16), uint8_t(255 - i * 15), uint8_t(i * 5 + 3)); }
TColor TrailerColor(uint32_t i) { return RGB(uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)); }
TColor Entry(const TLogPalette& palette, uint32_t i) {
    const TPaletteEntry& e = palette.palPalEntry[i];
    return RGB(e.peRed, e.peGreen, e.peBlue);
}

enum PaletteKind { kHeader, kTrailer, kGray, kStandard, kTrueColor };

struct PcxCase {
    const char* name;
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
    PcxImage image;
    image.FileID = c.fileID;
    image.Version = c.version;
    image.RunLength = c.runLength;
    image.BitsPerPixel = c.bits;
    image.Planes = c.planes;
    image.XMin = c.xMin;
    image.XMax = static_cast<uint16_t>(c.xMin + Width - 1);
    image.YMin = 3;
    image.YMax = 3 + Height - 1;
    image.BytesPerLine = static_cast<uint16_t>((Width * c.bits + 15) / 16 * 2);
    image.PaletteType = c.paletteType;
    for (uint32_t i = 0; i < 16; ++i) {
        const TColor color = HeaderColor(i);
        image.ColorMap.insert(image.ColorMap.end(), {GetRValue(color), GetGValue(color), GetBValue(color)});
    }
    const uint32_t colors = c.palette == kTrueColor ? 1 : 1u << (c.planes * c.bits);
    for (uint32_t y = 0; y < Height; ++y)
        for (uint32_t plane = 0; plane < c.planes; ++plane) {
            std::vector<uint8_t> line(image.BytesPerLine);
            for (uint32_t x = 0; x < Width; ++x) {
                if (c.palette == kTrueColor) {
                    line[x] = SampleAt(x, y, plane);
                    continue;
                }
                const uint32_t v = IndexAt(x, y, colors);
                const uint32_t stored = c.planes > 1 ? (v >> plane & 1) : v;
                const uint32_t bit = x * c.bits;
                line[bit / 8] |= static_cast<uint8_t>(stored << (8 - c.bits - bit % 8));
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

class PCXLayouts : public ::testing::TestWithParam<PcxCase> {};

TEST_P(PCXLayouts, LoadEveryPixelWithItsPalette) {
    const PcxCase c = GetParam();
    const auto file = MakePcx(Build(c));
    TMemoryStream probe(file.data(), file.size());
    EXPECT_TRUE(TPCXGraphic::ProbeStream(probe));
    TPCXGraphic graphic;
    Load(graphic, file);
    ASSERT_EQ(graphic.Width(), int(Width));
    ASSERT_EQ(graphic.Height(), int(Height));

    const uint32_t bitsPerPixel = c.planes * c.bits;
    const TPixelFormat format = bitsPerPixel == 32 ? pf32bit
                                : bitsPerPixel == 24 ? pf24bit
                                : bitsPerPixel == 8  ? pf8bit
                                : bitsPerPixel == 1  ? pf1bit
                                                     : pf4bit;
    EXPECT_EQ(graphic.PixelFormat(), format);
    // Two-bit indices are widened to 0, 5, 10 and 15.
    const uint32_t widen = c.planes == 1 && c.bits == 2 ? 5 : 1;
    for (uint32_t y = 0; y < Height; ++y)
        for (uint32_t x = 0; x < Width; ++x) {
            const uint32_t v = c.palette == kTrueColor ? 0 : IndexAt(x, y, 1u << bitsPerPixel);
            TColor expected = 0;
            switch (c.palette) {
                case kHeader: expected = HeaderColor(v); break;
                case kTrailer: expected = TrailerColor(v); break;
                case kGray: {
                    const auto level = static_cast<uint8_t>(v * 255 / ((1u << bitsPerPixel) - 1));
                    expected = RGB(level, level, level);
                    break;
                }
                case kStandard: expected = Entry(DefaultPalette(format), v * widen); break;
                case kTrueColor: expected = RGB(SampleAt(x, y, 0), SampleAt(x, y, 1), SampleAt(x, y, 2)); break;
            }
            ASSERT_EQ(graphic.Pixel(int(x), int(y)), expected) << x << "," << y;
            if (c.palette != kTrueColor) {
                ASSERT_EQ(ReadIndex(graphic.ScanLine(int(y)), int(x), format), v * widen);
            } else if (c.planes == 4) {
                ASSERT_EQ(graphic.ScanLine(int(y))[4 * x + 3], SampleAt(x, y, 3));
            }
        }
}

INSTANTIATE_TEST_SUITE_P(
    AllLayouts, PCXLayouts,
    ::testing::Values(PcxCase{"bilevel", 1, 1, kGray}, PcxCase{"cga", 1, 2, kHeader},
                      PcxCase{"cga version 3", 1, 2, kStandard, 3}, PcxCase{"packed 16", 1, 4, kHeader},
                      PcxCase{"ega planes", 4, 1, kHeader}, PcxCase{"ega planes version 3", 4, 1, kStandard, 3},
                      PcxCase{"eight colours", 3, 1, kHeader}, PcxCase{"four colour planes", 2, 1, kHeader},
                      PcxCase{"raw ega planes", 4, 1, kHeader, 5, false}, PcxCase{"palette", 1, 8, kTrailer},
                      PcxCase{"gray type", 1, 8, kGray, 5, true, 2},
                      PcxCase{"no palette keeps every byte", 1, 8, kStandard, 5, false},
                      PcxCase{"screen capture", 1, 8, kTrailer, 5, true, 1, 205},
                      PcxCase{"offset origin", 1, 8, kTrailer, 5, true, 1, 10, 300},
                      PcxCase{"true colour", 3, 8, kTrueColor}, PcxCase{"raw true colour", 3, 8, kTrueColor, 5, false},
                      PcxCase{"with alpha", 4, 8, kTrueColor}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST(PCXFailures, BrokenAndHostileHeaders) {
    const PcxCase plain{"", 1, 8, kTrailer};
    const auto good = MakePcx(Build(plain));
    const auto patched = [&](std::vector<std::pair<size_t, std::vector<uint8_t>>> changes) {
        auto file = good;
        for (const auto& [at, bytes] : changes)
            std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
        return file;
    };
    auto shortRaw = MakePcx(Build({"", 1, 8, kGray, 5, false}));
    shortRaw.resize(500);
    const std::string invalid = "Cannot load image. Invalid or unexpected PCX or SCR image format.";
    const std::string colorFormat = "Invalid color format in PCX file.";
    const std::pair<std::vector<uint8_t>, std::string> cases[] = {
        {patched({{65, {2}}}), colorFormat},                 // two planes of 8 bits
        {patched({{3, {16}}}), colorFormat},                 // 16 bits in one plane
        {patched({{4, {5, 0}}, {8, {0, 0}}}), invalid},      // X max below X min
        {patched({{8, {0xFF, 0xFF}}}), invalid},             // wider than its lines
        {patched({{8, {0xFF, 0xFF, 0xFF, 0xFF}}}), invalid},  // beyond 2^28 pixels
        {patched({{8, {0xFF, 0x0F, 0xFF, 0x0F}}, {66, {0, 0x10}}}), invalid},  // far more pixels than data
        {patched({{66, {1, 0}}}), invalid},                  // lines too short for the width
        {shortRaw, invalid},                                 // raw lines cut short
    };
    for (const auto& [file, message] : cases) {
        TPCXGraphic graphic;
        try {
            Load(graphic, file);
            ADD_FAILURE() << "no error for " << message;
        } catch (const EInvalidGraphic& error) {
            EXPECT_EQ(error.what(), message);
        }
    }
    // Not a PCX header: nothing is loaded and nothing raised.
    for (const auto& file : {patched({{0, {11}}}), std::vector<uint8_t>(good.begin(), good.begin() + 100)}) {
        TPCXGraphic graphic;
        Load(graphic, file);
        EXPECT_TRUE(graphic.Empty());
    }
}

// The picture written as PCX by ImageMagick and by netpbm in every layout
// they choose loads to the pixels the writing tool reads back.
TEST(PCXCrossCheck, ToolFilesLoadAsTheToolsReadThem) {
    for (const char* tool : {"/usr/bin/convert", "/usr/bin/ppmtopcx", "/usr/bin/pcxtoppm", "/usr/bin/pnmquant"})
        if (!ToolPresent(tool)) GTEST_SKIP() << tool << " is missing";
    ScratchFolder folder;
    WriteFileBytes(folder / "base.ppm", MakePortableMap(ToolPicture(53, 7)));
    const std::string source = folder / "base.ppm";
    const std::string imageMagick = "/usr/bin/convert ", netpbm = "pcxtoppm ";

    const std::pair<std::string, std::string> variants[] = {
        {imageMagick + source + " pcx:", imageMagick + "pcx:"},
        {imageMagick + source + " -type Palette pcx:", imageMagick + "pcx:"},
        {imageMagick + source + " -alpha set -channel A -fx i/w +channel pcx:", imageMagick + "pcx:"},
        {"ppmtopcx -24bit " + source + " > ", netpbm},
        {"pnmquant 200 " + source + " | ppmtopcx -8bit > ", netpbm},
        {"pnmquant 16 " + source + " | ppmtopcx > ", netpbm},
        {"pnmquant 16 " + source + " | ppmtopcx -packed > ", netpbm},
        {"pnmquant 4 " + source + " | ppmtopcx > ", netpbm},
        {"pnmquant 4 " + source + " | ppmtopcx -packed > ", netpbm},
        {"ppmtopgm " + source + " | pgmtopbm -threshold | ppmtopcx > ", netpbm},
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
