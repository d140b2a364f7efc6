// Row conversion of the palette-like and RGB layouts: masks, packing,
// planes, alpha, depths and byte order.
#include <algorithm>

#include "ColorTestSupport.h"
#include "color/Rows.h"

namespace {

TEST(ColorManagerMask, SelectsPixelsByTheRotatingPattern) {
    struct Case {
        uint8_t Mask;
        std::vector<int> Converted;
    };
    for (const Case& c : {Case{0xAA, {0, 2, 4, 6, 8}}, Case{0x88, {0, 4, 8}}, Case{0x80, {0, 8}}, Case{0x08, {4}},
                          Case{0x22, {2, 6}}, Case{0x01, {7}}}) {
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

// Every RGB-family layout and depth: the whole-row loops must agree with a
// per-pixel reading of the rules, which the masked path follows.
TEST(ColorManagerRGB, EveryLayoutMatchesThePerPixelRules) {
    const TColorScheme schemes[] = {csRGB, csRGBA, csBGR, csBGRA};
    const auto blueFirst = [](TColorScheme s) { return s == csBGR || s == csBGRA; };
    const auto alpha = [](TColorScheme s) { return s == csRGBA || s == csBGRA; };
    for (TColorScheme from : schemes)
        for (TColorScheme to : schemes)
            for (uint8_t sourceBits : {8, 16})
                for (uint8_t targetBits : {8, 16})
                    for (bool swap : {false, true}) {
                        const int sourceSamples = alpha(from) ? 4 : 3, targetSamples = alpha(to) ? 4 : 3;
                        TColorManager manager = MakeManager({from, sourceBits, uint8_t(sourceSamples)},
                                                            {to, targetBits, uint8_t(targetSamples)});
                        if (swap) manager.SourceMode = cvByteSwap;
                        const int pixels = 3;
                        std::vector<uint16_t> values(pixels * sourceSamples);
                        for (size_t k = 0; k < values.size(); ++k) values[k] = uint16_t(1000 + 4099 * k);
                        std::vector<uint8_t> source(values.size() * sourceBits / 8);
                        for (size_t k = 0; k < values.size(); ++k) {
                            if (sourceBits == 8)
                                source[k] = uint8_t(values[k]);
                            else
                                std::memcpy(&source[2 * k], &values[k], 2);
                        }
                        // What each stored sample means, then where it goes.
                        const auto meaning = [&](uint16_t stored) -> uint32_t {
                            if (sourceBits == 8) return targetBits == 8 ? uint8_t(stored) : uint8_t(stored) * 257;
                            const uint16_t v = swap ? Swapped(stored) : stored;
                            return targetBits == 16 ? v : v * 255 / 65535;
                        };
                        const size_t targetBytes = pixels * targetSamples * targetBits / 8;
                        std::vector<uint8_t> expected(targetBytes, 0xEE);
                        for (int p = 0; p < pixels; ++p) {
                            const uint16_t* in = &values[p * sourceSamples];
                            const uint32_t red = meaning(in[blueFirst(from) ? 2 : 0]), green = meaning(in[1]),
                                           blue = meaning(in[blueFirst(from) ? 0 : 2]);
                            uint32_t out[4] = {red, green, blue, 0};
                            if (blueFirst(to)) std::swap(out[0], out[2]);
                            int written = 3;
                            if (alpha(from) && alpha(to)) {
                                out[3] = meaning(in[3]);
                                written = 4;
                            }
                            for (int c = 0; c < written; ++c) {
                                const size_t at = size_t(p * targetSamples + c) * targetBits / 8;
                                const auto word = uint16_t(out[c]);
                                if (targetBits == 8)
                                    expected[at] = uint8_t(word);
                                else
                                    std::memcpy(&expected[at], &word, 2);
                            }
                        }
                        for (uint8_t mask : {uint8_t(0xFF), uint8_t(0xE0)}) {
                            std::vector<uint8_t> target(targetBytes, 0xEE);
                            manager.ConvertRow({source.data()}, target.data(), pixels, mask);
                            EXPECT_EQ(target, expected)
                                << int(from) << " -> " << int(to) << ", " << int(sourceBits) << " -> "
                                << int(targetBits) << (swap ? " swapped" : "") << ", mask " << int(mask);
                        }
                    }
}

// The 8-bit whole-row loops work in blocks of 5 and 16 pixels with a
// per-pixel tail: on random rows of every width around those blocks they must
// agree with the rules, from interleaved rows and from planes.
TEST(ColorManagerRGB, WholeRowLoopsOnRowsOfEveryWidth) {
    const TColorScheme schemes[] = {csRGB, csRGBA, csBGR, csBGRA};
    const auto blueFirst = [](TColorScheme s) { return s == csBGR || s == csBGRA; };
    const auto alpha = [](TColorScheme s) { return s == csRGBA || s == csBGRA; };
    uint32_t noise = 1;
    for (TColorScheme from : schemes)
        for (TColorScheme to : schemes)
            for (uint32_t width = 0; width <= 40; ++width) {
                SCOPED_TRACE(testing::Message() << int(from) << " -> " << int(to) << ", " << width << " pixels");
                const size_t sourceSamples = alpha(from) ? 4 : 3, targetSamples = alpha(to) ? 4 : 3;
                TColorManager manager =
                    MakeManager({from, 8, uint8_t(sourceSamples)}, {to, 8, uint8_t(targetSamples)});
                std::vector<uint8_t> source(width * sourceSamples);
                for (auto& b : source) b = uint8_t((noise = noise * 1103515245u + 12345u) >> 24);
                // Planes hold the samples in their stored order.
                std::vector<uint8_t> planes[4];
                for (size_t c = 0; c < sourceSamples; ++c)
                    for (uint32_t i = 0; i < width; ++i) planes[c].push_back(source[i * sourceSamples + c]);
                std::vector<uint8_t> expected(width * targetSamples, 0xEE);
                const auto place = [&](size_t c, bool exchange) { return c < 3 && exchange ? 2 - c : c; };
                for (uint32_t i = 0; i < width; ++i)
                    for (size_t c = 0; c < (alpha(from) && alpha(to) ? 4 : 3); ++c)
                        expected[i * targetSamples + place(c, blueFirst(to))] =
                            source[i * sourceSamples + place(c, blueFirst(from))];

                std::vector<uint8_t> target(expected.size(), 0xEE);
                manager.ConvertRow({source.data()}, target.data(), width, 0xFF);
                EXPECT_EQ(target, expected) << "interleaved";
                std::fill(target.begin(), target.end(), 0xEE);
                const void* rows[4] = {planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data()};
                manager.ConvertRow(TColorManager::TSourceRows(rows, alpha(from) ? 4 : 3), target.data(), width, 0xFF);
                EXPECT_EQ(target, expected) << "planar";
            }
}

// The vector red/blue exchanges this processor runs, on rows of every width
// around their blocks of 5, 21 and 64 pixels and at several byte alignments,
// into another row and in place: the pixels each answers as done are
// exchanged, and nothing past the row is touched.
TEST(ColorManagerRGB, VectorExchangesOfEveryWidthStayInTheRow) {
    using namespace graphiccolor;
    std::vector<std::pair<const char*, TExchangeOuterBytes3>> builds;
    if (__builtin_cpu_supports("ssse3")) builds.push_back({"SSSE3", ExchangeOuterBytes3Shuffled});
    if (__builtin_cpu_supports("avx512vbmi")) builds.push_back({"AVX-512 VBMI", ExchangeOuterBytes3Permuted});
    uint32_t noise = 3;
    for (const auto& [name, exchange] : builds)
        for (size_t width = 0; width <= 200; ++width)
            for (size_t offset : {0, 1, 17}) {
                SCOPED_TRACE(testing::Message() << name << ", " << width << " pixels at +" << offset);
                std::vector<uint8_t> source(offset + 3 * width), target(offset + 3 * width + 64, 0xEE);
                for (auto& b : source) b = uint8_t((noise = noise * 1103515245u + 12345u) >> 24);
                const size_t done = exchange(source.data() + offset, target.data() + offset, width);
                ASSERT_LE(done, width);
                for (size_t i = 0; i < done; ++i)
                    for (size_t c = 0; c < 3; ++c)
                        ASSERT_EQ(target[offset + 3 * i + c], source[offset + 3 * i + 2 - c]) << i;
                EXPECT_EQ(std::vector<uint8_t>(target.begin(), target.begin() + offset),
                          std::vector<uint8_t>(offset, 0xEE));
                EXPECT_EQ(std::vector<uint8_t>(target.end() - 64, target.end()), std::vector<uint8_t>(64, 0xEE));
                std::vector<uint8_t> inPlace = source;
                ASSERT_EQ(exchange(inPlace.data() + offset, inPlace.data() + offset, width), done);
                EXPECT_TRUE(std::equal(inPlace.begin() + offset, inPlace.begin() + offset + 3 * done,
                                       target.begin() + offset))
                    << "in place";
            }
}

}  // namespace
