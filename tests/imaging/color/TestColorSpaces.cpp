// CMYK, CIELab, YCbCr and PhotoYCC sources, with values worked out by hand.
#include "ColorTestSupport.h"

namespace {

std::vector<uint8_t> Convert(TColorManager& manager, std::vector<const void*> source, size_t targetBytes,
                             uint32_t count = 1) {
    std::vector<uint8_t> target(targetBytes, 0xEE);
    manager.ConvertRow(source, target.data(), count, 0xFF);
    return target;
}

TEST(ColorManagerCMYK, InkCombinesWithBlack) {
    TColorManager manager = MakeManager({csCMYK, 8, 4}, {csRGB, 8, 3});
    const std::vector<uint8_t> pixels = {128, 0, 255, 128, 0, 0, 0, 0};
    EXPECT_EQ(Convert(manager, {pixels.data()}, 6, 2), (std::vector<uint8_t>{63, 127, 0, 255, 255, 255}));

    manager.SetTargetScheme(csBGRA);
    manager.SetTargetSamplesPerPixel(4);
    EXPECT_EQ(Convert(manager, {pixels.data()}, 4), (std::vector<uint8_t>{0, 127, 63, 0xEE}));

    const std::vector<uint8_t> c = {128}, m = {0}, y = {255}, k = {128};
    EXPECT_EQ(Convert(manager, {c.data(), m.data(), y.data(), k.data()}, 4), (std::vector<uint8_t>{0, 127, 63, 0xEE}));
    // Three planes are not a CMYK row.
    EXPECT_EQ(Convert(manager, {c.data(), m.data(), y.data()}, 4), std::vector<uint8_t>(4, 0xEE));
}

TEST(ColorManagerCMYK, WideSamples) {
    {
        TColorManager manager = MakeManager({csCMYK, 16, 4}, {csRGB, 8, 3});
        const auto pixel = Words({32768, 0, 65535, 32768});
        EXPECT_EQ(Convert(manager, {pixel.data()}, 3), (std::vector<uint8_t>{64, 128, 0}));
        const auto fullInk = Words({65535, 65535, 0, 65535});
        EXPECT_EQ(Convert(manager, {fullInk.data()}, 3), (std::vector<uint8_t>{0, 0, 0}));
        manager.SourceMode = cvByteSwap;
        const auto swapped = Words({Swapped(32768), 0, 65535, Swapped(32768)});
        EXPECT_EQ(Convert(manager, {swapped.data()}, 3), (std::vector<uint8_t>{64, 128, 0}));
    }
    {
        TColorManager manager = MakeManager({csCMYK, 16, 4}, {csRGB, 16, 3});
        const auto pixel = Words({0, 65535, 32768, 0});
        EXPECT_EQ(AsWords(Convert(manager, {pixel.data()}, 6)), (std::vector<uint16_t>{65535, 0, 32767}));
    }
    {
        TColorManager manager = MakeManager({csCMYK, 8, 4}, {csRGB, 16, 3});
        const std::vector<uint8_t> pixel = {0, 255, 128, 0};
        EXPECT_EQ(AsWords(Convert(manager, {pixel.data()}, 6)), (std::vector<uint16_t>{65535, 0, 127 * 257}));
    }
}

TEST(ColorManagerLab, StoredRangesAndBothLightnessBranches) {
    struct Case {
        const char* Name;
        TConversionOptions Mode;
        std::vector<uint8_t> Pixel;
        std::vector<uint8_t> RGB;
    };
    for (const Case& c : {
             Case{"white", cvLabByteRange | cvLabChromaOffset, {255, 128, 128}, {255, 255, 255}},
             Case{"black", cvLabByteRange | cvLabChromaOffset, {0, 128, 128}, {0, 0, 0}},
             Case{"signed chroma", {}, {50, 20, uint8_t(-20)}, {140, 107, 153}},
             Case{"offset chroma", cvLabChromaOffset, {50, 148, 108}, {140, 107, 153}},
             Case{"dark branch", {}, {5, 0, 0}, {17, 17, 17}},
             Case{"out of gamut", {}, {30, uint8_t(-100), 50}, {0, 94, 0}},
         }) {
        TColorManager manager = MakeManager({csCIELab, 8, 3}, {csRGB, 8, 3});
        manager.SourceMode = c.Mode;
        EXPECT_EQ(Convert(manager, {c.Pixel.data()}, 3), c.RGB) << c.Name;
    }
}

TEST(ColorManagerLab, WideSamplesAndTargets) {
    TColorManager manager = MakeManager({csCIELab, 16, 3}, {csBGR, 8, 3});
    const auto signedChroma = Words({50 * 257, 20 * 256, uint16_t(-20 * 256)});
    EXPECT_EQ(Convert(manager, {signedChroma.data()}, 3), (std::vector<uint8_t>{153, 107, 140}));
    manager.SourceMode = cvLabChromaOffset;
    const auto offsetChroma = Words({50 * 257, 148 * 257, 108 * 257});
    EXPECT_EQ(Convert(manager, {offsetChroma.data()}, 3), (std::vector<uint8_t>{153, 107, 140}));

    TColorManager wide = MakeManager({csCIELab, 8, 3}, {csRGB, 16, 3});
    const std::vector<uint8_t> L = {50}, a = {20}, b = {uint8_t(-20)};
    EXPECT_EQ(AsWords(Convert(wide, {L.data(), a.data(), b.data()}, 6)),
              (std::vector<uint16_t>{140 * 257, 107 * 257, 153 * 257}));
}

// Pixels of more samples than the space's step by all of them; the first
// extra one is carried as alpha into a target that has alpha.
TEST(ColorManagerLab, ExtraSamplesStepAndCarryAlpha) {
    TColorManager manager = MakeManager({csCIELab, 8, 4}, {csBGRA, 8, 4});
    const std::vector<uint8_t> pixels = {255, 128, 128, 77, 0, 128, 128, 200};
    manager.SourceMode = cvLabByteRange | cvLabChromaOffset;
    EXPECT_EQ(Convert(manager, {pixels.data()}, 8, 2), (std::vector<uint8_t>{255, 255, 255, 77, 0, 0, 0, 200}));
    manager.SetTargetScheme(csBGR);
    manager.SetTargetSamplesPerPixel(3);
    EXPECT_EQ(Convert(manager, {pixels.data()}, 6, 2), (std::vector<uint8_t>{255, 255, 255, 0, 0, 0}));
}

TEST(ColorManagerYCbCr, TablesFromLumaWeights) {
    TColorManager manager = MakeManager({csYCbCr, 8, 3}, {csRGB, 8, 3});
    const std::vector<uint8_t> pixel = {0, 128, 128};
    Convert(manager, {pixel.data()}, 3);
    ASSERT_EQ(manager.CrToRed().size(), 256u);
    EXPECT_EQ(manager.CrToRed()[228], 140);
    EXPECT_EQ(manager.CbToBlue()[28], -177);
    EXPECT_EQ(manager.CrToGreen()[228], -71);
    EXPECT_EQ(manager.CbToGreen()[28], 34);
    EXPECT_EQ(manager.CbToGreen()[128], 0);

    manager.SetSourceScheme(csPhotoYCC);
    Convert(manager, {pixel.data()}, 3);
    EXPECT_EQ(manager.CrToRed()[137], 0);
    EXPECT_EQ(manager.CbToBlue()[156], 0);
}

TEST(ColorManagerYCbCr, EightBitPixels) {
    TColorManager manager = MakeManager({csYCbCr, 8, 3}, {csBGR, 8, 3});
    const std::vector<uint8_t> pixels = {128, 128, 128, 100, 128, 228, 100, 28, 128};
    EXPECT_EQ(Convert(manager, {pixels.data()}, 9, 3),
              (std::vector<uint8_t>{128, 128, 128, 100, 29, 240, 0, 134, 100}));

    const std::vector<uint8_t> y = {100}, cb = {128}, cr = {228};
    EXPECT_EQ(Convert(manager, {y.data(), cb.data(), cr.data()}, 3), (std::vector<uint8_t>{100, 29, 240}));

    manager.SetTargetBitsPerSample(16);
    EXPECT_EQ(AsWords(Convert(manager, {y.data(), cb.data(), cr.data()}, 6)),
              (std::vector<uint16_t>{100 * 257, 29 * 257, 240 * 257}));

    TColorManager wide = MakeManager({csYCbCr, 16, 3}, {csRGB, 8, 3});
    wide.SourceMode = cvByteSwap;
    const auto swapped = Words({Swapped(100 * 257), Swapped(128 * 257), Swapped(228 * 257)});
    EXPECT_EQ(Convert(wide, {swapped.data()}, 3), (std::vector<uint8_t>{240, 29, 100}));
}

TEST(ColorManagerYCbCr, PhotoYCCWithItsOwnWeights) {
    TColorManager manager = MakeManager({csPhotoYCC, 8, 3}, {csRGB, 8, 3});
    manager.SetYCbCrParameters({0.2125f, 0.7154f, 0.0721f}, 2, 2);
    const std::vector<uint8_t> pixel = {100, 100, 200};
    EXPECT_EQ(Convert(manager, {pixel.data()}, 3), (std::vector<uint8_t>{199, 81, 0}));
}

TEST(ColorManagerYCbCr, WideToWideUsesTheFloatingFormula) {
    TColorManager manager = MakeManager({csYCbCr, 16, 3}, {csRGB, 16, 3});
    const auto pixels = Words({10000, 50000, 30000, 65535, 40092, 35209, 0, 0, 35209});
    EXPECT_EQ(AsWords(Convert(manager, {pixels.data()}, 18, 3)),
              (std::vector<uint16_t>{4096, 14150, 35559, 65535, 65535, 65535, 0, 17250, 0}));
}

TEST(ColorManagerYCbCr, DegenerateWeightsStayFinite) {
    TColorManager manager = MakeManager({csYCbCr, 8, 3}, {csRGB, 8, 3});
    manager.SetYCbCrParameters({0.3f, 0.0f, 0.1f}, 1, 1);
    const std::vector<uint8_t> pixel = {100, 128, 255};
    const auto rgb = Convert(manager, {pixel.data()}, 3);
    EXPECT_EQ(rgb[1], 0);  // an infinite green weight drives green to the bottom
}

}  // namespace
