// Builders of small Photoshop documents: the header, the colour mode data,
// image resources, a layer section as GIMP and Photoshop write it, and the
// merged image, raw or PackBits compressed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ImageFiles.h"

namespace imagefiles {

// PackBits, as Photoshop packs each row: runs of 3 or more equal bytes
// repeat, everything else is literal.
inline Bytes PackBits(const uint8_t* row, size_t size) {
    Bytes out;
    size_t i = 0;
    while (i < size) {
        size_t run = 1;
        while (i + run < size && run < 128 && row[i + run] == row[i]) ++run;
        if (run >= 3) {
            out.push_back(static_cast<uint8_t>(257 - run));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        size_t literal = 0;
        while (i + literal < size && literal < 128 &&
               !(i + literal + 2 < size && row[i + literal] == row[i + literal + 1] &&
                 row[i + literal] == row[i + literal + 2]))
            ++literal;
        out.push_back(static_cast<uint8_t>(literal - 1));
        out.insert(out.end(), row + i, row + i + literal);
        i += literal;
    }
    return out;
}

struct PsdLayout {
    uint16_t Version = 1;
    uint16_t Channels = 3;
    uint32_t Width = 0, Height = 0;
    uint16_t Depth = 8;
    uint16_t Mode = 3;
    Bytes ColorModeData;
    Bytes Resources;
    Bytes LayerSection;
    uint16_t Compression = 0;
    // Channel after channel, each Height rows of (Width * Depth + 7) / 8 bytes.
    Bytes Planes;
};

inline size_t PsdRowSize(const PsdLayout& layout) { return (size_t(layout.Width) * layout.Depth + 7) / 8; }

inline void PutSection(Bytes& out, const Bytes& section) {
    Put32(out, static_cast<uint32_t>(section.size()));
    out.insert(out.end(), section.begin(), section.end());
}

// The rows of Planes as the image data stores them: with PackBits, the
// table of packed row lengths, then the packed rows.
inline Bytes PsdImageData(const PsdLayout& layout) {
    if (layout.Compression != 1) return layout.Planes;
    const size_t rowSize = PsdRowSize(layout);
    Bytes table, rows;
    for (size_t at = 0; at + rowSize <= layout.Planes.size(); at += rowSize) {
        const Bytes packed = PackBits(layout.Planes.data() + at, rowSize);
        Put16(table, static_cast<uint16_t>(packed.size()));
        rows.insert(rows.end(), packed.begin(), packed.end());
    }
    table.insert(table.end(), rows.begin(), rows.end());
    return table;
}

inline Bytes MakePsd(const PsdLayout& layout) {
    Bytes out = {'8', 'B', 'P', 'S'};
    Put16(out, layout.Version);
    out.insert(out.end(), 6, 0);
    Put16(out, layout.Channels);
    Put32(out, layout.Height);
    Put32(out, layout.Width);
    Put16(out, layout.Depth);
    Put16(out, layout.Mode);
    PutSection(out, layout.ColorModeData);
    PutSection(out, layout.Resources);
    PutSection(out, layout.LayerSection);
    Put16(out, layout.Compression);
    const Bytes data = PsdImageData(layout);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// One image resource block: the resolution info Photoshop always writes.
inline Bytes PsdResolutionResource() {
    Bytes out = {'8', 'B', 'I', 'M'};
    Put16(out, 0x03ED);
    Put16(out, 0);  // empty name, padded to even length
    Put32(out, 16);
    for (int i = 0; i < 2; ++i) {
        Put32(out, 72 << 16);
        Put16(out, 1);
        Put16(out, 1);
    }
    return out;
}

// A layer section holding one layer with the document's channels, stored
// raw, then an empty global mask, as GIMP exports a single-layer image.
inline Bytes PsdLayerSection(const PsdLayout& layout) {
    const size_t planeSize = PsdRowSize(layout) * layout.Height;
    Bytes info;
    Put16(info, 1);  // layer count
    Put32(info, 0);  // top, left, bottom, right
    Put32(info, 0);
    Put32(info, layout.Height);
    Put32(info, layout.Width);
    Put16(info, layout.Channels);
    for (uint16_t c = 0; c < layout.Channels; ++c) {
        Put16(info, c == 3 ? 0xFFFF : c);  // the fourth channel is transparency
        Put32(info, static_cast<uint32_t>(planeSize + 2));
    }
    info.insert(info.end(), {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm', 255, 0, 0, 0});
    Bytes extra;
    Put32(extra, 0);                            // no layer mask
    Put32(extra, 0);                            // no blending ranges
    extra.insert(extra.end(), {1, 'L', 0, 0});  // the name, padded to 4 bytes
    PutSection(info, extra);
    for (uint16_t c = 0; c < layout.Channels; ++c) {
        Put16(info, 0);
        info.insert(info.end(), layout.Planes.begin() + c * planeSize, layout.Planes.begin() + (c + 1) * planeSize);
    }
    if (info.size() % 2) info.push_back(0);
    Bytes section;
    PutSection(section, info);
    Put32(section, 0);  // global layer mask
    return section;
}

}  // namespace imagefiles
