// Decode throughput of the TIFF reader on 2048 x 2048 RGB pictures in the
// common packings and on a 2480 x 3508 Group 4 page (A4 at 300 dpi). libtiff
// writes every file, with its default strip sizes, and reads the same bytes
// as the baseline: whole strips or tiles decoded into one image buffer, JPEG
// converted to RGB, as our reader delivers them.
#include <tiffio.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "GraphicFormats.h"
#include "LibtiffRead.h"

namespace {

using namespace benchimaging;

constexpr uint32_t PageWidth = 2480, PageHeight = 3508;

// A TIFF file in memory that libtiff reads and writes through its client
// procedures.
struct MemoryFile {
    std::vector<uint8_t> Bytes;
    toff_t At = 0;

    static tsize_t Read(thandle_t h, tdata_t buffer, tsize_t size) {
        auto* file = static_cast<MemoryFile*>(h);
        const tsize_t count = std::min<tsize_t>(size, tsize_t(file->Bytes.size()) - tsize_t(file->At));
        if (count <= 0) return 0;
        std::memcpy(buffer, file->Bytes.data() + file->At, size_t(count));
        file->At += toff_t(count);
        return count;
    }
    static tsize_t Write(thandle_t h, tdata_t buffer, tsize_t size) {
        auto* file = static_cast<MemoryFile*>(h);
        if (file->At + toff_t(size) > file->Bytes.size()) file->Bytes.resize(file->At + toff_t(size));
        std::memcpy(file->Bytes.data() + file->At, buffer, size_t(size));
        file->At += toff_t(size);
        return size;
    }
    static toff_t Seek(thandle_t h, toff_t offset, int whence) {
        auto* file = static_cast<MemoryFile*>(h);
        const toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? file->At : file->Bytes.size();
        return file->At = base + offset;
    }
    static int Close(thandle_t) { return 0; }
    static toff_t Size(thandle_t h) { return static_cast<MemoryFile*>(h)->Bytes.size(); }
    static int Map(thandle_t, tdata_t*, toff_t*) { return 0; }
    static void Unmap(thandle_t, tdata_t, toff_t) {}

    TIFF* Open(const char* mode) {
        At = 0;
        return TIFFClientOpen("memory", mode, this, Read, Write, Seek, Close, Size, Map, Unmap);
    }
};

// A photo-like picture: smooth gradients with a little noise.
std::vector<uint8_t> Picture() {
    std::vector<uint8_t> rgb(size_t(Side) * Side * 3);
    uint32_t noise = 12345;
    size_t i = 0;
    for (uint32_t y = 0; y < Side; ++y)
        for (uint32_t x = 0; x < Side; ++x)
            for (uint32_t c = 0; c < 3; ++c) {
                noise = noise * 1103515245u + 12345u;
                const double wave = (x * (c + 1) + y * (3 - c)) % 1024 / 1023.0;
                rgb[i++] = uint8_t((wave * 0.9 + (noise >> 24) / 255.0 * 0.1) * 255);
            }
    return rgb;
}

// A text-like page, 1 is black: lines of glyph-sized marks on white.
std::vector<uint8_t> Page() {
    const uint32_t rowBytes = (PageWidth + 7) / 8;
    std::vector<uint8_t> page(size_t(rowBytes) * PageHeight);
    uint32_t noise = 7;
    for (uint32_t y = 300; y + 300 < PageHeight; ++y) {
        if (y % 50 >= 30) continue;
        for (uint32_t x = 250; x + 250 < PageWidth; ++x) {
            if (x % 24 == 0) noise = noise * 1103515245u + 12345u;
            const uint32_t glyph = noise >> 16;
            const bool ink = x % 24 < 16 && ((glyph >> (y % 30 / 4)) & 1) && ((x % 24) % 5 < 2 || (y % 30) % 7 < 2);
            if (ink) page[size_t(y) * rowBytes + x / 8] |= uint8_t(0x80 >> (x % 8));
        }
    }
    return page;
}

struct Packing {
    uint16_t Compression;
    uint16_t Predictor = 1;
    bool Tiled = false;
    bool BigTIFF = false;
};

// Starts a file of one contiguous image.
TIFF* Create(MemoryFile& file, uint32_t width, uint32_t height, uint16_t bits, uint16_t samples, uint16_t compression,
             uint16_t photometric, bool bigTIFF = false) {
    TIFF* tif = file.Open(bigTIFF ? "w8" : "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    return tif;
}

std::vector<uint8_t> WriteRGB(const Packing& packing) {
    static const std::vector<uint8_t> picture = Picture();
    MemoryFile file;
    const bool jpeg = packing.Compression == COMPRESSION_JPEG;
    TIFF* tif = Create(file, Side, Side, 8, 3, packing.Compression, jpeg ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB,
                       packing.BigTIFF);
    if (packing.Predictor != 1) TIFFSetField(tif, TIFFTAG_PREDICTOR, packing.Predictor);
    if (jpeg) {
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 75);
    }
    const size_t rowBytes = size_t(Side) * 3;
    if (packing.Tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 256);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 256);
        std::vector<uint8_t> tile(256 * 256 * 3);
        for (uint32_t y = 0; y < Side; y += 256)
            for (uint32_t x = 0; x < Side; x += 256) {
                for (uint32_t r = 0; r < 256; ++r)
                    std::memcpy(tile.data() + r * 256 * 3, picture.data() + (y + r) * rowBytes + x * 3, 256 * 3);
                TIFFWriteTile(tif, tile.data(), x, y, 0, 0);
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
        for (uint32_t y = 0; y < Side; ++y)
            TIFFWriteScanline(tif, const_cast<uint8_t*>(picture.data() + y * rowBytes), y, 0);
    }
    TIFFClose(tif);
    return file.Bytes;
}

std::vector<uint8_t> WritePage() {
    const std::vector<uint8_t> page = Page();
    MemoryFile file;
    TIFF* tif = Create(file, PageWidth, PageHeight, 1, 1, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0);
    const size_t rowBytes = (PageWidth + 7) / 8;
    for (uint32_t y = 0; y < PageHeight; ++y)
        TIFFWriteScanline(tif, const_cast<uint8_t*>(page.data() + y * rowBytes), y, 0);
    TIFFClose(tif);
    return file.Bytes;
}

const std::vector<uint8_t>& File(const std::string& name) {
    static std::map<std::string, std::vector<uint8_t>> files;
    if (auto found = files.find(name); found != files.end()) return found->second;
    static const std::map<std::string, Packing> packings = {
        {"none", {COMPRESSION_NONE}},
        {"packbits", {COMPRESSION_PACKBITS}},
        {"deflate-predictor", {COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL}},
        {"jpeg", {COMPRESSION_JPEG}},
        {"lzw-predictor", {COMPRESSION_LZW, PREDICTOR_HORIZONTAL}},
        {"tiled-deflate", {COMPRESSION_ADOBE_DEFLATE, 1, true}},
        {"bigtiff-deflate-predictor", {COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL, false, true}},
        {"zstd-predictor", {COMPRESSION_ZSTD, PREDICTOR_HORIZONTAL}},
        {"lzma-predictor", {COMPRESSION_LZMA, PREDICTOR_HORIZONTAL}},
    };
    return files[name] = name == "g4-page" ? WritePage() : WriteRGB(packings.at(name));
}

// libtiff decoding every strip or tile into one image buffer.
void LibTIFF(benchmark::State& state, const std::vector<uint8_t>& bytes, double pixels) {
    TLibtiffMemory file{bytes};
    TIFFSetWarningHandler(nullptr);
    for (auto _ : state) {
        file.At = 0;
        TIFF* tif = file.Open();
        ReadLibtiffImage(tif);
        TIFFClose(tif);
    }
    Report(state, pixels);
}

}  // namespace

const std::vector<uint8_t>& benchimaging::TIFFFile(const std::string& name) { return File(name); }

namespace {

const bool registered = [] {
    for (const char* name :
         {"none", "packbits", "deflate-predictor", "jpeg", "lzw-predictor", "tiled-deflate", "g4-page",
          "bigtiff-deflate-predictor", "zstd-predictor", "lzma-predictor"}) {
        const double pixels = std::string(name) == "g4-page" ? double(PageWidth) * PageHeight : double(Side) * Side;
        const std::string suffix = std::string("/") + name;
        benchmark::RegisterBenchmark(("TIFF/ours" + suffix).c_str(), [name, pixels](benchmark::State& s) {
            OurReader<TTIFFGraphic>(s, File(name), pixels);
        });
        benchmark::RegisterBenchmark(("TIFF/libtiff" + suffix).c_str(),
                                     [name, pixels](benchmark::State& s) { LibTIFF(s, File(name), pixels); });
    }
    return true;
}();

}  // namespace
