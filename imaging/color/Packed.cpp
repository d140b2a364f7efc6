// The palette-like converters: packed indices and gray levels of 1 to 16
// bits, and gray (with alpha) at 8 and 16 bits.
#include <cstring>

#include "color/GraphicColor.h"
#include "color/Rows.h"

using namespace graphiccolor;

namespace {

// Reads the Bits-bit field starting at bit Position of an MSB-first bit
// stream, touching only the bytes the field covers.
uint32_t ReadBits(const uint8_t* row, size_t position, unsigned bits) {
    const uint8_t* p = row + position / 8;
    const unsigned span = unsigned(position % 8) + bits;
    uint32_t value = 0;
    for (unsigned k = 0; k < (span + 7) / 8; ++k) value = (value << 8) | p[k];
    return (value >> ((8 - span % 8) % 8)) & ((1u << bits) - 1);
}

// A target row of fields narrower than a byte: each byte holds 8 div Bits
// fields, the first in the most significant bits; a value replaces only its
// own field.
class TPackedTarget {
public:
    TPackedTarget(void* row, unsigned bits)
        : row_(static_cast<uint8_t*>(row)), bits_(bits), perByte_(8 / bits), fieldMask_((1u << bits) - 1) {}

    void Put(size_t pixel, uint32_t value) const {
        uint8_t& byte = row_[pixel / perByte_];
        const unsigned shift = 8 - bits_ * unsigned(pixel % perByte_ + 1);
        byte = uint8_t((byte & ~(fieldMask_ << shift)) | ((value & fieldMask_) << shift));
    }

private:
    uint8_t* row_;
    unsigned bits_, perByte_, fieldMask_;
};

uint32_t MaxValue(unsigned bits) { return (1u << bits) - 1; }

}  // namespace

void TColorManager::PackedToPacked(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    const unsigned s = SourceBitsPerSample(), t = TargetBitsPerSample();
    const auto* source = static_cast<const uint8_t*>(Source[0]);
    if (s == t && Mask == 0xFF) {
        std::memcpy(Target, source, (size_t(Count) * s + 7) / 8);
        return;
    }
    auto* target = static_cast<uint8_t*>(Target);
    if (s == 8 && t == 8) {
        ForEachSelected(Count, Mask, [&](size_t j, size_t i) { target[i] = source[j]; });
        return;
    }
    // Fields wider than a byte have no packing rule ("8 div T" fields per
    // byte would be none): such a target is left as it is.
    if (t > 8) return;
    const TPackedTarget packed(Target, t);
    const uint32_t sourceMax = MaxValue(s), targetMax = MaxValue(t);
    ForEachSelected(Count, Mask,
                    [&](size_t j, size_t i) { packed.Put(i, ReadBits(source, j * s, s) * targetMax / sourceMax); });
}

void TColorManager::Indexed16To16(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    const auto* source = static_cast<const uint8_t*>(Source[0]);
    auto* target = static_cast<uint8_t*>(Target);
    const bool swap = Has(SourceMode, cvByteSwap);
    if (Mask == 0xFF && !swap) {
        std::memcpy(target, source, size_t(Count) * 2);
        return;
    }
    ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
        const uint16_t value = Load<uint16_t>(source + 2 * j);
        Store<uint16_t>(target + 2 * i, swap ? Swap16(value) : value);
    });
}

void TColorManager::Indexed16ToPacked(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    const unsigned t = TargetBitsPerSample();
    if (t > 8) return;  // no packing rule for fields wider than a byte
    const auto* source = static_cast<const uint8_t*>(Source[0]);
    const bool swap = Has(SourceMode, cvByteSwap);
    const TPackedTarget packed(Target, t);
    const uint32_t targetMax = MaxValue(t);
    ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
        const uint16_t value = Load<uint16_t>(source + 2 * j);
        packed.Put(i, uint32_t(swap ? Swap16(value) : value) * targetMax / 65535);
    });
}

void TColorManager::PackedToIndexed16(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    const unsigned s = SourceBitsPerSample();
    const auto* source = static_cast<const uint8_t*>(Source[0]);
    auto* target = static_cast<uint8_t*>(Target);
    const bool swap = Has(SourceMode, cvByteSwap);
    const uint32_t sourceMax = MaxValue(s);
    ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
        const auto value = uint16_t(ReadBits(source, j * s, s) * 65535 / sourceMax);
        Store<uint16_t>(target + 2 * i, swap ? Swap16(value) : value);
    });
}

void TColorManager::Gray(TSourceRows Source, void* Target, uint32_t Count, uint8_t Mask) {
    const unsigned s = SourceBitsPerSample(), t = TargetBitsPerSample();
    if ((s != 8 && s != 16) || (t != 8 && t != 16)) return;
    const auto* source = static_cast<const uint8_t*>(Source[0]);
    auto* target = static_cast<uint8_t*>(Target);
    // Interleaved gray-alpha pixels carry their alpha after the gray level.
    const size_t pixelSamples = Source.size() == 1 && Has(SourceMode, cvAlpha) ? 2 : 1;
    const size_t step = pixelSamples * (s / 8);
    const bool swap = Has(SourceMode, cvByteSwap);

    if (s == 8 && t == 8) {
        ForEachSelected(Count, Mask, [&](size_t j, size_t i) { target[i] = source[j * step]; });
    } else if (s == 8) {
        ForEachSelected(Count, Mask,
                        [&](size_t j, size_t i) { Store<uint16_t>(target + 2 * i, Widen8(source[j * step])); });
    } else if (t == 8) {
        if (swap)
            ForEachSelected(Count, Mask,
                            [&](size_t j, size_t i) { target[i] = Swap16Scale8(Load<uint16_t>(source + j * step)); });
        else
            ForEachSelected(Count, Mask,
                            [&](size_t j, size_t i) { target[i] = Scale16To8(Load<uint16_t>(source + j * step)); });
    } else {
        ForEachSelected(Count, Mask, [&](size_t j, size_t i) {
            const uint16_t value = Load<uint16_t>(source + j * step);
            Store<uint16_t>(target + 2 * i, swap ? Swap16(value) : value);
        });
    }
}
