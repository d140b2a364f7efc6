#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "GraphicFormats.h"
#include "ImageFiles.h"

namespace {

using imagefiles::Bytes;
using imagefiles::MakeTarga;
using imagefiles::TargaLayout;

void Load(TTargaGraphic& graphic, const Bytes& file) {
    TMemoryStream stream(file.data(), file.size());
    graphic.LoadFromStream(stream);
}

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
    uint8_t pixelSize;
    TPixelFormat format;
    TColorScheme scheme;
    uint8_t bitsPerSample, samples;
};

class TargaDepths : public ::testing::TestWithParam<DepthCase> {};

TEST_P(TargaDepths, EveryTypeAndRowOrderLoadsTheSamePixels) {
    const DepthCase c = GetParam();
    const uint32_t p = (c.pixelSize + 1) / 8;
    const uint16_t width = 13, height = 5;
    const Bytes top = PatternRows(width, height, p);
    for (const StorageCase storage : kStorages) {
        SCOPED_TRACE(testing::Message() << "rle " << storage.rle << " topDown " << storage.topDown << " rightToLeft "
                                        << storage.rightToLeft);
        TargaLayout layout;
        layout.PixelSize = c.pixelSize;
        layout.ImageType = c.pixelSize == 8 ? 3 : 2;
        layout.Width = width;
        layout.Height = height;
        layout.ImageID = {1, 2, 3, 4, 5};

        TTargaGraphic graphic;
        Load(graphic, StoreTarga(layout, top, storage));
        EXPECT_EQ(graphic.PixelFormat(), c.format);
        EXPECT_EQ(graphic.Width(), width);
        EXPECT_EQ(graphic.Height(), height);
        EXPECT_EQ(BitmapRows(graphic, p), top);
        EXPECT_EQ(graphic.Properties.ColorScheme, c.scheme);
        EXPECT_EQ(graphic.Properties.BitsPerSample, c.bitsPerSample);
        EXPECT_EQ(graphic.Properties.SamplesPerPixel, c.samples);
        EXPECT_EQ(graphic.Properties.Compression, storage.rle ? ckRLE : ckNone);
    }
}

INSTANTIATE_TEST_SUITE_P(AllDepths, TargaDepths,
                         ::testing::Values(DepthCase{8, pf8bit, csGray, 8, 1}, DepthCase{15, pf15bit, csRGB, 5, 3},
                                           DepthCase{16, pf15bit, csRGB, 5, 3}, DepthCase{24, pf24bit, csRGB, 8, 3},
                                           DepthCase{32, pf32bit, csRGBA, 8, 4}));

// Gray files of 16 bits store a gray byte, then an alpha byte: they load as
// 32-bit pixels whose three colours are the gray level.
TEST(Targa, SixteenBitGrayIsGrayWithAlpha) {
    const uint16_t width = 7, height = 3;
    const Bytes top = PatternRows(width, height, 2);
    Bytes expected;
    for (size_t i = 0; i < top.size(); i += 2) expected.insert(expected.end(), {top[i], top[i], top[i], top[i + 1]});
    for (const StorageCase storage : kStorages) {
        SCOPED_TRACE(testing::Message() << "rle " << storage.rle << " topDown " << storage.topDown << " rightToLeft "
                                        << storage.rightToLeft);
        TargaLayout layout;
        layout.ImageType = 3;
        layout.PixelSize = 16;
        layout.Width = width;
        layout.Height = height;
        TTargaGraphic graphic;
        Load(graphic, StoreTarga(layout, top, storage));
        EXPECT_EQ(graphic.PixelFormat(), pf32bit);
        EXPECT_EQ(BitmapRows(graphic, 4), expected);
        EXPECT_EQ(graphic.Properties.ColorScheme, csGrayAlpha);
        EXPECT_EQ(graphic.Properties.BitsPerSample, 8);
        EXPECT_EQ(graphic.Properties.SamplesPerPixel, 2);
        EXPECT_EQ(graphic.Properties.BitsPerPixel, 16);
    }
}

TEST(Targa, GrayFilesGetARampAndSkipAnAnnouncedMap) {
    TargaLayout layout;
    layout.ImageType = 3;
    layout.PixelSize = 8;
    layout.Width = 3;
    layout.Height = 1;
    layout.TopDown = true;
    layout.ColorMapType = 1;
    layout.ColorMapLength = 2;
    layout.ColorMapEntrySize = 24;
    layout.ColorMap = {9, 9, 9, 9, 9, 9};
    layout.PixelData = {0, 128, 255};
    TTargaGraphic graphic;
    Load(graphic, MakeTarga(layout));
    EXPECT_EQ(BitmapRows(graphic, 1), (Bytes{0, 128, 255}));
    EXPECT_EQ(graphic.Pixel(1, 0), RGB(128, 128, 128));
    EXPECT_EQ(graphic.Palette().palPalEntry.size(), 256u);
}

TEST(Targa, ColorMapsOfEveryEntrySize) {
    struct MapCase {
        uint8_t entrySize;
        Bytes entry;  // the map's first entry; the others repeat it
        TColor color;
    };
    const MapCase cases[] = {
        {24, {0x10, 0x20, 0x30}, RGB(0x30, 0x20, 0x10)},
        {32, {0x10, 0x20, 0x30, 0x99}, RGB(0x30, 0x20, 0x10)},
        // 0 11111 00001 00010: red 31, green 1, blue 2.
        {16, {0x22, 0x7C}, RGB(31 << 3, 1 << 3, 2 << 3)},
        {15, {0x22, 0x7C}, RGB(31 << 3, 1 << 3, 2 << 3)},
    };
    // Pixel index i names map entry i - origin; the indices below name no
    // entry and are black.
    for (const MapCase& c : cases)
        for (const uint8_t origin : {0, 3}) {
            SCOPED_TRACE(testing::Message() << int(c.entrySize) << " origin " << int(origin));
            TargaLayout layout;
            layout.ImageType = 1;
            layout.PixelSize = 8;
            layout.Width = 3;
            layout.Height = 1;
            layout.ColorMapType = 1;
            layout.ColorMapOrigin = origin;
            layout.ColorMapLength = 16;
            layout.ColorMapEntrySize = c.entrySize;
            for (int i = 0; i < 16; ++i)
                layout.ColorMap.insert(layout.ColorMap.end(), c.entry.begin(), c.entry.end());
            layout.ColorMap[c.entry.size()] ^= 0x08;  // entry 1 differs from entry 0
            layout.PixelData = {origin, uint8_t(origin + 1), 0};
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
TEST(Targa, SizesTheDataCannotHoldAreRefused) {
    const std::string invalid = "Cannot load image. Invalid or unexpected Targa image format.";
    struct Case {
        uint8_t imageType, pixelSize;
        uint16_t width, height;
        Bytes data;
        std::string outcome;
    };
    const Case cases[] = {
        {11, 8, 16384, 16384, {0xFF, 1, 0xFF, 1, 0xFF}, invalid},  // 23 bytes in all
        {10, 32, 16384, 16384, Bytes(1024, 0xFF), invalid},
        {2, 24, 16384, 16384, Bytes(1024, 0), "Stream read error"},
        {11, 8, 300, 2, Bytes(129, 0x7F), invalid},  // 128 of the first row's 300 pixels
        {11, 8, 300, 2, {0xFF, 1, 0xFF, 1, 0xAB, 1, 0x7F, 2, 2, 2, 2}, "loaded"},  // the second row cut short
        {0, 24, 16384, 16384, {}, invalid},  // no image data: a blank image, but not a huge one
        {0, 24, 128, 4, {}, "loaded"},
        {32, 8, 4, 4, Bytes(16, 0), invalid},  // a compression this reader does not know
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.imageType) << " " << c.width << " x " << c.height);
        TargaLayout layout;
        layout.ImageType = c.imageType;
        layout.PixelSize = c.pixelSize;
        layout.Width = c.width;
        layout.Height = c.height;
        layout.PixelData = c.data;
        TTargaGraphic graphic;
        std::string outcome = "loaded";
        try {
            Load(graphic, MakeTarga(layout));
        } catch (const Exception& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, c.outcome);
    }
}

TEST(Targa, ProbeChecksTheHeaderAndKeepsThePosition) {
    TargaLayout layout;
    layout.ColorMapEntrySize = 24;
    layout.Width = 1;
    layout.Height = 1;
    layout.PixelData = {1, 2, 3};
    Bytes file = MakeTarga(layout);
    const auto probe = [](const Bytes& bytes) {
        TMemoryStream stream(bytes.data(), bytes.size());
        stream.SetPosition(0);
        const bool answer = TTargaGraphic::ProbeStream(stream);
        EXPECT_EQ(stream.Position(), 0);
        return answer;
    };
    EXPECT_TRUE(probe(file));
    EXPECT_FALSE(probe(Bytes(file.begin(), file.begin() + 18)));  // needs more than the header
    Bytes noEntrySize = file;
    noEntrySize[7] = 0;
    EXPECT_FALSE(probe(noEntrySize));
    Bytes badType = file;
    badType[2] = 4;
    EXPECT_FALSE(probe(badType));
    Bytes badDepth = file;
    badDepth[16] = 12;
    EXPECT_FALSE(probe(badDepth));
}

TEST(Targa, DamagedFilesRaiseTheirErrors) {
    TargaLayout layout;
    layout.Width = 4;
    layout.Height = 2;
    layout.PixelData = Bytes(4 * 3 + 5, 1);  // the second row is cut short
    TTargaGraphic graphic;
    EXPECT_THROW(Load(graphic, MakeTarga(layout)), EReadError);
    EXPECT_THROW(Load(graphic, Bytes(10, 0)), EReadError);

    layout.PixelSize = 12;
    layout.PixelData = Bytes(100, 0);
    try {
        Load(graphic, MakeTarga(layout));
        FAIL();
    } catch (const EColorConversionError& e) {
        EXPECT_STREQ(e.what(), "Sample count per pixel does not correspond to the given color scheme.");
    }

    layout.PixelSize = 32;
    layout.Width = 65535;
    layout.Height = 65535;
    EXPECT_THROW(Load(graphic, MakeTarga(layout)), EInvalidGraphic);
}

TEST(Targa, TruncatedRunLengthDataLoadsWhatIsThere) {
    TargaLayout layout;
    layout.ImageType = 11;
    layout.PixelSize = 8;
    layout.Width = 4;
    layout.Height = 3;
    layout.TopDown = true;
    layout.PixelData = {0x87, 5, 0x01};  // two rows of 5, then a raw packet cut off
    TTargaGraphic graphic;
    Load(graphic, MakeTarga(layout));
    EXPECT_EQ(BitmapRows(graphic, 1), (Bytes{5, 5, 5, 5, 5, 5, 5, 5, 0, 0, 0, 0}));
}

TEST(Targa, NoImageDataKeepsTheSize) {
    TargaLayout layout;
    layout.ImageType = 0;
    layout.Width = 3;
    layout.Height = 2;
    TTargaGraphic graphic;
    Load(graphic, MakeTarga(layout));
    EXPECT_EQ(graphic.Width(), 3);
    EXPECT_EQ(graphic.Height(), 2);
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
