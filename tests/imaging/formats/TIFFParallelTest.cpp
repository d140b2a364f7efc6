// Large TIFF images decode their strips and tiles on every core the process
// may use; nothing but the time may change. Each file, written by libtiff at
// test time (damaged ones too), is loaded pinned to one core and on every
// core: the pixels, the error and what a failed load leaves must be the same.
// On one core a file's chunks are read as they are decoded, so the file is
// loaded pinned from disk too.
#include <gtest/gtest.h>
#include <sched.h>

#include <cstring>
#include <string>
#include <vector>

#include "GraphicFormats.h"
#include "ToolFiles.h"

#ifdef DOT3_HAVE_LIBTIFF
#include <tiffio.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

struct TLayout {
    const char* Name;
    uint16_t Compression;
    uint32_t Width = 768, Height = 512;
    uint16_t Bits = 8, Samples = 3, Predictor = 1;
    uint32_t RowsPerStrip = 16, Tile = 0;  // Tile: the side of square tiles
    bool Separate = false;
    // Damage: bytes overwritten from this share of the file on, or the file
    // cut there.
    double Garbled = 0, CutAt = 0;
};

#ifdef DOT3_HAVE_LIBTIFF

// Smooth colours with a little noise, and text-like marks for bilevel images.
uint8_t Sample(uint32_t x, uint32_t y, uint32_t s, uint32_t bits) {
    const uint32_t noise = (x * 2654435761u ^ y * 40503u ^ s * 977u) >> 27;
    if (bits == 1) return ((x / 7 + y / 5) % 9 == 0) || noise == 3;
    return uint8_t((x * (s + 1) + y * (3 - s)) / 3 + noise);
}

// Writes the layout's file at path with libtiff and answers its bytes,
// damaged as the layout asks.
Bytes Write(const TLayout& l, const std::string& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, l.Width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, l.Height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.Bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.Samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.Separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, l.Compression);
    const bool jpeg = l.Compression == COMPRESSION_JPEG;
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 l.Samples == 1 ? PHOTOMETRIC_MINISWHITE : jpeg ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB);
    if (jpeg) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (l.Predictor != 1) TIFFSetField(tif, TIFFTAG_PREDICTOR, l.Predictor);
    const uint32_t planes = l.Separate ? l.Samples : 1, perPixel = l.Separate ? 1 : l.Samples;
    const auto pack = [&](uint32_t x0, uint32_t y, uint32_t width, uint32_t plane, uint8_t* out) {
        std::memset(out, 0, (size_t(width) * perPixel * l.Bits + 7) / 8);
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t s = 0; s < perPixel; ++s) {
                const uint8_t v = x0 + x < l.Width && y < l.Height ? Sample(x0 + x, y, plane + s, l.Bits) : 0;
                if (l.Bits == 1)
                    out[x / 8] |= uint8_t(v << (7 - x % 8));
                else
                    out[size_t(x) * perPixel + s] = v;
            }
    };
    if (l.Tile) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, l.Tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, l.Tile);
        Bytes tile(size_t(TIFFTileSize(tif)));
        const size_t rowBytes = size_t(TIFFTileRowSize(tif));
        for (uint32_t plane = 0; plane < planes; ++plane)
            for (uint32_t y = 0; y < l.Height; y += l.Tile)
                for (uint32_t x = 0; x < l.Width; x += l.Tile) {
                    for (uint32_t r = 0; r < l.Tile; ++r) pack(x, y + r, l.Tile, plane, tile.data() + r * rowBytes);
                    TIFFWriteTile(tif, tile.data(), x, y, 0, uint16_t(plane));
                }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.RowsPerStrip);
        Bytes row(size_t(TIFFScanlineSize(tif)));
        for (uint32_t plane = 0; plane < planes; ++plane)
            for (uint32_t y = 0; y < l.Height; ++y) {
                pack(0, y, l.Width, plane, row.data());
                TIFFWriteScanline(tif, row.data(), y, uint16_t(plane));
            }
    }
    TIFFClose(tif);
    Bytes file = imagefiles::ReadFileBytes(path);
    if (l.Garbled > 0)
        for (size_t i = size_t(file.size() * l.Garbled), end = std::min(file.size(), i + 400); i < end; ++i)
            file[i] = uint8_t(i * 37 + 11);
    if (l.CutAt > 0) file.resize(size_t(file.size() * l.CutAt));
    return file;
}

#endif

// What a load leaves: its error (empty when it loaded) and every row.
struct TOutcome {
    std::string Error;
    int Width = 0, Height = 0;
    Bytes Pixels;
};

// Loads the bytes from memory, or from the file at path holding them.
TOutcome Load(const Bytes& file, const std::string& path = "") {
    TTIFFGraphic reader;
    TOutcome outcome;
    try {
        if (path.empty()) {
            TMemoryStream stream(file.data(), file.size());
            reader.LoadFromStream(stream);
        } else {
            TFileStream stream(path, TFileStream::fmOpenRead);
            reader.LoadFromStream(stream);
        }
    } catch (const std::exception& error) {
        outcome.Error = error.what();
    }
    outcome.Width = reader.Width();
    outcome.Height = reader.Height();
    for (int y = 0; y < reader.Height(); ++y)
        outcome.Pixels.insert(outcome.Pixels.end(), reader.ScanLine(y), reader.ScanLine(y) + reader.RowBytes());
    return outcome;
}

TEST(TIFFParallel, EveryCoreGivesWhatOneCoreGives) {
#ifndef DOT3_HAVE_LIBTIFF
    FAIL() << "libtiff (scripts/deps bench installs libtiff-dev) writes this test's files";
#else
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    ASSERT_GE(CPU_COUNT(&all), 2) << "the test needs two cores to decode on";
    CPU_ZERO(&one);
    int first = 0;
    while (!CPU_ISSET(first, &all)) ++first;
    CPU_SET(first, &one);
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);

    const TLayout layouts[] = {
        {"stored", COMPRESSION_NONE},
        {"stored in one strip", COMPRESSION_NONE, 768, 512, 8, 3, 1, 512},
        {"cut stored strip", COMPRESSION_NONE, 768, 512, 8, 3, 1, 512, 0, false, 0, 0.6},
        {"packbits", COMPRESSION_PACKBITS, 768, 512, 8, 3, 1, 8},
        {"lzw predictor", COMPRESSION_LZW, 768, 512, 8, 3, 2, 16},
        {"deflate predictor", COMPRESSION_ADOBE_DEFLATE, 768, 512, 8, 3, 2, 32},
        {"deflate tiles", COMPRESSION_ADOBE_DEFLATE, 700, 500, 8, 3, 1, 0, 128},
        {"deflate planes", COMPRESSION_ADOBE_DEFLATE, 768, 512, 8, 3, 1, 64, 0, true},
        {"deflate 16-bit", COMPRESSION_ADOBE_DEFLATE, 600, 400, 16, 3, 2, 8},
        {"jpeg", COMPRESSION_JPEG},
        {"jpeg tiles", COMPRESSION_JPEG, 640, 512, 8, 3, 1, 0, 128},
        {"zstd", COMPRESSION_ZSTD},
        {"lzma", COMPRESSION_LZMA},
        {"webp", COMPRESSION_WEBP},
        {"fax g4", COMPRESSION_CCITTFAX4, 4096, 2600, 1, 1, 1, 64},
        {"fax g3", COMPRESSION_CCITTFAX3, 4096, 2600, 1, 1, 1, 64},
        {"damaged deflate", COMPRESSION_ADOBE_DEFLATE, 768, 512, 8, 3, 1, 16, 0, false, 0.45},
        {"damaged jpeg", COMPRESSION_JPEG, 768, 512, 8, 3, 1, 16, 0, false, 0.5},
        {"damaged zstd", COMPRESSION_ZSTD, 768, 512, 8, 3, 1, 16, 0, false, 0.4},
        {"damaged lzw tiles", COMPRESSION_LZW, 768, 512, 8, 3, 1, 0, 64, false, 0.3},
        {"damaged fax", COMPRESSION_CCITTFAX4, 4096, 2600, 1, 1, 1, 64, 0, false, 0.6},
        {"cut packbits", COMPRESSION_PACKBITS, 768, 512, 8, 3, 1, 8, 0, false, 0, 0.55},
        {"cut jpeg tiles", COMPRESSION_JPEG, 768, 512, 8, 3, 1, 0, 128, false, 0, 0.7},
    };
    int failed = 0;
    for (const TLayout& layout : layouts) {
        if (!TIFFIsCODECConfigured(layout.Compression)) {
            ADD_FAILURE() << "libtiff was built without the codec of " << layout.Name;
            continue;
        }
        const imagefiles::ScratchFolder folder;
        const Bytes file = Write(layout, folder / "written.tif");
        const std::string path = folder / "loaded.tif";
        imagefiles::WriteFileBytes(path, file);
        ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
        const TOutcome single = Load(file), read = Load(file, path);
        ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
        const TOutcome shared = Load(file);
        for (const TOutcome* other : {&shared, &read}) {
            const char* how = other == &shared ? " on every core" : " read from disk";
            EXPECT_EQ(other->Error, single.Error) << layout.Name << how;
            EXPECT_EQ(other->Width, single.Width) << layout.Name << how;
            EXPECT_EQ(other->Height, single.Height) << layout.Name << how;
            EXPECT_TRUE(other->Pixels == single.Pixels) << layout.Name << how << ": the pixels differ";
        }
        if (layout.Garbled == 0 && layout.CutAt == 0) {
            EXPECT_EQ(single.Error, "") << layout.Name;
        }
        failed += !single.Error.empty();
    }
    EXPECT_GT(failed, 0) << "no damaged file failed to load, so no failure was compared";
#endif
}

}  // namespace
