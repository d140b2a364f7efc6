// The TIFF LZW decoder. Strings are never built: every table entry points
// at the place in the output where its string was first written, and
// decoding a code copies that stretch forward, eight bytes at a time where
// the target has room.
#include <algorithm>
#include <bit>
#include <cstring>

#include "GraphicCompression.h"

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

// Copies length bytes from an earlier place of the output (from + length
// <= to), eight at a time when the target has room for the overshoot.
inline void CopyString(uint8_t* to, const uint8_t* from, size_t length, const uint8_t* end) {
    if (size_t(end - to) >= length + 8) {
        uint8_t* const stop = to + length;
        do {
            std::memcpy(to, from, 8);
            to += 8;
            from += 8;
        } while (to < stop);
    } else {
        std::memmove(to, from, length);
    }
}

}  // namespace

TLZWDecoder::TLZWDecoder() : table_(std::make_unique<TEntry[]>(TableSize)) {}

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
    TEntry* const table = table_.get();
    uint8_t* out = dest;
    uint8_t* const end = dest + unpackedSize;
    int width = MinCodeBits;
    uint32_t next = FirstFreeCode;
    uint32_t limit = (1u << width) - early;
    // The string of the previous code; length 0 right after a clear code.
    TEntry previous{0, 0};
    uint32_t code;
    while (out < end && codes.Next(width, code)) {
        if (code == ClearCode) {
            width = MinCodeBits;
            next = FirstFreeCode;
            limit = (1u << width) - early;
            previous.Length = 0;
            continue;
        }
        if (code == EndCode) break;
        const uint32_t offset = static_cast<uint32_t>(out - dest);
        uint32_t length;
        if (code < ClearCode) {
            *out = static_cast<uint8_t>(code);
            length = 1;
        } else if (previous.Length == 0 || code > next) {
            break;  // a code the table does not hold
        } else if (code < next) {
            length = table[code].Length;
            if (size_t(end - out) < length) {
                std::memmove(out, dest + table[code].Offset, end - out);
                out = end;
                break;
            }
            CopyString(out, dest + table[code].Offset, length, end);
        } else {
            // The code being defined: the previous string and its first byte.
            length = previous.Length + 1;
            if (size_t(end - out) < length) {
                std::memmove(out, dest + previous.Offset, std::min<size_t>(previous.Length, end - out));
                out = end;
                break;
            }
            CopyString(out, dest + previous.Offset, previous.Length, end);
            out[previous.Length] = dest[previous.Offset];
        }
        out += length;
        // The new entry, the previous string and the first byte of this
        // one, lies right where the previous string was written.
        if (previous.Length != 0 && next < TableSize) {
            table[next++] = {previous.Offset, previous.Length + 1};
            if (next >= limit && width < MaxCodeBits) limit = (1u << ++width) - early;
        }
        previous = {offset, length};
    }
}
