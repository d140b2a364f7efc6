// Record players of the two metafile kinds, and the bounds-checked reading
// of record fields they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "MetafileDevice.h"

// A field read past the end of its record. The players skip such a record
// and carry on with the next.
struct TShortRecord {};

// Little-endian fields of one record.
class TRecordReader {
public:
    TRecordReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Size() const { return size_; }
    const uint8_t* Bytes(size_t offset, size_t count) const {
        if (offset > size_ || count > size_ - offset) throw TShortRecord{};
        return data_ + offset;
    }
    uint16_t U16(size_t offset) const {
        const uint8_t* p = Bytes(offset, 2);
        return uint16_t(p[0] | (p[1] << 8));
    }
    int16_t S16(size_t offset) const { return int16_t(U16(offset)); }
    uint32_t U32(size_t offset) const {
        const uint8_t* p = Bytes(offset, 4);
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    int32_t S32(size_t offset) const { return int32_t(U32(offset)); }
    float F32(size_t offset) const {
        const uint32_t bits = U32(offset);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

// Plays the records of a metafile of the older kind, data starting at its
// 18-byte header (after any placeable header); the file's structure has
// been checked by the loader.
void PlayWindowsMetafile(const uint8_t* data, size_t size, TMetafileDevice& device);
// The logical rectangle the drawing records of an older metafile cover (data
// as for PlayWindowsMetafile), or none when no record draws.
std::optional<TRect> WindowsMetafileBounds(const uint8_t* data, size_t size);
// Plays the records of an enhanced metafile, data starting at its header
// record; the file's structure has been checked by the loader.
void PlayEnhancedMetafile(const uint8_t* data, size_t size, TMetafileDevice& device);
