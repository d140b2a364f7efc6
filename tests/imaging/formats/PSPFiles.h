// Builders of small Paintshop Pro files (major versions 3 to 6): the file
// header, the general attributes, a palette and a layer bank whose layers
// carry channels stored raw, run-length or deflate compressed.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "ImageFiles.h"

namespace imagefiles {

// Paintshop Pro run-length: 128 + n repeats the next byte n times (n up to
// 127), a byte below 128 counts the literal bytes after it.
inline Bytes PackPSPRuns(const Bytes& data) {
    Bytes out;
    SplitRuns(
        data.data(), data.size(), 2, 127, [&](size_t n, uint8_t v) { out.insert(out.end(), {uint8_t(128 + n), v}); },
        [&](const uint8_t* first, size_t n) {
            out.push_back(uint8_t(n));
            out.insert(out.end(), first, first + n);
        });
    return out;
}

struct PspChannel {
    uint16_t BitmapType = 0;   // 0 image, 1 transparency mask, 2 user mask...
    uint16_t ChannelType = 0;  // 0 composite or transparency, 1 red, 2 green, 3 blue
    Bytes Rows;                // unpacked, as the channel stores them
};

struct PspLayer {
    uint8_t Type = 0;  // version 3: 0 normal; later: 0 or 1 raster, 3 vector...
    std::vector<PspChannel> Channels;
    // Left, top, right, bottom of the layer on the canvas and of the saved
    // pixels within it; all zero: the whole canvas.
    int32_t ImageRect[4] = {}, SavedRect[4] = {};
};

struct PspLayout {
    std::string Signature = "Paint Shop Pro Image File\n\x1a";
    uint16_t Major = 5;
    uint32_t Width = 0, Height = 0;
    double Resolution = 72;
    uint8_t ResolutionMetric = 1;  // 1 per inch, 2 per centimetre
    uint16_t Compression = 0;      // 0 none, 1 run-length, 2 deflate, 3 JPEG
    uint16_t BitDepth = 24;
    uint8_t Grayscale = 0;
    Bytes Palette;  // blue, green, red, filler per entry; no block when empty
    std::vector<PspLayer> Layers;
};

// A block: marker, id, (version 3: initial data length,) total length, data.
inline void PutPspBlock(Bytes& out, const PspLayout& layout, uint16_t id, const Bytes& data, uint32_t initial = 0) {
    out.insert(out.end(), {'~', 'B', 'K', 0});
    PutLE16(out, id);
    if (layout.Major == 3) PutLE32(out, initial);
    PutLE32(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

// From version 4 on, data inside a block comes in chunks that start with
// their own length.
inline Bytes PspChunk(const PspLayout& layout, const Bytes& data) {
    if (layout.Major == 3) return data;
    Bytes out;
    PutLE32(out, static_cast<uint32_t>(data.size() + 4));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

inline Bytes PspLayerBlock(const PspLayout& layout, const PspLayer& layer) {
    Bytes info;
    info.push_back(layer.Type);
    const bool whole = std::all_of(layer.SavedRect, layer.SavedRect + 4, [](int32_t v) { return v == 0; });
    const int32_t canvas[4] = {0, 0, int32_t(layout.Width), int32_t(layout.Height)};
    for (const int32_t* rect : {whole ? canvas : layer.ImageRect, whole ? canvas : layer.SavedRect})
        for (int i = 0; i < 4; ++i) PutLE32(info, uint32_t(rect[i]));
    info.resize(115, 0);
    Bytes data;
    if (layout.Major == 3) {
        data.resize(256, 0);
        data[0] = 'L';
        data.insert(data.end(), info.begin(), info.end());
    } else {
        Bytes chunk;
        PutLE16(chunk, 1);
        chunk.push_back('L');
        chunk.insert(chunk.end(), info.begin(), info.end());
        data = PspChunk(layout, chunk);
    }
    Bytes counts;
    PutLE16(counts, 1);
    PutLE16(counts, static_cast<uint16_t>(layer.Channels.size()));
    const Bytes countChunk = PspChunk(layout, counts);
    data.insert(data.end(), countChunk.begin(), countChunk.end());
    for (const PspChannel& channel : layer.Channels) {
        const Bytes& rows = channel.Rows;
        const Bytes packed = layout.Compression == 1   ? PackPSPRuns(rows)
                             : layout.Compression == 2 ? Deflate(rows)
                                                       : rows;
        Bytes head;
        PutLE32(head, static_cast<uint32_t>(packed.size()));
        PutLE32(head, static_cast<uint32_t>(channel.Rows.size()));
        PutLE16(head, channel.BitmapType);
        PutLE16(head, channel.ChannelType);
        Bytes body = PspChunk(layout, head);
        body.insert(body.end(), packed.begin(), packed.end());
        PutPspBlock(data, layout, 5, body, 12);
    }
    Bytes block;
    PutPspBlock(block, layout, 4, data, layout.Major == 3 ? 256 + 115 + 4 : 0);
    return block;
}

inline Bytes MakePsp(const PspLayout& layout) {
    Bytes out(layout.Signature.begin(), layout.Signature.end());
    out.resize(32, 0);
    PutLE16(out, layout.Major);
    PutLE16(out, 0);

    Bytes attributes;
    PutLE32(attributes, layout.Width);
    PutLE32(attributes, layout.Height);
    const auto resolution = std::bit_cast<uint64_t>(layout.Resolution);
    PutLE32(attributes, static_cast<uint32_t>(resolution));
    PutLE32(attributes, static_cast<uint32_t>(resolution >> 32));
    attributes.push_back(layout.ResolutionMetric);
    PutLE16(attributes, layout.Compression);
    PutLE16(attributes, layout.BitDepth);
    PutLE16(attributes, 1);  // planes
    PutLE32(attributes, layout.BitDepth >= 24 ? 1u << 24 : 1u << layout.BitDepth);
    attributes.push_back(layout.Grayscale);
    PutLE32(attributes, 0);  // total image size
    PutLE32(attributes, 0);  // active layer
    PutLE16(attributes, static_cast<uint16_t>(layout.Layers.size()));
    if (layout.Major >= 4) PutLE32(attributes, 0);  // graphic contents
    PutPspBlock(out, layout, 0, PspChunk(layout, attributes));

    if (!layout.Palette.empty()) {
        Bytes palette;
        PutLE32(palette, static_cast<uint32_t>(layout.Palette.size() / 4));
        Bytes block = PspChunk(layout, palette);
        block.insert(block.end(), layout.Palette.begin(), layout.Palette.end());
        PutPspBlock(out, layout, 2, block);
    }
    Bytes bank;
    for (const PspLayer& layer : layout.Layers) {
        const Bytes block = PspLayerBlock(layout, layer);
        bank.insert(bank.end(), block.begin(), block.end());
    }
    PutPspBlock(out, layout, 3, bank);
    return out;
}

}  // namespace imagefiles
