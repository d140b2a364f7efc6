// Runs the graphic-convert program on files made here and checks its output.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "DibBuilder.h"

namespace {

using namespace testing_dib;

class GraphicConvert : public ::testing::Test {
protected:
    std::filesystem::path dir_ =
        std::filesystem::temp_directory_path() / ("graphic-convert-" + std::to_string(::getpid()));
    std::string out_, err_;

    void SetUp() override { std::filesystem::create_directories(dir_); }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
        return path;
    }
    Bytes Read(const std::string& name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    std::string Text(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Runs the program; answers its exit code, keeping its output in out_ and err_.
    int Run(const std::string& arguments) {
        const std::string outFile = (dir_ / "stdout").string(), errFile = (dir_ / "stderr").string();
        const int status =
            std::system((std::string(GRAPHIC_CONVERT) + " " + arguments + " >" + outFile + " 2>" + errFile).c_str());
        out_ = Text(outFile);
        err_ = Text(errFile);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

Bytes Pam(int width, int height, const Bytes& pixels) {
    const std::string header = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
                               "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    Bytes pam(header.begin(), header.end());
    pam.insert(pam.end(), pixels.begin(), pixels.end());
    return pam;
}

TEST_F(GraphicConvert, PalettedBitmapToPam) {
    DibLayout layout;
    layout.width = 2, layout.height = 2, layout.bits = 8, layout.colorsUsed = 3;
    layout.palette = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0};
    layout.pixels = {2, 1, 0, 0, 0, 1, 0, 0};  // bottom row first
    const std::string in = Write("p.bmp", MakeBmp(layout));
    ASSERT_EQ(Run(in + " " + (dir_ / "p.pam").string()), 0) << err_;
    EXPECT_EQ(Read("p.pam"), Pam(2, 2, {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 0, 255, 0, 255}));
}

TEST_F(GraphicConvert, FiveAndSixBitChannelsWidenByReplication) {
    DibLayout layout;
    layout.width = 2, layout.bits = 16, layout.compression = 3, layout.masks = {0xF800, 0x07E0, 0x001F};
    layout.pixels = {0x1F, 0xF8, 0x41, 0x08};  // 0xF81F, then r 1, g 2, b 1
    const std::string in = Write("w.bmp", MakeBmp(layout));
    ASSERT_EQ(Run(in + " " + (dir_ / "w.pam").string()), 0) << err_;
    EXPECT_EQ(Read("w.pam"), Pam(2, 1, {255, 0, 255, 255, 8, 8, 8, 255}));
}

TEST_F(GraphicConvert, AlphaComesFrom32BitBitmapsAndIconMasks) {
    DibLayout layout;
    layout.width = 2, layout.bits = 32;
    layout.pixels = {1, 2, 3, 40, 4, 5, 6, 0};
    ASSERT_EQ(Run(Write("a.bmp", MakeBmp(layout)) + " " + (dir_ / "a.pam").string()), 0) << err_;
    EXPECT_EQ(Read("a.pam"), Pam(2, 1, {3, 2, 1, 40, 6, 5, 4, 0}));

    DibLayout icon;
    icon.width = 2, icon.height = 2, icon.bits = 24;
    icon.pixels = {9, 8, 7, 9, 8, 7, 0, 0, 0x40, 0, 0, 0};  // image row, mask row (right pixel)
    ASSERT_EQ(Run(Write("i.ico", MakeIco({{2, 1, 24, MakeDib(icon)}})) + " " + (dir_ / "i.pam").string()), 0) << err_;
    EXPECT_EQ(Read("i.pam"), Pam(2, 1, {7, 8, 9, 255, 0, 0, 0, 0}));
}

TEST_F(GraphicConvert, PrintsWhatTheFrameworkKnows) {
    DibLayout layout;
    layout.width = 3, layout.height = 2, layout.bits = 4;
    layout.palette.assign(64, 0);
    layout.pixels.assign(8, 0);
    ASSERT_EQ(Run(Write("x.BMP", MakeBmp(layout))), 0) << err_;
    EXPECT_EQ(out_, "class: TBitmap\nwidth: 3\nheight: 2\npixel format: pf4bit\n");
}

TEST_F(GraphicConvert, WritesBitmapsThatReadBack) {
    DibLayout layout;
    layout.width = 1, layout.bits = 24, layout.pixels = {10, 20, 30, 0};
    ASSERT_EQ(Run(Write("b.bmp", MakeBmp(layout)) + " " + (dir_ / "c.bmp").string()), 0) << err_;
    ASSERT_EQ(Run((dir_ / "c.bmp").string() + " " + (dir_ / "c.pam").string()), 0) << err_;
    EXPECT_EQ(Read("c.pam"), Pam(1, 1, {30, 20, 10, 255}));
}

TEST_F(GraphicConvert, HelpListsTheRegisteredExtensions) {
    for (const char* option : {"--help", "-h"}) {
        SCOPED_TRACE(option);
        EXPECT_EQ(Run(option), 0) << err_;
        EXPECT_EQ(out_.rfind("usage: graphic-convert FILE", 0), 0u) << out_;
        EXPECT_NE(out_.find("graphic-convert --to EXT [--out DIR] [--force] FILE..."), std::string::npos);
        for (const char* line : {"  .bmp    Windows bitmaps\n", "  .tga    Truevision images\n",
                                 "  .png    Portable network graphic images\n", "  .jpeg   JPEG images\n"})
            EXPECT_NE(out_.find(line), std::string::npos) << line;
        EXPECT_TRUE(err_.empty()) << err_;
    }
}

TEST_F(GraphicConvert, UnreadableFilesExitWithTheMessage) {
    EXPECT_EQ(Run(Write("bad.bmp", {'B', 'M', 1, 2})), 1);
    EXPECT_EQ(err_, "Bitmap image is not valid: the file header is truncated\n");
    EXPECT_EQ(Run(Write("what.xyz", {1})), 1);
    EXPECT_EQ(err_, "Unknown picture file extension (.xyz)\n");
    EXPECT_EQ(Run((dir_ / "missing.bmp").string()), 1);
    EXPECT_NE(err_.find("Cannot open file"), std::string::npos);
    DibLayout layout;
    layout.pixels = {0, 0, 0, 0};
    EXPECT_EQ(Run(Write("ok.bmp", MakeBmp(layout)) + " " + (dir_ / "out.gif").string()), 1);
    EXPECT_EQ(err_, "Cannot write \".gif\" files\n");
}

// The pixels of a PNG file as red, green, blue, alpha bytes, read by libpng.
Bytes LibpngPixels(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGBA;
    Bytes pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    return pixels;
}

Bytes PamPixels(const Bytes& pam) {
    static const std::string end = "ENDHDR\n";
    const auto at = std::search(pam.begin(), pam.end(), end.begin(), end.end());
    return at == pam.end() ? Bytes{} : Bytes(at + long(end.size()), pam.end());
}

DibLayout Layout(int width, int height, uint16_t bits, Bytes palette, Bytes pixels) {
    DibLayout layout;
    layout.width = width, layout.height = height, layout.bits = bits;
    layout.colorsUsed = uint32_t(palette.size() / 4);
    layout.palette = std::move(palette);
    layout.pixels = std::move(pixels);
    return layout;
}

// Every pixel layout the readers hand over comes back from the PNG file the
// same in Pillow and in libpng as in the tool's own map of the picture,
// stored in the colour type that suits it.
TEST_F(GraphicConvert, PngFilesReadBackIdenticallyInPillowAndLibpng) {
    DibLayout bitfields = Layout(2, 1, 16, {}, {0x1F, 0xF8, 0x41, 0x08});
    bitfields.compression = 3, bitfields.masks = {0xF800, 0x07E0, 0x001F};
    DibLayout icon = Layout(2, 2, 24, {}, {9, 8, 7, 9, 8, 7, 0, 0, 0x40, 0, 0, 0});
    const struct {
        const char* name;
        Bytes file;
        int depth, colorType;
    } cases[] = {
        {"bits1.bmp", MakeBmp(Layout(9, 2, 1, {0, 0, 0, 0, 255, 200, 100, 0}, {0xA5, 0x80, 0, 0, 0x5A, 0, 0, 0})), 1, 3},
        {"bits4.bmp", MakeBmp(Layout(3, 1, 4, {1, 2, 3, 0, 40, 50, 60, 0, 70, 80, 90, 0}, {0x21, 0x00, 0, 0})), 4, 3},
        {"bits8.bmp", MakeBmp(Layout(2, 2, 8, {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0}, {2, 1, 0, 0, 0, 1, 0, 0})), 8, 3},
        {"bits16.bmp", MakeBmp(bitfields), 8, 2},
        {"bits24.bmp", MakeBmp(Layout(2, 1, 24, {}, {10, 20, 30, 40, 50, 60, 0, 0})), 8, 2},
        {"alpha.bmp", MakeBmp(Layout(2, 1, 32, {}, {1, 2, 3, 40, 4, 5, 6, 0})), 8, 6},
        {"opaque.bmp", MakeBmp(Layout(2, 1, 32, {}, {1, 2, 3, 255, 4, 5, 6, 255})), 8, 2},
        {"masked.ico", MakeIco({{2, 1, 24, MakeDib(icon)}}), 8, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = Write(c.name, c.file), png = in + ".png", pam = in + ".pam";
        ASSERT_EQ(Run(in + " " + png), 0) << err_;
        ASSERT_EQ(Run(in + " " + pam), 0) << err_;
        const Bytes file = Read(std::string(c.name) + ".png"), expected = PamPixels(Read(std::string(c.name) + ".pam"));
        ASSERT_GT(file.size(), 26u);
        EXPECT_EQ(file[24], c.depth);
        EXPECT_EQ(file[25], c.colorType);
        EXPECT_EQ(LibpngPixels(png), expected);
        const std::string script =
            "import sys; from PIL import Image; "
            "open(sys.argv[2], 'wb').write(Image.open(sys.argv[1]).convert('RGBA').tobytes())";
        const int pillow = std::system(("/usr/bin/python3 -c \"" + script + "\" " + png + " " + png + ".rgba").c_str());
        ASSERT_EQ(pillow, 0) << "Debian's Pillow (python3-pil, which scripts/deps tools installs) could not read it";
        EXPECT_EQ(Read(std::string(c.name) + ".png.rgba"), expected);
    }
}

// The batch form: one line a file, outputs beside the sources or in the
// folder given, nothing overwritten that this call did not write unless
// forced, and the exit status telling whether every file converted.
TEST_F(GraphicConvert, BatchConvertsFilesAndNeverOverwritesUnasked) {
    const std::string a = Write("a.bmp", MakeBmp(Layout(1, 1, 24, {}, {1, 2, 3, 0})));
    const std::string b = Write("b.bmp", MakeBmp(Layout(1, 1, 24, {}, {4, 5, 6, 0})));
    const std::string bad = Write("bad.bmp", {'B', 'M', 1, 2});
    Write("b.png", {'k', 'e', 'e', 'p'});
    std::filesystem::create_directories(dir_ / "out");
    ASSERT_EQ(Run(a + " " + (dir_ / "a.tga").string()), 0) << err_;
    const std::string d = dir_.string() + "/";
    const struct {
        std::string arguments;
        int status;
        std::string out, err;
    } calls[] = {
        {"--to png " + a + " " + b + " " + bad, 1, d + "a.png\n",
         b + ": " + d + "b.png already exists\n" + bad + ": Bitmap image is not valid: the file header is truncated\n"},
        {"--to png " + a, 1, "", a + ": " + d + "a.png already exists\n"},
        {"--to PNG --force " + b, 0, d + "b.png\n", ""},
        {"--to .bmp --out " + d + "out " + a + " " + d + "a.tga", 1, d + "out/a.bmp\n",
         d + "a.tga: " + d + "out/a.bmp was written from another file in this call\n"},
        {"--to gif " + a, 2, "", "Cannot write \".gif\" files\n"},
        {"--to png", 2, "", ""},
        {"--to png --quick " + a, 2, "", ""},
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(call.arguments);
        EXPECT_EQ(Run(call.arguments), call.status);
        EXPECT_EQ(out_, call.out);
        if (call.status == 2 && call.err.empty())
            EXPECT_EQ(err_.rfind("usage: graphic-convert", 0), 0u) << err_;
        else
            EXPECT_EQ(err_, call.err);
    }
    ASSERT_EQ(Run(d + "b.png " + d + "b.pam"), 0) << err_;
    EXPECT_EQ(Read("b.pam"), Pam(1, 1, {6, 5, 4, 255})) << "forced over the file that was there";
    ASSERT_EQ(Run(d + "out/a.bmp " + d + "c.pam"), 0) << err_;
    EXPECT_EQ(Read("c.pam"), Pam(1, 1, {3, 2, 1, 255}));
}

// A picture whose content another reader knows than the one its extension
// names is read by that one, and every form says which class read it.
TEST_F(GraphicConvert, NamesTheClassThatReadAPictureOfAnotherFormat) {
    const std::string in = Write("disguised.tga", MakeBmp(Layout(1, 1, 24, {}, {1, 2, 3, 0})));
    ASSERT_EQ(Run(in), 0) << err_;
    EXPECT_NE(out_.find("class: TBitmap\nnote: read by TBitmap, not TTargaGraphic\n"), std::string::npos) << out_;
    ASSERT_EQ(Run("--to png " + in), 0) << err_;
    EXPECT_EQ(out_, (dir_ / "disguised.png").string() + " (read by TBitmap, not TTargaGraphic)\n");
    ASSERT_EQ(Run(in + " " + (dir_ / "d.pam").string()), 0) << err_;
    EXPECT_EQ(out_, in + ": read by TBitmap, not TTargaGraphic\n");
    EXPECT_EQ(Read("d.pam"), Pam(1, 1, {3, 2, 1, 255}));
}

}  // namespace
