// Builders of Autodesk Animator cel and picture files: a 32-byte header, a
// palette of 6-bit components and the rows of indices, as asked.
#pragma once

#include <cstdint>
#include <vector>

namespace imagefiles {

struct AutodeskLayout {
    uint16_t Magic = 0x9119;
    uint16_t Width = 0, Height = 0;
    uint8_t BitsPerPixel = 8;
    uint8_t Compression = 0;
    std::vector<uint8_t> Palette = std::vector<uint8_t>(768);  // written as given
    std::vector<uint8_t> Pixels;                               // written as given
};

inline std::vector<uint8_t> MakeAutodesk(const AutodeskLayout& layout) {
    std::vector<uint8_t> out;
    const auto le16 = [&](uint16_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    le16(layout.Magic);
    le16(layout.Width);
    le16(layout.Height);
    le16(3);  // x and y offsets, unused
    le16(4);
    out.push_back(layout.BitsPerPixel);
    out.push_back(layout.Compression);
    const uint32_t size = uint32_t(layout.Width) * layout.Height;
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(size >> shift));
    out.resize(32);
    out.insert(out.end(), layout.Palette.begin(), layout.Palette.end());
    out.insert(out.end(), layout.Pixels.begin(), layout.Pixels.end());
    return out;
}

// A 3 x 2 cel whose palette entry i is (i mod 64, 63 - i mod 64, i / 4) and
// whose pixels are the indices 0 to 5.
inline std::vector<uint8_t> SmallAutodesk() {
    AutodeskLayout layout;
    layout.Width = 3;
    layout.Height = 2;
    for (int i = 0; i < 256; ++i) {
        layout.Palette[3 * i] = static_cast<uint8_t>(i & 63);
        layout.Palette[3 * i + 1] = static_cast<uint8_t>(63 - (i & 63));
        layout.Palette[3 * i + 2] = static_cast<uint8_t>(i / 4);
    }
    layout.Pixels = {0, 1, 2, 3, 4, 63};
    return MakeAutodesk(layout);
}

}  // namespace imagefiles
