// How the libpng baselines read a picture, so that the benchmark rows and
// the whole-process program time the same work: 16-bit samples stripped to
// 8 bits and blue first, as our reader's bitmaps hold them; interlaced
// images whole; palettes stay indices. The rows go into a fresh buffer, as
// a loaded picture gets.
#pragma once

#include <png.h>

#include <memory>
#include <vector>

struct LibpngImage {
    std::unique_ptr<png_byte[]> Pixels;
    png_uint_32 Width = 0, Height = 0;
};

// Reads the picture of png, whose input is set up, to its end.
inline LibpngImage ReadLibpngImage(png_structp png, png_infop info) {
    png_read_info(png, info);
    png_set_strip_16(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    LibpngImage image{nullptr, png_get_image_width(png, info), png_get_image_height(png, info)};
    image.Pixels = std::make_unique_for_overwrite<png_byte[]>(rowBytes * image.Height);
    std::vector<png_bytep> rows(image.Height);
    for (png_uint_32 y = 0; y < image.Height; ++y) rows[y] = image.Pixels.get() + y * rowBytes;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    return image;
}
