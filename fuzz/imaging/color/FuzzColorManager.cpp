// Drives the colour manager with settings taken from the first bytes and a
// row taken from the rest. Every buffer is allocated at exactly the size a
// correct calculation gives for the settings, so any converter that reads or
// writes past what the layout allows trips the address sanitizer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "color/GraphicColor.h"

namespace {

constexpr size_t SettingsSize = 20;

class TInput {
public:
    TInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte(size_t index) const { return index < size_ ? data_[index] : 0; }
    float Float(size_t index) const {
        uint32_t bits = 0;
        for (size_t k = 0; k < 4; ++k) bits |= uint32_t(Byte(index + k)) << (8 * k);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    // The payload after the settings, repeated to fill a buffer.
    std::unique_ptr<uint8_t[]> Buffer(size_t bytes) const {
        auto buffer = std::make_unique<uint8_t[]>(bytes ? bytes : 1);
        const size_t payload = size_ > SettingsSize ? size_ - SettingsSize : 0;
        for (size_t k = 0; k < bytes; ++k) buffer[k] = payload ? data_[SettingsSize + k % payload] : uint8_t(k);
        return buffer;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

bool PaletteLike(TColorScheme scheme) { return scheme == csIndexed || scheme == csGray || scheme == csGrayAlpha; }
bool WithAlpha(TColorScheme scheme) { return scheme == csGrayAlpha || scheme == csRGBA || scheme == csBGRA; }

size_t SelectedPixels(uint32_t count, uint8_t mask) {
    size_t selected = 0;
    for (uint32_t i = 0; i < count; ++i)
        if (mask & (0x80 >> (i % 8))) ++selected;
    return selected;
}

// Samples per source pixel of an interleaved row of the scheme. The colour
// spaces' converters (gray and alpha to colour among them) step by the
// samples per pixel the manager is given where that is more, skipping
// samples beyond the colour and alpha.
size_t SchemePixelSamples(TColorScheme scheme) {
    switch (scheme) {
        case csGrayAlpha:
            return 2;
        case csIndexed:
        case csGray:
            return 1;
        case csRGBA:
        case csBGRA:
        case csCMYK:
            return 4;
        default:
            return 3;
    }
}

size_t SourcePixelSamples(const TColorManager& manager) {
    const auto source = TColorScheme(manager.SourceScheme()), target = TColorScheme(manager.TargetScheme());
    const bool space = source == csCMYK || source == csCIELab || source == csYCbCr || source == csPhotoYCC ||
                       (source == csGrayAlpha && !PaletteLike(target));
    const size_t samples = SchemePixelSamples(source);
    return space ? std::max<size_t>(samples, manager.SourceSamplesPerPixel()) : samples;
}

// Bytes of Count target pixels: packed fields for palette-like targets (a
// byte holds 8 div T fields), whole samples for colour targets.
size_t TargetBytes(TColorScheme scheme, unsigned bits, uint32_t count) {
    if (PaletteLike(scheme)) {
        if (bits <= 8) {
            const size_t perByte = 8 / bits;
            return (count + perByte - 1) / perByte;
        }
        return (size_t(count) * bits + 7) / 8;
    }
    return size_t(count) * (WithAlpha(scheme) ? 4 : 3) * ((bits + 7) / 8);
}

void ConvertOneRow(TColorManager& manager, const TInput& input) {
    const unsigned bits = manager.SourceBitsPerSample();
    const uint32_t count = (input.Byte(9) | uint32_t(input.Byte(10)) << 8) % 2049;
    const uint8_t mask = input.Byte(8);
    const size_t planes = input.Byte(11) % 5 + 1;  // 1: interleaved
    const size_t selected = SelectedPixels(count, mask);
    const size_t planeBytes = (selected * bits + 7) / 8;
    const size_t rowBytes = (selected * SourcePixelSamples(manager) * bits + 7) / 8;

    std::vector<std::unique_ptr<uint8_t[]>> storage;
    std::vector<const void*> rows;
    for (size_t k = 0; k < planes; ++k) {
        storage.push_back(input.Buffer(planes == 1 ? rowBytes : planeBytes));
        rows.push_back(storage.back().get());
    }
    const size_t targetBytes = TargetBytes(manager.TargetScheme(), manager.TargetBitsPerSample(), count);
    const auto target = std::make_unique<uint8_t[]>(targetBytes);
    manager.ConvertRow(rows, target.get(), count, mask);
}

void BuildPalettes(const TColorManager& manager, const TInput& input) {
    const TPaletteLayout layout = input.Byte(15) % 10;
    const uint32_t colours = input.Byte(16) | uint32_t(input.Byte(17) & 1) << 8;
    const size_t used = colours < 256 ? colours : 256;
    const size_t sampleBytes = layout >= 4 ? 2 : 1;
    const bool planar = layout == 2 || layout == 3 || layout == 6 || layout == 7;
    const size_t entrySamples = planar ? 1 : (layout == 1 || layout == 5) ? 4 : 3;
    std::vector<std::unique_ptr<uint8_t[]>> storage;
    std::vector<const void*> data;
    for (size_t k = 0; k < (planar ? 3u : 1u); ++k) {
        storage.push_back(input.Buffer(used * entrySamples * sampleBytes));
        data.push_back(storage.back().get());
    }
    manager.CreateColorPalette(data, layout, colours, input.Byte(17) & 2);
    manager.CreateGrayscalePalette(input.Byte(17) & 4);
    manager.GetPixelFormat(0);
    manager.GetPixelFormat(1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TInput input(data, size);
    TColorManager manager;
    try {
        manager.SetSourceScheme(TColorScheme(input.Byte(0) % 13));
        manager.SetTargetScheme(TColorScheme(input.Byte(1) % 13));
        manager.SetSourceBitsPerSample(input.Byte(2) % 17);
        manager.SetTargetBitsPerSample(input.Byte(3) % 17);
        manager.SetSourceSamplesPerPixel(input.Byte(4) % 5);
        manager.SetTargetSamplesPerPixel(input.Byte(5) % 5);
    } catch (const EColorConversionError&) {
        // Rejected values keep the defaults; carry on with what was taken.
    }
    manager.SourceMode = TConversionOptions(input.Byte(6));
    manager.TargetMode = TConversionOptions(input.Byte(7));
    if (input.Byte(12) & 1) manager.SetGamma(input.Float(12), input.Float(16));
    if (input.Byte(13) & 1) {
        const float weights[3] = {input.Float(13), input.Float(14), input.Float(15)};
        try {
            manager.SetYCbCrParameters(std::span<const float>(weights, input.Byte(14) % 4), input.Byte(18) % 5,
                                       input.Byte(19) % 5);
        } catch (const EColorConversionError&) {
        }
    }
    BuildPalettes(manager, input);
    try {
        ConvertOneRow(manager, input);
    } catch (const EColorConversionError&) {
        // Pairings without a converter are refused, which is fine.
    }
    return 0;
}
