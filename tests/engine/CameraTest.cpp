// The look-at camera and the mouse camera, without a device: UpdateView
// then only derives the matrices.
#include <Mouse_Camera_2.h>
#include <ZorDX_Render.h>
#include <gtest/gtest.h>

namespace {

void ExpectVector(const tvector& v, float x, float y, float z, float eps = 1e-4f) {
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

void ExpectIdentityExceptRow4(const tmatrix& m, float x, float y, float z) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(m.m[r][c], r == c ? 1.0f : 0.0f, 1e-6f);
    EXPECT_NEAR(m.m41, x, 1e-5f);
    EXPECT_NEAR(m.m42, y, 1e-5f);
    EXPECT_NEAR(m.m43, z, 1e-5f);
    EXPECT_NEAR(m.m44, 1, 1e-6f);
}

// The demo's set-up: camera at (0, 0, -48) looking at the origin, zoom 0.5
// and pan 2.0 units per pixel.
struct DemoCamera : ::testing::Test {
    void SetUp() override {
        camera.Position = MakeVector(0, 0, -48);
        camera.Target = MakeVector(0, 0, 0);
        mouse.Camera = &camera;
        mouse.ZoomSpeed = 0.5f;
        mouse.PanSpeed = 2.0f;
        mouse.BasePosition = camera.Position;
        mouse.Center = camera.Target;
        mouse.Reset();
    }
    TGLCamera camera;
    TMouseCamera mouse;
};

}  // namespace

TEST(Camera, DefaultsGiveIdentityView) {
    TGLCamera camera;
    ExpectVector(camera.Position, 0, 0, 0);
    ExpectVector(camera.Target, 0, 0, 1);
    EXPECT_EQ(camera.UpScale, 1.0f);
    camera.UpdateView();
    ExpectVector(camera.Up, 0, 1, -1);
    ExpectVector(camera.Direction, 0, 0, 1);
    ExpectIdentityExceptRow4(camera.View, 0, 0, 0);
}

TEST(Camera, DemoStartViewMovesWorldAwayFromEye) {
    TGLCamera camera;
    camera.Position = MakeVector(0, 0, -48);
    camera.Target = MakeVector(0, 0, 0);
    camera.UpdateView();
    ExpectVector(camera.Eye, 0, 0, -48);
    ExpectVector(camera.LookAt, 0, 0, 0);
    ExpectVector(camera.Up, 0, 1, -48);
    ExpectVector(camera.Direction, 0, 0, 1);
    ExpectIdentityExceptRow4(camera.View, 0, 0, 48);
}

TEST(Camera, UpVectorFollowsEyeHeightAndScale) {
    TGLCamera camera;
    camera.Position = MakeVector(3, -1, -4);
    camera.Target = MakeVector(0, -1, 0);
    camera.UpdateView();
    ExpectVector(camera.Up, 3, 0, -4);  // |1 + (-1)| = 0
    ExpectVector(camera.Direction, -0.6f, 0, 0.8f);

    camera.Position = MakeVector(0, -5, -1);
    camera.UpScale = 2;
    camera.UpdateView();
    EXPECT_FLOAT_EQ(camera.Up.y, 3);  // |2 + (-5)|
}

TEST(Camera, SteepDownwardViewTurnsUpsideDown) {
    TGLCamera camera;
    camera.Position = MakeVector(0, 0, -1);
    // Target.y - Position.y = -0.5 is above -|UpScale + Eye.y| = -1: upright.
    camera.Target = MakeVector(0, -0.5f, 0);
    camera.UpdateView();
    EXPECT_GT(camera.View.m11, 0.99f);
    // -5 is below -1: the camera's x axis flips, the image turns over.
    camera.Target = MakeVector(0, -5, 0);
    camera.UpdateView();
    EXPECT_LT(camera.View.m11, -0.99f);
}

TEST_F(DemoCamera, ResetPlacesCameraAndForgetsMouse) {
    ExpectVector(camera.Position, 0, 0, -48);
    ExpectVector(camera.Target, 0, 0, -47);
    EXPECT_EQ(mouse.LastX, -1);
    EXPECT_EQ(mouse.LastY, -1);
}

TEST_F(DemoCamera, OrbitQuarterTurn) {
    mouse.Update(100, 100);
    mouse.Rotate(190, 100);
    EXPECT_FLOAT_EQ(mouse.Yaw, 90);
    EXPECT_FLOAT_EQ(mouse.Pitch, 0);
    mouse.Update(190, 100);
    ExpectVector(camera.Position, -48, 0, 0);
    ExpectVector(camera.Target, -47, 0, 0);
    // The camera keeps looking at the centre.
    camera.UpdateView();
    ExpectVector(camera.Direction, 1, 0, 0);
}

TEST_F(DemoCamera, ZoomMovesTowardsCentre) {
    mouse.Update(0, 0);
    mouse.Zoom(10);
    EXPECT_FLOAT_EQ(mouse.Dolly, 5);
    mouse.Update(0, 10);
    ExpectVector(camera.Position, 0, 0, -43);
    ExpectVector(camera.Target, 0, 0, -42);
}

TEST_F(DemoCamera, PanMovesAgainstHorizontalDragAndWithVertical) {
    mouse.Update(0, 0);
    mouse.Pan(10, 5);
    EXPECT_FLOAT_EQ(mouse.PanX, -20);
    EXPECT_FLOAT_EQ(mouse.PanY, 10);
    mouse.Update(10, 5);
    ExpectVector(camera.Position, -20, 10, -48);
    ExpectVector(camera.Target, -20, 10, -47);
}

TEST_F(DemoCamera, PitchIsClampedAndYawWrapsOnce) {
    const struct {
        float pitch, yaw;
        int dx, dy;
        float expectedPitch, expectedYaw;
    } cases[] = {
        {0, 0, 0, 95, 89, 0},   {0, 0, 0, -120, -89, 0}, {80, 0, 0, 5, 85, 0},
        {0, 350, 20, 0, 0, 10}, {0, 10, -30, 0, 0, 340}, {0, 10, 800, 0, 0, 450},
        {0, 0, -1, 0, 0, 359},  {0, 359, 1, 0, 0, 0},
    };
    for (const auto& k : cases) {
        mouse.Pitch = k.pitch;
        mouse.Yaw = k.yaw;
        mouse.LastX = 500;
        mouse.LastY = 500;
        mouse.Rotate(500 + k.dx, 500 + k.dy);
        EXPECT_FLOAT_EQ(mouse.Pitch, k.expectedPitch) << k.dy;
        EXPECT_FLOAT_EQ(mouse.Yaw, k.expectedYaw) << k.yaw << " + " << k.dx;
    }
}

TEST_F(DemoCamera, SentinelPositionGivesZeroDelta) {
    // First drag after Reset: nothing moves.
    mouse.Rotate(50, 60);
    EXPECT_EQ(mouse.Yaw, 0);
    EXPECT_EQ(mouse.Pitch, 0);
    mouse.Update(50, 60);
    // The next one moves by the delta from that first position.
    mouse.Rotate(60, 63);
    EXPECT_FLOAT_EQ(mouse.Yaw, 10);
    EXPECT_FLOAT_EQ(mouse.Pitch, 3);

    // A real mouse position of -1 is taken for "none" too.
    mouse.Update(-1, 20);
    mouse.Rotate(30, 20);
    EXPECT_FLOAT_EQ(mouse.Yaw, 10);

    // Zoom replaces only the y sentinel.
    mouse.Reset();
    mouse.Zoom(40);
    EXPECT_EQ(mouse.LastX, -1);
    EXPECT_EQ(mouse.LastY, 40);
    EXPECT_EQ(mouse.Dolly, 0);
}

TEST_F(DemoCamera, SeveralButtonsSeeTheSameLastPosition) {
    mouse.Update(100, 100);
    // Left and middle held: pan, then zoom, then update, all from (100, 100).
    mouse.Pan(110, 104);
    mouse.Zoom(104);
    mouse.Update(110, 104);
    EXPECT_FLOAT_EQ(mouse.PanX, -20);
    EXPECT_FLOAT_EQ(mouse.PanY, 8);
    EXPECT_FLOAT_EQ(mouse.Dolly, 2);
    ExpectVector(camera.Position, -20, 8, -46);
    EXPECT_EQ(mouse.LastX, 110);
    EXPECT_EQ(mouse.LastY, 104);
}

TEST_F(DemoCamera, MoveWithoutButtonsOnlyRecordsPosition) {
    mouse.Update(5, 6);
    ExpectVector(camera.Position, 0, 0, -48);
    ExpectVector(camera.Target, 0, 0, -47);
    EXPECT_EQ(mouse.LastX, 5);
    EXPECT_EQ(mouse.LastY, 6);
}

TEST_F(DemoCamera, InactiveMouseCameraChangesNothing) {
    for (const bool unsetCamera : {true, false}) {
        TMouseCamera idle;
        idle.Center = MakeVector(1, 2, 3);
        if (unsetCamera) {
            idle.Camera = nullptr;
        } else {
            idle.Camera = &camera;
            idle.Enabled = false;
        }
        camera.Position = MakeVector(7, 8, 9);
        idle.Pan(10, 10);
        idle.Zoom(10);
        idle.Rotate(10, 10);
        idle.Update(10, 10);
        idle.Pan(30, 30);
        idle.Zoom(30);
        idle.Rotate(30, 30);
        idle.Reset();
        EXPECT_EQ(idle.LastX, -1);
        EXPECT_EQ(idle.LastY, -1);
        EXPECT_EQ(idle.PanX, 0);
        EXPECT_EQ(idle.PanY, 0);
        EXPECT_EQ(idle.Dolly, 0);
        EXPECT_EQ(idle.Yaw, 0);
        EXPECT_EQ(idle.Pitch, 0);
        ExpectVector(camera.Position, 7, 8, 9);
    }
}
