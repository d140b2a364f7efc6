#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "GraphicFormats.h"
#include "ImageFiles.h"
#include "formats/PNGFilters.h"
#include "ReaderTests.h"
#include "ToolFiles.h"

namespace {

using namespace imagefiles;
using Chunks = std::vector<std::pair<std::string, Bytes>>;

const std::string Invalid = "Cannot load image. Invalid or unexpected PNG image format.";
const std::string ExtraData = "Cannot load image. Extra compressed data found in PNG file.";

Bytes Palette(int entries) {
    Bytes plte;
    for (int i = 0; i < entries; ++i)
        plte.insert(plte.end(), {uint8_t(i * 37 + 1), uint8_t(255 - i * 11), uint8_t(i * 5 + 100)});
    return plte;
}

// A gAMA or bKGD chunk's data: 32-bit or 16-bit values.
Bytes Values32(uint32_t value) {
    Bytes data;
    Put32(data, value);
    return data;
}
Bytes Values16(std::initializer_list<uint16_t> values) {
    Bytes data;
    for (uint16_t v : values) Put16(data, v);
    return data;
}

// A gamma of 1.0 in the file: linear samples, shown through the 1/2.2 curve.
const Bytes LinearGamma = Values32(100000);
uint8_t Corrected(uint16_t v) { return static_cast<uint8_t>(std::lrint(std::pow(v / 255.0, 1 / 2.2) * 255)); }

uint8_t Level(uint16_t v, uint8_t depth) {
    return depth == 16 ? static_cast<uint8_t>(v * 255u / 65535) : static_cast<uint8_t>(v * 255u / ((1u << depth) - 1));
}

TColor ExpectedColor(const PngImage& image, uint32_t x, uint32_t y, const Bytes& plte) {
    const auto level = [&](int channel) { return Level(image.Sample(x, y, channel), image.BitDepth); };
    switch (image.ColorType) {
        case 2:
        case 6: return RGB(level(0), level(1), level(2));
        case 3: {
            const uint16_t v = image.Sample(x, y, 0);
            return RGB(plte[3 * v], plte[3 * v + 1], plte[3 * v + 2]);
        }
        default: return RGB(level(0), level(0), level(0));
    }
}

// Whether the graphic shows the image, alpha included.
void ExpectImage(const TPNGGraphic& graphic, const PngImage& image, const Bytes& plte = {}) {
    ASSERT_TRUE(ShowsPixels(graphic, int(image.Width), int(image.Height),
                            [&](int x, int y) { return ExpectedColor(image, x, y, plte); }));
    for (uint32_t y = 0; image.ColorType == 6 && y < image.Height; ++y)
        for (uint32_t x = 0; x < image.Width; ++x)
            ASSERT_EQ(graphic.ScanLine(int(y))[4 * x + 3], Level(image.Sample(x, y, 3), image.BitDepth))
                << "alpha of " << x << "," << y;
}

struct Layout {
    uint8_t colorType, bitDepth;
    TPixelFormat format;
};

// A reader that inflates every image row by row, as it does damaged data.
class TRowByRowPNG : public TPNGGraphic {
public:
    TRowByRowPNG() { WholeInflateLimit = 0; }
};

// Both ways of inflating give the same bitmap, byte for byte.
void ExpectSameBitmaps(const TBitmap& whole, const TBitmap& rowByRow) {
    ASSERT_EQ(whole.Width(), rowByRow.Width());
    ASSERT_EQ(whole.PixelFormat(), rowByRow.PixelFormat());
    EXPECT_EQ(whole.Palette().palPalEntry.size(), rowByRow.Palette().palPalEntry.size());
    std::vector<Bytes> rows;
    for (int y = 0; y < whole.Height(); ++y) rows.emplace_back(whole.ScanLine(y), whole.ScanLine(y) + whole.RowBytes());
    EXPECT_TRUE(ShowsRows(rowByRow, rows));
}

class PNGLayouts : public ::testing::TestWithParam<Layout> {};

// Every layout, size and interlacing shows its pixels; inflating the data row
// by row, as damaged data is, gives the bitmap that inflating it whole gives,
// gamma correction and data split over chunks included.
TEST_P(PNGLayouts, EveryFilterSizeAndInterlaceDecodes) {
    const Layout layout = GetParam();
    for (bool interlaced : {false, true})
        for (auto [width, height] : {std::pair{1u, 1u}, {3u, 3u}, {5u, 2u}, {7u, 5u}, {19u, 13u}, {61u, 37u}}) {
            SCOPED_TRACE(testing::Message() << "interlaced " << interlaced << " " << width << "x" << height);
            const PngImage image = PatternImage(width, height, layout.bitDepth, layout.colorType, interlaced, width);
            const Bytes plte = layout.colorType == 3 ? Palette(1 << layout.bitDepth) : Bytes{};
            TPNGGraphic graphic;
            Load(graphic, MakePng(image, plte.empty() ? Chunks{} : Chunks{{"PLTE", plte}}));
            EXPECT_EQ(graphic.PixelFormat(), layout.format);
            ExpectImage(graphic, image, plte);

            PngWriter writer;
            writer.Header(image);
            if (!plte.empty()) writer.Chunk("PLTE", plte);
            const Bytes compressed = Deflate(FilteredScanlines(image, RotatingFilter));
            writer.Chunk("gAMA", LinearGamma).ImageData(compressed, {compressed.size() / 3, 0, 5}).End();
            TPNGGraphic whole;
            TRowByRowPNG rowByRow;
            Load(whole, writer.Data());
            Load(rowByRow, writer.Data());
            ExpectSameBitmaps(whole, rowByRow);
        }
}

INSTANTIATE_TEST_SUITE_P(
    AllColorTypes, PNGLayouts,
    ::testing::Values(Layout{0, 1, pf1bit}, Layout{0, 2, pf4bit}, Layout{0, 4, pf4bit}, Layout{0, 8, pf8bit},
                      Layout{0, 16, pf8bit}, Layout{2, 8, pf24bit}, Layout{2, 16, pf24bit}, Layout{3, 1, pf1bit},
                      Layout{3, 2, pf4bit}, Layout{3, 4, pf4bit}, Layout{3, 8, pf8bit}, Layout{4, 8, pf8bit},
                      Layout{4, 16, pf8bit}, Layout{6, 8, pf32bit}, Layout{6, 16, pf32bit}));

TEST(PNG, PacksSmallDepthsAsTheBitmapExpects) {
    // 2-bit gray widens to 4 bits scaled (v -> 5v); 2-bit indices keep their value.
    PngImage gray{4, 1, 2, 0, false, {0, 1, 2, 3}};
    TPNGGraphic graphic;
    Load(graphic, MakePng(gray));
    EXPECT_EQ(graphic.ScanLine(0)[0], 0x05);
    EXPECT_EQ(graphic.ScanLine(0)[1], 0xAF);
    EXPECT_EQ(graphic.Palette().palPalEntry.size(), 16u);

    PngImage indexed{4, 1, 2, 3, false, {0, 1, 2, 3}};
    Load(graphic, MakePng(indexed, {{"PLTE", Palette(4)}}));
    EXPECT_EQ(graphic.ScanLine(0)[0], 0x01);
    EXPECT_EQ(graphic.ScanLine(0)[1], 0x23);
}

TEST(PNG, PropertiesComeFromTheHeaderAndGamma) {
    const PngImage image = PatternImage(7, 3, 16, 6, true);
    const Bytes file = MakePng(image, {{"tEXt", {'a', 0, 'b'}}, {"gAMA", Values32(45455)}});
    TPNGGraphic graphic;
    TMemoryStream stream(file.data(), file.size());
    ASSERT_TRUE(graphic.ReadProperties(stream, 0));
    const TImageProperties& p = graphic.Properties;
    EXPECT_EQ(p.Width, 7u);
    EXPECT_EQ(p.Height, 3u);
    EXPECT_EQ(p.ColorScheme, csRGBA);
    EXPECT_EQ(p.SamplesPerPixel, 4);
    EXPECT_EQ(p.BitsPerSample, 16);
    EXPECT_EQ(p.BitsPerPixel, 64);
    EXPECT_EQ(p.Compression, ckLZ77);
    EXPECT_TRUE(p.Interlaced);
    EXPECT_TRUE(p.HasAlpha);
    EXPECT_EQ(p.Flags, ifBigEndian);
    EXPECT_FLOAT_EQ(p.Gamma, 0.45455f);

    // Without gAMA the scan ends at IEND and the gamma stays 1.
    const Bytes plain = MakePng(PatternImage(2, 2, 8, 0, false));
    TMemoryStream plainStream(plain.data(), plain.size());
    ASSERT_TRUE(graphic.ReadProperties(plainStream, 0));
    EXPECT_EQ(graphic.Properties.Gamma, 1.0f);
    EXPECT_EQ(graphic.Properties.ColorScheme, csGray);
}

TEST(PNG, GammaIsAppliedOnlyWhenTheFileGivesIt) {
    const PngImage image = PatternImage(16, 4, 8, 2, false);
    TPNGGraphic graphic;
    Load(graphic, MakePng(image, {{"gAMA", Values32(45455)}}));
    ExpectImage(graphic, image);
    EXPECT_TRUE(graphic.Properties.Flags & ifGammaCorrected);

    Load(graphic, MakePng(image, {{"gAMA", LinearGamma}}));
    EXPECT_EQ(graphic.Pixel(5, 1), RGB(Corrected(image.Sample(5, 1, 0)), Corrected(image.Sample(5, 1, 1)),
                                       Corrected(image.Sample(5, 1, 2))));

    // A later load without gAMA is not corrected.
    Load(graphic, MakePng(image));
    ExpectImage(graphic, image);
}

// Image data split over chunks in any way (empty ones too), a chunk type in
// lower case, the filters that look up at the first row of every pass,
// filter types that do not exist (the row stays as read), padding after the
// stream (libpng only warns) and chunks after the image cut short.
TEST(PNG, DataInAnyChunkingAndFilteringShowsTheImage) {
    const PngImage image = PatternImage(23, 17, 8, 6, true), rgb = PatternImage(9, 9, 8, 2, true);
    const PngImage gray{3, 1, 8, 0, false, {10, 20, 30}};
    const Bytes compressed = Deflate(FilteredScanlines(image, RotatingFilter));
    const auto split = [&](const std::vector<size_t>& splits) {
        return PngWriter().Header(image).ImageData(compressed, splits).End().Data();
    };
    const auto filtered = [](const PngImage& picture, uint8_t filter) {
        return MakePng(picture, {}, [filter](uint32_t) { return filter; });
    };
    const Bytes withText = PngWriter().Header(image).ImageData(compressed).Chunk("tEXt", {'a', 0, 'b'}).Data();
    const struct {
        const char* Name;
        const PngImage& Image;
        Bytes File;
    } cases[] = {
        {"short and empty chunks", image, split({1, 0, 7, 0, 0, 100})},
        {"an empty first chunk", image, split({0})},
        {"an empty last chunk", image, split({compressed.size()})},
        {"lower-case type", image, PngWriter().Header(image).Chunk("idat", compressed).End().Data()},
        {"up everywhere", rgb, filtered(rgb, 2)},
        {"Paeth everywhere", rgb, filtered(rgb, 4)},
        {"unknown filter type", gray, filtered(gray, 9)},
        {"padding after the stream", image, [&] {
             Bytes padded = compressed;
             padded.insert(padded.end(), 40, 0);
             return PngWriter().Header(image).ImageData(padded, {compressed.size() + 10}).End().Data();
         }()},
        {"IEND cut short", image, Cut(split({}), split({}).size() - 5)},
        {"a chunk after the image cut short", image, Cut(withText, withText.size() - 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TPNGGraphic graphic;
        ASSERT_NO_THROW(Load(graphic, c.File));
        ExpectImage(graphic, c.Image);
    }
}

TEST(PNG, RefusalsAndHostileFiles) {
    const PngImage image = PatternImage(4, 4, 8, 3, false), gray = PatternImage(8, 8, 8, 0, false);
    const Bytes compressed = Deflate(FilteredScanlines(image, RotatingFilter));
    // The palette image with the chunks that before adds ahead of its data.
    const auto build = [&](const std::function<void(PngWriter&)>& before) {
        PngWriter writer;
        writer.Header(image);
        before(writer);
        return writer.ImageData(compressed).End().Data();
    };
    const auto header = [](uint32_t width, uint8_t bitDepth, uint8_t colorType, uint8_t compression = 0) {
        return PngWriter().Header(width, 1, bitDepth, colorType, false, compression).ImageData(Deflate(Bytes(2, 0)))
            .End().Data();
    };
    // The gray image from data that the three bytes at its end change.
    const Bytes scanlines = FilteredScanlines(gray, RotatingFilter);
    const auto grayFrom = [&](const Bytes& data) { return PngWriter().Header(gray).ImageData(data).End().Data(); };
    Bytes corrupt = Deflate(scanlines, 0);
    corrupt[5] ^= 0xFF;  // the stored block's length check
    const Bytes grayCompressed = Deflate(scanlines);

    ExpectRefusals<TPNGGraphic>({
        {"critical chunk failing its CRC check", build([](PngWriter& w) { w.Chunk("PLTE", Palette(256), true); }),
         "Cannot load image. CRC error found in PNG file."},
        {"ancillary chunks, damaged or unknown (loads)", build([](PngWriter& w) {
             w.Chunk("tEXt", {'k', 0, 'v'}, true).Chunk("PLTE", Palette(256)).Chunk("zzZz", {1, 2});
         }),
         ""},
        {"unknown critical chunk", build([](PngWriter& w) { w.Chunk("PLTE", Palette(256)).Chunk("ABCD", {}); }),
         "Cannot load PNG image. Unexpected but critical chunk detected."},
        {"palette of a third of an entry", build([](PngWriter& w) { w.Chunk("PLTE", Bytes(10, 0)); }),
         "Cannot load image. Palette in PNG file is invalid."},
        {"header not first", PngWriter().Chunk("tEXt", {'a', 0, 'b'}).Header(1, 1, 8, 0, false).End().Data(),
         Invalid},
        {"width 0", PngWriter().Header(0, 1, 8, 0, false).End().Data(), Invalid},
        {"header cut short", PngWriter().Chunk("IHDR", {0, 0, 0, 1}).End().Data(), Invalid},
        {"signature cut short", {0x89, 'P', 'N', 'G'}, Invalid},
        {"4-bit RGB", header(1, 4, 2), "Invalid color format in PNG file."},
        {"colour type 5", header(1, 8, 5), "Invalid color format in PNG file."},
        {"compression method 1", header(1, 8, 0, 1),
         "Cannot load image. The compression scheme is not supported for PNG files."},
        {"2^31 - 1 pixels square", PngWriter().Header(0x7FFFFFFF, 0x7FFFFFFF, 16, 6, false)
                                       .ImageData(Deflate(Bytes(9, 0))).End().Data(),
         Invalid},
        {"data ending before the last row", grayFrom(Deflate(Cut(scanlines, scanlines.size() - 3))), ExtraData},
        {"broken stream", grayFrom(corrupt), "Cannot load image. Compression error found in PNG file."},
        {"a second run of image data", PngWriter().Header(gray).ImageData(grayCompressed)
                                           .Chunk("tEXt", {'a', 0, 'b'}).ImageData(grayCompressed).End().Data(),
         ExtraData},
    });

    // A chunk that claims far more data than the file holds, and a file cut
    // inside a chunk, fail as reads past the end do.
    Bytes claims = PngWriter().Header(1, 1, 8, 0, false).Data();
    Put32(claims, 0xFFFFFFF0u);
    claims.insert(claims.end(), {'t', 'E', 'X', 't', 1, 2, 3});
    const Bytes file = MakePng(gray);
    for (const Bytes& cut : {claims, Cut(file, file.size() - 20)}) {
        TPNGGraphic graphic;
        EXPECT_THROW(Load(graphic, cut), EReadError);
    }
}

// Decoding that stops (the second image data chunk fails its CRC check
// after the first held the first row) leaves the rows not reached in the
// background colour, converted as the pixels are.
TEST(PNG, BackgroundShowsWhereDecodingStopped) {
    const Bytes plte = Palette(16);
    const struct {
        const char* Name;
        PngImage Image;
        Chunks Before;
        TColor Background;
    } cases[] = {
        {"RGB", PatternImage(10, 10, 8, 2, false), {{"bKGD", Values16({0x12, 0x34, 0x56})}}, RGB(0x12, 0x34, 0x56)},
        {"2-bit gray", PatternImage(4, 4, 2, 0, false), {{"bKGD", {0, 2}}}, RGB(170, 170, 170)},
        {"16-bit gray", PatternImage(4, 4, 16, 0, false), {{"bKGD", {0x80, 0x80}}}, RGB(128, 128, 128)},
        {"palette", PatternImage(4, 4, 4, 3, false), {{"PLTE", plte}, {"bKGD", {3}}}, RGB(plte[9], plte[10], plte[11])},
        {"gamma corrected", PatternImage(6, 6, 8, 2, false),
         {{"gAMA", LinearGamma}, {"bKGD", Values16({0x20, 0x80, 0xC0})}},
         RGB(Corrected(0x20), Corrected(0x80), Corrected(0xC0))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const Bytes scanlines = FilteredScanlines(c.Image, RotatingFilter);
        PngWriter writer;
        writer.Header(c.Image);
        for (const auto& [type, data] : c.Before) writer.Chunk(type, data);
        // A stored block: the zlib header, the block's, then the first row.
        writer.ImageData(Deflate(scanlines, 0), {2 + 5 + scanlines.size() / c.Image.Height});
        const Bytes file = writer.End().Data();
        TPNGGraphic whole, cut;
        Load(whole, file);  // the checksum, not the data, is damaged below
        EXPECT_THROW(Load(cut, Patched(file, file.size() - 13, {uint8_t(file[file.size() - 13] ^ 1)})),
                     EInvalidGraphic);
        ASSERT_EQ(cut.Height(), int(c.Image.Height));
        EXPECT_TRUE(std::equal(whole.ScanLine(0), whole.ScanLine(0) + whole.RowBytes(), cut.ScanLine(0)));
        EXPECT_EQ(cut.Pixel(int(c.Image.Width) - 1, int(c.Image.Height) - 1), c.Background);
    }
}

TEST(PNG, TransparentColors) {
    const struct {
        uint8_t colorType, bitDepth;
        Bytes trns;
        TColor key;
    } cases[] = {
        {0, 8, {0, 77}, RGB(77, 77, 77)},
        {0, 1, {0, 1}, RGB(255, 255, 255)},
        {0, 2, {0, 1}, RGB(85, 85, 85)},
        {0, 16, {0xFF, 0xFF}, RGB(255, 255, 255)},
        {2, 8, {0, 1, 0, 2, 0, 3}, RGB(1, 2, 3)},
        {2, 16, {0xFF, 0xFF, 0, 0, 0x80, 0x80}, RGB(255, 0, 128)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.colorType) << "/" << int(c.bitDepth));
        TPNGGraphic graphic;
        Load(graphic, MakePng(PatternImage(3, 3, c.bitDepth, c.colorType, false), {{"tRNS", c.trns}}));
        EXPECT_TRUE(graphic.Transparent);
        EXPECT_EQ(graphic.TransparentColor, c.key);
    }
    // The key of a file with a gamma is the corrected colour of pixel (1, 0),
    // so that it is found among the pixels.
    for (uint8_t colorType : {uint8_t(0), uint8_t(2)}) {
        SCOPED_TRACE(int(colorType));
        const PngImage image = PatternImage(5, 3, 8, colorType, false);
        Bytes key;
        for (int c = 0; c < Channels(colorType); ++c) Put16(key, image.Sample(1, 0, c));
        TPNGGraphic graphic;
        Load(graphic, MakePng(image, {{"gAMA", LinearGamma}, {"tRNS", key}}));
        EXPECT_EQ(graphic.TransparentColor, graphic.Pixel(1, 0));
        EXPECT_EQ(GetRValue(graphic.TransparentColor), Corrected(image.Sample(1, 0, 0)));
    }
    // Palette and alpha images read the chunk but set no key; a reload clears it.
    TPNGGraphic graphic;
    Load(graphic, MakePng(PatternImage(3, 3, 8, 3, false), {{"PLTE", Palette(256)}, {"tRNS", {0, 0, 0}}}));
    EXPECT_FALSE(graphic.Transparent);
    Load(graphic, MakePng(PatternImage(3, 3, 8, 0, false), {{"tRNS", {0, 9}}}));
    Load(graphic, MakePng(PatternImage(3, 3, 8, 0, false)));
    EXPECT_FALSE(graphic.Transparent);
    EXPECT_EQ(graphic.TransparentColor, clNone);
}

TEST(PNG, ProbeAndLoadFromTheMiddleOfAStream) {
    const PngImage image = PatternImage(6, 5, 8, 2, true);
    const Bytes png = MakePng(image);
    EXPECT_TRUE(Probe<TPNGGraphic>(png));
    EXPECT_FALSE(Probe<TPNGGraphic>(Cut(png, 8)));  // the signature alone
    Bytes file = {1, 2, 3};
    file.insert(file.end(), png.begin(), png.end());
    TMemoryStream stream(file.data(), file.size());
    EXPECT_FALSE(TPNGGraphic::ProbeStream(stream));
    stream.SetPosition(3);
    TPNGGraphic graphic;
    graphic.LoadFromStream(stream);
    ExpectImage(graphic, image);
}

TEST(PNG, DataThatCannotFillTheImageIsRefusedBeforeAllocating) {
    const Bytes file = PngWriter().Header(16384, 16384, 8, 6, false).ImageData(Deflate(Bytes(16, 0), 9)).End().Data();
    EXPECT_LE(file.size(), 69u);
    TPNGGraphic graphic;
    EXPECT_THROW(Load(graphic, file), EInvalidGraphic);
    EXPECT_EQ(LoadError<TPNGGraphic>(file), Invalid);
    EXPECT_EQ(graphic.Width(), 0);

    // Deflate's best ratio stays within the bound: an image of one colour,
    // packed as tightly as zlib can, loads.
    PngImage flat{2048, 2048, 8, 0, false, std::vector<uint16_t>(size_t(2048) * 2048, 0)};
    Load(graphic, PngWriter()
                      .Header(flat)
                      .ImageData(Deflate(FilteredScanlines(flat, [](uint32_t) { return uint8_t(0); }), 9))
                      .End()
                      .Data());
    EXPECT_EQ(graphic.Pixel(2047, 2047), RGB(0, 0, 0));
}

// Files as ImageMagick writes them (adaptive filters, its own chunking and
// ancillary chunks), read both ways and compared with the pixels given.
TEST(PNG, FilesWrittenByImageMagick) {
    ASSERT_TRUE(ToolsPresent({"/usr/bin/convert"}));
    ScratchFolder folder;
    const struct {
        const char* options;
        bool gray, alpha, fewColors;
        TPixelFormat format;
    } cases[] = {
        {"-type TrueColor", false, false, false, pf24bit},
        {"-type TrueColorAlpha", false, true, false, pf32bit},
        {"-type TrueColor -depth 16", false, false, false, pf24bit},
        {"-type TrueColor -interlace PNG", false, false, false, pf24bit},
        {"-type Grayscale", true, false, false, pf8bit},
        {"-type Grayscale -interlace PNG", true, false, false, pf8bit},
        {"-type Palette", false, false, true, pf8bit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        // A picture with gradients, noise and a few flat areas; gray levels
        // and few colours where asked, so that ImageMagick keeps them.
        const uint32_t width = 67, height = 45;
        const auto sample = [&c](uint32_t x, uint32_t y, int k) -> uint8_t {
            const int channel = c.gray ? 0 : k;
            const uint32_t noise = ((x * 7 + y * 13 + channel) % 11) * 9;
            const uint32_t v = (x / 16 + y / 16) % 3 == 0 ? 40 * channel + 20
                                                          : (x * (3 + channel) + y * (5 - channel) + noise) & 0xFF;
            return static_cast<uint8_t>(c.fewColors ? v / 51 * 51 : v);
        };
        const std::string header = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
                                   "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        Bytes pam(header.begin(), header.end());
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                for (int k = 0; k < 3; ++k) pam.push_back(sample(x, y, k));
                pam.push_back(c.alpha ? static_cast<uint8_t>(x * 3) : 255);
            }
        WriteFileBytes(folder / "source.pam", pam);
        const std::string command =
            "/usr/bin/convert " + folder / "source.pam" + " " + c.options + " " + folder / "picture.png";
        ASSERT_TRUE(RunTool(command)) << command;

        const Bytes file = ReadFileBytes(folder / "picture.png");
        TPNGGraphic whole;
        TRowByRowPNG rowByRow;
        Load(whole, file);
        Load(rowByRow, file);
        ExpectSameBitmaps(whole, rowByRow);
        EXPECT_EQ(whole.PixelFormat(), c.format);
        EXPECT_TRUE(ShowsPixels(whole, width, height, [&](int x, int y) {
            return RGB(sample(x, y, 0), sample(x, y, 1), sample(x, y, 2));
        }));
        for (uint32_t y = 0; c.alpha && y < height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                ASSERT_EQ(whole.ScanLine(int(y))[4 * x + 3], uint8_t(x * 3)) << "alpha of " << x << "," << y;
    }
}

// The filters as the PNG standard states them, byte by byte.
void UndoFilterPlain(uint8_t filter, uint8_t* row, const uint8_t* prior, uint32_t count, uint32_t stride) {
    for (uint32_t i = 0; i < count; ++i) {
        const int a = i >= stride ? row[i - stride] : 0, b = prior[i], c = i >= stride ? prior[i - stride] : 0;
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        switch (filter) {
            case 1: row[i] = uint8_t(row[i] + a); break;
            case 2: row[i] = uint8_t(row[i] + b); break;
            case 3: row[i] = uint8_t(row[i] + (a + b) / 2); break;
            case 4: row[i] = uint8_t(row[i] + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c)); break;
            default: break;
        }
    }
}

TEST(PNG, VectorFiltersMatchThePlainOnes) {
    std::vector<std::pair<const char*, pngfilters::TUndoFilter>> builds = {
        {"SSE2", pngfilters::isa_baseline::UndoFilter}};
    if (__builtin_cpu_supports("avx2")) builds.push_back({"AVX2", pngfilters::isa_avx2::UndoFilter});
    std::mt19937 random(7);
    // Bytes behind a row must come back as they were: in a whole image
    // they are the next row.
    const auto fill = [&](std::vector<uint8_t>& bytes) {
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random() >> 24);
    };
    for (const auto& [name, undoFilter] : builds)
        for (uint32_t stride : {1u, 2u, 3u, 4u, 6u, 8u})
            for (uint8_t filter = 0; filter <= 5; ++filter)
                for (uint32_t pixels : {1u, 2u, 5u, 6u, 11u, 16u, 33u, 700u}) {
                    SCOPED_TRACE(testing::Message() << name << " stride " << stride << " filter " << int(filter)
                                                    << " pixels " << pixels);
                    const uint32_t count = pixels * stride;
                    std::vector<uint8_t> row(count + pngfilters::FilterPadding), prior(row.size());
                    fill(row);
                    fill(prior);
                    // Runs of equal bytes give Paeth's ties something to decide.
                    if (pixels > 5) std::fill(row.begin() + stride, row.begin() + 4 * stride, row[0]);
                    std::vector<uint8_t> expected = row;
                    UndoFilterPlain(filter, expected.data(), prior.data(), count, stride);
                    undoFilter(filter, row.data(), prior.data(), count, stride);
                    EXPECT_EQ(row, expected);
                }
}

}  // namespace
