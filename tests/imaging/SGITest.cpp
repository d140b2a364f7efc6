#include <gtest/gtest.h>

#include <cstring>

#include "GraphicFormats.h"
#include "SGIFiles.h"
#include "ToolFiles.h"

namespace {

using namespace imagefiles;

void Load(TSGIGraphic& graphic, const std::vector<uint8_t>& file) {
    TMemoryStream stream(file.data(), file.size());
    graphic.LoadFromStream(stream);
}

// Samples with runs and noise, so that packed rows hold both kinds of item.
SgiImage Pattern(uint16_t channels, uint8_t bytesPerSample, bool runLength) {
    SgiImage image{150, 4, channels, bytesPerSample, runLength, 3, "pattern", {}};
    const uint32_t maximum = bytesPerSample == 2 ? 65535 : 255;
    for (uint32_t i = 0; i < 150u * 4 * channels; ++i) {
        const uint32_t x = i % 150;
        image.Samples.push_back(static_cast<uint16_t>(x < 60 ? (i / 150) * 40 % (maximum + 1) : i * 2654435761u % (maximum + 1)));
    }
    return image;
}

struct LayoutCase {
    uint16_t channels;
    uint8_t bytesPerSample;
    bool runLength;
};

class SGILayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(SGILayouts, LoadBottomUpChannelsAsStored) {
    const LayoutCase c = GetParam();
    const SgiImage image = Pattern(c.channels, c.bytesPerSample, c.runLength);
    const auto file = MakeSgi(image);
    TMemoryStream probe(file.data(), file.size());
    EXPECT_TRUE(TSGIGraphic::ProbeStream(probe));

    TSGIGraphic graphic;
    Load(graphic, file);
    ASSERT_EQ(graphic.Width(), image.Width);
    ASSERT_EQ(graphic.Height(), image.Height);
    EXPECT_EQ(graphic.PixelFormat(), c.channels == 4 ? pf32bit : (c.channels == 3 ? pf24bit : pf8bit));
    EXPECT_EQ(graphic.Properties.Compression, c.runLength ? ckRLE : ckNone);
    EXPECT_EQ(graphic.ImageName(), "pattern");
    const auto shown = [&](uint16_t channel, uint32_t x, uint32_t fileRow) {
        const uint16_t v = image.Samples[(size_t(channel) * image.Height + fileRow) * image.Width + x];
        return static_cast<uint8_t>(c.bytesPerSample == 2 ? v * 255 / 65535 : v);
    };
    for (uint32_t y = 0; y < image.Height; ++y)
        for (uint32_t x = 0; x < image.Width; ++x) {
            const uint32_t fileRow = image.Height - 1 - y;  // the first row stored is the bottom one
            const uint8_t red = shown(0, x, fileRow);
            const TColor expected = c.channels >= 3 ? RGB(red, shown(1, x, fileRow), shown(2, x, fileRow))
                                                    : RGB(red, red, red);
            ASSERT_EQ(graphic.Pixel(int(x), int(y)), expected) << x << "," << y;
            if (c.channels == 4) {
                ASSERT_EQ(graphic.ScanLine(int(y))[4 * x + 3], shown(3, x, fileRow));
            }
        }
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, SGILayouts,
                         ::testing::Values(LayoutCase{1, 1, false}, LayoutCase{1, 1, true}, LayoutCase{1, 2, false},
                                           LayoutCase{1, 2, true}, LayoutCase{2, 1, true}, LayoutCase{2, 2, false},
                                           LayoutCase{3, 1, false}, LayoutCase{3, 1, true}, LayoutCase{3, 2, false},
                                           LayoutCase{3, 2, true}, LayoutCase{4, 1, false}, LayoutCase{4, 1, true},
                                           LayoutCase{4, 2, true}));

void Put32(std::vector<uint8_t>& file, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

TEST(SGIFailures, HostileHeadersAndTablesRaiseTheFormatError) {
    const auto rle = MakeSgi(Pattern(3, 1, true));
    const auto raw = MakeSgi(Pattern(1, 1, false));
    const size_t rows = 3 * 4;
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    };
    std::vector<Case> cases;
    const auto patched = [&](const char* what, std::vector<uint8_t> file, size_t at, std::vector<uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
        cases.push_back({what, file});
    };
    patched("magic", raw, 0, {0x01, 0xDB});
    patched("sample size", raw, 3, {3});
    patched("no channels", raw, 10, {0, 0});
    patched("five channels", raw, 10, {0, 5});
    patched("no width", raw, 6, {0, 0});
    patched("raw data beyond the file", raw, 8, {0x10, 0});
    patched("tables beyond the file", rle, 8, {0xFF, 0xFF});
    patched("wider than the data can hold", rle, 6, {0xFF, 0xFF});
    cases.push_back({"short header", std::vector<uint8_t>(raw.begin(), raw.begin() + 300)});
    auto outside = rle;
    Put32(outside, 512 + 4 * 5, static_cast<uint32_t>(rle.size()) + 10);
    cases.push_back({"row start outside the file", outside});
    auto longRow = rle;
    Put32(longRow, 512 + 4 * (rows + rows - 1), 1000);
    cases.push_back({"row length beyond the end", longRow});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TSGIGraphic graphic;
        try {
            Load(graphic, c.file);
            ADD_FAILURE() << "no error";
        } catch (const EInvalidGraphic& error) {
            EXPECT_STREQ(error.what(), "Cannot load image. Invalid or unexpected sgi, bw or rgb(a) image format.");
        }
    }
}

TEST(SGIFailures, MalformedRowsStayInsideTheirRow) {
    // Runs longer than the row, a row without its end marker and a table
    // length beyond the row's own bytes: the rows stop at their ends.
    SgiImage image{5, 3, 1, 1, true, 2, "", {}};
    image.Samples.assign(15, 7);
    auto file = MakeSgi(image);
    const size_t data = 512 + 8 * 3;
    file.resize(data);
    file.insert(file.end(), {0x7F, 9, 0, 0x83, 1, 2, 3, 0x05, 4, 0});  // row 0: a run of 127
    Put32(file, 512, uint32_t(data));
    Put32(file, 516, uint32_t(data + 3));  // row 1: literals, then a run past the end
    Put32(file, 520, uint32_t(data + 9));  // row 2: just the end marker
    Put32(file, 524, 3);
    Put32(file, 528, 7);
    Put32(file, 532, 1);
    TSGIGraphic graphic;
    Load(graphic, file);
    const uint8_t expected[3][5] = {{0, 0, 0, 0, 0}, {1, 2, 3, 4, 4}, {9, 9, 9, 9, 9}};
    for (int y = 0; y < 3; ++y) EXPECT_EQ(std::memcmp(graphic.ScanLine(y), expected[y], 5), 0) << y;
}

// ImageMagick writes the picture as SGI in several layouts; each loads to the
// pixels ImageMagick reads back from it.
TEST(SGICrossCheck, ImageMagickFilesLoadAsImageMagickReadsThem) {
    if (!ToolPresent("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is missing";
    ScratchFolder folder;
    WriteFileBytes(folder / "base.ppm", MakePortableMap(ToolPicture(201, 9)));

    const std::pair<const char*, const char*> variants[] = {
        {"rgb.sgi", "-depth 8"},
        {"rgb-rle.sgi", "-depth 8 -compress RLE"},
        {"rgb16.sgi", "-depth 16"},
        {"rgba-rle.sgi", "-alpha set -channel A -fx 'i/w' +channel -depth 8 -compress RLE"},
        {"gray.bw", "-colorspace Gray -depth 8 -compress RLE"},
        {"gray16.bw", "-colorspace Gray -depth 16"},
        {"grayalpha.sgi", "-colorspace Gray -alpha set -depth 8"},
    };
    for (const auto& [name, options] : variants) {
        SCOPED_TRACE(name);
        const std::string file = folder / name;
        ASSERT_TRUE(RunTool("/usr/bin/convert " + (folder / "base.ppm") + " " + options + " sgi:" + file));
        ASSERT_TRUE(RunTool("/usr/bin/convert sgi:" + file + " -depth 8 ppm:" + file + ".ppm"));
        TSGIGraphic graphic;
        graphic.LoadFromFile(file);
        EXPECT_TRUE(ShowsReference(graphic, ReadReferenceMap(ReadFileBytes(file + ".ppm"))));
    }
}

}  // namespace
