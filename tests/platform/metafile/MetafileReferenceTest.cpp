// Metafiles written here, one a record family, drawn by us and by the
// references users would compare with: LibreOffice (one soffice call for
// all of them) and libwmf's wmf2gd. Each picture carries a black frame on
// its bounds, so the references' drawings are cropped to it; then where each
// colour lies and how much of it there is must agree, not the pixels.
#include <png.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "MetafileTestSupport.h"

namespace {

namespace fs = std::filesystem;

enum TReference { rfLibreOffice, rfLibwmf };

struct TInk {
    TColor color;
    // The share of the reference's pixels of this colour ours may differ
    // by, and the least overlap of the two (0: where they lie is enough).
    double countTolerance, overlap;
};

struct TCase {
    const char* name;  // with its extension; the stems differ
    TBytes file;
    TReference reference;
    std::vector<TInk> inks;
};

constexpr TColor kYellow = RGB(255, 255, 0);
constexpr int kFramePen = 0;

TWmfWriter FramedWmf(int width, int height) {
    TWmfWriter w;
    w.Words(0x0103, {8}).Window(0, 0, width, height).Pen(0, kFramePen, clBlack).Brush(1, 0).Select(0).Select(1);
    return w.Rectangle(0, 0, width, height);
}

TEmfWriter FramedEmf(int width, int height) {
    TEmfWriter e;
    e.Pen(1, 0, kFramePen, clBlack).Select(1).Select(0x80000005).Rectangle(0, 0, width, height);
    return e;
}

std::vector<TCase> Cases() {
    std::vector<TCase> cases;
    {
        // The records' window is half the drawing, which the placeable box
        // covers whole: the box is the picture (LibreOffice cuts it).
        TWmfWriter w;
        w.Words(0x0103, {8}).Window(0, 0, 100, 50).Pen(0, 0, clBlack).Brush(0, kRed).Select(0).Select(1);
        w.Rectangle(0, 0, 200, 100).Brush(0, kGreen).Select(2).Rectangle(150, 60, 200, 100);
        cases.push_back({"window.wmf", w.Placeable(0, 0, 200, 100, 96), rfLibwmf, {{kRed, 0.1, 0.85}, {kGreen, 0.2, 0.7}}});
    }
    {
        TWmfWriter w = FramedWmf(400, 200);
        w.Font(-32, 700, false, false, 0, "Arial").Select(2).Words(0x0209, {255, 0}).Words(0x0102, {1});
        w.TextOut(10, 10, "Hello WMF");
        w.Font(-24, 400, true, true, 0, "Times New Roman").Select(3).Words(0x0209, {0, 0xFF}).Words(0x0102, {2});
        w.Words(0x0201, {0xFFFF, 0}).Words(0x012E, {30}).ExtTextOut(200, 120, "Centred base", 0);
        w.Font(-20, 400, false, false, 900, "Courier New").Select(4).Words(0x012E, {0}).Words(0x0102, {1});
        w.Words(0x0209, {0xFF00, 0}).ExtTextOut(380, 190, "Up", 0);
        cases.push_back({"text.wmf", w.Placeable(0, 0, 400, 200, 96), rfLibreOffice,
                         {{kRed, 0.5, 0}, {kBlue, 0.5, 0}, {kGreen, 0.7, 0}, {kYellow, 0.25, 0.6}}});
    }
    {
        TEmfWriter e = FramedEmf(400, 200);
        e.Font(2, -32, 700, false, false, 0, u"DejaVu Sans").Select(2).Ints(24, {0x0000FF}).Ints(18, {1});
        e.TextOut(10, 10, u"Hello EMF");
        e.Font(3, -24, 400, true, false, 450, u"Liberation Serif").Select(3).Ints(24, {0x00FF00});
        e.TextOut(150, 180, u"Slanted 45");
        cases.push_back({"wide-text.emf", e.Build(400, 200), rfLibreOffice, {{kRed, 0.5, 0}, {kGreen, 0.6, 0}}});
    }
    {
        // Rounded corners: ellipses of the given width and height.
        TWmfWriter w = FramedWmf(300, 150);
        w.Pen(5, 0, 0).Brush(0, kGreen).Select(2).Select(3);
        w.Words(0x061C, {40, 60, 140, 140, 10, 10}).Words(0x061C, {130, 130, 140, 290, 10, 160});
        cases.push_back({"round.wmf", w.Placeable(0, 0, 300, 150, 96), rfLibreOffice, {{kGreen, 0.05, 0.93}}});
    }
    {
        // Hatches repeat every 8 pixels whatever the scale.
        TWmfWriter w = FramedWmf(240, 120);
        w.Pen(5, 0, 0).Select(2);
        const int hatches[] = {0, 1, 4};
        for (int i = 0; i < 3; ++i) w.Brush(2, kBlue, hatches[i]).Select(3 + i).Rectangle(10 + i * 75, 10, 80 + i * 75, 110);
        cases.push_back({"hatch.wmf", w.Placeable(0, 0, 240, 120, 96), rfLibwmf, {{kBlue, 0.3, 0}}});
    }
    {
        // Shapes under a turning world transform.
        TEmfWriter e = FramedEmf(300, 200);
        e.Pen(2, 5, 0, 0).Brush(3, 0, kGreen).Select(2).Select(3).Ints(70, {2});
        TBytes form;
        for (float v : {0.866f, 0.5f, -0.5f, 0.866f, 150.0f, 20.0f}) PutFloat(form, v);
        e.Record(35, form).Rectangle(0, 0, 150, 120).Ints(42, {-60, 40, 60, 140});
        cases.push_back({"world.emf", e.Build(300, 200), rfLibreOffice, {{kGreen, 0.05, 0.93}}});
    }
    return cases;
}

// A PNG file's pixels as window colours over white, by libpng.
std::optional<TBitmap> ReadPng(const fs::path& file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, file.c_str())) return std::nullopt;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    png_color white{255, 255, 255};
    if (!png_image_finish_read(&image, &white, pixels.data(), 0, nullptr)) return std::nullopt;
    TBitmap bitmap;
    bitmap.SetSize(int(image.width), int(image.height));
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const uint8_t* p = pixels.data() + (size_t(y) * image.width + size_t(x)) * 3;
            bitmap.SetPixel(x, y, RGB(p[0], p[1], p[2]));
        }
    return bitmap;
}

// The part of a drawing inside its frame: the box of what is not white.
TBitmap CropToFrame(const TBitmap& page) {
    int left = page.Width(), top = page.Height(), right = -1, bottom = -1;
    for (int y = 0; y < page.Height(); ++y)
        for (int x = 0; x < page.Width(); ++x)
            if (page.Pixel(x, y) != clWhite) left = std::min(left, x), right = std::max(right, x), top = std::min(top, y),
                                             bottom = std::max(bottom, y);
    TBitmap crop;
    crop.SetSize(std::max(0, right - left + 1), std::max(0, bottom - top + 1));
    for (int y = 0; y < crop.Height(); ++y)
        for (int x = 0; x < crop.Width(); ++x) crop.SetPixel(x, y, page.Pixel(left + x, top + y));
    return crop;
}

// The pixels near a colour, as the references smooth edges.
bool Near(TColor a, TColor b) {
    const int dr = GetRValue(a) - GetRValue(b), dg = GetGValue(a) - GetGValue(b), db = GetBValue(a) - GetBValue(b);
    return dr * dr + dg * dg + db * db < 90 * 90;
}

struct TInkShape {
    int count = 0, left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
};

TInkShape ShapeOf(const TBitmap& b, TColor color) {
    TInkShape s;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            if (Near(b.Pixel(x, y), color))
                ++s.count, s.left = std::min(s.left, x), s.right = std::max(s.right, x), s.top = std::min(s.top, y),
                    s.bottom = std::max(s.bottom, y);
    return s;
}

double Overlap(const TBitmap& a, const TBitmap& b, TColor color) {
    int both = 0, either = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            const bool inA = Near(a.Pixel(x, y), color), inB = Near(b.Pixel(x, y), color);
            both += inA && inB, either += inA || inB;
        }
    return either ? double(both) / either : 1;
}

bool Installed(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) == 0;
}

TEST(MetafileReference, RecordFamiliesDrawAsLibreOfficeAndLibwmfDrawThem) {
    ASSERT_TRUE(Installed("soffice")) << "LibreOffice is missing: scripts/deps tools installs libreoffice-draw-nogui";
    ASSERT_TRUE(Installed("wmf2gd")) << "wmf2gd is missing: scripts/deps tools installs libwmf-bin";
    const fs::path folder = fs::temp_directory_path() / ("metafile-reference-" + std::to_string(::getpid()));
    fs::create_directories(folder / "lo");
    const std::vector<TCase> cases = Cases();
    std::string forLibreOffice;
    for (const TCase& c : cases) {
        std::ofstream(folder / c.name, std::ios::binary).write(reinterpret_cast<const char*>(c.file.data()), long(c.file.size()));
        const fs::path file = folder / c.name;
        if (c.reference == rfLibreOffice) {
            forLibreOffice += " " + file.string();
        } else {
            const std::string wmf2gd = "wmf2gd -t png -o " + file.string() + ".png " + file.string() + " >/dev/null 2>&1";
            ASSERT_EQ(std::system(wmf2gd.c_str()), 0) << wmf2gd;
        }
    }
    // A profile of its own, so that a LibreOffice the user runs is no bother.
    const std::string soffice = "soffice -env:UserInstallation=file://" + (folder / "profile").string() +
                                " --headless --convert-to png --outdir " + (folder / "lo").string() + forLibreOffice +
                                " >/dev/null 2>&1";
    ASSERT_EQ(std::system(soffice.c_str()), 0);

    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path drawn = c.reference == rfLibreOffice ? folder / "lo" / fs::path(c.name).replace_extension(".png")
                                                            : folder / (std::string(c.name) + ".png");
        const std::optional<TBitmap> page = ReadPng(drawn);
        ASSERT_TRUE(page) << drawn;
        const TBitmap reference = c.reference == rfLibreOffice ? CropToFrame(*page) : *page;
        ASSERT_GT(reference.Width(), 50);
        TBitmap ours;
        ours.SetSize(reference.Width(), reference.Height());
        ours.Canvas().FillRect(Rect(0, 0, ours.Width(), ours.Height()), clWhite);
        ours.Canvas().StretchDraw(Rect(0, 0, ours.Width(), ours.Height()), LoadMetafile(c.file));
        for (const TInk& ink : c.inks) {
            SCOPED_TRACE(Format("colour %06x", ink.color));
            const TInkShape a = ShapeOf(ours, ink.color), b = ShapeOf(reference, ink.color);
            ASSERT_GT(b.count, 0);
            EXPECT_NEAR(a.count, b.count, b.count * ink.countTolerance);
            const int slack = 4 + reference.Width() / 30;
            EXPECT_NEAR(a.left, b.left, slack);
            EXPECT_NEAR(a.right, b.right, slack);
            EXPECT_NEAR(a.top, b.top, slack);
            EXPECT_NEAR(a.bottom, b.bottom, slack);
            if (ink.overlap > 0) {
                EXPECT_GE(Overlap(ours, reference, ink.color), ink.overlap);
            }
        }
    }
    if (!HasFailure()) fs::remove_all(folder);
}

}  // namespace
