// Loads arbitrary bytes as an SGI, PCX or portable map file, chosen by the
// first byte as a file of each format starts: "P" for portable maps, 0x01 (the
// SGI magic's first byte) for SGI, anything else for PCX.
#include <cstddef>
#include <cstdint>

#include "GraphicFormats.h"

namespace {

template <class Reader>
void LoadAs(const uint8_t* data, size_t size) {
    TMemoryStream stream(data, size);
    Reader reader;
    try {
        reader.LoadFromStream(stream);
    } catch (const Exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (data[0] == 'P')
        LoadAs<TPPMGraphic>(data, size);
    else if (data[0] == 0x01)
        LoadAs<TSGIGraphic>(data, size);
    else
        LoadAs<TPCXGraphic>(data, size);
    return 0;
}
