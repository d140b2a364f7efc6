// Builders of small PCX files (and Word screen captures of the same layout).
#pragma once

#include <cstdint>
#include <vector>

namespace imagefiles {

struct PcxImage {
    uint8_t FileID = 10;
    uint8_t Version = 5;
    bool RunLength = true;
    uint8_t BitsPerPixel = 8;  // of one plane
    uint8_t Planes = 1;
    uint16_t XMin = 0, YMin = 0, XMax = 0, YMax = 0;
    uint16_t BytesPerLine = 0;
    uint16_t PaletteType = 1;
    std::vector<uint8_t> ColorMap;  // up to 48 bytes
    // Rows from the top, each Planes * BytesPerLine bytes, plane after plane.
    std::vector<uint8_t> Lines;
    std::vector<uint8_t> Trailer;  // written as given after the pixel data
};

// PCX run-length packing of one plane line: runs and bytes of 0xC0 and up
// become a count byte and the value; other single bytes stand for themselves.
inline void PackPcxLine(const uint8_t* line, size_t count, std::vector<uint8_t>& out) {
    for (size_t x = 0; x < count;) {
        size_t run = 1;
        while (x + run < count && run < 63 && line[x + run] == line[x]) ++run;
        if (run > 1 || line[x] >= 0xC0) out.push_back(static_cast<uint8_t>(0xC0 | run));
        out.push_back(line[x]);
        x += run;
    }
}

inline std::vector<uint8_t> MakePcx(const PcxImage& image) {
    std::vector<uint8_t> out(128);
    const auto put16 = [&](size_t at, uint16_t v) {
        out[at] = static_cast<uint8_t>(v);
        out[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    out[0] = image.FileID;
    out[1] = image.Version;
    out[2] = image.RunLength ? 1 : 0;
    out[3] = image.BitsPerPixel;
    put16(4, image.XMin);
    put16(6, image.YMin);
    put16(8, image.XMax);
    put16(10, image.YMax);
    put16(12, 72);
    put16(14, 72);
    for (size_t i = 0; i < image.ColorMap.size() && i < 48; ++i) out[16 + i] = image.ColorMap[i];
    out[65] = image.Planes;
    put16(66, image.BytesPerLine);
    put16(68, image.PaletteType);
    if (image.RunLength)
        for (size_t at = 0; at < image.Lines.size(); at += image.BytesPerLine)
            PackPcxLine(image.Lines.data() + at, image.BytesPerLine, out);
    else
        out.insert(out.end(), image.Lines.begin(), image.Lines.end());
    out.insert(out.end(), image.Trailer.begin(), image.Trailer.end());
    return out;
}

}  // namespace imagefiles
