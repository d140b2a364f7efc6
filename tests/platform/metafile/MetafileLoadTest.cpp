#include <filesystem>

#include "MetafileTestSupport.h"
#include "PictureRegistrations.h"
#include "SysUtils.h"

namespace {

TEST(MetafileLoad, PlaceableSizeFollowsBoxAndUnitsPerInch) {
    const struct {
        int left, top, right, bottom, inch, width, height;
    } cases[] = {
        {0, 0, 1440, 720, 1440, 96, 48},
        {100, 50, 600, 300, 500, 96, 48},
        {0, 0, 10, 10, 96, 10, 10},
        {-30, -20, 30, 20, 96, 60, 40},
    };
    for (const auto& c : cases) {
        const TMetafile m = LoadMetafile(TWmfWriter().Placeable(c.left, c.top, c.right, c.bottom, c.inch));
        EXPECT_EQ(m.Width(), c.width) << c.right << "/" << c.inch;
        EXPECT_EQ(m.Height(), c.height) << c.bottom << "/" << c.inch;
        EXPECT_FALSE(m.Enhanced());
    }
}

TEST(MetafileLoad, PlainSizeIsTheWindowTheRecordsSet) {
    const TMetafile m = LoadMetafile(TWmfWriter().Window(5, 5, 40, 30).Plain());
    EXPECT_EQ(m.Width(), 40);
    EXPECT_EQ(m.Height(), 30);
}

// A plain metafile that sets no window extent is as large as what its
// drawing records cover, with their top-left corner at the picture's.
TEST(MetafileLoad, PlainSizeWithoutAWindowIsWhatTheRecordsDraw) {
    TBytes dibBlit;
    Put32(dibBlit, 0x00CC0020);
    for (const int w : {0, 0, 3, 4, 6, 12}) Put16(dibBlit, w);  // source origin, 3 x 4 at (12, 6)
    Append(dibBlit, MakeDib(4, 3, 24, [](int, int) { return kGreen; }));
    const struct {
        const char* name;
        TBytes file;
        int width, height;
        int insideX, insideY;    // a picture pixel the drawing covers
        int outsideX, outsideY;  // and one it leaves alone, if any (-1: none)
    } cases[] = {
        {"rectangle and polyline",
         TWmfWriter().Brush(0, kRed).Select(0).Rectangle(10, 20, 50, 40).Poly(0x0325, {{5, 25}, {30, 60}}).Plain(),
         45, 40, 20, 10, 44, 39},
        {"a bitmap", TWmfWriter().Record(0x0940, dibBlit).Plain(), 4, 3, 1, 1, -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TMetafile m = LoadMetafile(c.file);
        EXPECT_EQ(m.Width(), c.width);
        EXPECT_EQ(m.Height(), c.height);
        const TBitmap b = Render(c.file, c.width, c.height);
        EXPECT_NE(b.Pixel(c.insideX, c.insideY), kPaper);
        if (c.outsideX >= 0) {
            EXPECT_EQ(b.Pixel(c.outsideX, c.outsideY), kPaper);
        }
    }
}

TEST(MetafileLoad, EnhancedSizeComesFromFrameOrElseBounds) {
    const TMetafile framed = LoadMetafile(TEmfWriter().Build(20, 10));
    EXPECT_TRUE(framed.Enhanced());
    EXPECT_EQ(framed.Width(), 20);
    EXPECT_EQ(framed.Height(), 10);
    const TMetafile unframed = LoadMetafile(TEmfWriter().Build(Rect(0, 0, 14, 6), Rect(0, 0, 0, 0)));
    EXPECT_EQ(unframed.Width(), 15);
    EXPECT_EQ(unframed.Height(), 7);
}

TEST(MetafileLoad, RejectsWhatIsNoMetafile) {
    const TBytes notMetafile{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    TBytes zeroInch = TWmfWriter().Placeable(0, 0, 10, 10, 0);
    TBytes shortEnhanced = TEmfWriter().Build(4, 4);
    shortEnhanced.resize(60);
    for (const TBytes& bytes : {TBytes{}, notMetafile, TWmfWriter().Plain(), zeroInch, shortEnhanced}) {
        try {
            LoadMetafile(bytes);
            ADD_FAILURE() << "loaded " << bytes.size() << " bytes";
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), "Metafile is not valid");
        }
    }
}

TEST(MetafileLoad, FailedLoadKeepsThePicture) {
    TMetafile m = LoadMetafile(TEmfWriter().Build(20, 10));
    const TBytes bad{1, 2, 3, 4};
    TMemoryStream stream(bad.data(), bad.size());
    EXPECT_THROW(m.LoadFromStream(stream), EInvalidGraphic);
    EXPECT_TRUE(m.Enhanced());
    EXPECT_EQ(m.Width(), 20);
}

TEST(MetafileLoad, SavesWhatItRead) {
    const TBytes bytes = TWmfWriter().Window(0, 0, 8, 8).Rectangle(1, 1, 4, 4).Placeable(0, 0, 8, 8, 96);
    const TMetafile m = LoadMetafile(bytes);
    TMemoryStream out;
    m.SaveToStream(out);
    EXPECT_EQ(TBytes(out.Memory(), out.Memory() + out.Size()), bytes);
}

TEST(MetafileLoad, ProbeRecognisesAllThreeKindsAndLeavesPosition) {
    for (const TBytes& bytes : {TWmfWriter().Window(0, 0, 8, 8).Plain(), TWmfWriter().Placeable(0, 0, 8, 8, 96),
                                TEmfWriter().Build(4, 4)}) {
        TMemoryStream stream(bytes.data(), bytes.size());
        EXPECT_TRUE(TMetafile::IsMetafile(stream));
        EXPECT_EQ(stream.Position(), 0);
    }
    const TBytes png{0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    TMemoryStream stream(png.data(), png.size());
    EXPECT_FALSE(TMetafile::IsMetafile(stream));
}

TEST(MetafileLoad, RegisteredWithThePictureByExtension) {
    const TPictureRegistrationsScope registrations;
    RegisterMetafileFormats();
    EXPECT_EQ(TPicture::FindGraphicClass("WMF"), TMetafile::StaticClass());
    EXPECT_EQ(TPicture::FindGraphicClass("emf"), TMetafile::StaticClass());
    bool wmf = false, emf = false;
    for (const TPicture::Filter& f : TPicture::GraphicFilters()) {
        wmf |= f.Description == "Metafiles (*.wmf)";
        emf |= f.Description == "Enhanced Metafiles (*.emf)";
    }
    EXPECT_TRUE(wmf && emf);

    const std::string file = (std::filesystem::temp_directory_path() / "metafile-test-picture.emf").string();
    TMemoryStream bytes;
    const TBytes emfBytes = TEmfWriter().Build(12, 7);
    bytes.WriteBuffer(emfBytes.data(), int64_t(emfBytes.size()));
    bytes.SaveToFile(file);
    TPicture picture;
    picture.LoadFromFile(file);
    std::filesystem::remove(file);
    EXPECT_EQ(picture.Width(), 12);
    EXPECT_EQ(picture.Height(), 7);
}

}  // namespace
