#include "Jpeg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

#include <jpeglib.h>

#include "PictureRegistrations.h"
#include "SysUtils.h"
#include "System.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct JpegLayout {
    int width = 32, height = 16, components = 3;
    J_COLOR_SPACE colorSpace = JCS_RGB;
    bool progressive = false, arithmetic = false;
    // Fills the components of pixel (x, y).
    std::function<void(int x, int y, uint8_t* pixel)> fill;
};

Bytes Compress(const JpegLayout& layout) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(layout.width);
    info.image_height = static_cast<JDIMENSION>(layout.height);
    info.input_components = layout.components;
    info.in_color_space = layout.colorSpace;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    if (layout.progressive) jpeg_simple_progression(&info);
    info.arith_code = layout.arithmetic;
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(layout.width * layout.components));
    while (info.next_scanline < info.image_height) {
        for (int x = 0; x < layout.width; ++x)
            layout.fill(x, static_cast<int>(info.next_scanline), &row[x * layout.components]);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

TJPEGImage Load(const Bytes& bytes) {
    TMemoryStream stream(bytes.data(), bytes.size());
    TJPEGImage image;
    image.LoadFromStream(stream);
    return image;
}

void ExpectNear(TColor actual, TColor expected, int tolerance, const std::string& where) {
    EXPECT_NEAR(GetRValue(actual), GetRValue(expected), tolerance) << where;
    EXPECT_NEAR(GetGValue(actual), GetGValue(expected), tolerance) << where;
    EXPECT_NEAR(GetBValue(actual), GetBValue(expected), tolerance) << where;
}

JpegLayout TwoColours() {
    JpegLayout layout;
    layout.fill = [](int x, int, uint8_t* p) {
        const bool left = x < 16;
        p[0] = left ? 200 : 20, p[1] = left ? 30 : 60, p[2] = left ? 40 : 220;
    };
    return layout;
}

TEST(Jpeg, BaselineAndProgressiveColour) {
    for (bool progressive : {false, true}) {
        JpegLayout layout = TwoColours();
        layout.progressive = progressive;
        const TJPEGImage image = Load(Compress(layout));
        ASSERT_EQ(image.Width(), 32);
        ASSERT_EQ(image.Height(), 16);
        EXPECT_EQ(image.Bitmap().PixelFormat(), pf24bit);
        EXPECT_FALSE(image.Grayscale());
        ExpectNear(image.Bitmap().Pixel(4, 8), RGB(200, 30, 40), 12, progressive ? "progressive" : "baseline");
        ExpectNear(image.Bitmap().Pixel(27, 8), RGB(20, 60, 220), 12, progressive ? "progressive" : "baseline");
    }
}

TEST(Jpeg, GreyImagesGetAGreyPalette) {
    JpegLayout layout;
    layout.components = 1, layout.colorSpace = JCS_GRAYSCALE;
    layout.fill = [](int x, int, uint8_t* p) { *p = static_cast<uint8_t>(x < 16 ? 60 : 190); };
    const TJPEGImage image = Load(Compress(layout));
    EXPECT_TRUE(image.Grayscale());
    ASSERT_EQ(image.Bitmap().Palette().palPalEntry.size(), 256u);
    EXPECT_EQ(image.Bitmap().Palette().palPalEntry[77], (TPaletteEntry{77, 77, 77, 0}));
    EXPECT_NEAR(image.Bitmap().ScanLine(3)[4], 60, 4);
    EXPECT_NEAR(image.Bitmap().ScanLine(3)[28], 190, 4);
}

TEST(Jpeg, AdobeCmykIsStoredInverted) {
    JpegLayout layout;
    layout.components = 4, layout.colorSpace = JCS_CMYK;
    // Adobe's convention: 255 means no ink.
    layout.fill = [](int x, int, uint8_t* p) {
        const bool left = x < 16;
        p[0] = left ? 200 : 255, p[1] = left ? 100 : 255, p[2] = left ? 50 : 255, p[3] = left ? 255 : 128;
    };
    const TJPEGImage image = Load(Compress(layout));
    EXPECT_EQ(image.Bitmap().PixelFormat(), pf24bit);
    ExpectNear(image.Bitmap().Pixel(4, 8), RGB(200, 100, 50), 8, "no black");
    ExpectNear(image.Bitmap().Pixel(27, 8), RGB(128, 128, 128), 8, "half black");
}

TEST(Jpeg, TruncatedDataDecodesWhatIsThere) {
    JpegLayout layout = TwoColours();
    layout.height = 64;
    const Bytes full = Compress(layout);
    // Cut halfway through the entropy-coded data that follows the scan header.
    size_t scan = 0;
    while (scan + 1 < full.size() && !(full[scan] == 0xFF && full[scan + 1] == 0xDA)) ++scan;
    ASSERT_LT(scan + 1, full.size());
    const Bytes cut(full.begin(), full.begin() + static_cast<long>(scan + (full.size() - scan) / 2));
    const TJPEGImage image = Load(cut);
    EXPECT_EQ(image.Width(), 32);
    EXPECT_EQ(image.Height(), 64);
    ExpectNear(image.Bitmap().Pixel(4, 1), RGB(200, 30, 40), 12, "first rows");
}

TEST(Jpeg, BrokenDataRaisesLibjpegsMessage) {
    const auto message = [](const Bytes& bytes) {
        try {
            Load(bytes);
        } catch (const EInvalidGraphic& error) {
            return std::string(error.what());
        }
        return std::string("loaded");
    };
    EXPECT_EQ(message({'h', 'e', 'l', 'l', 'o'}).rfind("JPEG error: ", 0), 0u);
    EXPECT_EQ(message({}).rfind("JPEG error: ", 0), 0u);

    Bytes huge = Compress(TwoColours());
    for (size_t i = 0; i + 8 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = huge[i + 7] = 0xFF;  // 65xxx x 65xxx pixels
            break;
        }
    EXPECT_NE(message(huge).find("too large"), std::string::npos) << message(huge);
}

// Sets the frame header's height and width.
void SetSize(Bytes& file, uint16_t width, uint16_t height) {
    for (size_t i = 0; i + 8 < file.size(); ++i)
        if (file[i] == 0xFF && (file[i + 1] == 0xC0 || file[i + 1] == 0xC2 || file[i + 1] == 0xC9 ||
                                file[i + 1] == 0xCA)) {
            file[i + 5] = uint8_t(height >> 8), file[i + 6] = uint8_t(height);
            file[i + 7] = uint8_t(width >> 8), file[i + 8] = uint8_t(width);
            return;
        }
    FAIL() << "no frame header";
}

// Every 8 x 8 block costs at least a bit of Huffman code, or a fraction of
// one when arithmetic coding packs 64 blocks into a byte: a small file
// claiming a huge image is refused before anything is allocated for it.
TEST(Jpeg, SizesTheDataCannotHoldAreRefused) {
    struct Case {
        bool progressive, arithmetic;
        uint16_t width, height;
        bool loads;
    };
    for (const Case& c : {Case{false, false, 16384, 16384, false}, Case{true, false, 16384, 16384, false},
                          Case{false, true, 16384, 16384, false}, Case{true, true, 4000, 4000, false},
                          Case{true, false, 1024, 1024, true}, Case{false, false, 1024, 1024, true}}) {
        SCOPED_TRACE(testing::Message() << c.progressive << c.arithmetic << " " << c.width << " x " << c.height);
        JpegLayout layout;
        layout.progressive = c.progressive, layout.arithmetic = c.arithmetic;
        layout.width = 1024, layout.height = 1024;
        // A blank image: the densest data an encoder writes.
        layout.fill = [](int, int, uint8_t* p) { p[0] = p[1] = p[2] = 128; };
        Bytes file = Compress(layout);
        SetSize(file, c.width, c.height);
        if (c.loads) {
            EXPECT_EQ(Load(file).Width(), c.width);
            continue;
        }
        try {
            Load(file);
            ADD_FAILURE() << "loaded";
        } catch (const EInvalidGraphic& error) {
            EXPECT_EQ(std::string(error.what()),
                      "JPEG error: Image of " + std::to_string(c.width) + " x " + std::to_string(c.height) +
                          " pixels is larger than its data can hold");
        }
    }
}

// Where a file's marker segments lie, and the entropy-coded data of each scan.
struct JpegLayoutMap {
    struct Range {
        size_t begin, end;
    };
    std::vector<Range> segments, scans;

    explicit JpegLayoutMap(const Bytes& file) {
        size_t at = 2;
        while (at + 4 <= file.size() && file[at] == 0xFF && file[at + 1] != 0xD9) {
            const size_t end = at + 2 + (file[at + 2] << 8 | file[at + 3]);
            segments.push_back({at, end});
            at = end;
            if (file[segments.back().begin + 1] != 0xDA) continue;
            // Scan data ends at the first marker other than a stuffed zero or a restart.
            while (at + 1 < file.size() && !(file[at] == 0xFF && file[at + 1] != 0 && (file[at + 1] & 0xF8) != 0xD0))
                ++at;
            scans.push_back({end, at});
        }
    }
    bool InsideSegment(size_t length) const {
        return std::any_of(segments.begin(), segments.end(),
                           [&](const Range& r) { return r.begin < length && length < r.end; });
    }
    bool InsideScan(size_t at) const {
        return std::any_of(scans.begin(), scans.end(), [&](const Range& r) { return r.begin <= at && at < r.end; });
    }
};

std::string LoadOutcome(const Bytes& file) {
    try {
        const TJPEGImage image = Load(file);
        return std::to_string(image.Width()) + " x " + std::to_string(image.Height());
    } catch (const EInvalidGraphic& error) {
        return std::string(error.what()).rfind("JPEG error: ", 0) == 0 ? "JPEG error" : error.what();
    }
}

// A cut before the first scan begins leaves libjpeg without a usable header:
// its error is raised. A cut inside scan data, or between segments, loads
// the whole size with what was decoded, and once the first (DC) scan is
// whole every block has its colour; only a cut inside a later segment may
// still raise. Damage inside scan data never stops the decoding either.
TEST(Jpeg, DamagedFilesLoadWhatIsThereOrRaiseLibjpegsError) {
    JpegLayout layout = TwoColours();
    layout.progressive = true;
    const Bytes good = Compress(layout);
    const JpegLayoutMap map(good);
    ASSERT_GE(map.scans.size(), 2u);
    for (size_t length = 0; length < good.size(); ++length) {
        SCOPED_TRACE(testing::Message() << "cut at " << length);
        const Bytes cut(good.begin(), good.begin() + static_cast<long>(length));
        const std::string outcome = LoadOutcome(cut);
        if (length < map.scans[0].begin || (outcome == "JPEG error" && map.InsideSegment(length))) {
            EXPECT_EQ(outcome, "JPEG error");
            continue;
        }
        ASSERT_EQ(outcome, "32 x 16");
        if (length >= map.scans[0].end) {
            const TJPEGImage image = Load(cut);
            ExpectNear(image.Bitmap().Pixel(4, 8), RGB(200, 30, 40), 32, "left");
            ExpectNear(image.Bitmap().Pixel(27, 8), RGB(20, 60, 220), 32, "right");
        }
    }
    for (size_t at = 2; at < good.size(); ++at) {
        Bytes bad = good;
        bad[at] ^= 0x5A;
        const std::string outcome = LoadOutcome(bad);
        // Outside scan data a damaged header may still name another size.
        if (!map.InsideScan(at) || bad[at] == 0xFF || good[at - 1] == 0xFF)
            EXPECT_TRUE(outcome == "JPEG error" || outcome.find(" x ") != std::string::npos) << at << ": " << outcome;
        else
            EXPECT_EQ(outcome, "32 x 16") << at;
    }
}

TEST(Jpeg, PictureLoadsJpgAndJpegFiles) {
    const TPictureRegistrationsScope registrations;
    InitializeFrameworkGraphics();
    const std::string base = (std::filesystem::temp_directory_path() / ("jpeg-" + std::to_string(::getpid()))).string();
    const Bytes bytes = Compress(TwoColours());
    for (const std::string extension : {".JPG", ".jpeg"}) {
        TMemoryStream(bytes.data(), bytes.size()).SaveToFile(base + extension);
        TPicture picture;
        picture.LoadFromFile(base + extension);
        EXPECT_EQ(picture.Graphic()->ClassType(), TJPEGImage::StaticClass());
        EXPECT_EQ(picture.Width(), 32);
        std::filesystem::remove(base + extension);
    }
}

}  // namespace
