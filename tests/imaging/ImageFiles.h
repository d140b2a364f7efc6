// Builders of small image files for the reader tests: a PNG writer (chunks
// with CRCs, the five filters, Adam7, zlib) and a Targa writer that lays out
// headers, IDs, colour maps and rows exactly as asked.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FileBytes.h"

namespace imagefiles {

using Bytes = std::vector<uint8_t>;

inline void Put32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
inline void Put16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

inline int Channels(uint8_t colorType) {
    switch (colorType) {
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
        default: return 1;
    }
}

// A PNG image as samples: width * height * Channels values, each in the
// range of the bit depth.
struct PngImage {
    uint32_t Width = 0, Height = 0;
    uint8_t BitDepth = 8, ColorType = 2;
    bool Interlaced = false;
    std::vector<uint16_t> Samples;

    uint16_t Sample(uint32_t x, uint32_t y, int channel) const {
        return Samples[(size_t(y) * Width + x) * Channels(ColorType) + channel];
    }
};

// Fills an image with a reproducible pattern of samples.
inline PngImage PatternImage(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType,
                             bool interlaced, uint32_t seed = 1) {
    PngImage image{width, height, bitDepth, colorType, interlaced, {}};
    const uint32_t maximum = (1u << bitDepth) - 1;
    uint32_t state = seed * 2654435761u + 12345;
    image.Samples.resize(size_t(width) * height * Channels(colorType));
    for (size_t i = 0; i < image.Samples.size(); ++i) {
        state = state * 1103515245u + 12345u;
        // Mix smooth gradients with noise so that every filter has work.
        const uint32_t smooth = static_cast<uint32_t>(i * 7 % (maximum + 1));
        image.Samples[i] = static_cast<uint16_t>(((state >> 8) % 4 == 0 ? (state >> 12) : smooth) & maximum);
    }
    return image;
}

// Packs one row of pixels xs (in order) as the file stores them.
inline Bytes PackRow(const PngImage& image, uint32_t y, const std::vector<uint32_t>& xs) {
    Bytes row;
    const int channels = Channels(image.ColorType);
    uint32_t bitBuffer = 0;
    int bits = 0;
    for (uint32_t x : xs)
        for (int c = 0; c < channels; ++c) {
            const uint16_t v = image.Sample(x, y, c);
            if (image.BitDepth == 16) {
                Put16(row, v);
            } else if (image.BitDepth == 8) {
                row.push_back(static_cast<uint8_t>(v));
            } else {
                bitBuffer = bitBuffer << image.BitDepth | v;
                bits += image.BitDepth;
                if (bits == 8) {
                    row.push_back(static_cast<uint8_t>(bitBuffer));
                    bitBuffer = 0;
                    bits = 0;
                }
            }
        }
    if (bits > 0) row.push_back(static_cast<uint8_t>(bitBuffer << (8 - bits)));
    return row;
}

inline uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
    if (pb <= pc) return static_cast<uint8_t>(b);
    return static_cast<uint8_t>(c);
}

// Filters a packed row against the prior packed row (empty for the first
// row of a pass), prefixing the filter byte.
inline Bytes FilterRow(const Bytes& raw, const Bytes& prior, uint8_t filter, size_t bpp) {
    Bytes out{filter};
    for (size_t i = 0; i < raw.size(); ++i) {
        const int a = i >= bpp ? raw[i - bpp] : 0;
        const int b = prior.empty() ? 0 : prior[i];
        const int c = (i >= bpp && !prior.empty()) ? prior[i - bpp] : 0;
        int predictor = 0;
        switch (filter) {
            case 1: predictor = a; break;
            case 2: predictor = b; break;
            case 3: predictor = (a + b) / 2; break;
            case 4: predictor = Paeth(a, b, c); break;
            default: break;
        }
        out.push_back(static_cast<uint8_t>(raw[i] - predictor));
    }
    return out;
}

struct Adam7 {
    uint32_t FirstColumn, ColumnStep, FirstRow, RowStep;
};
inline constexpr Adam7 Adam7Passes[7] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                                         {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};

// The filtered scanlines of the whole image (all passes when interlaced).
// filterFor(n) chooses the filter of the n-th stored row.
inline Bytes FilteredScanlines(const PngImage& image, const std::function<uint8_t(uint32_t)>& filterFor) {
    const size_t bpp = std::max<size_t>(1, size_t(Channels(image.ColorType)) * image.BitDepth / 8);
    Bytes out;
    uint32_t rowNumber = 0;
    const auto emitPass = [&](const Adam7& pass) {
        std::vector<uint32_t> xs;
        for (uint32_t x = pass.FirstColumn; x < image.Width; x += pass.ColumnStep) xs.push_back(x);
        if (xs.empty()) return;
        Bytes prior;
        for (uint32_t y = pass.FirstRow; y < image.Height; y += pass.RowStep) {
            const Bytes raw = PackRow(image, y, xs);
            const Bytes filtered = FilterRow(raw, prior, filterFor(rowNumber++), bpp);
            out.insert(out.end(), filtered.begin(), filtered.end());
            prior = raw;
        }
    };
    if (image.Interlaced)
        for (const Adam7& pass : Adam7Passes) emitPass(pass);
    else
        emitPass({0, 1, 0, 1});
    return out;
}

inline Bytes Deflate(const Bytes& data, int level = 6) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level);
    out.resize(size);
    return out;
}

// A PNG file assembled chunk by chunk.
class PngWriter {
public:
    PngWriter() : bytes_{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A} {}

    PngWriter& Chunk(const std::string& type, const Bytes& data, bool corruptCRC = false) {
        Put32(bytes_, static_cast<uint32_t>(data.size()));
        const size_t typeStart = bytes_.size();
        bytes_.insert(bytes_.end(), type.begin(), type.begin() + 4);
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        uint32_t crc = static_cast<uint32_t>(crc32(0, bytes_.data() + typeStart, static_cast<uInt>(4 + data.size())));
        Put32(bytes_, corruptCRC ? crc ^ 1 : crc);
        return *this;
    }
    PngWriter& Header(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType, bool interlaced,
                      uint8_t compression = 0) {
        Bytes data;
        Put32(data, width);
        Put32(data, height);
        data.insert(data.end(), {bitDepth, colorType, compression, 0, static_cast<uint8_t>(interlaced ? 1 : 0)});
        return Chunk("IHDR", data);
    }
    PngWriter& Header(const PngImage& image) {
        return Header(image.Width, image.Height, image.BitDepth, image.ColorType, image.Interlaced);
    }
    // The compressed data cut into IDAT chunks of the given sizes (the last
    // one takes the rest); an empty list gives one chunk.
    PngWriter& ImageData(const Bytes& compressed, const std::vector<size_t>& splits = {}) {
        size_t at = 0;
        for (size_t size : splits) {
            size = std::min(size, compressed.size() - at);
            Chunk("IDAT", Bytes(compressed.begin() + at, compressed.begin() + at + size));
            at += size;
        }
        return Chunk("IDAT", Bytes(compressed.begin() + at, compressed.end()));
    }
    PngWriter& End() { return Chunk("IEND", {}); }
    const Bytes& Data() const { return bytes_; }

private:
    Bytes bytes_;
};

inline uint8_t RotatingFilter(uint32_t row) { return static_cast<uint8_t>(row % 5); }

// A complete file: header, the given chunks before the data, data, end.
inline Bytes MakePng(const PngImage& image, const std::vector<std::pair<std::string, Bytes>>& before = {},
                     const std::function<uint8_t(uint32_t)>& filterFor = RotatingFilter) {
    PngWriter writer;
    writer.Header(image);
    for (const auto& [type, data] : before) writer.Chunk(type, data);
    writer.ImageData(Deflate(FilteredScanlines(image, filterFor)));
    return writer.End().Data();
}

// ---------------------------------------------------------------------------
// Targa

struct TargaLayout {
    uint8_t ImageType = 2;
    uint8_t PixelSize = 24;
    uint16_t Width = 0, Height = 0;
    bool TopDown = false, RightToLeft = false;
    Bytes ImageID{};
    uint8_t ColorMapType = 0;
    uint16_t ColorMapOrigin = 0, ColorMapLength = 0;
    uint8_t ColorMapEntrySize = 0;
    Bytes ColorMap{};   // written as given
    Bytes PixelData{};  // written as given
};

inline Bytes MakeTarga(const TargaLayout& layout) {
    Bytes out{static_cast<uint8_t>(layout.ImageID.size()), layout.ColorMapType, layout.ImageType};
    PutLE16(out, layout.ColorMapOrigin);
    PutLE16(out, layout.ColorMapLength);
    out.push_back(layout.ColorMapEntrySize);
    for (uint32_t v : {0u, 0u, uint32_t(layout.Width), uint32_t(layout.Height)}) PutLE16(out, v);
    out.push_back(layout.PixelSize);
    out.push_back(static_cast<uint8_t>((layout.TopDown ? 0x20 : 0) | (layout.RightToLeft ? 0x10 : 0)));
    out.insert(out.end(), layout.ImageID.begin(), layout.ImageID.end());
    out.insert(out.end(), layout.ColorMap.begin(), layout.ColorMap.end());
    out.insert(out.end(), layout.PixelData.begin(), layout.PixelData.end());
    return out;
}

}  // namespace imagefiles
