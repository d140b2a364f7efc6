// JBIG strips and tiles through libjbig.
// The library's header has no C++ linkage of its own.
extern "C" {
#include <jbig.h>
}

#include <algorithm>
#include <cstring>

#include "compression/GraphicCompression.h"

void TJBIGDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    if (packedSize <= 0 || unpackedSize <= 0 || RowBytes == 0) return;
    // A height given at the end of the stream is put into the header.
    jbg_newlen(source, size_t(packedSize));
    // The library allocates the image its header claims: only a header of
    // one plane at full resolution from the first layer, the chunk's width
    // and no more rows than the chunk holds is decoded.
    const auto big32 = [source](int at) {
        return uint32_t(source[at]) << 24 | uint32_t(source[at + 1]) << 16 | uint32_t(source[at + 2]) << 8 | source[at + 3];
    };
    const uint32_t rowsHeld = uint32_t(unpackedSize) / RowBytes;
    if (packedSize < 20 || source[0] != 0 || source[2] != 1 || big32(4) != Width || big32(8) == 0 ||
        big32(8) > rowsHeld)
        return;
    jbg_dec_state state;
    jbg_dec_init(&state);
    jbg_dec_maxsize(&state, Width, rowsHeld);
    const int result = jbg_dec_in(&state, source, size_t(packedSize), nullptr);
    const unsigned char* image = jbg_dec_getimage(&state, 0);
    if ((result == JBG_EOK || result == JBG_EOK_INTR) && image && jbg_dec_getwidth(&state) == Width &&
        jbg_dec_getplanes(&state) == 1) {
        const size_t rowBytes = (size_t(Width) + 7) / 8;
        const size_t rows = std::min<size_t>(jbg_dec_getheight(&state), size_t(unpackedSize) / RowBytes);
        for (size_t y = 0; y < rows; ++y)
            std::memcpy(dest + y * RowBytes, image + y * rowBytes, std::min<size_t>(rowBytes, RowBytes));
    }
    jbg_dec_free(&state);
}
