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
