#include "PeerLoaders.h"

#include <FreeImage.h>
#include <IL/il.h>
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>
#include <stb/stb_image.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>

#include "LibpngRead.h"
#include "LibtiffRead.h"

namespace peers {
namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void Fail(const char* library, const std::string& why) {
    throw std::runtime_error(std::string(library) + ": " + why);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFile = std::unique_ptr<std::FILE, FileCloser>;

TFile OpenFile(const char* library, const std::string& path) {
    TFile file(std::fopen(path.c_str(), "rb"));
    if (!file) Fail(library, "cannot open " + path);
    return file;
}

// ---- FreeImage: JPEG files are decoded with the accurate transform and
// smooth chroma upsampling, as ours and the other peers decode them; its
// default is a faster, coarser decoding.

int FreeImageFlags(FREE_IMAGE_FORMAT format) { return format == FIF_JPEG ? JPEG_ACCURATE : 0; }

void FreeImageDone(FIBITMAP* bitmap, const std::string& path) {
    if (!bitmap) Fail("FreeImage", "cannot read " + path);
    benchmark::DoNotOptimize(FreeImage_GetBits(bitmap));
    FreeImage_Unload(bitmap);
}

void FreeImageFile(const std::string& path) {
    const FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(path.c_str());
    FreeImageDone(FreeImage_Load(format, path.c_str(), FreeImageFlags(format)), path);
}

void FreeImageMemory(const Bytes& bytes, const std::string& path) {
    const FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(path.c_str());
    FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(bytes.data()), DWORD(bytes.size()));
    FIBITMAP* bitmap = FreeImage_LoadFromMemory(format, memory, FreeImageFlags(format));
    FreeImage_CloseMemory(memory);
    FreeImageDone(bitmap, path);
}

// ---- DevIL

template <class Load>
void DevILLoad(const std::string& path, Load&& load) {
    static const bool initialised = [] {
        ilInit();
        return true;
    }();
    benchmark::DoNotOptimize(initialised);
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    const bool loaded = load();
    const ILenum error = ilGetError();
    benchmark::DoNotOptimize(ilGetData());
    ilDeleteImages(1, &image);
    if (!loaded) Fail("DevIL", "error " + std::to_string(error) + " reading " + path);
}

void DevILFile(const std::string& path) {
    DevILLoad(path, [&] { return ilLoadImage(path.c_str()); });
}

void DevILMemory(const Bytes& bytes, const std::string& path) {
    DevILLoad(path, [&] { return ilLoadL(ilTypeFromExt(path.c_str()), bytes.data(), ILuint(bytes.size())); });
}

// ---- OpenImageIO: formats whose reader takes no memory source fail to open.

void OpenImageIORead(std::unique_ptr<OIIO::ImageInput> input) {
    if (!input) Fail("OpenImageIO", OIIO::geterror());
    const OIIO::ImageSpec layout = input->spec_dimensions(0);
    const auto pixels = std::make_unique_for_overwrite<uint8_t[]>(layout.image_bytes());
    if (!input->read_image(0, 0, 0, layout.nchannels, layout.format, pixels.get())) Fail("OpenImageIO", input->geterror());
    benchmark::DoNotOptimize(pixels.get());
    input->close();
}

void OpenImageIOFile(const std::string& path) { OpenImageIORead(OIIO::ImageInput::open(path)); }

void OpenImageIOMemory(const Bytes& bytes, const std::string& path) {
    OIIO::Filesystem::IOMemReader source(bytes.data(), bytes.size());
    OpenImageIORead(OIIO::ImageInput::open(path, nullptr, &source));
}

// ---- stb_image

void StbImageDone(stbi_uc* pixels) {
    if (!pixels) Fail("stb_image", stbi_failure_reason());
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
}

void StbImageFile(const std::string& path) {
    int width, height, channels;
    StbImageDone(stbi_load(path.c_str(), &width, &height, &channels, 0));
}

void StbImageMemory(const Bytes& bytes, const std::string&) {
    int width, height, channels;
    StbImageDone(stbi_load_from_memory(bytes.data(), int(bytes.size()), &width, &height, &channels, 0));
}

// ---- libpng

template <class SetInput>
void LibpngLoad(SetInput&& setInput) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        Fail("libpng", "cannot read the picture");
    }
    setInput(png);
    const LibpngImage image = ReadLibpngImage(png, info);
    png_destroy_read_struct(&png, &info, nullptr);
    benchmark::DoNotOptimize(image.Pixels.get());
}

void LibpngFile(const std::string& path) {
    const TFile file = OpenFile("libpng", path);
    LibpngLoad([&](png_structp png) { png_init_io(png, file.get()); });
}

struct TMemoryReader {
    const Bytes* Data;
    size_t At;
};

void LibpngMemory(const Bytes& bytes, const std::string&) {
    TMemoryReader reader{&bytes, 0};
    LibpngLoad([&](png_structp png) {
        png_set_read_fn(png, &reader, [](png_structp p, png_bytep out, png_size_t count) {
            auto* r = static_cast<TMemoryReader*>(png_get_io_ptr(p));
            if (r->At + count > r->Data->size()) png_error(p, "short");
            std::memcpy(out, r->Data->data() + r->At, count);
            r->At += count;
        });
    });
}

// ---- libtiff

void LibtiffDone(TIFF* tif, const std::string& path) {
    if (!tif) Fail("libtiff", "cannot open " + path);
    ReadLibtiffImage(tif);
    TIFFClose(tif);
}

void LibtiffFile(const std::string& path) {
    TIFFSetWarningHandler(nullptr);
    LibtiffDone(TIFFOpen(path.c_str(), "r"), path);
}

void LibtiffMemory(const Bytes& bytes, const std::string& path) {
    TIFFSetWarningHandler(nullptr);
    TLibtiffMemory file{bytes};
    LibtiffDone(file.Open(), path);
}

// ---- libjpeg: its own example, one scan line a call, into a buffer of the
// whole picture in the colour order our bitmaps hold.

template <class SetSource>
void LibjpegLoad(SetSource&& setSource) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    setSource(info);
    jpeg_read_header(&info, TRUE);
    if (info.jpeg_color_space != JCS_GRAYSCALE) info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    const size_t rowBytes = size_t(info.output_width) * info.output_components;
    const auto pixels = std::make_unique_for_overwrite<uint8_t[]>(rowBytes * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.get() + rowBytes * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    benchmark::DoNotOptimize(pixels.get());
}

void LibjpegFile(const std::string& path) {
    const TFile file = OpenFile("libjpeg", path);
    LibjpegLoad([&](jpeg_decompress_struct& info) { jpeg_stdio_src(&info, file.get()); });
}

void LibjpegMemory(const Bytes& bytes, const std::string&) {
    LibjpegLoad([&](jpeg_decompress_struct& info) { jpeg_mem_src(&info, bytes.data(), bytes.size()); });
}

struct TPeerFormats {
    TPeer Peer;
    std::set<std::string> Extensions;
};

// Inside a function, so that benchmarks registered while the program starts
// find the table made.
const std::vector<TPeerFormats>& AllPeers() {
    static const std::vector<TPeerFormats> peers = {
        {{"FreeImage", FreeImageFile, FreeImageMemory},
         {"png", "jpg", "bmp", "tga", "psd", "sgi", "pcx", "ppm", "pgm", "tif", "pcd"}},
        {{"DevIL", DevILFile, DevILMemory}, {"png", "jpg", "bmp", "tga", "psd", "sgi", "pcx", "ppm", "pgm", "tif", "pcd"}},
        {{"OpenImageIO", OpenImageIOFile, OpenImageIOMemory}, {"png", "jpg", "bmp", "tga", "psd", "sgi", "ppm", "pgm", "tif"}},
        {{"stb_image", StbImageFile, StbImageMemory}, {"png", "jpg", "bmp", "tga", "psd", "ppm", "pgm"}},
        {{"libpng", LibpngFile, LibpngMemory}, {"png"}},
        {{"libtiff", LibtiffFile, LibtiffMemory}, {"tif"}},
        {{"libjpeg", LibjpegFile, LibjpegMemory}, {"jpg"}},
    };
    return peers;
}

}  // namespace

std::vector<TPeer> PeersFor(const std::string& extension) {
    std::vector<TPeer> peers;
    for (const TPeerFormats& entry : AllPeers())
        if (entry.Extensions.contains(extension)) peers.push_back(entry.Peer);
    return peers;
}

}  // namespace peers
