// Every registered extension loads a small file of its format through the
// picture, by the class its registration names.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "formats/AutodeskFiles.h"
#include "formats/CUTFiles.h"
#include "DibBuilder.h"
#include "GraphicFormats.h"
#include "Icon.h"
#include "ImageFiles.h"
#include "Jpeg.h"
#include "Metafile.h"
#include "MetafileWriter.h"
#include "formats/PCDFiles.h"
#include "formats/PCXFiles.h"
#include "formats/PPMFiles.h"
#include "formats/PSDFiles.h"
#include "formats/PSPFiles.h"
#include "PictureRegistrations.h"
#include "formats/RLAFiles.h"
#include "formats/SGIFiles.h"
#include "formats/TIFFFiles.h"
#include "ToolFiles.h"

namespace {

using namespace imagefiles;

// 2 x 2 pixels, three 8-bit samples each, rows from the top.
const Bytes SmallRGB = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};

Bytes SmallBitmap() {
    testing_dib::DibLayout layout;
    layout.width = 2;
    layout.height = 2;
    layout.pixels = {30, 20, 10, 60, 50, 40, 0, 0, 90, 80, 70, 120, 110, 100, 0, 0};
    return testing_dib::MakeBmp(layout);
}

Bytes SmallIcon() {
    testing_dib::DibLayout layout;
    layout.width = 2;
    layout.height = 4;  // the colour rows, then the AND mask rows
    layout.bits = 32;
    layout.pixels.assign(2 * 2 * 4, 0x80);
    layout.pixels.resize(layout.pixels.size() + 2 * 4, 0);
    return testing_dib::MakeIco({{2, 2, 32, testing_dib::MakeDib(layout)}});
}

Bytes SmallTiff() {
    const TiffImage image = PatternTiff(2, 2, 3, 8);
    TiffDirectory directory;
    directory.Fields = TiffBasics(image, 2, 1, image.Height);
    directory.Chunks = TiffChunks(image, {}, false, image.Height);
    return MakeTiff({directory}, false);
}

Bytes SmallPcx() {
    PcxImage image;
    image.Planes = 3;
    image.XMax = image.YMax = 1;
    image.BytesPerLine = 2;
    image.RunLength = false;
    image.Lines = {10, 40, 20, 50, 30, 60, 70, 100, 80, 110, 90, 120};
    return MakePcx(image);
}

Bytes SmallSgi() {
    SgiImage image;
    image.Width = image.Height = 2;
    image.Channels = 3;
    image.Samples = {10, 40, 70, 100, 20, 50, 80, 110, 30, 60, 90, 120};
    return MakeSgi(image);
}

Bytes SmallPsd() {
    PsdLayout layout;
    layout.Width = layout.Height = 2;
    layout.Planes = {10, 40, 70, 100, 20, 50, 80, 110, 30, 60, 90, 120};
    return MakePsd(layout);
}

Bytes SmallPpm() {
    PortableMap map;
    map.Width = map.Height = 2;
    map.Samples.assign(SmallRGB.begin(), SmallRGB.end());
    return MakePortableMap(map);
}

Bytes SmallPsp() {
    PspLayout layout;
    layout.Width = layout.Height = 2;
    PspLayer layer;
    layer.Type = 1;
    for (uint16_t type = 1; type <= 3; ++type) layer.Channels.push_back({0, type, Bytes(4, uint8_t(40 * type))});
    layout.Layers.push_back(layer);
    return MakePsp(layout);
}

Bytes SmallPng() { return MakePng(PatternImage(2, 2, 8, 2, false)); }

Bytes SmallTarga() {
    TargaLayout layout;
    layout.Width = layout.Height = 2;
    layout.PixelData = SmallRGB;
    return MakeTarga(layout);
}

// A file of each graphic class's format.
const std::map<TGraphicClass, std::function<Bytes()>>& SmallFiles() {
    static const std::map<TGraphicClass, std::function<Bytes()>> files = {
        {TBitmap::StaticClass(), SmallBitmap},
        {TIcon::StaticClass(), SmallIcon},
        {TMetafile::StaticClass(), [] { return TEmfWriter().Rectangle(1, 1, 5, 5).Build(8, 6); }},
        {TJPEGImage::StaticClass(), [] { return JpegStream(SmallRGB, 2, 2, 3); }},
        {TTargaGraphic::StaticClass(), SmallTarga},
        {TTIFFGraphic::StaticClass(), SmallTiff},
        {TEPSGraphic::StaticClass(), [] { return MakeEps(SmallTiff()); }},
        {TPCXGraphic::StaticClass(), SmallPcx},
        {TRLAGraphic::StaticClass(), SmallRla},
        {TSGIGraphic::StaticClass(), SmallSgi},
        {TPSDGraphic::StaticClass(), SmallPsd},
        {TPPMGraphic::StaticClass(), SmallPpm},
        {TAutodeskGraphic::StaticClass(), SmallAutodesk},
        {TPCDGraphic::StaticClass(), SmallPcd},
        {TCUTGraphic::StaticClass(), SmallCut},
        {TPSPGraphic::StaticClass(), SmallPsp},
        {TPNGGraphic::StaticClass(), SmallPng},
    };
    return files;
}

TEST(RegistryWalk, EveryExtensionLoadsAFileOfItsFormat) {
    const TPictureRegistrationsScope registrations;
    GraphicFormatsInitialization();
    const ScratchFolder folder;
    const auto& extensions = FileFormatList->Extensions();
    EXPECT_EQ(extensions.size(), 41u);
    for (const auto& entry : extensions) {
        SCOPED_TRACE(entry->Extension);
        const TGraphicClass graphicClass = entry->Class->GraphicClass;
        const auto maker = SmallFiles().find(graphicClass);
        ASSERT_NE(maker, SmallFiles().end()) << graphicClass->Name;
        const std::string name = folder / ("small." + entry->Extension);
        WriteFileBytes(name, maker->second());

        TPicture picture;
        picture.LoadFromFile(name);
        ASSERT_NE(picture.Graphic(), nullptr);
        EXPECT_EQ(picture.Graphic()->ClassType(), graphicClass);
        EXPECT_GT(picture.Width(), 0);
        EXPECT_GT(picture.Height(), 0);
    }
    GraphicFormatsFinalization();
}

// A file whose content is another registered format loads with the class
// whose probe knows it (no probe knows the Dr. Halo and Targa small files);
// the extension's class raises its error when none does, and reads first
// where it cannot tell its files (Dr. Halo).
TEST(RegistryWalk, FilesOfAnotherFormatLoadByTheirContent) {
    const TPictureRegistrationsScope registrations;
    GraphicFormatsInitialization();
    const ScratchFolder folder;
    const auto load = [&](const std::string& name, const Bytes& file) {
        WriteFileBytes(folder / name, file);
        TPicture picture;
        picture.LoadFromFile(folder / name);
        return picture.Graphic()->ClassType();
    };
    for (const auto& [graphicClass, maker] : SmallFiles()) {
        if (graphicClass == TCUTGraphic::StaticClass() || graphicClass == TTargaGraphic::StaticClass()) continue;
        EXPECT_EQ(load(graphicClass == TPPMGraphic::StaticClass() ? "x.png" : "x.pbm", maker()), graphicClass);
    }
    EXPECT_EQ(load("png.cut", SmallPng()), TPNGGraphic::StaticClass());
    EXPECT_THROW(load("unknown.pbm", Bytes(64, 'x')), EInvalidGraphic);
    GraphicFormatsFinalization();
}

}  // namespace
