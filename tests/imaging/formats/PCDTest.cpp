#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "GraphicFormats.h"
#include "PCDFiles.h"
#include "ToolFiles.h"

namespace {

using namespace imagefiles;

uint8_t Luma(uint32_t x, uint32_t y) { return static_cast<uint8_t>(x * 7 + y * 13 + (x * y) % 11); }
// Chroma values at which PhotoYCC carries no colour.
constexpr uint8_t NeutralBlue = 156, NeutralRed = 137;

TEST(PCD, GreyImagesLandTurnedAsTheFileSays) {
    const PcdImage image = MakePcdImage(Luma, [](uint32_t, uint32_t) { return NeutralBlue; },
                                        [](uint32_t, uint32_t) { return NeutralRed; });
    for (int rotation = 0; rotation < 4; ++rotation) {
        SCOPED_TRACE(testing::Message() << "rotation " << rotation);
        TPCDGraphic graphic;
        Load(graphic, MakePcd(image, uint8_t(rotation)));
        EXPECT_EQ(graphic.PixelFormat(), pf24bit);
        // Where the reader puts source pixel (x, y) of the base image.
        const bool turned = rotation == 1 || rotation == 3;
        const int width = turned ? PcdHeight : PcdWidth, height = turned ? PcdWidth : PcdHeight;
        EXPECT_TRUE(ShowsPixels(graphic, width, height, [&](int x, int y) {
            const uint8_t v = rotation == 1 ? Luma(PcdWidth - 1 - y, x) : rotation == 3 ? Luma(y, PcdHeight - 1 - x)
                                                                                          : Luma(x, y);
            return RGB(v, v, v);
        }));
    }
}

// An overview pack of one thumbnail shows it upright, whatever the byte an
// image pack keeps its rotation in says.
TEST(PCD, OverviewPacksShowTheirFirstThumbnail) {
    const Bytes file = MakePcd(MakePcdImage(Luma, [](uint32_t, uint32_t) { return NeutralBlue; },
                                            [](uint32_t, uint32_t) { return NeutralRed; }, 192, 128), 1, true, 1);
    TPCDGraphic graphic;
    Load(graphic, file);
    EXPECT_TRUE(ShowsPixels(graphic, 192, 128, [](int x, int y) { return RGB(Luma(x, y), Luma(x, y), Luma(x, y)); }));
}

TEST(PCD, PropertiesReportTheAskedResolution) {
    const Bytes pack = MakePcd(PcdImage{}, 3), overview = MakePcd(PcdImage{}, 0, true, 0x1234);
    struct Case {
        const Bytes& file;
        int index;
        uint32_t width, height;
        TCompressionKind compression;
    };
    const Case cases[] = {{pack, 0, 128, 192, ckNone},         {pack, 2, 512, 768, ckNone},
                          {pack, 3, 1024, 1536, ckPCDHuffman}, {pack, 9, 4096, 6144, ckPCDHuffman},
                          {overview, 4, 192, 128, ckNone}};
    for (const Case& c : cases) {
        TPCDGraphic graphic;
        TMemoryStream stream(c.file.data(), c.file.size());
        ASSERT_TRUE(graphic.ReadProperties(stream, c.index));
        EXPECT_EQ(graphic.Properties.Width, c.width) << c.index;
        EXPECT_EQ(graphic.Properties.Height, c.height) << c.index;
        EXPECT_EQ(graphic.Properties.Compression, c.compression) << c.index;
        EXPECT_EQ(graphic.Properties.PCDReserved, &c.file == &overview ? 0x1234 : 0);
    }
}

TEST(PCD, ProbeAndHostileFiles) {
    const Bytes pack = SmallPcd(), foreign(pack.size(), 'x');
    EXPECT_TRUE(Probe<TPCDGraphic>(pack));
    EXPECT_TRUE(Probe<TPCDGraphic>(Cut(pack, 6145)));
    EXPECT_FALSE(Probe<TPCDGraphic>(Cut(pack, 6144)));
    EXPECT_FALSE(Probe<TPCDGraphic>(foreign));
    const std::string invalid = "Cannot load image. Invalid or unexpected PCD image format.";
    ExpectRefusals<TPCDGraphic>({
        {"a file of another kind loads nothing", foreign, ""},
        {"a pack without its whole base image", Cut(pack, pack.size() - 1), invalid},
        {"headers only", Cut(pack, 6144), invalid},
        {"no whole header", Cut(pack, 3000), "Stream read error"},
    });
}

// PhotoYCC with the luma weights the reader sets, as the colour manager's
// tables compute it.
TColor PhotoYCC(int y, int blue, int red) {
    const float kr = 0.2125f, kg = 0.7154f, kb = 0.0721f;
    const float cr = 2 - 2 * kr, cb = 2 - 2 * kb, gr = kr * cr / kg, gb = kb * cb / kg;
    const auto clamp = [](long v) { return uint8_t(std::clamp(v, 0L, 255L)); };
    return RGB(clamp(y + std::lround(cr * float(red - NeutralRed))),
               clamp(y - std::lround(gb * float(blue - NeutralBlue)) - std::lround(gr * float(red - NeutralRed))),
               clamp(y + std::lround(cb * float(blue - NeutralBlue))));
}

// ImageMagick writes image packs of a landscape and a portrait picture; we
// show what it reads back from them as PhotoYCC samples.
TEST(PCD, LoadsWhatImageMagickReadsAsYCC) {
    ASSERT_TRUE(ToolsPresent({"/usr/bin/convert"}));
    for (const auto& [width, height] : {std::pair{768, 512}, {300, 500}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        const ScratchFolder folder;
        std::string ppm = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) ppm += {char(x * 255 / width), char((x ^ y) & 0xFF), char(y * 255 / height)};
        WriteFileBytes(folder / "x.ppm", Bytes(ppm.begin(), ppm.end()));
        ASSERT_TRUE(RunTool("/usr/bin/convert " + folder / "x.ppm" + " " + folder / "x.pcd"));
        // "PCDS:" keeps ImageMagick's samples in PhotoYCC: luma, blue and red
        // difference in place of red, green and blue.
        ASSERT_TRUE(RunTool("/usr/bin/convert PCDS:" + folder / "x.pcd" + " ppm:" + folder / "ycc.ppm"));
        const RGBImage ycc = ReadReferenceMap(ReadFileBytes(folder / "ycc.ppm"));
        ASSERT_FALSE(ycc.Pixels.empty());
        EXPECT_EQ(ycc.Width > ycc.Height, width > height);
        TPCDGraphic graphic;
        graphic.LoadFromFile(folder / "x.pcd");
        EXPECT_TRUE(ShowsPixels(
            graphic, ycc.Width, ycc.Height,
            [&](int x, int y) {
                const uint8_t* s = ycc.Pixels.data() + 3 * (size_t(y) * ycc.Width + x);
                return PhotoYCC(s[0], s[1], s[2]);
            },
            1));
    }
}

}  // namespace
