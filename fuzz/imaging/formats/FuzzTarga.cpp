// Loads arbitrary bytes as a Targa file.
#include <cstddef>
#include <cstdint>

#include "GraphicFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream(data, size);
    TTargaGraphic graphic;
    try {
        graphic.LoadFromStream(stream);
    } catch (const Exception&) {
    }
    return 0;
}
