// Loads arbitrary bytes as a Photo-CD, Dr. Halo CUT, RLA or Autodesk file.
// The first byte chooses the reader (its low two bits) and a variant (bit 2):
// for Photo-CD the variant pads the bytes with zeros to a whole image pack,
// so that the base image is decoded too; for CUT the variant takes the next
// two bytes as the length of a palette file that follows them, written
// beside the image.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "GraphicFormats.h"

namespace {

// The first sectors, the base image's sector and the base image itself.
constexpr size_t WholeImagePack = 96 * 2048 + 768 * 512 * 3 / 2;

template <class Graphic>
void Load(Graphic& graphic, const uint8_t* data, size_t size) {
    TMemoryStream stream(data, size);
    try {
        graphic.LoadFromStream(stream);
    } catch (const Exception&) {
    }
}

void LoadPCD(const uint8_t* data, size_t size, bool whole) {
    TPCDGraphic graphic;
    if (!whole || size >= WholeImagePack) return Load(graphic, data, size);
    std::vector<uint8_t> padded(data, data + size);
    padded.resize(WholeImagePack);
    Load(graphic, padded.data(), padded.size());
}

void LoadCUT(const uint8_t* data, size_t size, bool withPalette) {
    TCUTGraphic graphic;
    if (withPalette && size >= 2) {
        const size_t paletteSize = std::min<size_t>(size - 2, data[0] | data[1] << 8);
        graphic.PaletteFile = "/tmp/fuzz-cut-" + std::to_string(getpid()) + ".pal";
        if (FILE* file = std::fopen(graphic.PaletteFile.c_str(), "wb")) {
            std::fwrite(data + 2, 1, paletteSize, file);
            std::fclose(file);
        }
        Load(graphic, data + 2 + paletteSize, size - 2 - paletteSize);
        std::remove(graphic.PaletteFile.c_str());
        return;
    }
    Load(graphic, data, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t selector = data[0];
    const bool variant = (selector & 4) != 0;
    ++data;
    --size;
    switch (selector & 3) {
        case 0: LoadPCD(data, size, variant); break;
        case 1: LoadCUT(data, size, variant); break;
        case 2: {
            TRLAGraphic graphic;
            Load(graphic, data, size);
            break;
        }
        default: {
            TAutodeskGraphic graphic;
            Load(graphic, data, size);
            break;
        }
    }
    return 0;
}
