#include "color/GraphicColor.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "color/Rows.h"
#include "GraphicStrings.h"

using namespace graphiccolor;

namespace {

bool HasAlpha(TColorScheme scheme) { return scheme == csGrayAlpha || scheme == csRGBA || scheme == csBGRA; }
bool IsRGBLike(TColorScheme scheme) { return scheme == csRGB || scheme == csRGBA; }
bool IsBGRLike(TColorScheme scheme) { return scheme == csBGR || scheme == csBGRA; }

TConversionOptions WithAlpha(TConversionOptions mode, bool alpha) { return alpha ? mode | cvAlpha : mode & ~cvAlpha; }

// Luma weights come from files, so a table entry may be computed from zero
// or absurd weights; keep the entries finite and far from overflowing the
// sums the converters make of them.
int32_t RoundTableEntry(float value) {
    constexpr float limit = 1 << 24;
    if (std::isnan(value)) return 0;
    return int32_t(std::nearbyint(std::clamp(value, -limit, limit)));
}

// count gray levels, evenly from black to white or from white to black.
TLogPalette GrayRamp(int count, bool minimumIsWhite) {
    const int step = 255 / (count - 1);
    TLogPalette palette;
    palette.palPalEntry.resize(count);
    for (int i = 0; i < count; ++i) {
        const auto level = uint8_t(i * step);
        palette.palPalEntry[minimumIsWhite ? count - 1 - i : i] = {level, level, level, 0};
    }
    return palette;
}

// CIELab's reference white as XYZ (Y = 1), and the matrix from XYZ relative
// to it to linear sRGB: Bradford-adapted to sRGB's own D65 white, rows first.
struct TLabWhite {
    std::array<double, 3> XYZ;
    std::array<double, 9> Matrix;
};

TLabWhite LabWhiteFor(float X, float Y) {
    using Matrix = std::array<double, 9>;
    const auto multiply = [](const Matrix& a, const Matrix& b) {
        Matrix m{};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                for (int k = 0; k < 3; ++k) m[3 * r + c] += a[3 * r + k] * b[3 * k + c];
        return m;
    };
    // Bradford's cone responses, their inverse, and sRGB's matrix from XYZ
    // of its own D65 white.
    static constexpr Matrix bradford = {0.8951, 0.2664, -0.1614, -0.7502, 1.7135, 0.0367, 0.0389, -0.0685, 1.0296};
    static constexpr Matrix inverse = {0.9869929, -0.1470543, 0.1599627, 0.4323053, 0.5183603,
                                       0.0492912, -0.0085287, 0.0400428, 0.9684867};
    static constexpr Matrix toSRGB = {3.2404542, -1.5371385, -0.4985314, -0.9692660, 1.8760108,
                                      0.0415560, 0.0556434, -0.2040259, 1.0572252};
    static constexpr double d65[3] = {0.95047, 1.0, 1.08883};
    TLabWhite white;
    white.XYZ = {double(X) / Y, 1.0, (1.0 - X - Y) / Y};
    Matrix scale{};
    for (int i = 0; i < 3; ++i) {
        double source = 0, target = 0;
        for (int k = 0; k < 3; ++k) {
            source += bradford[3 * i + k] * white.XYZ[k];
            target += bradford[3 * i + k] * d65[k];
        }
        scale[4 * i] = target / source;
    }
    white.Matrix = multiply(toSRGB, multiply(inverse, multiply(scale, bradford)));
    return white;
}

}  // namespace

TColorManager::TColorManager() {
    SetGamma(1.0f, 2.2f);
    // Every manager starts with D50, whose matrix is worked out once.
    static const TLabWhite d50 = LabWhiteFor(0.3457f, 0.3585f);
    labWhite_ = d50.XYZ;
    labMatrix_ = d50.Matrix;
}

void TColorManager::SetLabWhitePoint(float X, float Y) {
    if (!(X > 0 && Y > 0 && X + Y < 1)) return;
    const TLabWhite white = LabWhiteFor(X, Y);
    labWhite_ = white.XYZ;
    labMatrix_ = white.Matrix;
    needsSelection_ = true;
}

void TColorManager::SetSourceBitsPerSample(uint8_t Value) {
    if (Value < 1 || Value > 16) throw EColorConversionError(gsInvalidSampleDepth);
    if (Value != sourceBitsPerSample_) needsSelection_ = true;
    sourceBitsPerSample_ = Value;
}

void TColorManager::SetTargetBitsPerSample(uint8_t Value) {
    if (Value < 1 || Value > 16) throw EColorConversionError(gsInvalidSampleDepth);
    if (Value != targetBitsPerSample_) needsSelection_ = true;
    targetBitsPerSample_ = Value;
}

void TColorManager::SetSourceSamplesPerPixel(uint8_t Value) {
    if (Value < 1 || Value > 4) throw EColorConversionError(gsInvalidPixelDepth);
    if (Value != sourceSamplesPerPixel_) needsSelection_ = true;
    sourceSamplesPerPixel_ = Value;
}

void TColorManager::SetTargetSamplesPerPixel(uint8_t Value) {
    if (Value < 1 || Value > 4) throw EColorConversionError(gsInvalidPixelDepth);
    if (Value != targetSamplesPerPixel_) needsSelection_ = true;
    targetSamplesPerPixel_ = Value;
}

void TColorManager::SetSourceScheme(TColorScheme Value) {
    if (Value != sourceScheme_) needsSelection_ = true;
    sourceScheme_ = Value;
}

void TColorManager::SetTargetScheme(TColorScheme Value) {
    if (Value != targetScheme_) needsSelection_ = true;
    targetScheme_ = Value;
}

void TColorManager::SetGamma(float Main, float Display) {
    sourceGamma_ = Main > 0 ? Main : 1.0f;
    screenGamma_ = Display > 0 ? Display : 2.2f;
    needsSelection_ = true;

    const int targetMax = targetBitsPerSample_ >= 8 ? 255 : (1 << targetBitsPerSample_) - 1;
    // The table has 256 entries whatever the depths say.
    const int sourceMax = sourceBitsPerSample_ >= 8 ? 255 : std::min(targetMax, 255);
    const double exponent = 1.0 / double(sourceGamma_ * screenGamma_);
    const auto fill = [](std::array<uint8_t, 256>& table, int sourceMax, int targetMax, double exponent) {
        bool identity = sourceMax == 255 && targetMax == 255;
        for (int i = 0; i <= sourceMax; ++i) {
            table[i] = uint8_t(std::nearbyint(std::pow(double(i) / sourceMax, exponent) * targetMax));
            identity = identity && table[i] == i;
        }
        return identity;
    };
    // Every manager starts with the table of 8-bit samples of gamma 1 on a
    // 2.2 display; 256 powers are a large part of loading a small picture,
    // so that table is made once.
    struct TStandard {
        double Exponent = 1.0 / double(1.0f * 2.2f);
        std::array<uint8_t, 256> Table{};
        bool Identity = false;
    };
    static const TStandard standard = [&] {
        TStandard made;
        made.Identity = fill(made.Table, 255, 255, made.Exponent);
        return made;
    }();
    if (sourceMax == 255 && targetMax == 255 && exponent == standard.Exponent) {
        gammaTable_ = standard.Table;
        gammaIsIdentity_ = standard.Identity;
        return;
    }
    gammaIsIdentity_ = fill(gammaTable_, sourceMax, targetMax, exponent);
}

void TColorManager::SetYCbCrParameters(std::span<const float> Coefficients, uint8_t Horizontal, uint8_t Vertical) {
    const size_t given = std::min(Coefficients.size(), lumaWeights_.size());
    std::copy_n(Coefficients.begin(), given, lumaWeights_.begin());
    needsSelection_ = true;

    const auto allowed = [](uint8_t value) { return value == 1 || value == 2 || value == 4; };
    if (!allowed(Horizontal) || !allowed(Vertical)) throw EColorConversionError(gsInvalidSubSampling);
    if (Vertical > Horizontal) throw EColorConversionError(gsVerticalSubSamplingError);
    horizontalSubSampling_ = Horizontal;
    verticalSubSampling_ = Vertical;
}

void TColorManager::BuildYCbCrTables() {
    const float kr = lumaWeights_[0], kg = lumaWeights_[1], kb = lumaWeights_[2];
    const float cr = 2 - 2 * kr, cb = 2 - 2 * kb;
    const float gr = kr * cr / kg, gb = kb * cb / kg;
    // Photo-CD stores its chroma around 137 and 156 instead of 128.
    const bool photoYCC = sourceScheme_ == csPhotoYCC;
    const int crCentre = photoYCC ? 137 : 128, cbCentre = photoYCC ? 156 : 128;

    crToRed_.resize(256);
    cbToBlue_.resize(256);
    crToGreen_.resize(256);
    cbToGreen_.resize(256);
    for (int i = 0; i < 256; ++i) {
        const float crOffset = float(i - crCentre), cbOffset = float(i - cbCentre);
        crToRed_[i] = RoundTableEntry(cr * crOffset);
        cbToBlue_[i] = RoundTableEntry(cb * cbOffset);
        crToGreen_[i] = -RoundTableEntry(gr * crOffset);
        cbToGreen_[i] = -RoundTableEntry(gb * cbOffset);
    }
}

void TColorManager::SelectConverter() {
    const bool sourcePaletteLike =
        sourceScheme_ == csIndexed || sourceScheme_ == csGray || sourceScheme_ == csGrayAlpha;
    const bool targetPaletteLike = targetScheme_ == csIndexed || targetScheme_ == csGray;
    // Gray with alpha also goes to colour with alpha, keeping its alpha.
    const bool grayToAlpha = sourceScheme_ == csGrayAlpha && (targetScheme_ == csRGBA || targetScheme_ == csBGRA);
    if (sourcePaletteLike != targetPaletteLike && !grayToAlpha) throw EColorConversionError(gsIndexedNotSupported);

    SourceMode = WithAlpha(SourceMode, HasAlpha(sourceScheme_));
    TargetMode = WithAlpha(TargetMode, HasAlpha(targetScheme_));

    const uint8_t s = sourceBitsPerSample_, t = targetBitsPerSample_;
    const bool toRGB = IsRGBLike(targetScheme_), toBGR = IsBGRLike(targetScheme_);
    TRowConverter converter = nullptr;
    switch (sourceScheme_) {
        case csIndexed:
            if (s == 16)
                converter = t == 16 ? &TColorManager::Indexed16To16 : &TColorManager::Indexed16ToPacked;
            else
                converter = t == 16 ? &TColorManager::PackedToIndexed16 : &TColorManager::PackedToPacked;
            break;
        case csGray:
            if (s != 16 && t != 16)
                converter = &TColorManager::PackedToPacked;
            else if (s >= 8 && t >= 8)
                converter = &TColorManager::Gray;
            break;
        case csGrayAlpha:
            if ((s == 8 || s == 16) && (t == 8 || t == 16))
                converter = toRGB ? &TColorManager::GrayAlphaToRGB : toBGR ? &TColorManager::GrayAlphaToBGR
                                                                       : &TColorManager::Gray;
            break;
        case csRGB:
        case csRGBA:
            if (toRGB) converter = &TColorManager::RGBToRGB;
            if (toBGR) converter = &TColorManager::RGBToBGR;
            break;
        case csBGR:
        case csBGRA:
            if (toRGB) converter = &TColorManager::BGRToRGB;
            if (toBGR) converter = &TColorManager::BGRToBGR;
            break;
        case csCMYK:
            if (toRGB) converter = &TColorManager::CMYKToRGB;
            if (toBGR) converter = &TColorManager::CMYKToBGR;
            break;
        case csCIELab:
            if (toRGB) converter = &TColorManager::LabToRGB;
            if (toBGR) converter = &TColorManager::LabToBGR;
            break;
        case csYCbCr:
            if (toRGB || toBGR) BuildYCbCrTables();
            if (toRGB) converter = &TColorManager::YCbCrToRGB;
            if (toBGR) converter = &TColorManager::YCbCrToBGR;
            break;
        case csPhotoYCC:
            if (toRGB || toBGR) BuildYCbCrTables();
            if (toRGB) converter = &TColorManager::PhotoYCCToRGB;
            if (toBGR) converter = &TColorManager::PhotoYCCToBGR;
            break;
        default:
            break;
    }
    rowConverter_ = converter;
    needsSelection_ = false;
}

void TColorManager::ConvertRow(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    if (needsSelection_) SelectConverter();
    if (!rowConverter_) throw EColorConversionError(gsConversionUnsupported);
    // Callers assign the modes wholesale between images; keep the alpha
    // flags true to the schemes so a converter never misjudges a pixel size.
    // They are written only when they change, so that once the converter is
    // chosen, threads may convert rows at once.
    if (const auto mode = WithAlpha(SourceMode, HasAlpha(sourceScheme_)); mode != SourceMode) SourceMode = mode;
    if (const auto mode = WithAlpha(TargetMode, HasAlpha(targetScheme_)); mode != TargetMode) TargetMode = mode;
    if (Source.empty() || Count == 0) return;
    (this->*rowConverter_)(Source, Target, Count, Mask);
}

TPixelFormat TColorManager::GetPixelFormat(int Index) const {
    const int samples = Index == 0 ? sourceSamplesPerPixel_ : targetSamplesPerPixel_;
    const int bits = Index == 0 ? sourceBitsPerSample_ : targetBitsPerSample_;
    switch (samples) {
        case 1:
            if (bits == 1) return pf1bit;
            if (bits >= 2 && bits <= 4) return pf4bit;
            if (bits >= 8 && bits <= 16) return pf8bit;
            return pfCustom;
        case 3:
            return bits >= 1 && bits <= 5 ? pf15bit : pf24bit;
        case 4:
            return bits >= 8 ? pf32bit : pfCustom;
        default:
            return pfCustom;
    }
}

TLogPalette TColorManager::CreateGrayscalePalette(bool MinimumIsWhite) const {
    const int bits = std::min(8, targetBitsPerSample_ * targetSamplesPerPixel_);
    if (!Has(TargetMode, cvApplyGamma)) {
        // The same for every picture of a depth, so made once.
        static const auto plain = [] {
            std::array<TLogPalette, 16> ramps;
            for (int depth = 1; depth <= 8; ++depth)
                for (bool minimumIsWhite : {false, true})
                    ramps[2 * (depth - 1) + minimumIsWhite] = GrayRamp(1 << depth, minimumIsWhite);
            return ramps;
        }();
        return plain[2 * (bits - 1) + MinimumIsWhite];
    }
    TLogPalette palette = GrayRamp(1 << bits, MinimumIsWhite);
    for (TPaletteEntry& entry : palette.palPalEntry)
        entry.peRed = entry.peGreen = entry.peBlue = gammaTable_[entry.peRed];
    return palette;
}

TLogPalette TColorManager::CreateColorPalette(TSourceRows Data, TPaletteLayout Layout, uint32_t ColorCount,
                                              bool BGROrder) const {
    TLogPalette palette;
    palette.palPalEntry.resize(std::min<uint32_t>(ColorCount, 256));
    const size_t count = palette.palPalEntry.size();
    const bool planar = Layout == 2 || Layout == 3 || Layout == 6 || Layout == 7;
    // A planar layout needs its three planes; unknown layouts stay black.
    if (Layout > 7 || Data.empty() || (planar && Data.size() < 3)) return palette;

    const bool gamma = Has(TargetMode, cvApplyGamma);
    const bool swap = Has(SourceMode, cvByteSwap);
    const bool wide = Layout >= 4;
    const auto value = [&](const uint8_t* at) -> uint8_t {
        if (!wide) return gamma ? gammaTable_[*at] : *at;
        const uint16_t word = Load<uint16_t>(at);
        const uint8_t scaled = swap ? Swap16Scale8(word) : Scale16To8(word);
        return gamma ? gammaTable_[scaled] : scaled;
    };

    const size_t sampleBytes = wide ? 2 : 1;
    for (size_t i = 0; i < count; ++i) {
        uint8_t red, green, blue;
        if (planar) {
            red = value(static_cast<const uint8_t*>(Data[0]) + i * sampleBytes);
            green = value(static_cast<const uint8_t*>(Data[1]) + i * sampleBytes);
            blue = value(static_cast<const uint8_t*>(Data[2]) + i * sampleBytes);
        } else {
            const size_t entrySamples = (Layout == 1 || Layout == 5) ? 4 : 3;
            const uint8_t* entry = static_cast<const uint8_t*>(Data[0]) + i * entrySamples * sampleBytes;
            red = value(entry);
            green = value(entry + sampleBytes);
            blue = value(entry + 2 * sampleBytes);
            if (BGROrder) std::swap(red, blue);
        }
        palette.palPalEntry[i] = {red, green, blue, 0};
    }
    return palette;
}
