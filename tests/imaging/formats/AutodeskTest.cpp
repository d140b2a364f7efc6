#include <gtest/gtest.h>

#include "AutodeskFiles.h"
#include "GraphicFormats.h"
#include "ReaderTests.h"

namespace {

using namespace imagefiles;

TEST(Autodesk, LoadsTheIndicesWithTheirPalette) {
    TAutodeskGraphic graphic;
    Load(graphic, SmallAutodesk());
    EXPECT_EQ(graphic.PixelFormat(), pf8bit);
    const auto& palette = graphic.Palette().palPalEntry;
    ASSERT_EQ(palette.size(), 256u);
    EXPECT_EQ(palette[1], (TPaletteEntry{4, 248, 0, 0}));
    EXPECT_EQ(palette[63], (TPaletteEntry{252, 0, 60, 0})) << "6-bit components are multiplied by 4";
    EXPECT_TRUE(ShowsRows(graphic, {{0, 1, 2}, {3, 4, 63}})) << "rows from the top";
}

TEST(Autodesk, ProbeWantsEightBitsUncompressedLoadingWantsEveryPixel) {
    AutodeskLayout layout;
    layout.Width = 2;
    layout.Height = 1;
    layout.Pixels = {7, 9};
    for (const auto& [bits, compression, probe] : {std::tuple{8, 0, true}, {4, 0, false}, {8, 1, false}}) {
        layout.BitsPerPixel = uint8_t(bits);
        layout.Compression = uint8_t(compression);
        const Bytes file = MakeAutodesk(layout);
        EXPECT_EQ(Probe<TAutodeskGraphic>(file), probe);
        TAutodeskGraphic graphic;
        Load(graphic, file);
        EXPECT_EQ(graphic.ScanLine(0)[1], 9) << "read as 8-bit data";
    }
    EXPECT_FALSE(Probe<TAutodeskGraphic>(Bytes(32, 0))) << "a header without anything after it";

    const auto file = [](uint16_t magic, uint16_t width, uint16_t height, size_t pixels) {
        AutodeskLayout l;
        l.Magic = magic;
        l.Width = width;
        l.Height = height;
        l.Pixels.resize(pixels);
        return MakeAutodesk(l);
    };
    const std::string invalid = "Cannot load image. Invalid or unexpected Autodesk image format.";
    ExpectRefusals<TAutodeskGraphic>({
        {"wrong magic", file(0x9118, 2, 2, 4), invalid},
        {"a pixel short", file(0x9119, 2, 2, 3), invalid},
        {"far more pixels than the file holds", file(0x9119, 65535, 65535, 8), invalid},
        {"no pixels at all", file(0x9119, 0, 5, 0), invalid},
    });
}

}  // namespace
