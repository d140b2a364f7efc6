#include "GraphicColor.h"

#include "GraphicStrings.h"

TColorManager::TColorManager() { SetGamma(1.0f, 2.2f); }

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
}
void TColorManager::SetYCbCrParameters(std::span<const float>, uint8_t, uint8_t) {}
void TColorManager::ConvertRow(TSourceRows, void*, uint32_t, uint8_t) {}
TPixelFormat TColorManager::GetPixelFormat(int) const { return pfCustom; }
TLogPalette TColorManager::CreateGrayscalePalette(bool) const { return {}; }
TLogPalette TColorManager::CreateColorPalette(TSourceRows, TPaletteLayout, uint32_t, bool) const { return {}; }
