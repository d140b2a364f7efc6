// Decode throughput of the SGI, PCX and portable map readers on 2048 x 2048
// colour pictures; stb_image reads the portable maps too (it reads no SGI or
// PCX files).
#include <map>
#include <string>

#include "BenchSupport.h"
#include "GraphicFormats.h"
#include "formats/PCXFiles.h"
#include "formats/PPMFiles.h"
#include "formats/SGIFiles.h"

namespace {

using namespace imagefiles;
using namespace benchimaging;

// Stretches of equal samples between noisy ones, as in drawn textures, so
// that the run-length formats have runs and literals to decode.
std::vector<uint8_t> Plane(uint32_t channel) {
    std::vector<uint8_t> plane(size_t(Side) * Side);
    uint32_t noise = channel + 1;
    for (size_t i = 0; i < plane.size(); ++i) {
        noise = noise * 1103515245u + 12345u;
        plane[i] = static_cast<uint8_t>(i % 64 < 40 ? i / 64 + channel * 50 : noise >> 24);
    }
    return plane;
}

const std::vector<uint8_t>& File(const std::string& name) {
    static std::map<std::string, std::vector<uint8_t>> files;
    if (auto found = files.find(name); found != files.end()) return found->second;
    const std::vector<uint8_t> planes[3] = {Plane(0), Plane(1), Plane(2)};
    const size_t count = size_t(Side) * Side;
    if (name == "sgi-rle") {
        SgiImage image{uint16_t(Side), uint16_t(Side), 3, 1, true, 3, "", {}};
        for (const auto& plane : planes) image.Samples.insert(image.Samples.end(), plane.begin(), plane.end());
        return files[name] = MakeSgi(image);
    }
    if (name == "pcx-24bit") {
        PcxImage image;
        image.Planes = 3;
        image.XMax = image.YMax = uint16_t(Side - 1);
        image.BytesPerLine = uint16_t(Side);
        for (size_t y = 0; y < Side; ++y)
            for (const auto& plane : planes)
                image.Lines.insert(image.Lines.end(), plane.begin() + y * Side, plane.begin() + (y + 1) * Side);
        return files[name] = MakePcx(image);
    }
    PortableMap map;
    map.Width = map.Height = Side;
    const bool gray = name == "ppm-p5";
    map.Type = gray ? 5 : 6;
    for (size_t i = 0; i < count; ++i)
        for (int c = 0; c < (gray ? 1 : 3); ++c) map.Samples.push_back(planes[c][i]);
    return files[name] = MakePortableMap(map);
}

const bool registered = [] {
    benchmark::RegisterBenchmark("SGI/ours/rgb8-rle", [](benchmark::State& s) { OurReader<TSGIGraphic>(s, File("sgi-rle")); });
    benchmark::RegisterBenchmark("PCX/ours/rgb24-rle",
                                 [](benchmark::State& s) { OurReader<TPCXGraphic>(s, File("pcx-24bit")); });
    for (const char* name : {"ppm-p6", "ppm-p5"}) {
        const std::string suffix = std::string(name).substr(4);
        benchmark::RegisterBenchmark(("PPM/ours/" + suffix).c_str(),
                                     [name](benchmark::State& s) { OurReader<TPPMGraphic>(s, File(name)); });
        benchmark::RegisterBenchmark(("PPM/stb_image/" + suffix).c_str(),
                                     [name](benchmark::State& s) { StbImage(s, File(name)); });
    }
    return true;
}();

}  // namespace
