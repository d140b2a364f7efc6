// LZMA strips and tiles through liblzma.
#include <lzma.h>

#include "compression/GraphicCompression.h"

namespace {

// Enough for the dictionaries of every xz preset (64 MiB at level 9); a
// stream asking for more is refused by liblzma before it allocates.
constexpr uint64_t MemoryLimit = uint64_t(128) << 20;

}  // namespace

void TLZMADecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    DecodeUpTo(source, dest, packedSize, unpackedSize);
}

uint8_t* TLZMADecoder::DecodeUpTo(const uint8_t* source, uint8_t* dest, int32_t packedSize, int32_t unpackedSize) {
    if (packedSize <= 0 || unpackedSize <= 0) return dest;
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&stream, MemoryLimit, 0) != LZMA_OK) return dest;
    stream.next_in = source;
    stream.avail_in = size_t(packedSize);
    stream.next_out = dest;
    stream.avail_out = size_t(unpackedSize);
    while (stream.avail_out > 0 && lzma_code(&stream, LZMA_FINISH) == LZMA_OK) {
    }
    lzma_end(&stream);
    return stream.next_out;
}
