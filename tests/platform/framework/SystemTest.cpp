#include "System.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "Graphics.h"
#include "Icon.h"
#include "Jpeg.h"
#include "Metafile.h"
#include "PictureRegistrations.h"
#include "Windows.h"

namespace {

TEST(Units, StartInOrderEndInReverse) {
    std::string trace;
    InitializeUnit(
        "A", [&] { trace += "a+"; }, [&] { trace += "a-"; });
    InitializeUnit("B", nullptr, [&] { trace += "b-"; });
    InitializeUnit(
        "C", [&] { trace += "c+"; }, nullptr);
    EXPECT_EQ(trace, "a+c+");
    FinalizeUnits();
    EXPECT_EQ(trace, "a+c+b-a-");
    FinalizeUnits();
    EXPECT_EQ(trace, "a+c+b-a-") << "end steps run once";
}

TEST(UnitsDeathTest, HaltRunsOnlyTheEndSteps) {
    EXPECT_EXIT(
        {
            InitializeUnit("A", nullptr, [] { std::fputs("end A\n", stderr); });
            InitializeUnit("B", nullptr, [] { std::fputs("end B ", stderr); });
            Halt(3);
        },
        ::testing::ExitedWithCode(3), "end B end A");
}

TEST(ShowMessage, IsAPlainMessageBox) {
    ClearMessageBoxLog();
    ShowMessage("There is not DX8.1 support in your videocard");
    ASSERT_EQ(MessageBoxLog().size(), 1u);
    EXPECT_EQ(MessageBoxLog()[0].Text, "There is not DX8.1 support in your videocard");
    EXPECT_EQ(MessageBoxLog()[0].Caption, "dot3demo");
    EXPECT_EQ(MessageBoxLog()[0].Type, MB_OK);
    ClearMessageBoxLog();
}

TEST(FrameworkGraphics, RegistersTheFrameworksOwnClasses) {
    const TPictureRegistrationsScope registrations;
    InitializeFrameworkGraphics();
    EXPECT_EQ(TPicture::FindGraphicClass("BMP"), TBitmap::StaticClass());
    EXPECT_EQ(TPicture::FindGraphicClass("ico"), TIcon::StaticClass());
    EXPECT_EQ(TPicture::FindGraphicClass("jpg"), TJPEGImage::StaticClass());
    EXPECT_EQ(TPicture::FindGraphicClass("jpeg"), TJPEGImage::StaticClass());
    EXPECT_EQ(TPicture::FindGraphicClass("wmf"), TMetafile::StaticClass());
    EXPECT_EQ(TPicture::FindGraphicClass("emf"), TMetafile::StaticClass());
    EXPECT_EQ(TPicture::FindGraphicClass("dib"), nullptr) << "rle and dib come from the image library";
    const size_t count = TPicture::GraphicFilters().size();
    InitializeFrameworkGraphics();
    EXPECT_EQ(TPicture::GraphicFilters().size(), count) << "registering again adds nothing";
    EXPECT_EQ(TPicture::GraphicFilters()[1].Description, "JPEG Image File (*.jpg)");
}

}  // namespace
