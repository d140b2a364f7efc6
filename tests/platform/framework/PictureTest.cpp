#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "Graphics.h"
#include "PictureRegistrations.h"
#include "SysUtils.h"

namespace {

// A stand-in graphic class whose descriptors the tests register and remove.
class TFakeGraphic : public TBitmap {
public:
    TGraphicClass ClassType() const override { return &Desc; }
    void LoadFromStream(TStream&) override { SetSize(7, 5); }
    static const TGraphicClassDesc Desc, Other;
};
const TGraphicClassDesc TFakeGraphic::Desc = {
    "TFakeGraphic", [] { return std::unique_ptr<TGraphic>(new TFakeGraphic); }, nullptr, &TBitmap::ClassDesc};
const TGraphicClassDesc TFakeGraphic::Other = {"TOther", nullptr, nullptr, nullptr};

// A graphic that wants the name of the file it is loaded from.
class TNamedGraphic : public TFakeGraphic {
public:
    TGraphicClass ClassType() const override { return &Desc; }
    void LoadFromOpenFile(TStream& stream, const std::string& fileName) override {
        FileName = fileName;
        TFakeGraphic::LoadFromOpenFile(stream, fileName);
    }
    std::string FileName;
    static const TGraphicClassDesc Desc;
};
const TGraphicClassDesc TNamedGraphic::Desc = {
    "TNamedGraphic", [] { return std::unique_ptr<TGraphic>(new TNamedGraphic); }, nullptr, &TFakeGraphic::Desc};

class PictureTest : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(path_); }
    const TPictureRegistrationsScope registrations_;
    std::string path_ = (std::filesystem::temp_directory_path() / ("picture-" + std::to_string(::getpid()))).string();
};

TEST_F(PictureTest, LookupIsCaseInsensitiveAndMostRecentWins) {
    TPicture::RegisterFileFormat("zzA", "Fake", &TFakeGraphic::Desc);
    EXPECT_EQ(TPicture::FindGraphicClass("ZZA"), &TFakeGraphic::Desc);
    EXPECT_EQ(TPicture::FindGraphicClass("zza"), &TFakeGraphic::Desc);
    TPicture::RegisterFileFormat("ZZA", "Other", &TFakeGraphic::Other);
    EXPECT_EQ(TPicture::FindGraphicClass("zzA"), &TFakeGraphic::Other);
    TPicture::UnregisterGraphicClass(&TFakeGraphic::Other);
    EXPECT_EQ(TPicture::FindGraphicClass("zza"), &TFakeGraphic::Desc) << "the earlier registration shows again";
    const size_t filters = TPicture::GraphicFilters().size();
    TPicture::RegisterFileFormat("", "Nothing", &TFakeGraphic::Desc);
    EXPECT_EQ(TPicture::FindGraphicClass(""), nullptr);
    EXPECT_EQ(TPicture::GraphicFilters().size(), filters) << "an empty extension is not registered";
    EXPECT_EQ(TPicture::FindGraphicClass("zz"), nullptr);
}

TEST_F(PictureTest, UnknownExtensionMessage) {
    TPicture picture;
    try {
        picture.LoadFromFile("/tmp/x.Qqz");
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& error) {
        EXPECT_STREQ(error.what(), "Unknown picture file extension (.Qqz)");
    }
    EXPECT_THROW(picture.LoadFromFile("/tmp/noextension"), EInvalidGraphic);
}

TEST_F(PictureTest, LoadsThroughTheRegisteredClassAndKeepsTheOldGraphicOnFailure) {
    TPicture::RegisterFileFormat("zzq", "Fake", &TFakeGraphic::Desc);
    std::fclose(std::fopen((path_ + ".ZZQ").c_str(), "w"));
    TPicture picture;
    picture.LoadFromFile(path_ + ".ZZQ");
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Graphic()->ClassType(), &TFakeGraphic::Desc);
    EXPECT_EQ(picture.Width(), 7);
    EXPECT_THROW(picture.LoadFromFile(path_ + "-missing.zzq"), EFOpenError);
    EXPECT_EQ(picture.Height(), 5);
    std::filesystem::remove(path_ + ".ZZQ");
}

TEST_F(PictureTest, LoadingRunsTheClassOwnFileStep) {
    TPicture::RegisterFileFormat("zzn", "Named", &TNamedGraphic::Desc);
    const std::string name = path_ + ".zzn";
    std::fclose(std::fopen(name.c_str(), "w"));
    TPicture picture;
    picture.LoadFromFile(name);
    const auto* graphic = dynamic_cast<const TNamedGraphic*>(picture.Graphic());
    ASSERT_NE(graphic, nullptr);
    EXPECT_EQ(graphic->FileName, name);
    EXPECT_EQ(graphic->Width(), 7) << "the file was loaded after the name was taken";
    std::filesystem::remove(name);
}

TEST_F(PictureTest, FiltersListRegistrationsMostRecentFirstAfterAll) {
    TPicture::RegisterFileFormat("zza", "Fake images", &TFakeGraphic::Desc);
    TPicture::RegisterFileFormat("zzb", "Other images", &TFakeGraphic::Other);
    TPicture::RegisterFileFormat("zza", "Shadowing", &TFakeGraphic::Other);
    const auto filters = TPicture::GraphicFilters();
    ASSERT_EQ(filters.size(), 4u);
    EXPECT_EQ(filters[0].Description, "All (*.zza;*.zzb)");
    EXPECT_EQ(filters[0].Patterns, "*.zza;*.zzb");
    EXPECT_EQ(filters[1].Description, "Shadowing (*.zza)");
    EXPECT_EQ(filters[2].Description, "Other images (*.zzb)");
    EXPECT_EQ(filters[3].Description, "Fake images (*.zza)");
    EXPECT_EQ(filters[3].Patterns, "*.zza");
}

TEST(GraphicClasses, InheritsFromFollowsParents) {
    EXPECT_TRUE(InheritsFrom(&TFakeGraphic::Desc, TBitmap::StaticClass()));
    EXPECT_TRUE(InheritsFrom(TBitmap::StaticClass(), TBitmap::StaticClass()));
    EXPECT_FALSE(InheritsFrom(TBitmap::StaticClass(), &TFakeGraphic::Desc));
    EXPECT_FALSE(InheritsFrom(&TFakeGraphic::Other, TBitmap::StaticClass()));
    EXPECT_FALSE(InheritsFrom(nullptr, TBitmap::StaticClass()));
}

}  // namespace
