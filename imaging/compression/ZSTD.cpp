// Zstandard strips and tiles through libzstd.
#include <zstd.h>

#include "compression/GraphicCompression.h"

TZSTDDecoder::TZSTDDecoder() : context_(ZSTD_createDCtx()) {}

TZSTDDecoder::~TZSTDDecoder() { ZSTD_freeDCtx(context_); }

void TZSTDDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    DecodeUpTo(source, dest, packedSize, unpackedSize);
}

uint8_t* TZSTDDecoder::DecodeUpTo(const uint8_t* source, uint8_t* dest, int32_t packedSize, int32_t unpackedSize) {
    if (!context_ || packedSize <= 0 || unpackedSize <= 0) return dest;
    // A whole frame that fits is decoded in one call, straight into the
    // target; anything else streams, which stops where the target is full
    // and keeps what it decoded before damage.
    const unsigned long long content = ZSTD_getFrameContentSize(source, size_t(packedSize));
    if (content <= uint64_t(unpackedSize)) {
        const size_t written = ZSTD_decompressDCtx(context_, dest, size_t(unpackedSize), source, size_t(packedSize));
        if (!ZSTD_isError(written)) return dest + written;
    }
    ZSTD_DCtx_reset(context_, ZSTD_reset_session_only);
    ZSTD_inBuffer in = {source, size_t(packedSize), 0};
    ZSTD_outBuffer out = {dest, size_t(unpackedSize), 0};
    while (out.pos < out.size && in.pos < in.size) {
        const size_t result = ZSTD_decompressStream(context_, &out, &in);
        if (ZSTD_isError(result) || result == 0) break;
    }
    return dest + out.pos;
}
