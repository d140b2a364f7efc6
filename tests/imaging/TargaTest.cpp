#include <gtest/gtest.h>

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
    for (bool rle : {false, true})
        for (bool topDown : {false, true}) {
            SCOPED_TRACE(testing::Message() << "rle " << rle << " topDown " << topDown);
            TargaLayout layout;
            layout.PixelSize = c.pixelSize;
            layout.ImageType = static_cast<uint8_t>((c.pixelSize == 8 ? 3 : 2) + (rle ? 8 : 0));
            layout.Width = width;
            layout.Height = height;
            layout.TopDown = topDown;
            layout.ImageID = {1, 2, 3, 4, 5};
            const Bytes stored = topDown ? top : Flip(top, height);
            layout.PixelData = rle ? EncodeRows(stored, width, height, c.pixelSize) : stored;

            TTargaGraphic graphic;
            Load(graphic, MakeTarga(layout));
            EXPECT_EQ(graphic.PixelFormat(), c.format);
            EXPECT_EQ(graphic.Width(), width);
            EXPECT_EQ(graphic.Height(), height);
            EXPECT_EQ(BitmapRows(graphic, p), top);
            EXPECT_EQ(graphic.Properties.ColorScheme, c.scheme);
            EXPECT_EQ(graphic.Properties.BitsPerSample, c.bitsPerSample);
            EXPECT_EQ(graphic.Properties.SamplesPerPixel, c.samples);
            EXPECT_EQ(graphic.Properties.Compression, rle ? ckRLE : ckNone);
        }
}

INSTANTIATE_TEST_SUITE_P(AllDepths, TargaDepths,
                         ::testing::Values(DepthCase{8, pf8bit, csGray, 8, 1}, DepthCase{15, pf15bit, csRGB, 5, 3},
                                           DepthCase{16, pf15bit, csRGB, 5, 3}, DepthCase{24, pf24bit, csRGB, 8, 3},
                                           DepthCase{32, pf32bit, csRGBA, 8, 4}));

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
    for (const MapCase& c : cases) {
        SCOPED_TRACE(int(c.entrySize));
        TargaLayout layout;
        layout.ImageType = 1;
        layout.PixelSize = 8;
        layout.Width = 2;
        layout.Height = 1;
        layout.ColorMapType = 1;
        layout.ColorMapLength = 16;
        layout.ColorMapEntrySize = c.entrySize;
        for (int i = 0; i < 16; ++i) layout.ColorMap.insert(layout.ColorMap.end(), c.entry.begin(), c.entry.end());
        layout.ColorMap[c.entry.size()] ^= 0x08;  // entry 1 differs from entry 0
        layout.PixelData = {0, 1};
        TTargaGraphic graphic;
        Load(graphic, MakeTarga(layout));
        EXPECT_EQ(graphic.PixelFormat(), pf8bit);
        EXPECT_EQ(graphic.Pixel(0, 0), c.color);
        EXPECT_NE(graphic.Pixel(1, 0), c.color);
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
