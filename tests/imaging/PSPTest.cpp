#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "GraphicFormats.h"
#include "PSPFiles.h"
#include "ReaderErrors.h"

namespace {

using imagefiles::Bytes;
using imagefiles::MakePsp;
using imagefiles::PspChannel;
using imagefiles::PspLayer;
using imagefiles::PspLayout;

constexpr uint32_t Width = 13, Height = 5;

void Load(TPSPGraphic& graphic, const Bytes& file) {
    TMemoryStream stream(file.data(), file.size());
    graphic.LoadFromStream(stream);
}

Bytes PatternRows(size_t size, uint32_t seed) {
    Bytes rows(size);
    for (size_t i = 0; i < size; ++i) rows[i] = static_cast<uint8_t>(i % 11 < 5 ? seed * 50 : i * 29 + seed * 7);
    return rows;
}

uint32_t RowSize(uint16_t depth) { return (Width * (depth == 24 ? 8 : depth) + 7) / 8; }

// A one-layer image of the given depth; colour images get red, green and
// blue channels (and a transparency mask), others one composite channel
// and a palette.
PspLayout OneLayer(uint16_t major, uint16_t depth, uint16_t compression, bool alpha, uint32_t padding = 0) {
    PspLayout layout;
    layout.Major = major;
    layout.Width = Width;
    layout.Height = Height;
    layout.BitDepth = depth;
    layout.Compression = compression;
    PspLayer layer;
    layer.Type = major == 3 ? 0 : 1;
    const size_t stride = RowSize(depth) + padding;
    if (depth == 24) {
        for (uint16_t type = 1; type <= 3; ++type)
            layer.Channels.push_back({0, type, PatternRows(stride * Height, type)});
    } else {
        layer.Channels.push_back({0, 0, PatternRows(stride * Height, 0)});
        for (int i = 0; i < 256; ++i) layout.Palette.insert(layout.Palette.end(), {uint8_t(i), uint8_t(255 - i), 9, 0});
    }
    if (alpha) layer.Channels.push_back({1, 0, PatternRows(stride * Height, 4)});
    layout.Layers.push_back(layer);
    return layout;
}

// The scan line the reader should make of row y of the first layer.
Bytes ExpectedRow(const PspLayout& layout, uint32_t y) {
    const std::vector<PspChannel>& channels = layout.Layers.back().Channels;
    const size_t stride = channels[0].Rows.size() / Height;
    const auto at = [&](size_t channel, size_t x) { return channels[channel].Rows[y * stride + x]; };
    if (layout.BitDepth != 24) {
        const auto row = channels[0].Rows.begin() + y * stride;
        return Bytes(row, row + RowSize(layout.BitDepth));
    }
    Bytes out;
    for (uint32_t x = 0; x < Width; ++x) {
        out.insert(out.end(), {at(2, x), at(1, x), at(0, x)});
        if (channels.size() == 4) out.push_back(at(3, x));
    }
    return out;
}

void ExpectLayerShown(const TPSPGraphic& graphic, const PspLayout& layout) {
    ASSERT_EQ(graphic.Width(), int(Width));
    ASSERT_EQ(graphic.Height(), int(Height));
    for (uint32_t y = 0; y < Height; ++y) {
        const Bytes expected = ExpectedRow(layout, y);
        EXPECT_EQ(Bytes(graphic.ScanLine(y), graphic.ScanLine(y) + expected.size()), expected) << "row " << y;
    }
}

struct DepthCase {
    const char* name;
    uint16_t major, depth, compression;
    bool alpha;
    uint32_t padding;
    TPixelFormat format;
};

class PSPDepths : public ::testing::TestWithParam<DepthCase> {};

TEST_P(PSPDepths, EveryVersionDepthAndCompressionLoadsTheFirstLayer) {
    const DepthCase c = GetParam();
    const PspLayout layout = OneLayer(c.major, c.depth, c.compression, c.alpha, c.padding);
    TPSPGraphic graphic;
    Load(graphic, MakePsp(layout));
    const TImageProperties& p = graphic.Properties;
    EXPECT_EQ(p.FormatVersion, c.major);
    EXPECT_EQ(p.ColorScheme, c.depth == 24 ? csRGB : csIndexed);
    EXPECT_EQ(p.BitsPerPixel, c.depth);
    EXPECT_EQ(p.Compression, c.compression == 0 ? ckNone : c.compression == 1 ? ckRLE : ckLZ77);
    EXPECT_FLOAT_EQ(p.XResolution, 72);
    ASSERT_EQ(graphic.PixelFormat(), c.format);
    ExpectLayerShown(graphic, layout);
    if (c.depth != 24) {
        ASSERT_EQ(graphic.Palette().palPalEntry.size(), 256u);
        EXPECT_EQ(graphic.Palette().palPalEntry[3].peRed, 9);  // entries are stored blue first
        EXPECT_EQ(graphic.Palette().palPalEntry[3].peBlue, 3);
    }
}

INSTANTIATE_TEST_SUITE_P(All, PSPDepths,
                         ::testing::Values(DepthCase{"v3_rgb_raw", 3, 24, 0, false, 0, pf24bit},
                                           DepthCase{"v4_rgb_runs", 4, 24, 1, false, 0, pf24bit},
                                           DepthCase{"v5_rgba_deflate", 5, 24, 2, true, 0, pf32bit},
                                           DepthCase{"v3_rgba_runs", 3, 24, 1, true, 0, pf32bit},
                                           DepthCase{"v6_indexed8_runs", 6, 8, 1, false, 0, pf8bit},
                                           DepthCase{"v5_indexed8_with_mask", 5, 8, 2, true, 0, pf8bit},
                                           DepthCase{"v5_indexed4_raw", 5, 4, 0, false, 0, pf4bit},
                                           DepthCase{"v4_indexed4_padded_rows", 4, 4, 1, false, 1, pf4bit},
                                           DepthCase{"v5_indexed1_deflate", 5, 1, 2, false, 0, pf1bit},
                                           DepthCase{"v3_indexed1_padded_rows", 3, 1, 1, false, 2, pf1bit}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PSP, LayoutsOfOtherWriters) {
    // Layers without pixels come before the first raster layer.
    for (uint16_t major : {3, 5}) {
        PspLayout layout = OneLayer(major, 24, 1, false);
        PspLayer skipped = layout.Layers[0];
        skipped.Type = major == 3 ? 1 : 3;  // a floating selection, a vector layer
        for (auto& channel : skipped.Channels) channel.Rows.assign(channel.Rows.size(), 1);
        layout.Layers.insert(layout.Layers.begin(), skipped);
        TPSPGraphic graphic;
        Load(graphic, MakePsp(layout));
        layout.Layers.erase(layout.Layers.begin());
        ExpectLayerShown(graphic, layout);
    }
    // Masks and channels of unknown types are stepped over wherever they lie.
    {
        PspLayout layout = OneLayer(5, 24, 2, false);
        auto& channels = layout.Layers[0].Channels;
        channels.insert(channels.begin(), PspChannel{2, 0, Bytes(Width * Height, 0xEE)});
        channels.insert(channels.begin() + 2, PspChannel{0, 7, Bytes(50, 0xDD)});
        TPSPGraphic graphic;
        Load(graphic, MakePsp(layout));
        std::erase_if(channels, [](const PspChannel& c) { return c.BitmapType == 2 || c.ChannelType == 7; });
        ExpectLayerShown(graphic, layout);
    }
    // A grayscale image, its signature in lower case, resolution per centimetre.
    {
        PspLayout layout = OneLayer(5, 8, 0, false);
        layout.Grayscale = 1;
        layout.Palette.clear();
        layout.Signature = "paint shop pro image file";
        layout.Resolution = 40;
        layout.ResolutionMetric = 2;
        TPSPGraphic graphic;
        Load(graphic, MakePsp(layout));
        EXPECT_EQ(graphic.Properties.ColorScheme, csGray);
        EXPECT_FLOAT_EQ(graphic.Properties.XResolution, 101.6f);
        EXPECT_FLOAT_EQ(graphic.Properties.YResolution, 101.6f);
        EXPECT_EQ(graphic.Palette().palPalEntry[200].peGreen, 200);
        ExpectLayerShown(graphic, layout);
    }
}

TEST(PSP, ProbeLeavesThePositionAndWantsVersion3) {
    const Bytes file = MakePsp(OneLayer(5, 24, 0, false));
    TMemoryStream stream(file.data(), file.size());
    EXPECT_TRUE(TPSPGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    TMemoryStream shortStream(file.data(), 36);
    EXPECT_FALSE(TPSPGraphic::ProbeStream(shortStream));
    PspLayout old = OneLayer(5, 24, 0, false);
    old.Major = 2;
    const Bytes oldFile = MakePsp(old);
    TMemoryStream oldStream(oldFile.data(), oldFile.size());
    EXPECT_FALSE(TPSPGraphic::ProbeStream(oldStream));
}

Bytes Changed(const std::function<void(PspLayout&)>& change) {
    PspLayout layout = OneLayer(5, 24, 1, false);
    change(layout);
    return MakePsp(layout);
}

// Offsets in a version 5 file: the attributes follow the file header, the
// block header and the chunk length.
constexpr size_t AttributesAt = 36 + 10 + 4, CompressionAt = AttributesAt + 17;

Bytes Patched(Bytes file, size_t offset, uint32_t value, int bytes = 4) {
    for (int i = 0; i < bytes; ++i) file[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    return file;
}

// A 16384 x 16384 image whose channels pack into a few bytes each.
Bytes HugeFromFewBytes() {
    PspLayout layout = OneLayer(5, 8, 1, false);
    layout.Width = layout.Height = 16384;
    for (auto& channel : layout.Layers[0].Channels) channel.Rows.assign(200, 0);
    return MakePsp(layout);
}

// The first channel block claims more bytes than the file holds.
Bytes ChannelBlockPastTheEnd() {
    Bytes file = Changed([](PspLayout&) {});
    const uint8_t marker[] = {'~', 'B', 'K', 0, 5, 0};
    const auto channel = std::search(file.begin(), file.end(), std::begin(marker), std::end(marker));
    return Patched(file, size_t(channel - file.begin()) + sizeof(marker), 0x7FFFFFFF);
}

const char* const Invalid = "Cannot load image. Invalid or unexpected PSP image format.";
const char* const Unsupported = "Cannot load image. The compression scheme is not supported for PSP files.";

using imagefiles::HostileCase;

class PSPHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(PSPHostile, FailsWithAClearError) {
    EXPECT_EQ(imagefiles::LoadError<TPSPGraphic>(GetParam().make()), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    All, PSPHostile,
    ::testing::Values(
        HostileCase{"signature",
                    [] { return Changed([](PspLayout& l) { l.Signature = "Paint Shop Pro Image Fyle"; }); }, Invalid},
        HostileCase{"version2", [] { return Changed([](PspLayout& l) { l.Major = 2; }); }, Invalid},
        HostileCase{"no_attributes_first", [] { return Patched(Changed([](PspLayout&) {}), 36 + 4, 7); }, Invalid},
        HostileCase{"sixteen_bits_per_sample", [] { return Changed([](PspLayout& l) { l.BitDepth = 48; }); },
                    "Invalid color format in PSP file."},
        HostileCase{"jpeg", [] { return Changed([](PspLayout& l) { l.Compression = 3; }); }, Unsupported},
        HostileCase{"unknown_compression", [] { return Patched(Changed([](PspLayout&) {}), CompressionAt, 9, 2); },
                    Unsupported},
        HostileCase{"huge_width", [] { return Patched(Changed([](PspLayout&) {}), AttributesAt, 1u << 29); }, Invalid},
        HostileCase{"zero_height", [] { return Changed([](PspLayout& l) { l.Height = 0; }); }, Invalid},
        HostileCase{"huge_image_from_few_bytes", HugeFromFewBytes, Invalid},
        HostileCase{"channel_past_the_end",
                    [] {
                        Bytes file = Changed([](PspLayout&) {});
                        file.resize(file.size() - 1);
                        return file;
                    },
                    Invalid},
        HostileCase{"channel_block_past_the_end", ChannelBlockPastTheEnd, Invalid},
        HostileCase{"no_layers", [] { return Changed([](PspLayout& l) { l.Layers.clear(); }); }, Invalid},
        HostileCase{"only_vector_layers", [] { return Changed([](PspLayout& l) { l.Layers[0].Type = 3; }); }, Invalid},
        HostileCase{"truncated_header", [] { return Bytes(20, 'P'); }, "Stream read error"}),
    imagefiles::HostileCaseName);

}  // namespace
