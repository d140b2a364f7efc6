// Zstandard strips and tiles through libzstd.
#include <zstd.h>

#include "compression/GraphicCompression.h"

TZSTDDecoder::TZSTDDecoder() : context_(ZSTD_createDCtx()) {}

TZSTDDecoder::~TZSTDDecoder() { ZSTD_freeDCtx(context_); }

void TZSTDDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    if (!context_ || packedSize <= 0 || unpackedSize <= 0) return;
    // Streaming decompression stops where the target is full, whatever the
    // frame claims, and keeps what it decoded before damage.
    ZSTD_DCtx_reset(context_, ZSTD_reset_session_only);
    ZSTD_inBuffer in = {source, size_t(packedSize), 0};
    ZSTD_outBuffer out = {dest, size_t(unpackedSize), 0};
    while (out.pos < out.size && in.pos < in.size) {
        const size_t result = ZSTD_decompressStream(context_, &out, &in);
        if (ZSTD_isError(result) || result == 0) break;
    }
}
