// Builders of Dr. Halo CUT images and their palette files: rows packed as
// Dr. Halo packs them, palettes in 512-byte blocks whose 6-byte entries
// never straddle a block.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "FileBytes.h"
#include "ImageFiles.h"

namespace imagefiles {

// One packed row: its length (the bytes after the length word), run packets
// (0x80 | n, value) for three or more equal bytes, literal packets (n,
// bytes) for the rest, n up to 127, and the end byte 0.
inline Bytes PackCutRow(const uint8_t* row, size_t width) {
    Bytes codes(2);  // the length, filled in at the end
    SplitRuns(
        row, width, 3, 127, [&](size_t n, uint8_t v) { codes.insert(codes.end(), {uint8_t(0x80 | n), v}); },
        [&](const uint8_t* first, size_t n) {
            codes.push_back(uint8_t(n));
            codes.insert(codes.end(), first, first + n);
        });
    codes.push_back(0);
    codes[0] = static_cast<uint8_t>(codes.size() - 2);
    codes[1] = static_cast<uint8_t>((codes.size() - 2) >> 8);
    return codes;
}

// A CUT file of width x height indices, rows from the top.
inline Bytes MakeCut(uint16_t width, uint16_t height, const Bytes& indices) {
    Bytes out;
    PutLE16(out, width);
    PutLE16(out, height);
    PutLE16(out, 0);
    for (uint16_t y = 0; y < height; ++y) {
        const Bytes row = PackCutRow(indices.data() + size_t(y) * width, width);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// A palette file with the given red, green, blue entries, stating
// highestIndex (entries.size() - 1 unless told otherwise) and the largest
// value of each component. Each component is a 16-bit value with highByte
// above the component; the reader takes the low byte, so that only a high
// byte of 0 keeps the values within the largest value the header states.
inline Bytes MakeHaloPalette(const std::vector<std::array<uint8_t, 3>>& entries, int highestIndex = -1,
                                uint8_t highByte = 0xA5, uint16_t largest = 255) {
    Bytes out{'A', 'H'};
    PutLE16(out, 0xE3);  // version
    PutLE16(out, 0);     // size
    out.push_back(10);       // a palette file
    out.push_back(0);
    PutLE16(out, 0);  // board
    PutLE16(out, 0);  // graphics mode
    PutLE16(out, static_cast<uint16_t>(highestIndex < 0 ? int(entries.size()) - 1 : highestIndex));
    for (int i = 0; i < 3; ++i) PutLE16(out, largest);  // largest red, green, blue
    const char id[20] = "Dr. Halo";
    out.insert(out.end(), id, id + sizeof(id));
    size_t offset = out.size();
    for (const auto& entry : entries) {
        if (offset > 506) {
            out.resize(out.size() + 512 - offset);
            offset = 0;
        }
        for (uint8_t c : entry) PutLE16(out, static_cast<uint16_t>(highByte << 8 | c));
        offset += 6;
    }
    return out;
}

// A 4 x 2 image of the indices 0 to 7.
inline Bytes SmallCut() { return MakeCut(4, 2, {0, 1, 2, 3, 4, 5, 6, 7}); }

}  // namespace imagefiles
