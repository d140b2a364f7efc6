#include <gtest/gtest.h>

#include <cmath>

#include "GraphicFormats.h"
#include "RLAFiles.h"

namespace {

using imagefiles::MakeRla;
using imagefiles::Bytes;
using imagefiles::RlaLayout;

void Load(TRLAGraphic& graphic, const Bytes& file) {
    TMemoryStream stream(file.data(), file.size());
    graphic.LoadFromStream(stream);
}

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
        std::vector<uint16_t> samples(size_t(width) * height);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<uint16_t>((i % 9 < 4 ? 77 * (c + 1) : i * 2654435761u >> (c * 3)) & largest);
        layout.Channels.push_back(samples);
    }
    return layout;
}

int To8Bits(uint32_t value, int bits) { return int(value * 255 / ((1u << bits) - 1)); }

struct PixelCase {
    const char* name;
    int colorBits, matteBits;
    bool matte, bottomUp;
};

class RLAPixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(RLAPixels, ChannelsLandInTheirRowsScaledToEightBits) {
    const PixelCase c = GetParam();
    const int16_t width = 150, height = 4;
    const RlaLayout layout = Layout(width, height, c.colorBits, c.matteBits, c.matte, c.bottomUp);
    TRLAGraphic graphic;
    Load(graphic, MakeRla(layout));
    ASSERT_EQ(graphic.Width(), width);
    ASSERT_EQ(graphic.Height(), height);
    EXPECT_EQ(graphic.PixelFormat(), c.matte ? pf32bit : pf24bit);
    EXPECT_EQ(graphic.Properties.ColorScheme, c.matte ? csRGBA : csRGB);
    EXPECT_EQ(graphic.Properties.HasAlpha, c.matte);
    EXPECT_EQ(graphic.Properties.BitsPerSample, c.colorBits);
    EXPECT_EQ(graphic.Properties.RLABottomUp, c.bottomUp ? 1 : 0);
    EXPECT_EQ(graphic.Properties.Flags & ifGammaCorrected, 0);
    const int bytes = c.matte ? 4 : 3;
    int wrong = 0;
    for (int row = 0; row < height; ++row) {
        const uint8_t* line = graphic.ScanLine(c.bottomUp ? height - 1 - row : row);
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < bytes; ++k) {
                const int channel = k < 3 ? 2 - k : 3;  // stored blue, green, red, alpha
                const int bits = channel < 3 ? c.colorBits : c.matteBits;
                const int expected = To8Bits(layout.Channels[channel][size_t(row) * width + x], bits);
                if (std::abs(line[bytes * x + k] - expected) > 1 && ++wrong < 5)
                    ADD_FAILURE() << "row " << row << " x " << x << " channel " << channel;
            }
    }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(
    All, RLAPixels,
    ::testing::Values(PixelCase{"rgb", 8, 8, false, true}, PixelCase{"matte", 8, 8, true, false},
                      PixelCase{"sixteen", 16, 16, true, true}, PixelCase{"ten", 10, 10, false, false},
                      PixelCase{"wide colour, byte matte", 12, 8, true, true},
                      PixelCase{"byte colour, wide matte", 8, 16, true, false}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::erase_if(name, [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); });
        return name;
    });

TEST(RLA, GammaTextDecidesTheCorrection) {
    struct Case {
        const char* text;
        float gamma;
        bool corrected;
    };
    for (const Case c : {Case{"2.2", 2.2f, true}, Case{" 2.2 ", 2.2f, true}, Case{"1.0", 1.0f, false},
                         Case{"", 1.0f, false}, Case{"bright", 1.0f, false}}) {
        SCOPED_TRACE(c.text);
        RlaLayout layout = Layout(6, 2, 8, 8, false, true);
        layout.Gamma = c.text;
        TRLAGraphic graphic;
        Load(graphic, MakeRla(layout));
        EXPECT_FLOAT_EQ(graphic.Properties.Gamma, c.gamma);
        EXPECT_EQ((graphic.Properties.Flags & ifGammaCorrected) != 0, c.corrected);
        const int stored = layout.Channels[0][0];
        // The file gamma and the display gamma together shape the curve.
        const int expected = c.corrected ? int(std::lround(255 * std::pow(stored / 255.0, 1 / (2.2 * 2.2)))) : stored;
        EXPECT_NEAR(graphic.ScanLine(1)[2], expected, 1);
    }
}

TEST(RLA, ProbeAndChannelSpaces) {
    const Bytes good = imagefiles::SmallRla();
    const auto probe = [](const Bytes& file) {
        TMemoryStream stream(file.data(), file.size());
        const bool answer = TRLAGraphic::ProbeStream(stream);
        EXPECT_EQ(stream.Position(), 0);
        return answer;
    };
    EXPECT_TRUE(probe(good));
    EXPECT_FALSE(probe(Bytes(good.begin(), good.begin() + 740)));
    Bytes oldRevision = good;
    oldRevision[27] = 0;
    EXPECT_FALSE(probe(oldRevision));
    Bytes xyz = good;
    std::memcpy(xyz.data() + 580, "XYZ", 3);
    EXPECT_TRUE(probe(xyz));
    Bytes other = good;
    std::memcpy(other.data() + 580, "cmy", 3);
    EXPECT_FALSE(probe(other));

    TRLAGraphic graphic;
    Load(graphic, good);
    Load(graphic, xyz);
    EXPECT_TRUE(graphic.Empty()) << "xyz files leave the picture empty";
    EXPECT_THROW(Load(graphic, other), EInvalidGraphic);
}

TEST(RLA, HostileHeadersRaiseTheInvalidFormatMessage) {
    const Bytes good = imagefiles::SmallRla();
    const auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes file = good;
        for (uint8_t b : bytes) file.at(at++) = b;
        return file;
    };
    const Bytes cases[] = {
        patched(740, {0x00, 0x10, 0x00, 0x00}),  // the first row's offset lies past the end
        patched(10, {0x7F, 0xFF}),               // far wider than the file holds
        patched(10, {0xFF, 0x00}),               // right of the active window left of its left
        patched(20, {0x00, 0x01}),               // one colour channel
        patched(22, {0x00, 0x02}),               // two mattes
        patched(658, {0x00, 0x20}),              // 32-bit samples
        patched(662, {0x00, 0x11}),              // a 17-bit matte
    };
    for (const Bytes& file : cases) {
        TRLAGraphic graphic;
        try {
            Load(graphic, file);
            ADD_FAILURE() << "loaded " << graphic.Width() << " x " << graphic.Height();
        } catch (const EInvalidGraphic& error) {
            EXPECT_STREQ(error.what(), "Cannot load image. Invalid or unexpected RLA image format.");
        }
    }
    TRLAGraphic graphic;
    EXPECT_THROW(Load(graphic, Bytes(good.begin(), good.end() - 3)), EReadError) << "a record cut short";
}

}  // namespace
