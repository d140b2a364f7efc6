#include <gtest/gtest.h>

#include "GraphicFormats.h"
#include "SGIFiles.h"
#include "ToolFiles.h"

namespace {

using namespace imagefiles;

// Samples with runs and noise, so that packed rows hold both kinds of item.
SgiImage Pattern(uint16_t channels, uint8_t bytesPerSample, bool runLength) {
    SgiImage image{150, 4, channels, bytesPerSample, runLength, 3, "pattern", {}};
    const uint32_t maximum = bytesPerSample == 2 ? 65535 : 255;
    for (uint32_t i = 0; i < 150u * 4 * channels; ++i)
        image.Samples.push_back(uint16_t(i % 150 < 60 ? i / 150 * 40 : i * 2654435761u) % (maximum + 1));
    return image;
}

TEST(SGI, EveryLayoutLoadsBottomUpChannelsAsStored) {
    struct Layout {
        uint16_t channels;
        uint8_t bytesPerSample;
        bool runLength;
    };
    const Layout layouts[] = {{1, 1, false}, {1, 1, true},  {1, 2, false}, {1, 2, true}, {2, 1, true},
                              {2, 2, false}, {3, 1, false}, {3, 1, true},  {3, 2, false}, {3, 2, true},
                              {4, 1, false}, {4, 1, true},  {4, 2, true}};
    for (const Layout& c : layouts) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels of " << int(c.bytesPerSample)
                                        << " bytes, run-length " << c.runLength);
        const SgiImage image = Pattern(c.channels, c.bytesPerSample, c.runLength);
        const Bytes file = MakeSgi(image);
        EXPECT_TRUE(Probe<TSGIGraphic>(file));
        TSGIGraphic graphic;
        Load(graphic, file);
        EXPECT_EQ(graphic.PixelFormat(), c.channels == 4 ? pf32bit : (c.channels == 3 ? pf24bit : pf8bit));
        EXPECT_EQ(graphic.ImageName(), "pattern");
        // The first row stored is the bottom one.
        const auto shown = [&](int channel, int x, int y) {
            const uint16_t v = image.Samples[(size_t(channel) * image.Height + image.Height - 1 - y) * image.Width + x];
            return static_cast<uint8_t>(c.bytesPerSample == 2 ? v * 255 / 65535 : v);
        };
        EXPECT_TRUE(ShowsPixels(graphic, image.Width, image.Height, [&](int x, int y) {
            return c.channels >= 3 ? RGB(shown(0, x, y), shown(1, x, y), shown(2, x, y))
                                   : RGB(shown(0, x, y), shown(0, x, y), shown(0, x, y));
        }));
        for (int y = 0; y < image.Height && c.channels == 4; ++y)
            for (int x = 0; x < image.Width; ++x) ASSERT_EQ(graphic.ScanLine(y)[4 * x + 3], shown(3, x, y));
    }
}

TEST(SGI, RefusesHostileHeadersAndTables) {
    const Bytes rle = MakeSgi(Pattern(3, 1, true)), raw = MakeSgi(Pattern(1, 1, false));
    const uint32_t rows = 3 * 4, tooFar = uint32_t(rle.size()) + 10;
    // Rows as wide as the data holds, packed at best, if a run took one byte.
    const uint32_t wide = 127 * ((uint32_t(rle.size()) - 512 - 8 * rows) / rows / 2 + 1);
    const std::string invalid = "Cannot load image. Invalid or unexpected sgi, bw or rgb(a) image format.";
    ExpectRefusals<TSGIGraphic>({
        {"magic", Patched(raw, 0, {0x01, 0xDB}), invalid},
        {"sample size", Patched(raw, 3, {3}), invalid},
        {"no channels", Patched(raw, 10, {0, 0}), invalid},
        {"five channels", Patched(raw, 10, {0, 5}), invalid},
        {"no width", Patched(raw, 6, {0, 0}), invalid},
        {"raw data beyond the file", Patched(raw, 8, {0x10, 0}), invalid},
        {"tables beyond the file", Patched(rle, 8, {0xFF, 0xFF}), invalid},
        {"wider than the data can hold", Patched(rle, 6, {uint8_t(wide >> 8), uint8_t(wide)}), invalid},
        {"short header", Cut(raw, 300), invalid},
        {"row start outside the file", Patched(rle, 512 + 4 * 5, {0, 0, uint8_t(tooFar >> 8), uint8_t(tooFar)}),
         invalid},
        {"row length beyond the end", Patched(rle, 512 + 4 * (2 * rows - 1), {0, 0, 0x03, 0xE8}), invalid},
    });
    EXPECT_FALSE(Probe<TSGIGraphic>(Patched(raw, 0, {0x01, 0xDB})));
}

TEST(SGI, MalformedRowsStayInsideTheirRow) {
    // Runs longer than the row, a row without its end marker and a table
    // length beyond the row's own bytes: the rows stop at their ends.
    SgiImage image{5, 3, 1, 1, true, 2, "", std::vector<uint16_t>(15, 7)};
    Bytes file = Cut(MakeSgi(image), 512 + 8 * 3);
    // The rows bottom first: a run of 127; literals, then a run past the end;
    // just the end marker. The tables give their starts and lengths 3, 7, 1.
    file.insert(file.end(), {0x7F, 9, 0, 0x83, 1, 2, 3, 0x05, 4, 0});
    file = Patched(file, 512, {0, 0, 2, 24, 0, 0, 2, 27, 0, 0, 2, 33, 0, 0, 0, 3, 0, 0, 0, 7, 0, 0, 0, 1});
    TSGIGraphic graphic;
    Load(graphic, file);
    EXPECT_TRUE(ShowsRows(graphic, {{0, 0, 0, 0, 0}, {1, 2, 3, 4, 4}, {9, 9, 9, 9, 9}}));
}

// A writer may store a repeated row once and point every table entry at
// it: far fewer packed bytes than rows, which still load.
TEST(SGI, RowsMaySharePackedBytes) {
    const SgiImage image{1270, 40, 3, 1, true, 3, "", std::vector<uint16_t>(1270 * 40 * 3, 77)};
    const size_t rows = 40 * 3, data = 512 + 8 * rows;
    Bytes file = Cut(MakeSgi(image), data + PackSgiRow(image.Samples.data(), image.Width, 1).size());
    for (size_t k = 0; k < rows; ++k) file = Patched(file, 512 + 4 * k, {0, 0, uint8_t(data >> 8), uint8_t(data)});
    TSGIGraphic graphic;
    Load(graphic, file);
    EXPECT_EQ(graphic.Pixel(1269, 0), RGB(77, 77, 77));
}

// ImageMagick writes the picture as SGI in several layouts; each loads to the
// pixels ImageMagick reads back from it.
TEST(SGI, ImageMagickFilesLoadAsImageMagickReadsThem) {
    ASSERT_TRUE(ToolsPresent({"/usr/bin/convert"}));
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
