// Loads arbitrary bytes as a Targa file.
#include <cstddef>
#include <cstdint>

#include "GraphicFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Images the reader accepts may still be up to 2^28 pixels; keep the
    // runs quick by leaving the largest ones to the unit tests.
    if (size >= 18 && uint32_t(data[12] | data[13] << 8) * uint32_t(data[14] | data[15] << 8) > (1u << 22))
        return 0;
    TMemoryStream stream(data, size);
    TTargaGraphic graphic;
    try {
        graphic.LoadFromStream(stream);
    } catch (const Exception&) {
    }
    return 0;
}
