// The TIFF LZW decoder. Strings are never built: every table entry points
// at the place in the output where its string was first written, and
// decoding a code copies that stretch forward, eight bytes at a time where
// the target has room.
#include <algorithm>
#include <bit>
#include <cstring>

#include "compression/GraphicCompression.h"

namespace {

constexpr uint32_t ClearCode = 256;
constexpr uint32_t EndCode = 257;
constexpr uint32_t FirstFreeCode = 258;
constexpr uint32_t TableSize = 4096;
constexpr int MinCodeBits = 9;
constexpr int MaxCodeBits = 12;

// Reads codes through a 64-bit buffer, most significant bit first (TIFF)
// or least significant bit first (the old variant).
template <bool LeastSignificantFirst>
class CodeReader {
public:
    CodeReader(const uint8_t* data, size_t size) : in_(data), end_(data + size) {}

    // The next code of the given width; false when the data ends before
    // it (a partial code at the end is dropped).
    bool Next(int width, uint32_t& code) {
        if (count_ < width) {
            Refill();
            if (count_ < width) return false;
        }
        if constexpr (LeastSignificantFirst) {
            code = static_cast<uint32_t>(bits_) & ((1u << width) - 1);
            bits_ >>= width;
        } else {
            code = static_cast<uint32_t>(bits_ >> (64 - width));
            bits_ <<= width;
        }
        count_ -= width;
        return true;
    }

private:
    void Refill() {
        if (end_ - in_ >= 8) {
            uint64_t word;
            std::memcpy(&word, in_, 8);
            const int bytes = (63 - count_) >> 3;
            if constexpr (LeastSignificantFirst) {
                if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
                // Only whole bytes join, so that the buffer above them is 0.
                word &= bytes == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * bytes)) - 1;
                bits_ |= word << count_;
            } else {
                if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
                bits_ |= word >> count_;
            }
            in_ += bytes;
            count_ += bytes * 8;
            return;
        }
        while (count_ <= 56 && in_ < end_) {
            if constexpr (LeastSignificantFirst)
                bits_ |= uint64_t(*in_++) << count_;
            else
                bits_ |= uint64_t(*in_++) << (56 - count_);
            count_ += 8;
        }
    }

    const uint8_t* in_;
    const uint8_t* end_;
    uint64_t bits_ = 0;
    int count_ = 0;
};

// The first eight bytes of string + byte, where head holds those of a string
// of the given length (little-endian: byte k at bits 8k).
inline uint64_t Extend(uint64_t head, uint32_t length, uint8_t byte) {
    return length < 8 ? head | uint64_t(byte) << (8 * length) : head;
}

inline void Store(uint8_t* to, uint64_t head) {
    if constexpr (std::endian::native == std::endian::big) head = __builtin_bswap64(head);
    std::memcpy(to, &head, 8);
}

}  // namespace

TLZWDecoder::TLZWDecoder()
    : heads_(std::make_unique<uint64_t[]>(TableSize)),
      lengths_(std::make_unique<uint16_t[]>(TableSize)),
      offsets_(std::make_unique<uint32_t[]>(TableSize)) {
    // Codes below 256 stand for their byte; the clear and end codes have no
    // string (length 0).
    for (uint32_t code = 0; code < ClearCode; ++code) {
        heads_[code] = code;
        lengths_[code] = 1;
    }
}

void TLZWDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    const size_t packed = size_t(std::max(packedSize, 0));
    const size_t unpacked = size_t(std::max(unpackedSize, 0));
    if (packed >= 2 && source[0] == 0 && (source[1] & 1))
        DecodeCodes<true>(source, packed, dest, unpacked);
    else
        DecodeCodes<false>(source, packed, dest, unpacked);
}

template <bool OldStyle>
void TLZWDecoder::DecodeCodes(const uint8_t* source, size_t packedSize, uint8_t* dest, size_t unpackedSize) {
    CodeReader<OldStyle> codes(source, packedSize);
    // The old variant widens codes when the next free code no longer fits,
    // TIFF's one code before.
    constexpr uint32_t early = OldStyle ? 0 : 1;
    uint64_t* const heads = heads_.get();
    uint16_t* const lengths = lengths_.get();
    uint32_t* const offsets = offsets_.get();
    uint8_t* out = dest;
    uint8_t* const end = dest + unpackedSize;
    int width = MinCodeBits;
    uint32_t next = FirstFreeCode;
    uint32_t limit = (1u << width) - early;
    // The string of the previous code; length 0 right after a clear code.
    uint64_t previousHead = 0;
    uint32_t previousLength = 0, previousOffset = 0;
    uint32_t code;
    while (out < end && codes.Next(width, code)) {
        uint64_t head;
        uint32_t length, offset;
        if (code < next) {
            length = lengths[code];
            if (length == 0) {
                if (code == EndCode) break;
                width = MinCodeBits;
                next = FirstFreeCode;
                limit = (1u << width) - early;
                previousLength = 0;
                continue;
            }
            head = heads[code];
            offset = offsets[code];
        } else if (code == next && previousLength != 0) {
            // The code being defined: the previous string and its first byte.
            head = Extend(previousHead, previousLength, uint8_t(previousHead));
            length = previousLength + 1;
            offset = previousOffset;
        } else {
            break;  // a code the table does not hold
        }

        const size_t room = size_t(end - out);
        if (room >= size_t(length) + 8) {
            Store(out, head);
            // Longer strings go on from where they were first written,
            // eight bytes at a time (the source ends before out).
            for (uint32_t done = 8; done < length; done += 8) std::memcpy(out + done, dest + offset + done, 8);
        } else {
            uint8_t bytes[8];
            Store(bytes, head);
            const size_t count = std::min<size_t>(length, room);
            std::memcpy(out, bytes, std::min<size_t>(count, 8));
            if (count > 8) std::memmove(out + 8, dest + offset + 8, count - 8);
            if (count < length) {
                out = end;
                break;
            }
        }

        // The new entry, the previous string and the first byte of this
        // one, lies right where the previous string was written.
        if (previousLength != 0 && next < TableSize) {
            heads[next] = Extend(previousHead, previousLength, uint8_t(head));
            lengths[next] = static_cast<uint16_t>(previousLength + 1);
            offsets[next] = previousOffset;
            if (++next >= limit && width < MaxCodeBits) limit = (1u << ++width) - early;
        }
        previousHead = head;
        previousLength = length;
        previousOffset = static_cast<uint32_t>(out - dest);
        out += length;
    }
}
