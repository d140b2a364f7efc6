// Photoshop decode throughput on 2048 x 2048 RGB documents, raw and
// PackBits, read by our reader and by stb_image.
#include "BenchSupport.h"
#include "GraphicFormats.h"
#include "formats/PSDFiles.h"

namespace {

using namespace imagefiles;
using namespace benchimaging;

// Planes of a drawn texture: stretches of equal bytes between noisy ones,
// so that PackBits finds both runs and literals.
Bytes PlanesOf(uint32_t channels) {
    Bytes planes(size_t(Side) * Side * channels);
    uint32_t noise = 1;
    for (size_t i = 0; i < planes.size(); ++i) {
        noise = noise * 1103515245u + 12345u;
        planes[i] = static_cast<uint8_t>(i % 64 < 40 ? i / 4096 : noise >> 24);
    }
    return planes;
}

const Bytes& PsdFile(uint16_t compression) {
    static Bytes files[2];
    Bytes& file = files[compression];
    if (file.empty()) {
        PsdLayout layout;
        layout.Width = layout.Height = Side;
        layout.Compression = compression;
        layout.Planes = PlanesOf(3);
        file = MakePsd(layout);
    }
    return file;
}

[[maybe_unused]] const bool registered = [] {
    for (uint16_t compression : {0, 1}) {
        const std::string suffix = compression == 0 ? "/rgb8-raw" : "/rgb8-packbits";
        benchmark::RegisterBenchmark(("PSD/ours" + suffix).c_str(), [compression](benchmark::State& s) {
            OurReader<TPSDGraphic>(s, PsdFile(compression));
        });
        benchmark::RegisterBenchmark(("PSD/stb_image" + suffix).c_str(),
                                     [compression](benchmark::State& s) { StbImage(s, PsdFile(compression)); });
    }
    return true;
}();

}  // namespace
