// Shared set-up for the colour manager tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "color/GraphicColor.h"

struct TLayout {
    TColorScheme Scheme;
    uint8_t Bits;
    uint8_t Samples;
};

inline TColorManager MakeManager(TLayout source, TLayout target) {
    TColorManager manager;
    manager.SetSourceScheme(source.Scheme);
    manager.SetSourceBitsPerSample(source.Bits);
    manager.SetSourceSamplesPerPixel(source.Samples);
    manager.SetTargetScheme(target.Scheme);
    manager.SetTargetBitsPerSample(target.Bits);
    manager.SetTargetSamplesPerPixel(target.Samples);
    return manager;
}

// 16-bit samples as the machine stores them.
inline std::vector<uint8_t> Words(std::initializer_list<uint16_t> values) {
    std::vector<uint8_t> bytes(values.size() * 2);
    std::memcpy(bytes.data(), values.begin(), bytes.size());
    return bytes;
}

inline std::vector<uint16_t> AsWords(const std::vector<uint8_t>& bytes) {
    std::vector<uint16_t> words(bytes.size() / 2);
    std::memcpy(words.data(), bytes.data(), words.size() * 2);
    return words;
}

inline uint16_t Swapped(uint16_t value) { return uint16_t((value >> 8) | (value << 8)); }
