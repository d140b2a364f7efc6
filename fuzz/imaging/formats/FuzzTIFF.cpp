// Loads arbitrary bytes as a TIFF file or as the TIFF preview of an EPS
// file: the first byte picks the wrapping (odd: EPS), the rest is the TIFF.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "GraphicFormats.h"

namespace {

// A binary EPS header whose TIFF preview is the given bytes.
std::vector<uint8_t> WrapAsEPS(const uint8_t* tiff, size_t size) {
    std::vector<uint8_t> file = {0xC5, 0xD0, 0xD3, 0xC6};
    for (uint32_t field : {0u, 0u, 0u, 0u, 30u, uint32_t(size)})
        for (int shift = 0; shift < 32; shift += 8) file.push_back(uint8_t(field >> shift));
    file.insert(file.end(), {0xFF, 0xFF});
    file.insert(file.end(), tiff, tiff + size);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool eps = data[0] & 1;
    ++data, --size;

    // Images the reader accepts may still be up to 2^28 pixels; keep the
    // runs quick by leaving the largest ones to the unit tests. The second
    // directory's properties are read as well.
    TMemoryStream tiff(data, size);
    TTIFFGraphic properties;
    if (properties.ReadProperties(tiff, 0) &&
        uint64_t(properties.Properties.Width) * properties.Properties.Height > (1u << 22))
        return 0;
    properties.ReadProperties(tiff, 1);

    const std::vector<uint8_t> file = eps ? WrapAsEPS(data, size) : std::vector<uint8_t>(data, data + size);
    TMemoryStream stream(file.data(), file.size());
    const std::unique_ptr<TTIFFGraphic> graphic =
        eps ? std::make_unique<TEPSGraphic>() : std::make_unique<TTIFFGraphic>();
    try {
        graphic->LoadFromStream(stream);
    } catch (const Exception&) {
    }
    return 0;
}
