#include <gtest/gtest.h>

#include <cmath>

#include "GraphicFormats.h"
#include "RLAFiles.h"
#include "ReaderTests.h"

namespace {

using namespace imagefiles;

// A layout of width x height whose channels hold distinct values of the
// given depths, with runs and literals.
RlaLayout Layout(int16_t width, int16_t height, int colorBits, int matteBits, bool matte, bool bottomUp) {
    RlaLayout layout;
    layout.ActiveLeft = 10;
    layout.ActiveRight = static_cast<int16_t>(10 + width - 1);
    layout.ActiveBottom = bottomUp ? 0 : static_cast<int16_t>(height - 1);
    layout.ActiveTop = bottomUp ? static_cast<int16_t>(height - 1) : 0;
    layout.ColorBits = static_cast<int16_t>(colorBits);
    layout.MatteBits = static_cast<int16_t>(matteBits);
    layout.MatteChannels = matte ? 1 : 0;
    for (int c = 0; c < (matte ? 4 : 3); ++c) {
        const uint32_t largest = (1u << (c < 3 ? colorBits : matteBits)) - 1;
        std::vector<uint16_t>& samples = layout.Channels.emplace_back(size_t(width) * height);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<uint16_t>((i % 9 < 4 ? 77 * (c + 1) : i * 2654435761u >> (c * 3)) & largest);
    }
    return layout;
}

TEST(RLA, ChannelsLandInTheirRowsScaledToEightBits) {
    struct Case {
        int colorBits, matteBits;
        bool matte, bottomUp;
    };
    const Case cases[] = {{8, 8, false, true},  {8, 8, true, false},  {16, 16, true, true},
                          {10, 10, false, false}, {12, 8, true, true}, {8, 16, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.colorBits << "-bit colour, " << c.matteBits << "-bit matte " << c.matte
                                        << ", bottom up " << c.bottomUp);
        const int16_t width = 150, height = 4;
        const RlaLayout layout = Layout(width, height, c.colorBits, c.matteBits, c.matte, c.bottomUp);
        TRLAGraphic graphic;
        Load(graphic, MakeRla(layout));
        ASSERT_EQ(graphic.Width(), width);
        ASSERT_EQ(graphic.Height(), height);
        EXPECT_EQ(graphic.PixelFormat(), c.matte ? pf32bit : pf24bit);
        EXPECT_EQ(graphic.Properties.HasAlpha, c.matte);
        EXPECT_EQ(graphic.Properties.Flags & ifGammaCorrected, 0);
        const int bytes = c.matte ? 4 : 3;
        for (int row = 0; row < height; ++row) {
            const uint8_t* line = graphic.ScanLine(c.bottomUp ? height - 1 - row : row);
            for (int x = 0; x < width; ++x)
                for (int k = 0; k < bytes; ++k) {
                    const int channel = k < 3 ? 2 - k : 3;  // stored blue, green, red, alpha
                    const int bits = channel < 3 ? c.colorBits : c.matteBits;
                    const int expected = int(layout.Channels[channel][size_t(row) * width + x] * 255 / ((1u << bits) - 1));
                    ASSERT_NEAR(line[bytes * x + k], expected, 1) << "row " << row << " x " << x << " channel " << channel;
                }
        }
    }
}

// A gamma field of 2.2 (what 3ds Max writes) shows the stored values; only a
// field below 1 is corrected for the display, with the file gamma and the
// display gamma together shaping the curve.
TEST(RLA, GammaTextDecidesTheCorrection) {
    struct Case {
        const char* text;
        float gamma;
        bool corrected;
    };
    for (const Case c : {Case{"2.2", 2.2f, false}, Case{" 2.2 ", 2.2f, false}, Case{"1.0", 1.0f, false},
                         Case{"", 1.0f, false}, Case{"bright", 1.0f, false}, Case{"0.8", 0.8f, true},
                         Case{"0.4545", 0.4545f, true}}) {
        SCOPED_TRACE(c.text);
        RlaLayout layout = Layout(6, 2, 8, 8, false, true);
        layout.Gamma = c.text;
        TRLAGraphic graphic;
        Load(graphic, MakeRla(layout));
        EXPECT_FLOAT_EQ(graphic.Properties.Gamma, c.gamma);
        EXPECT_EQ((graphic.Properties.Flags & ifGammaCorrected) != 0, c.corrected);
        const int stored = layout.Channels[0][0];
        const double shown = c.corrected ? 255 * std::pow(stored / 255.0, 1 / (c.gamma * 2.2)) : stored;
        EXPECT_NEAR(graphic.ScanLine(1)[2], shown, 1);
    }
}

TEST(RLA, ProbeChannelSpacesAndHostileHeaders) {
    const Bytes good = SmallRla(), xyz = Patched(good, 580, {'x', 'y', 'z'});
    EXPECT_TRUE(Probe<TRLAGraphic>(good));
    EXPECT_FALSE(Probe<TRLAGraphic>(Cut(good, 740)));
    EXPECT_FALSE(Probe<TRLAGraphic>(Patched(good, 27, {0})));
    EXPECT_TRUE(Probe<TRLAGraphic>(Patched(good, 26, {0xFF, 0xFD}))) << "3ds Max's revision";
    EXPECT_TRUE(Probe<TRLAGraphic>(xyz));
    EXPECT_FALSE(Probe<TRLAGraphic>(Patched(good, 580, {'c', 'm', 'y'})));
    const std::string invalid = "Cannot load image. Invalid or unexpected RLA image format.";
    ExpectRefusals<TRLAGraphic>({
        {"xyz files load nothing", xyz, ""},
        {"other channel spaces", Patched(good, 580, {'c', 'm', 'y'}), invalid},
        {"the first row's offset lies past the end", Patched(good, 740, {0x00, 0x10, 0x00, 0x00}), invalid},
        {"far wider than the file holds", Patched(good, 10, {0x7F, 0xFF}), invalid},
        {"the active window's right left of its left", Patched(good, 10, {0xFF, 0x00}), invalid},
        {"one colour channel", Patched(good, 20, {0x00, 0x01}), invalid},
        {"two mattes", Patched(good, 22, {0x00, 0x02}), invalid},
        {"32-bit samples", Patched(good, 658, {0x00, 0x20}), invalid},
        {"a 17-bit matte", Patched(good, 662, {0x00, 0x11}), invalid},
        {"a record cut short", Cut(good, good.size() - 3), "Stream read error"},
    });
}

}  // namespace
