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
    // The first frame, when it is whole and fits, is decoded in one call
    // straight into the target, whether its header gives its size or not
    // (libtiff's writer leaves it out); anything else streams, which stops
    // where the target is full and keeps what it decoded before damage.
    const size_t frame = ZSTD_findFrameCompressedSize(source, size_t(packedSize));
    if (!ZSTD_isError(frame)) {
        const size_t written = ZSTD_decompressDCtx(context_, dest, size_t(unpackedSize), source, frame);
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
