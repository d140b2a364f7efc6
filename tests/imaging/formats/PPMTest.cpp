#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "GraphicFormats.h"
#include "PPMFiles.h"
#include "ToolFiles.h"

namespace {

using namespace imagefiles;

Bytes Text(const std::string& text) { return {text.begin(), text.end()}; }

TEST(PortableMaps, EveryTypeLoadsEveryPixelAsStored) {
    struct Case {
        int type;
        uint32_t maximum;
        std::string separator = "\n";
        bool spacedBits = true;
        uint32_t width = 10;  // 16 and 64: rows that fill their scan lines exactly
        uint32_t height = 3;  // 1500 rows of 192 bytes: more than one run of rows converted at once
    };
    const Case cases[] = {{1, 1},    {1, 1, "\n", false}, {2, 255, "\n# a comment\n"}, {2, 15}, {5, 255, "#30\n"},
                          {2, 65535, " "}, {3, 255, "\r\n"}, {3, 1023}, {4, 1, "#\n"}, {4, 1, "\n", true, 64},
                          {5, 255},  {5, 255, "\n", true, 16}, {5, 15}, {5, 65535}, {6, 255, "\r\n# comment\r\n"},
                          {6, 65535}, {6, 300}, {6, 255, "\n", true, 64, 1500}};
    ScratchFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "P" << c.type << ", maximum " << c.maximum << ", width " << c.width);
        const bool bits = c.type == 1 || c.type == 4;
        const int channels = c.type == 3 || c.type == 6 ? 3 : 1;
        PortableMap map{c.type, c.width, c.height, bits ? 1 : c.maximum, {}, c.separator, c.spacedBits};
        for (uint32_t i = 0; i < map.Width * map.Height * channels; ++i)
            map.Samples.push_back(i * 7919 % (map.MaximumValue + 1));
        const Bytes file = MakePortableMap(map);
        EXPECT_TRUE(Probe<TPPMGraphic>(file));
        TPPMGraphic graphic;
        Load(graphic, file);
        EXPECT_EQ(graphic.PixelFormat(), channels == 3 ? pf24bit : (bits ? pf1bit : pf8bit));
        EXPECT_EQ(graphic.MaximumValue(), map.MaximumValue);
        // Bitmaps show 1 as black; samples are scaled from their maximum.
        const auto shown = [&](int x, int y, int k) {
            const uint32_t sample = map.Samples[(y * map.Width + x) * channels + (channels == 3 ? k : 0)];
            if (bits) return uint8_t(sample ? 0 : 255);
            return static_cast<uint8_t>(sample * 255 / c.maximum);
        };
        EXPECT_TRUE(ShowsPixels(graphic, c.width, c.height, [&](int x, int y) {
            return RGB(shown(x, y, 0), shown(x, y, 1), shown(x, y, 2));
        }));
        // A file stream hands over its bytes by reading rather than in place.
        WriteFileBytes(folder / "map", file);
        TPPMGraphic fromFile;
        fromFile.LoadFromFile(folder / "map");
        for (int y = 0; y < int(c.height); ++y)
            ASSERT_EQ(std::memcmp(fromFile.ScanLine(y), graphic.ScanLine(y), size_t(graphic.RowBytes())), 0) << y;
    }
}

// A comment right after a raster number runs to the end of its line; an
// arbitrary map header with CR LF ends, a comment and an unknown keyword.
TEST(PortableMaps, CommentsAndArbitraryMapHeaders) {
    for (const std::string text : {"P2\n3 1\n3\n1#20 30\n2 3\n",
                                   "P7\r\n# x\r\nWIDTH 3\r\nHEIGHT 1\r\nDEPTH 1\r\nMAXVAL 3\r\nNOTE x\r\nENDHDR\r\n\1\2\3"}) {
        TPPMGraphic graphic;
        Load(graphic, Text(text));
        EXPECT_TRUE(ShowsPixels(graphic, 3, 1, [](int x, int) { return RGB(85 * (x + 1), 85 * (x + 1), 85 * (x + 1)); }));
    }
}

TEST(PortableMaps, RefuseBrokenAndHostileFiles) {
    const std::string invalid = "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format.";
    const std::string readError = "Stream read error in PPM file.";
    ExpectRefusals<TPPMGraphic>({
        {"not a map", Text("X6\n1 1\n255\n..."), invalid},
        {"beyond 2^28 pixels", Text("P6\n100000 100000\n255\nabc"), invalid},
        {"far less data than pixels", Text("P6\n1000 1000\n255\n0123456789"), invalid},
        {"bits a byte short", Text("P4\n9 2\nabc"), invalid},
        {"a number beyond any size", Text("P5\n99999999999999999999 1\n255\nx"), invalid},
        {"no width", Text("P5\n0 5\n255\n"), invalid},
        {"maximum 0", Text("P5\n2 1\n0\nab"), invalid},
        {"maximum above 65535", Text("P5\n2 1\n70000\nabcd"), invalid},
        {"one sample short", Text("P2\n3 1\n255\n1 2"), readError},
        {"a comment hides pixels", Text("P1\n4 1\n 0 1 # 1 1\n"), readError},
        {"a comment without its end", Text("P5\n# a comment without its end"), readError},
        {"empty", {}, readError},
        {"no type digit", Text("PX\n1 1\n"), "'X' is not a valid integer value"},
        {"a type without a layout", Text("P8\n1 1\n255\nabc"), invalid},
        {"an XV thumbnail", Text("P7 332\n#XVVERSION\n1 1 255\na"), invalid},
        {"an arbitrary map without its end", Text("P7\nWIDTH 1\nHEIGHT 1\n"), readError},
        {"depth 5", Text("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\nabcde"), invalid},
        {"RGB of depth 2", Text("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\nab"), invalid},
        {"no maximum", Text("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nTUPLTYPE CMYK\nENDHDR\na"), invalid},
    });
    for (const auto& [text, answer] : std::vector<std::pair<std::string, bool>>{
             {"P7\nWIDTH 1\nHEIGHT 1\n", true}, {"P7 332\n1 1 255\na", false}, {"Q6\n1 1\n255\nabc", false},
             {"P6 1 1 2", false}})
        EXPECT_EQ(Probe<TPPMGraphic>(Text(text)), answer) << text;
}

// netpbm writes every form of one picture; each loads to the pixels netpbm
// reads back from it (maximums other than 255 within one level: netpbm
// rounds, the colour manager's scaling truncates).
TEST(PortableMaps, NetpbmFilesLoadAsNetpbmReadsThem) {
    ASSERT_TRUE(ToolsPresent({"/usr/bin/pnmtoplainpnm", "/usr/bin/ppmtoppm", "/usr/bin/pgmtopgm", "/usr/bin/pamdepth",
                              "/usr/bin/ppmtopgm", "/usr/bin/pgmtopbm", "/usr/bin/pamtopnm", "/usr/bin/pamtopam",
                              "/usr/bin/pamstack"}));
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
        {"p5-15.pgm", "ppmtopgm base.ppm | pamdepth 15"},
        {"p2-3.pgm", "ppmtopgm base.ppm | pamdepth 3 | pnmtoplainpnm"},
        {"rgb.pam", "pamtopam < base.ppm"},
        {"gray.pam", "ppmtopgm base.ppm | pamtopam"},
        {"bw.pam", "ppmtopgm base.ppm | pgmtopbm -threshold | pamtopam"},
        {"rgba.pam", "ppmtopgm base.ppm > a.pgm && pamstack -tupletype RGB_ALPHA base.ppm a.pgm"},
        {"graya-16.pam", "ppmtopgm base.ppm | pamdepth 65535 > a.pgm && pamstack -tupletype GRAYSCALE_ALPHA a.pgm a.pgm"},
    };
    for (const auto& [name, command] : variants) {
        SCOPED_TRACE(name);
        const std::string file = folder / name;
        ASSERT_TRUE(RunTool("cd " + (folder / "") + " && " + command + " > " + file));
        ASSERT_TRUE(RunTool("pamdepth 255 " + file + " | pamtopnm > " + file + ".ref"));
        TPPMGraphic graphic;
        graphic.LoadFromFile(file);
        const int tolerance = std::string(name).find('-') != std::string::npos ? 1 : 0;
        EXPECT_TRUE(ShowsReference(graphic, ReadReferenceMap(ReadFileBytes(file + ".ref")), tolerance));
    }
}

}  // namespace
