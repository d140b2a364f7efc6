// Our readers side by side with the peer libraries (PeerLoaders.h) on the
// same files, written by ImageMagick: "Load/" rows read the file from disk,
// ours through the picture object as the program loads it; "Memory/" rows
// read the file's bytes already in memory, ours through a fresh reader of
// the class registered for the extension. Each peer uses its own load; the
// figures are megapixels per second of wall time. "Unpinned/" rows load from
// disk on every core of the machine, however the program is pinned, for the
// readers that decode pieces of a picture at once. Memory-bound rows add
// their limit: "copy", a plain copy of the file's pixel bytes already in
// memory, and "read", one system call reading them from the file.
// bench/summarize-peers prints ours / fastest peer per row.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "BenchSupport.h"
#include "GraphicFormats.h"
#include "PeerLoaders.h"
#include "System.h"

namespace {

using namespace benchimaging;

struct TRow {
    const char* Name;
    const char* Extension;
    // ImageMagick's options and output format, as in "-compress RLE tga";
    // "{height}" stands for the picture's height.
    const char* Written;
    // Bytes a pixel stores when the file holds its pixels as they are
    // (the copy row's size), 0 for compressed files.
    int RawBytesPerPixel = 0;
    // The one size of formats that have a fixed size, else the two sides.
    int FixedWidth = 0, FixedHeight = 0;
    // tiffcp's options for packings ImageMagick does not write: the file
    // ImageMagick wrote is rewritten with them.
    const char* Tiffcp = nullptr;
};

const TRow Rows[] = {
    {"PNG", "png", "png"},
    {"JPEG", "jpg", "-quality 90 jpg"},
    {"BMP", "bmp", "bmp3", 3},
    {"Targa", "tga", "-compress None tga", 3},
    {"Targa-rle", "tga", "-compress RLE tga"},
    {"PSD", "psd", "-compress None psd"},
    {"PSD-packbits", "psd", "-compress RLE psd"},
    {"SGI-rle", "sgi", "-compress RLE sgi"},
    {"PCX-8bit", "pcx", "-type Palette pcx"},
    {"PCX-24bit", "pcx", "pcx"},
    {"PPM", "ppm", "ppm", 3},
    {"PGM", "pgm", "-colorspace Gray pgm", 1},
    {"TIFF-none", "tif", "-compress None tif", 3},
    {"TIFF-packbits", "tif", "-compress RLE tif"},
    {"TIFF-lzw", "tif", "-compress LZW tif"},
    {"TIFF-deflate", "tif", "-compress Zip tif"},
    {"TIFF-jpeg", "tif", "-compress JPEG tif"},
    {"TIFF-lzma", "tif", "-compress LZMA tif"},
    {"TIFF-zstd", "tif", "-compress Zstd tif"},
    {"TIFF-webp", "tif", "-compress WebP tif"},
    {"TIFF-g4", "tif", "-threshold 50% -type Bilevel -compress Group4 tif"},
    // libtiff writes JBIG only as one strip of exactly the image's rows.
    {"TIFF-jbig", "tif", "-threshold 50% -type Bilevel -define tiff:rows-per-strip={height} -compress None tif", 0, 0,
     0, "-c jbig"},
    // ImageMagick writes the base image and the smaller ones below it.
    {"PhotoCD", "pcd", "pcd", 0, 768, 512},
};

constexpr int Sides[] = {2048, 256};

// A drawn texture with photographic parts: in every row, stretches of 40
// equal pixels between 24 of smooth gradients with a little noise, so that
// run-length formats meet runs and literals and the others real work.
std::vector<uint8_t> Picture(int width, int height) {
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    uint32_t noise = 12345;
    size_t i = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                noise = noise * 1103515245u + 12345u;
                const bool flat = x % 64 < 40;
                const double wave = ((flat ? x / 64 * 64 : x) * (c + 1) + y * (3 - c)) % 1024 / 1023.0;
                const double value = flat ? wave : wave * 0.9 + (noise >> 24) / 255.0 * 0.1;
                rgb[i++] = uint8_t(value * 255);
            }
    return rgb;
}

// The folder of the written files, removed with them at the end.
class Folder {
public:
    Folder() {
        char pattern[] = "/tmp/bench-peersXXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("cannot make a scratch folder");
        path_ = pattern;
    }
    ~Folder() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

const char* const ImageMagickConvert = "/usr/bin/convert";
const char* const Tiffcp = "/usr/bin/tiffcp";

void Run(const std::string& command) {
    if (std::system((command + " 2>/dev/null").c_str()) != 0) throw std::runtime_error(command + " failed");
}

struct TFile {
    std::string Path;
    int Width = 0, Height = 0;
    // The file's bytes, for the copy row.
    std::vector<uint8_t> Bytes;
};

// Writes the row's file of the given side once; later calls find it.
const TFile& FileOf(const TRow& row, int side) {
    static Folder folder;
    static std::map<std::string, TFile> files;
    const int width = row.FixedWidth ? row.FixedWidth : side, height = row.FixedHeight ? row.FixedHeight : side;
    const std::string name = std::string(row.Name) + "-" + std::to_string(width) + "x" + std::to_string(height);
    if (auto found = files.find(name); found != files.end()) return found->second;
    if (access(ImageMagickConvert, X_OK) != 0)
        throw std::runtime_error(std::string(ImageMagickConvert) + " is missing (scripts/deps tools installs it)");
    const std::string source = folder / (name + "-source.ppm");
    {
        const std::vector<uint8_t> rgb = Picture(width, height);
        std::ofstream out(source, std::ios::binary);
        out << "P6\n" << width << " " << height << "\n255\n";
        out.write(reinterpret_cast<const char*>(rgb.data()), std::streamsize(rgb.size()));
    }
    TFile file{folder / (name + "." + row.Extension), width, height, {}};
    std::string written = row.Written;
    if (const size_t at = written.find("{height}"); at != std::string::npos)
        written.replace(at, 8, std::to_string(height));
    try {
        Run(std::string(ImageMagickConvert) + " " + source + " -depth 8 " + written + ":" + file.Path);
        std::filesystem::remove(source);
        if (row.Tiffcp) {
            if (access(Tiffcp, X_OK) != 0)
                throw std::runtime_error(std::string(Tiffcp) + " is missing (scripts/deps tools installs it)");
            const std::string written = file.Path + "-written.tif";
            std::filesystem::rename(file.Path, written);
            Run(std::string(Tiffcp) + " " + row.Tiffcp + " " + written + " " + file.Path);
            std::filesystem::remove(written);
        }
    } catch (...) {
        std::filesystem::remove(source);
        throw;
    }
    {
        std::ifstream in(file.Path, std::ios::binary);
        file.Bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Written again in one piece: how the kernel caches a file's pages, and
    // so how fast every reader gets its bytes, follows how it was written.
    std::filesystem::remove(file.Path);
    std::ofstream(file.Path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.Bytes.data()), std::streamsize(file.Bytes.size()));
    return files[name] = std::move(file);
}

// Runs load over the row's file; a file that cannot be made or read leaves
// the row without a figure and the others run.
template <class Load>
void LoadRow(benchmark::State& state, const TRow& row, int side, Load&& load) {
    try {
        const TFile& file = FileOf(row, side);
        for (auto _ : state) load(file);
        Report(state, double(file.Width) * file.Height);
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
}

void RegisterReaders() {
    static const bool registered = [] {
        InitializeFrameworkGraphics();
        GraphicFormatsInitialization();
        return true;
    }();
    benchmark::DoNotOptimize(registered);
}

void OursFromFile(const TFile& file) {
    RegisterReaders();
    TPicture picture;
    picture.LoadFromFile(file.Path);
    benchmark::DoNotOptimize(picture.Graphic());
}

void OursFromMemory(benchmark::State& state, const TRow& row, int side) {
    RegisterReaders();
    std::unique_ptr<TMemoryStream> stream;
    TGraphicClass graphicClass = TPicture::FindGraphicClass(row.Extension);
    LoadRow(state, row, side, [&](const TFile& file) {
        if (!stream) stream = std::make_unique<TMemoryStream>(file.Bytes.data(), file.Bytes.size());
        stream->SetPosition(0);
        const std::unique_ptr<TGraphic> graphic = graphicClass->Create();
        graphic->LoadFromStream(*stream);
        benchmark::DoNotOptimize(graphic.get());
    });
}

// The limits of the memory-bound rows: the file's pixel bytes (its last
// ones) copied into a buffer that stays, from the file's bytes in memory or
// read from the file by one system call. The buffer shares the bytes'
// offset within a 4 KiB page, which the kernel copies from a file's cached
// pages fastest, several times faster than at some other offsets.
void LimitRow(benchmark::State& state, const TRow& row, int side, bool fromFile) {
    constexpr size_t Page = 4096;
    std::unique_ptr<uint8_t[]> buffer;
    uint8_t* target = nullptr;
    size_t bytes = 0, start = 0;
    LoadRow(state, row, side, [&](const TFile& file) {
        if (!buffer) {
            bytes = std::min(size_t(file.Width) * file.Height * row.RawBytesPerPixel, file.Bytes.size());
            start = file.Bytes.size() - bytes;
            buffer = std::make_unique<uint8_t[]>(bytes + 2 * Page);
            const auto address = reinterpret_cast<uintptr_t>(buffer.get());
            target = buffer.get() + (Page - address % Page) + start % Page;
        }
        if (fromFile) {
            const int fd = open(file.Path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || pread(fd, target, bytes, off_t(start)) != ssize_t(bytes))
                throw std::runtime_error("cannot read " + file.Path);
            close(fd);
        } else {
            std::memcpy(target, file.Bytes.data() + start, bytes);
        }
        benchmark::DoNotOptimize(target);
    });
}

// Runs a row on every core of the machine, whatever the process was pinned
// to, and pins it back afterwards.
class Unpinned {
public:
    Unpinned() {
        sched_getaffinity(0, sizeof pinned_, &pinned_);
        cpu_set_t all;
        CPU_ZERO(&all);
        for (long cpu = 0; cpu < sysconf(_SC_NPROCESSORS_ONLN); ++cpu) CPU_SET(cpu, &all);
        sched_setaffinity(0, sizeof all, &all);
    }
    ~Unpinned() { sched_setaffinity(0, sizeof pinned_, &pinned_); }

private:
    cpu_set_t pinned_;
};

// The rows whose pieces our reader decodes on every core, from disk.
const char* const UnpinnedRows[] = {"TIFF-deflate", "TIFF-jpeg", "TIFF-lzw"};

const bool registered = [] {
    for (const TRow& row : Rows) {
        if (std::find(std::begin(UnpinnedRows), std::end(UnpinnedRows), std::string(row.Name)) ==
            std::end(UnpinnedRows))
            continue;
        const TRow* r = &row;
        const std::string prefix = std::string("Unpinned/") + row.Name + "/" + std::to_string(Sides[0]) + "/";
        benchmark::RegisterBenchmark((prefix + "ours").c_str(), [r](benchmark::State& s) {
            const Unpinned everyCore;
            LoadRow(s, *r, Sides[0], OursFromFile);
        })->UseRealTime();
        for (const peers::TPeer& peer : peers::PeersFor(row.Extension))
            benchmark::RegisterBenchmark((prefix + peer.Name).c_str(), [r, peer](benchmark::State& s) {
                const Unpinned everyCore;
                LoadRow(s, *r, Sides[0], [&](const TFile& file) { peer.LoadFile(file.Path); });
            })->UseRealTime();
    }
    for (const char* source : {"Load", "Memory"})
        for (const TRow& row : Rows)
            for (int side : Sides) {
                if (row.FixedWidth && side != Sides[0]) continue;
                const TRow* r = &row;
                const bool fromFile = std::string(source) == "Load";
                const std::string prefix = std::string(source) + "/" + row.Name + "/" +
                                           std::to_string(row.FixedWidth ? row.FixedWidth : side) + "/";
                benchmark::RegisterBenchmark((prefix + "ours").c_str(), [r, side, fromFile](benchmark::State& s) {
                    if (fromFile)
                        LoadRow(s, *r, side, OursFromFile);
                    else
                        OursFromMemory(s, *r, side);
                })->UseRealTime();
                for (const peers::TPeer& peer : peers::PeersFor(row.Extension))
                    benchmark::RegisterBenchmark((prefix + peer.Name).c_str(),
                                                 [r, side, peer, fromFile](benchmark::State& s) {
                                                     LoadRow(s, *r, side, [&](const TFile& file) {
                                                         if (fromFile)
                                                             peer.LoadFile(file.Path);
                                                         else
                                                             peer.LoadMemory(file.Bytes, file.Path);
                                                     });
                                                 })
                        ->UseRealTime();
                if (row.RawBytesPerPixel)
                    benchmark::RegisterBenchmark((prefix + (fromFile ? "read" : "copy")).c_str(),
                                                 [r, side, fromFile](benchmark::State& s) {
                                                     LimitRow(s, *r, side, fromFile);
                                                 })
                        ->UseRealTime();
            }
    return true;
}();

}  // namespace
