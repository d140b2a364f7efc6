#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "GraphicFormats.h"
#include "ImageFiles.h"
#include "PNGFilters.h"

namespace {

using namespace imagefiles;

void Load(TPNGGraphic& graphic, const Bytes& file) {
    TMemoryStream stream(file.data(), file.size());
    graphic.LoadFromStream(stream);
}

std::string LoadError(const Bytes& file) {
    TPNGGraphic graphic;
    try {
        Load(graphic, file);
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

Bytes Palette(int entries) {
    Bytes plte;
    for (int i = 0; i < entries; ++i)
        plte.insert(plte.end(), {uint8_t(i * 37 + 1), uint8_t(255 - i * 11), uint8_t(i * 5 + 100)});
    return plte;
}

uint8_t Level(uint16_t v, uint8_t depth) {
    return depth == 16 ? static_cast<uint8_t>(v * 255u / 65535) : static_cast<uint8_t>(v * 255u / ((1u << depth) - 1));
}

TColor ExpectedColor(const PngImage& image, uint32_t x, uint32_t y, const Bytes& plte) {
    const uint8_t d = image.BitDepth;
    switch (image.ColorType) {
        case 2:
        case 6: return RGB(Level(image.Sample(x, y, 0), d), Level(image.Sample(x, y, 1), d), Level(image.Sample(x, y, 2), d));
        case 3: {
            const uint16_t v = image.Sample(x, y, 0);
            return RGB(plte[3 * v], plte[3 * v + 1], plte[3 * v + 2]);
        }
        default: {
            const uint8_t level = Level(image.Sample(x, y, 0), d);
            return RGB(level, level, level);
        }
    }
}

void ExpectImage(const TPNGGraphic& graphic, const PngImage& image, const Bytes& plte = {}) {
    ASSERT_EQ(graphic.Width(), int(image.Width));
    ASSERT_EQ(graphic.Height(), int(image.Height));
    int mismatches = 0;
    for (uint32_t y = 0; y < image.Height; ++y)
        for (uint32_t x = 0; x < image.Width; ++x) {
            if (graphic.Pixel(x, y) != ExpectedColor(image, x, y, plte) && mismatches++ < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << graphic.Pixel(x, y) << " not "
                              << ExpectedColor(image, x, y, plte);
            if (image.ColorType == 6) {
                EXPECT_EQ(graphic.ScanLine(y)[4 * x + 3], Level(image.Sample(x, y, 3), image.BitDepth));
            }
        }
}

struct Layout {
    uint8_t colorType, bitDepth;
    TPixelFormat format;
};

class PNGLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(PNGLayouts, EveryFilterSizeAndInterlaceDecodes) {
    const Layout layout = GetParam();
    for (bool interlaced : {false, true})
        for (auto [width, height] : {std::pair{1u, 1u}, {3u, 3u}, {5u, 2u}, {19u, 13u}}) {
            SCOPED_TRACE(testing::Message() << "interlaced " << interlaced << " " << width << "x" << height);
            const PngImage image = PatternImage(width, height, layout.bitDepth, layout.colorType, interlaced, width);
            const Bytes plte = layout.colorType == 3 ? Palette(1 << layout.bitDepth) : Bytes{};
            std::vector<std::pair<std::string, Bytes>> before;
            if (!plte.empty()) before.push_back({"PLTE", plte});
            TPNGGraphic graphic;
            Load(graphic, MakePng(image, before));
            EXPECT_EQ(graphic.PixelFormat(), layout.format);
            ExpectImage(graphic, image, plte);
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
    Bytes gama;
    Put32(gama, 45455);
    const Bytes file = MakePng(image, {{"tEXt", {'a', 0, 'b'}}, {"gAMA", gama}});
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
    Bytes identity, linear;
    Put32(identity, 45455);
    Put32(linear, 100000);

    TPNGGraphic graphic;
    Load(graphic, MakePng(image, {{"gAMA", identity}}));
    ExpectImage(graphic, image);
    EXPECT_TRUE(graphic.Properties.Flags & ifGammaCorrected);

    Load(graphic, MakePng(image, {{"gAMA", linear}}));
    const auto corrected = [](uint16_t v) {
        return static_cast<uint8_t>(std::lrint(std::pow(v / 255.0, 1 / 2.2) * 255));
    };
    EXPECT_EQ(graphic.Pixel(5, 1), RGB(corrected(image.Sample(5, 1, 0)), corrected(image.Sample(5, 1, 1)),
                                       corrected(image.Sample(5, 1, 2))));

    // A later load without gAMA is not corrected.
    Load(graphic, MakePng(image));
    ExpectImage(graphic, image);
}

TEST(PNG, SplitAndEmptyDataChunksDecodeAsOne) {
    const PngImage image = PatternImage(23, 17, 8, 6, true);
    const Bytes compressed = Deflate(FilteredScanlines(image, RotatingFilter));
    for (const std::vector<size_t>& splits : {std::vector<size_t>{1, 0, 7, 0, 0, 100}, std::vector<size_t>{0},
                                              std::vector<size_t>{compressed.size()}}) {
        PngWriter writer;
        writer.Header(image).ImageData(compressed, splits).End();
        TPNGGraphic graphic;
        Load(graphic, writer.Data());
        ExpectImage(graphic, image);
    }
    // The type is compared ignoring case.
    PngWriter lower;
    lower.Header(image).Chunk("idat", compressed).End();
    TPNGGraphic graphic;
    Load(graphic, lower.Data());
    ExpectImage(graphic, image);
}

TEST(PNG, FirstRowsOfEveryPassFilterAgainstZero) {
    const PngImage image = PatternImage(9, 9, 8, 2, true);
    TPNGGraphic graphic;
    Load(graphic, MakePng(image, {}, [](uint32_t) { return uint8_t(2); }));  // Up everywhere
    ExpectImage(graphic, image);
    Load(graphic, MakePng(image, {}, [](uint32_t) { return uint8_t(4); }));  // Paeth everywhere
    ExpectImage(graphic, image);
}

TEST(PNG, UnknownFilterTypesLeaveTheRowAsRead) {
    PngImage image{3, 1, 8, 0, false, {10, 20, 30}};
    TPNGGraphic graphic;
    Load(graphic, MakePng(image, {}, [](uint32_t) { return uint8_t(9); }));
    EXPECT_EQ(graphic.ScanLine(0)[0], 10);
    EXPECT_EQ(graphic.ScanLine(0)[2], 30);
}

TEST(PNG, ChunkChecks) {
    const PngImage image = PatternImage(4, 4, 8, 3, false);
    const Bytes compressed = Deflate(FilteredScanlines(image, RotatingFilter));
    const auto build = [&](const std::function<void(PngWriter&)>& before) {
        PngWriter writer;
        writer.Header(image);
        before(writer);
        return writer.ImageData(compressed).End().Data();
    };

    EXPECT_EQ(LoadError(build([](PngWriter& w) { w.Chunk("PLTE", Palette(256), true); })),
              "Cannot load image. CRC error found in PNG file.");
    EXPECT_EQ(LoadError(build([](PngWriter& w) {
                  w.Chunk("tEXt", {'k', 0, 'v'}, true).Chunk("PLTE", Palette(256)).Chunk("zzZz", {1, 2});
              })),
              "");
    EXPECT_EQ(LoadError(build([](PngWriter& w) { w.Chunk("PLTE", Palette(256)).Chunk("ABCD", {}); })),
              "Cannot load PNG image. Unexpected but critical chunk detected.");
    EXPECT_EQ(LoadError(build([](PngWriter& w) { w.Chunk("PLTE", Bytes(10, 0)); })),
              "Cannot load image. Palette in PNG file is invalid.");
}

TEST(PNG, HeaderErrors) {
    PngWriter notFirst;
    notFirst.Chunk("tEXt", {'a', 0, 'b'}).Header(1, 1, 8, 0, false).End();
    EXPECT_EQ(LoadError(notFirst.Data()), "Cannot load image. Invalid or unexpected PNG image format.");
    PngWriter zeroWidth;
    zeroWidth.Header(0, 1, 8, 0, false).End();
    EXPECT_EQ(LoadError(zeroWidth.Data()), "Cannot load image. Invalid or unexpected PNG image format.");
    PngWriter shortHeader;
    shortHeader.Chunk("IHDR", {0, 0, 0, 1}).End();
    EXPECT_EQ(LoadError(shortHeader.Data()), "Cannot load image. Invalid or unexpected PNG image format.");
    EXPECT_EQ(LoadError({0x89, 'P', 'N', 'G'}), "Cannot load image. Invalid or unexpected PNG image format.");

    const Bytes data = Deflate(Bytes(2, 0));
    PngWriter badDepth;
    badDepth.Header(1, 1, 4, 2, false).ImageData(data).End();
    EXPECT_EQ(LoadError(badDepth.Data()), "Invalid color format in PNG file.");
    PngWriter badType;
    badType.Header(1, 1, 8, 5, false).ImageData(data).End();
    EXPECT_EQ(LoadError(badType.Data()), "Invalid color format in PNG file.");
    PngWriter badCompression;
    badCompression.Header(1, 1, 8, 0, false, 1).ImageData(data).End();
    EXPECT_EQ(LoadError(badCompression.Data()),
              "Cannot load image. The compression scheme is not supported for PNG files.");
}

TEST(PNG, HostileSizesFailBeforeAllocating) {
    PngWriter huge;
    huge.Header(0x7FFFFFFF, 0x7FFFFFFF, 16, 6, false).ImageData(Deflate(Bytes(9, 0))).End();
    EXPECT_EQ(LoadError(huge.Data()), "Cannot load image. Invalid or unexpected PNG image format.");

    // A chunk that claims far more data than the file holds.
    PngWriter writer;
    writer.Header(1, 1, 8, 0, false);
    Bytes file = writer.Data();
    Put32(file, 0xFFFFFFF0u);
    file.insert(file.end(), {'t', 'E', 'X', 't', 1, 2, 3});
    TPNGGraphic graphic;
    EXPECT_THROW(Load(graphic, file), EReadError);
}

TEST(PNG, CompressedDataErrors) {
    const PngImage image = PatternImage(8, 8, 8, 0, false);
    const Bytes scanlines = FilteredScanlines(image, RotatingFilter);

    // The stream ends before the last row.
    PngWriter early;
    early.Header(image).ImageData(Deflate(Bytes(scanlines.begin(), scanlines.end() - 3))).End();
    EXPECT_EQ(LoadError(early.Data()), "Cannot load image. Extra compressed data found in PNG file.");

    // Input left in the chunk behind the stream's end.
    Bytes trailing = Deflate(scanlines);
    trailing.insert(trailing.end(), {1, 2, 3});
    PngWriter extra;
    extra.Header(image).ImageData(trailing).End();
    EXPECT_EQ(LoadError(extra.Data()), "Cannot load image. Extra compressed data found in PNG file.");

    Bytes corrupt = Deflate(scanlines, 0);
    corrupt[5] ^= 0xFF;  // the stored block's length check
    PngWriter broken;
    broken.Header(image).ImageData(corrupt).End();
    EXPECT_EQ(LoadError(broken.Data()), "Cannot load image. Compression error found in PNG file.");

    // A stream cut inside a chunk.
    const Bytes file = MakePng(image);
    TPNGGraphic graphic;
    EXPECT_THROW(Load(graphic, Bytes(file.begin(), file.end() - 20)), EReadError);
}

TEST(PNG, BackgroundShowsWhereDecodingStopped) {
    const PngImage image = PatternImage(10, 10, 8, 2, false);
    const Bytes compressed = Deflate(FilteredScanlines(image, [](uint32_t) { return uint8_t(0); }), 0);
    Bytes background;
    Put16(background, 0x12), Put16(background, 0x34), Put16(background, 0x56);
    PngWriter writer;
    writer.Header(image).Chunk("bKGD", background).ImageData(compressed, {40});
    Bytes file = writer.End().Data();
    file[file.size() - 12 - 5] ^= 1;  // damage the CRC of the second IDAT chunk
    TPNGGraphic graphic;
    EXPECT_THROW(Load(graphic, file), EInvalidGraphic);
    ASSERT_EQ(graphic.Height(), 10);
    EXPECT_EQ(graphic.Pixel(0, 0), ExpectedColor(image, 0, 0, {}));
    EXPECT_EQ(graphic.Pixel(9, 9), RGB(0x12, 0x34, 0x56));
}

TEST(PNG, BackgroundOfGrayAndPaletteImages) {
    const auto decodeCut = [](const PngImage& image, const std::vector<std::pair<std::string, Bytes>>& before) {
        PngWriter writer;
        writer.Header(image);
        for (const auto& [type, data] : before) writer.Chunk(type, data);
        // The first row decodes, then the next chunk fails its CRC check, so
        // the rest of the image keeps the background.
        const Bytes scanlines = FilteredScanlines(image, RotatingFilter);
        const size_t rowSize = scanlines.size() / image.Height;
        writer.ImageData(Deflate(scanlines, 0), {2 + 5 + rowSize});
        Bytes file = writer.End().Data();
        file[file.size() - 12 - 1] ^= 1;
        TPNGGraphic graphic;
        EXPECT_THROW(Load(graphic, file), EInvalidGraphic);
        return graphic.Pixel(0, image.Height - 1);
    };
    EXPECT_EQ(decodeCut(PatternImage(4, 4, 2, 0, false), {{"bKGD", {0, 2}}}), RGB(170, 170, 170));
    EXPECT_EQ(decodeCut(PatternImage(4, 4, 16, 0, false), {{"bKGD", {0x80, 0x80}}}), RGB(128, 128, 128));
    const Bytes plte = Palette(16);
    EXPECT_EQ(decodeCut(PatternImage(4, 4, 4, 3, false), {{"PLTE", plte}, {"bKGD", {3}}}),
              RGB(plte[9], plte[10], plte[11]));
}

TEST(PNG, TransparentColors) {
    struct Case {
        uint8_t colorType, bitDepth;
        Bytes trns;
        TColor key;
    };
    const Case cases[] = {
        {0, 8, {0, 77}, RGB(77, 77, 77)},
        {0, 1, {0, 1}, RGB(255, 255, 255)},
        {0, 2, {0, 1}, RGB(85, 85, 85)},
        {0, 16, {0xFF, 0xFF}, RGB(255, 255, 255)},
        {2, 8, {0, 1, 0, 2, 0, 3}, RGB(1, 2, 3)},
        {2, 16, {0xFF, 0xFF, 0, 0, 0x80, 0x80}, RGB(255, 0, 128)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.colorType) << "/" << int(c.bitDepth));
        TPNGGraphic graphic;
        Load(graphic, MakePng(PatternImage(3, 3, c.bitDepth, c.colorType, false), {{"tRNS", c.trns}}));
        EXPECT_TRUE(graphic.Transparent);
        EXPECT_EQ(graphic.TransparentColor, c.key);
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
    Bytes file = {1, 2, 3};
    const Bytes png = MakePng(image);
    file.insert(file.end(), png.begin(), png.end());
    TMemoryStream stream(file.data(), file.size());
    EXPECT_FALSE(TPNGGraphic::ProbeStream(stream));
    stream.SetPosition(3);
    EXPECT_TRUE(TPNGGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 3);
    TPNGGraphic graphic;
    graphic.LoadFromStream(stream);
    ExpectImage(graphic, image);

    TMemoryStream signatureOnly(png.data(), 8);
    EXPECT_FALSE(TPNGGraphic::ProbeStream(signatureOnly));
}

// A reader that inflates every image row by row, as it does damaged data.
class TRowByRowPNG : public TPNGGraphic {
public:
    TRowByRowPNG() { WholeInflateLimit = 0; }
};

// Both ways of inflating give the same bitmap, byte for byte.
void ExpectSameBitmaps(const TBitmap& whole, const TBitmap& rowByRow) {
    ASSERT_EQ(whole.Width(), rowByRow.Width());
    ASSERT_EQ(whole.Height(), rowByRow.Height());
    ASSERT_EQ(whole.PixelFormat(), rowByRow.PixelFormat());
    EXPECT_EQ(whole.Palette().palPalEntry.size(), rowByRow.Palette().palPalEntry.size());
    int mismatches = 0;
    for (int y = 0; y < whole.Height(); ++y)
        if (std::memcmp(whole.ScanLine(y), rowByRow.ScanLine(y), size_t(whole.RowBytes())) != 0 && mismatches++ < 5)
            ADD_FAILURE() << "row " << y << " differs";
}

TEST(PNG, WholeAndRowByRowInflationAgree) {
    const Layout layouts[] = {{0, 1, pf1bit},  {0, 2, pf4bit},  {0, 8, pf8bit},  {0, 16, pf8bit}, {2, 8, pf24bit},
                              {2, 16, pf24bit}, {3, 2, pf4bit}, {3, 4, pf4bit},  {3, 8, pf8bit},  {4, 16, pf8bit},
                              {6, 8, pf32bit}, {6, 16, pf32bit}};
    for (const Layout& layout : layouts)
        for (bool interlaced : {false, true})
            for (auto [width, height] : {std::pair{1u, 1u}, {7u, 5u}, {61u, 37u}}) {
                SCOPED_TRACE(testing::Message() << int(layout.colorType) << "/" << int(layout.bitDepth) << " "
                                                << width << "x" << height << " interlaced " << interlaced);
                const PngImage image = PatternImage(width, height, layout.bitDepth, layout.colorType, interlaced);
                std::vector<std::pair<std::string, Bytes>> before;
                if (layout.colorType == 3) before.push_back({"PLTE", Palette(1 << layout.bitDepth)});
                Bytes gamma;
                Put32(gamma, 100000);
                before.push_back({"gAMA", gamma});
                PngWriter writer;
                writer.Header(image);
                for (const auto& [type, data] : before) writer.Chunk(type, data);
                const Bytes compressed = Deflate(FilteredScanlines(image, RotatingFilter));
                const Bytes file = writer.ImageData(compressed, {compressed.size() / 3, 0, 5}).End().Data();
                TPNGGraphic whole;
                TRowByRowPNG rowByRow;
                Load(whole, file);
                Load(rowByRow, file);
                ExpectSameBitmaps(whole, rowByRow);
            }
}

TEST(PNG, DataThatCannotFillTheImageIsRefusedBeforeAllocating) {
    PngWriter writer;
    writer.Header(16384, 16384, 8, 6, false).ImageData(Deflate(Bytes(16, 0), 9)).End();
    EXPECT_LE(writer.Data().size(), 69u);
    TPNGGraphic graphic;
    try {
        Load(graphic, writer.Data());
        ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Cannot load image. Invalid or unexpected PNG image format.");
    }
    EXPECT_EQ(graphic.Width(), 0);

    // Deflate's best ratio stays within the bound: an image of one colour,
    // packed as tightly as zlib can, loads.
    PngImage flat{2048, 2048, 8, 0, false, std::vector<uint16_t>(size_t(2048) * 2048, 0)};
    PngWriter tight;
    tight.Header(flat).ImageData(Deflate(FilteredScanlines(flat, [](uint32_t) { return uint8_t(0); }), 9)).End();
    Load(graphic, tight.Data());
    EXPECT_EQ(graphic.Pixel(2047, 2047), RGB(0, 0, 0));
}

TEST(PNG, KeyAndBackgroundAreGammaCorrectedAsThePixelsAre) {
    Bytes gamma;
    Put32(gamma, 100000);  // linear samples, shown through the 1/2.2 curve
    const auto corrected = [](uint8_t v) { return static_cast<uint8_t>(std::lrint(std::pow(v / 255.0, 1 / 2.2) * 255)); };

    // The key is the colour of pixel (1, 0), and it is found among the pixels.
    for (uint8_t colorType : {uint8_t(0), uint8_t(2)}) {
        SCOPED_TRACE(int(colorType));
        const PngImage image = PatternImage(5, 3, 8, colorType, false);
        Bytes key;
        for (int c = 0; c < Channels(colorType); ++c) Put16(key, image.Sample(1, 0, c));
        TPNGGraphic graphic;
        Load(graphic, MakePng(image, {{"gAMA", gamma}, {"tRNS", key}}));
        EXPECT_EQ(graphic.TransparentColor, graphic.Pixel(1, 0));
        const uint8_t red = corrected(static_cast<uint8_t>(image.Sample(1, 0, 0)));
        EXPECT_EQ(GetRValue(graphic.TransparentColor), red);
    }

    // The rows that decoding does not reach show the corrected background.
    const PngImage image = PatternImage(6, 6, 8, 2, false);
    Bytes background;
    Put16(background, 0x20), Put16(background, 0x80), Put16(background, 0xC0);
    PngWriter writer;
    writer.Header(image).Chunk("gAMA", gamma).Chunk("bKGD", background);
    writer.ImageData(Deflate(FilteredScanlines(image, [](uint32_t) { return uint8_t(0); }), 0), {25});
    Bytes file = writer.End().Data();
    file[file.size() - 12 - 5] ^= 1;  // damage the CRC of the second IDAT chunk
    TPNGGraphic graphic;
    EXPECT_THROW(Load(graphic, file), EInvalidGraphic);
    ASSERT_EQ(graphic.Height(), 6);
    EXPECT_EQ(graphic.Pixel(5, 5), RGB(corrected(0x20), corrected(0x80), corrected(0xC0)));
}

TEST(PNG, ASecondRunOfImageDataIsExtraData) {
    const PngImage image = PatternImage(4, 4, 8, 0, false);
    const Bytes compressed = Deflate(FilteredScanlines(image, RotatingFilter));
    PngWriter writer;
    writer.Header(image).ImageData(compressed).Chunk("tEXt", {'a', 0, 'b'}).ImageData(compressed).End();
    EXPECT_EQ(LoadError(writer.Data()), "Cannot load image. Extra compressed data found in PNG file.");
}

// Files as ImageMagick writes them (adaptive filters, its own chunking and
// ancillary chunks), read both ways and compared with the pixels given.
TEST(PNG, FilesWrittenByImageMagick) {
    const std::string convert = "/usr/bin/convert";
    if (!std::filesystem::exists(convert)) GTEST_SKIP() << "no ImageMagick";
    const std::filesystem::path folder = std::filesystem::path(testing::TempDir()) / "png-imagemagick";
    std::filesystem::create_directories(folder);

    struct Case {
        const char* options;
        bool gray, alpha, fewColors;
        TPixelFormat format;
    };
    const Case cases[] = {
        {"-type TrueColor", false, false, false, pf24bit},
        {"-type TrueColorAlpha", false, true, false, pf32bit},
        {"-type TrueColor -depth 16", false, false, false, pf24bit},
        {"-type TrueColor -interlace PNG", false, false, false, pf24bit},
        {"-type Grayscale", true, false, false, pf8bit},
        {"-type Grayscale -interlace PNG", true, false, false, pf8bit},
        {"-type Palette", false, false, true, pf8bit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        // A picture with gradients, noise and a few flat areas; gray levels
        // and few colours where asked, so that ImageMagick keeps them.
        const uint32_t width = 67, height = 45;
        const auto sample = [&c](uint32_t x, uint32_t y, int k) -> uint8_t {
            const int channel = c.gray ? 0 : k;
            const uint32_t v = (x / 16 + y / 16) % 3 == 0
                                   ? 40 * channel + 20
                                   : (x * (3 + channel) + y * (5 - channel) + ((x * 7 + y * 13 + channel) % 11) * 9) & 0xFF;
            return static_cast<uint8_t>(c.fewColors ? v / 51 * 51 : v);
        };
        Bytes pam = {};
        const std::string header = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
                                   "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        pam.assign(header.begin(), header.end());
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                for (int k = 0; k < 3; ++k) pam.push_back(sample(x, y, k));
                pam.push_back(c.alpha ? static_cast<uint8_t>(x * 3) : 255);
            }
        const std::filesystem::path source = folder / "source.pam", target = folder / "picture.png";
        std::ofstream(source, std::ios::binary).write(reinterpret_cast<const char*>(pam.data()), long(pam.size()));
        const std::string command = convert + " " + source.string() + " " + c.options + " " + target.string();
        ASSERT_EQ(std::system(command.c_str()), 0) << command;

        std::ifstream in(target, std::ios::binary);
        const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        TPNGGraphic whole;
        TRowByRowPNG rowByRow;
        Load(whole, file);
        Load(rowByRow, file);
        ExpectSameBitmaps(whole, rowByRow);
        EXPECT_EQ(whole.PixelFormat(), c.format);
        int mismatches = 0;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                const TColor expected = RGB(sample(x, y, 0), sample(x, y, 1), sample(x, y, 2));
                if (whole.Pixel(x, y) != expected && mismatches++ < 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << whole.Pixel(x, y) << " not "
                                  << expected;
                if (c.alpha) {
                    EXPECT_EQ(whole.ScanLine(y)[4 * x + 3], static_cast<uint8_t>(x * 3));
                }
            }
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
    std::vector<std::pair<const char*, pngfilters::TUndoFilter>> builds = {{"SSE2", pngfilters::isa_baseline::UndoFilter}};
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
