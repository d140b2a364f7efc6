#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <unistd.h>

#include "GraphicFormats.h"
#include "ImageFiles.h"
#include "Icon.h"
#include "Jpeg.h"
#include "Metafile.h"
#include "PictureRegistrations.h"

namespace {

using imagefiles::Bytes;

// ---------------------------------------------------------------------------
// Helpers

TEST(Helpers, ByteSwapping) {
    uint8_t words[] = {1, 2, 3, 4, 5, 6};
    SwapWords(words, 2);
    EXPECT_EQ(Bytes(words, words + 6), (Bytes{2, 1, 4, 3, 5, 6}));
    uint8_t longs[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    SwapLongs(longs, 2);
    EXPECT_EQ(Bytes(longs, longs + 9), (Bytes{4, 3, 2, 1, 8, 7, 6, 5, 9}));
    EXPECT_EQ(SwapLong(0x11223344u), 0x44332211u);
}

TEST(Helpers, HorizontalDeltasWrapAndKeepTheirPixelDistance) {
    Bytes one = {10, 250, 10, 1};
    AddHorizontalDeltas<1>(one.data(), 4);
    EXPECT_EQ(one, (Bytes{10, 4, 14, 15}));
    Bytes three = {1, 2, 3, 1, 1, 1, 255, 0, 1, 9};
    AddHorizontalDeltas<3>(three.data(), 3);
    EXPECT_EQ(three, (Bytes{1, 2, 3, 2, 3, 4, 1, 3, 5, 9}));
    Bytes four = {1, 2, 3, 4, 1, 1, 1, 1};
    AddHorizontalDeltas<4>(four.data(), 2);
    EXPECT_EQ(four, (Bytes{1, 2, 3, 4, 2, 3, 4, 5}));
}

TEST(Helpers, UpsampleDoubleInterpolates) {
    Bytes plane(4 * 4, 0);
    plane[0] = 0, plane[1] = 100, plane[4] = 200, plane[5] = 50;
    UpsampleDouble(2, 2, 4, plane.data());
    EXPECT_EQ(plane, (Bytes{0, 50, 100, 100, 100, 88, 75, 75, 200, 125, 50, 50, 200, 125, 50, 50}));
}

TEST(Helpers, ErrorsAreInvalidGraphicWithFormattedText) {
    try {
        RaiseGraphicErrorFmt(gsInvalidImage, gsPNG);
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Cannot load image. Invalid or unexpected PNG image format.");
    }
    EXPECT_THROW(RaiseGraphicError("x"), EInvalidGraphic);
}

// ---------------------------------------------------------------------------
// Reader base

Bytes SmallTarga() {
    imagefiles::TargaLayout layout;
    layout.Width = 2;
    layout.Height = 1;
    layout.ColorMapEntrySize = 24;
    layout.PixelData = {1, 2, 3, 4, 5, 6};
    return imagefiles::MakeTarga(layout);
}

TEST(FormatGraphic, AssignCopiesPropertiesOnlyFromReaders) {
    const Bytes file = SmallTarga();
    TMemoryStream stream(file.data(), file.size());
    TTargaGraphic source;
    source.LoadFromStream(stream);

    TTargaGraphic target;
    target.Assign(source);
    EXPECT_EQ(target.Properties.Width, 2u);
    EXPECT_EQ(target.Properties.ColorScheme, csRGB);
    EXPECT_EQ(target.Width(), 2);

    TBitmap plain;
    plain.SetSize(5, 5);
    target.Assign(plain);
    EXPECT_EQ(target.Width(), 5);
    EXPECT_EQ(target.Properties.Width, 2u);
}

TEST(FormatGraphic, ReadPropertiesStartsFromAClearedRecord) {
    TPNGGraphic reader;
    reader.Properties.Flags = ifTiled;
    reader.Properties.RowsPerStrip = {1, 2, 3};
    reader.Properties.XResolution = 300;
    TMemoryStream empty;
    EXPECT_FALSE(reader.ReadProperties(empty, 0));
    EXPECT_EQ(reader.Properties.Flags, 0);
    EXPECT_TRUE(reader.Properties.RowsPerStrip.empty());
    EXPECT_EQ(reader.Properties.XResolution, 0.0f);
    EXPECT_EQ(reader.Properties.Gamma, 1.0f);
}

TEST(FormatGraphic, ProbeFileAsksTheClass) {
    char name[] = "/tmp/probeXXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    const Bytes file = SmallTarga();
    ASSERT_EQ(write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
    close(fd);
    EXPECT_TRUE(TFormatGraphic::ProbeFile(TTargaGraphic::StaticClass(), name));
    EXPECT_FALSE(TFormatGraphic::ProbeFile(TPNGGraphic::StaticClass(), name));
    EXPECT_FALSE(TFormatGraphic::ProbeFile(TFormatGraphic::StaticClass(), name));
    std::remove(name);
}

// ---------------------------------------------------------------------------
// Registry

class Registry : public ::testing::Test {
protected:
    void TearDown() override {
        list_.Clear();
    }
    const TPictureRegistrationsScope registrations_;
    TFileFormatList list_;
};

TEST_F(Registry, LookupIgnoresCaseAndEmptyExtensions) {
    list_.RegisterFileFormat("tga", gsDescTruevision, "", fkRaster, false, TTargaGraphic::StaticClass());
    list_.RegisterFileFormat("", gsDescTruevision, "", fkRaster, false, TTargaGraphic::StaticClass());
    EXPECT_EQ(list_.Extensions().size(), 1u);
    for (const char* name : {"tga", "TGA", "TgA"}) {
        EXPECT_EQ(list_.FindExtension(name), 0) << name;
        EXPECT_EQ(TPicture::FindGraphicClass(name), TTargaGraphic::StaticClass()) << name;
    }
    EXPECT_EQ(list_.FindExtension(""), -1);
    EXPECT_EQ(list_.FindGraphicClass(TPNGGraphic::StaticClass()), -1);
    // Identity, not inheritance.
    EXPECT_EQ(list_.FindGraphicClass(TFormatGraphic::StaticClass()), -1);
}

TEST_F(Registry, SecondRegistrationRaisesAndChangesNothing) {
    list_.RegisterFileFormat("tga", gsDescTruevision, "", fkRaster, false, TTargaGraphic::StaticClass());
    try {
        list_.RegisterFileFormat("TGA", "other", "x", fkVector, false, TPNGGraphic::StaticClass());
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Attempt to register TGA twice.");
    }
    ASSERT_EQ(list_.Classes().size(), 1u);
    EXPECT_EQ(list_.Classes()[0]->Count, 1);
    EXPECT_EQ(list_.Extensions()[0]->FormatKinds, fkRaster);
}

TEST_F(Registry, ReplaceMovesTheExtensionToTheOtherClass) {
    for (const char* ext : {"win", "vst", "vda", "tga", "icb"})
        list_.RegisterFileFormat(ext, gsDescTruevision, "", fkRaster, false, TTargaGraphic::StaticClass());
    list_.RegisterFileFormat("tga", gsDescPortableNetworkGraphic, "", fkRaster, true, TPNGGraphic::StaticClass());
    ASSERT_EQ(list_.Classes().size(), 2u);
    EXPECT_EQ(list_.Classes()[0]->Count, 4);
    EXPECT_EQ(list_.Classes()[1]->Count, 1);
    EXPECT_EQ(list_.Extensions()[3]->Class->GraphicClass, TPNGGraphic::StaticClass());
    EXPECT_EQ(TPicture::FindGraphicClass("tga"), TPNGGraphic::StaticClass());

    // Moving the last extension of a class drops the class entry.
    list_.RegisterFileFormat("tga", "", "", fkRaster, true, TTargaGraphic::StaticClass());
    ASSERT_EQ(list_.Classes().size(), 1u);
    EXPECT_EQ(list_.Classes()[0]->Count, 5);
}

TEST_F(Registry, ShownDescriptionPrefersTheIndividualOne) {
    list_.RegisterFileFormat("sgi", "SGI images", "SGI true color images", fkRaster, false,
                             TTargaGraphic::StaticClass());
    list_.RegisterFileFormat("bw", "", "", fkRaster, false, TTargaGraphic::StaticClass());
    bool foundSgi = false, foundBw = false;
    for (const auto& filter : TPicture::GraphicFilters()) {
        foundSgi |= filter.Description == "SGI true color images (*.sgi)";
        foundBw |= filter.Description == "SGI images (*.bw)";
    }
    EXPECT_TRUE(foundSgi);
    EXPECT_TRUE(foundBw);
}

TEST_F(Registry, UnregisteringAClassRemovesAllItsExtensions) {
    for (const char* ext : {"pcx", "pcc", "scr"})
        list_.RegisterFileFormat(ext, "ZSoft", "", fkRaster, false, TTargaGraphic::StaticClass());
    list_.RegisterFileFormat("png", "PNG", "", fkRaster, false, TPNGGraphic::StaticClass());
    list_.UnregisterFileFormat("", TTargaGraphic::StaticClass());
    ASSERT_EQ(list_.Extensions().size(), 1u);
    EXPECT_EQ(list_.Extensions()[0]->Extension, "png");
    ASSERT_EQ(list_.Classes().size(), 1u);
    EXPECT_EQ(TPicture::FindGraphicClass("pcc"), nullptr);

    // A single extension; unknown ones are ignored.
    list_.UnregisterFileFormat("nope", TPNGGraphic::StaticClass());
    list_.UnregisterFileFormat("PNG", TPNGGraphic::StaticClass());
    EXPECT_TRUE(list_.Extensions().empty());
    EXPECT_TRUE(list_.Classes().empty());
    EXPECT_EQ(TPicture::FindGraphicClass("png"), nullptr);
}

TEST(RegistryUnit, StartUpMakesEveryRowInOrderAndShutdownRemovesThem) {
    const TPictureRegistrationsScope registrations;
    GraphicFormatsInitialization();
    ASSERT_NE(FileFormatList, nullptr);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"bmp", "Windows bitmaps"},
        {"ico", "Windows icons"},
        {"wmf", "Windows metafiles"},
        {"emf", "Windows enhanced meta files"},
        {"jfif", "JFIF images"},
        {"jpg", "JPG images"},
        {"jpe", "JPE images"},
        {"jpeg", "JPEG images"},
        {"rle", "Run length encoded Windows bitmaps"},
        {"dib", "Device independant Windows bitmaps"},
        {"win", "Truevision images"},
        {"vst", "Truevision images"},
        {"vda", "Truevision images"},
        {"tga", "Truevision images"},
        {"icb", "Truevision images"},
        {"tiff", "Macintosh TIFF images"},
        {"tif", "PC TIF images"},
        {"fax", "GFI fax images"},
        {"eps", "Encapsulated Postscript images"},
        {"pcx", "ZSoft Paintbrush images"},
        {"pcc", "ZSoft Paintbrush images"},
        {"scr", "Word 5.x screen capture images"},
        {"rpf", "Alias/Wavefront images"},
        {"rla", "Alias/Wavefront images"},
        {"sgi", "SGI true color images"},
        {"rgba", "SGI true color images with alpha"},
        {"rgb", "SGI true color images"},
        {"bw", "SGI black/white images"},
        {"psd", "Photoshop images"},
        {"pdd", "Photoshop images"},
        {"ppm", "Portable pixel map images"},
        {"pgm", "Portable gray map images"},
        {"pbm", "Portable bitmap images"},
        {"pnm", "Portable any map images"},
        {"pam", "Portable arbitrary map images"},
        {"cel", "Autodesk images"},
        {"pic", "Autodesk images"},
        {"pcd", "Kodak Photo-CD images"},
        {"cut", "Dr. Halo images"},
        {"psp", "Paintshop Pro images"},
        {"png", "Portable network graphic images"},
    };
    // Kinds other than a plain raster format.
    const std::map<std::string, uint8_t> kinds = {
        {"wmf", fkVector}, {"emf", fkVector}, {"psd", fkLayered | fkRaster}, {"pdd", fkLayered | fkRaster},
        {"psp", fkRaster | fkVector}, {"tiff", fkRaster | fkMultiImage}, {"tif", fkRaster | fkMultiImage},
        {"fax", fkRaster | fkMultiImage}};
    const auto& extensions = FileFormatList->Extensions();
    ASSERT_EQ(extensions.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto& entry = *extensions[i];
        const std::string shown = entry.Description.empty() ? entry.Class->Description : entry.Description;
        EXPECT_EQ(entry.Extension, expected[i].first);
        EXPECT_EQ(shown, expected[i].second) << entry.Extension;
        const auto kind = kinds.find(entry.Extension);
        EXPECT_EQ(entry.FormatKinds, kind == kinds.end() ? uint8_t(fkRaster) : kind->second) << entry.Extension;
    }
    const int tiff = FileFormatList->FindGraphicClass(TTIFFGraphic::StaticClass());
    ASSERT_GE(tiff, 0);
    EXPECT_EQ(FileFormatList->Classes()[tiff]->Description, "Tagged image file format images");
    EXPECT_EQ(TPicture::FindGraphicClass("FAX"), TTIFFGraphic::StaticClass());
    EXPECT_EQ(TPicture::FindGraphicClass("eps"), TEPSGraphic::StaticClass());
    EXPECT_EQ(FileFormatList->Classes().size(), 17u);
    EXPECT_EQ(TPicture::FindGraphicClass("VDA"), TTargaGraphic::StaticClass());
    EXPECT_EQ(TPicture::FindGraphicClass("icb"), TTargaGraphic::StaticClass());
    EXPECT_EQ(TPicture::FindGraphicClass("Png"), TPNGGraphic::StaticClass());
    EXPECT_EQ(TPicture::FindGraphicClass("jpe"), TJPEGImage::StaticClass());

    GraphicFormatsInitialization();  // runs once
    EXPECT_EQ(FileFormatList->Extensions().size(), expected.size());
    GraphicFormatsFinalization();
    ASSERT_NE(FileFormatList, nullptr);
    GraphicFormatsFinalization();
    EXPECT_EQ(FileFormatList, nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("tga"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("png"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("icb"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("tif"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("eps"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("pcd"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("cel"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("cut"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("rpf"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("pdd"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("psp"), nullptr);
}

TEST(RegistryUnit, PictureLoadsTargaFilesByExtension) {
    const TPictureRegistrationsScope registrations;
    GraphicFormatsInitialization();
    char name[] = "/tmp/pictureXXXXXX.VdA";
    const int fd = mkstemps(name, 4);
    ASSERT_GE(fd, 0);
    const Bytes file = SmallTarga();
    ASSERT_EQ(write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
    close(fd);
    TPicture picture;
    picture.LoadFromFile(name);
    std::remove(name);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Graphic()->ClassType(), TTargaGraphic::StaticClass());
    EXPECT_EQ(picture.Width(), 2);
    GraphicFormatsFinalization();
}

}  // namespace
