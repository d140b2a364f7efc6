#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "GraphicFormats.h"
#include "PCDFiles.h"
#include "ToolFiles.h"

namespace {

using imagefiles::MakePcd;
using imagefiles::MakePcdImage;
using imagefiles::Bytes;
using imagefiles::PcdHeight;
using imagefiles::PcdImage;
using imagefiles::PcdWidth;

void Load(TPCDGraphic& graphic, const Bytes& file) {
    TMemoryStream stream(file.data(), file.size());
    graphic.LoadFromStream(stream);
}

struct Bgr {
    int B, G, R;
};
Bgr PixelAt(const TBitmap& bitmap, uint32_t x, uint32_t y) {
    const uint8_t* p = bitmap.ScanLine(int(y)) + 3 * x;
    return {p[0], p[1], p[2]};
}

uint8_t Luma(uint32_t x, uint32_t y) { return static_cast<uint8_t>(x * 7 + y * 13 + (x * y) % 11); }
// Chroma values at which PhotoYCC carries no colour.
constexpr uint8_t NeutralBlue = 156, NeutralRed = 137;

// Where the reader puts source pixel (x, y) of the 768 x 512 base image.
struct Placement {
    uint32_t X, Y;
};
Placement Place(uint8_t rotation, uint32_t x, uint32_t y) {
    switch (rotation) {
        case 1: return {y, PcdWidth - 1 - x};
        case 3: return {PcdHeight - 1 - y, x};
        default: return {x, y};
    }
}

struct RotationCase {
    uint8_t rotation;
    bool overview;
};

class PCDRotations : public ::testing::TestWithParam<RotationCase> {};

TEST_P(PCDRotations, GreyImageLandsTurnedAsTheFileSays) {
    const RotationCase c = GetParam();
    const PcdImage image = MakePcdImage(Luma, [](uint32_t, uint32_t) { return NeutralBlue; },
                                        [](uint32_t, uint32_t) { return NeutralRed; });
    TPCDGraphic graphic;
    Load(graphic, MakePcd(image, c.rotation, c.overview, 7));

    const bool turned = c.rotation == 1 || c.rotation == 3;
    ASSERT_EQ(graphic.Width(), int(turned ? PcdHeight : PcdWidth));
    ASSERT_EQ(graphic.Height(), int(turned ? PcdWidth : PcdHeight));
    EXPECT_EQ(graphic.PixelFormat(), pf24bit);
    EXPECT_EQ(graphic.Properties.PCDRotation, c.rotation);
    EXPECT_EQ(graphic.Properties.PCDOverview, c.overview ? 1 : 0);
    EXPECT_EQ(graphic.Properties.ColorScheme, csPhotoYCC);
    int wrong = 0;
    for (uint32_t y = 0; y < PcdHeight; ++y)
        for (uint32_t x = 0; x < PcdWidth; ++x) {
            const Placement at = Place(c.rotation, x, y);
            const Bgr pixel = PixelAt(graphic, at.X, at.Y);
            const int expected = Luma(x, y);
            if ((pixel.B != expected || pixel.G != expected || pixel.R != expected) && ++wrong < 5)
                ADD_FAILURE() << "source " << x << "," << y << " at " << at.X << "," << at.Y;
        }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(All, PCDRotations,
                         ::testing::Values(RotationCase{0, false}, RotationCase{1, false}, RotationCase{2, false},
                                           RotationCase{3, false}, RotationCase{1, true}, RotationCase{0, true}));

// PhotoYCC with the luma weights the reader sets, as the colour manager's
// tables compute it.
Bgr PhotoYCC(int y, int blue, int red) {
    const float kr = 0.2125f, kg = 0.7154f, kb = 0.0721f;
    const float cr = 2 - 2 * kr, cb = 2 - 2 * kb, gr = kr * cr / kg, gb = kb * cb / kg;
    const auto clamp = [](long v) { return int(std::clamp(v, 0L, 255L)); };
    return {clamp(y + std::lround(cb * float(blue - NeutralBlue))),
            clamp(y - std::lround(gb * float(blue - NeutralBlue)) - std::lround(gr * float(red - NeutralRed))),
            clamp(y + std::lround(cr * float(red - NeutralRed)))};
}

bool Near(const Bgr& a, const Bgr& b, int tolerance) {
    return std::abs(a.B - b.B) <= tolerance && std::abs(a.G - b.G) <= tolerance && std::abs(a.R - b.R) <= tolerance;
}

TEST(PCD, ChromaPlanesColourTheirRowPairs) {
    // At even positions the doubled chroma planes hold the stored values.
    const auto blue = [](uint32_t x, uint32_t y) { return static_cast<uint8_t>(110 + (x * 3 + y) % 90); };
    const auto red = [](uint32_t x, uint32_t y) { return static_cast<uint8_t>(100 + (x + y * 5) % 80); };
    const auto luma = [](uint32_t x, uint32_t y) { return static_cast<uint8_t>(60 + (x + y) % 120); };
    TPCDGraphic graphic;
    Load(graphic, MakePcd(MakePcdImage(luma, blue, red)));
    int wrong = 0;
    for (uint32_t y = 0; y < PcdHeight; y += 2)
        for (uint32_t x = 0; x < PcdWidth; x += 2) {
            const Bgr expected = PhotoYCC(luma(x, y), blue(x / 2, y / 2), red(x / 2, y / 2));
            if (!Near(PixelAt(graphic, x, y), expected, 1) && ++wrong < 5) ADD_FAILURE() << x << "," << y;
        }
    EXPECT_EQ(wrong, 0);
}

TEST(PCD, PropertiesReportTheAskedResolution) {
    const Bytes pack = MakePcd(PcdImage{}, 3);
    const Bytes overview = MakePcd(PcdImage{}, 0, true, 0x1234);
    struct Case {
        const Bytes* file;
        int index;
        uint32_t width, height;
        TCompressionKind compression;
    };
    const Case cases[] = {{&pack, 0, 128, 192, ckNone},        {&pack, 2, 512, 768, ckNone},
                          {&pack, 3, 1024, 1536, ckPCDHuffman}, {&pack, 4, 2048, 3072, ckPCDHuffman},
                          {&pack, 9, 4096, 6144, ckPCDHuffman}, {&overview, 4, 192, 128, ckNone}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        TPCDGraphic graphic;
        TMemoryStream stream(c.file->data(), c.file->size());
        ASSERT_TRUE(graphic.ReadProperties(stream, c.index));
        EXPECT_EQ(graphic.Properties.Width, c.width);
        EXPECT_EQ(graphic.Properties.Height, c.height);
        EXPECT_EQ(graphic.Properties.Compression, c.compression);
        EXPECT_EQ(graphic.Properties.BitsPerPixel, 24);
    }
    TPCDGraphic graphic;
    TMemoryStream stream(overview.data(), overview.size());
    graphic.ReadProperties(stream, 0);
    EXPECT_EQ(graphic.Properties.PCDReserved, 0x1234);
}

TEST(PCD, ProbeAndHostileFiles) {
    const Bytes pack = imagefiles::SmallPcd();
    Bytes header(pack.begin(), pack.begin() + 6145);
    Bytes tooShort(pack.begin(), pack.begin() + 6144);
    Bytes foreign(pack.size(), 'x');
    Bytes truncated(pack.begin(), pack.end() - 1);
    const auto probe = [](const Bytes& file) {
        TMemoryStream stream(file.data(), file.size());
        stream.SetPosition(0);
        const bool answer = TPCDGraphic::ProbeStream(stream);
        EXPECT_EQ(stream.Position(), 0);
        return answer;
    };
    EXPECT_TRUE(probe(pack));
    EXPECT_TRUE(probe(header));
    EXPECT_FALSE(probe(tooShort));
    EXPECT_FALSE(probe(foreign));

    TPCDGraphic graphic;
    Load(graphic, pack);
    Load(graphic, foreign);
    EXPECT_TRUE(graphic.Empty()) << "a file of another kind leaves the picture empty";
    try {
        Load(graphic, truncated);
        FAIL() << "a pack without its whole base image loaded";
    } catch (const EInvalidGraphic& error) {
        EXPECT_STREQ(error.what(), "Cannot load image. Invalid or unexpected PCD image format.");
    }
    EXPECT_THROW(Load(graphic, tooShort), EInvalidGraphic);
    EXPECT_THROW(Load(graphic, Bytes(pack.begin(), pack.begin() + 3000)), EReadError) << "no whole header";
}

// ---------------------------------------------------------------------------
// ImageMagick writes image packs and reads them back.

class PCDImageMagick : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(PCDImageMagick, LoadsWhatImageMagickReadsAsYCC) {
    if (!imagefiles::ToolPresent("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
    const auto [width, height] = GetParam();
    const imagefiles::ScratchFolder folder;
    std::string ppm = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) ppm += {char(x * 255 / width), char((x ^ y) & 0xFF), char(y * 255 / height)};
    imagefiles::WriteFileBytes(folder / "x.ppm", Bytes(ppm.begin(), ppm.end()));
    ASSERT_TRUE(imagefiles::RunTool("/usr/bin/convert " + folder / "x.ppm" + " " + folder / "x.pcd"));
    // "PCDS:" keeps ImageMagick's samples in PhotoYCC: luma, blue and red
    // difference in place of red, green and blue.
    ASSERT_TRUE(imagefiles::RunTool("/usr/bin/convert PCDS:" + folder / "x.pcd" + " ppm:" + folder / "ycc.ppm"));
    const imagefiles::RGBImage ycc = imagefiles::ReadReferenceMap(imagefiles::ReadFileBytes(folder / "ycc.ppm"));
    TPCDGraphic graphic;
    graphic.LoadFromFile(folder / "x.pcd");

    ASSERT_EQ(graphic.Width(), ycc.Width);
    ASSERT_EQ(graphic.Height(), ycc.Height);
    EXPECT_EQ(graphic.Width() > graphic.Height(), width > height);
    int wrong = 0;
    for (int y = 0; y < ycc.Height; ++y)
        for (int x = 0; x < ycc.Width; ++x) {
            const uint8_t* s = ycc.Pixels.data() + 3 * (size_t(y) * ycc.Width + x);
            if (!Near(PixelAt(graphic, x, y), PhotoYCC(s[0], s[1], s[2]), 1) && ++wrong < 5)
                ADD_FAILURE() << x << "," << y;
        }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(LandscapeAndPortrait, PCDImageMagick,
                         ::testing::Values(std::pair{768, 512}, std::pair{300, 500}));

}  // namespace
