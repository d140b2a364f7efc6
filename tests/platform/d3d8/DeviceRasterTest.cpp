// Coverage, clipping, culling, interpolation and depth of the software device.
#include "DeviceFixture.h"

#include <d3dx8.h>

#include <cmath>
#include <cstring>
#include <numbers>

namespace {

class RasterTest : public DeviceTest {
protected:
    // Camera at the origin looking along +z, 90 degree field of view.
    void UsePerspective(float nearPlane = 1.0f) {
        D3DXMATRIX identity, projection;
        D3DXMatrixScaling(&identity, 1, 1, 1);
        D3DXMatrixPerspectiveFovLH(&projection, std::numbers::pi_v<float> / 2, 1.0f, nearPlane, 100.0f);
        device_->SetTransform(D3DTS_WORLD, &identity);
        device_->SetTransform(D3DTS_VIEW, &identity);
        device_->SetTransform(D3DTS_PROJECTION, &projection);
    }

    HRESULT DrawScene(const std::vector<SceneVertex>& vertices) {
        device_->SetVertexShader(kSceneVertexFormat);
        device_->BeginScene();
        const HRESULT result = device_->DrawPrimitiveUP(
            D3DPT_TRIANGLELIST, static_cast<UINT>(vertices.size() / 3), vertices.data(), sizeof(SceneVertex));
        device_->EndScene();
        return result;
    }

    static SceneVertex At(float x, float y, float z, float u = 0, float v = 0, uint32_t color = 0xFFFFFFFF) {
        return SceneVertex{x, y, z, color, 0, u, v, u, v, u, v};
    }

    int CountPixels(int width, int height, uint32_t rgb) {
        int count = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) count += Rgb(x, y) == rgb ? 1 : 0;
        return count;
    }
};

TEST_F(RasterTest, TrianglesSharingEdgesDrawEveryPixelExactlyOnce) {
    // A mesh over the whole target whose inner corners sit on pixel centres,
    // on half pixels and in between; additive blending shows any pixel drawn
    // twice (0x20) or missed (0).
    MakeDevice(32, 32, false);
    UseDiffuseOnly();
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    constexpr int kSide = 5;
    const float offsets[] = {0.0f, 0.5f, 0.25f, 0.75f, 0.125f, 0.0f, 0.5f, 0.9f, 0.3f};
    auto corner = [&](int i, int j) {
        const bool inner = i > 0 && i < kSide - 1 && j > 0 && j < kSide - 1;
        const float dx = inner ? offsets[(i * 3 + j) % 9] : 0.0f;
        const float dy = inner ? offsets[(i + j * 5) % 9] : 0.0f;
        return TLVertex{-2.0f + i * 9.0f + dx, -2.0f + j * 9.0f + dy, 0.5f, 1, 0xFF101010, 0, 0, 0};
    };
    std::vector<TLVertex> mesh;
    for (int i = 0; i + 1 < kSide; ++i)
        for (int j = 0; j + 1 < kSide; ++j) {
            const TLVertex a = corner(i, j), b = corner(i + 1, j), c = corner(i + 1, j + 1), d = corner(i, j + 1);
            if ((i + j) % 2 == 0)
                mesh.insert(mesh.end(), {a, b, c, a, c, d});
            else
                mesh.insert(mesh.end(), {a, b, d, b, c, d});
        }
    // A fan around a vertex on a pixel centre, with edges at many slopes.
    const TLVertex centre{16, 16, 0.5f, 1, 0xFF101010, 0, 0, 0};
    ASSERT_EQ(DrawTL(mesh), D3D_OK);
    EXPECT_EQ(CountPixels(32, 32, 0x101010), 32 * 32);

    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    std::vector<TLVertex> fan;
    constexpr int kSpokes = 13;
    for (int k = 0; k < kSpokes; ++k) {
        const double a0 = 2 * std::numbers::pi * k / kSpokes, a1 = 2 * std::numbers::pi * (k + 1) / kSpokes;
        const TLVertex p{static_cast<float>(16 + 40 * std::cos(a0)), static_cast<float>(16 + 40 * std::sin(a0)), 0.5f, 1, 0xFF101010, 0, 0, 0};
        const TLVertex q{static_cast<float>(16 + 40 * std::cos(a1)), static_cast<float>(16 + 40 * std::sin(a1)), 0.5f, 1, 0xFF101010, 0, 0, 0};
        fan.insert(fan.end(), {centre, p, q});
    }
    ASSERT_EQ(DrawTL(fan), D3D_OK);
    EXPECT_EQ(CountPixels(32, 32, 0x101010), 32 * 32);
}

TEST_F(RasterTest, PixelCentresAtIntegersWithTopLeftRule) {
    MakeDevice(10, 10, false);
    UseDiffuseOnly();
    ASSERT_EQ(DrawTL(Rect(2, 2, 6, 5, 0xFFFFFFFF)), D3D_OK);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(Rgb(x, y), (x >= 2 && x < 6 && y >= 2 && y < 5) ? 0xFFFFFFu : 0u) << x << "," << y;

    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    ASSERT_EQ(DrawTL(Rect(1.5f, 1.5f, 3.5f, 3.5f, 0xFFFFFFFF)), D3D_OK);
    EXPECT_EQ(CountPixels(10, 10, 0xFFFFFF), 4);
    EXPECT_EQ(Rgb(2, 2), 0xFFFFFFu);
    EXPECT_EQ(Rgb(3, 3), 0xFFFFFFu);
}

TEST_F(RasterTest, CullingFollowsScreenWinding) {
    struct Case {
        DWORD cull;
        bool clockwise;
        bool drawn;
    };
    const Case cases[] = {
        {D3DCULL_CCW, false, false}, {D3DCULL_CCW, true, true},  {D3DCULL_NONE, false, true},
        {D3DCULL_NONE, true, true},  {D3DCULL_CW, true, false},  {D3DCULL_CW, false, true},
    };
    MakeDevice(8, 8, false);
    UseDiffuseOnly();
    for (const Case& c : cases) {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        device_->SetRenderState(D3DRS_CULLMODE, c.cull);
        const TLVertex a{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0}, b{8, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0},
            d{0, 8, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0};
        // a, b, d runs clockwise on a screen whose y grows downwards.
        ASSERT_EQ(DrawTL(c.clockwise ? std::vector<TLVertex>{a, b, d} : std::vector<TLVertex>{a, d, b}), D3D_OK);
        EXPECT_EQ(Rgb(1, 1), c.drawn ? 0xFFFFFFu : 0u) << "cull " << c.cull << " clockwise " << c.clockwise;
    }
}

TEST_F(RasterTest, DefaultCullModeRemovesCounterClockwiseTriangles) {
    MakeDevice(8, 8, false);
    UseDiffuseOnly();
    DWORD cull = 0;
    // The fixture switched culling off; a reset device starts from the default.
    D3DPRESENT_PARAMETERS p = WindowedParameters(target_->Handle(), false);
    ASSERT_EQ(device_->Reset(&p), D3D_OK);
    device_->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, static_cast<DWORD>(D3DCULL_CCW));
}

TEST_F(RasterTest, TriangleCrossingTheNearPlaneIsClipped) {
    // A floor below the eye running from in front of it to behind it: only
    // the part beyond the near plane may appear, in the lower half.
    MakeDevice(64, 64);
    UseDiffuseOnly();
    UsePerspective();
    ASSERT_EQ(DrawScene({At(-2, -1, 4), At(2, -1, 4), At(0, -1, -4)}), D3D_OK);
    for (int y = 0; y < 39; ++y)
        for (int x = 0; x < 64; ++x) ASSERT_EQ(Rgb(x, y), 0u) << x << "," << y;
    EXPECT_EQ(Rgb(32, 45), 0xFFFFFFu);
    EXPECT_EQ(Rgb(32, 63), 0xFFFFFFu);
    EXPECT_EQ(Rgb(2, 63), 0xFFFFFFu);

    // Wholly behind the eye: nothing.
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    ASSERT_EQ(DrawScene({At(-2, -1, -4), At(2, -1, -4), At(0, 1, -4)}), D3D_OK);
    EXPECT_EQ(CountPixels(64, 64, 0xFFFFFF), 0);
}

TEST_F(RasterTest, TextureCoordinatesArePerspectiveCorrect) {
    // A quad receding to the right, black on its near half and white on its
    // far half: the change sits where its middle projects (x = 32), not
    // halfway across its screen extent (x = 25.6).
    MakeDevice(64, 64);
    UsePerspective();
    auto texture = MakeTexture(2, 1, D3DFMT_A8R8G8B8, {0xFF000000, 0xFFFFFFFF});
    device_->SetTexture(0, texture.get());
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    const SceneVertex a = At(-1, 1, 2, 0, 0), b = At(1, 1, 10, 1, 0), c = At(1, -1, 10, 1, 1), d = At(-1, -1, 2, 0, 1);
    ASSERT_EQ(DrawScene({a, b, c, a, c, d}), D3D_OK);
    for (int x = 18; x <= 31; ++x) EXPECT_EQ(Rgb(x, 32), 0x000000u) << x;
    for (int x = 33; x <= 34; ++x) EXPECT_EQ(Rgb(x, 32), 0xFFFFFFu) << x;
    device_->SetTexture(0, nullptr);
}

TEST_F(RasterTest, NewTexturesSampleAsZeroTexelsUntilAWritingLockEnds) {
    MakeDevice(64, 64);
    UsePerspective();
    TComRef<IDirect3DTexture8> texture;
    ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, texture.ReleaseAndGetAddressOf()),
              D3D_OK);
    device_->SetTexture(0, texture.get());
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    const SceneVertex a = At(-1, 1, 2, 0, 0), b = At(1, 1, 2, 1, 0), c = At(1, -1, 2, 1, 1), d = At(-1, -1, 2, 0, 1);
    const auto drawAndRead = [&] {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
        EXPECT_EQ(DrawScene({a, b, c, a, c, d}), D3D_OK);
        return Rgb(32, 32);
    };
    EXPECT_EQ(drawAndRead(), 0x000000u) << "never locked";

    // A read-only lock leaves the sampled texels alone, even when written through.
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (int y = 0; y < 4; ++y) std::memset(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, 0xFF, 8);
    texture->UnlockRect(0);
    EXPECT_EQ(drawAndRead(), 0x000000u) << "after a read-only lock";

    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    texture->UnlockRect(0);
    EXPECT_EQ(drawAndRead(), 0xFFFFFFu) << "after a writing lock";
    device_->SetTexture(0, nullptr);
}

TEST_F(RasterTest, DepthTestKeepsTheNearestSurface) {
    MakeDevice(8, 8);
    UseDiffuseOnly();
    const auto nearRed = Rect(0, 0, 8, 8, 0xFFFF0000, 0.2f);
    const auto farBlue = Rect(0, 0, 8, 8, 0xFF0000FF, 0.8f);
    ASSERT_EQ(DrawTL(farBlue), D3D_OK);
    ASSERT_EQ(DrawTL(nearRed), D3D_OK);
    EXPECT_EQ(Rgb(4, 4), 0xFF0000u);
    ASSERT_EQ(DrawTL(farBlue), D3D_OK);
    EXPECT_EQ(Rgb(4, 4), 0xFF0000u) << "a farther surface must not overwrite";
    ASSERT_EQ(DrawTL(Rect(0, 0, 8, 8, 0xFF00FF00, 0.2f)), D3D_OK);
    EXPECT_EQ(Rgb(4, 4), 0x00FF00u) << "LESSEQUAL passes at equal depth";

    device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    ASSERT_EQ(DrawTL(nearRed), D3D_OK);
    ASSERT_EQ(DrawTL(farBlue), D3D_OK);
    EXPECT_EQ(Rgb(4, 4), 0x0000FFu) << "without depth writes the later surface wins";

    device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    ASSERT_EQ(DrawTL(nearRed), D3D_OK);
    ASSERT_EQ(DrawTL(farBlue), D3D_OK);
    EXPECT_EQ(Rgb(4, 4), 0x0000FFu);
}

TEST_F(RasterTest, DepthIsInterpolatedAcrossTheTriangle) {
    // A slope from depth 0 at the left to 1 at the right against a wall at
    // 0.5: the slope shows only on the left half.
    MakeDevice(16, 4);
    UseDiffuseOnly();
    ASSERT_EQ(DrawTL(Rect(0, 0, 16, 4, 0xFF0000FF, 0.5f)), D3D_OK);
    std::vector<TLVertex> slope = Rect(0, 0, 16, 4, 0xFFFF0000, 0.0f);
    for (TLVertex& v : slope) v.z = v.x / 16.0f;
    ASSERT_EQ(DrawTL(slope), D3D_OK);
    for (int x = 0; x < 16; ++x) EXPECT_EQ(Rgb(x, 1), x <= 8 ? 0xFF0000u : 0x0000FFu) << x;
}

TEST_F(RasterTest, ViewportMapsClipSpaceAndLimitsDrawing) {
    MakeDevice(16, 16);
    UseDiffuseOnly();
    UsePerspective();
    const D3DVIEWPORT8 viewport{4, 4, 8, 8, 0.0f, 1.0f};
    ASSERT_EQ(device_->SetViewport(&viewport), D3D_OK);
    // A quad larger than the view volume fills exactly the viewport.
    ASSERT_EQ(DrawScene({At(-50, 50, 5), At(50, 50, 5), At(50, -50, 5), At(-50, 50, 5), At(50, -50, 5), At(-50, -50, 5)}), D3D_OK);
    EXPECT_EQ(CountPixels(16, 16, 0xFFFFFF), 64);
    EXPECT_EQ(Rgb(4, 4), 0xFFFFFFu);
    EXPECT_EQ(Rgb(11, 11), 0xFFFFFFu);
    EXPECT_EQ(Rgb(3, 4), 0u);
    EXPECT_EQ(Rgb(12, 11), 0u);
}

}  // namespace
