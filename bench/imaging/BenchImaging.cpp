// Decode throughput in megapixels per second. Every file is made in memory
// at start-up; our readers and the baselines read the same bytes.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>

#include "BenchSupport.h"
#include "GraphicFormats.h"
#include "ImageFiles.h"
#include "LibpngRead.h"

namespace {

using namespace imagefiles;
using namespace benchimaging;

// A photo-like picture: smooth gradients with a little noise, so that every
// filter type wins on some rows and zlib has realistic work.
PngImage Picture(uint8_t bitDepth, uint8_t colorType, bool interlaced) {
    PngImage image{Side, Side, bitDepth, colorType, interlaced, {}};
    const int channels = Channels(colorType);
    const uint32_t maximum = (1u << bitDepth) - 1;
    image.Samples.resize(size_t(Side) * Side * channels);
    uint32_t noise = 12345;
    size_t i = 0;
    for (uint32_t y = 0; y < Side; ++y)
        for (uint32_t x = 0; x < Side; ++x)
            for (int c = 0; c < channels; ++c) {
                noise = noise * 1103515245u + 12345u;
                const double wave = (x * (c + 1) + y * (3 - c % 3)) % 1024 / 1023.0;
                const double value = wave * 0.9 + ((noise >> 16) & 0xFF) / 255.0 * 0.1;
                image.Samples[i++] = static_cast<uint16_t>(value * maximum);
            }
    return image;
}

// ImageMagick's converter; the row of the file it writes is left out
// where it is missing.
const char* const ImageMagickConvert = "/usr/bin/convert";

// The RGB picture as ImageMagick writes it with its default settings
// (adaptive filters, level 7, gAMA and other ancillary chunks).
Bytes WrittenByImageMagick() {
    const PngImage image = Picture(8, 2, false);
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    const std::filesystem::path source = folder / "bench-imaging-picture.ppm", target = folder / "bench-imaging-picture.png";
    {
        std::ofstream out(source, std::ios::binary);
        out << "P6\n" << Side << " " << Side << "\n255\n";
        for (uint16_t sample : image.Samples) out.put(static_cast<char>(sample));
    }
    const std::string command = std::string(ImageMagickConvert) + " " + source.string() + " " + target.string();
    Bytes file;
    if (std::system(command.c_str()) == 0) {
        std::ifstream in(target, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::filesystem::remove(source);
    std::filesystem::remove(target);
    if (file.empty()) throw std::runtime_error(command + " failed");
    return file;
}

const Bytes& PngFile(const std::string& name) {
    static std::map<std::string, Bytes> files;
    auto found = files.find(name);
    if (found != files.end()) return found->second;
    if (name == "rgb8-imagemagick") return files[name] = WrittenByImageMagick();
    PngImage image;
    std::vector<std::pair<std::string, Bytes>> before;
    if (name == "rgb8") image = Picture(8, 2, false);
    if (name == "gray8") image = Picture(8, 0, false);
    if (name == "rgba8") image = Picture(8, 6, false);
    if (name == "palette8") {
        image = Picture(8, 3, false);
        Bytes plte;
        for (int k = 0; k < 256; ++k) plte.insert(plte.end(), {uint8_t(k), uint8_t(255 - k), uint8_t(k * 3)});
        before.push_back({"PLTE", plte});
    }
    if (name == "rgb16") image = Picture(16, 2, false);
    if (name == "rgb8-interlaced") image = Picture(8, 2, true);
    // Data in 8 KiB chunks, as common writers store it.
    const Bytes compressed = Deflate(FilteredScanlines(image, RotatingFilter));
    PngWriter writer;
    writer.Header(image);
    for (const auto& [type, data] : before) writer.Chunk(type, data);
    writer.ImageData(compressed, std::vector<size_t>(compressed.size() / 8192, 8192));
    return files[name] = writer.End().Data();
}

Bytes RowsOf(uint32_t bytesPerPixel) {
    Bytes rows(size_t(Side) * Side * bytesPerPixel);
    uint32_t noise = 1;
    for (size_t i = 0; i < rows.size(); ++i) {
        noise = noise * 1103515245u + 12345u;
        // Stretches of equal pixels between noisy ones, as in drawn textures.
        rows[i] = static_cast<uint8_t>((i / bytesPerPixel) % 64 < 40 ? (i / (bytesPerPixel * 64)) : noise >> 24);
    }
    return rows;
}

const Bytes& TargaFile(const std::string& name) {
    static std::map<std::string, Bytes> files;
    auto found = files.find(name);
    if (found != files.end()) return found->second;
    TargaLayout layout;
    layout.Width = Side;
    layout.Height = Side;
    layout.ColorMapEntrySize = 24;
    if (name == "palette8") {
        layout.ImageType = 1;
        layout.PixelSize = 8;
        layout.ColorMapType = 1;
        layout.ColorMapLength = 256;
        for (int k = 0; k < 256; ++k) layout.ColorMap.insert(layout.ColorMap.end(), {uint8_t(k), uint8_t(k / 2), 9});
        layout.PixelData = RowsOf(1);
    } else {
        layout.PixelData = RowsOf(3);
        if (name == "rgb24-rle") {
            layout.ImageType = 10;
            TTargaRLEDecoder encoder(24);
            Bytes packed, buffer(2 * Side * 3);
            for (uint32_t y = 0; y < Side; ++y) {
                uint32_t stored = 0;
                encoder.Encode(layout.PixelData.data() + size_t(y) * Side * 3, buffer.data(), Side, stored);
                packed.insert(packed.end(), buffer.begin(), buffer.begin() + stored);
            }
            layout.PixelData = packed;
        }
    }
    return files[name] = MakeTarga(layout);
}

// libpng reading from memory as every libpng baseline reads.
void LibPNG(benchmark::State& state, const Bytes& file) {
    for (auto _ : state) {
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        struct Reader {
            const Bytes* data;
            size_t at;
        } reader{&file, 0};
        png_set_read_fn(png, &reader, [](png_structp p, png_bytep out, png_size_t count) {
            auto* r = static_cast<Reader*>(png_get_io_ptr(p));
            if (r->at + count > r->data->size()) png_error(p, "short");
            std::memcpy(out, r->data->data() + r->at, count);
            r->at += count;
        });
        const LibpngImage image = ReadLibpngImage(png, info);
        png_destroy_read_struct(&png, &info, nullptr);
        benchmark::DoNotOptimize(image.Pixels.get());
    }
    Report(state);
}

void RegisterAll() {
    std::vector<const char*> names = {"rgb8", "rgba8", "palette8", "gray8", "rgb16", "rgb8-interlaced"};
    if (std::filesystem::exists(ImageMagickConvert)) names.push_back("rgb8-imagemagick");
    for (const char* name : names) {
        const std::string suffix = std::string("/") + name;
        benchmark::RegisterBenchmark(("PNG/ours" + suffix).c_str(),
                                     [name](benchmark::State& s) { OurReader<TPNGGraphic>(s, PngFile(name)); });
        benchmark::RegisterBenchmark(("PNG/libpng" + suffix).c_str(),
                                     [name](benchmark::State& s) { LibPNG(s, PngFile(name)); });
        benchmark::RegisterBenchmark(("PNG/stb_image" + suffix).c_str(),
                                     [name](benchmark::State& s) { StbImage(s, PngFile(name)); });
    }
    for (const char* name : {"rgb24", "rgb24-rle", "palette8"}) {
        const std::string suffix = std::string("/") + name;
        benchmark::RegisterBenchmark(("Targa/ours" + suffix).c_str(),
                                     [name](benchmark::State& s) { OurReader<TTargaGraphic>(s, TargaFile(name)); });
        benchmark::RegisterBenchmark(("Targa/stb_image" + suffix).c_str(),
                                     [name](benchmark::State& s) { StbImage(s, TargaFile(name)); });
    }
}

}  // namespace

int main(int argc, char** argv) {
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
