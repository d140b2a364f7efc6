// Builders of small Photoshop documents: the header, the colour mode data,
// resource and layer sections as given, and the merged image, raw or
// PackBits compressed.
#pragma once

#include <cstdint>
#include <vector>

#include "FileBytes.h"
#include "ImageFiles.h"

namespace imagefiles {

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

inline Bytes MakePsd(const PsdLayout& layout) {
    Bytes out = {'8', 'B', 'P', 'S'};
    Put16(out, layout.Version);
    out.insert(out.end(), 6, 0);
    Put16(out, layout.Channels);
    Put32(out, layout.Height);
    Put32(out, layout.Width);
    Put16(out, layout.Depth);
    Put16(out, layout.Mode);
    for (const Bytes* section : {&layout.ColorModeData, &layout.Resources, &layout.LayerSection}) {
        Put32(out, static_cast<uint32_t>(section->size()));
        out.insert(out.end(), section->begin(), section->end());
    }
    Put16(out, layout.Compression);
    if (layout.Compression != 1) {
        out.insert(out.end(), layout.Planes.begin(), layout.Planes.end());
        return out;
    }
    // The table of packed row lengths, then the packed rows.
    const size_t rowSize = PsdRowSize(layout);
    Bytes rows;
    for (size_t at = 0; at + rowSize <= layout.Planes.size(); at += rowSize) {
        const Bytes packed = PackBits(layout.Planes.data() + at, rowSize);
        Put16(out, static_cast<uint16_t>(packed.size()));
        rows.insert(rows.end(), packed.begin(), packed.end());
    }
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

}  // namespace imagefiles
