// Loads arbitrary bytes as a TIFF file or as the TIFF preview of an EPS
// file: the first byte picks the wrapping (odd: EPS) and the stream (its
// second bit: one that is no memory stream, as a file's, whose chunks the
// reader reads as it decodes them), the rest is the TIFF.
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

class TPlainStream : public TStream {
public:
    TPlainStream(const uint8_t* data, size_t size) : bytes_(data, size) {}
    int64_t Read(void* buffer, int64_t count) override { return bytes_.Read(buffer, count); }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return bytes_.Seek(offset, origin); }

private:
    TMemoryStream bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool eps = data[0] & 1, plain = data[0] & 2;
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
    std::unique_ptr<TStream> stream;
    if (plain)
        stream = std::make_unique<TPlainStream>(file.data(), file.size());
    else
        stream = std::make_unique<TMemoryStream>(file.data(), file.size());
    const std::unique_ptr<TTIFFGraphic> graphic =
        eps ? std::make_unique<TEPSGraphic>() : std::make_unique<TTIFFGraphic>();
    try {
        graphic->LoadFromStream(*stream);
    } catch (const Exception&) {
    }
    return 0;
}
