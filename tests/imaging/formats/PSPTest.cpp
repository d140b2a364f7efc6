#include <gtest/gtest.h>

#include <algorithm>

#include "GraphicFormats.h"
#include "PSPFiles.h"
#include "ReaderTests.h"

namespace {

using namespace imagefiles;

constexpr uint32_t Width = 13, Height = 5;

Bytes PatternRows(size_t size, uint32_t seed) {
    Bytes rows(size);
    for (size_t i = 0; i < size; ++i) rows[i] = static_cast<uint8_t>(i % 11 < 5 ? seed * 50 : i * 29 + seed * 7);
    return rows;
}

uint32_t RowSize(uint16_t depth) { return (Width * (depth == 24 ? 8 : depth) + 7) / 8; }

// A one-layer image of the given depth; colour images get red, green and
// blue channels (and a transparency mask), others one composite channel
// and a palette. Rows may carry padding bytes.
PspLayout OneLayer(uint16_t major, uint16_t depth, uint16_t compression, bool alpha, uint32_t padding = 0) {
    PspLayout layout;
    layout.Major = major;
    layout.Width = Width;
    layout.Height = Height;
    layout.BitDepth = depth;
    layout.Compression = compression;
    PspLayer layer{uint8_t(major == 3 ? 0 : 1), {}};
    const size_t size = (RowSize(depth) + padding) * Height;
    if (depth == 24) {
        for (uint16_t type = 1; type <= 3; ++type) layer.Channels.push_back({0, type, PatternRows(size, type)});
    } else {
        layer.Channels.push_back({0, 0, PatternRows(size, 0)});
        for (int i = 0; i < 256; ++i) layout.Palette.insert(layout.Palette.end(), {uint8_t(i), uint8_t(255 - i), 9, 0});
    }
    if (alpha) layer.Channels.push_back({1, 0, PatternRows(size, 4)});
    layout.Layers.push_back(layer);
    return layout;
}

// Whether the graphic shows the last layer of the layout.
::testing::AssertionResult ShowsLayer(const TPSPGraphic& graphic, const PspLayout& layout) {
    const std::vector<PspChannel>& channels = layout.Layers.back().Channels;
    const size_t stride = channels[0].Rows.size() / Height;
    std::vector<Bytes> rows;
    for (uint32_t y = 0; y < Height; ++y) {
        const auto at = [&](size_t channel, size_t x) { return channels[channel].Rows[y * stride + x]; };
        Bytes& row = rows.emplace_back();
        const auto first = channels[0].Rows.begin() + std::ptrdiff_t(y * stride);
        if (layout.BitDepth != 24) row.assign(first, first + RowSize(layout.BitDepth));
        for (uint32_t x = 0; x < Width && layout.BitDepth == 24; ++x) {
            row.insert(row.end(), {at(2, x), at(1, x), at(0, x)});
            if (channels.size() == 4) row.push_back(at(3, x));
        }
    }
    if (graphic.Width() != int(Width)) return ::testing::AssertionFailure() << "width " << graphic.Width();
    return ShowsRows(graphic, rows);
}

TEST(PSP, EveryVersionDepthAndCompressionLoadsTheFirstLayer) {
    struct Case {
        uint16_t major, depth, compression;
        bool alpha;
        uint32_t padding;
        TPixelFormat format;
    };
    const Case cases[] = {{3, 24, 0, false, 0, pf24bit}, {4, 24, 1, false, 0, pf24bit}, {5, 24, 2, true, 0, pf32bit},
                          {3, 24, 1, true, 0, pf32bit},  {6, 8, 1, false, 0, pf8bit},   {5, 8, 2, true, 0, pf8bit},
                          {5, 4, 0, false, 0, pf4bit},   {4, 4, 1, false, 1, pf4bit},   {5, 1, 2, false, 0, pf1bit},
                          {3, 1, 1, false, 2, pf1bit}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "version " << c.major << ", " << c.depth << " bits, compression "
                                        << c.compression << ", alpha " << c.alpha << ", padding " << c.padding);
        const PspLayout layout = OneLayer(c.major, c.depth, c.compression, c.alpha, c.padding);
        TPSPGraphic graphic;
        Load(graphic, MakePsp(layout));
        ASSERT_EQ(graphic.PixelFormat(), c.format);
        EXPECT_TRUE(ShowsLayer(graphic, layout));
        if (c.depth != 24) {
            EXPECT_EQ(graphic.Palette().palPalEntry.at(3), (TPaletteEntry{9, 252, 3, 0})) << "stored blue first";
        }
    }
}

TEST(PSP, LayoutsOfOtherWriters) {
    // Layers without pixels (a floating selection, a vector layer) come
    // before the first raster layer.
    for (uint16_t major : {3, 5}) {
        PspLayout layout = OneLayer(major, 24, 1, false);
        PspLayer skipped = layout.Layers[0];
        skipped.Type = major == 3 ? 1 : 3;
        for (auto& channel : skipped.Channels) channel.Rows.assign(channel.Rows.size(), 1);
        layout.Layers.insert(layout.Layers.begin(), skipped);
        TPSPGraphic graphic;
        Load(graphic, MakePsp(layout));
        EXPECT_TRUE(ShowsLayer(graphic, layout)) << major;
    }
    // Masks and channels of unknown types are stepped over wherever they lie.
    PspLayout layout = OneLayer(5, 24, 2, false);
    auto& channels = layout.Layers[0].Channels;
    channels.insert(channels.begin(), PspChannel{2, 0, Bytes(Width * Height, 0xEE)});
    channels.insert(channels.begin() + 2, PspChannel{0, 7, Bytes(50, 0xDD)});
    TPSPGraphic graphic;
    Load(graphic, MakePsp(layout));
    std::erase_if(channels, [](const PspChannel& c) { return c.BitmapType == 2 || c.ChannelType == 7; });
    EXPECT_TRUE(ShowsLayer(graphic, layout));

    // A grayscale image, its signature in lower case, resolution per centimetre.
    PspLayout gray = OneLayer(5, 8, 0, false);
    gray.Grayscale = 1;
    gray.Palette.clear();
    gray.Signature = "paint shop pro image file";
    gray.Resolution = 40;
    gray.ResolutionMetric = 2;
    Load(graphic, MakePsp(gray));
    EXPECT_FLOAT_EQ(graphic.Properties.XResolution, 101.6f);
    EXPECT_EQ(graphic.Palette().palPalEntry.at(200).peGreen, 200);
    EXPECT_TRUE(ShowsLayer(graphic, gray));
}

// A small layer shows at its place, cut at the canvas's edge, the rest clear.
TEST(PSP, LayersSmallerThanTheCanvasShowAtTheirPlace) {
    for (const auto& [left, top] : {std::pair{3, 1}, {-2, -1}}) {
        PspLayout layout = OneLayer(5, 24, 2, false);
        layout.Width = Width + 4, layout.Height = Height + 2;
        PspLayer& layer = layout.Layers[0];
        const int32_t rects[8] = {left - 1, top, left + int32_t(Width), top + int32_t(Height), 1, 0, 1 + int32_t(Width),
                                  int32_t(Height)};
        std::copy(rects, rects + 4, layer.ImageRect), std::copy(rects + 4, rects + 8, layer.SavedRect);
        TPSPGraphic graphic;
        Load(graphic, MakePsp(layout));
        for (int y = 0; y < int(layout.Height); ++y)
            for (int x = 0; x < int(layout.Width); ++x) {
                const bool in = x >= left && x < left + int(Width) && y >= top && y < top + int(Height);
                ASSERT_EQ(graphic.ScanLine(y)[4 * x + 2], in ? layer.Channels[0].Rows[(y - top) * Width + x - left] : 0);
                ASSERT_EQ(graphic.ScanLine(y)[4 * x + 3], in ? 255 : 0) << x << "," << y;
            }
    }
}

TEST(PSP, RefusesHostileFiles) {
    const auto changed = [](const std::function<void(PspLayout&)>& change) {
        PspLayout layout = OneLayer(5, 24, 1, false);
        change(layout);
        return MakePsp(layout);
    };
    const Bytes good = changed([](PspLayout&) {});
    // The attributes follow the file header, the block header and the chunk
    // length; the first channel block follows its marker.
    const size_t attributesAt = 36 + 10 + 4, compressionAt = attributesAt + 17;
    const uint8_t marker[] = {'~', 'B', 'K', 0, 5, 0};
    const size_t channelAt = size_t(std::search(good.begin(), good.end(), marker, marker + 6) - good.begin()) + 6;
    // A 16384 x 16384 image whose channels pack into a few bytes each.
    PspLayout huge = OneLayer(5, 8, 1, false);
    huge.Width = huge.Height = 16384;
    huge.Layers[0].Channels[0].Rows.assign(200, 0);

    const std::string invalid = "Cannot load image. Invalid or unexpected PSP image format.";
    const std::string unsupported = "Cannot load image. The compression scheme is not supported for PSP files.";
    ExpectRefusals<TPSPGraphic>({
        {"signature", changed([](PspLayout& l) { l.Signature = "Paint Shop Pro Image Fyle"; }), invalid},
        {"version 2", changed([](PspLayout& l) { l.Major = 2; }), invalid},
        {"no attributes first", Patched(good, 36 + 4, {7}), invalid},
        {"16 bits per sample", changed([](PspLayout& l) { l.BitDepth = 48; }), "Invalid color format in PSP file."},
        {"JPEG", changed([](PspLayout& l) { l.Compression = 3; }), unsupported},
        {"unknown compression", Patched(good, compressionAt, {9}), unsupported},
        {"huge width", Patched(good, attributesAt, {0, 0, 0, 0x20}), invalid},
        {"zero height", changed([](PspLayout& l) { l.Height = 0; }), invalid},
        {"huge image from few bytes", MakePsp(huge), invalid},
        {"channel past the end", Cut(good, good.size() - 1), invalid},
        {"channel block past the end", Patched(good, channelAt, {0xFF, 0xFF, 0xFF, 0x7F}), invalid},
        {"no layers", changed([](PspLayout& l) { l.Layers.clear(); }), invalid},
        {"only vector layers", changed([](PspLayout& l) { l.Layers[0].Type = 3; }), invalid},
        {"truncated header", Bytes(20, 'P'), "Stream read error"},
    });
    EXPECT_TRUE(Probe<TPSPGraphic>(good));
    EXPECT_FALSE(Probe<TPSPGraphic>(Cut(good, 36)));
    EXPECT_FALSE(Probe<TPSPGraphic>(changed([](PspLayout& l) { l.Major = 2; })));
}

}  // namespace
