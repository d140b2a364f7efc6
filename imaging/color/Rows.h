// Row-walking helpers shared by the colour manager's converters: sample
// access that tolerates any alignment (which the run-length decoders use as
// well), the pixel mask walk, and where the components of source and target
// pixels lie.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace graphiccolor {

template <class T>
inline T Load(const uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <class T>
inline void Store(uint8_t* p, T value) {
    std::memcpy(p, &value, sizeof value);
}

inline uint16_t Widen8(uint8_t value) { return uint16_t(value * 257); }

inline uint8_t ClampByte(int32_t value) { return value < 0 ? 0 : value > 255 ? 255 : uint8_t(value); }

// Rounds to nearest (halves to even) and limits to 0..255; NaN gives 0.
inline uint8_t RoundClampByte(double value) {
    if (!(value > 0)) return 0;
    if (value >= 255) return 255;
    return uint8_t(std::nearbyint(value));
}

// Calls Body(s, t) for every pixel the mask selects, where t is the pixel's
// index in the target row and s its index among the selected pixels (the
// source row holds only those). The mask is matched against a one-bit
// pattern that starts at the top bit and rotates right after each pixel.
template <class Body>
inline void ForEachSelected(uint32_t Count, uint8_t Mask, Body&& body) {
    if (Mask == 0xFF) {
        for (size_t i = 0; i < Count; ++i) body(i, i);
        return;
    }
    uint8_t pattern = 0x80;
    size_t selected = 0;
    for (size_t i = 0; i < Count; ++i) {
        if (Mask & pattern) body(selected++, i);
        pattern = uint8_t((pattern >> 1) | (pattern << 7));
    }
}

// The first sample of each wanted component of a source row, and the bytes
// from one selected pixel to the next.
struct TSourceSamples {
    const uint8_t* Component[4] = {};
    size_t Step = 0;
    const uint8_t* At(int component, size_t pixel) const { return Component[component] + pixel * Step; }
};

// Locates Components components of a source row. Component k is the sample
// at offset Order[k] of an interleaved pixel of PixelSamples samples, or
// plane Order[k] when Rows holds more than one pointer. Answers false when
// there is nothing to read from: no pointer at all, or too few planes.
inline bool LocateSamples(std::span<const void* const> Rows, const int (&Order)[4], int Components, int PixelSamples,
                          int SampleBytes, TSourceSamples& samples) {
    if (Rows.empty()) return false;
    const bool planar = Rows.size() > 1;
    for (int k = 0; k < Components; ++k) {
        if (planar) {
            if (size_t(Order[k]) >= Rows.size()) return false;
            samples.Component[k] = static_cast<const uint8_t*>(Rows[Order[k]]);
        } else {
            samples.Component[k] = static_cast<const uint8_t*>(Rows[0]) + Order[k] * SampleBytes;
        }
    }
    samples.Step = size_t(planar ? 1 : PixelSamples) * SampleBytes;
    return true;
}

// Where red, green, blue (and alpha) go in a target pixel of 3 or 4 samples.
struct TTargetPixels {
    uint8_t* Row = nullptr;
    size_t Step = 0;
    size_t Red = 0, Green = 0, Blue = 0, Alpha = 0;

    TTargetPixels(void* row, bool blueFirst, bool withAlpha, int sampleBytes)
        : Row(static_cast<uint8_t*>(row)),
          Step(size_t(withAlpha ? 4 : 3) * sampleBytes),
          Red(size_t(blueFirst ? 2 : 0) * sampleBytes),
          Green(size_t(sampleBytes)),
          Blue(size_t(blueFirst ? 0 : 2) * sampleBytes),
          Alpha(size_t(3) * sampleBytes) {}

    uint8_t* At(size_t pixel) const { return Row + pixel * Step; }

    template <class T>
    void Put(size_t pixel, T red, T green, T blue) const {
        uint8_t* p = At(pixel);
        Store<T>(p + Red, red);
        Store<T>(p + Green, green);
        Store<T>(p + Blue, blue);
    }
};

// Exchanging the outer bytes (red and blue) of count 3-byte pixels from
// source into target, built for the vector instructions of newer
// processors. Each answers how many pixels from the start of the row it
// did, leaving the rest to the caller, and touches no byte outside the row.
using TExchangeOuterBytes3 = size_t (*)(const uint8_t* source, uint8_t* target, size_t count);
// SSSE3: all but the last few pixels.
size_t ExchangeOuterBytes3Shuffled(const uint8_t* source, uint8_t* target, size_t count);
// AVX-512 VBMI: the whole row.
size_t ExchangeOuterBytes3Permuted(const uint8_t* source, uint8_t* target, size_t count);
// The widest one the processor runs, or none.
TExchangeOuterBytes3 SelectExchangeOuterBytes3();

}  // namespace graphiccolor
