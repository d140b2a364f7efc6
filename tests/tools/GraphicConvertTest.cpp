// Runs the graphic-convert program on files made here and checks its output.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace
