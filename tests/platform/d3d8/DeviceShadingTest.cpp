// Texture stages, sampling, alpha test, blending, specular and fog.
#include "DeviceFixture.h"

#include <d3dx8.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

class ShadingTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        MakeDevice(4, 4, false);
    }

    void SetStage(DWORD stage, DWORD op, DWORD arg1, DWORD arg2 = D3DTA_CURRENT) {
        device_->SetTextureStageState(stage, D3DTSS_COLOROP, op);
        device_->SetTextureStageState(stage, D3DTSS_COLORARG1, arg1);
        device_->SetTextureStageState(stage, D3DTSS_COLORARG2, arg2);
    }

    void SetFilter(DWORD stage, DWORD filter) {
        device_->SetTextureStageState(stage, D3DTSS_MAGFILTER, filter);
        device_->SetTextureStageState(stage, D3DTSS_MINFILTER, filter);
    }
};

TEST_F(ShadingTest, EachOperationAndModifierOnKnownColours) {
    struct Case {
        const char* name;
        DWORD op, arg1, arg2;
        uint32_t diffuse, factor, expected;
    };
    const Case cases[] = {
        {"select 1", D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xFFC86414, 0xFF804020, 0xC86414},
        {"select 2", D3DTOP_SELECTARG2, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xFFC86414, 0xFF804020, 0x804020},
        // 200*128/255 = 100.4, 100*64/255 = 25.1, 20*32/255 = 2.5
        {"modulate", D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xFFC86414, 0xFF804020, 0x641903},
        // 2*200*200/255 saturates, 2*100*200/255 = 156.9, 2*20*200/255 = 31.4
        {"modulate 2x", D3DTOP_MODULATE2X, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xFFC86414, 0xFFC8C8C8, 0xFF9D1F},
        // 4*200*64/255 = 200.8, 4*100*64/255 = 100.4, 4*20*64/255 = 20.1
        {"modulate 4x", D3DTOP_MODULATE4X, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xFFC86414, 0xFF404040, 0xC96414},
        {"add", D3DTOP_ADD, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xFFC86414, 0xFF646464, 0xFFC878},
        {"add signed", D3DTOP_ADDSIGNED, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xFFC86414, 0xFF646464, 0xAC4800},
        {"subtract", D3DTOP_SUBTRACT, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xFFC86414, 0xFF646464, 0x640000},
        // Flat normal against the light: 4 * 0.5 * (191/255 - 0.5) = 0.498.
        {"dot3", D3DTOP_DOTPRODUCT3, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xFF8080FF, 0xFF8080BF, 0x7F7F7F},
        {"dot3 facing away", D3DTOP_DOTPRODUCT3, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xFFFF8080, 0xFF008080, 0x000000},
        {"dot3 aligned", D3DTOP_DOTPRODUCT3, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xFF8080FF, 0xFF8080FF, 0xFFFFFF},
        {"complement", D3DTOP_SELECTARG1, D3DTA_DIFFUSE | D3DTA_COMPLEMENT, D3DTA_TFACTOR, 0xFFC86414, 0, 0x379BEB},
        {"alpha replicate", D3DTOP_SELECTARG1, D3DTA_DIFFUSE | D3DTA_ALPHAREPLICATE, D3DTA_TFACTOR, 0x40C86414, 0, 0x404040},
        {"modulate complement", D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_TFACTOR | D3DTA_COMPLEMENT, 0xFFC86414, 0xFFFF00FF, 0x006400},
        {"current in stage 0 is diffuse", D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_TFACTOR, 0xFF123456, 0, 0x123456},
    };
    for (const Case& c : cases) {
        SetStage(0, c.op, c.arg1, c.arg2);
        device_->SetRenderState(D3DRS_TEXTUREFACTOR, c.factor);
        ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, c.diffuse)), D3D_OK);
        EXPECT_EQ(Rgb(1, 1), c.expected) << c.name;
    }
}

// A later stage that replicates the current alpha gets the alpha the
// stages before it computed, though nothing else needs the pixel's alpha;
// a stage whose alpha operation is DISABLE passes that alpha on. Each case
// follows a draw that left other alphas behind.
TEST_F(ShadingTest, LaterStagesReadTheAlphaEarlierStagesComputed) {
    struct Case {
        const char* name;
        DWORD stage1AlphaOp, stage2ColorArg;  // stage 2 disabled for 0
        DWORD replicate;                      // stage 1's colour argument, or stage 2's
        bool blend;
        uint32_t expected;
    };
    const DWORD current = D3DTA_CURRENT | D3DTA_ALPHAREPLICATE;
    const Case cases[] = {
        {"stage 1 replicates", D3DTOP_SELECTARG1, 0, current, false, 0x404040},
        {"complemented", D3DTOP_SELECTARG1, 0, current | D3DTA_COMPLEMENT, false, 0xBFBFBF},
        {"through a disabled alpha operation", D3DTOP_DISABLE, current, D3DTA_DIFFUSE, false, 0x404040},
        // White at alpha 0x40 over black.
        {"disabled alpha operation into the blend", D3DTOP_DISABLE, 0, D3DTA_TFACTOR, true, 0x404040},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Stage 0: the diffuse colour with the factor's alpha.
        device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
        SetStage(1, D3DTOP_SELECTARG1, c.replicate);
        device_->SetTextureStageState(1, D3DTSS_ALPHAOP, c.stage1AlphaOp);
        device_->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
        SetStage(2, c.stage2ColorArg ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE, c.stage2ColorArg);
        device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);

        // Alphas of 0xC0 everywhere, with the blend on.
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device_->SetRenderState(D3DRS_TEXTUREFACTOR, 0xC0FFFFFF);
        ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xC0FFFFFF)), D3D_OK);

        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, c.blend);
        device_->SetRenderState(D3DRS_TEXTUREFACTOR, 0x40FFFFFF);
        ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0x80FFFFFF)), D3D_OK);
        EXPECT_EQ(Rgb(1, 1), c.expected);
    }
}

TEST_F(ShadingTest, CascadeStopsAtTheFirstDisabledStage) {
    SetStage(0, D3DTOP_SELECTARG1, D3DTA_DIFFUSE);
    SetStage(1, D3DTOP_DISABLE, D3DTA_TFACTOR);
    SetStage(2, D3DTOP_SELECTARG1, D3DTA_TFACTOR);
    device_->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF0000FF);
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFF00FF00)), D3D_OK);
    EXPECT_EQ(Rgb(1, 1), 0x00FF00u);

    // Stage 0 disabled: the pixel is the diffuse colour.
    SetStage(0, D3DTOP_DISABLE, D3DTA_TFACTOR);
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFF654321)), D3D_OK);
    EXPECT_EQ(Rgb(1, 1), 0x654321u);
}

TEST_F(ShadingTest, StageWithoutTextureReadsOpaqueWhite) {
    // The default stage 0 modulates the texture with the diffuse colour.
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFF336699)), D3D_OK);
    EXPECT_EQ(Rgb(1, 1), 0x336699u);
    // A second stage doubling the texture with the current colour.
    SetStage(1, D3DTOP_MODULATE2X, D3DTA_CURRENT, D3DTA_TEXTURE);
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFF336699)), D3D_OK);
    EXPECT_EQ(Rgb(1, 1), 0x66CCFFu);
}

TEST_F(ShadingTest, TextureFormatsExpandToEightBits) {
    struct Case {
        D3DFORMAT format;
        uint32_t texel;
        uint32_t expected;
    };
    const Case cases[] = {
        {D3DFMT_R5G6B5, 0xF81F, 0xFF00FF},
        {D3DFMT_R5G6B5, 0x8408, 0x848242},  // 16, 32, 8
        {D3DFMT_A1R5G5B5, 0xC208, 0x848442},
        {D3DFMT_X8R8G8B8, 0x00123456, 0x123456},
        {D3DFMT_A8R8G8B8, 0x80123456, 0x123456},
    };
    SetStage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE);
    for (const Case& c : cases) {
        auto texture = MakeTexture(1, 1, c.format, {c.texel});
        device_->SetTexture(0, texture.get());
        ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFFFFFFFF)), D3D_OK);
        EXPECT_EQ(Rgb(1, 1), c.expected) << c.format << " " << std::hex << c.texel;
    }
    // Alpha of an A8R8G8B8 texel, and the 1-bit alpha of A1R5G5B5.
    SetStage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE);
    auto alpha8 = MakeTexture(1, 1, D3DFMT_A8R8G8B8, {0x80123456});
    device_->SetTexture(0, alpha8.get());
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFFFFFFFF)), D3D_OK);
    EXPECT_EQ(Rgb(1, 1), 0x808080u);
    auto alpha1 = MakeTexture(1, 1, D3DFMT_A1R5G5B5, {0x7FFF});
    device_->SetTexture(0, alpha1.get());
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFFFFFFFF)), D3D_OK);
    EXPECT_EQ(Rgb(1, 1), 0x000000u);
    device_->SetTexture(0, nullptr);
}

TEST_F(ShadingTest, PointAndLinearSamplingWrapAtTheEdges) {
    // Texel 0 black, texel 1 white; pixel x samples u = x / 4, so texel
    // coordinates -0.5, 0, 0.5, 1 for linear filtering (texel centres at
    // +0.5): the first pixel mixes in the last texel across the wrap.
    auto texture = MakeTexture(2, 1, D3DFMT_A8R8G8B8, {0xFF000000, 0xFFFFFFFF});
    device_->SetTexture(0, texture.get());
    SetStage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE);
    struct Case {
        DWORD filter;
        float uOffset;
        uint8_t expected[4];
    };
    const Case cases[] = {
        {D3DTEXF_LINEAR, 0.0f, {128, 0, 128, 255}},
        {D3DTEXF_LINEAR, 1.0f, {128, 0, 128, 255}},
        {D3DTEXF_LINEAR, -3.0f, {128, 0, 128, 255}},
        {D3DTEXF_POINT, 0.0f, {0, 0, 255, 255}},
        {D3DTEXF_POINT, 2.0f, {0, 0, 255, 255}},
        {D3DTEXF_POINT, -1.0f, {0, 0, 255, 255}},
    };
    for (const Case& c : cases) {
        SetFilter(0, c.filter);
        std::vector<TLVertex> quad = Rect(0, 0, 4, 4, 0xFFFFFFFF);
        for (TLVertex& v : quad) v.u += c.uOffset;
        ASSERT_EQ(DrawTL(quad), D3D_OK);
        for (int x = 0; x < 4; ++x) {
            const uint32_t grey = c.expected[x];
            EXPECT_EQ(Rgb(x, 1), grey << 16 | grey << 8 | grey)
                << "filter " << c.filter << " offset " << c.uOffset << " pixel " << x;
        }
    }
    device_->SetTexture(0, nullptr);
}

TEST_F(ShadingTest, LinearFilteringWrapsVerticallyToo) {
    // Rows black and white; pixel y samples v = y / 4.
    auto texture = MakeTexture(1, 2, D3DFMT_R5G6B5, {0x0000, 0xFFFF});
    device_->SetTexture(0, texture.get());
    SetStage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE);
    SetFilter(0, D3DTEXF_LINEAR);
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFFFFFFFF)), D3D_OK);
    EXPECT_EQ(Rgb(1, 0), 0x808080u);
    EXPECT_EQ(Rgb(1, 1), 0x000000u);
    EXPECT_EQ(Rgb(1, 2), 0x808080u);
    EXPECT_EQ(Rgb(1, 3), 0xFFFFFFu);
    device_->SetTexture(0, nullptr);
}

TEST_F(ShadingTest, WideSpansShadeLikeNarrowOnes) {
    // Long spans take the vector paths, spans of a few pixels the plain
    // ones: a quad drawn whole and drawn in 3-pixel bands through the
    // viewport must give the same pixels, filtering and stages included,
    // and so must the build of the pipeline for processors without AVX2.
    constexpr int kWidth = 61, kHeight = 7;
    std::vector<uint32_t> texels(16 * 8);
    uint32_t seed = 12345;
    for (uint32_t& t : texels) t = seed = seed * 1103515245u + 12345u;
    auto base = MakeTexture(16, 8, D3DFMT_A8R8G8B8, texels);
    // Normal maps smaller than the base texture and of its size.
    std::vector<TComRef<IDirect3DTexture8>> bumpMaps;
    for (int width : {8, 16}) {
        std::vector<uint32_t> normals(width * width / 2);
        for (uint32_t& t : normals) t = 0xFF000000u | ((seed = seed * 1103515245u + 12345u) & 0xFFFFFF);
        bumpMaps.push_back(MakeTexture(width, width / 2, D3DFMT_X8R8G8B8, normals));
    }
    IDirect3DTexture8* bumps = nullptr;

    auto render = [&](int band, bool flatLight) {
        MakeDevice(kWidth, kHeight, true);
        for (DWORD stage = 0; stage < 2; ++stage) SetFilter(stage, D3DTEXF_LINEAR);
        device_->SetTexture(0, bumps);
        SetStage(0, D3DTOP_DOTPRODUCT3, D3DTA_TEXTURE, D3DTA_SPECULAR);
        device_->SetTexture(1, base.get());
        SetStage(1, D3DTOP_MODULATE2X, D3DTA_CURRENT, D3DTA_TEXTURE);
        device_->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
        device_->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        std::vector<TLVertex> quad = {
            {-0.3f, 0.2f, 0.1f, 1.0f, 0xFF204080, 0xFF80C0FF, 0.1f, 0.3f},
            {60.7f, 0.6f, 0.9f, 0.25f, 0xFFFFFFFF, 0xFF8080BF, 2.7f, 0.1f},
            {61.0f, 7.0f, 0.5f, 0.5f, 0xFF808080, 0xFF0080FF, 2.2f, 1.9f},
        };
        quad.insert(quad.end(), {quad[0], quad[2], {0.0f, 7.0f, 0.3f, 0.8f, 0xFF102030, 0xFFC08040, -0.4f, 1.5f}});
        if (flatLight)
            for (TLVertex& v : quad) v.specular = 0xFF8080BF;
        for (int x = 0; x < kWidth; x += band) {
            const D3DVIEWPORT8 viewport{static_cast<DWORD>(x), 0, static_cast<DWORD>(std::min(band, kWidth - x)),
                                        kHeight, 0.0f, 1.0f};
            EXPECT_EQ(device_->SetViewport(&viewport), D3D_OK);
            EXPECT_EQ(DrawTL(quad), D3D_OK);
        }
        std::vector<uint32_t> pixels;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) pixels.push_back(Pixel(x, y));
        device_->SetTexture(0, nullptr);
        device_->SetTexture(1, nullptr);
        return pixels;
    };
    // A light that varies over the quad, and one light for all of it (the
    // demo's case).
    for (int variant = 0; variant < 4; ++variant) {
        const bool flatLight = variant & 1;
        bumps = bumpMaps[variant / 2].get();
        const std::vector<uint32_t> whole = render(kWidth, flatLight), bands = render(3, flatLight);
        control_->ForcePlainPixelPipeline(true);
        const std::vector<uint32_t> plain = render(kWidth, flatLight);
        control_->ForcePlainPixelPipeline(false);
        int drawn = 0;
        for (size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(whole[i], bands[i]) << "pixel " << i % kWidth << "," << i / kWidth << " variant " << variant;
            EXPECT_EQ(whole[i], plain[i]) << "pixel " << i % kWidth << "," << i / kWidth << " variant " << variant;
            drawn += whole[i] != 0xFF000000u ? 1 : 0;
        }
        EXPECT_GT(drawn, kWidth * kHeight / 4);
    }
}

TEST_F(ShadingTest, OneBitAlphaWithAlphaTestKeepsTransparentTexelsOut) {
    // Texel 0 transparent red, texel 1 opaque blue, over a green target.
    auto texture = MakeTexture(2, 1, D3DFMT_A1R5G5B5, {0x7C00, 0x801F});
    device_->SetTexture(0, texture.get());
    SetStage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device_->SetRenderState(D3DRS_ALPHAREF, 1);
    device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFFFFFFFF)), D3D_OK);
    EXPECT_EQ(Rgb(0, 1), 0x00FF00u);
    EXPECT_EQ(Rgb(1, 1), 0x00FF00u);
    EXPECT_EQ(Rgb(2, 1), 0x0000FFu);
    EXPECT_EQ(Rgb(3, 1), 0x0000FFu);

    device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFFFFFFFF)), D3D_OK);
    EXPECT_EQ(Rgb(0, 1), 0xFF0000u);
    device_->SetTexture(0, nullptr);
}

TEST_F(ShadingTest, AlphaTestDoesNotWriteDepth) {
    MakeDevice(4, 4, true);
    UseDiffuseOnly();
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device_->SetRenderState(D3DRS_ALPHAREF, 0x80);
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0x10FF0000, 0.1f)), D3D_OK);  // rejected
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFF0000FF, 0.5f)), D3D_OK);
    EXPECT_EQ(Rgb(1, 1), 0x0000FFu);
}

int Blended(int s, int sf, int d, int df) {
    return std::min(255, static_cast<int>(std::lround((s * sf + d * df) / 255.0)));
}

TEST_F(ShadingTest, BlendFactorPairs) {
    const int S[3] = {200, 100, 20}, D[3] = {100, 200, 50};
    const int sa = 0x80;
    struct Case {
        DWORD src, dest;
        int (*sf)(int s, int d);
        int (*df)(int s, int d);
    };
    const Case cases[] = {
        {D3DBLEND_ONE, D3DBLEND_ZERO, [](int, int) { return 255; }, [](int, int) { return 0; }},
        {D3DBLEND_ONE, D3DBLEND_ONE, [](int, int) { return 255; }, [](int, int) { return 255; }},
        {D3DBLEND_INVSRCCOLOR, D3DBLEND_INVSRCCOLOR, [](int s, int) { return 255 - s; },
         [](int s, int) { return 255 - s; }},
        {D3DBLEND_DESTCOLOR, D3DBLEND_SRCCOLOR, [](int, int d) { return d; }, [](int s, int) { return s; }},
        {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, [](int, int) { return sa; }, [](int, int) { return 255 - sa; }},
        {D3DBLEND_INVDESTCOLOR, D3DBLEND_DESTALPHA, [](int, int d) { return 255 - d; }, [](int, int) { return 255; }},
        {D3DBLEND_INVDESTALPHA, D3DBLEND_SRCCOLOR, [](int, int) { return 0; }, [](int s, int) { return s; }},
    };
    UseDiffuseOnly();
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    for (const Case& c : cases) {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u | D[0] << 16 | D[1] << 8 | D[2], 1.0f, 0);
        device_->SetRenderState(D3DRS_SRCBLEND, c.src);
        device_->SetRenderState(D3DRS_DESTBLEND, c.dest);
        ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, static_cast<uint32_t>(sa) << 24 | S[0] << 16 | S[1] << 8 | S[2])), D3D_OK);
        uint32_t expected = 0;
        for (int k = 0; k < 3; ++k)
            expected = expected << 8 | Blended(S[k], c.sf(S[k], D[k]), D[k], c.df(S[k], D[k]));
        EXPECT_EQ(Rgb(1, 1), expected) << "blend " << c.src << ", " << c.dest;
    }
}

TEST_F(ShadingTest, SpecularIsAddedOnlyWhenEnabled) {
    UseDiffuseOnly();
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFF646464, 0.5f, 0xFF32C800)), D3D_OK);
    EXPECT_EQ(Rgb(1, 1), 0x646464u);
    device_->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFF646464, 0.5f, 0xFF32C800)), D3D_OK);
    EXPECT_EQ(Rgb(1, 1), 0x96FF64u);
}

TEST_F(ShadingTest, LinearVertexFogBlendsTowardsTheFogColour) {
    UseDiffuseOnly();
    device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device_->SetRenderState(D3DRS_FOGCOLOR, 0x000000FF);
    // Screen-space vertices carry their fog factor in the specular alpha.
    ASSERT_EQ(DrawTL(Rect(0, 0, 4, 4, 0xFFFFFFFF, 0.5f, 0x80000000)), D3D_OK);
    EXPECT_EQ(Rgb(1, 1), 0x8080FFu);

    // Transformed vertices at eye distance 5 between fog start 0 and end 10.
    device_->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    const float start = 0.0f, end = 10.0f;
    DWORD startBits, endBits;
    std::memcpy(&startBits, &start, 4);
    std::memcpy(&endBits, &end, 4);
    device_->SetRenderState(D3DRS_FOGSTART, startBits);
    device_->SetRenderState(D3DRS_FOGEND, endBits);
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 1.5707964f, 1.0f, 1.0f, 100.0f);
    device_->SetTransform(D3DTS_PROJECTION, &projection);
    const SceneVertex a{-50, 50, 5, 0xFFFFFFFF, 0, 0, 0, 0, 0, 0, 0}, b{50, 50, 5, 0xFFFFFFFF, 0, 0, 0, 0, 0, 0, 0},
        c{50, -50, 5, 0xFFFFFFFF, 0, 0, 0, 0, 0, 0, 0}, d{-50, -50, 5, 0xFFFFFFFF, 0, 0, 0, 0, 0, 0, 0};
    const SceneVertex quad[] = {a, b, c, a, c, d};
    device_->SetVertexShader(kSceneVertexFormat);
    device_->BeginScene();
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, quad, sizeof(SceneVertex)), D3D_OK);
    device_->EndScene();
    EXPECT_EQ(Rgb(1, 1), 0x8080FFu);
}

TEST_F(ShadingTest, DemoBumpStagesOnOneQuad) {
    // The engine's bump set-up: stage 0 Dot3 of the normal map (coordinate
    // set 1) with the specular light vector, stage 1 twice that times the
    // base texture (set 0), linear filtering, through the transform path.
    auto base = MakeTexture(2, 2, D3DFMT_A1R5G5B5, std::vector<uint32_t>(4, 0xFE08));    // 255, 132, 66
    auto normals = MakeTexture(2, 2, D3DFMT_A1R5G5B5, std::vector<uint32_t>(4, 0xC21F)); // 132, 132, 255
    for (DWORD stage = 0; stage < 2; ++stage) {
        SetFilter(stage, D3DTEXF_LINEAR);
        device_->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device_->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    }
    device_->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR);
    device_->SetRenderState(D3DRS_ALPHAREF, 0);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device_->SetTexture(0, normals.get());
    device_->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1);
    SetStage(0, D3DTOP_DOTPRODUCT3, D3DTA_TEXTURE, D3DTA_SPECULAR);
    device_->SetTexture(1, base.get());
    device_->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    SetStage(1, D3DTOP_MODULATE2X, D3DTA_CURRENT, D3DTA_TEXTURE);
    device_->SetTextureStageState(1, D3DTSS_COLORARG0, D3DTA_CURRENT);

    const uint32_t light = 0xFF8080BF;  // 128, 128, 191
    auto corner = [&](float x, float y, float u, float v) {
        return SceneVertex{x, y, 0.5f, 0xFFFFFFFF, light, u, v, u * 3, v * 3, 0, 0};
    };
    const SceneVertex a = corner(-1, 1, 0, 0), b = corner(1, 1, 1, 0), c = corner(1, -1, 1, 1), d = corner(-1, -1, 0, 1);
    const SceneVertex quad[] = {a, c, d, a, b, c};
    device_->SetVertexShader(kSceneVertexFormat);
    // Dot3: (9*1 + 9*1 + 255*127) / 255 = 127.07 -> 127; then 2 * 127 * base / 255:
    // 254, 131.5 -> 131, 65.7 -> 66. The same from the plain pixel pipeline.
    for (bool plain : {false, true}) {
        control_->ForcePlainPixelPipeline(plain);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        device_->BeginScene();
        ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, quad, sizeof(SceneVertex)), D3D_OK);
        device_->EndScene();
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(Rgb(x, y), 0xFE8342u) << x << "," << y << " plain " << plain;
    }
    device_->SetTexture(0, nullptr);
    device_->SetTexture(1, nullptr);
}

}  // namespace
