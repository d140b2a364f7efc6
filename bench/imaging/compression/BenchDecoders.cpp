// Decoder throughput on the strips of the TIFF rows' LZW (with predictor)
// and Group 4 files: our decoders on the raw strips against libtiff's
// TIFFReadEncodedStrip on the same file, both decoding every strip into one
// image buffer (the predictor undone in both).
#include <tiffio.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "GraphicFormats.h"

namespace {

using namespace benchimaging;

// A TIFF file of the TIFF rows on disk, as libtiff opens it, with its raw
// strips in memory.
struct StripFile {
    std::string Path;
    uint32_t Width = 0, Height = 0, RowsPerStrip = 0;
    uint16_t Samples = 1, Bits = 8;
    std::vector<std::vector<uint8_t>> Strips;

    size_t RowBytes() const { return (size_t(Width) * Samples * Bits + 7) / 8; }
};

const StripFile& Strips(const std::string& name) {
    static std::map<std::string, StripFile> files;
    if (auto found = files.find(name); found != files.end()) return found->second;
    StripFile& file = files[name];
    file.Path = "/tmp/bench-decoders-" + name + ".tif";
    const std::vector<uint8_t>& bytes = TIFFFile(name);
    FILE* out = std::fopen(file.Path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    TIFF* tif = TIFFOpen(file.Path.c_str(), "r");
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &file.Width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &file.Height);
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &file.RowsPerStrip);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &file.Samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &file.Bits);
    uint64_t* counts = nullptr;
    TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts);
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
        file.Strips.emplace_back(counts[s]);
        TIFFReadRawStrip(tif, s, file.Strips.back().data(), tmsize_t(counts[s]));
    }
    TIFFClose(tif);
    return file;
}

template <class MakeDecoder>
void OurDecoder(benchmark::State& state, const std::string& name, MakeDecoder make) {
    const StripFile& file = Strips(name);
    const size_t rowBytes = file.RowBytes();
    const auto image = std::make_unique_for_overwrite<uint8_t[]>(rowBytes * file.Height);
    std::vector<std::vector<uint8_t>> strips = file.Strips;  // writable: fax decoders may reverse bits
    for (auto _ : state) {
        std::unique_ptr<TDecoder> decoder = make(file);
        decoder->BeginDecode();
        for (size_t s = 0; s < strips.size(); ++s) {
            const uint32_t first = uint32_t(s) * file.RowsPerStrip;
            const uint32_t rows = std::min(file.RowsPerStrip, file.Height - first);
            uint8_t* source = strips[s].data();
            uint8_t* dest = image.get() + first * rowBytes;
            decoder->Decode(source, dest, int32_t(strips[s].size()), int32_t(rows * rowBytes));
            if (file.Samples == 3)
                for (uint32_t r = 0; r < rows; ++r) AddHorizontalDeltas<3>(dest + r * rowBytes, file.Width);
        }
        decoder->EndDecode();
        benchmark::DoNotOptimize(image.get());
    }
    Report(state, double(file.Width) * file.Height);
}

void LibtiffStrips(benchmark::State& state, const std::string& name) {
    const StripFile& file = Strips(name);
    const size_t rowBytes = file.RowBytes();
    const auto image = std::make_unique_for_overwrite<uint8_t[]>(rowBytes * file.Height);
    TIFF* tif = TIFFOpen(file.Path.c_str(), "r");
    for (auto _ : state) {
        tmsize_t at = 0;
        for (tstrip_t s = 0; s < TIFFNumberOfStrips(tif); ++s) at += TIFFReadEncodedStrip(tif, s, image.get() + at, -1);
        benchmark::DoNotOptimize(image.get());
    }
    TIFFClose(tif);
    Report(state, double(file.Width) * file.Height);
}

const bool registered = [] {
    benchmark::RegisterBenchmark("Decoders/ours/lzw-predictor", [](benchmark::State& s) {
        OurDecoder(s, "lzw-predictor", [](const StripFile&) { return std::make_unique<TLZWDecoder>(); });
    });
    benchmark::RegisterBenchmark("Decoders/libtiff/lzw-predictor",
                                 [](benchmark::State& s) { LibtiffStrips(s, "lzw-predictor"); });
    benchmark::RegisterBenchmark("Decoders/ours/g4-page", [](benchmark::State& s) {
        OurDecoder(s, "g4-page", [](const StripFile& f) { return std::make_unique<TCCITTFax4Decoder>(0, f.Width, false, false); });
    });
    benchmark::RegisterBenchmark("Decoders/libtiff/g4-page", [](benchmark::State& s) { LibtiffStrips(s, "g4-page"); });
    return true;
}();

}  // namespace
