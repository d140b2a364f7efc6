// How the libtiff baselines read a picture: every strip or tile decoded
// into one fresh image buffer, JPEG data converted to RGB, as our reader
// delivers the pixels.
#pragma once

#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

// A TIFF file's bytes in memory, read by libtiff through its client
// procedures; the bytes must outlive the TIFF handle.
struct TLibtiffMemory {
    const std::vector<uint8_t>& Bytes;
    toff_t At = 0;

    static tsize_t Read(thandle_t h, tdata_t buffer, tsize_t size) {
        auto* file = static_cast<TLibtiffMemory*>(h);
        const tsize_t count = std::min<tsize_t>(size, tsize_t(file->Bytes.size()) - tsize_t(file->At));
        if (count <= 0) return 0;
        std::memcpy(buffer, file->Bytes.data() + file->At, size_t(count));
        file->At += toff_t(count);
        return count;
    }
    static tsize_t Write(thandle_t, tdata_t, tsize_t) { return 0; }
    static toff_t Seek(thandle_t h, toff_t offset, int whence) {
        auto* file = static_cast<TLibtiffMemory*>(h);
        const toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? file->At : file->Bytes.size();
        return file->At = base + offset;
    }
    static int Close(thandle_t) { return 0; }
    static toff_t Size(thandle_t h) { return static_cast<TLibtiffMemory*>(h)->Bytes.size(); }
    static int Map(thandle_t, tdata_t*, toff_t*) { return 0; }
    static void Unmap(thandle_t, tdata_t, toff_t) {}

    TIFF* Open() { return TIFFClientOpen("memory", "r", this, Read, Write, Seek, Close, Size, Map, Unmap); }
};

// Reads the first image of tif; the buffer is freed before the call returns.
inline void ReadLibtiffImage(TIFF* tif) {
    uint16_t compression = 0;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_JPEG) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    const tmsize_t rowBytes = TIFFScanlineSize(tif);
    const auto image = std::make_unique_for_overwrite<uint8_t[]>(size_t(rowBytes) * height);
    if (TIFFIsTiled(tif)) {
        uint32_t width = 0, tileWidth = 0, tileLength = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
        const tmsize_t tileRowBytes = TIFFTileRowSize(tif), pixelBytes = rowBytes / width;
        const auto tile = std::make_unique_for_overwrite<uint8_t[]>(size_t(TIFFTileSize(tif)));
        for (uint32_t y = 0; y < height; y += tileLength)
            for (uint32_t x = 0; x < width; x += tileWidth) {
                TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, 0), tile.get(), -1);
                const size_t copy = size_t(std::min(tileWidth, width - x) * pixelBytes);
                for (uint32_t r = 0; r < tileLength && y + r < height; ++r)
                    std::memcpy(image.get() + (y + r) * rowBytes + x * pixelBytes, tile.get() + r * tileRowBytes, copy);
            }
    } else {
        tmsize_t at = 0;
        for (tstrip_t strip = 0; strip < TIFFNumberOfStrips(tif); ++strip)
            at += TIFFReadEncodedStrip(tif, strip, image.get() + at, -1);
    }
    benchmark::DoNotOptimize(image.get());
}
