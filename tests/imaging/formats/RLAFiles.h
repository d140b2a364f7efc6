// Builders of Alias/Wavefront RLA files: the 740-byte header, the table of
// row offsets and, per row, each channel's record packed as RLA packs it.
// Samples of more than 8 bits are stored as two byte planes, the most
// significant bytes of the row first.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "ImageFiles.h"

namespace imagefiles {

// Packs bytes: a count c >= 0 repeats the next byte c + 1 times, c < 0
// copies the -c bytes that follow.
inline Bytes PackRla(const Bytes& data) {
    Bytes out;
    SplitRuns(
        data.data(), data.size(), 2, 128, [&](size_t n, uint8_t v) { out.insert(out.end(), {uint8_t(n - 1), v}); },
        [&](const uint8_t* first, size_t n) {
            out.push_back(static_cast<uint8_t>(-int(n)));
            out.insert(out.end(), first, first + n);
        });
    return out;
}

struct RlaLayout {
    int16_t ActiveLeft = 0, ActiveRight = 0, ActiveBottom = 0, ActiveTop = 0;
    int16_t ColorChannels = 3, MatteChannels = 0;
    int16_t ColorBits = 8, MatteBits = 8;
    uint16_t Revision = 0xFFFE;
    std::string Gamma = "1.0";
    std::string ChannelSpace = "rgb";
    // Per channel (red, green, blue, then the matte), the samples of every
    // row in the order the rows are stored.
    std::vector<std::vector<uint16_t>> Channels;

    uint32_t Width() const { return uint32_t(ActiveRight - ActiveLeft + 1); }
    uint32_t Height() const { return uint32_t(std::abs(ActiveBottom - ActiveTop) + 1); }
};

inline void PutBig16(Bytes& out, size_t at, uint16_t v) {
    out[at] = static_cast<uint8_t>(v >> 8);
    out[at + 1] = static_cast<uint8_t>(v);
}

inline Bytes MakeRla(const RlaLayout& layout) {
    Bytes out(740);
    PutBig16(out, 2, static_cast<uint16_t>(layout.ActiveRight));  // the window
    PutBig16(out, 6, static_cast<uint16_t>(layout.ActiveTop));
    PutBig16(out, 8, static_cast<uint16_t>(layout.ActiveLeft));
    PutBig16(out, 10, static_cast<uint16_t>(layout.ActiveRight));
    PutBig16(out, 12, static_cast<uint16_t>(layout.ActiveBottom));
    PutBig16(out, 14, static_cast<uint16_t>(layout.ActiveTop));
    PutBig16(out, 20, static_cast<uint16_t>(layout.ColorChannels));
    PutBig16(out, 22, static_cast<uint16_t>(layout.MatteChannels));
    PutBig16(out, 26, layout.Revision);
    std::memcpy(out.data() + 28, layout.Gamma.data(), std::min<size_t>(layout.Gamma.size(), 16));
    std::memcpy(out.data() + 580, layout.ChannelSpace.data(), std::min<size_t>(layout.ChannelSpace.size(), 32));
    PutBig16(out, 658, static_cast<uint16_t>(layout.ColorBits));
    PutBig16(out, 662, static_cast<uint16_t>(layout.MatteBits));

    const uint32_t width = layout.Width(), height = layout.Height();
    const size_t table = out.size();
    out.resize(table + 4 * size_t(height));
    for (uint32_t row = 0; row < height; ++row) {
        const uint32_t offset = static_cast<uint32_t>(out.size());
        for (int shift = 24, at = 0; shift >= 0; shift -= 8, ++at)
            out[table + 4 * row + at] = static_cast<uint8_t>(offset >> shift);
        for (size_t c = 0; c < layout.Channels.size(); ++c) {
            const int bits = c < 3 ? layout.ColorBits : layout.MatteBits;
            const uint16_t* samples = layout.Channels[c].data() + size_t(row) * width;
            Bytes planes;
            if (bits > 8)
                for (uint32_t x = 0; x < width; ++x) planes.push_back(static_cast<uint8_t>(samples[x] >> 8));
            for (uint32_t x = 0; x < width; ++x) planes.push_back(static_cast<uint8_t>(samples[x]));
            const Bytes packed = PackRla(planes);
            out.resize(out.size() + 2);
            PutBig16(out, out.size() - 2, static_cast<uint16_t>(packed.size()));
            out.insert(out.end(), packed.begin(), packed.end());
        }
    }
    return out;
}

// A 5 x 3 image with a matte, stored bottom row first.
inline Bytes SmallRla() {
    RlaLayout layout;
    layout.ActiveRight = 4;
    layout.ActiveTop = 2;
    layout.MatteChannels = 1;
    for (int c = 0; c < 4; ++c) {
        std::vector<uint16_t> samples(15);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(c * 60 + i * 4);
        layout.Channels.push_back(samples);
    }
    return MakeRla(layout);
}

}  // namespace imagefiles
