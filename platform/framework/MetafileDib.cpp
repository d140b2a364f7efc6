#include "MetafileDib.h"

#include <vector>

#include "BitmapFile.h"
#include "SysUtils.h"

namespace {

// Reads the bitmap at the start of stream, its pixels at bitsOffset (or
// following the colour table for -1).
bool Decode(TStream& stream, int64_t bitsOffset, TBitmap& image) {
    try {
        ReadDib(stream, image, bitsOffset, false);
        return true;
    } catch (const EInvalidGraphic&) {
        return false;
    }
}

}  // namespace

bool TMetafileDib::Parse(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize) {
    std::vector<uint8_t> bitmap(info, info + infoSize);
    bitmap.insert(bitmap.end(), bits, bits + bitsSize);
    TMemoryStream stream(bitmap.data(), bitmap.size());
    return Decode(stream, static_cast<int64_t>(infoSize), image_);
}

bool TMetafileDib::ParsePacked(const uint8_t* data, size_t size) {
    TMemoryStream stream(data, size);
    return Decode(stream, -1, image_);
}

uint8_t TMetafileDib::Alpha(int x, int y) const {
    return image_.PixelFormat() == pf32bit ? image_.ScanLine(y)[4 * x + 3] : 255;
}

bool TMetafileDib::Bit(int x, int y) const {
    if (image_.PixelFormat() == pf1bit) return (image_.ScanLine(y)[x / 8] >> (7 - x % 8)) & 1;
    const TColor c = Pixel(x, y);
    return GetRValue(c) * 3 + GetGValue(c) * 6 + GetBValue(c) >= 128 * 10;
}
