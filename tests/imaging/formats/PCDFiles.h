// Builders of Photo-CD files: an image pack or an overview pack with its
// header sectors and the uncompressed base image (768 x 512 luma, two chroma
// planes of 384 x 256) where the reader looks for it.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "ImageFiles.h"

namespace imagefiles {

inline constexpr uint32_t PcdWidth = 768, PcdHeight = 512;
inline constexpr size_t PcdSector = 2048;

// An image as the file stores it: full-size luma, half-size chroma (Chroma1
// the blue difference, Chroma2 the red one). Image packs hold the base image
// of 768 x 512, overview packs thumbnails of 192 x 128.
struct PcdImage {
    uint32_t Width = PcdWidth, Height = PcdHeight;
    std::vector<uint8_t> Luma = std::vector<uint8_t>(size_t(Width) * Height);
    std::vector<uint8_t> Chroma1 = std::vector<uint8_t>(size_t(Width) * Height / 4);
    std::vector<uint8_t> Chroma2 = std::vector<uint8_t>(size_t(Width) * Height / 4);
};

// Luma from luma(x, y), chroma from chroma1/chroma2(x, y) on the half grid.
inline PcdImage MakePcdImage(const std::function<uint8_t(uint32_t, uint32_t)>& luma,
                             const std::function<uint8_t(uint32_t, uint32_t)>& chroma1,
                             const std::function<uint8_t(uint32_t, uint32_t)>& chroma2, uint32_t width = PcdWidth,
                             uint32_t height = PcdHeight) {
    PcdImage image{width, height};
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) image.Luma[y * width + x] = luma(x, y);
    for (uint32_t y = 0; y < height / 2; ++y)
        for (uint32_t x = 0; x < width / 2; ++x) {
            image.Chroma1[y * width / 2 + x] = chroma1(x, y);
            image.Chroma2[y * width / 2 + x] = chroma2(x, y);
        }
    return image;
}

// A file with the image at sector 96 ("PCD" at 2048) or, for an overview
// pack, at sector 5 ("PCD_OPA" at 0, the image count at 10). rotation goes
// into the low bits of byte 3586.
inline Bytes MakePcd(const PcdImage& image, uint8_t rotation = 0, bool overview = false,
                        uint16_t overviewCount = 0) {
    const size_t dataStart = (overview ? 5 : 96) * PcdSector;
    Bytes file(dataStart);
    if (overview) {
        std::memcpy(file.data(), "PCD_OPA", 7);
        file[10] = static_cast<uint8_t>(overviewCount >> 8);
        file[11] = static_cast<uint8_t>(overviewCount);
    } else {
        std::memcpy(file.data() + PcdSector, "PCD_IPI", 7);
    }
    file[3586] = static_cast<uint8_t>(0xFC | rotation);
    // Row groups: two luma rows, then a row of each chroma plane.
    const uint32_t width = image.Width;
    for (uint32_t pair = 0; pair < image.Height / 2; ++pair) {
        const auto luma = image.Luma.begin() + pair * 2 * width;
        file.insert(file.end(), luma, luma + 2 * width);
        const size_t chroma = size_t(pair) * width / 2;
        file.insert(file.end(), image.Chroma1.begin() + chroma, image.Chroma1.begin() + chroma + width / 2);
        file.insert(file.end(), image.Chroma2.begin() + chroma, image.Chroma2.begin() + chroma + width / 2);
    }
    return file;
}

// The smallest file that loads: a grey ramp image pack.
inline Bytes SmallPcd() {
    return MakePcd(MakePcdImage([](uint32_t x, uint32_t) { return static_cast<uint8_t>(x); },
                                [](uint32_t, uint32_t) { return uint8_t{156}; },
                                [](uint32_t, uint32_t) { return uint8_t{137}; }));
}

}  // namespace imagefiles
