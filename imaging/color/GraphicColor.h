// The colour manager: turns pixel rows as files store them into rows as the
// framework bitmap needs them, builds gamma and YCbCr lookup tables, creates
// palettes from raw palette data or as gray ramps, and names the bitmap pixel
// format that fits a sample layout.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "Graphics.h"
#include "SysUtils.h"

// Colour layout of stored pixels; csGrayAlpha, csRGBA and csBGRA carry alpha.
enum TColorScheme : uint8_t {
    csUnknown,
    csIndexed,
    csGray,
    csGrayAlpha,
    csRGB,
    csRGBA,
    csBGR,
    csBGRA,
    csCMY,
    csCMYK,
    csCIELab,
    csYCbCr,
    csPhotoYCC
};

// A one-byte set of conversion options. The empty set is TConversionOptions{}.
enum TConversionOptions : uint8_t {
    cvAlpha = 1,            // pixels carry an alpha sample (set by the manager)
    cvApplyGamma = 2,       // pass components through GammaTable (target)
    cvByteSwap = 4,         // 16-bit samples are in the other byte order (source)
    cvLabByteRange = 8,     // CIELab L is stored as 0..255 (source)
    cvLabChromaOffset = 16  // CIELab a and b carry a +128 offset (source)
};

constexpr TConversionOptions operator|(TConversionOptions a, TConversionOptions b) {
    return TConversionOptions(uint8_t(a) | uint8_t(b));
}
constexpr TConversionOptions operator&(TConversionOptions a, TConversionOptions b) {
    return TConversionOptions(uint8_t(a) & uint8_t(b));
}
constexpr TConversionOptions operator~(TConversionOptions a) { return TConversionOptions(uint8_t(~uint8_t(a))); }
constexpr TConversionOptions& operator|=(TConversionOptions& a, TConversionOptions b) { return a = a | b; }
constexpr TConversionOptions& operator&=(TConversionOptions& a, TConversionOptions b) { return a = a & b; }
// Whether every option of flags is in options.
constexpr bool Has(TConversionOptions options, TConversionOptions flags) { return (options & flags) == flags; }

// How CreateColorPalette finds the palette values: 0 interleaved 8-bit
// triples, 1 interleaved 8-bit quadruples, 2 and 3 three 8-bit planes,
// 4 interleaved 16-bit triples, 5 interleaved 16-bit quadruples, 6 and 7
// three 16-bit planes.
using TPaletteLayout = uint8_t;

// Raised for settings the manager cannot convert.
class EColorConversionError : public Exception {
public:
    using Exception::Exception;
};

class TColorManager {
public:
    // Source pointers: one for interleaved samples, or one per sample plane.
    using TSourceRows = std::span<const void* const>;

    TColorManager();

    bool NeedsSelection() const { return needsSelection_; }
    uint8_t SourceBitsPerSample() const { return sourceBitsPerSample_; }
    uint8_t TargetBitsPerSample() const { return targetBitsPerSample_; }
    uint8_t SourceSamplesPerPixel() const { return sourceSamplesPerPixel_; }
    uint8_t TargetSamplesPerPixel() const { return targetSamplesPerPixel_; }
    float SourceGamma() const { return sourceGamma_; }
    float ScreenGamma() const { return screenGamma_; }
    const std::array<uint8_t, 256>& GammaTable() const { return gammaTable_; }
    // Whether GammaTable maps every 8-bit value to itself, as a file gamma of
    // 1/2.2 does on a 2.2 display: converters then skip the lookups.
    bool GammaIsIdentity() const { return gammaIsIdentity_; }
    const std::array<float, 3>& LumaWeights() const { return lumaWeights_; }
    uint8_t HorizontalSubSampling() const { return horizontalSubSampling_; }
    uint8_t VerticalSubSampling() const { return verticalSubSampling_; }
    const std::vector<int32_t>& CrToRed() const { return crToRed_; }
    const std::vector<int32_t>& CbToBlue() const { return cbToBlue_; }
    const std::vector<int32_t>& CrToGreen() const { return crToGreen_; }
    const std::vector<int32_t>& CbToGreen() const { return cbToGreen_; }
    TColorScheme SourceScheme() const { return sourceScheme_; }
    TColorScheme TargetScheme() const { return targetScheme_; }

    // Each setter marks a new converter selection when the value changes; a
    // rejected value raises EColorConversionError and keeps the old one.
    void SetSourceBitsPerSample(uint8_t Value);
    void SetTargetBitsPerSample(uint8_t Value);
    void SetSourceSamplesPerPixel(uint8_t Value);
    void SetTargetSamplesPerPixel(uint8_t Value);
    void SetSourceScheme(TColorScheme Value);
    void SetTargetScheme(TColorScheme Value);

    // Stores the file and display gamma (non-positive values fall back to 1.0
    // and 2.2) and rebuilds GammaTable.
    void SetGamma(float Main, float Display);
    // Takes up to three luma weights, then the chroma subsampling (1, 2 or 4,
    // vertical not above horizontal).
    void SetYCbCrParameters(std::span<const float> Coefficients, uint8_t Horizontal, uint8_t Vertical);
    void SetYCbCrParameters(std::initializer_list<float> Coefficients, uint8_t Horizontal, uint8_t Vertical) {
        SetYCbCrParameters(std::span<const float>(Coefficients.begin(), Coefficients.size()), Horizontal, Vertical);
    }

    // The reference white of CIELab sources as CIE xy chromaticity (D50,
    // 0.3457 and 0.3585, until set); values that are no chromaticity keep
    // the white as it was.
    void SetLabWhitePoint(float X, float Y);
    // XYZ of that white (Y = 1), and the matrix from XYZ relative to it to
    // linear sRGB (Bradford-adapted to sRGB's D65 white), rows first.
    const std::array<double, 3>& LabWhite() const { return labWhite_; }
    const std::array<double, 9>& LabMatrix() const { return labMatrix_; }

    // Converts Count pixels into Target. Only pixels whose bit in the rotating
    // Mask pattern is set are written; the source holds just those pixels.
    // Target must hold Count target pixels and each source pointer the
    // samples of the selected pixels: sizes are the caller's duty. Once a
    // call has chosen the converter (one of no pixels will do), several
    // threads may convert at once while no setting changes.
    void ConvertRow(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void ConvertRow(std::initializer_list<const void*> Source, void* Target, uint32_t Count, uint8_t Mask) {
        ConvertRow(TSourceRows(Source.begin(), Source.size()), Target, Count, Mask);
    }

    // The bitmap format fitting the source layout (Index 0) or the target one.
    TPixelFormat GetPixelFormat(int Index) const;

    TLogPalette CreateGrayscalePalette(bool MinimumIsWhite) const;
    TLogPalette CreateColorPalette(TSourceRows Data, TPaletteLayout Layout, uint32_t ColorCount, bool BGROrder) const;
    TLogPalette CreateColorPalette(std::initializer_list<const void*> Data, TPaletteLayout Layout, uint32_t ColorCount,
                                   bool BGROrder) const {
        return CreateColorPalette(TSourceRows(Data.begin(), Data.size()), Layout, ColorCount, BGROrder);
    }

    // Per-component helpers.
    static uint8_t Identity8(uint8_t Value) { return Value; }
    static uint16_t Identity16(uint16_t Value) { return Value; }
    uint8_t GammaLookup8(uint8_t Value) const { return gammaTable_[Value]; }
    static uint8_t Scale16To8(uint16_t Value) { return uint8_t(uint32_t(Value) * 255 / 65535); }
    uint8_t Scale16To8Gamma(uint16_t Value) const { return gammaTable_[Scale16To8(Value)]; }
    static uint16_t Swap16(uint16_t Value) { return uint16_t((Value >> 8) | (Value << 8)); }
    static uint8_t Swap16Scale8(uint16_t Value) { return Scale16To8(Swap16(Value)); }
    uint8_t Swap16Scale8Gamma(uint16_t Value) const { return gammaTable_[Scale16To8(Swap16(Value))]; }

    // Options of the source and target rows. The caller sets cvApplyGamma,
    // cvByteSwap and the CIELab options; the manager keeps cvAlpha in step
    // with the schemes at every conversion.
    TConversionOptions SourceMode{};
    TConversionOptions TargetMode{};

private:
    using TRowConverter = void (TColorManager::*)(TSourceRows, void*, uint32_t, uint8_t);

    void SelectConverter();
    void BuildYCbCrTables();

    void PackedToPacked(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void Indexed16To16(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void Indexed16ToPacked(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void PackedToIndexed16(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void Gray(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void GrayAlphaToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void GrayAlphaToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void RGBToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void RGBToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void BGRToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void BGRToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void CMYKToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void CMYKToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void LabToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void LabToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void YCbCrToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void YCbCrToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void PhotoYCCToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);
    void PhotoYCCToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask);

    bool needsSelection_ = true;
    uint8_t sourceBitsPerSample_ = 8;
    uint8_t targetBitsPerSample_ = 8;
    uint8_t sourceSamplesPerPixel_ = 3;
    uint8_t targetSamplesPerPixel_ = 3;
    float sourceGamma_ = 1.0f;
    float screenGamma_ = 2.2f;
    std::array<uint8_t, 256> gammaTable_{};
    bool gammaIsIdentity_ = false;
    std::array<float, 3> lumaWeights_{0.299f, 0.587f, 0.114f};
    uint8_t horizontalSubSampling_ = 1;
    uint8_t verticalSubSampling_ = 1;
    std::vector<int32_t> crToRed_, cbToBlue_, crToGreen_, cbToGreen_;
    std::array<double, 3> labWhite_{};
    std::array<double, 9> labMatrix_{};
    TColorScheme sourceScheme_ = csRGB;
    TColorScheme targetScheme_ = csBGR;
    TRowConverter rowConverter_ = nullptr;
};
