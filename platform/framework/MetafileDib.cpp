#include "MetafileDib.h"

#include <bit>
#include <cstring>

namespace {

constexpr uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
constexpr uint64_t kMaxPixels = uint64_t(1) << 28;
// More colour entries than any bitmap can index: a larger count is garbage.
constexpr uint32_t kMaxColors = 1u << 16;

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

struct THeader {
    uint32_t Size = 0;
    int64_t Width = 0, Height = 0;
    int BitCount = 0;
    uint32_t Compression = kRgb;
    uint32_t ColorsUsed = 0;
    bool Core() const { return Size == 12; }
    // Bytes between the end of the header and the colour table.
    size_t MaskBytes() const {
        if (Size != 40) return 0;
        return Compression == kBitFields ? 12 : Compression == kAlphaBitFields ? 16 : 0;
    }
    size_t EntrySize() const { return Core() ? 3 : 4; }
    uint32_t TableEntries() const {
        if (ColorsUsed) return ColorsUsed;
        return BitCount <= 8 ? 1u << BitCount : 0;
    }
};

bool ReadHeader(const uint8_t* info, size_t available, THeader& header) {
    if (available < 12) return false;
    header.Size = Get32(info);
    if (header.Size == 12) {
        header.Width = Get16(info + 4);
        header.Height = Get16(info + 6);
        header.BitCount = Get16(info + 10);
    } else if (header.Size >= 40 && header.Size <= available) {
        header.Width = int32_t(Get32(info + 4));
        header.Height = int32_t(Get32(info + 8));
        header.BitCount = Get16(info + 14);
        header.Compression = Get32(info + 16);
        header.ColorsUsed = Get32(info + 32);
    } else {
        return false;
    }
    return header.ColorsUsed <= kMaxColors;
}

}  // namespace

size_t TMetafileDib::InfoSize(const uint8_t* info, size_t available) {
    THeader header;
    if (!ReadHeader(info, available, header)) return 0;
    const size_t size = header.Size + header.MaskBytes() + size_t(header.TableEntries()) * header.EntrySize();
    return size <= available ? size : 0;
}

bool TMetafileDib::Parse(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize) {
    THeader header;
    if (!ReadHeader(info, infoSize, header)) return false;
    switch (header.BitCount) {
        case 1: case 4: case 8: case 16: case 24: case 32: break;
        default: return false;
    }
    const bool fields = header.Compression == kBitFields || header.Compression == kAlphaBitFields;
    if (header.Compression != kRgb && !(fields && (header.BitCount == 16 || header.BitCount == 32))) return false;

    const uint64_t height = uint64_t(header.Height < 0 ? -header.Height : header.Height);
    if (header.Width <= 0 || height == 0 || uint64_t(header.Width) * height > kMaxPixels) return false;
    const uint64_t rowBytes = (uint64_t(header.Width) * header.BitCount + 31) / 32 * 4;
    if (rowBytes * height > bitsSize) return false;
    if (!ParseMasks(info, infoSize, header.Size, header.Compression)) return false;

    colors_.clear();
    if (header.BitCount <= 8) {
        const size_t table = header.Size + header.MaskBytes();
        const size_t entry = header.EntrySize();
        for (uint32_t i = 0; i < header.TableEntries() && table + (i + 1) * entry <= infoSize; ++i) {
            const uint8_t* p = info + table + i * entry;
            colors_.push_back(RGB(p[2], p[1], p[0]));
        }
    }
    width_ = int(header.Width);
    height_ = int(height);
    bitCount_ = header.BitCount;
    bottomUp_ = header.Height > 0;
    alpha_ = header.BitCount == 32 && header.Compression == kRgb;
    rowBytes_ = size_t(rowBytes);
    bits_.assign(bits, bits + rowBytes * height);
    return true;
}

bool TMetafileDib::ParseMasks(const uint8_t* info, size_t infoSize, size_t headerSize, uint32_t compression) {
    if (compression == kBitFields || compression == kAlphaBitFields) {
        // The masks sit at the same place whether the header holds them or
        // they follow a plain 40-byte header.
        if (infoSize < 52 || headerSize == 12) return false;
        for (int i = 0; i < 3; ++i) masks_[i] = Get32(info + 40 + 4 * i);
    } else {
        const bool sixteen = headerSize != 12 && Get16(info + 14) == 16;
        masks_[0] = sixteen ? 0x7C00 : 0xFF0000;
        masks_[1] = sixteen ? 0x03E0 : 0x00FF00;
        masks_[2] = sixteen ? 0x001F : 0x0000FF;
    }
    return true;
}

TColor TMetafileDib::MaskedColor(uint32_t value) const {
    uint8_t channel[3];
    for (int i = 0; i < 3; ++i) {
        const uint32_t mask = masks_[i];
        if (!mask) {
            channel[i] = 0;
            continue;
        }
        const int shift = std::countr_zero(mask);
        const uint64_t top = mask >> shift;
        channel[i] = uint8_t(uint64_t((value & mask) >> shift) * 255 / top);
    }
    return RGB(channel[0], channel[1], channel[2]);
}

uint8_t TMetafileDib::Alpha(int x, int y) const {
    if (!alpha_) return 255;
    const int row = bottomUp_ ? height_ - 1 - y : y;
    return bits_[size_t(row) * rowBytes_ + 4 * size_t(x) + 3];
}

TColor TMetafileDib::Pixel(int x, int y) const {
    const int row = bottomUp_ ? height_ - 1 - y : y;
    const uint8_t* line = bits_.data() + size_t(row) * rowBytes_;
    size_t index = 0;
    switch (bitCount_) {
        case 1: index = (line[x >> 3] >> (7 - (x & 7))) & 1; break;
        case 4: index = (line[x >> 1] >> ((x & 1) ? 0 : 4)) & 15; break;
        case 8: index = line[x]; break;
        case 16: return MaskedColor(Get16(line + 2 * size_t(x)));
        case 24: {
            const uint8_t* p = line + 3 * size_t(x);
            return RGB(p[2], p[1], p[0]);
        }
        default: return MaskedColor(Get32(line + 4 * size_t(x)));
    }
    return index < colors_.size() ? colors_[index] : clBlack;
}
