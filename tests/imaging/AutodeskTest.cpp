#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "AutodeskFiles.h"
#include "GraphicFormats.h"

namespace {

using imagefiles::AutodeskLayout;
using imagefiles::MakeAutodesk;
using Bytes = std::vector<uint8_t>;

void Load(TAutodeskGraphic& graphic, const Bytes& file) {
    TMemoryStream stream(file.data(), file.size());
    graphic.LoadFromStream(stream);
}

class AutodeskFiles : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { GraphicFormatsInitialization(); }
    void TearDown() override { GraphicFormatsFinalization(); }
};

TEST_P(AutodeskFiles, LoadThroughThePictureWithTheirPalette) {
    const std::string name = (std::filesystem::temp_directory_path() /
                              ("autodesk-" + std::to_string(getpid()) + "." + GetParam()))
                                 .string();
    const Bytes file = imagefiles::SmallAutodesk();
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    TPicture picture;
    picture.LoadFromFile(name);
    std::filesystem::remove(name);

    const auto* graphic = dynamic_cast<const TAutodeskGraphic*>(picture.Graphic());
    ASSERT_NE(graphic, nullptr);
    ASSERT_EQ(graphic->Width(), 3);
    ASSERT_EQ(graphic->Height(), 2);
    EXPECT_EQ(graphic->PixelFormat(), pf8bit);
    EXPECT_EQ(graphic->Properties.ColorScheme, csIndexed);
    EXPECT_EQ(graphic->Properties.Compression, ckNone);
    const auto& palette = graphic->Palette().palPalEntry;
    ASSERT_EQ(palette.size(), 256u);
    EXPECT_EQ(palette[1], (TPaletteEntry{4, 248, 0, 0}));
    EXPECT_EQ(palette[63], (TPaletteEntry{252, 0, 60, 0})) << "6-bit components are multiplied by 4";
    EXPECT_EQ(Bytes(graphic->ScanLine(0), graphic->ScanLine(0) + 3), (Bytes{0, 1, 2}));
    EXPECT_EQ(Bytes(graphic->ScanLine(1), graphic->ScanLine(1) + 3), (Bytes{3, 4, 63})) << "rows from the top";
}

INSTANTIATE_TEST_SUITE_P(CelAndPicture, AutodeskFiles, ::testing::Values("cel", "PIC"));

TEST(Autodesk, ProbeWantsEightBitsUncompressedButLoadingDoesNot) {
    AutodeskLayout layout;
    layout.Width = 2;
    layout.Height = 1;
    layout.Pixels = {7, 9};
    struct Case {
        uint8_t bits, compression;
        bool probe;
    };
    for (const Case c : {Case{8, 0, true}, Case{4, 0, false}, Case{8, 1, false}}) {
        layout.BitsPerPixel = c.bits;
        layout.Compression = c.compression;
        const Bytes file = MakeAutodesk(layout);
        TMemoryStream stream(file.data(), file.size());
        EXPECT_EQ(TAutodeskGraphic::ProbeStream(stream), c.probe);
        EXPECT_EQ(stream.Position(), 0);
        TAutodeskGraphic graphic;
        graphic.LoadFromStream(stream);
        EXPECT_EQ(graphic.ScanLine(0)[1], 9) << "read as 8-bit data";
    }
    const Bytes header(32, 0);
    TMemoryStream stream(header.data(), header.size());
    EXPECT_FALSE(TAutodeskGraphic::ProbeStream(stream)) << "a header without anything after it";
}

TEST(Autodesk, HostileHeadersRaiseTheInvalidFormatMessage) {
    const auto layout = [](uint16_t magic, uint16_t width, uint16_t height, size_t pixels) {
        AutodeskLayout l;
        l.Magic = magic;
        l.Width = width;
        l.Height = height;
        l.Pixels.resize(pixels);
        return MakeAutodesk(l);
    };
    const Bytes cases[] = {
        layout(0x9118, 2, 2, 4),          // wrong magic
        layout(0x9119, 2, 2, 3),          // a pixel short
        layout(0x9119, 65535, 65535, 8),  // far more pixels than the file holds
        layout(0x9119, 0, 5, 0),          // no pixels at all
    };
    for (const Bytes& file : cases) {
        TAutodeskGraphic graphic;
        try {
            Load(graphic, file);
            ADD_FAILURE() << "loaded " << graphic.Width() << " x " << graphic.Height();
        } catch (const EInvalidGraphic& error) {
            EXPECT_STREQ(error.what(), "Cannot load image. Invalid or unexpected Autodesk image format.");
        }
    }
}

}  // namespace
