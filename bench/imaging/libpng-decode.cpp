// libpng-decode FILE: decodes a PNG file once with libpng, into one buffer
// laid out as our reader's bitmap is (8-bit samples, blue first), and prints
// its size. The whole-process baseline for `graphic-convert FILE`:
//   hyperfine -N 'taskset -c 1 build/bin/libpng-decode F' 'taskset -c 1 build/bin/graphic-convert F'
#include <png.h>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: libpng-decode FILE\n");
        return 2;
    }
    FILE* file = std::fopen(argv[1], "rb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return 1;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_strip_16(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    const auto pixels = std::make_unique_for_overwrite<png_byte[]>(rowBytes * height);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.get() + y * rowBytes;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    std::printf("width: %u\nheight: %u\n", width, height);
    return 0;
}
