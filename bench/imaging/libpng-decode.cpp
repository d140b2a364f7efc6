// libpng-decode FILE: decodes a PNG file once with libpng, into one buffer
// laid out as our reader's bitmap is (8-bit samples, blue first), and prints
// its size. The whole-process baseline for `graphic-convert FILE`:
//   hyperfine -N 'taskset -c 1 build/bin/libpng-decode F' 'taskset -c 1 build/bin/graphic-convert F'
#include <png.h>

#include <cstdio>

#include "LibpngRead.h"

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
    const LibpngImage image = ReadLibpngImage(png, info);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    std::printf("width: %u\nheight: %u\n", image.Width, image.Height);
    return 0;
}
