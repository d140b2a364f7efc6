#include <gtest/gtest.h>

#include "BrickTextures.h"

namespace {

THeightField Field(int width, int height, float (*h)(int x, int y)) {
    THeightField field{width, height, std::vector<float>(size_t(width) * height)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) field.Heights[size_t(y) * width + x] = h(x, y);
    return field;
}

TEST(MakeTextures, NormalComponentsAreStoredAs127cPlus128Truncated) {
    const std::pair<float, int> cases[] = {{1.0f, 255}, {0.0f, 128}, {-1.0f, 1}, {0.5f, 191}, {-0.5f, 64}};
    for (const auto& [c, expected] : cases) EXPECT_EQ(EncodeNormalComponent(c), expected) << c;
}

TEST(MakeTextures, FlatGroundPointsStraightOut) {
    const TBitmap map = NormalMap(Field(8, 8, [](int, int) { return 2.5f; }));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(map.Pixel(x, y), RGB(128, 128, 255));
}

TEST(MakeTextures, SlopesTiltTheNormalAwayFromTheRise) {
    // Rising to the right by one texel per texel: the normal leans left.
    const TBitmap right = NormalMap(Field(16, 4, [](int x, int) { return float(x); }));
    EXPECT_EQ(right.Pixel(5, 2), RGB(38, 128, 217));
    // Rising towards the bottom of the picture: the normal leans to the top,
    // which is +y (green above 128).
    const TBitmap down = NormalMap(Field(4, 16, [](int, int y) { return float(y); }));
    EXPECT_EQ(down.Pixel(2, 5), RGB(128, 217, 217));
}

TEST(MakeTextures, BricksStandAboveTheJointsAndTile) {
    const TBrickLayout layout;
    const THeightField field = BrickHeights(256, 256, layout);
    // The middle of a brick face, a bed joint, and a head joint that every
    // other course shifts by half a brick.
    EXPECT_GT(field.At(32, 16), 2.0f);
    EXPECT_LT(field.At(32, 1), 0.5f);
    EXPECT_LT(field.At(1, 16), 0.5f);
    EXPECT_GT(field.At(1, 48), 2.0f);
    EXPECT_LT(field.At(33, 48), 0.5f);
    // The wall repeats across the texture's edges.
    for (int y = 0; y < 256; y += 7) EXPECT_NEAR(field.At(-1, y), field.At(255, y), 1e-6f);
}

TEST(MakeTextures, NoTexelFallsUnderTheMagentaColourKey) {
    // The texture store turns 5-bit magenta into transparency; neither map
    // may contain it.
    const TBrickLayout layout;
    const THeightField field = BrickHeights(256, 256, layout);
    for (const TBitmap& bitmap : {BrickColors(field, layout), NormalMap(field)})
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width(); ++x) {
                const TColor c = bitmap.Pixel(x, y);
                ASSERT_FALSE(GetRValue(c) >> 3 == 31 && GetGValue(c) >> 3 == 0 && GetBValue(c) >> 3 == 31);
            }
}

TEST(MakeTextures, BrickFacesAreRedderThanJoints) {
    const TBrickLayout layout;
    const TBitmap colors = BrickColors(BrickHeights(256, 256, layout), layout);
    const TColor face = colors.Pixel(32, 16), joint = colors.Pixel(32, 1);
    EXPECT_GT(GetRValue(face), 2 * GetGValue(face));
    EXPECT_LT(std::abs(int(GetRValue(joint)) - int(GetGValue(joint))), 20);
}

}  // namespace
