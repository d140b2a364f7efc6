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
    jbg_dec_state state;
    jbg_dec_init(&state);
    // The library allocates the image its header claims: no more than the
    // chunk holds.
    jbg_dec_maxsize(&state, Width, uint32_t(unpackedSize) / RowBytes);
    // A height given at the end of the stream is put into the header.
    jbg_newlen(source, size_t(packedSize));
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
