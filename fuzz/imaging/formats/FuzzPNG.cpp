// Loads arbitrary bytes as a PNG file.
#include <cstddef>
#include <cstdint>

#include "GraphicFormats.h"

namespace {

uint32_t BigEndian32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Images the reader accepts may still be up to 2^28 pixels; keep the
    // runs quick by leaving the largest ones to the unit tests.
    if (size >= 24 && uint64_t(BigEndian32(data + 16)) * BigEndian32(data + 20) > (1u << 22)) return 0;
    TMemoryStream stream(data, size);
    TPNGGraphic graphic;
    try {
        graphic.LoadFromStream(stream);
    } catch (const Exception&) {
    }
    return 0;
}
