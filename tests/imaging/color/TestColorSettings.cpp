// Settings, converter selection, gamma, pixel formats and palettes.
#include <string>

#include "ColorTestSupport.h"

namespace {

// The message of the EColorConversionError that action raises, or "".
template <class Action>
std::string ErrorOf(Action action) {
    try {
        action();
    } catch (const EColorConversionError& error) {
        return error.what();
    }
    return "";
}

std::string ConversionError(TColorManager& manager) {
    uint8_t source[16] = {}, target[16] = {};
    return ErrorOf([&] { manager.ConvertRow({source}, target, 1, 0xFF); });
}

TEST(ColorManagerSettings, RejectedValuesRaiseAndKeepTheOldValue) {
    const std::string depth = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
    const std::string samples = "Sample count per pixel does not correspond to the given color scheme.";
    TColorManager manager;
    for (uint8_t value : {0, 17, 255}) {
        EXPECT_EQ(ErrorOf([&] { manager.SetSourceBitsPerSample(value); }), depth);
        EXPECT_EQ(ErrorOf([&] { manager.SetTargetBitsPerSample(value); }), depth);
    }
    for (uint8_t value : {0, 5}) {
        EXPECT_EQ(ErrorOf([&] { manager.SetSourceSamplesPerPixel(value); }), samples);
        EXPECT_EQ(ErrorOf([&] { manager.SetTargetSamplesPerPixel(value); }), samples);
    }
    EXPECT_EQ(manager.SourceBitsPerSample(), 8);
    EXPECT_EQ(manager.TargetBitsPerSample(), 8);
    EXPECT_EQ(manager.SourceSamplesPerPixel(), 3);
    EXPECT_EQ(manager.TargetSamplesPerPixel(), 3);
    // Every depth from 1 to 16 is accepted.
    manager.SetSourceBitsPerSample(12);
    EXPECT_EQ(manager.SourceBitsPerSample(), 12);
}

TEST(ColorManagerSettings, OnlyAChangedValueAsksForANewSelection) {
    TColorManager manager;
    uint8_t source[3] = {1, 2, 3}, target[3] = {};
    manager.ConvertRow({source}, target, 1, 0xFF);
    EXPECT_FALSE(manager.NeedsSelection());
    manager.SetSourceBitsPerSample(8);
    manager.SetSourceScheme(csRGB);
    manager.SetTargetSamplesPerPixel(3);
    EXPECT_FALSE(manager.NeedsSelection());
    manager.SetTargetScheme(csRGB);
    EXPECT_TRUE(manager.NeedsSelection());
    manager.ConvertRow({source}, target, 1, 0xFF);
    EXPECT_EQ(target[0], 1);  // re-selected: now red stays first
}

TEST(ColorManagerSettings, YCbCrParametersCheckSubsamplingAfterStoringWeights) {
    TColorManager manager;
    manager.SetYCbCrParameters({0.2125f, 0.7154f, 0.0721f}, 2, 2);
    EXPECT_FLOAT_EQ(manager.LumaWeights()[1], 0.7154f);
    EXPECT_EQ(manager.HorizontalSubSampling(), 2);
    EXPECT_EQ(manager.VerticalSubSampling(), 2);

    struct Case {
        uint8_t Horizontal, Vertical;
        const char* Message;
    };
    for (const Case& c : {Case{3, 1, "Subsampling value is invalid. Allowed are 1, 2 and 4."},
                          Case{4, 0, "Subsampling value is invalid. Allowed are 1, 2 and 4."},
                          Case{1, 2, "Vertical subsampling value must be <= horizontal subsampling value."}})
        EXPECT_EQ(ErrorOf([&] { manager.SetYCbCrParameters({0.5f}, c.Horizontal, c.Vertical); }), c.Message);
    // The weight given first was kept, the missing ones and the old
    // subsampling survived.
    EXPECT_FLOAT_EQ(manager.LumaWeights()[0], 0.5f);
    EXPECT_FLOAT_EQ(manager.LumaWeights()[2], 0.0721f);
    EXPECT_EQ(manager.HorizontalSubSampling(), 2);
    EXPECT_EQ(manager.VerticalSubSampling(), 2);
}

TEST(ColorManagerSelection, PairingsWithoutAConverterRaise) {
    const char* mixed = "Conversion between indexed and non-indexed pixel formats is not supported.";
    const char* none = "Color conversion failed. Could not find a proper method.";
    struct Case {
        TLayout Source, Target;
        const char* Message;
    };
    for (const Case& c : {
             Case{{csGrayAlpha, 8, 2}, {csRGB, 8, 3}, mixed},
             Case{{csGray, 8, 1}, {csGrayAlpha, 8, 2}, mixed},
             Case{{csRGB, 8, 3}, {csIndexed, 8, 1}, mixed},
             Case{{csCMY, 8, 3}, {csBGR, 8, 3}, none},
             Case{{csUnknown, 8, 3}, {csBGR, 8, 3}, none},
             Case{{csRGB, 8, 3}, {csCMYK, 8, 4}, none},
             Case{{csGray, 16, 1}, {csGray, 4, 1}, none},
             Case{{csGrayAlpha, 4, 1}, {csGray, 8, 1}, none},
             Case{{csYCbCr, 8, 3}, {csCIELab, 8, 3}, none},
         }) {
        TColorManager manager = MakeManager(c.Source, c.Target);
        EXPECT_EQ(ConversionError(manager), c.Message) << int(c.Source.Scheme) << " -> " << int(c.Target.Scheme);
        // The failure stays until the settings change.
        EXPECT_EQ(ConversionError(manager), c.Message);
    }
}

TEST(ColorManagerSelection, AlphaFlagsFollowTheSchemes) {
    TColorManager manager = MakeManager({csRGBA, 8, 4}, {csBGR, 8, 3});
    manager.TargetMode = cvAlpha | cvApplyGamma;
    uint8_t source[4] = {}, target[3] = {};
    manager.ConvertRow({source}, target, 1, 0xFF);
    EXPECT_EQ(manager.SourceMode, cvAlpha);
    EXPECT_EQ(manager.TargetMode, cvApplyGamma);
}

TEST(ColorManagerGamma, DefaultTableIsTheInverseDisplayCurve) {
    TColorManager manager;
    const auto& table = manager.GammaTable();
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1], 21);
    EXPECT_EQ(table[128], 186);
    EXPECT_EQ(table[255], 255);
    for (int i = 1; i < 256; ++i) EXPECT_GE(table[i], table[i - 1]);
}

TEST(ColorManagerGamma, FileGammaThatCancelsTheDisplayGivesIdentity) {
    TColorManager manager;
    manager.SetGamma(45455 / 100000.0f, 2.2f);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(manager.GammaTable()[i], i);
    EXPECT_EQ(manager.GammaLookup8(77), 77);
}

TEST(ColorManagerGamma, NonPositiveValuesFallBackToDefaults) {
    TColorManager manager;
    manager.SetGamma(0.0f, -1.0f);
    EXPECT_FLOAT_EQ(manager.SourceGamma(), 1.0f);
    EXPECT_FLOAT_EQ(manager.ScreenGamma(), 2.2f);
    EXPECT_EQ(manager.GammaTable()[128], 186);
}

TEST(ColorManagerGamma, NarrowSourceWithWideTargetStaysInsideTheTable) {
    TColorManager manager;
    manager.SetSourceBitsPerSample(4);
    manager.SetTargetBitsPerSample(16);
    manager.SetGamma(1.0f, 1.0f);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(manager.GammaTable()[i], i);
    // A narrow target scales the curve to its own maximum.
    manager.SetTargetBitsPerSample(4);
    manager.SetGamma(1.0f, 1.0f);
    EXPECT_EQ(manager.GammaTable()[15], 15);
    EXPECT_EQ(manager.GammaTable()[7], 7);
}

TEST(ColorManagerHelpers, ComponentFunctions) {
    EXPECT_EQ(TColorManager::Scale16To8(65535), 255);
    EXPECT_EQ(TColorManager::Scale16To8(257), 1);
    EXPECT_EQ(TColorManager::Scale16To8(256), 0);
    EXPECT_EQ(TColorManager::Scale16To8(0), 0);
    EXPECT_EQ(TColorManager::Swap16(0x1234), 0x3412);
    EXPECT_EQ(TColorManager::Swap16Scale8(0x0101), 1);
    EXPECT_EQ(TColorManager::Swap16Scale8(0xFF00), 0);
    EXPECT_EQ(TColorManager::Swap16Scale8(0x00FF), 254);
    EXPECT_EQ(TColorManager::Swap16Scale8(0xFFFF), 255);
    TColorManager manager;
    EXPECT_EQ(manager.Scale16To8Gamma(128 * 257), 186);
    EXPECT_EQ(manager.Swap16Scale8Gamma(Swapped(128 * 257)), 186);
}

TEST(ColorManagerPixelFormat, FollowsSamplesAndBits) {
    struct Case {
        uint8_t Samples, Bits;
        TPixelFormat Format;
    };
    for (const Case& c :
         {Case{1, 1, pf1bit}, Case{1, 2, pf4bit}, Case{1, 4, pf4bit}, Case{1, 5, pfCustom}, Case{1, 8, pf8bit},
          Case{1, 16, pf8bit}, Case{2, 8, pfCustom}, Case{3, 5, pf15bit}, Case{3, 1, pf15bit}, Case{3, 8, pf24bit},
          Case{3, 16, pf24bit}, Case{4, 8, pf32bit}, Case{4, 16, pf32bit}, Case{4, 4, pfCustom}}) {
        TColorManager manager;
        manager.SetTargetSamplesPerPixel(c.Samples);
        manager.SetTargetBitsPerSample(c.Bits);
        EXPECT_EQ(manager.GetPixelFormat(1), c.Format) << int(c.Samples) << " x " << int(c.Bits);
        EXPECT_EQ(manager.GetPixelFormat(0), pf24bit);  // the source is still 3 x 8
    }
}

std::vector<uint8_t> Reds(const TLogPalette& palette) {
    std::vector<uint8_t> reds;
    for (const auto& entry : palette.palPalEntry) {
        EXPECT_EQ(entry.peRed, entry.peGreen);
        EXPECT_EQ(entry.peRed, entry.peBlue);
        reds.push_back(entry.peRed);
    }
    return reds;
}

TEST(ColorManagerPalette, GrayRamps) {
    TColorManager manager;
    manager.SetTargetSamplesPerPixel(1);
    manager.SetTargetBitsPerSample(1);
    EXPECT_EQ(Reds(manager.CreateGrayscalePalette(false)), (std::vector<uint8_t>{0, 255}));
    EXPECT_EQ(Reds(manager.CreateGrayscalePalette(true)), (std::vector<uint8_t>{255, 0}));
    EXPECT_EQ(manager.CreateGrayscalePalette(false).palVersion, 0x300);

    manager.SetTargetBitsPerSample(2);
    EXPECT_EQ(Reds(manager.CreateGrayscalePalette(true)), (std::vector<uint8_t>{255, 170, 85, 0}));

    manager.SetTargetBitsPerSample(4);
    const auto ramp = Reds(manager.CreateGrayscalePalette(false));
    ASSERT_EQ(ramp.size(), 16u);
    EXPECT_EQ(ramp[1], 17);
    EXPECT_EQ(ramp[15], 255);

    manager.SetTargetBitsPerSample(8);
    manager.TargetMode = cvApplyGamma;
    const auto curved = Reds(manager.CreateGrayscalePalette(true));
    ASSERT_EQ(curved.size(), 256u);
    EXPECT_EQ(curved[255 - 128], 186);
    EXPECT_EQ(curved[254], 21);

    // More than eight bits of target still give at most 256 entries.
    manager.SetTargetSamplesPerPixel(3);
    EXPECT_EQ(manager.CreateGrayscalePalette(false).palPalEntry.size(), 256u);
}

TEST(ColorManagerPalette, EveryLayoutGivesTheSameColours) {
    // Two colours, (10, 20, 30) and (200, 100, 0), in each layout.
    const std::vector<uint8_t> triples = {10, 20, 30, 200, 100, 0};
    const std::vector<uint8_t> quads = {10, 20, 30, 99, 200, 100, 0, 99};
    const std::vector<uint8_t> red = {10, 200}, green = {20, 100}, blue = {30, 0};
    const auto wideTriples = Words({10 * 257, 20 * 257, 30 * 257, 200 * 257, 100 * 257, 0});
    const auto wideQuads = Words({10 * 257, 20 * 257, 30 * 257, 1, 200 * 257, 100 * 257, 0, 1});
    const auto wideRed = Words({10 * 257, 200 * 257}), wideGreen = Words({20 * 257, 100 * 257}),
               wideBlue = Words({30 * 257, 0});
    struct Case {
        TPaletteLayout Layout;
        std::vector<const void*> Data;
    };
    const std::vector<Case> cases = {
        {0, {triples.data()}},
        {1, {quads.data()}},
        {2, {red.data(), green.data(), blue.data()}},
        {3, {red.data(), green.data(), blue.data()}},
        {4, {wideTriples.data()}},
        {5, {wideQuads.data()}},
        {6, {wideRed.data(), wideGreen.data(), wideBlue.data()}},
        {7, {wideRed.data(), wideGreen.data(), wideBlue.data()}},
    };
    TColorManager manager;
    const std::vector<TPaletteEntry> expected = {{10, 20, 30, 0}, {200, 100, 0, 0}};
    for (const Case& c : cases) {
        const TLogPalette palette = manager.CreateColorPalette(c.Data, c.Layout, 2, false);
        EXPECT_EQ(palette.palVersion, 0x300);
        EXPECT_EQ(palette.palPalEntry, expected) << "layout " << int(c.Layout);
        // Blue-first order swaps interleaved entries only.
        const TLogPalette reversed = manager.CreateColorPalette(c.Data, c.Layout, 2, true);
        const bool planar = c.Data.size() == 3;
        EXPECT_EQ(reversed.palPalEntry[0].peRed, planar ? 10 : 30) << "layout " << int(c.Layout);
        EXPECT_EQ(reversed.palPalEntry[0].peBlue, planar ? 30 : 10) << "layout " << int(c.Layout);
    }
}

TEST(ColorManagerPalette, WideEntriesHonourByteOrderAndGamma) {
    TColorManager manager;
    manager.SourceMode = cvByteSwap;
    manager.TargetMode = cvApplyGamma;
    const auto entry = Words({Swapped(128 * 257), Swapped(65535), 0});
    const TLogPalette palette = manager.CreateColorPalette({entry.data()}, 4, 1, false);
    EXPECT_EQ(palette.palPalEntry[0], (TPaletteEntry{186, 255, 0, 0}));
}

TEST(ColorManagerPalette, CountsAndUnusableDataGiveBlackOrShortPalettes) {
    TColorManager manager;
    const std::vector<uint8_t> big(300 * 3, 7);
    EXPECT_EQ(manager.CreateColorPalette({big.data()}, 0, 300, false).palPalEntry.size(), 256u);
    EXPECT_TRUE(manager.CreateColorPalette({big.data()}, 0, 0, false).palPalEntry.empty());
    const std::vector<TPaletteEntry> black(4);
    EXPECT_EQ(manager.CreateColorPalette({big.data()}, 8, 4, false).palPalEntry, black);
    // A planar layout with a single plane has nothing to read green from.
    EXPECT_EQ(manager.CreateColorPalette({big.data()}, 2, 4, false).palPalEntry, black);
}

}  // namespace
