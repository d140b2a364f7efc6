// Converters from the other colour spaces to RGB or BGR targets: CMYK,
// CIELab, YCbCr and Photo-CD's PhotoYCC.
#include <algorithm>
#include <array>
#include <cmath>

#include "color/GraphicColor.h"
#include "color/Rows.h"

using namespace graphiccolor;

namespace {

bool SupportedDepth(unsigned bits) { return bits == 8 || bits == 16; }

// The source row of a three- or four-component space in its stored order.
// Interleaved pixels step by the source's samples per pixel, which may hold
// samples beyond the colour (an alpha, say); the first of them is the pixel's
// alpha where the target has one.
bool LocateSpaceSamples(const TColorManager& manager, TColorManager::TSourceRows Source, int components,
                        TSourceSamples& samples) {
    static constexpr int stored[4] = {0, 1, 2, 3};
    const int pixelSamples = std::max<int>(components, manager.SourceSamplesPerPixel());
    return LocateSamples(Source, stored, components, pixelSamples, manager.SourceBitsPerSample() / 8, samples);
}

// Where the alpha sample of a space's source pixels lies, if it is carried.
const uint8_t* SpaceAlpha(const TColorManager& manager, TColorManager::TSourceRows Source, int components) {
    if (!Has(manager.TargetMode, cvAlpha)) return nullptr;
    if (Source.size() > 1) return Source.size() > size_t(components) ? static_cast<const uint8_t*>(Source[components]) : nullptr;
    if (manager.SourceSamplesPerPixel() <= components) return nullptr;
    return static_cast<const uint8_t*>(Source[0]) + components * (manager.SourceBitsPerSample() / 8);
}

// Copies or scales the carried alpha of source pixel j into target pixel i.
void PutAlpha(const TColorManager& manager, const TTargetPixels& target, const uint8_t* alpha, size_t step, size_t j,
              size_t i) {
    if (!alpha) return;
    const uint8_t* at = alpha + j * step;
    const bool swap = Has(manager.SourceMode, cvByteSwap);
    const unsigned s = manager.SourceBitsPerSample(), t = manager.TargetBitsPerSample();
    uint8_t* out = target.At(i) + target.Alpha;
    if (s == 8 && t == 8) *out = *at;
    else if (s == 8) Store<uint16_t>(out, Widen8(*at));
    else {
        const uint16_t word = swap ? TColorManager::Swap16(Load<uint16_t>(at)) : Load<uint16_t>(at);
        if (t == 8) *out = TColorManager::Scale16To8(word);
        else Store<uint16_t>(out, word);
    }
}

TTargetPixels TargetOf(const TColorManager& manager, void* Target, bool blueFirst) {
    return TTargetPixels(Target, blueFirst, Has(manager.TargetMode, cvAlpha), manager.TargetBitsPerSample() / 8);
}

// Reads a 16-bit source sample in the machine's byte order.
struct TWordReader {
    bool Swap;
    uint16_t operator()(const uint8_t* at) const {
        const uint16_t value = Load<uint16_t>(at);
        return Swap ? TColorManager::Swap16(value) : value;
    }
};

// Writes 8-bit results to an 8- or 16-bit target.
void PutBytes(const TTargetPixels& target, bool wide, size_t pixel, uint8_t red, uint8_t green, uint8_t blue) {
    if (wide)
        target.Put<uint16_t>(pixel, Widen8(red), Widen8(green), Widen8(blue));
    else
        target.Put<uint8_t>(pixel, red, green, blue);
}

uint16_t RoundClampWord(double value) {
    if (!(value > 0)) return 0;
    if (value >= 65535) return 65535;
    return uint16_t(std::nearbyint(value));
}

void ConvertCMYK(const TColorManager& manager, TColorManager::TSourceRows Source, void* Target, uint32_t Count,
                 uint8_t Mask, bool blueFirst) {
    const unsigned s = manager.SourceBitsPerSample(), t = manager.TargetBitsPerSample();
    TSourceSamples in;
    if (!SupportedDepth(s) || !SupportedDepth(t) || !LocateSpaceSamples(manager, Source, 4, in)) return;
    const TTargetPixels out = TargetOf(manager, Target, blueFirst);
    const uint8_t* alpha = SpaceAlpha(manager, Source, 4);

    if (s == 8) {
        // 255 minus the combined ink of a colour and black.
        const auto colour = [](int32_t ink, int32_t black) { return ClampByte(ink * black / 255 - ink - black + 255); };
        ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
            const int32_t k = *in.At(3, j);
            PutBytes(out, t == 16, i, colour(*in.At(0, j), k), colour(*in.At(1, j), k), colour(*in.At(2, j), k));
            PutAlpha(manager, out, alpha, in.Step, j, i);
        });
        return;
    }
    const TWordReader word{Has(manager.SourceMode, cvByteSwap)};
    if (t == 8) {
        const auto colour = [](uint32_t ink, uint32_t black) {
            const uint32_t combined = ink + black - ink * black / 65535;
            return ClampByte(255 - int32_t(combined * 255 / 65535));
        };
        ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
            const uint32_t k = word(in.At(3, j));
            out.Put<uint8_t>(i, colour(word(in.At(0, j)), k), colour(word(in.At(1, j)), k),
                             colour(word(in.At(2, j)), k));
            PutAlpha(manager, out, alpha, in.Step, j, i);
        });
    } else {
        const auto colour = [](int64_t ink, int64_t black) { return uint16_t(ink * black / 65535 - ink - black - 1); };
        ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
            const int64_t k = word(in.At(3, j));
            out.Put<uint16_t>(i, colour(word(in.At(0, j)), k), colour(word(in.At(1, j)), k),
                              colour(word(in.At(2, j)), k));
            PutAlpha(manager, out, alpha, in.Step, j, i);
        });
    }
}

// The sRGB companding curve over linear light 0..1, in steps fine enough
// (1/65535) that even its steep start rounds as the curve itself would.
uint8_t CompandSRGB(double linear) {
    static const std::array<uint8_t, 65536> curve = [] {
        std::array<uint8_t, 65536> table{};
        for (size_t i = 0; i < table.size(); ++i) {
            const double v = double(i) / 65535;
            table[i] = RoundClampByte((v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055) * 255);
        }
        return table;
    }();
    if (!(linear > 0)) return 0;
    return linear >= 1 ? 255 : curve[size_t(linear * 65535 + 0.5)];
}

// CIELab relative to the manager's reference white (D50 unless a file
// names another) to sRGB: through XYZ, the matrix that adapts that white to
// sRGB's and takes XYZ to linear sRGB, so that the reference white shows
// white, and the sRGB companding curve.
void LabToColour(const TColorManager& manager, double L, double a, double b, uint8_t& red, uint8_t& green,
                 uint8_t& blue) {
    const auto inverse = [](double f) {
        constexpr double delta = 6.0 / 29;
        return f > delta ? f * f * f : 3 * delta * delta * (f - 4.0 / 29);
    };
    const std::array<double, 3>& white = manager.LabWhite();
    const std::array<double, 9>& m = manager.LabMatrix();
    const double fy = (L + 16) / 116;
    const double X = white[0] * inverse(fy + a / 500), Y = inverse(fy), Z = white[2] * inverse(fy - b / 200);
    red = CompandSRGB(m[0] * X + m[1] * Y + m[2] * Z);
    green = CompandSRGB(m[3] * X + m[4] * Y + m[5] * Z);
    blue = CompandSRGB(m[6] * X + m[7] * Y + m[8] * Z);
}

void ConvertLab(const TColorManager& manager, TColorManager::TSourceRows Source, void* Target, uint32_t Count,
                uint8_t Mask, bool blueFirst) {
    const unsigned s = manager.SourceBitsPerSample(), t = manager.TargetBitsPerSample();
    TSourceSamples in;
    if (!SupportedDepth(s) || !SupportedDepth(t) || !LocateSpaceSamples(manager, Source, 3, in)) return;
    const TTargetPixels out = TargetOf(manager, Target, blueFirst);
    const uint8_t* alpha = SpaceAlpha(manager, Source, 3);
    const bool byteRange = Has(manager.SourceMode, cvLabByteRange);
    const bool chromaOffset = Has(manager.SourceMode, cvLabChromaOffset);
    const TWordReader word{Has(manager.SourceMode, cvByteSwap)};

    ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
        double L, a, b;
        if (s == 8) {
            L = *in.At(0, j);
            a = chromaOffset ? *in.At(1, j) - 128 : int8_t(*in.At(1, j));
            b = chromaOffset ? *in.At(2, j) - 128 : int8_t(*in.At(2, j));
        } else {
            // 16-bit samples are taken at the 8-bit scale: L over 0..255,
            // a and b over -128..127.
            L = word(in.At(0, j)) / 257.0;
            a = chromaOffset ? word(in.At(1, j)) / 257.0 - 128 : int16_t(word(in.At(1, j))) / 256.0;
            b = chromaOffset ? word(in.At(2, j)) / 257.0 - 128 : int16_t(word(in.At(2, j))) / 256.0;
        }
        if (byteRange) L /= 2.55;
        uint8_t red, green, blue;
        LabToColour(manager, L, a, b, red, green, blue);
        PutBytes(out, t == 16, i, red, green, blue);
        PutAlpha(manager, out, alpha, in.Step, j, i);
    });
}

// Gray with alpha to colour with alpha: the level in all three colours.
void ConvertGrayAlpha(const TColorManager& manager, TColorManager::TSourceRows Source, void* Target, uint32_t Count,
                      uint8_t Mask, bool blueFirst) {
    const unsigned s = manager.SourceBitsPerSample(), t = manager.TargetBitsPerSample();
    TSourceSamples in;
    if (!SupportedDepth(s) || !SupportedDepth(t) || !LocateSpaceSamples(manager, Source, 2, in)) return;
    const TTargetPixels out = TargetOf(manager, Target, blueFirst);
    const uint8_t* alpha = Has(manager.TargetMode, cvAlpha) ? in.Component[1] : nullptr;
    const TWordReader word{Has(manager.SourceMode, cvByteSwap)};
    ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
        if (s == 16 && t == 16) {
            const uint16_t level = word(in.At(0, j));
            out.Put<uint16_t>(i, level, level, level);
        } else {
            const uint8_t level = s == 8 ? *in.At(0, j) : TColorManager::Scale16To8(word(in.At(0, j)));
            PutBytes(out, t == 16, i, level, level, level);
        }
        PutAlpha(manager, out, alpha, in.Step, j, i);
    });
}

// YCbCr and PhotoYCC differ only in the tables the selection built.
void ConvertYCbCr(const TColorManager& manager, TColorManager::TSourceRows Source, void* Target, uint32_t Count,
                  uint8_t Mask, bool blueFirst) {
    const unsigned s = manager.SourceBitsPerSample(), t = manager.TargetBitsPerSample();
    TSourceSamples in;
    if (!SupportedDepth(s) || !SupportedDepth(t) || !LocateSpaceSamples(manager, Source, 3, in)) return;
    const TTargetPixels out = TargetOf(manager, Target, blueFirst);
    const uint8_t* alpha = SpaceAlpha(manager, Source, 3);
    const TWordReader word{Has(manager.SourceMode, cvByteSwap)};

    if (s == 16 && t == 16) {
        ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
            const double y = 1.3584 * word(in.At(0, j));
            const double c1 = word(in.At(1, j)) - 40092.0, c2 = word(in.At(2, j)) - 35209.0;
            out.Put<uint16_t>(i, RoundClampWord(y + 1.8215 * c2), RoundClampWord(y - 0.4302726 * c1 - 0.9271435 * c2),
                              RoundClampWord(y + 2.2179 * c1));
            PutAlpha(manager, out, alpha, in.Step, j, i);
        });
        return;
    }
    const int32_t* crToRed = manager.CrToRed().data();
    const int32_t* cbToBlue = manager.CbToBlue().data();
    const int32_t* crToGreen = manager.CrToGreen().data();
    const int32_t* cbToGreen = manager.CbToGreen().data();
    const auto sample = [&](int component, size_t j) -> int32_t {
        return s == 8 ? *in.At(component, j) : TColorManager::Scale16To8(word(in.At(component, j)));
    };
    ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
        const int32_t y = sample(0, j), cb = sample(1, j), cr = sample(2, j);
        PutBytes(out, t == 16, i, ClampByte(y + crToRed[cr]), ClampByte(y + cbToGreen[cb] + crToGreen[cr]),
                 ClampByte(y + cbToBlue[cb]));
        PutAlpha(manager, out, alpha, in.Step, j, i);
    });
}

}  // namespace

void TColorManager::CMYKToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertCMYK(*this, Source, Target, Count, Mask, false);
}

void TColorManager::CMYKToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertCMYK(*this, Source, Target, Count, Mask, true);
}

void TColorManager::LabToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertLab(*this, Source, Target, Count, Mask, false);
}

void TColorManager::LabToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertLab(*this, Source, Target, Count, Mask, true);
}

void TColorManager::GrayAlphaToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertGrayAlpha(*this, Source, Target, Count, Mask, false);
}

void TColorManager::GrayAlphaToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertGrayAlpha(*this, Source, Target, Count, Mask, true);
}

void TColorManager::YCbCrToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertYCbCr(*this, Source, Target, Count, Mask, false);
}

void TColorManager::YCbCrToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertYCbCr(*this, Source, Target, Count, Mask, true);
}

void TColorManager::PhotoYCCToRGB(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertYCbCr(*this, Source, Target, Count, Mask, false);
}

void TColorManager::PhotoYCCToBGR(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    ConvertYCbCr(*this, Source, Target, Count, Mask, true);
}
