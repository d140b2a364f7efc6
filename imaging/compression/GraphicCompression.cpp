#include "compression/GraphicCompression.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "GraphicStrings.h"

// ---------------------------------------------------------------------------
// TTargaRLEDecoder

uint32_t TTargaRLEDecoder::BytesPerPixel() const {
    switch (PixelBits) {
        case 8: return 1;
        case 15:
        case 16: return 2;
        case 24: return 3;
        case 32: return 4;
        default: return 0;
    }
}

namespace {

void FillPixels(uint8_t* target, const uint8_t* pixel, uint32_t bytesPerPixel, uint32_t count) {
    switch (bytesPerPixel) {
        case 1: std::memset(target, pixel[0], count); break;
        case 2:
            for (uint32_t i = 0; i < count; ++i, target += 2) std::memcpy(target, pixel, 2);
            break;
        case 3:
            for (uint32_t i = 0; i < count; ++i, target += 3) std::memcpy(target, pixel, 3);
            break;
        default:
            for (uint32_t i = 0; i < count; ++i, target += 4) std::memcpy(target, pixel, 4);
            break;
    }
}

constexpr std::array<uint8_t, 256> BitReversal = [] {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        for (int bit = 0; bit < 8; ++bit)
            if (i & (1 << bit)) table[i] |= static_cast<uint8_t>(0x80 >> bit);
    return table;
}();

}  // namespace

void TTargaRLEDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    const uint32_t bytesPerPixel = BytesPerPixel();
    missingPixels_ = static_cast<uint32_t>(std::max(unpackedSize, 0));
    if (bytesPerPixel == 0 || unpackedSize <= 0) return;

    uint8_t* in = source;
    uint8_t* const inEnd = source + std::max(packedSize, 0);
    uint8_t* out = dest;
    uint32_t missing = static_cast<uint32_t>(unpackedSize);

    while (missing > 0) {
        if (pendingCount_ == 0) {
            if (in == inEnd) break;
            const uint8_t header = *in++;
            pendingCount_ = (header & 0x7Fu) + 1;
            pendingRun_ = (header & 0x80u) != 0;
            if (pendingRun_) {
                if (static_cast<uint32_t>(inEnd - in) < bytesPerPixel) {
                    // The data ends inside the packet: nothing is left to use.
                    pendingCount_ = 0;
                    in = inEnd;
                    break;
                }
                std::memcpy(pendingPixel_, in, bytesPerPixel);
                in += bytesPerPixel;
            }
        }
        uint32_t count = std::min(pendingCount_, missing);
        if (pendingRun_) {
            FillPixels(out, pendingPixel_, bytesPerPixel, count);
        } else {
            count = std::min(count, static_cast<uint32_t>(inEnd - in) / bytesPerPixel);
            if (count == 0) break;
            std::memcpy(out, in, size_t(count) * bytesPerPixel);
            in += size_t(count) * bytesPerPixel;
        }
        out += size_t(count) * bytesPerPixel;
        missing -= count;
        pendingCount_ -= count;
    }
    missingPixels_ = missing;
    source = in;
}

void TTargaRLEDecoder::Encode(const uint8_t* source, uint8_t* dest, uint32_t count, uint32_t& bytesStored) {
    bytesStored = 0;
    const uint32_t p = BytesPerPixel();
    if (p == 0) return;

    const auto same = [p](const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, p) == 0; };
    uint32_t left = count;
    while (left > 0) {
        // Both counts are taken at the same position before anything is
        // written. A packet holds at most 128 pixels, so the search for the
        // first repeat looks no further: a row without repeats costs linear
        // time.
        uint32_t rawCount = 0;
        if (left == 1) {
            rawCount = 1;
        } else {
            const uint32_t limit = std::min(left - 1, 128u);
            while (rawCount < limit && !same(source + rawCount * p, source + (rawCount + 1) * p)) ++rawCount;
            if (rawCount == left - 1) rawCount = left;
        }
        rawCount = std::min(rawCount, 128u);

        uint32_t runCount = 1;
        while (runCount < left && runCount < 128 && same(source, source + runCount * p)) ++runCount;

        if (rawCount > 0) {
            *dest++ = static_cast<uint8_t>(rawCount - 1);
            std::memcpy(dest, source, size_t(rawCount) * p);
            dest += size_t(rawCount) * p;
            source += size_t(rawCount) * p;
            bytesStored += rawCount * p + 1;
            left -= rawCount;
        }
        if (runCount >= 2) {
            *dest++ = static_cast<uint8_t>((runCount - 1) | 0x80u);
            std::memcpy(dest, source, p);
            dest += p;
            source += size_t(runCount) * p;
            bytesStored += p + 1;
            left -= runCount;
        }
    }
}

// ---------------------------------------------------------------------------
// TLZ77Decoder

TLZ77Decoder::TLZ77Decoder(int flushMode, bool autoReset) : flushMode_(flushMode), autoReset_(autoReset) {}

TLZ77Decoder::~TLZ77Decoder() {
    if (initialized_) inflateEnd(&stream_);
}

void TLZ77Decoder::BeginDecode() {
    if (initialized_) inflateEnd(&stream_);
    stream_ = z_stream{};
    zLibResult_ = inflateInit(&stream_);
    if (zLibResult_ < 0) throw EGraphicCompression(gsLZ77Error);
    initialized_ = true;
}

void TLZ77Decoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    stream_.next_in = const_cast<Bytef*>(source);
    stream_.avail_in = static_cast<uInt>(std::max(packedSize, 0));
    if (autoReset_) zLibResult_ = inflateReset(&stream_);
    if (zLibResult_ != Z_OK) return;

    stream_.next_out = dest;
    stream_.avail_out = static_cast<uInt>(std::max(unpackedSize, 0));
    zLibResult_ = inflate(&stream_, flushMode_);
    source = stream_.next_in;
    dest = stream_.next_out;
}

void TLZ77Decoder::EndDecode() {
    const int result = inflateEnd(&stream_);
    initialized_ = false;
    if (result < 0) throw EGraphicCompression(gsLZ77Error);
}

// ---------------------------------------------------------------------------
// Whole zlib streams

bool InflateWhole(const uint8_t* source, size_t packedSize, uint8_t* dest, size_t unpackedSize, size_t& consumed) {
    const std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> decompressor(
        libdeflate_alloc_decompressor(), &libdeflate_free_decompressor);
    if (!decompressor) throw EGraphicCompression(gsLZ77Error);
    return libdeflate_zlib_decompress_ex(decompressor.get(), source, packedSize, dest, unpackedSize, &consumed,
                                         nullptr) == LIBDEFLATE_SUCCESS;
}

void ReverseBits(uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) bytes[i] = BitReversal[bytes[i]];
}
