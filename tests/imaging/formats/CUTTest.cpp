#include <gtest/gtest.h>

#include <filesystem>

#include "CUTFiles.h"
#include "GraphicFormats.h"
#include "ToolFiles.h"

namespace {

using namespace imagefiles;
using Entries = std::vector<std::array<uint8_t, 3>>;

Entries Colours(size_t count) {
    Entries entries(count);
    for (size_t i = 0; i < count; ++i) entries[i] = {uint8_t(255 - i), uint8_t(i * 3), uint8_t(i ^ 0x5A)};
    return entries;
}

TPaletteEntry Grey(size_t i) { return {uint8_t(i), uint8_t(i), uint8_t(i), 0}; }
TPaletteEntry Entry(const std::array<uint8_t, 3>& c) { return {c[0], c[1], c[2], 0}; }

TEST(CUT, TheImageTakesThePaletteBesideIt) {
    const Entries hundred = Colours(100), fifty(hundred.begin(), hundred.begin() + 50);
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
        {"shorter than its index", MakeHaloPalette(fifty, 99), "x.pal", 100, 50},
        {"index beyond 255", MakeHaloPalette(Colours(20), 1000), "x.pal", 256, 20},
        {"upper-case name", MakeHaloPalette(Colours(16)), "x.PAL", 16, 16},
        {"header only", Bytes(10, 0), "x.pal", 256, 0},
    };
    Bytes indices(300 * 3);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(i / 7 % 5 == 0 ? 9 : i * 13);
    const ScratchFolder folder;
    WriteFileBytes(folder / "x.Cut", MakeCut(300, 3, indices));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(folder / "x.pal");
        std::filesystem::remove(folder / "x.PAL");
        if (!c.palette.empty()) WriteFileBytes(folder / c.paletteName, c.palette);
        TCUTGraphic graphic;
        graphic.LoadFromFile(folder / "x.Cut");
        ASSERT_EQ(graphic.PixelFormat(), pf8bit);
        const auto& palette = graphic.Palette().palPalEntry;
        ASSERT_EQ(palette.size(), c.size);
        const Entries colours = Colours(c.fromFile);
        for (size_t i = 0; i < palette.size(); ++i)
            ASSERT_EQ(palette[i], i < c.fromFile ? Entry(colours[i]) : Grey(i)) << i;
        EXPECT_TRUE(ShowsRows(graphic, {Cut(indices, 300), Bytes(indices.begin() + 300, indices.begin() + 600),
                                        Bytes(indices.begin() + 600, indices.end())}));
    }
}

TEST(CUT, StreamsFindAPaletteOnlyAfterAFileLoadNamedOne) {
    const Bytes image = SmallCut();
    const ScratchFolder folder;
    WriteFileBytes(folder / "y.cut", image);
    WriteFileBytes(folder / "y.pal", MakeHaloPalette(Colours(8)));
    TCUTGraphic graphic;
    Load(graphic, image);
    EXPECT_EQ(graphic.Palette().palPalEntry.at(7), Grey(7));
    graphic.LoadFromFile(folder / "y.cut");
    Load(graphic, image);
    EXPECT_EQ(graphic.Palette().palPalEntry.at(7), Entry(Colours(8)[7]));
    EXPECT_EQ(graphic.ScanLine(1)[3], 7);
}

TEST(CUT, LoadsThePixelsImageMagickReads) {
    ASSERT_TRUE(ToolsPresent({"/usr/bin/convert"}));
    const ScratchFolder folder;
    Bytes indices(300 * 5);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = uint8_t(i % 40 < 25 ? i / 40 % 100 : i * 7 % 100);
    WriteFileBytes(folder / "x.cut", MakeCut(300, 5, indices));
    // Palettes that cross a block, with the high bytes of 0, of largest value
    // 255 and of 63 as VGA palettes have (values above it count as 63).
    for (const Bytes& palette : {MakeHaloPalette(Colours(100), -1, 0), MakeHaloPalette(Colours(100), -1, 0, 63)}) {
        WriteFileBytes(folder / "x.pal", palette);
        ASSERT_TRUE(RunTool("/usr/bin/convert " + folder / "x.cut" + " ppm:" + folder / "x.ppm"));
        TCUTGraphic graphic;
        graphic.LoadFromFile(folder / "x.cut");
        EXPECT_TRUE(ShowsReference(graphic, ReadReferenceMap(ReadFileBytes(folder / "x.ppm"))));
    }
}

TEST(CUT, HostileAndShortFiles) {
    const std::string invalid = "Cannot load image. Invalid or unexpected CUT image format.";
    ExpectRefusals<TCUTGraphic>({
        {"the second row's length points past the end", Patched(SmallCut(), 6 + 7, {0xFF, 0}), invalid},
        {"huge", Patched(SmallCut(), 0, {0xFF, 0xFF, 0xFF, 0xFF}), invalid},
        {"no width", Patched(SmallCut(), 0, {0, 0}), invalid},
        // Two rows of runs, a byte less than the shortest two rows can take.
        {"data a byte short", {4, 0, 2, 0, 0, 0, 3, 0, 0x84, 1, 0, 2, 0, 0x84, 2}, invalid},
    });
    EXPECT_FALSE(Probe<TCUTGraphic>(SmallCut())) << "CUT files have no signature";

    // Data that ends after a row leaves the last rows empty. Rows of literal
    // packets are longer than the shortest possible rows, so the file still
    // holds enough bytes for the size it states.
    Bytes indices(20 * 4);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(i + 1);
    const Bytes file = MakeCut(20, 4, indices);
    const size_t rowSize = 2 + 1 + 20 + 1;
    TCUTGraphic graphic;
    Load(graphic, Cut(file, 6 + 2 * rowSize));
    EXPECT_EQ(graphic.ScanLine(1)[19], 40);
    EXPECT_EQ(graphic.ScanLine(2)[0], 0);
    EXPECT_EQ(graphic.ScanLine(3)[19], 0);
    EXPECT_EQ(LoadError<TCUTGraphic>(Cut(file, 6 + 2 * rowSize + 10)), invalid) << "a row's length past the end";
}

}  // namespace
