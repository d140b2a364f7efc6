#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "GraphicFormats.h"
#include "ImageFiles.h"
#include "ReaderTests.h"

namespace {

using namespace imagefiles;

Bytes BitmapRows(const TBitmap& bitmap, uint32_t bytesPerPixel) {
    Bytes rows;
    for (int y = 0; y < bitmap.Height(); ++y)
        rows.insert(rows.end(), bitmap.ScanLine(y), bitmap.ScanLine(y) + bitmap.Width() * bytesPerPixel);
    return rows;
}

// Rows top first, each width * bytesPerPixel bytes, made distinct.
Bytes PatternRows(uint16_t width, uint16_t height, uint32_t bytesPerPixel) {
    Bytes rows(size_t(width) * height * bytesPerPixel);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 37 / 5);
    return rows;
}

Bytes Flip(const Bytes& rows, uint16_t height) {
    const size_t rowSize = rows.size() / height;
    Bytes flipped;
    for (int y = height - 1; y >= 0; --y)
        flipped.insert(flipped.end(), rows.begin() + y * rowSize, rows.begin() + (y + 1) * rowSize);
    return flipped;
}

Bytes EncodeRows(const Bytes& rows, uint16_t width, uint16_t height, uint32_t pixelBits) {
    TTargaRLEDecoder encoder(pixelBits);
    const size_t rowSize = rows.size() / height;
    Bytes packed;
    for (uint16_t y = 0; y < height; ++y) {
        Bytes buffer(2 * rowSize + 2);
        uint32_t stored = 0;
        encoder.Encode(rows.data() + y * rowSize, buffer.data(), width, stored);
        packed.insert(packed.end(), buffer.begin(), buffer.begin() + stored);
    }
    return packed;
}

// Turns each row of pixels round, as files stored right to left hold them.
Bytes MirrorRows(const Bytes& rows, uint16_t width, uint32_t bytesPerPixel) {
    Bytes mirrored(rows.size());
    for (size_t row = 0; row < rows.size(); row += width * bytesPerPixel)
        for (uint16_t x = 0; x < width; ++x)
            std::copy_n(rows.begin() + row + x * bytesPerPixel, bytesPerPixel,
                        mirrored.begin() + row + (width - 1 - x) * bytesPerPixel);
    return mirrored;
}

// Every way a file may store the same rows: raw or run-length, bottom-up or
// top-down, left to right or right to left.
struct StorageCase {
    bool rle, topDown, rightToLeft;
};
const StorageCase kStorages[] = {{false, false, false}, {false, true, false}, {true, false, false},
                                 {true, true, false},   {false, false, true}, {true, true, true}};

// A file of the image whose rows (top first) are top, stored as storage says.
Bytes StoreTarga(TargaLayout layout, const Bytes& top, StorageCase storage) {
    const uint32_t p = (layout.PixelSize + 1) / 8;
    layout.TopDown = storage.topDown;
    layout.RightToLeft = storage.rightToLeft;
    if (storage.rle) layout.ImageType = static_cast<uint8_t>(layout.ImageType + 8);
    Bytes stored = storage.rightToLeft ? MirrorRows(top, layout.Width, p) : top;
    if (!storage.topDown) stored = Flip(stored, layout.Height);
    layout.PixelData = storage.rle ? EncodeRows(stored, layout.Width, layout.Height, layout.PixelSize) : stored;
    return MakeTarga(layout);
}

struct DepthCase {
    uint8_t imageType, pixelSize;
    TPixelFormat format;
    TColorScheme scheme;
    uint8_t bitsPerSample, samples;
};

class TargaDepths : public ::testing::TestWithParam<DepthCase> {};

// Gray files of 16 bits store a gray byte, then an alpha byte: they load as
// 32-bit pixels whose three colours are the gray level.
TEST_P(TargaDepths, EveryTypeAndRowOrderLoadsTheSamePixels) {
    const DepthCase c = GetParam();
    const uint32_t p = (c.pixelSize + 1) / 8;
    const bool grayAlpha = c.scheme == csGrayAlpha;
    const uint16_t width = 13, height = 5;
    const Bytes top = PatternRows(width, height, p);
    Bytes expected = top;
    if (grayAlpha) {
        expected.clear();
        for (size_t i = 0; i < top.size(); i += 2)
            expected.insert(expected.end(), {top[i], top[i], top[i], top[i + 1]});
    }
    for (const StorageCase storage : kStorages) {
        SCOPED_TRACE(testing::Message() << "rle " << storage.rle << " topDown " << storage.topDown << " rightToLeft "
                                        << storage.rightToLeft);
        const TargaLayout layout{.ImageType = c.imageType,
                                 .PixelSize = c.pixelSize,
                                 .Width = width,
                                 .Height = height,
                                 .ImageID = {1, 2, 3, 4, 5}};
        TTargaGraphic graphic;
        Load(graphic, StoreTarga(layout, top, storage));
        EXPECT_EQ(graphic.PixelFormat(), c.format);
        EXPECT_EQ(graphic.Width(), width);
        EXPECT_EQ(BitmapRows(graphic, grayAlpha ? 4 : p), expected);
        const TImageProperties& properties = graphic.Properties;
        EXPECT_EQ(properties.ColorScheme, c.scheme);
        EXPECT_EQ(properties.BitsPerSample, c.bitsPerSample);
        EXPECT_EQ(properties.SamplesPerPixel, c.samples);
        EXPECT_EQ(properties.BitsPerPixel, c.bitsPerSample * c.samples);
        EXPECT_EQ(properties.Compression, storage.rle ? ckRLE : ckNone);
    }
}

INSTANTIATE_TEST_SUITE_P(AllDepths, TargaDepths,
                         ::testing::Values(DepthCase{3, 8, pf8bit, csGray, 8, 1},
                                           DepthCase{2, 15, pf15bit, csRGB, 5, 3},
                                           DepthCase{2, 16, pf15bit, csRGB, 5, 3},
                                           DepthCase{2, 24, pf24bit, csRGB, 8, 3},
                                           DepthCase{2, 32, pf32bit, csRGBA, 8, 4},
                                           DepthCase{3, 16, pf32bit, csGrayAlpha, 8, 2}));

TEST(Targa, GrayFilesGetARampAndSkipAnAnnouncedMap) {
    TTargaGraphic graphic;
    Load(graphic, MakeTarga({.ImageType = 3,
                             .PixelSize = 8,
                             .Width = 3,
                             .Height = 1,
                             .TopDown = true,
                             .ColorMapType = 1,
                             .ColorMapLength = 2,
                             .ColorMapEntrySize = 24,
                             .ColorMap = {9, 9, 9, 9, 9, 9},
                             .PixelData = {0, 128, 255}}));
    EXPECT_EQ(BitmapRows(graphic, 1), (Bytes{0, 128, 255}));
    EXPECT_EQ(graphic.Pixel(1, 0), RGB(128, 128, 128));
    EXPECT_EQ(graphic.Palette().palPalEntry.size(), 256u);
}

TEST(Targa, ColorMapsOfEveryEntrySize) {
    const struct {
        uint8_t entrySize;
        Bytes entry;  // the map's first entry; the others repeat it
        TColor color;
    } cases[] = {
        {24, {0x10, 0x20, 0x30}, RGB(0x30, 0x20, 0x10)},
        {32, {0x10, 0x20, 0x30, 0x99}, RGB(0x30, 0x20, 0x10)},
        // 0 11111 00001 00010: red 31, green 1, blue 2.
        {16, {0x22, 0x7C}, RGB(255, 8, 16)},  // five bits widened to eight: 31 is 255
        {15, {0x22, 0x7C}, RGB(255, 8, 16)},
    };
    // Pixel index i names map entry i - origin; the indices below name no
    // entry and are black.
    for (const auto& c : cases)
        for (const uint8_t origin : {0, 3}) {
            SCOPED_TRACE(testing::Message() << int(c.entrySize) << " origin " << int(origin));
            TargaLayout layout{.ImageType = 1,
                               .PixelSize = 8,
                               .Width = 3,
                               .Height = 1,
                               .ColorMapType = 1,
                               .ColorMapOrigin = origin,
                               .ColorMapLength = 16,
                               .ColorMapEntrySize = c.entrySize,
                               .PixelData = {origin, uint8_t(origin + 1), 0}};
            for (int i = 0; i < 16; ++i) layout.ColorMap.insert(layout.ColorMap.end(), c.entry.begin(), c.entry.end());
            layout.ColorMap[c.entry.size()] ^= 0x08;  // entry 1 differs from entry 0
            TTargaGraphic graphic;
            Load(graphic, MakeTarga(layout));
            EXPECT_EQ(graphic.PixelFormat(), pf8bit);
            EXPECT_EQ(graphic.Palette().palPalEntry.size(), 16u + origin);
            EXPECT_EQ(graphic.Pixel(0, 0), c.color);
            EXPECT_NE(graphic.Pixel(1, 0), c.color);
            EXPECT_EQ(graphic.Pixel(2, 0), origin ? RGB(0, 0, 0) : c.color);
        }
}

// Nothing is allocated for an image the rest of the file cannot hold: raw
// rows need every byte, a run-length packet stands for at most 128 pixels.
// Run-length data that ends early still loads once one whole row is there.
TEST(Targa, RefusalsAndHostileFiles) {
    const std::string invalid = "Cannot load image. Invalid or unexpected Targa image format.";
    const std::string readError = "Stream read error";
    const auto targa = [](uint8_t imageType, uint8_t pixelSize, uint16_t width, uint16_t height, Bytes data) {
        return MakeTarga(
            {.ImageType = imageType, .PixelSize = pixelSize, .Width = width, .Height = height, .PixelData = data});
    };
    const Bytes rowCutShort = targa(2, 24, 4, 2, Bytes(4 * 3 + 5, 1)), tooShort(10, 0);
    const Bytes twelveBits = targa(2, 12, 4, 2, Bytes(100, 0)), huge = targa(2, 32, 65535, 65535, Bytes(100, 0));
    ExpectRefusals<TTargaGraphic>({
        {"8-bit runs for 16384 x 16384 in 23 bytes", targa(11, 8, 16384, 16384, {0xFF, 1, 0xFF, 1, 0xFF}), invalid},
        {"32-bit runs for 16384 x 16384 in 1 KiB", targa(10, 32, 16384, 16384, Bytes(1024, 0xFF)), invalid},
        {"raw 16384 x 16384 in 1 KiB", targa(2, 24, 16384, 16384, Bytes(1024, 0)), readError},
        {"128 of the first row's 300 pixels", targa(11, 8, 300, 2, Bytes(129, 0x7F)), invalid},
        {"the second run-length row cut short (loads)",
         targa(11, 8, 300, 2, {0xFF, 1, 0xFF, 1, 0xAB, 1, 0x7F, 2, 2, 2, 2}), ""},
        {"no image data: a blank image, but not a huge one", targa(0, 24, 16384, 16384, {}), invalid},
        {"no image data (loads)", targa(0, 24, 128, 4, {}), ""},
        {"a compression this reader does not know", targa(32, 8, 4, 4, Bytes(16, 0)), invalid},
        {"the second raw row cut short", rowCutShort, readError},
        {"shorter than a header", tooShort, readError},
        {"12-bit pixels", twelveBits, "Sample count per pixel does not correspond to the given color scheme."},
        {"32-bit pixels, 65535 x 65535", huge, invalid},
    });
    TTargaGraphic graphic;
    for (const Bytes* file : {&rowCutShort, &tooShort}) EXPECT_THROW(Load(graphic, *file), EReadError);
    EXPECT_THROW(Load(graphic, twelveBits), EColorConversionError);
    EXPECT_THROW(Load(graphic, huge), EInvalidGraphic);
}

TEST(Targa, ShortDataLoadsWhatIsThere) {
    // Two rows of 5, then a raw packet cut off.
    TTargaGraphic graphic;
    Load(graphic, MakeTarga({.ImageType = 11, .PixelSize = 8, .Width = 4, .Height = 3, .TopDown = true,
                             .PixelData = {0x87, 5, 0x01}}));
    EXPECT_EQ(BitmapRows(graphic, 1), (Bytes{5, 5, 5, 5, 5, 5, 5, 5, 0, 0, 0, 0}));
    // No image data at all keeps the size.
    Load(graphic, MakeTarga({.ImageType = 0, .Width = 3, .Height = 2}));
    EXPECT_EQ(graphic.Width(), 3);
    EXPECT_EQ(graphic.Height(), 2);
}

TEST(Targa, ProbeChecksTheHeader) {
    const Bytes file = MakeTarga({.Width = 1, .Height = 1, .ColorMapEntrySize = 24, .PixelData = {1, 2, 3}});
    EXPECT_TRUE(Probe<TTargaGraphic>(file));
    EXPECT_FALSE(Probe<TTargaGraphic>(Cut(file, 18)));  // needs more than the header
    EXPECT_FALSE(Probe<TTargaGraphic>(Patched(file, 7, {0})));    // no map entry size
    EXPECT_FALSE(Probe<TTargaGraphic>(Patched(file, 2, {4})));    // image type 4
    EXPECT_FALSE(Probe<TTargaGraphic>(Patched(file, 16, {12})));  // 12-bit pixels
}

TEST(TargaWriter, RoundTripsEveryFormatWithAndWithoutCompression) {
    for (TPixelFormat format : {pf8bit, pf15bit, pf24bit, pf32bit})
        for (bool compressed : {false, true}) {
            SCOPED_TRACE(testing::Message() << int(format) << " " << compressed);
            const uint32_t p = format == pf8bit ? 1 : format == pf15bit ? 2 : format == pf24bit ? 3 : 4;
            TTargaGraphic source;
            source.SetPixelFormat(format);
            source.SetSize(37, 9);
            if (format == pf8bit) {
                TLogPalette palette;
                for (int i = 0; i < 256; ++i)
                    palette.palPalEntry.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0});
                source.SetPalette(palette);
            }
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < int(37 * p); ++x)
                    source.ScanLine(y)[x] = static_cast<uint8_t>(x < 40 ? 7 : (x * y) & (p == 2 ? 0x7F : 0xFF));

            TMemoryStream stream;
            source.SaveTarga(stream, compressed);
            const uint8_t* header = stream.Memory();
            EXPECT_EQ(header[2], (compressed ? 8 : 0) + (p == 1 ? 1 : 2));
            EXPECT_EQ(header[16], 8 * p);
            EXPECT_EQ(header[17], 0x20);

            Bytes file(stream.Memory(), stream.Memory() + stream.Size());
            TTargaGraphic copy;
            Load(copy, file);
            EXPECT_EQ(BitmapRows(copy, p), BitmapRows(source, p));
            if (format == pf8bit) {
                EXPECT_EQ(copy.Pixel(3, 0), source.Pixel(3, 0));
            }
        }
}

// The header holds 16-bit sides.
TEST(TargaWriter, SidesAbove65535AreRefused) {
    for (const auto& [width, height] : {std::pair{65536, 1}, std::pair{1, 65536}}) {
        TTargaGraphic graphic;
        graphic.SetPixelFormat(pf8bit);
        graphic.SetSize(width, height);
        TMemoryStream stream;
        EXPECT_THROW(graphic.SaveTarga(stream, false), EInvalidGraphic) << width << " x " << height;
        EXPECT_THROW(graphic.SaveToStream(stream), EInvalidGraphic) << width << " x " << height;
        EXPECT_EQ(stream.Size(), 0);
    }
}

// Rows without a single repeat are all raw packets; the encoder looks at most
// one packet ahead for a repeat, so wide rows encode in linear time.
TEST(TargaWriter, WideRowsWithoutRepeatsRoundTrip) {
    TTargaGraphic source;
    source.SetPixelFormat(pf32bit);
    source.SetSize(65535, 4);
    for (int y = 0; y < source.Height(); ++y)
        for (int x = 0; x < source.Width(); ++x) {
            const uint32_t value = uint32_t(y) << 16 | uint32_t(x);
            std::memcpy(source.ScanLine(y) + 4 * x, &value, 4);
        }
    TMemoryStream stream;
    source.SaveTarga(stream, true);
    // 511 packets of 128 pixels and one of 127 in each row.
    EXPECT_EQ(stream.Size(), 18 + 4 * (65535 * 4 + 512));
    TTargaGraphic copy;
    Load(copy, Bytes(stream.Memory(), stream.Memory() + stream.Size()));
    EXPECT_EQ(BitmapRows(copy, 4), BitmapRows(source, 4));
}

TEST(TargaWriter, EmptyBitmapsWriteNothingAndSmallDepthsWiden) {
    TTargaGraphic graphic;
    TMemoryStream stream;
    graphic.SaveTarga(stream, true);
    EXPECT_EQ(stream.Size(), 0);

    graphic.SetPixelFormat(pf4bit);
    graphic.SetSize(3, 1);
    graphic.SaveToStream(stream);
    EXPECT_EQ(graphic.PixelFormat(), pf4bit);  // saving a copy leaves the graphic alone
    EXPECT_EQ(stream.Memory()[16], 8);
    graphic.SaveTarga(stream, false);
    EXPECT_EQ(graphic.PixelFormat(), pf8bit);
}

}  // namespace
