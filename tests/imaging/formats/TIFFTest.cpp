#include <gtest/gtest.h>
#include <bit>
#include <cmath>

#include "GraphicFormats.h"
#include "ReaderTests.h"
#include "TIFFFiles.h"
#include "ToolFiles.h"

#ifdef DOT3_HAVE_LIBTIFF
#include <tiffio.h>
#endif

namespace {

using namespace imagefiles;

const std::string Unsupported = "Cannot load image. The compression scheme is not supported for TIF/TIFF files.";
const std::string Invalid = "Cannot load image. Invalid or unexpected TIF/TIFF image format.";

uint8_t Level(uint32_t v, uint32_t bits) {
    return uint8_t(bits == 16 ? v * 255 / 65535 : v * 255 / ((1u << bits) - 1));
}

// Three planes of 16-bit colour map values for 2^bits entries.
std::vector<uint64_t> ColorMapValues(uint32_t bits) {
    const uint32_t n = 1u << bits;
    std::vector<uint64_t> map(3 * n);
    for (uint32_t i = 0; i < n; ++i) {
        map[i] = i * 4111 % 65536;
        map[n + i] = 65535 - i * 999 % 65536;
        map[2 * n + i] = i * 7919 % 65536;
    }
    return map;
}

uint8_t Ink(uint32_t colour, uint32_t black) {
    return uint8_t(std::clamp<int>(int(colour * black / 255) - int(colour) - int(black) + 255, 0, 255));
}

// The colour a reader should show for pixel (x, y) of the image.
TColor Expected(const TiffImage& image, uint16_t photometric, uint32_t x, uint32_t y) {
    const uint32_t b = image.Bits;
    const auto level = [&](uint32_t s) { return Level(image.Sample(x, y, s), b); };
    switch (photometric) {
        case 0: return RGB(255 - level(0), 255 - level(0), 255 - level(0));
        case 1: return RGB(level(0), level(0), level(0));
        case 3: {
            const std::vector<uint64_t> map = ColorMapValues(b);
            const size_t n = map.size() / 3, v = image.Sample(x, y, 0);
            return RGB(uint8_t(map[v] * 255 / 65535), uint8_t(map[n + v] * 255 / 65535),
                       uint8_t(map[2 * n + v] * 255 / 65535));
        }
        case 5: {
            const uint32_t k = image.Sample(x, y, 3);
            return RGB(Ink(image.Sample(x, y, 0), k), Ink(image.Sample(x, y, 1), k), Ink(image.Sample(x, y, 2), k));
        }
        default: return RGB(level(0), level(1), level(2));
    }
}

void ExpectPixels(const TTIFFGraphic& graphic, const TiffImage& image, uint16_t photometric) {
    ASSERT_TRUE(ShowsPixels(graphic, int(image.Width), int(image.Height),
                            [&](int x, int y) { return Expected(image, photometric, x, y); }));
    const bool alpha = (photometric == 2 && image.Samples == 4) || (photometric <= 1 && image.Samples == 2);
    for (uint32_t y = 0; alpha && y < image.Height; ++y)
        for (uint32_t x = 0; x < image.Width; ++x)
            ASSERT_EQ(graphic.ScanLine(int(y))[4 * x + 3], Level(image.Sample(x, y, image.Samples - 1), image.Bits))
                << "alpha of " << x << "," << y;
}

struct Layout {
    const char* name;
    uint16_t photometric;
    uint32_t samples, bits;
    TPixelFormat format;
};

struct LayoutCase {
    Layout layout;
    TiffPacking packing;
    bool bigEndian, tiled, planar;
};

std::string CaseName(const testing::TestParamInfo<LayoutCase>& info) {
    const LayoutCase& c = info.param;
    const uint16_t compression = c.packing.Compression;
    return std::string(c.layout.name) + "_" +
           (compression == tcNone ? "none" : compression == tcDeflate ? "deflate" : "packbits") +
           (c.packing.Predictor ? "predictor_" : "_") + (c.bigEndian ? "mm_" : "ii_") + (c.planar ? "planar" : "") +
           (c.tiled ? "tiles" : "strips");
}

// A file of the case's image: 37 x 21 pixels in strips of 4 rows (the last
// one short) or in 16 x 16 tiles (partial ones at the right and bottom).
Bytes LayoutFile(const LayoutCase& c, const TiffImage& image) {
    TiffDirectory directory;
    directory.Fields = TiffBasics(image, c.layout.photometric, c.packing.Compression, 4);
    directory.Chunks = TiffChunks(image, c.packing, c.bigEndian, 4, c.planar, c.tiled ? 16 : 0, 16);
    directory.Tiled = c.tiled;
    if (c.tiled) directory.Fields.insert(directory.Fields.end(), {Short(322, {16}), Short(323, {16})});
    if (c.planar) directory.Fields.push_back(Short(284, {2}));
    if (c.packing.Predictor) directory.Fields.push_back(Short(317, {2}));
    if (c.layout.photometric == 3) directory.Fields.push_back(Short(320, ColorMapValues(c.layout.bits)));
    if (c.layout.photometric <= 2 && c.layout.samples % 2 == 0) directory.Fields.push_back(Short(338, {2}));
    return MakeTiff({directory}, c.bigEndian);
}

class TIFFLayouts : public testing::TestWithParam<LayoutCase> {};

TEST_P(TIFFLayouts, DecodeToTheStoredPixels) {
    const LayoutCase& c = GetParam();
    const TiffImage image = PatternTiff(37, 21, c.layout.samples, c.layout.bits);
    TTIFFGraphic graphic;
    Load(graphic, LayoutFile(c, image));
    EXPECT_EQ(graphic.PixelFormat(), c.layout.format);
    ExpectPixels(graphic, image, c.layout.photometric);
}

std::vector<LayoutCase> AllLayoutCases() {
    const Layout layouts[] = {
        {"bilevel", 1, 1, 1, pf1bit},  {"gray2", 1, 1, 2, pf4bit},        {"whitegray4", 0, 1, 4, pf4bit},
        {"gray8", 1, 1, 8, pf8bit},    {"whitegray16", 0, 1, 16, pf8bit}, {"grayalpha8", 1, 2, 8, pf32bit}, {"grayalpha16", 1, 2, 16, pf32bit},
        {"palette2", 3, 1, 2, pf4bit}, {"palette4", 3, 1, 4, pf4bit},     {"palette8", 3, 1, 8, pf8bit},
        {"rgb8", 2, 3, 8, pf24bit},    {"rgb16", 2, 3, 16, pf24bit},      {"rgba8", 2, 4, 8, pf32bit},
        {"rgba16", 2, 4, 16, pf32bit}, {"cmyk8", 5, 4, 8, pf24bit},
    };
    const TiffPacking packings[] = {{tcNone}, {tcPackBits}, {tcDeflate}, {tcDeflate, true}, {tcPackBits, true}};
    std::vector<LayoutCase> cases;
    for (const Layout& layout : layouts)
        for (TiffPacking packing : packings)
            for (bool bigEndian : {false, true})
                for (bool tiled : {false, true})
                    for (bool planar : {false, true})
                        if (!(planar && layout.samples == 1) && !(packing.Predictor && layout.bits < 8))
                            cases.push_back({layout, packing, bigEndian, tiled, planar});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, TIFFLayouts, testing::ValuesIn(AllLayoutCases()), CaseName);

// A small uncompressed image of the given layout in one strip.
TiffDirectory Plain(const TiffImage& image, uint16_t photometric, std::vector<TiffField> extra = {}) {
    TiffDirectory directory;
    directory.Fields = TiffBasics(image, photometric, 1, image.Height);
    directory.Fields.insert(directory.Fields.end(), extra.begin(), extra.end());
    directory.Chunks = TiffChunks(image, {}, false, image.Height);
    return directory;
}

TEST(TIFF, PropertiesOfAnyDirectoryInEitherByteOrder) {
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        const TiffImage gray = PatternTiff(3, 2, 1, 8), colour = PatternTiff(5, 4, 3, 16);
        TiffDirectory first = Plain(gray, 0, {Short(266, {2}), Short(296, {3}), Rational(282, 100, 1)});
        TiffDirectory second = Plain(colour, 6,
                                     {Short(530, {2, 1}),
                                      Short(284, {2}),
                                      Short(317, {2}),
                                      Short(322, {16}),
                                      Short(323, {32}),
                                      Short(338, {1}),
                                      {283, tFloat, {std::bit_cast<uint32_t>(72.5f)}},
                                      {282, tDouble, {std::bit_cast<uint64_t>(300.25)}}});
        second.Fields.erase(second.Fields.begin() + 6);  // no RowsPerStrip
        const Bytes file = MakeTiff({first, second}, big);
        TMemoryStream stream(file.data(), file.size());
        EXPECT_TRUE(TTIFFGraphic::ProbeStream(stream));

        TTIFFGraphic graphic;
        ASSERT_TRUE(graphic.ReadProperties(stream, 0));
        const TImageProperties& p = graphic.Properties;
        EXPECT_EQ(p.FormatVersion, 42u);
        EXPECT_EQ(p.Flags, (big ? ifBigEndian : 0) | ifMinIsWhite | ifReversedBits);
        EXPECT_EQ(p.Width, 3u);
        EXPECT_EQ(p.ColorScheme, csGray);
        EXPECT_EQ(p.Compression, ckNone);
        EXPECT_FLOAT_EQ(p.XResolution, 254.0f);
        EXPECT_EQ(p.YResolution, 0.0f);
        EXPECT_EQ(p.PlanarConfig, 1u);
        EXPECT_EQ(p.JPEGTablesMode, 3u);
        EXPECT_TRUE(p.YCbCrSubSampling.empty());

        ASSERT_TRUE(graphic.ReadProperties(stream, 1));
        EXPECT_EQ(p.Flags, (big ? ifBigEndian : 0) | ifTiled);
        EXPECT_EQ(p.Width, 5u);
        EXPECT_EQ(p.Height, 4u);
        EXPECT_EQ(p.ColorScheme, csYCbCr);
        EXPECT_EQ(p.BitsPerSample, 16);
        EXPECT_EQ(p.SamplesPerPixel, 3);
        EXPECT_EQ(p.BitsPerPixel, 48);
        EXPECT_EQ(p.YCbCrSubSampling, (TByteArray{2, 1}));
        EXPECT_EQ(p.RowsPerStrip, (TCardinalArray{4}));
        EXPECT_EQ(p.PlanarConfig, 2u);
        EXPECT_EQ(p.Predictor, 2u);
        EXPECT_EQ(p.TileWidth, 16u);
        EXPECT_EQ(p.TileLength, 32u);
        EXPECT_TRUE(p.HasAlpha);
        EXPECT_FLOAT_EQ(p.XResolution, 300.25f);
        EXPECT_FLOAT_EQ(p.YResolution, 72.5f);

        EXPECT_FALSE(graphic.ReadProperties(stream, 2));
    }
}

TEST(TIFF, ValueListsOfOtherTypesAreConvertedAndUnknownTypesAreAbsent) {
    const TiffImage image = PatternTiff(4, 6, 1, 8);
    TiffDirectory directory = Plain(image, 1);
    directory.Fields[2] = {258, 14, {8}};                 // BitsPerSample of an unknown type
    directory.Fields[6] = {278, tRational, {9, 2}, 1};    // RowsPerStrip 4.5
    directory.Fields.push_back({338, tByte, {0, 1, 2}});  // ExtraSamples as bytes
    const Bytes file = MakeTiff({directory}, true);
    TMemoryStream stream(file.data(), file.size());
    TTIFFGraphic graphic;
    ASSERT_TRUE(graphic.ReadProperties(stream, 0));
    EXPECT_EQ(graphic.Properties.BitsPerSample, 1);
    EXPECT_EQ(graphic.Properties.RowsPerStrip, (TCardinalArray{4}));
    EXPECT_TRUE(graphic.Properties.HasAlpha);
}

TEST(TIFF, DirectoryChainsThatLoopEnd) {
    Bytes file = MakeTiff({Plain(PatternTiff(2, 2, 1, 8), 1)}, false);
    // Point the directory's next link back at itself.
    const uint32_t first = file[4] | file[5] << 8;
    const uint32_t count = file[first] | file[first + 1] << 8;
    std::memcpy(file.data() + first + 2 + 12 * count, file.data() + 4, 4);
    TMemoryStream stream(file.data(), file.size());
    TTIFFGraphic graphic;
    EXPECT_TRUE(graphic.ReadProperties(stream, 0));
    EXPECT_FALSE(graphic.ReadProperties(stream, 1000000000));
}

TEST(TIFF, StripsThatDoNotFitTheImageStayInsideIt) {
    const TiffImage image = PatternTiff(9, 10, 3, 8);
    // PackBits codes each row on its own: the second strip cut after its
    // first row's codes shows that row and zero after it, not the rows the
    // first strip left in the loader's buffer.
    const Bytes row3 = PackTiffRow(image, 3, false);
    const size_t row3Packed = PackBits(row3.data(), row3.size()).size();
    struct Case {
        const char* name;
        uint16_t compression;
        uint32_t rowsPerStrip;
        size_t stripsKept;
        uint32_t zeroFrom, zeroTo;  // the rows left zero
        size_t cutStrip = SIZE_MAX, cutTo = 0;
    };
    for (const Case& c : {Case{"rows per strip 0 is one strip", tcDeflate, 0, 1, 10, 10},
                          Case{"beyond the height", tcDeflate, 1000, 1, 10, 10},
                          Case{"rows per strip 2^32 - 1 is one strip", tcDeflate, 0xFFFFFFFF, 1, 10, 10},
                          Case{"strips missing", tcDeflate, 3, 2, 6, 10},
                          Case{"strip cut short", tcPackBits, 3, 4, 4, 6, 1, row3Packed}}) {
        SCOPED_TRACE(c.name);
        TiffDirectory directory;
        directory.Fields = TiffBasics(image, 2, c.compression, c.rowsPerStrip);
        directory.Chunks = TiffChunks(image, {c.compression}, false, c.rowsPerStrip ? c.rowsPerStrip : 10);
        directory.Chunks.resize(c.stripsKept);
        if (c.cutStrip < c.stripsKept) directory.Chunks[c.cutStrip].resize(c.cutTo);
        TTIFFGraphic graphic;
        Load(graphic, MakeTiff({directory}, false));
        for (uint32_t y = 0; y < image.Height; ++y)
            EXPECT_EQ(graphic.Pixel(4, int(y)), y >= c.zeroFrom && y < c.zeroTo ? TColor(0) : Expected(image, 2, 4, y))
                << y;
    }
}

TEST(TIFF, ByteCountsMissingReachToTheNextStrip) {
    const TiffImage image = PatternTiff(8, 9, 1, 8);
    TiffDirectory directory;
    directory.Fields = TiffBasics(image, 1, 32773, 4);
    directory.Chunks = TiffChunks(image, {tcPackBits}, true, 4);
    directory.WithByteCounts = false;
    TTIFFGraphic graphic;
    Load(graphic, MakeTiff({directory}, true));
    ExpectPixels(graphic, image, 1);
}

TEST(TIFF, SubsampledYCbCrAndCIELab) {
    const TiffImage image = PatternTiff(7, 5, 3, 8);
    const auto expected = [](int y, int cb, int cr) {
        const auto clamp = [](long v) { return uint8_t(std::clamp<long>(v, 0, 255)); };
        return RGB(clamp(y + std::lround(1.402f * (cr - 128))),
                   clamp(y - std::lround(0.344136f * (cb - 128)) - std::lround(0.714136f * (cr - 128))),
                   clamp(y + std::lround(1.772f * (cb - 128))));
    };
    for (auto [h, v] : {std::pair{1u, 1u}, {2u, 1u}, {2u, 2u}, {4u, 2u}}) {
        SCOPED_TRACE(testing::Message() << h << "x" << v);
        // Data units of h x v luma samples, then the unit's first pixel's chroma.
        Bytes data;
        for (uint32_t y = 0; y < image.Height; y += v)
            for (uint32_t x = 0; x < image.Width; x += h) {
                for (uint32_t dy = 0; dy < v; ++dy)
                    for (uint32_t dx = 0; dx < h; ++dx)
                        data.push_back(uint8_t(
                            x + dx < image.Width && y + dy < image.Height ? image.Sample(x + dx, y + dy, 0) : 0));
                data.push_back(uint8_t(image.Sample(x, y, 1)));
                data.push_back(uint8_t(image.Sample(x, y, 2)));
            }
        TiffDirectory directory;
        directory.Fields = TiffBasics(image, 6, 32773, image.Height);
        directory.Fields.push_back(Short(530, {h, v}));
        directory.Chunks = {PackBits(data.data(), data.size())};
        TTIFFGraphic graphic;
        Load(graphic, MakeTiff({directory}, h == 4));
        for (uint32_t y = 0; y < image.Height; ++y)
            for (uint32_t x = 0; x < image.Width; ++x) {
                const uint32_t ux = x / h * h, uy = y / v * v;
                EXPECT_EQ(graphic.Pixel(int(x), int(y)),
                          expected(image.Sample(x, y, 0), image.Sample(ux, uy, 1), image.Sample(ux, uy, 2)))
                    << x << "," << y;
            }
    }

    TiffImage lab{3, 1, 3, 8, {255, 0, 0, 0, 0, 0, 128, 0, 0}};
    TTIFFGraphic graphic;
    Load(graphic, MakeTiff({Plain(lab, 8)}, false));
    EXPECT_EQ(graphic.Pixel(0, 0), RGB(255, 255, 255));
    EXPECT_EQ(graphic.Pixel(1, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetRValue(graphic.Pixel(2, 0)), GetBValue(graphic.Pixel(2, 0)));
}

TEST(TIFF, RefusalsAndHostileFiles) {
    const TiffImage image = PatternTiff(6, 4, 3, 8);
    const auto with = [&](const std::function<void(TiffDirectory&)>& change, bool big = false) {
        TiffDirectory directory = Plain(image, 2);
        change(directory);
        return MakeTiff({directory}, big);
    };
    const auto field = [](TiffField value) {
        return [value](TiffDirectory& d) {
            for (TiffField& f : d.Fields)
                if (f.Tag == value.Tag) f = value;
        };
    };
    const auto compression = [&](uint16_t scheme) { return field(Short(259, {scheme})); };
    const Bytes plain = with([](TiffDirectory&) {});
    // 344 x 1033 RGB pixels are 1033 x 1032 bytes: a deflate strip of 1033
    // bytes could hold them at deflate's best ratio, one of 1032 could not,
    // nor could it at a ratio one higher.
    const auto deflateStrip = [&](size_t size) {
        return with([&](TiffDirectory& d) {
            d.Fields[0] = Long(256, {344});
            d.Fields[1] = Long(257, {1033});
            d.Fields[3] = Short(259, {8});
            d.Fields[6] = Long(278, {1033});
            d.Chunks = {Patched(Bytes(size, 0), 0, {0x78, 0x9C, 0x63, 0x60})};
        });
    };
    ExpectRefusals<TTIFFGraphic>({
        {"lossless old-style JPEG", with([&](TiffDirectory& d) {
             compression(6)(d);
             d.Fields.push_back(Short(512, {14}));
         }),
         Unsupported},
        {"PixarLog", with(compression(32909)), Unsupported},
        {"NeXT", with(compression(32766), true), Unsupported},
        {"width 0", with(field(Long(256, {0}))), Invalid},
        {"version 44", Patched(plain, 2, {44}), Invalid},
        {"BigTIFF with offsets of 4 bytes", Patched(plain, 2, {43, 0, 4, 0}), Invalid},
        {"not a TIFF", {'I', 'I', 42, 0, 8, 0, 0, 0, 'x'}, Invalid},
        {"directory cut short", Cut(plain, plain[4] + 10), Invalid},
        {"huge image in a small file", with([](TiffDirectory& d) {
             d.Fields[0] = Long(256, {16384});
             d.Fields[1] = Long(257, {16384});
             d.Fields[3] = Short(259, {8});
             d.Chunks = {Deflate(Bytes(4000, 0))};
         }),
         Invalid},
        {"deflate strip a byte short of its best ratio", deflateStrip(1032), Invalid},
        {"deflate strip just long enough (loads)", deflateStrip(1033), ""},
        {"beyond 2^28 pixels", with([](TiffDirectory& d) {
             d.Fields[0] = Long(256, {70000});
             d.Fields[1] = Long(257, {70000});
         }),
         Invalid},
        {"raw strip beyond the file", with([](TiffDirectory& d) {
             d.Chunks.clear();
             d.Fields.insert(d.Fields.end(), {Long(273, {5000}), Long(279, {72})});
         }),
         Invalid},
        {"tile outside the file", with([](TiffDirectory& d) {
             d.Fields.insert(d.Fields.end(), {Short(322, {16}), Short(323, {16}), Short(259, {8}),
                                              Long(324, {0x7FFFFFF0}), Long(325, {1000})});
             d.Fields.erase(d.Fields.begin() + 3);
             d.Chunks.clear();
         }),
         Invalid},
        {"tiles missing", with([&](TiffDirectory& d) {
             d.Fields.insert(d.Fields.end(), {Short(322, {16}), Short(323, {16})});
             d.Fields[3] = Short(259, {8});
             d.Chunks = TiffChunks(PatternTiff(40, 4, 3, 8), {tcDeflate}, false, 0, false, 16, 16);
             d.Chunks.pop_back();
             d.Fields[0] = Long(256, {40});
             d.Tiled = true;
         }),
         Invalid},
        {"too few samples for RGB", with(field(Short(277, {2}))),
         "Sample count per pixel does not correspond to the given color scheme."},
        {"16-bit palette indices", with([](TiffDirectory& d) {
             d.Fields[2] = Short(258, {16});
             d.Fields[4] = Short(262, {3});
             d.Fields[5] = Short(277, {1});
             d.Fields.push_back(Short(320, std::vector<uint64_t>(3 * 65536, 0)));
         }),
         "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16."},
        {"64-bit integers", with(field(Short(258, {64, 64, 64}))),
         "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16."},
        {"unknown photometric", with(field(Short(262, {4}))),
         "Color conversion failed. Could not find a proper method."},
        {"subsampled planes", with([](TiffDirectory& d) {
             d.Fields[4] = Short(262, {6});
             d.Fields.insert(d.Fields.end(), {Short(284, {2}), Short(530, {2, 2})});
         }),
         "Cannot load image. Separately stored subsampled YCbCr planes are not supported for TIF/TIFF files."},
    });
}

// A little-endian file's LONG value `index` of a tag, rewritten.
Bytes PatchLong(Bytes file, uint16_t tag, size_t index, uint32_t value) {
    const auto get = [&](size_t at, int size) {
        uint32_t v = 0;
        for (int k = 0; k < size; ++k) v |= uint32_t(file[at + k]) << 8 * k;
        return v;
    };
    const uint32_t directory = get(4, 4);
    for (uint32_t e = 0; e < get(directory, 2); ++e) {
        const size_t entry = directory + 2 + 12 * e;
        if (get(entry, 2) != tag) continue;
        const size_t at = (get(entry + 4, 4) > 1 ? get(entry + 8, 4) : entry + 8) + 4 * index;
        for (int k = 0; k < 4; ++k) file[at + k] = uint8_t(value >> 8 * k);
    }
    return file;
}

// Stored forms the colour manager does not take as they are, each turned
// into what most of libtiff's peers show; one row of pixels each.
TEST(TIFF, SampleFormatsExtraSamplesAndBitOrder) {
    struct Case {
        const char* name;
        uint16_t photometric, samples, bits;
        std::vector<TiffField> extra;
        Bytes row;
        std::vector<TColor> colours;
        std::vector<uint8_t> alpha = {};
        uint16_t compression = 1;
    };
    const auto format = [](uint16_t f) { return Short(339, {f}); };
    const auto reversed = [](Bytes bytes) {
        for (uint8_t& b : bytes) b = uint8_t(((b * 0x0802u & 0x22110u) | (b * 0x8020u & 0x88440u)) * 0x10101u >> 16);
        return bytes;
    };
    const TColor black = RGB(0, 0, 0), white = RGB(255, 255, 255), mid = RGB(127, 127, 127);
    const Case cases[] = {
        {"signed 8-bit", 1, 1, 8, {format(2)}, {0x80, 0x7F, 0}, {black, white, RGB(128, 128, 128)}},
        {"signed 16-bit", 1, 1, 16, {format(2)}, {0, 0x80, 0xFF, 0x7F}, {black, white}},
        {"unsigned 32-bit", 1, 1, 32, {}, {0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}, {mid, white}},
        {"signed 32-bit", 1, 1, 32, {format(2)}, {0, 0, 0, 0x80, 0, 0, 0, 0}, {black, mid}},
        {"float 32-bit", 1, 1, 32, {format(3)}, {0, 0, 0, 0x3F, 0, 0, 0, 0x40, 0, 0, 0x80, 0xBF}, {mid, white, black}},
        {"float 16-bit", 1, 1, 16, {format(3)}, {0, 0x38, 0, 0x3C}, {mid, white}},
        {"float 24-bit", 1, 1, 24, {format(3)}, {0, 0, 0x3E, 0, 0, 0x3F}, {mid, white}},
        {"float 32-bit, floating-point predictor", 1, 1, 32, {format(3), Short(317, {3})},
         Deflate({0x3F, 0, 0xC1, 0x80, 0x80, 0, 0, 0}), {mid, white}, {}, 8},
        {"RGB with alpha and a further sample", 2, 5, 8, {Short(338, {2, 0})}, {10, 20, 30, 40, 50},
         {RGB(10, 20, 30)}, {40}},
        {"CMYK with alpha", 5, 5, 8, {Short(338, {2})}, {0, 0, 0, 0, 9}, {white}},
        {"CIELab with alpha", 8, 4, 8, {Short(338, {1})}, {255, 0, 0, 77, 0, 0, 0, 200}, {white, black}, {77, 200}},
        {"ICC L*a*b*", 9, 3, 8, {}, {255, 128, 128, 0, 128, 128}, {white, black}},
        {"bits least significant first", 1, 1, 8, {Short(266, {2})}, reversed({0x80, 0x01}), {RGB(128, 128, 128), RGB(1, 1, 1)}},
        {"bits least significant first, deflate", 1, 1, 16, {Short(266, {2})},
         reversed(Deflate({0, 0x80, 0xFF, 0xFF})), {RGB(127, 127, 127), white}, {}, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TiffImage image{uint32_t(c.colours.size()), 1, c.samples, c.bits, {}};
        TiffDirectory directory;
        directory.Fields = TiffBasics(image, c.photometric, c.compression, 1);
        directory.Fields.insert(directory.Fields.end(), c.extra.begin(), c.extra.end());
        directory.Chunks = {c.row};
        TTIFFGraphic graphic;
        Load(graphic, MakeTiff({directory}, false));
        EXPECT_TRUE(ShowsPixels(graphic, int(c.colours.size()), 1, [&](int x, int) { return c.colours[size_t(x)]; }));
        for (size_t x = 0; x < c.alpha.size(); ++x) EXPECT_EQ(graphic.ScanLine(0)[4 * x + 3], c.alpha[x]);
    }
}

// Files missing parts load what is there, from memory and from a file, and
// hostile claims cost nothing: a strip far outside the file, a fax tile
// claimed 2^29 pixels wide.
TEST(TIFF, MissingDataAndHostileClaims) {
    const TiffImage image = PatternTiff(16, 8, 1, 8);
    TiffDirectory base = Plain(image, 1);
    const auto rowsShown = [&](const Bytes& file, bool fromFile, uint32_t rows) {
        ScratchFolder folder;
        WriteFileBytes(folder / "in.tif", file);
        TFileStream stream(folder / "in.tif", TFileStream::fmOpenRead);
        TMemoryStream memory(file.data(), file.size());
        TTIFFGraphic graphic;
        graphic.LoadFromStream(fromFile ? static_cast<TStream&>(stream) : memory);
        return ShowsPixels(graphic, 16, 8, [&](int x, int y) {
            return uint32_t(y) < rows ? Expected(image, 1, x, y) : TColor(0);
        });
    };
    TiffDirectory noCompression = base;
    noCompression.Fields.erase(noCompression.Fields.begin() + 3);
    // The file ends rows into its only strip.
    const auto truncated = [&](size_t rows) {
        TiffDirectory directory = base;
        directory.Chunks.clear();
        directory.Fields.insert(directory.Fields.end(), {Long(273, {0}), Long(279, {128})});
        Bytes file = MakeTiff({directory}, false);
        file = PatchLong(file, 273, 0, uint32_t(file.size()));
        file.insert(file.end(), base.Chunks[0].begin(), base.Chunks[0].begin() + std::ptrdiff_t(16 * rows));
        return file;
    };
    TiffDirectory twoStrips;
    twoStrips.Fields = TiffBasics(image, 1, 8, 4);
    twoStrips.Chunks = TiffChunks(image, {tcDeflate}, false, 4);
    twoStrips.Chunks[0].resize(10000, 0);
    const Bytes outside = PatchLong(MakeTiff({twoStrips}, false), 273, 1, 0xFFFFFFF0);
    // Group 4 rows of white coded against white above, one bit each.
    TiffDirectory wideTile;
    wideTile.Fields = TiffBasics(image, 0, 4, 8);
    wideTile.Fields[2] = Short(258, {1});
    wideTile.Fields.insert(wideTile.Fields.end(), {Long(322, {1u << 29}), Long(323, {8})});
    wideTile.Tiled = true;
    wideTile.Chunks = {Bytes{0xFF, 0, 0x10, 0x01}};
    for (bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "file stream" : "memory stream");
        EXPECT_TRUE(rowsShown(MakeTiff({noCompression}, false), fromFile, 8));
        EXPECT_TRUE(rowsShown(truncated(5), fromFile, 5));
        EXPECT_TRUE(rowsShown(outside, fromFile, 4));
        ScratchFolder folder;
        WriteFileBytes(folder / "fax.tif", MakeTiff({wideTile}, false));
        TTIFFGraphic graphic;
        if (fromFile) graphic.LoadFromFile(folder / "fax.tif");
        else Load(graphic, MakeTiff({wideTile}, false));
        EXPECT_TRUE(ShowsPixels(graphic, 16, 8, [](int, int) { return RGB(255, 255, 255); }));
    }
    EXPECT_EQ(LoadError<TTIFFGraphic>(truncated(3)), Invalid);
}

TEST(TIFF, EPSPreviews) {
    const TiffImage image = PatternTiff(5, 3, 3, 8);
    const Bytes tiff = MakeTiff({Plain(image, 2)}, true);
    const Bytes eps = MakeEps(tiff);
    const std::string invalid = "Cannot load image. Invalid or unexpected EPS image format.";
    const std::string text = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\nshowpage\n";
    struct Case {
        const char* name;
        Bytes file;
        bool probe;
        std::string error;
    };
    const Case cases[] = {
        {"with a preview", eps, true, ""},
        {"without a preview", MakeEps({}, 0, 0), false, invalid},
        {"preview offset outside", MakeEps(tiff, 5000, 0), false, invalid},
        {"preview length outside", MakeEps(tiff, 0, 5000), false, invalid},
        {"plain-text PostScript", Bytes(text.begin(), text.end()), false, invalid},
        {"preview not a TIFF", MakeEps(Bytes(40, 'x')), true, Invalid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Probe<TEPSGraphic>(c.file), c.probe);
        EXPECT_EQ(LoadError<TEPSGraphic>(c.file), c.error);
    }
    TEPSGraphic graphic;
    Load(graphic, eps);
    ExpectPixels(graphic, image, 2);
    EXPECT_FALSE(Probe<TTIFFGraphic>(eps));
}

TEST(TIFF, FaxAndThunderScanRows) {
    // Runs of 0 to 8 pixels and 64 plus that, as the test coder needs them.
    TiffImage page{72, 9, 1, 1, {}};
    for (uint32_t y = 0; y < page.Height; ++y) {
        uint32_t state = y * 2654435761u + 1;
        bool white = y % 4 != 3;
        for (uint32_t x = 0; x < page.Width;) {
            state = state * 1103515245u + 12345u;
            const uint32_t length = y % 3 == 0 && x == 0 ? 64 + state % 5 : 1 + (state >> 16) % 8;
            for (uint32_t i = 0; i < length && x < page.Width; ++i, ++x) page.Values.push_back(white ? 0 : 1);
            white = !white;
        }
    }
    struct Case {
        const char* name;
        uint16_t compression, fillOrder;
        FaxCoding coding;
        uint32_t rowsPerStrip;
    };
    const Case cases[] = {
        {"Group 3 with end-of-line codes", 3, 1, {true, 0, false}, 9},
        {"Group 3 in strips, reversed bits", 3, 2, {true, 0, true}, 4},
        {"Group 3 with byte-aligned end-of-line codes", 3, 1, {true, 8, false}, 9},
        {"modified Huffman", 2, 1, {false, 8, false}, 9},
        {"modified Huffman, reversed bits", 2, 2, {false, 8, true}, 2},
        {"word-aligned modified Huffman", 32771, 1, {false, 16, false}, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffDirectory directory;
        directory.Fields = TiffBasics(page, 0, c.compression, c.rowsPerStrip);
        directory.Fields.push_back(Short(266, {c.fillOrder}));
        for (uint32_t y = 0; y < page.Height; y += c.rowsPerStrip) {
            TiffImage strip{page.Width, std::min(c.rowsPerStrip, page.Height - y), 1, 1, {}};
            strip.Values.assign(page.Values.begin() + y * page.Width,
                                page.Values.begin() + (y + strip.Height) * page.Width);
            directory.Chunks.push_back(FaxRows(strip, c.coding));
        }
        TTIFFGraphic graphic;
        Load(graphic, MakeTiff({directory}, false));
        ExpectPixels(graphic, page, 0);
    }

    const TiffImage gray = PatternTiff(13, 5, 1, 4);
    TiffDirectory thunder;
    thunder.Fields = TiffBasics(gray, 1, 32809, gray.Height);
    thunder.Chunks = {ThunderRows(gray)};
    TTIFFGraphic graphic;
    Load(graphic, MakeTiff({thunder}, true));
    ExpectPixels(graphic, gray, 1);
}

TEST(TIFF, JPEGStripsWithTheirOwnTables) {
    // Complete JPEG streams per strip, no JPEGTables field: the pixels are
    // libjpeg's own decoding of each strip.
    for (int samples : {3, 1}) {
        SCOPED_TRACE(samples);
        const TiffImage image = PatternTiff(40, 36, samples, 8);
        TiffDirectory directory;
        directory.Fields = TiffBasics(image, samples == 3 ? 6 : 1, 7, 16);
        directory.Fields.push_back(Short(284, {1}));
        Bytes expected;
        for (uint32_t y = 0; y < image.Height; y += 16) {
            Bytes rows;
            for (uint32_t r = y; r < std::min(y + 16, image.Height); ++r) {
                const Bytes row = PackTiffRow(image, r, false);
                rows.insert(rows.end(), row.begin(), row.end());
            }
            directory.Chunks.push_back(
                JpegStream(rows, image.Width, uint32_t(rows.size()) / image.Width / samples, samples));
            const Bytes decoded = JpegPixels(directory.Chunks.back());
            expected.insert(expected.end(), decoded.begin(), decoded.end());
        }
        TTIFFGraphic graphic;
        Load(graphic, MakeTiff({directory}, samples == 1));
        TiffImage want{image.Width, image.Height, uint32_t(samples), 8,
                       std::vector<uint16_t>(expected.begin(), expected.end())};
        ExpectPixels(graphic, want, samples == 3 ? 2 : 1);
    }
}

// Old-style JPEG as old scanners wrote it: a whole JPEG stream that
// JPEGInterchangeFormat points at, or tables in fields of their own and the
// scan data alone in the strip; either shows libjpeg's own decoding.
TEST(TIFF, OldStyleJPEG) {
    const TiffImage image = PatternTiff(40, 24, 3, 8);
    Bytes rows;
    for (uint32_t y = 0; y < image.Height; ++y) {
        const Bytes row = PackTiffRow(image, y, false);
        rows.insert(rows.end(), row.begin(), row.end());
    }
    const Bytes stream = JpegStream(rows, image.Width, image.Height, 3);
    const Bytes decoded = JpegPixels(stream);
    const TiffImage want{image.Width, image.Height, 3, 8, std::vector<uint16_t>(decoded.begin(), decoded.end())};
    // The stream's segments: where each table's values start, and its scan.
    std::vector<uint64_t> quant, dc, ac;
    size_t scan = 0;
    for (size_t at = 2; at + 4 < stream.size() && !scan;) {
        const size_t length = size_t(stream[at + 2]) << 8 | stream[at + 3];
        if (stream[at + 1] == 0xDB) quant.push_back(at + 5);
        if (stream[at + 1] == 0xC4) (stream[at + 4] >> 4 ? ac : dc).push_back(at + 5);
        if (stream[at + 1] == 0xDA) scan = at + 2 + length;
        at += 2 + length;
    }
    ASSERT_EQ(quant.size(), 2u);
    ASSERT_EQ(dc.size(), 2u);
    for (bool whole : {true, false}) {
        SCOPED_TRACE(whole ? "JPEGInterchangeFormat" : "tables in fields");
        // The stream is the strip, right after the header at offset 8;
        // without JPEGInterchangeFormat the strip is its scan data alone.
        TiffDirectory directory;
        directory.Fields = TiffBasics(image, 6, 6, image.Height);
        directory.Fields.push_back(Short(530, {2, 2}));
        directory.Chunks = {stream};
        if (whole) directory.Fields.insert(directory.Fields.end(), {Long(513, {8}), Long(514, {stream.size()})});
        for (auto [tag, offsets] : {std::pair{519, quant}, {520, dc}, {521, ac}})
            if (!whole) directory.Fields.push_back(Long(uint16_t(tag), {8 + offsets[0], 8 + offsets[1], 8 + offsets[1]}));
        Bytes file = MakeTiff({directory}, false);
        if (!whole) file = PatchLong(PatchLong(file, 273, 0, uint32_t(8 + scan)), 279, 0, uint32_t(stream.size() - scan));
        TTIFFGraphic graphic;
        Load(graphic, file);
        ExpectPixels(graphic, want, 2);
    }
}

TEST(TIFF, PicturesLoadTIFFFaxAndEPSFilesByExtension) {
    const TiffImage image = PatternTiff(21, 11, 3, 8);
    const Bytes tiff = MakeTiff({Plain(image, 2)}, false);
    ScratchFolder folder;
    WriteFileBytes(folder / "picture.TIF", tiff);
    WriteFileBytes(folder / "picture.fax", tiff);
    WriteFileBytes(folder / "picture.eps", MakeEps(tiff));
    GraphicFormatsInitialization();
    for (const char* name : {"picture.TIF", "picture.fax", "picture.eps"}) {
        SCOPED_TRACE(name);
        TPicture picture;
        picture.LoadFromFile(folder / name);
        const auto* graphic = dynamic_cast<const TTIFFGraphic*>(picture.Graphic());
        ASSERT_NE(graphic, nullptr);
        EXPECT_EQ(graphic->ClassType(), std::string(name).ends_with("eps") ? TEPSGraphic::StaticClass()
                                                                           : TTIFFGraphic::StaticClass());
        ExpectPixels(*graphic, image, 2);
    }
    GraphicFormatsFinalization();
}

// ---------------------------------------------------------------------------
// Files of other writers: libtiff's tiffcp and ImageMagick write them, and
// libtiff's own reading (TIFFReadRGBAImage) gives the pixels to expect;
// ImageMagick's reading where libtiff's does not read the kind (samples of
// 32 bits or floating point, CIELab with alpha, alpha of 16-bit gray) or
// reads it against the format (CIELab through a plain 2.4 power curve,
// relative to the named white without adapting it to the display's).

// A page-like bilevel image: white with black bars and dots.
TiffImage Page(uint32_t width, uint32_t height) {
    TiffImage image{width, height, 1, 1, {}};
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            image.Values.push_back((y / 6 % 3 == 1 && x % 23 < 17) || (x * 7 + y * 3) % 41 == 0 ? 0 : 1);
    return image;
}

// The sources the tools convert, as uncompressed TIFF files (and as PPM and
// PBM files for ImageMagick).
void WriteSources(const ScratchFolder& folder) {
    const TiffImage rgb = PatternTiff(150, 90, 3, 8), page = Page(150, 90);
    WriteFileBytes(folder / "rgb.tif", MakeTiff({Plain(rgb, 2)}, false));
    WriteFileBytes(folder / "page.tif", MakeTiff({Plain(page, 1)}, false));
    WriteFileBytes(folder / "gray.tif", MakeTiff({Plain(PatternTiff(150, 90, 1, 8), 1)}, false));
    for (uint32_t bits : {2u, 4u, 16u})
        WriteFileBytes(folder / ("gray" + std::to_string(bits) + ".tif"),
                       MakeTiff({Plain(PatternTiff(150, 90, 1, bits), 1)}, bits == 16));
    WriteFileBytes(folder / "rgb16.tif", MakeTiff({Plain(PatternTiff(150, 90, 3, 16), 2)}, true));
    WriteFileBytes(folder / "palette.tif",
                   MakeTiff({Plain(PatternTiff(150, 90, 1, 8), 3, {Short(320, ColorMapValues(8))})}, false));

    WriteFileBytes(folder / "rgb.ppm", MakePortableMap({6, 150, 90, 255, {rgb.Values.begin(), rgb.Values.end()}}));
    PortableMap pbm{4, 150, 90, 1, {}};
    for (uint16_t v : page.Values) pbm.Samples.push_back(1 - v);  // PBM: 1 is black
    WriteFileBytes(folder / "page.pbm", MakePortableMap(pbm));
}

// Pixels as red, green, blue, alpha bytes, rows from the top.
struct RGBAPixels {
    int Width = 0, Height = 0;
    std::vector<uint8_t> Bytes;
    // libtiff premultiplies unassociated alpha into the RGB colours it reads.
    bool Premultiplied = false;
};

::testing::AssertionResult ReadWithLibTIFF(const std::string& path, RGBAPixels& pixels) {
#ifdef DOT3_HAVE_LIBTIFF
    TIFFSetWarningHandler(nullptr);
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return ::testing::AssertionFailure() << "libtiff does not open " << path;
    uint32_t width = 0, height = 0;
    uint16_t count = 0, *kinds = nullptr, photometric = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    pixels.Premultiplied = TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) && count > 0 &&
                           kinds[0] == EXTRASAMPLE_UNASSALPHA && photometric == PHOTOMETRIC_RGB;
    std::vector<uint32_t> raster(size_t(width) * height);
    const bool read = TIFFReadRGBAImageOriented(tiff, width, height, raster.data(), ORIENTATION_TOPLEFT, 0);
    TIFFClose(tiff);
    if (!read) return ::testing::AssertionFailure() << "libtiff does not read " << path;
    pixels.Width = int(width);
    pixels.Height = int(height);
    pixels.Bytes.clear();
    for (uint32_t v : raster)
        pixels.Bytes.insert(pixels.Bytes.end(), {uint8_t(TIFFGetR(v)), uint8_t(TIFFGetG(v)), uint8_t(TIFFGetB(v)),
                                                 uint8_t(TIFFGetA(v))});
    return ::testing::AssertionSuccess();
#else
    (void)path, (void)pixels;
    return ::testing::AssertionFailure() << "built without libtiff (scripts/deps bench installs libtiff-dev)";
#endif
}

::testing::AssertionResult ReadWithImageMagick(const ScratchFolder& folder, RGBAPixels& pixels) {
    if (!RunTool("/usr/bin/convert " + folder / "out.tif" + "[0] -colorspace sRGB -depth 8 " + folder / "reference.pam"))
        return ::testing::AssertionFailure() << "ImageMagick does not read the file";
    const Bytes file = ReadFileBytes(folder / "reference.pam");
    std::string head(file.begin(), file.begin() + std::min<size_t>(file.size(), 200));
    const size_t end = head.find("ENDHDR\n");
    int depth = 0;
    std::sscanf(head.c_str(), "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d", &pixels.Width, &pixels.Height, &depth);
    if (end == std::string::npos || depth < 1 || file.size() < end + 7 + size_t(pixels.Width) * pixels.Height * depth)
        return ::testing::AssertionFailure() << "ImageMagick wrote no readable map";
    pixels.Bytes.clear();
    for (size_t i = 0, at = end + 7; i < size_t(pixels.Width) * pixels.Height; ++i, at += depth) {
        const uint8_t* p = &file[at];
        const bool colour = depth >= 3;
        pixels.Bytes.insert(pixels.Bytes.end(), {p[0], p[colour ? 1 : 0], p[colour ? 2 : 0],
                                                 uint8_t(depth == 2 || depth == 4 ? p[depth - 1] : 255)});
    }
    return ::testing::AssertionSuccess();
}

// Whether the bitmap shows the reference: colours (premultiplied as the
// reference is) and, in 32-bit bitmaps, alpha, each within tolerance, or
// on average within it.
::testing::AssertionResult ShowsRGBA(const TBitmap& bitmap, const RGBAPixels& reference, int tolerance,
                                     bool onAverage) {
    if (bitmap.Width() != reference.Width || bitmap.Height() != reference.Height)
        return ::testing::AssertionFailure() << "size " << bitmap.Width() << " x " << bitmap.Height();
    const bool alpha = bitmap.PixelFormat() == pf32bit;
    double total = 0;
    for (int y = 0; y < reference.Height; ++y)
        for (int x = 0; x < reference.Width; ++x) {
            const uint8_t* want = &reference.Bytes[4 * (size_t(y) * reference.Width + x)];
            const TColor shown = bitmap.Pixel(x, y);
            const int a = alpha ? bitmap.ScanLine(y)[4 * x + 3] : 255;
            int got[4] = {int(GetRValue(shown)), int(GetGValue(shown)), int(GetBValue(shown)), a};
            if (alpha && reference.Premultiplied)
                for (int c = 0; c < 3; ++c) got[c] = (got[c] * a + 127) / 255;
            for (int c = 0; c < (alpha ? 4 : 3); ++c)
                if (total += std::abs(got[c] - want[c]); !onAverage && std::abs(got[c] - want[c]) > tolerance)
                    return ::testing::AssertionFailure() << "pixel " << x << "," << y << " component " << c << " is "
                                                         << got[c] << ", not " << int(want[c]);
        }
    if (const double mean = total / (double(reference.Width) * reference.Height * (alpha ? 4 : 3));
        onAverage && mean > tolerance)
        return ::testing::AssertionFailure() << "components differ by " << mean << " on average";
    return ::testing::AssertionSuccess();
}

struct ToolCase {
    const char* command;  // the source last (without extension); writes out.tif
    int tolerance;
    bool magickReads = false;  // ImageMagick's reading is the reference
    // Tolerance on average: 8-bit CIELab is too coarse for the darkest
    // sRGB levels, where the companding curve is steepest.
    bool onAverage = false;
};

TEST(TIFF, FilesOfLibTIFFAndImageMagickDecodeAsLibTIFFReadsThem) {
    ASSERT_TRUE(ToolsPresent({"/usr/bin/tiffcp", "/usr/bin/convert"}));
    ScratchFolder folder;
    WriteSources(folder);
    const ToolCase cases[] = {
        {"tiffcp -c none rgb", 0},
        {"tiffcp -c packbits rgb", 0},
        {"tiffcp -c zip rgb", 0},
        {"tiffcp -c zip:2 -r 7 rgb", 0},
        {"tiffcp -B -c zip:2 rgb16", 1},
        {"tiffcp -p separate -c zip:2 rgb", 0},
        {"tiffcp -c jpeg -r 16 rgb", 2},
        {"tiffcp -c jpeg -r 32 gray", 2},
        {"tiffcp -c jpeg:r -r 16 rgb", 2},
        {"tiffcp -t -w 64 -l 64 -c none rgb", 0},
        {"tiffcp -t -w 64 -l 64 -c packbits rgb", 0},
        {"tiffcp -t -w 64 -l 64 -c zip:2 rgb", 0},
        {"tiffcp -t -w 64 -l 64 -c jpeg rgb", 2},
        {"tiffcp -t -w 32 -l 16 -p separate -c zip rgb", 0},
        {"tiffcp -t -w 32 -l 16 -c zip:2 rgb16", 1},
        {"tiffcp -c zip palette", 1},
        {"tiffcp -c lzw rgb", 0},
        {"tiffcp -c lzw:2 -r 5 rgb", 0},
        {"tiffcp -c lzw:2 rgb16", 1},
        {"tiffcp -c lzw palette", 1},
        {"tiffcp -t -w 64 -l 64 -c lzw:2 rgb", 0},
        {"tiffcp -p separate -c lzw rgb", 0},
        {"tiffcp -c g3 page", 0},
        {"tiffcp -c g3:2d page", 0},
        {"tiffcp -c g3:2d:fill -r 7 page", 0},
        {"tiffcp -c g4 page", 0},
        {"tiffcp -c g4 -f lsb2msb -r 10 page", 0},
        {"tiffcp -t -w 64 -l 64 -c g4 page", 0},
        {"tiffcp -c g3:fill -f lsb2msb page", 0},
        {"tiffcp -t -w 64 -l 64 -c g3 page", 0},
        {"tiffcp -c zstd rgb", 0},
        {"tiffcp -c zstd:2 -r 9 rgb16", 1},
        {"tiffcp -t -w 32 -l 32 -c zstd gray", 0},
        {"tiffcp -c lzma rgb", 0},
        {"tiffcp -c lzma:2 -p separate rgb", 0},
        {"tiffcp -c webp rgb", 0},
        {"tiffcp -t -w 64 -l 64 -c webp rgb", 0},
        {"convert rgb.ppm -alpha set -channel A -fx i/w -compress WebP", 0},
        {"tiffcp -c jbig page", 0},
        {"tiffcp -8 -c zip:2 -r 8 rgb", 0},
        {"tiffcp -8 -t -w 32 -l 32 -c lzw rgb16", 1},
        {"tiffcp -8 -c g4 page", 0},
        {"tiffcp -f lsb2msb -c none page", 0},
        {"tiffcp -f lsb2msb -c packbits gray2", 0},
        {"tiffcp -f lsb2msb -c lzw gray4", 0},
        {"tiffcp -f lsb2msb -c zip gray16", 1},
        {"tiffcp -f lsb2msb -c zstd rgb", 0},
        {"convert rgb.ppm -compress None", 0},
        {"convert rgb.ppm -compress RLE", 0},
        {"convert rgb.ppm -compress Zip -define tiff:predictor=2", 0},
        {"convert rgb.ppm -compress JPEG -quality 80", 2},
        {"convert rgb.ppm -compress Zip -define tiff:tile-geometry=64x64", 0},
        {"convert rgb.ppm -endian MSB -compress Zip -define tiff:predictor=2", 0},
        {"convert rgb.ppm -colorspace CMYK -compress Zip", 1},
        {"convert rgb.ppm -colors 16 -compress RLE", 1},
        {"convert rgb.ppm -colors 200 -compress Zip", 1},
        {"convert rgb.ppm -colorspace Gray -depth 16 -compress Zip", 1},
        {"convert rgb.ppm -colorspace Gray -alpha set -channel A -fx i/w -compress Zip", 1},
        {"convert rgb.ppm -colorspace Gray -depth 16 -alpha set -channel A -fx j/h -compress LZW", 1, true},
        {"convert rgb.ppm -alpha set -channel A -fx i/w -define tiff:alpha=associated -compress Zip", 1},
        {"convert rgb.ppm -depth 16 -compress Zip -define tiff:predictor=2", 1},
        {"convert page.pbm -compress Fax", 0},
        {"convert page.pbm -compress Group4", 0},
        {"convert rgb.ppm -compress LZW", 0},
        {"convert rgb.ppm -alpha set -channel A -fx i/w -compress LZW", 1},
        {"convert rgb.ppm -compress LZW -define tiff:predictor=2 -define tiff:tile-geometry=32x48", 0},
        {"convert rgb.ppm -define tiff:fill-order=lsb -compress Zip", 0},
        {"convert page.pbm -define tiff:fill-order=lsb -compress None", 0},
        {"convert rgb.ppm -colorspace Lab -compress Zip", 2, true, true},
        {"convert rgb.ppm -colorspace Lab -depth 16 -compress LZW", 2, true, true},
        {"convert rgb.ppm -colorspace CMYK -alpha set -channel A -fx i/w -compress Zip", 1},
        {"convert rgb.ppm -colorspace Lab -alpha set -channel A -fx i/w -compress Zip", 2, true, true},
        {"convert rgb.ppm -depth 32 -compress Zip", 1, true},
        {"convert rgb.ppm -colorspace Gray -depth 32 -compress None", 1, true},
        {"convert rgb.ppm -define quantum:format=floating-point -depth 32 -compress Zip", 1, true},
        {"convert rgb.ppm -define quantum:format=floating-point -depth 16 -compress Zip", 1, true},
        {"convert rgb.ppm -define quantum:format=floating-point -depth 32 -compress Zip -define tiff:predictor=3", 1,
         true},
    };
    for (const ToolCase& c : cases) {
        SCOPED_TRACE(c.command);
        std::string command = c.command;
        if (command.starts_with("convert")) {
            const size_t source = command.find(' ') + 1, options = command.find(' ', source);
            command = "/usr/bin/convert " + folder / command.substr(source, options - source) +
                      command.substr(options) + " " + folder / "out.tif";
        } else {
            const size_t source = command.rfind(' ') + 1;
            command = "/usr/bin/" + command.substr(0, source) + folder / (command.substr(source) + ".tif") + " " +
                      folder / "out.tif";
        }
        std::filesystem::remove(folder / "out.tif");
        ASSERT_TRUE(RunTool(command));
        RGBAPixels reference;
        ASSERT_TRUE(c.magickReads ? ReadWithImageMagick(folder, reference)
                                  : ReadWithLibTIFF(folder / "out.tif", reference));
        TTIFFGraphic ours;
        ours.LoadFromFile(folder / "out.tif");
        EXPECT_TRUE(ShowsRGBA(ours, reference, c.tolerance, c.onAverage));
    }
}

}  // namespace
