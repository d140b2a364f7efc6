// The demo's square drawn through the whole engine and the software device
// into a memory target, with pixels checked against values worked out by
// hand.
#include <cmath>

#include "EngineFixture.h"

namespace {

// The square spans about 180 pixels either side of the panel's centre:
// 16 / 48 x cot(fov / 2) of the half height (224.5), and the same in x
// once the aspect ratio is divided out.
constexpr int CentreX = 288, CentreY = 224;
constexpr int InsideX = 120, InsideY = 60;   // near the top-left corner
constexpr int OutsideX = 10, OutsideY = 10;  // grey background

int Channel(uint32_t pixel, int shift) { return static_cast<int>((pixel >> shift) & 0xFF); }

void ExpectColour(uint32_t pixel, int red, int green, int blue, int tolerance, const char* where) {
    EXPECT_NEAR(Channel(pixel, 16), red, tolerance) << where;
    EXPECT_NEAR(Channel(pixel, 8), green, tolerance) << where;
    EXPECT_NEAR(Channel(pixel, 0), blue, tolerance) << where;
}

class DemoPicture : public EngineFrame {
protected:
    // Base: yellow (exact in 5 bits per channel). Normal map: the flat
    // normal (128, 128, 255), which keeps 5 bits as (16, 16, 31).
    void LoadTextures() {
        ASSERT_TRUE(TextureBuffer->LoadTexture(10006, WriteBitmap("base.bmp", 64, 64, 0, 255, 255),
                                               false, false));
        ASSERT_TRUE(TextureBuffer->LoadTexture(
            10007, WriteBitmap("normal.bmp", 64, 64, 255, 128, 128), false, false));
    }

    // Two frames: the second presents the first's picture.
    void Draw(uint16_t bump, float lightZ) {
        UseDemoScene(bump, 0, 0);
        const auto scene = viewport->SceneCallback;
        viewport->SceneCallback = [this, scene, lightZ] {
            scene();
            // The scene's light: the camera looks straight at the square, so
            // only LightZ is non-zero.
            const uint32_t specular = VectorToColor(MakeVector(0, 0, lightZ));
            for (int i = 0; i < viewport->Triangles.Count; ++i)
                for (tvertex_3d& c : viewport->Triangles.Vertices[i]) c.Specular = specular;
        };
        viewport->RenderFrame();
        viewport->RenderFrame();
    }
};

}  // namespace

TEST_F(DemoPicture, BaseTextureAloneWithoutBumpMapping) {
    LoadTextures();
    Draw(0, 0.5f);
    ASSERT_EQ(target->Presents(), 2);
    ExpectColour(target->Pixel(CentreX, CentreY), 255, 255, 0, 1, "centre");
    ExpectColour(target->Pixel(InsideX, InsideY), 255, 255, 0, 1, "inside");
    ExpectColour(target->Pixel(OutsideX, OutsideY), 128, 128, 128, 0, "background");
    ExpectColour(target->Pixel(CentreX, 430), 128, 128, 128, 0, "below the square");
}

TEST_F(DemoPicture, Dot3LightingScalesTheBase) {
    LoadTextures();
    for (const float lightZ : {0.25f, 0.5f}) {
        Draw(1, lightZ);
        // Stage 0: 4 x sum((n - 0.5)(l - 0.5)) with n = (16, 16, 31) in 5
        // bits and l the packed light; the x and y terms are almost zero.
        const float n[3] = {132 / 255.0f, 132 / 255.0f, 1.0f};
        const float l[3] = {128 / 255.0f, 128 / 255.0f, std::trunc(lightZ * 127 + 128) / 255.0f};
        float dot = 0;
        for (int k = 0; k < 3; ++k) dot += (n[k] - 0.5f) * (l[k] - 0.5f);
        dot = std::clamp(4 * dot, 0.0f, 1.0f);
        // Stage 1: 2 x lit x base, base yellow.
        const int lit = static_cast<int>(std::lround(std::min(1.0f, 2 * dot) * 255));
        ExpectColour(target->Pixel(CentreX, CentreY), lit, lit, 0, 3, "centre");
        ExpectColour(target->Pixel(InsideX, InsideY), lit, lit, 0, 3, "inside");
        ExpectColour(target->Pixel(OutsideX, OutsideY), 128, 128, 128, 0, "background");
    }
}

TEST_F(DemoPicture, MissingTexturesDrawUntexturedSquare) {
    // No texture loaded: the stages read opaque white.
    Draw(0, 0.5f);
    ExpectColour(target->Pixel(CentreX, CentreY), 255, 255, 255, 0, "centre");
    ExpectColour(target->Pixel(OutsideX, OutsideY), 128, 128, 128, 0, "background");
}

TEST_F(DemoPicture, OrbitBehindTheSquareCullsItsBack) {
    LoadTextures();
    TMouseCamera mouse;
    mouse.Camera = &camera;
    mouse.BasePosition = camera.Position;
    mouse.Center = camera.Target;
    mouse.Reset();
    mouse.Update(0, 0);
    mouse.Rotate(180, 0);  // half a turn: the camera looks at the back
    mouse.Update(180, 0);
    ASSERT_NEAR(camera.Position.z, 48, 1e-3f);
    Draw(0, 0.5f);
    ExpectColour(target->Pixel(CentreX, CentreY), 128, 128, 128, 0, "centre");
    ExpectColour(target->Pixel(InsideX, InsideY), 128, 128, 128, 0, "inside");
}
