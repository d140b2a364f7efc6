#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "CUTFiles.h"
#include "GraphicFormats.h"
#include "ToolFiles.h"

namespace {

namespace fs = std::filesystem;
using imagefiles::Bytes;
using imagefiles::MakeCut;
using imagefiles::MakeHaloPalette;
using Entries = std::vector<std::array<uint8_t, 3>>;

void Write(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Entries Colours(size_t count) {
    Entries entries(count);
    for (size_t i = 0; i < count; ++i)
        entries[i] = {static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 3), static_cast<uint8_t>(i ^ 0x5A)};
    return entries;
}

TPaletteEntry Grey(size_t i) {
    const auto v = static_cast<uint8_t>(i);
    return {v, v, v, 0};
}
TPaletteEntry Entry(const std::array<uint8_t, 3>& c) { return {c[0], c[1], c[2], 0}; }

class CUTFiles : public ::testing::Test {
protected:
    void SetUp() override {
        GraphicFormatsInitialization();
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::remove_all(dir_);
        GraphicFormatsFinalization();
    }
    const fs::path dir_ = fs::temp_directory_path() /
                          ("cut-" + std::to_string(getpid()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(CUTFiles, ThePictureTakesThePaletteBesideTheImage) {
    const Entries hundred = Colours(100);
    Entries short50(hundred.begin(), hundred.begin() + 50);
    struct Case {
        const char* name;
        Bytes palette;  // empty: no palette file
        const char* paletteName;
        size_t size;
        size_t fromFile;  // leading entries taken from the palette file; the rest are grey
    };
    const Case cases[] = {
        {"none", {}, "", 256, 0},
        {"sixteen", MakeHaloPalette(Colours(16)), "x.pal", 16, 16},
        // 78 entries fill the first block; the rest start the second one.
        {"across blocks", MakeHaloPalette(hundred), "x.pal", 100, 100},
        {"shorter than its index", MakeHaloPalette(short50, 99), "x.pal", 100, 50},
        {"index beyond 255", MakeHaloPalette(Colours(20), 1000), "x.pal", 256, 20},
        {"upper-case name", MakeHaloPalette(Colours(16)), "x.PAL", 16, 16},
        {"header only", Bytes(10, 0), "x.pal", 256, 0},
    };
    Bytes indices(300 * 3);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(i / 7 % 5 == 0 ? 9 : i * 13);
    Write(dir_ / "x.Cut", MakeCut(300, 3, indices));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir_ / "x.pal");
        fs::remove(dir_ / "x.PAL");
        if (!c.palette.empty()) Write(dir_ / c.paletteName, c.palette);
        TPicture picture;
        picture.LoadFromFile((dir_ / "x.Cut").string());
        const auto* graphic = dynamic_cast<const TCUTGraphic*>(picture.Graphic());
        ASSERT_NE(graphic, nullptr);
        ASSERT_EQ(graphic->PixelFormat(), pf8bit);
        const auto& palette = graphic->Palette().palPalEntry;
        ASSERT_EQ(palette.size(), c.size);
        const Entries colours = Colours(c.fromFile);
        for (size_t i = 0; i < palette.size(); ++i)
            ASSERT_EQ(palette[i], i < c.fromFile ? Entry(colours[i]) : Grey(i)) << i;
        ASSERT_EQ(graphic->Width(), 300);
        ASSERT_EQ(graphic->Height(), 3);
        for (int y = 0; y < 3; ++y)
            ASSERT_EQ(Bytes(graphic->ScanLine(y), graphic->ScanLine(y) + 300),
                      Bytes(indices.begin() + y * 300, indices.begin() + (y + 1) * 300));
    }
}

TEST_F(CUTFiles, StreamsFindAPaletteOnlyAfterAFileLoadNamedOne) {
    const Bytes image = imagefiles::SmallCut();
    Write(dir_ / "y.cut", image);
    Write(dir_ / "y.pal", MakeHaloPalette(Colours(8)));
    TCUTGraphic graphic;
    TMemoryStream stream(image.data(), image.size());
    graphic.LoadFromStream(stream);
    EXPECT_EQ(graphic.Palette().palPalEntry.size(), 256u);
    EXPECT_EQ(graphic.Palette().palPalEntry[7], Grey(7));
    graphic.LoadFromFile((dir_ / "y.cut").string());
    EXPECT_EQ(graphic.PaletteFile, (dir_ / "y.pal").string());
    stream.SetPosition(0);
    graphic.LoadFromStream(stream);
    EXPECT_EQ(graphic.Palette().palPalEntry[7], Entry(Colours(8)[7]));
    EXPECT_EQ(graphic.ScanLine(1)[3], 7);
}

TEST(CUT, LoadsThePixelsImageMagickReads) {
    if (!imagefiles::ToolPresent("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
    const imagefiles::ScratchFolder folder;
    const int width = 300, height = 5;
    Bytes indices(width * height);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(i % 40 < 25 ? i / 40 % 100 : i * 7 % 100);
    imagefiles::WriteFileBytes(folder / "x.cut", MakeCut(width, height, indices));
    imagefiles::WriteFileBytes(folder / "x.pal", MakeHaloPalette(Colours(100), -1, 0));
    ASSERT_TRUE(imagefiles::RunTool("/usr/bin/convert " + folder / "x.cut" + " ppm:" + folder / "x.ppm"));
    const imagefiles::RGBImage reference = imagefiles::ReadReferenceMap(imagefiles::ReadFileBytes(folder / "x.ppm"));
    TCUTGraphic graphic;
    graphic.LoadFromFile(folder / "x.cut");
    ASSERT_EQ(reference.Width, width);
    ASSERT_EQ(reference.Height, height);
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* rgb = reference.Pixels.data() + 3 * (size_t(y) * width + x);
            if (graphic.Pixel(x, y) != RGB(rgb[0], rgb[1], rgb[2]) && ++wrong < 5) ADD_FAILURE() << x << "," << y;
        }
    EXPECT_EQ(wrong, 0);
}

TEST(CUT, HostileFilesRaiseTheInvalidFormatMessage) {
    Bytes rowOutside = imagefiles::SmallCut();
    rowOutside[6 + 7 + 0] = 0xFF;  // the second row's length points past the end
    rowOutside[6 + 7 + 1] = 0x00;
    Bytes huge = imagefiles::SmallCut();
    huge[0] = huge[1] = huge[2] = huge[3] = 0xFF;
    Bytes empty = imagefiles::SmallCut();
    empty[0] = empty[1] = 0;
    const Bytes cases[] = {rowOutside, huge, empty, Bytes{4, 0, 2, 0, 0, 0, 2}};
    for (const Bytes& file : cases) {
        TCUTGraphic graphic;
        TMemoryStream stream(file.data(), file.size());
        try {
            graphic.LoadFromStream(stream);
            ADD_FAILURE() << "loaded " << graphic.Width() << " x " << graphic.Height();
        } catch (const EInvalidGraphic& error) {
            EXPECT_STREQ(error.what(), "Cannot load image. Invalid or unexpected CUT image format.");
        }
    }
    TMemoryStream stream(cases[0].data(), cases[0].size());
    EXPECT_FALSE(TCUTGraphic::ProbeStream(stream)) << "CUT files have no signature";
}

TEST(CUT, DataEndingAfterARowLeavesTheLastRowsEmpty) {
    // Rows of literal packets are longer than the shortest possible rows, so
    // the file still holds enough bytes for the size it states.
    Bytes indices(20 * 4);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(i + 1);
    const Bytes file = MakeCut(20, 4, indices);
    const size_t rowSize = 2 + 1 + 20 + 1;
    TCUTGraphic graphic;
    TMemoryStream twoRows(file.data(), 6 + 2 * rowSize);
    graphic.LoadFromStream(twoRows);
    EXPECT_EQ(graphic.ScanLine(1)[19], 40);
    EXPECT_EQ(graphic.ScanLine(2)[0], 0);
    EXPECT_EQ(graphic.ScanLine(3)[19], 0);
    TMemoryStream cutInARow(file.data(), 6 + 2 * rowSize + 10);
    EXPECT_THROW(graphic.LoadFromStream(cutInARow), EInvalidGraphic) << "its length points past the end";
}

}  // namespace
