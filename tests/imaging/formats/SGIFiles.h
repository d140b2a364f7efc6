// Builders of small SGI image files, raw or run-length encoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FileBytes.h"

namespace imagefiles {

struct SgiImage {
    uint16_t Width = 0, Height = 0, Channels = 1;
    uint8_t BytesPerSample = 1;
    bool RunLength = false;
    uint16_t Dimension = 3;
    std::string Name;
    // As the file stores them: channel after channel, rows from the bottom;
    // sample x of row r of channel c is at (c * Height + r) * Width + x.
    std::vector<uint16_t> Samples;
};

inline void PutSample(std::vector<uint8_t>& out, uint16_t value, uint8_t bytesPerSample) {
    if (bytesPerSample == 2) out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// One packed row: runs of three or more equal samples repeat one item, the
// samples between them are copied; a zero control item ends the row.
inline std::vector<uint8_t> PackSgiRow(const uint16_t* samples, uint32_t count, uint8_t bytesPerSample) {
    std::vector<uint8_t> out;
    SplitRuns(
        samples, count, 3, 127,
        [&](size_t n, uint16_t v) {
            PutSample(out, static_cast<uint16_t>(n), bytesPerSample);
            PutSample(out, v, bytesPerSample);
        },
        [&](const uint16_t* first, size_t n) {
            PutSample(out, static_cast<uint16_t>(0x80 | n), bytesPerSample);
            for (size_t i = 0; i < n; ++i) PutSample(out, first[i], bytesPerSample);
        });
    PutSample(out, 0, bytesPerSample);
    return out;
}

inline std::vector<uint8_t> MakeSgi(const SgiImage& image) {
    std::vector<uint8_t> out(512);
    const auto put16 = [&](size_t at, uint16_t v) {
        out[at] = static_cast<uint8_t>(v >> 8);
        out[at + 1] = static_cast<uint8_t>(v);
    };
    put16(0, 474);
    out[2] = image.RunLength ? 1 : 0;
    out[3] = image.BytesPerSample;
    put16(4, image.Dimension);
    put16(6, image.Width);
    put16(8, image.Height);
    put16(10, image.Channels);
    out[19] = 0xFF;  // largest sample value
    for (size_t i = 0; i < image.Name.size() && i < 79; ++i) out[24 + i] = static_cast<uint8_t>(image.Name[i]);

    const size_t rows = size_t(image.Height) * image.Channels;
    if (!image.RunLength) {
        for (uint16_t v : image.Samples) PutSample(out, v, image.BytesPerSample);
        return out;
    }
    std::vector<uint8_t> tables(8 * rows), data;
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) tables[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    for (size_t k = 0; k < rows; ++k) {
        const auto row = PackSgiRow(image.Samples.data() + k * image.Width, image.Width, image.BytesPerSample);
        put32(4 * k, static_cast<uint32_t>(512 + tables.size() + data.size()));
        put32(4 * (rows + k), static_cast<uint32_t>(row.size()));
        data.insert(data.end(), row.begin(), row.end());
    }
    out.insert(out.end(), tables.begin(), tables.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

}  // namespace imagefiles
