#include <gtest/gtest.h>

#include <string>

#include "GraphicFormats.h"
#include "PPMFiles.h"
#include "ToolFiles.h"

namespace {

using namespace imagefiles;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

void Load(TPPMGraphic& graphic, const std::vector<uint8_t>& file) {
    TMemoryStream stream(file.data(), file.size());
    graphic.LoadFromStream(stream);
}

struct MapCase {
    int type;
    uint32_t maximum;
    std::string separator = "\n";
    bool spacedBits = true;
    uint32_t width = 10;  // 16 and 64: rows that fill their scan lines exactly
};

// What a stored sample shows as: bitmaps 1 black, grey and colour samples
// kept below 255 and scaled to 8 bits above it.
uint8_t Shown(const MapCase& c, uint32_t sample) {
    if (c.type == 1 || c.type == 4) return sample ? 0 : 255;
    return static_cast<uint8_t>(c.maximum > 255 ? sample * 255 / c.maximum : sample);
}

class PortableMaps : public ::testing::TestWithParam<MapCase> {};

TEST_P(PortableMaps, LoadEveryPixelAsStored) {
    const MapCase c = GetParam();
    PortableMap map;
    map.Type = c.type;
    map.Width = c.width;
    map.Height = 3;
    map.MaximumValue = c.type == 1 || c.type == 4 ? 1 : c.maximum;
    map.Separator = c.separator;
    map.SpacedBits = c.spacedBits;
    const int channels = c.type == 3 || c.type == 6 ? 3 : 1;
    for (uint32_t i = 0; i < map.Width * map.Height * channels; ++i)
        map.Samples.push_back(i * 7919 % (map.MaximumValue + 1));
    const auto file = MakePortableMap(map);

    TMemoryStream probe(file.data(), file.size());
    EXPECT_TRUE(TPPMGraphic::ProbeStream(probe));
    TPPMGraphic graphic;
    Load(graphic, file);
    ASSERT_EQ(graphic.Width(), int(c.width));
    ASSERT_EQ(graphic.Height(), 3);
    EXPECT_EQ(graphic.PixelFormat(), channels == 3 ? pf24bit : (map.MaximumValue == 1 ? pf1bit : pf8bit));
    EXPECT_EQ(graphic.MapType(), c.type);
    EXPECT_EQ(graphic.MaximumValue(), map.MaximumValue);
    for (uint32_t y = 0; y < map.Height; ++y)
        for (uint32_t x = 0; x < map.Width; ++x) {
            const uint32_t* s = &map.Samples[(y * map.Width + x) * channels];
            const TColor expected = channels == 3 ? RGB(Shown(c, s[0]), Shown(c, s[1]), Shown(c, s[2]))
                                                  : RGB(Shown(c, s[0]), Shown(c, s[0]), Shown(c, s[0]));
            ASSERT_EQ(graphic.Pixel(int(x), int(y)), expected) << x << "," << y;
        }
    // Maximums below 255 keep the stored values as palette indices.
    if (c.type == 5 && c.maximum < 255) {
        EXPECT_EQ(graphic.ScanLine(0)[1], map.Samples[1]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, PortableMaps,
    ::testing::Values(MapCase{1, 1}, MapCase{1, 1, "\n", false}, MapCase{2, 255, "\n# a comment\n"},
                      MapCase{2, 15}, MapCase{2, 65535, " "}, MapCase{3, 255, "\r\n"}, MapCase{3, 1023},
                      MapCase{4, 1, "#\n"}, MapCase{4, 1, "\n", true, 64}, MapCase{5, 255},
                      MapCase{5, 255, "\n", true, 16}, MapCase{5, 15}, MapCase{5, 65535},
                      MapCase{6, 255, "\r\n# comment\r\n"}, MapCase{6, 65535}, MapCase{6, 300}));

TEST(PortableMapsFailures, RaiseClearErrorsForBrokenAndHostileFiles) {
    struct Case {
        std::string file;
        std::string message;
    };
    const std::string invalid = "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format.";
    const std::string readError = "Stream read error in PPM file.";
    const Case cases[] = {
        {"X6\n1 1\n255\n...", invalid},
        {"P6\n100000 100000\n255\nabc", invalid},           // beyond 2^28 pixels
        {"P6\n1000 1000\n255\n0123456789", invalid},        // far less data than pixels
        {"P5\n99999999999999999999 1\n255\nx", invalid},    // a number beyond any size
        {"P5\n0 5\n255\n", invalid},
        {"P5\n2 1\n0\nab", invalid},
        {"P5\n2 1\n70000\nabcd", invalid},
        {"P2\n3 1\n255\n1 2", readError},                   // one sample short
        {"P1\n4 1\n 0 1 # 1 1\n", readError},               // comment hides pixels
        {"P5\n# a comment without its end", readError},
        {"", readError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TPPMGraphic graphic;
        try {
            Load(graphic, Bytes(c.file));
            ADD_FAILURE() << "no error";
        } catch (const EInvalidGraphic& error) {
            EXPECT_EQ(error.what(), c.message);
        }
    }
    TPPMGraphic graphic;
    EXPECT_THROW(Load(graphic, Bytes("PX\n1 1\n")), EConvertError);
    Load(graphic, Bytes("P7\nWIDTH 1\n"));  // a type this reader has no layout for loads nothing
    EXPECT_TRUE(graphic.Empty());
}

TEST(PortableMapsFailures, ProbeWantsATypeDigitAndKeepsThePosition) {
    for (const auto& [text, answer] : std::vector<std::pair<std::string, bool>>{
             {"P6\n1 1\n255\nabc", true}, {"P7\n1 1\n255\nabc", false}, {"Q6\n1 1\n255\nabc", false}, {"P6 1 1 2", false}}) {
        const auto file = Bytes("xx" + text);
        TMemoryStream stream(file.data(), file.size());
        stream.SetPosition(2);
        EXPECT_EQ(TPPMGraphic::ProbeStream(stream), answer) << text;
        EXPECT_EQ(stream.Position(), 2);
    }
}

// netpbm writes every form of one picture; each loads to the pixels netpbm
// reads back from it (16-bit maps within one level: netpbm rounds, the
// colour manager's narrowing truncates).
TEST(PortableMapsCrossCheck, NetpbmFilesLoadAsNetpbmReadsThem) {
    for (const char* tool : {"/usr/bin/pnmtoplainpnm", "/usr/bin/ppmtoppm", "/usr/bin/pgmtopgm", "/usr/bin/pamdepth",
                             "/usr/bin/ppmtopgm", "/usr/bin/pgmtopbm", "/usr/bin/pamtopnm"})
        if (!ToolPresent(tool)) GTEST_SKIP() << tool << " is missing";
    ScratchFolder folder;
    WriteFileBytes(folder / "base.ppm", MakePortableMap(ToolPicture(37, 11)));

    const std::pair<const char*, const char*> variants[] = {
        {"p6.ppm", "ppmtoppm < base.ppm"},
        {"p3.ppm", "pnmtoplainpnm base.ppm"},
        {"p5.pgm", "ppmtopgm base.ppm | pgmtopgm"},
        {"p2.pgm", "ppmtopgm base.ppm | pnmtoplainpnm"},
        {"p4.pbm", "ppmtopgm base.ppm | pgmtopbm -threshold"},
        {"p1.pbm", "ppmtopgm base.ppm | pgmtopbm -threshold | pnmtoplainpnm"},
        {"p6-16.ppm", "pamdepth 65535 base.ppm"},
        {"p3-16.ppm", "pamdepth 65535 base.ppm | pnmtoplainpnm"},
        {"p5-16.pgm", "ppmtopgm base.ppm | pamdepth 65535"},
    };
    for (const auto& [name, command] : variants) {
        SCOPED_TRACE(name);
        const std::string file = folder / name;
        ASSERT_TRUE(RunTool("cd " + (folder / "") + " && " + command + " > " + file));
        ASSERT_TRUE(RunTool("pamdepth 255 " + file + " | pamtopnm > " + file + ".ref"));
        TPPMGraphic graphic;
        graphic.LoadFromFile(file);
        const int tolerance = std::string(name).find("-16") != std::string::npos ? 1 : 0;
        EXPECT_TRUE(ShowsReference(graphic, ReadReferenceMap(ReadFileBytes(file + ".ref")), tolerance));
    }
}

}  // namespace
