// Row conversion of the palette-like and RGB layouts: masks, packing,
// planes, alpha, depths and byte order.
#include "ColorTestSupport.h"

namespace {

TEST(ColorManagerMask, SelectsPixelsByTheRotatingPattern) {
    struct Case {
        uint8_t Mask;
        std::vector<int> Converted;
    };
    for (const Case& c : {Case{0xAA, {0, 2, 4, 6, 8}}, Case{0x88, {0, 4, 8}}, Case{0x80, {0, 8}},
                          Case{0x08, {4}}, Case{0x22, {2, 6}}, Case{0x01, {7}}}) {
        TColorManager manager = MakeManager({csGray, 8, 1}, {csGray, 8, 1});
        std::vector<uint8_t> source(c.Converted.size());
        for (size_t k = 0; k < source.size(); ++k) source[k] = uint8_t(100 + k);
        std::vector<uint8_t> target(10, 0xEE);
        manager.ConvertRow({source.data()}, target.data(), 10, c.Mask);
        std::vector<uint8_t> expected(10, 0xEE);
        for (size_t k = 0; k < c.Converted.size(); ++k) expected[c.Converted[k]] = uint8_t(100 + k);
        EXPECT_EQ(target, expected) << "mask " << int(c.Mask);
    }
}

TEST(ColorManagerMask, AppliesToColourPixels) {
    TColorManager manager = MakeManager({csRGB, 8, 3}, {csBGR, 8, 3});
    const std::vector<uint8_t> source = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::vector<uint8_t> target(8 * 3, 0xEE);
    manager.ConvertRow({source.data()}, target.data(), 8, 0xAA);
    for (int pixel = 0; pixel < 8; ++pixel) {
        const uint8_t* p = &target[pixel * 3];
        if (pixel % 2) {
            EXPECT_EQ(p[0], 0xEE);
            EXPECT_EQ(p[2], 0xEE);
        } else {
            const int k = pixel / 2 * 3;
            EXPECT_EQ(p[0], source[k + 2]);
            EXPECT_EQ(p[1], source[k + 1]);
            EXPECT_EQ(p[2], source[k]);
        }
    }
}

TEST(ColorManagerPacked, EqualDepthsCopyWholeBytesOnly) {
    TColorManager manager = MakeManager({csGray, 4, 1}, {csGray, 4, 1});
    const std::vector<uint8_t> source = {0x12, 0x34, 0x5F};
    std::vector<uint8_t> target = {0, 0, 0, 0xEE};
    manager.ConvertRow({source.data()}, target.data(), 5, 0xFF);
    EXPECT_EQ(target, (std::vector<uint8_t>{0x12, 0x34, 0x5F, 0xEE}));
}

TEST(ColorManagerPacked, ScalesBetweenDepths) {
    struct Case {
        uint8_t SourceBits, TargetBits;
        std::vector<uint8_t> Source;
        uint32_t Count;
        std::vector<uint8_t> Expected;
    };
    for (const Case& c : {
             Case{4, 8, {0x0F, 0x15}, 4, {0, 255, 17, 85}},
             Case{2, 4, {0b00011011}, 4, {0x05, 0xAF}},
             Case{1, 8, {0b10100000}, 3, {255, 0, 255}},
             Case{8, 1, {255, 0, 254, 255, 255, 255, 255, 255, 255}, 9, {0b10011111, 0b10000000}},
             Case{8, 4, {0, 17, 255}, 3, {0x01, 0xF0}},
             Case{12, 8, {0xFF, 0xF0, 0x00}, 2, {255, 0}},
             Case{4, 3, {0xF0}, 2, {0xE0}},
         }) {
        TColorManager manager = MakeManager({csIndexed, c.SourceBits, 1}, {csIndexed, c.TargetBits, 1});
        std::vector<uint8_t> target(c.Expected.size(), 0);
        manager.ConvertRow({c.Source.data()}, target.data(), c.Count, 0xFF);
        EXPECT_EQ(target, c.Expected) << int(c.SourceBits) << " -> " << int(c.TargetBits);
    }
}

TEST(ColorManagerPacked, MaskedPixelsKeepTheirBits) {
    TColorManager manager = MakeManager({csGray, 1, 1}, {csGray, 1, 1});
    const uint8_t source[1] = {0b11000000};  // the two selected pixels, both set
    uint8_t target[1] = {0b00100010};
    manager.ConvertRow({source}, target, 8, 0x88);
    EXPECT_EQ(target[0], 0b10101010);
}

TEST(ColorManagerPacked, WordIndices) {
    const auto source = Words({0x1234, 0xFFFF, 0x0100});
    {
        TColorManager manager = MakeManager({csIndexed, 16, 1}, {csIndexed, 16, 1});
        std::vector<uint8_t> target(6);
        manager.ConvertRow({source.data()}, target.data(), 3, 0xFF);
        EXPECT_EQ(target, source);
        manager.SourceMode = cvByteSwap;
        manager.ConvertRow({source.data()}, target.data(), 3, 0xFF);
        EXPECT_EQ(AsWords(target), (std::vector<uint16_t>{0x3412, 0xFFFF, 0x0001}));
    }
    {
        TColorManager manager = MakeManager({csIndexed, 16, 1}, {csIndexed, 8, 1});
        std::vector<uint8_t> target(3);
        manager.ConvertRow({source.data()}, target.data(), 3, 0xFF);
        EXPECT_EQ(target, (std::vector<uint8_t>{0x12, 0xFF, 0x00}));
        manager.SourceMode = cvByteSwap;
        manager.ConvertRow({source.data()}, target.data(), 3, 0xFF);
        EXPECT_EQ(target, (std::vector<uint8_t>{0x33, 0xFF, 0x00}));
    }
    {
        TColorManager manager = MakeManager({csIndexed, 4, 1}, {csIndexed, 16, 1});
        const uint8_t packed[1] = {0xF1};
        std::vector<uint8_t> target(4);
        manager.ConvertRow({packed}, target.data(), 2, 0xFF);
        EXPECT_EQ(AsWords(target), (std::vector<uint16_t>{65535, 4369}));
        manager.SourceMode = cvByteSwap;
        manager.ConvertRow({packed}, target.data(), 2, 0xFF);
        EXPECT_EQ(AsWords(target), (std::vector<uint16_t>{65535, Swapped(4369)}));
    }
}

TEST(ColorManagerPacked, TargetFieldsWiderThanAByteAreLeftAlone) {
    TColorManager manager = MakeManager({csIndexed, 8, 1}, {csIndexed, 12, 1});
    const std::vector<uint8_t> source = {1, 2, 3};
    std::vector<uint8_t> target(5, 0xEE);
    manager.ConvertRow({source.data()}, target.data(), 3, 0xFF);
    EXPECT_EQ(target, std::vector<uint8_t>(5, 0xEE));
}

TEST(ColorManagerGray, DepthsByteOrderAndAlpha) {
    {
        TColorManager manager = MakeManager({csGray, 16, 1}, {csGray, 8, 1});
        manager.SourceMode = cvByteSwap;
        const auto source = Words({Swapped(65535), Swapped(257), Swapped(256)});
        std::vector<uint8_t> target(3);
        manager.ConvertRow({source.data()}, target.data(), 3, 0xFF);
        EXPECT_EQ(target, (std::vector<uint8_t>{255, 1, 0}));
    }
    {
        TColorManager manager = MakeManager({csGrayAlpha, 8, 1}, {csIndexed, 8, 1});
        const std::vector<uint8_t> source = {10, 255, 20, 0, 30, 7};
        std::vector<uint8_t> target(3);
        manager.ConvertRow({source.data()}, target.data(), 3, 0xFF);
        EXPECT_EQ(target, (std::vector<uint8_t>{10, 20, 30}));
    }
    {
        TColorManager manager = MakeManager({csGrayAlpha, 16, 1}, {csIndexed, 8, 1});
        const auto source = Words({200 * 257, 1, 7 * 257, 2});
        std::vector<uint8_t> target(2);
        manager.ConvertRow({source.data()}, target.data(), 2, 0xFF);
        EXPECT_EQ(target, (std::vector<uint8_t>{200, 7}));
    }
    {
        TColorManager manager = MakeManager({csGray, 8, 1}, {csGray, 16, 1});
        const std::vector<uint8_t> source = {0, 1, 255};
        std::vector<uint8_t> target(6);
        manager.ConvertRow({source.data()}, target.data(), 3, 0xFF);
        EXPECT_EQ(AsWords(target), (std::vector<uint16_t>{0, 257, 65535}));
    }
    {
        TColorManager manager = MakeManager({csGray, 16, 1}, {csGray, 16, 1});
        manager.SourceMode = cvByteSwap;
        const auto source = Words({0x1234});
        std::vector<uint8_t> target(2);
        manager.ConvertRow({source.data()}, target.data(), 1, 0xFF);
        EXPECT_EQ(AsWords(target), (std::vector<uint16_t>{0x3412}));
    }
}

struct TRGBCase {
    const char* Name;
    TColorScheme Source, Target;
    std::vector<uint8_t> Pixels;   // two interleaved source pixels
    std::vector<uint8_t> Expected;  // two target pixels; 0xEE marks untouched bytes
};

TEST(ColorManagerRGB, OrdersAndAlphaAt8Bits) {
    const std::vector<TRGBCase> cases = {
        {"rgb-bgr", csRGB, csBGR, {1, 2, 3, 4, 5, 6}, {3, 2, 1, 6, 5, 4}},
        {"bgr-rgb", csBGR, csRGB, {1, 2, 3, 4, 5, 6}, {3, 2, 1, 6, 5, 4}},
        {"rgb-rgb", csRGB, csRGB, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
        {"bgr-bgr", csBGR, csBGR, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
        {"rgba-bgra", csRGBA, csBGRA, {1, 2, 3, 9, 4, 5, 6, 8}, {3, 2, 1, 9, 6, 5, 4, 8}},
        {"rgba-rgba", csRGBA, csRGBA, {1, 2, 3, 9, 4, 5, 6, 8}, {1, 2, 3, 9, 4, 5, 6, 8}},
        {"bgra-rgba", csBGRA, csRGBA, {1, 2, 3, 9, 4, 5, 6, 8}, {3, 2, 1, 9, 6, 5, 4, 8}},
        {"rgba-bgr", csRGBA, csBGR, {1, 2, 3, 9, 4, 5, 6, 8}, {3, 2, 1, 6, 5, 4}},
        {"rgb-bgra", csRGB, csBGRA, {1, 2, 3, 4, 5, 6}, {3, 2, 1, 0xEE, 6, 5, 4, 0xEE}},
    };
    for (const TRGBCase& c : cases) {
        const uint8_t sourceSamples = c.Pixels.size() / 2, targetSamples = c.Expected.size() / 2;
        TColorManager manager = MakeManager({c.Source, 8, sourceSamples}, {c.Target, 8, targetSamples});
        std::vector<uint8_t> target(c.Expected.size(), 0xEE);
        manager.ConvertRow({c.Pixels.data()}, target.data(), 2, 0xFF);
        EXPECT_EQ(target, c.Expected) << c.Name;
        // The same through the per-pixel path that masks take.
        std::vector<uint8_t> masked(c.Expected.size(), 0xEE);
        manager.ConvertRow({c.Pixels.data()}, masked.data(), 2, 0xC0);
        EXPECT_EQ(masked, c.Expected) << c.Name << " masked";
    }
}

TEST(ColorManagerRGB, PlanarSources) {
    const std::vector<uint8_t> red = {10, 11}, green = {20, 21}, blue = {30, 31}, alpha = {40, 41};
    TColorManager manager = MakeManager({csRGB, 8, 3}, {csBGR, 8, 3});
    std::vector<uint8_t> target(6);
    manager.ConvertRow({red.data(), green.data(), blue.data()}, target.data(), 2, 0xFF);
    EXPECT_EQ(target, (std::vector<uint8_t>{30, 20, 10, 31, 21, 11}));

    manager.SetSourceScheme(csRGBA);
    manager.SetTargetScheme(csBGRA);
    std::vector<uint8_t> withAlpha(8);
    manager.ConvertRow({red.data(), green.data(), blue.data(), alpha.data()}, withAlpha.data(), 2, 0xFF);
    EXPECT_EQ(withAlpha, (std::vector<uint8_t>{30, 20, 10, 40, 31, 21, 11, 41}));

    // Without its alpha plane the colours still convert and the target's
    // alpha stays as it was.
    std::vector<uint8_t> noPlane(8, 0xEE);
    manager.ConvertRow({red.data(), green.data(), blue.data()}, noPlane.data(), 2, 0xFF);
    EXPECT_EQ(noPlane, (std::vector<uint8_t>{30, 20, 10, 0xEE, 31, 21, 11, 0xEE}));

    // Two planes cannot make a colour: nothing is written.
    std::vector<uint8_t> untouched(8, 0xEE);
    manager.ConvertRow({red.data(), green.data()}, untouched.data(), 2, 0xFF);
    EXPECT_EQ(untouched, std::vector<uint8_t>(8, 0xEE));
}

TEST(ColorManagerRGB, WideSamples) {
    const auto source = Words({Swapped(65535), Swapped(257), Swapped(256), Swapped(0x1234)});
    {
        TColorManager manager = MakeManager({csRGBA, 16, 4}, {csBGRA, 8, 4});
        manager.SourceMode = cvByteSwap;
        std::vector<uint8_t> target(4);
        manager.ConvertRow({source.data()}, target.data(), 1, 0xFF);
        EXPECT_EQ(target, (std::vector<uint8_t>{0, 1, 255, 0x12}));
    }
    {
        TColorManager manager = MakeManager({csRGB, 16, 3}, {csBGR, 8, 3});
        std::vector<uint8_t> target(3);
        manager.ConvertRow({source.data()}, target.data(), 1, 0xFF);
        EXPECT_EQ(target, (std::vector<uint8_t>{0, 1, 255}));  // taken as 0xFFFF, 0x0101, 0x0001
    }
    {
        TColorManager manager = MakeManager({csRGBA, 16, 4}, {csRGBA, 16, 4});
        manager.SourceMode = cvByteSwap;
        std::vector<uint8_t> target(8);
        manager.ConvertRow({source.data()}, target.data(), 1, 0xFF);
        EXPECT_EQ(AsWords(target), (std::vector<uint16_t>{65535, 257, 256, 0x1234}));
    }
    {
        TColorManager manager = MakeManager({csBGRA, 8, 4}, {csRGBA, 16, 4});
        const std::vector<uint8_t> narrow = {1, 2, 3, 4};
        std::vector<uint8_t> target(8);
        manager.ConvertRow({narrow.data()}, target.data(), 1, 0xFF);
        EXPECT_EQ(AsWords(target), (std::vector<uint16_t>{3 * 257, 2 * 257, 257, 4 * 257}));
    }
}

TEST(ColorManagerRGB, GammaAppliesToColoursNotAlpha) {
    for (uint8_t bits : {8, 16}) {
        TColorManager manager = MakeManager({csRGBA, bits, 4}, {csBGRA, 8, 4});
        manager.TargetMode = cvApplyGamma;
        const std::vector<uint8_t> narrow = {1, 128, 255, 128};
        const auto wide = Words({257, 128 * 257, 65535, 128 * 257});
        std::vector<uint8_t> target(4);
        manager.ConvertRow({bits == 8 ? narrow.data() : wide.data()}, target.data(), 1, 0xFF);
        EXPECT_EQ(target, (std::vector<uint8_t>{255, 186, 21, 128})) << int(bits);
    }
}

TEST(ColorManagerRGB, AlphaLayoutSurvivesModeAssignment) {
    TColorManager manager = MakeManager({csRGBA, 8, 4}, {csBGR, 8, 3});
    const std::vector<uint8_t> source = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<uint8_t> target(6);
    manager.ConvertRow({source.data()}, target.data(), 2, 0xFF);
    manager.SourceMode = {};  // a caller resetting its options between images
    manager.ConvertRow({source.data()}, target.data(), 2, 0xFF);
    EXPECT_EQ(target, (std::vector<uint8_t>{3, 2, 1, 7, 6, 5}));
}

TEST(ColorManagerRGB, UnsupportedDepthsAndEmptyRowsWriteNothing) {
    TColorManager manager = MakeManager({csRGB, 5, 3}, {csBGR, 8, 3});
    const std::vector<uint8_t> source(6, 1);
    std::vector<uint8_t> target(6, 0xEE);
    manager.ConvertRow({source.data()}, target.data(), 2, 0xFF);
    EXPECT_EQ(target, std::vector<uint8_t>(6, 0xEE));
    manager.SetSourceBitsPerSample(8);
    manager.ConvertRow(TColorManager::TSourceRows{}, target.data(), 2, 0xFF);
    EXPECT_EQ(target, std::vector<uint8_t>(6, 0xEE));
}

}  // namespace
