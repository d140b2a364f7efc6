#include "SysUtils.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "CommaLocale.h"

namespace {

TEST(FloatToStr, GeneralFormatTable) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {0.5, "0.5"},
        {-0.25, "-0.25"},
        {0.0, "0"},
        {-0.0, "0"},
        {100.0, "100"},
        {1e20, "1E20"},
        {1.5e20, "1.5E20"},
        {123456789012345.0, "123456789012345"},
        {1e15, "1E15"},
        {0.0001, "0.0001"},
        {0.00001, "1E-5"},
        {-1e-7, "-1E-7"},
        {1.0 / 3.0, "0.333333333333333"},
        {2.0 / 3.0, "0.666666666666667"},
        {0.1f, "0.100000001490116"},
        {9.9999999999999999e14, "1E15"},
        {1.23456789012345678e-10, "1.23456789012346E-10"},
        {-48.0, "-48"},
    };
    for (const auto& c : cases) EXPECT_EQ(FloatToStr(c.value, '.'), c.text) << c.value;
}

TEST(FloatToStr, UsesTheGivenSeparatorAndNamesSpecialValues) {
    EXPECT_EQ(FloatToStr(0.5, ','), "0,5");
    EXPECT_EQ(FloatToStr(-1234.5678, ','), "-1234,5678");
    EXPECT_EQ(FloatToStr(2.5e-9, ','), "2,5E-9");
    EXPECT_EQ(FloatToStr(INFINITY, '.'), "INF");
    EXPECT_EQ(FloatToStr(-INFINITY, '.'), "-INF");
    EXPECT_EQ(FloatToStr(NAN, '.'), "NAN");
}

TEST(StrToFloatDef, AcceptsOnlyTheNumberGrammar) {
    const struct {
        const char* text;
        char separator;
        double expected;
    } cases[] = {
        {"0.50", '.', 0.5}, {" 1.5 ", '.', 1.5}, {"-2", '.', -2},     {"+2", '.', 2},    {".5", '.', 0.5},
        {"5.", '.', 5},     {"1e3", '.', 1000},  {"1E-2", '.', 0.01}, {"abc", '.', -7},  {"", '.', -7},
        {"-", '.', -7},     {".", '.', -7},      {"1e", '.', -7},     {"1.5x", '.', -7}, {"1,5", '.', -7},
        {"1,5", ',', 1.5},  {"1.5", ',', -7},    {"1e400", '.', -7},  {"- 1", '.', -7},  {"1 2", '.', -7},
    };
    for (const auto& c : cases) EXPECT_EQ(StrToFloatDef(c.text, -7, c.separator), c.expected) << '"' << c.text << '"';
}

// The locale path, under a comma locale (compiled for the test where the
// system has none generated).
TEST(DecimalSeparator, FollowsTheNumericLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    EXPECT_EQ(DecimalSeparator(), '.');
    const std::filesystem::path folder = testing::TempDir() + "comma-locale-" + std::to_string(getpid());
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(UseCommaLocale(folder)) << "no comma locale: localedef and the locales package are needed";
    EXPECT_EQ(DecimalSeparator(), ',');
    EXPECT_EQ(FloatToStr(0.5), "0,5");
    EXPECT_EQ(StrToFloatDef("0,5", 0), 0.5);
    EXPECT_EQ(StrToFloatDef("0.5", 0), 0);
    std::setlocale(LC_NUMERIC, saved.c_str());
    std::filesystem::remove_all(folder);
}

TEST(FileNames, ExtensionsAndCase) {
    EXPECT_EQ(ExtractFileExt("x.TGA"), ".TGA");
    EXPECT_EQ(ExtractFileExt("/a/b.c/file"), "");
    EXPECT_EQ(ExtractFileExt("archive.tar.gz"), ".gz");
    EXPECT_EQ(ExtractFileExt("noext"), "");
    EXPECT_EQ(LowerCase("ABC.Tga\xC4"), "abc.tga\xC4");
    EXPECT_EQ(ChangeFileExt("/a/x.CUT", ".pal"), "/a/x.pal");
    EXPECT_EQ(ChangeFileExt("/a.b/x", ".pal"), "/a.b/x.pal");
}

TEST(FileNames, FileExistsOnlyForFiles) {
    const std::string dir = std::filesystem::temp_directory_path().string();
    const std::string file = dir + "/fileexists-" + std::to_string(::getpid());
    EXPECT_FALSE(FileExists(file));
    std::fclose(std::fopen(file.c_str(), "w"));
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir));
    std::remove(file.c_str());
}

TEST(Format, TakesStdStrings) {
    EXPECT_EQ(Format("Attempt to register %s twice.", std::string("tga")), "Attempt to register tga twice.");
    EXPECT_EQ(Format("%d x %d", 3, -4), "3 x -4");
}

}  // namespace
