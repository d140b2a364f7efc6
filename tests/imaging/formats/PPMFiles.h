// Builders of small portable bitmaps, grey maps and pixel maps (P1 to P6).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace imagefiles {

struct PortableMap {
    int Type = 6;  // 1 to 6
    uint32_t Width = 0, Height = 0;
    uint32_t MaximumValue = 255;  // not written for bitmaps
    // Samples row by row from the top, 1 or 3 per pixel; bitmaps hold 0 or 1.
    std::vector<uint32_t> Samples;
    // Text written between the header numbers ("\n", " ", "\n# a comment\n").
    std::string Separator = "\n";
    // Text bitmaps: whether the digits are separated by blanks.
    bool SpacedBits = true;
};

inline std::vector<uint8_t> MakePortableMap(const PortableMap& map) {
    std::string text = "P" + std::to_string(map.Type) + map.Separator + std::to_string(map.Width) + " " +
                       std::to_string(map.Height);
    if (map.Type != 1 && map.Type != 4) text += map.Separator + std::to_string(map.MaximumValue);
    text += "\n";
    std::vector<uint8_t> out(text.begin(), text.end());
    const size_t perRow = map.Samples.size() / (map.Height ? map.Height : 1);
    for (uint32_t y = 0; y < map.Height; ++y) {
        const uint32_t* row = map.Samples.data() + y * perRow;
        if (map.Type <= 3) {
            std::string line;
            for (size_t i = 0; i < perRow; ++i)
                line += std::to_string(row[i]) + (map.Type == 1 && !map.SpacedBits ? "" : " ");
            line += "\n";
            out.insert(out.end(), line.begin(), line.end());
        } else if (map.Type == 4) {
            std::vector<uint8_t> bytes((map.Width + 7) / 8);
            for (uint32_t x = 0; x < map.Width; ++x)
                if (row[x]) bytes[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            out.insert(out.end(), bytes.begin(), bytes.end());
        } else {
            for (size_t i = 0; i < perRow; ++i) {
                if (map.MaximumValue > 255) out.push_back(static_cast<uint8_t>(row[i] >> 8));
                out.push_back(static_cast<uint8_t>(row[i]));
            }
        }
    }
    return out;
}

}  // namespace imagefiles
