#include <gtest/gtest.h>

#include "GraphicFormats.h"
#include "PSDFiles.h"
#include "ToolFiles.h"

namespace {

using namespace imagefiles;

struct ModeCase {
    uint16_t mode, channels, depth;
    TPixelFormat format;
};

uint8_t Sample(const PsdLayout& layout, uint32_t plane, uint32_t x, uint32_t y) {
    const uint8_t* row = layout.Planes.data() + (size_t(plane) * layout.Height + y) * PsdRowSize(layout);
    if (layout.Depth == 16) return TColorManager::Scale16To8(static_cast<uint16_t>(row[2 * x] << 8 | row[2 * x + 1]));
    return row[x];
}

uint8_t InkToLight(int ink, int black) {
    return static_cast<uint8_t>(std::clamp(ink * black / 255 - ink - black + 255, 0, 255));
}

// The scan line the reader should make of row y.
Bytes ExpectedRow(const PsdLayout& layout, uint32_t y) {
    if (layout.Depth == 1) {
        const auto* row = layout.Planes.data() + y * PsdRowSize(layout);
        return Bytes(row, row + PsdRowSize(layout));
    }
    Bytes out;
    for (uint32_t x = 0; x < layout.Width; ++x) {
        const auto s = [&](uint32_t plane) { return Sample(layout, plane, x, y); };
        // The channel after the colour channels is alpha; RGB needs three.
        switch (layout.Mode) {
            case 3:
            case 7:
                if (layout.Channels < 3) {
                    out.push_back(s(0));
                    break;
                }
                out.insert(out.end(), {s(2), s(1), s(0)});
                if (layout.Channels != 3) out.push_back(s(3));
                break;
            case 4: {
                const int black = 255 - s(3);
                out.insert(out.end(), {InkToLight(255 - s(2), black), InkToLight(255 - s(1), black),
                                       InkToLight(255 - s(0), black)});
                if (layout.Channels > 4) out.push_back(s(4));
                break;
            }
            case 9:
                out.insert(out.end(), 3, s(0) == 255 ? 255 : 0);
                if (layout.Channels > 3) out.push_back(s(3));
                break;
            case 5: out.push_back(0); break;  // a mode without pixels
            default:
                out.push_back(s(0));
                if ((layout.Mode == 1 || layout.Mode == 8) && layout.Channels > 1)
                    out.insert(out.end(), {s(0), s(0), s(1)});
                break;
        }
    }
    return out;
}

// A 13 x 5 document of the mode with flat and varied stretches in every
// plane, and resource and layer sections the reader must step over.
PsdLayout LayoutFor(const ModeCase& c, uint16_t compression = 1) {
    PsdLayout layout{1, c.channels, 13, 5, c.depth, c.mode, {}, Bytes(28, 1), Bytes(61, 2), compression, {}};
    const size_t rowSize = PsdRowSize(layout), planeSize = rowSize * layout.Height;
    for (uint32_t k = 0; k < c.channels; ++k)
        for (size_t i = 0; i < planeSize; ++i)
            layout.Planes.push_back(static_cast<uint8_t>(i % 16 < 7 ? k * 40 + i / 16 : i * 37 + k * 11));
    if (c.mode == 9)  // Lab rows alternate white (L 100, a = b = 0) and black
        for (size_t i = 0; i < planeSize; ++i) {
            layout.Planes[i] = i / rowSize % 2 == 0 ? 255 : 0;
            layout.Planes[planeSize + i] = layout.Planes[2 * planeSize + i] = 128;
        }
    if (c.mode == 2)
        for (int plane = 0; plane < 3; ++plane)
            for (int i = 0; i < 256; ++i) layout.ColorModeData.push_back(static_cast<uint8_t>(i * (plane + 1)));
    if (c.mode == 8) layout.ColorModeData = Bytes(300, 7);  // the duotone inks and curves
    return layout;
}

TEST(PSD, EveryModeDepthAndCompressionLoadsTheMergedImage) {
    const ModeCase cases[] = {{3, 3, 8, pf24bit},  {3, 4, 8, pf32bit},  {3, 6, 8, pf32bit},  {3, 3, 16, pf24bit},
                              {3, 4, 16, pf32bit}, {7, 3, 8, pf24bit},  {1, 1, 8, pf8bit},   {1, 2, 8, pf32bit},
                              {1, 2, 16, pf32bit}, {1, 1, 16, pf8bit},  {8, 1, 8, pf8bit},   {8, 2, 8, pf32bit},
                              {0, 1, 1, pf1bit},   {2, 1, 8, pf8bit},   {4, 4, 8, pf24bit},  {4, 5, 8, pf32bit},
                              {9, 4, 16, pf32bit}, {9, 3, 8, pf24bit},  {9, 4, 8, pf32bit},  {5, 1, 8, pf8bit},
                              {7, 1, 8, pf8bit},   {7, 2, 16, pf8bit},  {3, 1, 8, pf8bit}};
    for (const ModeCase& c : cases)
        for (uint16_t compression : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", " << c.channels << " channels of " << c.depth
                                            << " bits, compression " << compression);
            const PsdLayout layout = LayoutFor(c, compression);
            TPSDGraphic graphic;
            Load(graphic, MakePsd(layout));
            ASSERT_EQ(graphic.PixelFormat(), c.format);
            ASSERT_EQ(graphic.Width(), 13);
            std::vector<Bytes> rows;
            for (uint32_t y = 0; y < layout.Height; ++y) rows.push_back(ExpectedRow(layout, y));
            EXPECT_TRUE(ShowsRows(graphic, rows));
            const auto& palette = graphic.Palette().palPalEntry;
            if (c.mode == 2) {
                ASSERT_EQ(palette.size(), 256u);
                EXPECT_EQ(palette[5], (TPaletteEntry{5, 10, 15, 0}));
            } else if (c.format != pf24bit && c.format != pf32bit && c.mode != 5) {
                ASSERT_EQ(palette.size(), c.depth == 1 ? 2u : 256u);
                EXPECT_EQ(palette[0].peRed, c.mode == 0 ? 255 : 0) << "in bitmap mode a 0 bit is white";
            }
        }
}

// Offsets in a file without colour mode data or resources.
constexpr size_t ChannelsAt = 12, WidthAt = 18, ColorDataAt = 26, ResourcesAt = 30, LayersAt = 34, CompressionAt = 38;

// A gray document whose rows each claim 2 packed bytes, each a literal of
// one byte.
Bytes FewPackedBytes(uint32_t width, uint32_t height) {
    PsdLayout layout{1, 1, width, height, 8, 1, {}, {}, {}, 0, {}};
    Bytes file = Patched(MakePsd(layout), CompressionAt, {0, 1});
    for (uint32_t y = 0; y < height; ++y) Put16(file, 2);
    for (uint32_t y = 0; y < height; ++y) file.insert(file.end(), {0, static_cast<uint8_t>(10 + y)});
    return file;
}

TEST(PSD, RefusesHostileFiles) {
    const auto changed = [](const std::function<void(PsdLayout&)>& change, uint16_t compression = 1) {
        PsdLayout layout = LayoutFor({3, 3, 8, pf24bit}, compression);
        layout.Resources.clear();
        layout.LayerSection.clear();
        change(layout);
        return MakePsd(layout);
    };
    const Bytes good = changed([](PsdLayout&) {}), raw = changed([](PsdLayout&) {}, 0);
    const std::string invalid = "Cannot load image. Invalid or unexpected PSD or PDD image format.";
    const std::string color = "Invalid color format in PSD or PDD file.";
    ExpectRefusals<TPSDGraphic>({
        {"signature", Patched(good, 0, {'7'}), invalid},
        {"large document version", changed([](PsdLayout& l) { l.Version = 2; }), invalid},
        {"no channels", changed([](PsdLayout& l) { l.Channels = 0; }), invalid},
        {"colour data overrun", Patched(good, ColorDataAt, {0x7F, 0xFF, 0xFF, 0xFF}), invalid},
        {"resources overrun", Patched(good, ResourcesAt, {0, 0, 3, 0xE8}), invalid},
        {"layers overrun", Patched(good, LayersAt, {0xFF, 0xFF, 0xFF, 0xF0}), invalid},
        {"huge width", Patched(good, WidthAt, {0x20, 0, 0, 0}), invalid},
        {"zero height", changed([](PsdLayout& l) { l.Height = 0; }), invalid},
        {"float samples", changed([](PsdLayout& l) { l.Depth = 32; }), color},
        {"one-bit RGB", changed([](PsdLayout& l) { l.Depth = 1; }), color},
        {"zip", changed([](PsdLayout& l) { l.Compression = 2; }),
         "Cannot load image. The compression scheme is not supported for PSD or PDD files."},
        {"raw data short", Cut(raw, raw.size() - 1), invalid},
        {"row table of 65535 channels", Patched(good, ChannelsAt, {0xFF, 0xFF}), invalid},
        {"packed rows short", Cut(good, good.size() - 1), invalid},
        {"huge image from few bytes", FewPackedBytes(16384, 16384), invalid},
        {"truncated header", Bytes(20, '8'), "Stream read error"},
    });
    EXPECT_TRUE(Probe<TPSDGraphic>(good));
    EXPECT_TRUE(Probe<TPSDGraphic>(Patched(good, 0, {'8', 'b', 'p', 's'})));
    EXPECT_FALSE(Probe<TPSDGraphic>(Cut(good, 26)));
    EXPECT_FALSE(Probe<TPSDGraphic>(changed([](PsdLayout& l) { l.Version = 2; })));
}

TEST(PSD, RowsThatUnpackShortNeverShowUnwrittenBytes) {
    // Each row unpacks to one byte: the rest keeps what the first row's
    // buffer held, which is zero. The padding makes the data long enough for
    // the best ratio of PackBits.
    Bytes file = FewPackedBytes(9, 3);
    file.insert(file.end(), 64, 0);
    TPSDGraphic graphic;
    Load(graphic, file);
    EXPECT_EQ(graphic.ScanLine(2)[0], 12);
    EXPECT_EQ(graphic.ScanLine(2)[1], 0);
}

// ImageMagick writes documents with a layer section; the pixels it meant to
// store (the source after the same conversion) are what our reader must
// show. Its own reader is no reference: it blends colours with alpha and
// refuses palette documents it wrote. ImageMagick works at 16 bits and rounds
// what it stores and what it prints separately; 16-bit samples narrow by
// truncation here, by rounding there; CMYK converts with other arithmetic.
TEST(PSD, DecodesToThePixelsImageMagickStored) {
    ASSERT_TRUE(ToolsPresent({"/usr/bin/convert"}));
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
    const std::pair<const char*, int> writers[] = {
        {"-alpha off -depth 8 -compress None", 0}, {"-alpha off -depth 8 -compress RLE", 0},
        {"-depth 8 -compress RLE", 0},             {"-depth 8 -compress None", 0},
        {"-alpha off -depth 16 -compress None", 1}, {"-depth 16 -compress RLE", 1},
        {"-alpha off -depth 8 -colorspace Gray", 1}, {"-alpha off -depth 16 -colorspace Gray", 1},
        {"-alpha off -depth 8 -type Palette", 1},  {"-alpha off -depth 1 -type Bilevel", 0},
        {"-alpha off -depth 8 -colorspace CMYK", 2}, {"-depth 8 -colorspace Gray", 1},
        {"-depth 16 -colorspace Gray -compress RLE", 1}, {"-depth 8 -colorspace CMYK", 2}};
    for (const auto& [options, tolerance] : writers) {
        SCOPED_TRACE(options);
        const std::string convert = "/usr/bin/convert " + folder / "source.pam" + " " + options;
        ASSERT_TRUE(RunTool(convert + " " + folder / "image.psd"));
        ASSERT_TRUE(RunTool(convert + " -depth 8 rgba:" + folder / "pixels"));
        const Bytes pixels = ReadFileBytes(folder / "pixels");
        ASSERT_EQ(pixels.size(), size_t(width) * height * 4);
        TPSDGraphic graphic;
        Load(graphic, ReadFileBytes(folder / "image.psd"));
        const auto theirs = [&](int x, int y) { return &pixels[(size_t(y) * width + x) * 4]; };
        const auto color = [&](int x, int y) { return RGB(theirs(x, y)[0], theirs(x, y)[1], theirs(x, y)[2]); };
        EXPECT_TRUE(ShowsPixels(graphic, width, height, color, tolerance));
        const bool alpha = graphic.PixelFormat() == pf32bit;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                ASSERT_NEAR(alpha ? graphic.ScanLine(y)[4 * x + 3] : 255, theirs(x, y)[3], tolerance) << x << "," << y;
    }
}

}  // namespace
