// What the decode benchmarks share: the picture side, the megapixels per
// second counter, and the loops of our readers and of stb_image over one
// in-memory file.
#pragma once

#include <benchmark/benchmark.h>
#include <stb/stb_image.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "Classes.h"

namespace benchimaging {

constexpr uint32_t Side = 2048;

// The TIFF files of the TIFF rows, made by libtiff (BenchTIFF.cpp): "none",
// "packbits", "deflate-predictor", "jpeg", "lzw-predictor", "tiled-deflate"
// (2048 x 2048 RGB) and "g4-page" (2480 x 3508).
const std::vector<uint8_t>& TIFFFile(const std::string& name);

inline void Report(benchmark::State& state, double pixels = double(Side) * Side) {
    state.counters["MP/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

template <class Reader>
void OurReader(benchmark::State& state, const std::vector<uint8_t>& file, double pixels = double(Side) * Side) {
    TMemoryStream stream(file.data(), file.size());
    Reader reader;
    for (auto _ : state) {
        stream.SetPosition(0);
        try {
            reader.LoadFromStream(stream);
        } catch (const std::exception& error) {
            // A file the reader refuses has no figure, the other rows still run.
            state.SkipWithError(error.what());
            break;
        }
        benchmark::DoNotOptimize(reader.ScanLine(0));
    }
    Report(state, pixels);
}

inline void StbImage(benchmark::State& state, const std::vector<uint8_t>& file) {
    for (auto _ : state) {
        int width, height, channels;
        stbi_uc* pixels = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width, &height, &channels, 0);
        if (!pixels) throw std::runtime_error(stbi_failure_reason());
        benchmark::DoNotOptimize(pixels);
        stbi_image_free(pixels);
    }
    Report(state);
}

}  // namespace benchimaging
