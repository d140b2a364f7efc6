// Builds Windows bitmap and icon files byte by byte, so that tests can make
// exactly the header variants and damage they need.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Classes.h"

namespace testing_dib {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v);
    Put16(b, v >> 16);
}

struct DibLayout {
    uint32_t headerSize = 40;  // 12, 40, 52, 56, 108, 124
    int32_t width = 1, height = 1;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    Bytes palette;                // entries as stored: BGR (core) or BGRX
    std::vector<uint32_t> masks;  // inside the header (>= 52) or after it (40)
    Bytes pixels;                 // as stored in the file
};

// The header, masks, colour table and pixels, without the file header.
inline Bytes MakeDib(const DibLayout& s) {
    Bytes b;
    Put32(b, s.headerSize);
    if (s.headerSize == 12) {
        Put16(b, static_cast<uint32_t>(s.width));
        Put16(b, static_cast<uint32_t>(s.height));
        Put16(b, 1);
        Put16(b, s.bits);
    } else {
        Put32(b, static_cast<uint32_t>(s.width));
        Put32(b, static_cast<uint32_t>(s.height));
        Put16(b, 1);
        Put16(b, s.bits);
        Put32(b, s.compression);
        Put32(b, static_cast<uint32_t>(s.pixels.size()));
        Put32(b, 2835);
        Put32(b, 2835);
        Put32(b, s.colorsUsed);
        Put32(b, 0);
        for (size_t i = 0; 40 + 4 * i < s.headerSize; ++i) Put32(b, i < s.masks.size() ? s.masks[i] : 0);
        if (s.headerSize == 40)
            for (uint32_t m : s.masks) Put32(b, m);
    }
    b.insert(b.end(), s.palette.begin(), s.palette.end());
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    return b;
}

// A whole .bmp file; offBits 0 gives the true offset of the pixels.
inline Bytes MakeBmp(const DibLayout& s, int64_t offBits = -1) {
    const Bytes dib = MakeDib(s);
    Bytes b = {'B', 'M'};
    Put32(b, static_cast<uint32_t>(14 + dib.size()));
    Put32(b, 0);
    const auto trueOffset = static_cast<uint32_t>(14 + dib.size() - s.pixels.size());
    Put32(b, offBits < 0 ? trueOffset : static_cast<uint32_t>(offBits));
    b.insert(b.end(), dib.begin(), dib.end());
    return b;
}

struct IconImage {
    uint8_t width = 0, height = 0;  // directory values (0 means 256)
    uint16_t bits = 0;
    Bytes data;
};

inline Bytes MakeIco(const std::vector<IconImage>& images) {
    Bytes b;
    Put16(b, 0);
    Put16(b, 1);
    Put16(b, static_cast<uint32_t>(images.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (const IconImage& image : images) {
        b.push_back(image.width);
        b.push_back(image.height);
        b.push_back(0);
        b.push_back(0);
        Put16(b, 1);
        Put16(b, image.bits);
        Put32(b, static_cast<uint32_t>(image.data.size()));
        Put32(b, offset);
        offset += static_cast<uint32_t>(image.data.size());
    }
    for (const IconImage& image : images) b.insert(b.end(), image.data.begin(), image.data.end());
    return b;
}

inline TMemoryStream StreamOf(const Bytes& bytes) { return TMemoryStream(bytes.data(), bytes.size()); }

}  // namespace testing_dib
