// WebP strips and tiles through libwebp.
#include <webp/decode.h>

#include "compression/GraphicCompression.h"

void TWebPDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    int width = 0, height = 0;
    if (packedSize <= 0 || unpackedSize <= 0 || (Samples != 3 && Samples != 4) ||
        !WebPGetInfo(source, size_t(packedSize), &width, &height))
        return;
    // The image must be the chunk's width and fit its rows: the library
    // then writes into the chunk and allocates nothing of its size.
    if (uint32_t(width) != Width || uint64_t(height) * RowBytes > uint64_t(unpackedSize)) return;
    const size_t size = size_t(height) * RowBytes;
    const auto decode = Samples == 4 ? (BlueFirst ? WebPDecodeBGRAInto : WebPDecodeRGBAInto)
                                     : (BlueFirst ? WebPDecodeBGRInto : WebPDecodeRGBInto);
    decode(source, size_t(packedSize), dest, size, int(RowBytes));
}
