// One frame through the software device: the order of presents, targets,
// transforms, vertex buffers, render and texture-stage states and draws,
// and the failure paths (lost device, refused buffers, refused devices).
#include <algorithm>
#include <cmath>

#include "EngineFixture.h"

namespace {

constexpr DWORD Stage0 = 0, Stage1 = 1;

const CallLines FrameStart = {
    "Present",
    "GetBackBuffer",
    "GetDepthStencilSurface",
    "SetRenderTarget surface depth",
    TRANSFORM(D3DTS_VIEW),
    TRANSFORM(D3DTS_PROJECTION),
    "Clear 3 FF808080 3F800000 0",  // target and depth, mid grey, depth 1.0
    "BeginScene",
    TRANSFORM(D3DTS_WORLD),
};

CallLines NewVertexBuffer(unsigned triangles) {
    return {Line("CreateVB %u 8 3C2 1", triangles * 132)};
}

CallLines FillVertices(unsigned triangles) {
    return {Line("LockVB 0 %u 2000", triangles * 132), "UnlockVB"};
}

CallLines Stream3D(bool buffer) {
    return {std::string("STREAM 0 44 ") + (buffer ? "vb" : "null"), "SHADER 3C2",
            RS(D3DRS_FILLMODE, D3DFILL_SOLID)};
}

const CallLines RunPrefix = {
    TSS(Stage0, D3DTSS_COLOROP, D3DTOP_DISABLE),
    TSS(Stage1, D3DTSS_COLOROP, D3DTOP_DISABLE),
    TSS(Stage0, D3DTSS_ALPHAOP, D3DTOP_DISABLE),
    TSS(Stage1, D3DTSS_ALPHAOP, D3DTOP_DISABLE),
};

const CallLines OpaqueBlend = {
    RS(D3DRS_ALPHAREF, 0),
    RS(D3DRS_ALPHATESTENABLE, FALSE),
    RS(D3DRS_ALPHABLENDENABLE, FALSE),
};

CallLines AlphaTestBlend(DWORD stage) {
    return {RS(D3DRS_ALPHABLENDENABLE, FALSE),
            RS(D3DRS_ALPHAREF, 1),
            RS(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL),
            RS(D3DRS_ALPHATESTENABLE, TRUE),
            RS(D3DRS_SRCBLEND, D3DBLEND_ONE),
            RS(D3DRS_DESTBLEND, D3DBLEND_ONE),
            TSS(stage, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1),
            TSS(stage, D3DTSS_ALPHAARG1, D3DTA_TEXTURE)};
}

CallLines AdditiveBlend(D3DBLEND factor) {
    return {RS(D3DRS_ALPHAREF, 0), RS(D3DRS_ALPHATESTENABLE, FALSE),
            RS(D3DRS_ALPHABLENDENABLE, TRUE), RS(D3DRS_SRCBLEND, factor),
            RS(D3DRS_DESTBLEND, factor)};
}

// The texture-stage blocks of a run.
const CallLines Dot3OfNormalMap = {
    TEX(0, "normal"),
    TSS(Stage0, D3DTSS_TEXCOORDINDEX, 1),
    TSS(Stage0, D3DTSS_COLOROP, D3DTOP_DOTPRODUCT3),
    TSS(Stage0, D3DTSS_COLORARG1, D3DTA_TEXTURE),
    TSS(Stage0, D3DTSS_COLORARG2, D3DTA_SPECULAR),
};
const CallLines ThirdPlusDiffuse = {
    TEX(0, "third"),
    TSS(Stage0, D3DTSS_TEXCOORDINDEX, 2),
    TSS(Stage0, D3DTSS_COLOROP, D3DTOP_ADD),
    TSS(Stage0, D3DTSS_COLORARG1, D3DTA_TEXTURE),
    TSS(Stage0, D3DTSS_COLORARG2, D3DTA_DIFFUSE),
};
const CallLines BaseOnSecondStage = {
    TEX(1, "base"),
    TSS(Stage1, D3DTSS_TEXCOORDINDEX, 0),
    TSS(Stage1, D3DTSS_COLOROP, D3DTOP_MODULATE2X),
    TSS(Stage1, D3DTSS_COLORARG1, D3DTA_CURRENT),
    TSS(Stage1, D3DTSS_COLORARG2, D3DTA_TEXTURE),
    TSS(Stage1, D3DTSS_COLORARG0, D3DTA_CURRENT),
};
const CallLines BaseTimesDiffuse = {
    TEX(0, "base"),
    TSS(Stage0, D3DTSS_TEXCOORDINDEX, 0),
    TSS(Stage0, D3DTSS_COLOROP, D3DTOP_MODULATE2X),
    TSS(Stage0, D3DTSS_COLORARG1, D3DTA_TEXTURE),
    TSS(Stage0, D3DTSS_COLORARG2, D3DTA_DIFFUSE),
};
const CallLines BaseAlone = {
    TEX(0, "base"),
    TSS(Stage0, D3DTSS_TEXCOORDINDEX, 0),
    TSS(Stage0, D3DTSS_COLOROP, D3DTOP_SELECTARG1),
    TSS(Stage0, D3DTSS_COLORARG1, D3DTA_TEXTURE),
};

CallLines SecondPass(D3DTEXTUREOP op) {
    return {RS(D3DRS_SRCBLEND, D3DBLEND_DESTCOLOR),
            RS(D3DRS_DESTBLEND, D3DBLEND_SRCCOLOR),
            TSS(Stage1, D3DTSS_COLOROP, D3DTOP_DISABLE),
            TSS(2, D3DTSS_COLOROP, D3DTOP_DISABLE),
            TEX(0, "third"),
            TSS(Stage0, D3DTSS_TEXCOORDINDEX, 2),
            TSS(Stage0, D3DTSS_COLOROP, op),
            TSS(Stage0, D3DTSS_COLORARG1, D3DTA_DIFFUSE),
            TSS(Stage0, D3DTSS_COLORARG2, D3DTA_TEXTURE),
            RS(D3DRS_ALPHABLENDENABLE, TRUE),
            DRAW(0, 2)};
}

const CallLines EmptyOverlay = {
    "STREAM 0 28 null",
    "SHADER 144",
    RS(D3DRS_FILLMODE, D3DFILL_SOLID),
    RS(D3DRS_FOGENABLE, FALSE),
};

const CallLines DefaultStates = {
    RS(D3DRS_LIGHTING, FALSE),
    RS(D3DRS_ZENABLE, D3DZB_TRUE),
    RS(D3DRS_CULLMODE, D3DCULL_CCW),
    TSS(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR),
    TSS(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR),
    TSS(0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR),
    TSS(1, D3DTSS_MAGFILTER, D3DTEXF_LINEAR),
    TSS(1, D3DTSS_MINFILTER, D3DTEXF_LINEAR),
    TSS(2, D3DTSS_MAGFILTER, D3DTEXF_LINEAR),
    TSS(2, D3DTSS_MINFILTER, D3DTEXF_LINEAR),
    TSS(3, D3DTSS_MAGFILTER, D3DTEXF_LINEAR),
    TSS(3, D3DTSS_MINFILTER, D3DTEXF_LINEAR),
    RS(D3DRS_FOGENABLE, FALSE),
};

// The calls of the 3-D runs: from after the 3-D stream set-up to the
// overlay's stream.
CallLines RunCalls(const CallLines& frame) {
    const auto shader = std::find(frame.begin(), frame.end(), "SHADER 3C2");
    if (shader == frame.end() || frame.end() - shader < 2) return {"no 3-D stream"};
    const auto overlay = std::find(shader, frame.end(), "STREAM 0 28 null");
    return CallLines(shader + 2, overlay);
}

}  // namespace

TEST_F(EngineFrame, DemoSquareWithoutBumpMapping) {
    LoadDemoTextures();
    UseDemoScene(0, 0, 0);
    StartLog();
    viewport->RenderFrame();
    EXPECT_TRUE(SameCalls(Calls(), FrameStart + NewVertexBuffer(1002) + FillVertices(2) +
                                       Stream3D(true) + RunPrefix + OpaqueBlend + BaseAlone +
                                       CallLines{DRAW(0, 2)} + EmptyOverlay +
                                       CallLines{"EndScene"}));
    EXPECT_EQ(viewport->VertexCapacity, 1002);

    // The next frame reuses the buffer.
    StartLog();
    viewport->RenderFrame();
    EXPECT_TRUE(SameCalls(Calls(), FrameStart + FillVertices(2) + Stream3D(true) + RunPrefix +
                                       OpaqueBlend + BaseAlone + CallLines{DRAW(0, 2)} +
                                       EmptyOverlay + CallLines{"EndScene"}));
    EXPECT_EQ(sceneCalls, 2);
}

TEST_F(EngineFrame, DemoSquareWithBumpMapping) {
    LoadDemoTextures();
    UseDemoScene(1, 0, 0);
    StartLog();
    viewport->RenderFrame();
    EXPECT_TRUE(SameCalls(Calls(), FrameStart + NewVertexBuffer(1002) + FillVertices(2) +
                                       Stream3D(true) + RunPrefix + OpaqueBlend + Dot3OfNormalMap +
                                       BaseOnSecondStage + CallLines{DRAW(0, 2)} + EmptyOverlay +
                                       CallLines{"EndScene"}));
}

TEST_F(EngineFrame, DemoSquareVerticesAndRun) {
    UseDemoScene(1, 0, 0);
    viewport->RenderFrame();
    const ttriangles_buffer& t = viewport->Triangles;
    ASSERT_EQ(t.Count, 2);
    // Equal keys keep their order: (0, 2, 3), then (0, 1, 2), one run of 2.
    EXPECT_EQ(t.Records[0].RunLength, 2);
    EXPECT_EQ(t.Records[1].RunLength, 0);
    const float expectedX[2][3] = {{-16, 16, -16}, {-16, 16, 16}};
    const float expectedY[2][3] = {{16, -16, -16}, {16, 16, -16}};
    for (int i = 0; i < 2; ++i) {
        const ttriangle_record& r = t.Records[i];
        EXPECT_EQ(r.Texture0, 10006);
        EXPECT_EQ(r.Texture1, 10007);
        EXPECT_EQ(r.BumpMap, 1);
        EXPECT_FLOAT_EQ(r.Normal.z, -1);
        EXPECT_FLOAT_EQ(r.Depth, -std::sqrt(16.0f * 16 * 2 + 48 * 48));
        for (int k = 0; k < 3; ++k) {
            const tvertex_3d& v = t.Vertices[i][k];
            EXPECT_EQ(v.x, expectedX[i][k]);
            EXPECT_EQ(v.y, expectedY[i][k]);
            EXPECT_EQ(v.Diffuse, 0xFF0E0E0Eu);
            EXPECT_EQ(v.Specular, 0xFF8080BFu);
            EXPECT_EQ(v.tu1, v.tu0);
            EXPECT_EQ(v.tv2, v.tv0);
        }
    }
}

TEST_F(EngineFrame, LayerAndBumpCombinations) {
    LoadDemoTextures();
    const struct {
        uint8_t layers;
        uint16_t bump;
        CallLines stages;
    } cases[] = {
        {0, 0, BaseAlone + CallLines{DRAW(0, 2)}},
        {1, 0, BaseTimesDiffuse + CallLines{DRAW(0, 2)}},
        {2, 0, ThirdPlusDiffuse + BaseOnSecondStage + CallLines{DRAW(0, 2)}},
        {9, 0, ThirdPlusDiffuse + BaseOnSecondStage + CallLines{DRAW(0, 2)}},
        {0, 1, Dot3OfNormalMap + BaseOnSecondStage + CallLines{DRAW(0, 2)}},
        {1, 1,
         Dot3OfNormalMap + BaseOnSecondStage + CallLines{DRAW(0, 2)} +
             SecondPass(D3DTOP_SELECTARG1)},
        {2, 1,
         Dot3OfNormalMap + BaseOnSecondStage + CallLines{DRAW(0, 2)} + SecondPass(D3DTOP_ADD)},
        {200, 0x8000,
         Dot3OfNormalMap + BaseOnSecondStage + CallLines{DRAW(0, 2)} + SecondPass(D3DTOP_ADD)},
    };
    for (const auto& k : cases) {
        UseDemoScene(k.bump, k.layers, 0);
        StartLog();
        viewport->RenderFrame();
        EXPECT_TRUE(SameCalls(RunCalls(Calls()), RunPrefix + OpaqueBlend + k.stages))
            << "Layers " << int(k.layers) << " BumpMap " << k.bump;
    }
}

TEST_F(EngineFrame, BlendModes) {
    LoadDemoTextures();
    const struct {
        uint8_t mode;
        CallLines blend;
    } cases[] = {
        {0, OpaqueBlend},
        {64, OpaqueBlend},  // only the low six bits choose the blending
        {1, AlphaTestBlend(Stage0)},
        {2, AdditiveBlend(D3DBLEND_ONE)},
        {10, AdditiveBlend(D3DBLEND_ONE)},
        {74, AdditiveBlend(D3DBLEND_ONE)},
        {11, AdditiveBlend(D3DBLEND_INVSRCCOLOR)},
        {3, {}},
        {9, {}},
        {12, {}},
        {63, {}},
    };
    for (const auto& k : cases) {
        UseDemoScene(0, 0, k.mode);
        StartLog();
        viewport->RenderFrame();
        EXPECT_TRUE(
            SameCalls(RunCalls(Calls()), RunPrefix + k.blend + BaseAlone + CallLines{DRAW(0, 2)}))
            << "BlendMode " << int(k.mode);
    }

    // With two stages the alpha key is read on stage 1, where the base is.
    for (const auto& [layers, bump] : {std::pair<uint8_t, uint16_t>{2, 0}, {0, 1}}) {
        UseDemoScene(bump, layers, 1);
        StartLog();
        viewport->RenderFrame();
        const CallLines runs = RunCalls(Calls());
        const CallLines blend = AlphaTestBlend(Stage1);
        ASSERT_GE(runs.size(), RunPrefix.size() + blend.size());
        EXPECT_TRUE(SameCalls(CallLines(runs.begin() + RunPrefix.size(),
                                        runs.begin() + RunPrefix.size() + blend.size()),
                              blend));
    }
}

TEST_F(EngineFrame, RunsFollowDepthOrderAndCountVertices) {
    LoadDemoTextures();
    // Far additive quad, then a near opaque one: drawn back to front, the
    // second run starting at vertex 6.
    viewport->SceneCallback = [this] {
        TGLViewport& v = *viewport;
        v.ClearTriangles();
        v.CurrentTexture0 = 10006;
        v.CurrentBlendMode = 0;
        v.AddQuad(-1, 1, -40, 9, 9, 9, 0, 0, 1, 1, -40, 9, 9, 9, 1, 0, 1, -1, -40, 9, 9, 9, 1, 1,
                  -1, -1, -40, 9, 9, 9, 0, 1);
        v.CurrentBlendMode = 2;
        v.AddQuad(-1, 1, 10, 9, 9, 9, 0, 0, 1, 1, 10, 9, 9, 9, 1, 0, 1, -1, 10, 9, 9, 9, 1, 1, -1,
                  -1, 10, 9, 9, 9, 0, 1);
    };
    StartLog();
    viewport->RenderFrame();
    EXPECT_TRUE(SameCalls(RunCalls(Calls()), RunPrefix + AdditiveBlend(D3DBLEND_ONE) + BaseAlone +
                                                 CallLines{DRAW(0, 2)} + RunPrefix + OpaqueBlend +
                                                 BaseAlone + CallLines{DRAW(6, 2)}));
}

TEST_F(EngineFrame, FrameWithoutTriangles) {
    viewport->SceneCallback = [this] { viewport->ClearTriangles(); };
    StartLog();
    viewport->RenderFrame();
    EXPECT_TRUE(
        SameCalls(Calls(), FrameStart + Stream3D(false) + EmptyOverlay + CallLines{"EndScene"}));
    EXPECT_EQ(viewport->VertexCapacity, 0);
}

TEST_F(EngineFrame, VertexBufferGrowsOnlyWhenTooSmall) {
    int triangles = 0;
    viewport->SceneCallback = [this, &triangles] {
        viewport->ClearTriangles();
        for (int i = 0; i < triangles; ++i)
            viewport->AddTriangle(0, 0, 0, 1, 1, 1, 0, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0, 1, 0, 1, 1, 1,
                                  0, 1);
    };
    const struct {
        int triangles;
        int capacity;
        CallLines buffer;
    } steps[] = {
        {1, 1001, NewVertexBuffer(1001) + FillVertices(1)},
        {1001, 1001, FillVertices(1001)},
        {1002, 2002, NewVertexBuffer(2002) + FillVertices(1002)},
        {3, 2002, FillVertices(3)},
    };
    for (const auto& k : steps) {
        triangles = k.triangles;
        StartLog();
        viewport->RenderFrame();
        const CallLines calls = Calls();
        const auto world = std::find(calls.begin(), calls.end(), TRANSFORM(D3DTS_WORLD));
        ASSERT_NE(world, calls.end());
        EXPECT_TRUE(SameCalls(
            CallLines(world + 1,
                      world + 1 + std::min<long>(k.buffer.size(), calls.end() - world - 1)),
            k.buffer))
            << k.triangles << " triangles";
        EXPECT_EQ(viewport->VertexCapacity, k.capacity);
        EXPECT_EQ(std::count(calls.begin(), calls.end(), DRAW(0, k.triangles)), 1);
    }
}

TEST_F(EngineFrame, FailedPresentRestoresAndRedrawsWithoutRebuildingTheScene) {
    LoadDemoTextures();
    UseDemoScene(0, 0, 0);
    viewport->RenderFrame();
    control->FailNext(D3DFailPoint::Present, 1);
    StartLog();
    viewport->RenderFrame();
    EXPECT_EQ(sceneCalls, 2);
    // The restore drops the buffers, so the redraw makes a new one.
    EXPECT_TRUE(SameCalls(Calls(), CallLines{"Present!", "GetAdapterDisplayMode(0)", "Reset"} +
                                       DefaultStates + FrameStart + NewVertexBuffer(1002) +
                                       FillVertices(2) + Stream3D(true) + RunPrefix + OpaqueBlend +
                                       BaseAlone + CallLines{DRAW(0, 2)} + EmptyOverlay +
                                       CallLines{"EndScene"}));
    EXPECT_TRUE(MessageBoxLog().empty());
}

TEST_F(EngineFrame, PresentThatKeepsFailingGivesUpTheFrame) {
    UseDemoScene(0, 0, 0);
    control->SetFailAlways(D3DFailPoint::Present, true);
    StartLog();
    viewport->RenderFrame();
    const CallLines calls = Calls();
    const long presents = std::count(calls.begin(), calls.end(), "Present!");
    EXPECT_GE(presents, 2);
    EXPECT_LE(presents, 10);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Reset"), presents - 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "BeginScene"), 0);
    EXPECT_EQ(sceneCalls, 0);

    // Once the device presents again, the next idle turn draws.
    control->SetFailAlways(D3DFailPoint::Present, false);
    StartLog();
    viewport->RenderFrame();
    EXPECT_EQ(sceneCalls, 1);
    const CallLines next = Calls();
    EXPECT_EQ(std::count(next.begin(), next.end(), "EndScene"), 1);
}

TEST_F(EngineFrame, RestoreFallsBackToSoftwareWithAWarning) {
    UseDemoScene(0, 0, 0);
    viewport->RenderFrame();
    control->FailNext(D3DFailPoint::Present, 1);
    control->FailNext(D3DFailPoint::GetAdapterDisplayMode, 1);
    ClearMessageBoxLog();
    StartLog();
    viewport->RenderFrame();
    ASSERT_EQ(MessageBoxLog().size(), 1u);
    EXPECT_EQ(MessageBoxLog()[0].Text, "Hardware Mode no availible...Trying software mode");
    EXPECT_EQ(MessageBoxLog()[0].Caption, "Warning.");
    EXPECT_EQ(MessageBoxLog()[0].Type, MB_OK | MB_ICONWARNING);
    const CallLines calls = Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Reset"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "EndScene"), 1);
}

using EngineFrameDeathTest = EngineFrame;

TEST_F(EngineFrameDeathTest, RestoreThatFailsTwiceEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    UseDemoScene(0, 0, 0);
    control->FailNext(D3DFailPoint::Present, 1);
    control->FailNext(D3DFailPoint::GetAdapterDisplayMode, 2);
    EXPECT_EXIT(viewport->RenderFrame(), ::testing::ExitedWithCode(1),
                "Hardware Mode no availible(.|\n)*Error trying to setup Direct3d");
    control->ClearFailures();
}

TEST_F(EngineUnits, AttachFailureEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TGLViewport viewport;
    control->FailNext(D3DFailPoint::CreateDevice, 1);
    EXPECT_EXIT(viewport.AttachToWindow(target->Handle(), 577, 449, 0),
                ::testing::ExitedWithCode(1), "Error trying to Create DX Viewport!");
    control->ClearFailures();
}

TEST_F(EngineUnits, AttachCreatesDeviceAndSetsDefaultStates) {
    TGLViewport viewport;
    StartLog();
    viewport.AttachToWindow(target->Handle(), 577, 449, 0);
    EXPECT_TRUE(SameCalls(
        Calls(), CallLines{"GetAdapterDisplayMode(0)", "CreateDevice(D3DDEVTYPE_HAL, 0x20)"} +
                     DefaultStates));
    EXPECT_TRUE(Device);
    EXPECT_FALSE(viewport.SwapChain);
    EXPECT_EQ(viewport.Handle, target->Handle());
    EXPECT_EQ(viewport.Width, 577);
    EXPECT_EQ(viewport.Height, 449);
    EXPECT_GT(viewport.Caps.MaxTextureWidth, 0u);

    // The first frame presents a back buffer nothing has drawn yet; the
    // second shows the first frame's clear colour.
    viewport.SetBackgroundColor(PackColor(128, 128, 128, 255));
    viewport.RenderFrame();
    viewport.RenderFrame();
    EXPECT_EQ(target->Presents(), 2);
    EXPECT_EQ(target->Pixel(288, 224) & 0xFFFFFF, 0x808080u);

    // Windowed: the 640 x 480 passed for full screen do not size the back
    // buffer; the window's client area does.
    TComRef<IDirect3DSurface8> backBuffer;
    ASSERT_EQ(Device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, backBuffer.ReleaseAndGetAddressOf()),
              D3D_OK);
    D3DSURFACE_DESC desc = {};
    backBuffer->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 577u);
    EXPECT_EQ(desc.Height, 449u);
}

TEST_F(EngineUnits, FurtherWindowsGetSwapChainsAndBadDepthsFail) {
    TComRef<IDirect3DSwapChain8> first, second;
    StartLog();
    // An unsupported full-screen depth fails before anything is created.
    EXPECT_FALSE(CreateDeviceForWindow(first, target->Handle(), 1, 640, 480, 15, 1, true, true));
    EXPECT_TRUE(Calls().empty());
    EXPECT_FALSE(Device);

    ASSERT_TRUE(CreateDeviceForWindow(first, target->Handle(), 0, 640, 480, 16, 1, false, true));
    EXPECT_FALSE(first);  // the first window presents through the device
    ASSERT_TRUE(Device);
    TMemoryTarget other(64, 48);
    StartLog();
    ASSERT_TRUE(CreateDeviceForWindow(second, other.Handle(), 0, 640, 480, 16, 1, true, true));
    EXPECT_TRUE(second);
    EXPECT_TRUE(SameCalls(Calls(), {"GetAdapterDisplayMode(0)", "CreateAdditionalSwapChain"}));
    second = nullptr;
}

TEST_F(EngineFrame, VertexBufferFailureEndsTheFrameWithAMessage) {
    UseDemoScene(0, 0, 0);
    control->FailNext(D3DFailPoint::CreateVertexBuffer, 1);
    StartLog();
    viewport->RenderFrame();
    EXPECT_TRUE(SameCalls(Calls(), FrameStart + CallLines{"CreateVB 132264 8 3C2 1!"}));
    ASSERT_EQ(MessageBoxLog().size(), 1u);
    EXPECT_EQ(MessageBoxLog()[0].Text, "failing trying to build a dx8 vertex buffer!!!!");
    EXPECT_EQ(viewport->VertexCapacity, 0);

    // The next frame tries again and draws.
    StartLog();
    viewport->RenderFrame();
    const CallLines calls = Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "CreateVB 132264 8 3C2 1"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), DRAW(0, 2)), 1);
    EXPECT_EQ(calls.back(), "EndScene");
}

TEST_F(EngineFrame, OverlayGroupsAndTheirBufferFailure) {
    LoadDemoTextures();
    viewport->SceneCallback = [this] { viewport->ClearTriangles(); };
    int overlayCalls = 0;
    viewport->OverlayCallback = [&overlayCalls] { ++overlayCalls; };
    viewport->OverlayTriangleCount = 3;
    viewport->OverlayVertices.assign(9, tvertex_2d{0, 0, 0, 1, 0xFFFFFFFF, 0, 0});
    viewport->OverlayGroupCount = 2;
    viewport->OverlayGroups = {{10006, 1, 2}, {10008, 10, 1}};

    control->FailNext(D3DFailPoint::CreateVertexBuffer, 1);
    StartLog();
    viewport->RenderFrame();
    EXPECT_EQ(overlayCalls, 1);
    ASSERT_EQ(MessageBoxLog().size(), 1u);
    EXPECT_EQ(MessageBoxLog()[0].Text,
              "failing trying to build a dx8 vertex buffer for 2d stuff!!!!");
    EXPECT_EQ(Calls().back(), "EndScene");  // the scene still ends

    const CallLines group = {
        TSS(0, D3DTSS_COLOROP, D3DTOP_DISABLE),
        TSS(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE),
        TSS(1, D3DTSS_COLOROP, D3DTOP_DISABLE),
        TSS(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE),
    };
    const CallLines modulate = {
        TSS(0, D3DTSS_TEXCOORDINDEX, 0),         TSS(0, D3DTSS_COLOROP, D3DTOP_MODULATE2X),
        TSS(0, D3DTSS_COLORARG1, D3DTA_TEXTURE), TSS(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE),
        TSS(1, D3DTSS_COLOROP, D3DTOP_DISABLE),
    };
    FogEnabled = true;
    StartLog();
    viewport->RenderFrame();
    const CallLines calls = Calls();
    const auto stream = std::find(calls.begin(), calls.end(), "SHADER 3C2") + 2;
    ASSERT_LE(stream, calls.end());
    EXPECT_TRUE(SameCalls(
        CallLines(stream, calls.end()),
        CallLines{Line("CreateVB %u 8 144 1", (3 + 250) * 84), Line("LockVB 0 %u 2000", 3 * 84),
                  "UnlockVB", "STREAM 0 28 vb", "SHADER 144", RS(D3DRS_FILLMODE, D3DFILL_SOLID),
                  RS(D3DRS_FOGENABLE, FALSE)} +
            group + CallLines{TEX(0, "base")} +
            CallLines{RS(D3DRS_ALPHABLENDENABLE, FALSE), RS(D3DRS_ALPHAREF, 1),
                      RS(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL), RS(D3DRS_ALPHATESTENABLE, TRUE),
                      TSS(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE),
                      TSS(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1)} +
            modulate + CallLines{DRAW(0, 2)} + group + CallLines{TEX(0, "third")} +
            AdditiveBlend(D3DBLEND_ONE) + modulate + CallLines{DRAW(6, 1)} +
            CallLines{RS(D3DRS_FOGENABLE, TRUE), "EndScene"}));
    EXPECT_EQ(viewport->OverlayCapacity, 253);
}

TEST_F(EngineUnits, FogStates) {
    TGLViewport viewport;
    viewport.AttachToWindow(target->Handle(), 577, 449, 0);
    StartLog();
    SetFogStates();
    EXPECT_TRUE(SameCalls(Calls(), {RS(D3DRS_FOGENABLE, FALSE)}));

    FogEnabled = true;
    FogColor = {0x12, 0x34, 0x56};
    FogOffset = 10;
    StartLog();
    SetFogStates();
    EXPECT_TRUE(SameCalls(
        Calls(), {RS(D3DRS_FOGCOLOR, 0x123456), RS(D3DRS_FOGENABLE, TRUE),
                  RS(D3DRS_FOGTABLEMODE, D3DFOG_NONE), RS(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR),
                  RS(D3DRS_RANGEFOGENABLE, FALSE), RS(D3DRS_FOGSTART, FloatToDWord(550.0f)),
                  RS(D3DRS_FOGEND, FloatToDWord(650.0f))}));
}

TEST_F(EngineFrame, FrameStatisticsAndProjection) {
    UseDemoScene(0, 0, 0);
    viewport->RenderFrame();
    viewport->RenderFrame();
    EXPECT_EQ(viewport->FramesInWindow, 2);
    EXPECT_EQ(viewport->FramesPerSecond, 0);
    EXPECT_LE(viewport->ElapsedInWindow, 1000u);
    // Pretend the counting window began a second ago.
    viewport->FpsWindowStart -= 1000;
    viewport->FramesPerSecond = 10;
    viewport->RenderFrame();
    EXPECT_EQ(viewport->FramesPerSecond, (10 + 3) / 2);
    EXPECT_EQ(viewport->FramesInWindow, 0);
    EXPECT_GE(viewport->LastFrameTime, viewport->FpsWindowStart + 1000);

    // Aspect 577 / 449 and a field of view just under a quarter of pi.
    const float yScale = 1.0f / std::tan(0.785398126f / 2);
    EXPECT_NEAR(viewport->Projection.m22, yScale, 1e-5f);
    EXPECT_NEAR(viewport->Projection.m11, yScale / (577.0f / 449.0f), 1e-5f);
    EXPECT_NEAR(viewport->Projection.m33, 1000.0f / (1000.0f - 0.1f), 1e-6f);
    // The square's centre, the world origin, lies inside all six planes.
    for (const tplane& p : viewport->Frustum.Planes) EXPECT_GT(p.d, 0);
}

TEST(EngineStart, WithoutRuntimeThereIsNoDirect3D) {
    // The runtime module was never loaded, so its entry is missing.
    ZorDX_RenderInitialization();
    EXPECT_FALSE(StartDirect3D());
    EXPECT_FALSE(Direct3D);
    ZorDX_RenderFinalization();
}

TEST(EngineStart, StartValuesAndColours) {
    FarPlane = 4224;
    FogEnabled = true;
    ZorDX_RenderInitialization();
    EXPECT_EQ(FarPlane, 1000.0f);
    EXPECT_EQ(VertexStride, 44);
    EXPECT_EQ(OverlayVertexStride, 28);
    EXPECT_EQ(FogStart, 540.0f);
    EXPECT_EQ(FogEnd, 640.0f);
    EXPECT_EQ(FogOffset, 0.0f);
    EXPECT_FALSE(FogEnabled);
    EXPECT_NE(TextureBuffer, nullptr);
    EXPECT_EQ(ViewportRegistry.Count, 0);
    ZorDX_RenderFinalization();
    EXPECT_EQ(TextureBuffer, nullptr);

    EXPECT_EQ(PackColor(1, 2, 3, 4), 0x04030201u);
    EXPECT_EQ(ColorToD3D(PackColor(128, 128, 128, 255)), 0xFF808080u);
    EXPECT_EQ(ColorToD3D(PackColor(255, 0, 0, 0)), 0xFFFF0000u);
    EXPECT_EQ(ColorToD3D(0x00563412u), 0xFF123456u);
}

TEST(EngineStart, RegistryHasOneSlot) {
    ZorDX_RenderInitialization();
    {
        TGLViewport first;
        EXPECT_EQ(ViewportRegistry.Count, 1);
        EXPECT_EQ(ViewportRegistry.Viewports[0], &first);
        {
            TGLViewport second;  // no room: stays out
            EXPECT_EQ(ViewportRegistry.Count, 1);
            EXPECT_EQ(ViewportRegistry.Viewports[0], &first);
        }
        EXPECT_EQ(ViewportRegistry.Count, 1);
    }
    EXPECT_EQ(ViewportRegistry.Count, 0);  // a destroyed viewport leaves no dangling slot
    ZorDX_RenderFinalization();
}
