#include <gtest/gtest.h>

#include <functional>

#include "GraphicFormats.h"
#include "PSDFiles.h"
#include "ReaderErrors.h"
#include "ToolFiles.h"

namespace {

using imagefiles::Bytes;
using imagefiles::MakePsd;
using imagefiles::PsdLayout;

void Load(TPSDGraphic& graphic, const Bytes& file) {
    TMemoryStream stream(file.data(), file.size());
    graphic.LoadFromStream(stream);
}

struct ModeCase {
    const char* name;
    uint16_t mode, channels, depth;
    TPixelFormat format;
    TColorScheme scheme;
};

// Bytes with flat stretches for the runs and varied ones for the literals.
uint8_t PatternByte(uint32_t plane, size_t i) {
    return static_cast<uint8_t>(i % 16 < 7 ? plane * 40 + i / 16 : i * 37 + plane * 11);
}

uint8_t Sample(const PsdLayout& layout, uint32_t plane, uint32_t x, uint32_t y) {
    const size_t rowSize = imagefiles::PsdRowSize(layout);
    const uint8_t* row = layout.Planes.data() + (size_t(plane) * layout.Height + y) * rowSize;
    if (layout.Depth == 16) return TColorManager::Scale16To8(static_cast<uint16_t>(row[2 * x] << 8 | row[2 * x + 1]));
    return row[x];
}

uint8_t InkToLight(int ink, int black) {
    return static_cast<uint8_t>(std::clamp(ink * black / 255 - ink - black + 255, 0, 255));
}

// The scan line the reader should make of row y.
Bytes ExpectedRow(const PsdLayout& layout, uint32_t y) {
    const size_t rowSize = imagefiles::PsdRowSize(layout);
    if (layout.Depth == 1) {
        const auto* row = layout.Planes.data() + y * rowSize;
        return Bytes(row, row + rowSize);
    }
    Bytes out;
    for (uint32_t x = 0; x < layout.Width; ++x) {
        const auto s = [&](uint32_t plane) { return Sample(layout, plane, x, y); };
        switch (layout.Mode) {
            case 3:
            case 7:
                out.insert(out.end(), {s(2), s(1), s(0)});
                if (layout.Channels != 3) out.push_back(s(3));
                break;
            case 4: {
                const int black = 255 - s(3);
                out.insert(out.end(), {InkToLight(255 - s(2), black), InkToLight(255 - s(1), black),
                                       InkToLight(255 - s(0), black)});
                break;
            }
            case 9: out.insert(out.end(), 3, s(0) == 255 ? 255 : 0); break;
            case 5: out.push_back(0); break;  // a mode without pixels
            default: out.push_back(s(0)); break;
        }
    }
    return out;
}

PsdLayout LayoutFor(const ModeCase& c, uint16_t compression) {
    PsdLayout layout;
    layout.Width = 13;
    layout.Height = 5;
    layout.Mode = c.mode;
    layout.Channels = c.channels;
    layout.Depth = c.depth;
    layout.Compression = compression;
    layout.Resources = imagefiles::PsdResolutionResource();
    const size_t planeSize = imagefiles::PsdRowSize(layout) * layout.Height;
    for (uint32_t k = 0; k < c.channels; ++k)
        for (size_t i = 0; i < planeSize; ++i) layout.Planes.push_back(PatternByte(k, i));
    if (c.mode == 9) {
        // Lab rows alternate white (L 100, a = b = 0) and black.
        for (size_t i = 0; i < planeSize; ++i) {
            const bool white = i / imagefiles::PsdRowSize(layout) % 2 == 0;
            layout.Planes[i] = white ? 255 : 0;
            layout.Planes[planeSize + i] = layout.Planes[2 * planeSize + i] = 128;
        }
    }
    if (c.mode == 2)
        for (int plane = 0; plane < 3; ++plane)
            for (int i = 0; i < 256; ++i) layout.ColorModeData.push_back(static_cast<uint8_t>(i * (plane + 1)));
    if (c.mode == 8) layout.ColorModeData = Bytes(300, 7);  // the duotone inks and curves
    return layout;
}

class PSDModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(PSDModes, EveryModeDepthAndCompressionLoadsTheMergedImage) {
    const ModeCase c = GetParam();
    for (uint16_t compression : {0, 1})
        for (bool layers : {false, true}) {
            SCOPED_TRACE(testing::Message() << "compression " << compression << " layers " << layers);
            PsdLayout layout = LayoutFor(c, compression);
            if (layers) layout.LayerSection = imagefiles::PsdLayerSection(layout);
            TPSDGraphic graphic;
            Load(graphic, MakePsd(layout));

            const TImageProperties& p = graphic.Properties;
            EXPECT_EQ(p.ColorScheme, c.scheme);
            EXPECT_EQ(p.ChannelCount, c.channels);
            EXPECT_EQ(p.BitsPerSample, c.depth);
            EXPECT_EQ(p.Compression, compression == 1 ? ckPackBits : ckNone);
            EXPECT_EQ(p.Flags, c.mode == 0 ? ifBigEndian | ifMinIsWhite : ifBigEndian);
            ASSERT_EQ(graphic.PixelFormat(), c.format);
            ASSERT_EQ(graphic.Width(), 13);
            ASSERT_EQ(graphic.Height(), 5);
            for (uint32_t y = 0; y < 5; ++y) {
                const Bytes expected = ExpectedRow(layout, y);
                EXPECT_EQ(Bytes(graphic.ScanLine(y), graphic.ScanLine(y) + expected.size()), expected) << "row " << y;
            }
            const auto& palette = graphic.Palette().palPalEntry;
            if (c.mode == 2) {
                ASSERT_EQ(palette.size(), 256u);
                EXPECT_EQ(palette[5].peRed, 5);
                EXPECT_EQ(palette[5].peGreen, 10);
                EXPECT_EQ(palette[5].peBlue, 15);
            } else if (c.scheme == csGray) {
                ASSERT_EQ(palette.size(), c.depth == 1 ? 2u : 256u);
                // Bitmap mode: a 0 bit is white.
                EXPECT_EQ(palette[0].peRed, c.mode == 0 ? 255 : 0);
            }
        }
}

INSTANTIATE_TEST_SUITE_P(
    All, PSDModes,
    ::testing::Values(ModeCase{"rgb8", 3, 3, 8, pf24bit, csRGB}, ModeCase{"rgba8", 3, 4, 8, pf32bit, csRGBA},
                      ModeCase{"rgb_extra_channels", 3, 6, 8, pf32bit, csRGBA},
                      ModeCase{"rgb16", 3, 3, 16, pf24bit, csRGB}, ModeCase{"rgba16", 3, 4, 16, pf32bit, csRGBA},
                      ModeCase{"multichannel", 7, 3, 8, pf24bit, csRGB}, ModeCase{"gray8", 1, 1, 8, pf8bit, csGray},
                      ModeCase{"gray_alpha8", 1, 2, 8, pf8bit, csGray}, ModeCase{"gray16", 1, 1, 16, pf8bit, csGray},
                      ModeCase{"duotone", 8, 1, 8, pf8bit, csGray}, ModeCase{"bitmap", 0, 1, 1, pf1bit, csGray},
                      ModeCase{"indexed", 2, 1, 8, pf8bit, csIndexed}, ModeCase{"cmyk8", 4, 4, 8, pf24bit, csCMYK},
                      ModeCase{"cmyk_alpha8", 4, 5, 8, pf24bit, csCMYK}, ModeCase{"lab8", 9, 3, 8, pf24bit, csCIELab},
                      ModeCase{"unknown_mode", 5, 1, 8, pf8bit, csUnknown}),
    [](const auto& info) { return std::string(info.param.name); });

// A 13 x 5 RGB file without colour mode data or resources, so that its
// section lengths lie at fixed offsets.
PsdLayout Small(uint16_t compression = 1) {
    PsdLayout layout = LayoutFor({"", 3, 3, 8, pf24bit, csRGB}, compression);
    layout.Resources.clear();
    return layout;
}
constexpr size_t ChannelsAt = 12, WidthAt = 18, ColorDataAt = 26, ResourcesAt = 30, LayersAt = 34, CompressionAt = 38;

Bytes Changed(const std::function<void(PsdLayout&)>& change, uint16_t compression = 1) {
    PsdLayout layout = Small(compression);
    change(layout);
    return MakePsd(layout);
}

Bytes Patched(Bytes file, size_t offset, uint32_t value, int bytes = 4) {
    for (int i = 0; i < bytes; ++i) file[offset + i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
    return file;
}

Bytes Shortened(Bytes file, size_t by) {
    file.resize(file.size() - by);
    return file;
}

// A gray 16384 x 16384 document whose rows all claim 2 packed bytes.
Bytes HugeFromFewBytes() {
    PsdLayout layout;
    layout.Width = layout.Height = 16384;
    layout.Mode = 1;
    layout.Channels = 1;
    Bytes file = Patched(MakePsd(layout), CompressionAt, 1, 2);
    for (uint32_t y = 0; y < layout.Height; ++y) imagefiles::Put16(file, 2);
    for (uint32_t y = 0; y < layout.Height; ++y) file.insert(file.end(), {0x81, 0});
    return file;
}

const char* const Invalid = "Cannot load image. Invalid or unexpected PSD or PDD image format.";
const char* const InvalidColor = "Invalid color format in PSD or PDD file.";

using imagefiles::HostileCase;

class PSDHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(PSDHostile, FailsWithAClearError) {
    EXPECT_EQ(imagefiles::LoadError<TPSDGraphic>(GetParam().make()), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    All, PSDHostile,
    ::testing::Values(
        HostileCase{"signature", [] { return Patched(MakePsd(Small()), 0, '7', 1); }, Invalid},
        HostileCase{"large_document_version", [] { return Changed([](PsdLayout& l) { l.Version = 2; }); }, Invalid},
        HostileCase{"no_channels", [] { return Changed([](PsdLayout& l) { l.Channels = 0; }); }, Invalid},
        HostileCase{"color_data_overrun", [] { return Patched(MakePsd(Small()), ColorDataAt, 0x7FFFFFFF); }, Invalid},
        HostileCase{"resources_overrun", [] { return Patched(MakePsd(Small()), ResourcesAt, 1000); }, Invalid},
        HostileCase{"layers_overrun", [] { return Patched(MakePsd(Small()), LayersAt, 0xFFFFFFF0); }, Invalid},
        HostileCase{"huge_width", [] { return Patched(MakePsd(Small()), WidthAt, 1u << 29); }, Invalid},
        HostileCase{"zero_height", [] { return Changed([](PsdLayout& l) { l.Height = 0; }); }, Invalid},
        HostileCase{"rgb_with_two_channels", [] { return Changed([](PsdLayout& l) { l.Channels = 2; }); }, Invalid},
        HostileCase{"cmyk_with_three_channels", [] { return Changed([](PsdLayout& l) { l.Mode = 4; }); }, Invalid},
        HostileCase{"float_samples", [] { return Changed([](PsdLayout& l) { l.Depth = 32; }); }, InvalidColor},
        HostileCase{"one_bit_rgb", [] { return Changed([](PsdLayout& l) { l.Depth = 1; }); }, InvalidColor},
        HostileCase{"four_bit_gray", [] { return Changed([](PsdLayout& l) { l.Mode = 1, l.Depth = 4; }); },
                    InvalidColor},
        HostileCase{"zip", [] { return Changed([](PsdLayout& l) { l.Compression = 2; }); },
                    "Cannot load image. The compression scheme is not supported for PSD or PDD files."},
        HostileCase{"raw_data_short", [] { return Shortened(MakePsd(Small(0)), 1); }, Invalid},
        HostileCase{"row_table_of_65535_channels", [] { return Patched(MakePsd(Small()), ChannelsAt, 0xFFFF, 2); },
                    Invalid},
        HostileCase{"packed_rows_short", [] { return Shortened(MakePsd(Small()), 1); }, Invalid},
        HostileCase{"huge_image_from_few_bytes", HugeFromFewBytes, Invalid},
        HostileCase{"truncated_header", [] { return Bytes(20, '8'); }, "Stream read error"}),
    imagefiles::HostileCaseName);

TEST(PSD, ProbeLeavesThePositionAndWantsTheWholeHeader) {
    const Bytes file = MakePsd(Small());
    TMemoryStream stream(file.data(), file.size());
    stream.SetPosition(0);
    EXPECT_TRUE(TPSDGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    Bytes lower = Patched(file, 0, '8' << 24 | 'b' << 16 | 'p' << 8 | 's');
    TMemoryStream lowerStream(lower.data(), lower.size());
    EXPECT_TRUE(TPSDGraphic::ProbeStream(lowerStream));
    TMemoryStream shortStream(file.data(), 26);
    EXPECT_FALSE(TPSDGraphic::ProbeStream(shortStream));
    const Bytes version2 = Changed([](PsdLayout& l) { l.Version = 2; });
    TMemoryStream version2Stream(version2.data(), version2.size());
    EXPECT_FALSE(TPSDGraphic::ProbeStream(version2Stream));
}

TEST(PSD, RowsThatUnpackShortNeverShowUnwrittenBytes) {
    // Every packed row of the gray image is one literal byte: the rest of
    // each row keeps what the first row's buffer held, which is zero.
    PsdLayout layout;
    layout.Width = 9;
    layout.Height = 3;
    layout.Mode = 1;
    layout.Channels = 1;
    Bytes file = Patched(MakePsd(layout), CompressionAt, 1, 2);
    for (int y = 0; y < 3; ++y) imagefiles::Put16(file, 2);
    for (int y = 0; y < 3; ++y) file.insert(file.end(), {0, static_cast<uint8_t>(10 + y)});
    // Enough bytes for the best ratio of PackBits.
    file.insert(file.end(), 64, 0);
    TPSDGraphic graphic;
    Load(graphic, file);
    EXPECT_EQ(graphic.ScanLine(2)[0], 12);
    EXPECT_EQ(graphic.ScanLine(2)[1], 0);
}

// ImageMagick writes documents with a layer section; the pixels it meant to
// store (the source after the same conversion) are what our reader must
// show. Its own reader is no reference: it blends colours with alpha and
// refuses palette documents it wrote.
struct WriterCase {
    const char* options;
    // ImageMagick works at 16 bits and rounds the samples it stores and the
    // ones it prints separately; 16-bit samples narrow by truncation here,
    // by rounding there; CMYK converts with other arithmetic.
    int tolerance;
};

class ImageMagickPSD : public ::testing::TestWithParam<WriterCase> {};

TEST_P(ImageMagickPSD, DecodesToThePixelsImageMagickStored) {
    using namespace imagefiles;
    if (!ToolPresent("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
    const uint32_t width = 37, height = 23;
    const ScratchFolder folder;
    std::string header =
        Format("P7\nWIDTH %u\nHEIGHT %u\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", width, height);
    Bytes source(header.begin(), header.end());
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < 4; ++c)
                source.push_back(static_cast<uint8_t>(c == 3   ? (x + y) * 7
                                                      : x < 10 ? c * 60 + y
                                                               : x * 41 + y * 13 + c * 77));
    WriteFileBytes(folder / "source.pam", source);
    const std::string convert = "/usr/bin/convert " + folder / "source.pam" + " " + GetParam().options;
    ASSERT_TRUE(RunTool(convert + " " + folder / "image.psd"));
    ASSERT_TRUE(RunTool(convert + " -depth 8 rgba:" + folder / "pixels"));
    const Bytes pixels = ReadFileBytes(folder / "pixels");
    ASSERT_EQ(pixels.size(), size_t(width) * height * 4);

    TPSDGraphic graphic;
    Load(graphic, ReadFileBytes(folder / "image.psd"));
    ASSERT_EQ(graphic.Width(), int(width));
    ASSERT_EQ(graphic.Height(), int(height));
    const bool alpha = graphic.PixelFormat() == pf32bit;
    int worst = 0;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* theirs = &pixels[(size_t(y) * width + x) * 4];
            const TColor ours = graphic.Pixel(x, y);
            const int mine[4] = {GetRValue(ours), GetGValue(ours), GetBValue(ours),
                                 alpha ? graphic.ScanLine(y)[4 * x + 3] : 255};
            for (int c = 0; c < 4; ++c) worst = std::max(worst, std::abs(mine[c] - theirs[c]));
        }
    EXPECT_LE(worst, GetParam().tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Writers, ImageMagickPSD,
    ::testing::Values(WriterCase{"-alpha off -depth 8 -compress None", 0},
                      WriterCase{"-alpha off -depth 8 -compress RLE", 0}, WriterCase{"-depth 8 -compress RLE", 0},
                      WriterCase{"-depth 8 -compress None", 0}, WriterCase{"-alpha off -depth 16 -compress None", 1},
                      WriterCase{"-depth 16 -compress RLE", 1}, WriterCase{"-alpha off -depth 8 -colorspace Gray", 1},
                      WriterCase{"-alpha off -depth 16 -colorspace Gray", 1},
                      WriterCase{"-alpha off -depth 8 -type Palette", 1},
                      WriterCase{"-alpha off -depth 1 -type Bilevel", 0},
                      WriterCase{"-alpha off -depth 8 -colorspace CMYK", 2}));

}  // namespace
