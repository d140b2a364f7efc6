#include "Icon.h"

#include <gtest/gtest.h>

#include "DibBuilder.h"
#include "PictureRegistrations.h"
#include "SysUtils.h"

namespace {

using namespace testing_dib;

// An icon image: a bitmap of width x height (header height doubled) filled
// with one colour, and its AND mask with the given rows (bottom-up; the
// first 32 pixels of each, most significant bit first).
Bytes IconDib(int width, int height, uint16_t bits, uint32_t bgra, const std::vector<uint32_t>& maskRows) {
    DibLayout layout;
    layout.width = width, layout.height = 2 * height, layout.bits = bits;
    const int stride = (width * bits + 31) / 32 * 4;
    if (bits <= 8) {
        layout.colorsUsed = 2;
        layout.palette = {
            0, 0, 0, 0, static_cast<uint8_t>(bgra), static_cast<uint8_t>(bgra >> 8), static_cast<uint8_t>(bgra >> 16),
            0};
    }
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < stride; ++i) {
            if (bits <= 8)
                layout.pixels.push_back(bits == 8 ? (i < width ? 1 : 0) : bits == 4 ? 0x11 : 0xFF);
            else
                layout.pixels.push_back(static_cast<uint8_t>(bgra >> (8 * (i % (bits / 8)))));
        }
    const int maskStride = (width + 31) / 32 * 4;
    for (int y = 0; y < height; ++y) {
        const uint32_t row = y < static_cast<int>(maskRows.size()) ? maskRows[y] : 0;
        for (int i = 3; i >= 0; --i) layout.pixels.push_back(static_cast<uint8_t>(row >> (8 * i)));
        layout.pixels.resize(layout.pixels.size() + maskStride - 4, 0);
    }
    return MakeDib(layout);
}

TIcon Load(const Bytes& bytes) {
    TMemoryStream stream = StreamOf(bytes);
    TIcon icon;
    icon.LoadFromStream(stream);
    return icon;
}

TEST(Icon, ChoosesTheLargestThenDeepestImage) {
    const Bytes file = MakeIco({{16, 16, 4, IconDib(16, 16, 4, 0x0000FF, {})},
                                {32, 32, 8, IconDib(32, 32, 8, 0x00FF00, {})},
                                {32, 32, 24, IconDib(32, 32, 24, 0xFF0000, {})},
                                {24, 24, 32, IconDib(24, 24, 32, 0xFF00FF00, {})}});
    const TIcon icon = Load(file);
    EXPECT_EQ(icon.Width(), 32);
    EXPECT_EQ(icon.Height(), 32);
    EXPECT_EQ(icon.Bitmap().PixelFormat(), pf32bit);
    EXPECT_EQ(icon.Bitmap().Pixel(5, 5), RGB(255, 0, 0));
}

TEST(Icon, DirectoryValuesYieldToTheImageHeader) {
    // The directory claims 8 x 8 for the image that really is 48 x 48.
    const TIcon icon =
        Load(MakeIco({{16, 16, 8, IconDib(16, 16, 8, 0x0000FF, {})}, {8, 8, 0, IconDib(48, 48, 24, 0x00FF00, {})}}));
    EXPECT_EQ(icon.Width(), 48);
}

TEST(Icon, AndMaskBecomesAlpha) {
    // Bottom mask row: the leftmost two pixels are transparent.
    const TIcon icon = Load(MakeIco({{4, 2, 24, IconDib(4, 2, 24, 0x123456, {0xC0000000})}}));
    const TBitmap& image = icon.Bitmap();
    EXPECT_EQ(image.ScanLine(1)[3], 0);
    EXPECT_EQ(image.ScanLine(1)[4 + 3], 0);
    EXPECT_EQ(image.ScanLine(1)[8 + 3], 255);
    EXPECT_EQ(image.ScanLine(0)[3], 255);
    EXPECT_EQ(image.Pixel(2, 1), RGB(0x12, 0x34, 0x56));
}

TEST(Icon, ThirtyTwoBitIconsKeepTheirAlpha) {
    const TIcon withAlpha = Load(MakeIco({{2, 1, 32, IconDib(2, 1, 32, 0x80112233, {0xC0000000})}}));
    EXPECT_EQ(withAlpha.Bitmap().ScanLine(0)[3], 0x80) << "the mask is not applied over real alpha";
    // Zero alpha everywhere means an old-style icon: the mask decides.
    const TIcon old = Load(MakeIco({{2, 1, 32, IconDib(2, 1, 32, 0x00112233, {0x80000000})}}));
    EXPECT_EQ(old.Bitmap().ScanLine(0)[3], 0);
    EXPECT_EQ(old.Bitmap().ScanLine(0)[7], 255);
}

// A 32-bit image whose AND mask is cut short loads, the rows the mask lacks
// opaque; with a version 5 header whose bit fields give colour masks only,
// the fourth byte is alpha all the same.
TEST(Icon, ThirtyTwoBitImagesNeedNoWholeMask) {
    Bytes cut = MakeIco({{2, 2, 32, IconDib(2, 2, 32, 0xFF112233, {0x80000000, 0x80000000})}});
    cut.resize(cut.size() - 4);  // the top row's mask
    const TIcon icon = Load(cut);
    EXPECT_EQ(icon.Bitmap().ScanLine(1)[3], 0) << "the bottom row's mask is there";
    EXPECT_EQ(icon.Bitmap().ScanLine(0)[3], 255);
    DibLayout v5{124, 2, 2, 32, 3, 0, {}, {0xFF0000, 0xFF00, 0xFF}, {}};
    const Bytes dib = IconDib(2, 1, 32, 0x80112233, {});
    v5.pixels.assign(dib.begin() + 40, dib.end());
    EXPECT_EQ(Load(MakeIco({{2, 1, 32, MakeDib(v5)}})).Bitmap().ScanLine(0)[3], 0x80);
}

TEST(Icon, DrawLeavesTransparentPixelsOut) {
    const TIcon icon = Load(MakeIco({{2, 1, 24, IconDib(2, 1, 24, 0xFFFFFF, {0x80000000})}}));
    TBitmap target;
    target.SetPixelFormat(pf16bit);
    target.SetSize(4, 2);
    target.Canvas().FillRect(Rect(0, 0, 4, 2), RGB(255, 0, 255));
    target.Canvas().StretchDraw(Rect(0, 0, 4, 2), icon);
    EXPECT_EQ(target.Pixel(0, 0), RGB(255, 0, 255));
    EXPECT_EQ(target.Pixel(1, 1), RGB(255, 0, 255));
    EXPECT_EQ(target.Pixel(2, 0), clWhite);
}

// Stands in for a PNG reader: any data gives a 3 x 2 bitmap of one colour.
class TFakePng : public TBitmap {
public:
    TGraphicClass ClassType() const override { return &Desc; }
    void LoadFromStream(TStream&) override {
        SetSize(3, 2);
        Canvas().FillRect(Rect(0, 0, 3, 2), RGB(1, 2, 3));
    }
    static const TGraphicClassDesc Desc;
};
const TGraphicClassDesc TFakePng::Desc = {"TFakePng", [] { return std::unique_ptr<TGraphic>(new TFakePng); }, nullptr,
                                          &TBitmap::ClassDesc};

TEST(Icon, PngImagesNeedARegisteredPngClass) {
    const TPictureRegistrationsScope registrations;
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                       0,    0,   0,   3,   0,    0,    0,    2,    8, 6, 0, 0,  0,   0,   0,   0};
    const Bytes file = MakeIco({{3, 2, 32, png}});
    try {
        Load(file);
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& error) {
        EXPECT_STREQ(error.what(), "PNG compressed icons are not supported");
    }
    TPicture::RegisterFileFormat("png", "Fake PNG", &TFakePng::Desc);
    const TIcon icon = Load(file);
    EXPECT_EQ(icon.Width(), 3);
    EXPECT_EQ(icon.Bitmap().PixelFormat(), pf32bit);
    EXPECT_EQ(icon.Bitmap().Pixel(2, 1), RGB(1, 2, 3));
}

TEST(Icon, CorruptFilesRaiseClearErrors) {
    auto message = [](const Bytes& bytes) {
        try {
            Load(bytes);
        } catch (const Exception& error) {
            return std::string(error.what());
        }
        return std::string("loaded");
    };
    EXPECT_EQ(message({0, 0, 1, 0, 0, 0}), "Icon image is not valid: the file holds no images");
    EXPECT_EQ(message({1, 0, 1, 0, 1, 0}), "Icon image is not valid: not an icon file");
    EXPECT_EQ(message({0, 0, 1, 0, 2, 0, 16, 16}), "Icon image is not valid: the directory is truncated");
    Bytes file = MakeIco({{2, 1, 24, IconDib(2, 1, 24, 0, {})}});
    file[18] = 0xFF;  // image offset far beyond the end
    EXPECT_EQ(message(file), "Icon image is not valid: the image data is truncated");
    Bytes huge = MakeIco({{2, 1, 24, IconDib(2, 1, 24, 0, {})}});
    huge[22 + 4] = 0xFF, huge[22 + 5] = 0xFF, huge[22 + 6] = 0xFF;  // image header width 16777215
    EXPECT_EQ(message(huge), "Icon image is not valid: the image is too large");
    DibLayout runs;  // 2048 x 2048 pixels claimed by a few bytes of run-length data
    runs.width = 2048, runs.height = 2 * 2048, runs.bits = 8, runs.compression = 1, runs.colorsUsed = 2;
    runs.palette.assign(8, 0);
    runs.pixels = {255, 1, 0, 1};
    EXPECT_EQ(message(MakeIco({{0, 0, 8, MakeDib(runs)}})),
              "Icon image is not valid: the run-length data is too short for the image size");

    const Bytes good = MakeIco({{3, 2, 4, IconDib(3, 2, 4, 0x00FF00, {0xA0000000, 0x40000000})}});
    ASSERT_EQ(message(good), "loaded");
    for (size_t length = 0; length < good.size(); ++length) {
        TMemoryStream stream(good.data(), length);
        TIcon icon;
        EXPECT_THROW(icon.LoadFromStream(stream), Exception) << length;
        EXPECT_EQ(icon.Width(), 0);
    }
}

}  // namespace
