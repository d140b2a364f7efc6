// Converters from the other colour spaces to RGB or BGR targets: CMYK,
// CIELab, YCbCr and Photo-CD's PhotoYCC.
#include <cmath>

#include "color/GraphicColor.h"
#include "color/Rows.h"

using namespace graphiccolor;

namespace {

bool SupportedDepth(unsigned bits) { return bits == 8 || bits == 16; }

// The source row of a three- or four-component space in its stored order.
bool LocateSpaceSamples(const TColorManager& manager, TColorManager::TSourceRows Source, int components,
                        TSourceSamples& samples) {
    static constexpr int stored[4] = {0, 1, 2, 3};
    return LocateSamples(Source, stored, components, components, manager.SourceBitsPerSample() / 8, samples);
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

    if (s == 8) {
        // 255 minus the combined ink of a colour and black.
        const auto colour = [](int32_t ink, int32_t black) { return ClampByte(ink * black / 255 - ink - black + 255); };
        ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
            const int32_t k = *in.At(3, j);
            PutBytes(out, t == 16, i, colour(*in.At(0, j), k), colour(*in.At(1, j), k), colour(*in.At(2, j), k));
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
        });
    } else {
        const auto colour = [](int64_t ink, int64_t black) { return uint16_t(ink * black / 65535 - ink - black - 1); };
        ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
            const int64_t k = word(in.At(3, j));
            out.Put<uint16_t>(i, colour(word(in.At(0, j)), k), colour(word(in.At(1, j)), k),
                              colour(word(in.At(2, j)), k));
        });
    }
}

// CIELab to RGB without white-point adaptation, as the files' producers
// expect it.
void LabToColour(double L, double a, double b, uint8_t& red, uint8_t& green, uint8_t& blue) {
    double X, Y, Z;
    if (L < 7.9996) {
        Y = L / 903.3;
        X = Y + a / 3893.5;
        Z = Y - b / 1557.4;
    } else {
        const double T = (L + 16) / 116;
        Y = T * T * T;
        X = std::pow(T + a / 500, 3);
        Z = std::pow(T - b / 200, 3);
    }
    red = RoundClampByte((2.998 * X - 1.458 * Y - 0.541 * Z) * 255);
    green = RoundClampByte((-0.952 * X + 1.893 * Y + 0.059 * Z) * 255);
    blue = RoundClampByte((0.099 * X - 0.198 * Y + 1.099 * Z) * 255);
}

void ConvertLab(const TColorManager& manager, TColorManager::TSourceRows Source, void* Target, uint32_t Count,
                uint8_t Mask, bool blueFirst) {
    const unsigned s = manager.SourceBitsPerSample(), t = manager.TargetBitsPerSample();
    TSourceSamples in;
    if (!SupportedDepth(s) || !SupportedDepth(t) || !LocateSpaceSamples(manager, Source, 3, in)) return;
    const TTargetPixels out = TargetOf(manager, Target, blueFirst);
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
        LabToColour(L, a, b, red, green, blue);
        PutBytes(out, t == 16, i, red, green, blue);
    });
}

// YCbCr and PhotoYCC differ only in the tables the selection built.
void ConvertYCbCr(const TColorManager& manager, TColorManager::TSourceRows Source, void* Target, uint32_t Count,
                  uint8_t Mask, bool blueFirst) {
    const unsigned s = manager.SourceBitsPerSample(), t = manager.TargetBitsPerSample();
    TSourceSamples in;
    if (!SupportedDepth(s) || !SupportedDepth(t) || !LocateSpaceSamples(manager, Source, 3, in)) return;
    const TTargetPixels out = TargetOf(manager, Target, blueFirst);
    const TWordReader word{Has(manager.SourceMode, cvByteSwap)};

    if (s == 16 && t == 16) {
        ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
            const double y = 1.3584 * word(in.At(0, j));
            const double c1 = word(in.At(1, j)) - 40092.0, c2 = word(in.At(2, j)) - 35209.0;
            out.Put<uint16_t>(i, RoundClampWord(y + 1.8215 * c2), RoundClampWord(y - 0.4302726 * c1 - 0.9271435 * c2),
                              RoundClampWord(y + 2.2179 * c1));
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
