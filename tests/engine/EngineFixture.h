// Runs the engine's units against the software device module, loaded by
// name exactly as the program loads it, with a memory target as the window.
// The device's call log is turned into short lines ("RS 27 0", "TEX 0 base",
// "DRAW 4 0 2") that the tests compare with the expected sequences.
#pragma once

#include <Graphics.h>
#include <Mouse_Camera_2.h>
#include <System.h>
#include <TextureBuffer.h>
#include <Windows.h>
#include <ZorDX_Render.h>
#include <d3d8test.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

using CallLines = std::vector<std::string>;

inline std::string Line(const char* format, auto... args) {
    char text[128];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

inline std::string RS(D3DRENDERSTATETYPE state, DWORD value) {
    return Line("RS %u %u", unsigned(state), unsigned(value));
}
inline std::string TSS(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    return Line("TSS %u %u %u", unsigned(stage), unsigned(type), unsigned(value));
}
inline std::string TEX(DWORD stage, const std::string& name) {
    return Line("TEX %u ", unsigned(stage)) + name;
}
inline std::string DRAW(UINT start, UINT count) {
    return Line("DRAW %u %u %u", unsigned(D3DPT_TRIANGLELIST), start, count);
}
inline std::string TRANSFORM(D3DTRANSFORMSTATETYPE state) {
    return Line("TRANSFORM %u", unsigned(state));
}

inline CallLines operator+(CallLines a, const CallLines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Shows both sequences from the first difference on, which reads far better
// than gtest's dump of two long vectors.
inline ::testing::AssertionResult SameCalls(const CallLines& actual, const CallLines& expected) {
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
    if (i == actual.size() && i == expected.size()) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    failure << "first difference at call " << i << "\n  actual:  ";
    for (size_t k = i; k < actual.size() && k < i + 8; ++k) failure << "[" << actual[k] << "] ";
    failure << "\n  expected: ";
    for (size_t k = i; k < expected.size() && k < i + 8; ++k) failure << "[" << expected[k] << "] ";
    return failure;
}

class EngineUnits : public ::testing::Test {
protected:
    void SetUp() override {
        static const bool graphicsRegistered = (InitializeFrameworkGraphics(), true);
        (void)graphicsRegistered;
        InitializeUnit("Direct3D8", Direct3D8Initialization, Direct3D8Finalization);
        InitializeUnit("ZorDX_Geometry", ZorDX_GeometryInitialization, nullptr);
        InitializeUnit("ZorDX_Render", ZorDX_RenderInitialization, ZorDX_RenderFinalization);
        module_ = LoadLibraryA("d3d8.dll");
        ASSERT_NE(module_, nullptr);
        const auto entry =
            reinterpret_cast<D3D8SoftControlProc>(GetProcAddress(module_, D3D8SoftControlName));
        ASSERT_NE(entry, nullptr);
        control = entry();
        control->ClearFailures();
        control->StopCallLog();
        control->ClearCallLog();
        ClearMessageBoxLog();
        ASSERT_TRUE(StartDirect3D());
        target = std::make_unique<TMemoryTarget>(577, 449);
    }

    void TearDown() override {
        ReleaseScene();
        FinalizeUnits();
        if (control != nullptr) {
            EXPECT_EQ(control->LiveObjects(), 0) << "device objects leaked";
            control->ClearFailures();
        }
        if (module_ != nullptr) FreeLibrary(module_);
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }

    // Frees what holds device objects before the units end.
    virtual void ReleaseScene() {}

    void StartLog() {
        control->ClearCallLog();
        control->StartCallLog();
    }

    // The calls since StartLog, as short lines.
    CallLines Calls() const {
        CallLines lines;
        for (const D3DCallRecord& r : control->CallLog()) lines.push_back(Describe(r));
        return lines;
    }

    // A w x h 24-bit bitmap file of one colour (blue, green, red), written
    // under a folder of this test.
    std::string WriteBitmap(const std::string& name, int w, int h, uint8_t blue, uint8_t green,
                            uint8_t red) {
        if (folder_.empty()) {
            folder_ = std::filesystem::temp_directory_path() /
                      ("engine-test-" + std::to_string(::getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
            std::filesystem::create_directories(folder_);
        }
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(w, h);
        for (int y = 0; y < h; ++y) {
            uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < w; ++x) {
                row[3 * x] = blue;
                row[3 * x + 1] = green;
                row[3 * x + 2] = red;
            }
        }
        const std::string path = (folder_ / name).string();
        bitmap.SaveToFile(path);
        return path;
    }

    // Names a loaded texture in the call lines.
    void NameTexture(int32_t id, const std::string& name) {
        TextureBuffer->SelectTexture(id);
        TComRef<IDirect3DTexture8> texture;
        TextureBuffer->GetCurrentTexture(texture);
        ASSERT_TRUE(texture) << id;
        names_[texture.get()] = name;
    }

    std::string Describe(const D3DCallRecord& r) const {
        const std::string failed = FAILED(r.Result) ? "!" : "";
        switch (r.Kind) {
            case D3DCallKind::Present: return "Present" + failed;
            case D3DCallKind::Reset: return "Reset" + failed;
            case D3DCallKind::GetBackBuffer: return "GetBackBuffer";
            case D3DCallKind::GetDepthStencilSurface: return "GetDepthStencilSurface";
            case D3DCallKind::SetRenderTarget:
                return Line("SetRenderTarget %s %s", r.Pointer ? "surface" : "null",
                            r.Args[0] ? "depth" : "null");
            case D3DCallKind::Clear:
                return Line("Clear %u %08X %08X %u", r.Args[0], r.Args[1], r.Args[2], r.Args[3]);
            case D3DCallKind::BeginScene: return "BeginScene";
            case D3DCallKind::EndScene: return "EndScene";
            case D3DCallKind::SetTransform: return TRANSFORM(D3DTRANSFORMSTATETYPE(r.Args[0]));
            case D3DCallKind::SetRenderState: return RS(D3DRENDERSTATETYPE(r.Args[0]), r.Args[1]);
            case D3DCallKind::SetTextureStageState:
                return TSS(r.Args[0], D3DTEXTURESTAGESTATETYPE(r.Args[1]), r.Args[2]);
            case D3DCallKind::SetTexture: {
                if (r.Pointer == nullptr) return TEX(r.Args[0], "null");
                const auto found = names_.find(r.Pointer);
                return TEX(r.Args[0], found != names_.end() ? found->second : "unknown");
            }
            case D3DCallKind::SetStreamSource:
                return Line("STREAM %u %u %s", r.Args[0], r.Args[1], r.Pointer ? "vb" : "null");
            case D3DCallKind::SetVertexShader: return Line("SHADER %X", r.Args[0]);
            case D3DCallKind::DrawPrimitive:
                return Line("DRAW %u %u %u", r.Args[0], r.Args[1], r.Args[2]);
            case D3DCallKind::CreateVertexBuffer:
                return Line("CreateVB %u %X %X %u", r.Args[0], r.Args[1], r.Args[2], r.Args[3]) +
                       failed;
            case D3DCallKind::LockVertexBuffer:
                return Line("LockVB %u %u %X", r.Args[0], r.Args[1], r.Args[2]);
            case D3DCallKind::UnlockVertexBuffer: return "UnlockVB";
            default: return r.Text;
        }
    }

    ID3D8SoftControl* control = nullptr;
    std::unique_ptr<TMemoryTarget> target;

private:
    HMODULE module_ = nullptr;
    std::filesystem::path folder_;
    std::map<const void*, std::string> names_;
};

// The demo's set-up on top of the units: camera at (0, 0, -48) looking at
// the origin, one viewport on a 577 x 449 target cleared to mid grey, and
// base, normal-map and third textures under 10006, 10007 and 10008.
class EngineFrame : public EngineUnits {
protected:
    void SetUp() override {
        EngineUnits::SetUp();
        if (HasFatalFailure()) return;
        camera.Position = MakeVector(0, 0, -48);
        camera.Target = MakeVector(0, 0, 0);
        viewport = std::make_unique<TGLViewport>();
        viewport->SetCamera(&camera);
        viewport->AttachToWindow(target->Handle(), 577, 449, 0);
        viewport->SetBackgroundColor(PackColor(128, 128, 128, 255));
    }

    void ReleaseScene() override { viewport.reset(); }

    void LoadDemoTextures() {
        ASSERT_TRUE(TextureBuffer->LoadTexture(10006, WriteBitmap("base.bmp", 4, 4, 10, 20, 30),
                                               false, false));
        ASSERT_TRUE(TextureBuffer->LoadTexture(
            10007, WriteBitmap("normal.bmp", 4, 4, 255, 128, 128), false, false));
        ASSERT_TRUE(TextureBuffer->LoadTexture(10008, WriteBitmap("third.bmp", 4, 4, 0, 0, 200),
                                               false, false));
        NameTexture(10006, "base");
        NameTexture(10007, "normal");
        NameTexture(10008, "third");
    }

    // The demo's square with the given state; counts its calls.
    void UseDemoScene(uint16_t bumpMap, uint8_t layers, uint8_t blendMode) {
        viewport->SceneCallback = [this, bumpMap, layers, blendMode] {
            ++sceneCalls;
            TGLViewport& v = *viewport;
            v.ClearTriangles();
            v.Rotation = {0, 0, 0};
            v.CurrentTexture0 = 10006;
            v.CurrentTexture1 = 10007;
            v.CurrentTexture2 = 10008;
            v.CurrentBlendMode = blendMode;
            v.CurrentBumpMap = bumpMap;
            v.CurrentLayers = layers;
            v.CurrentTag = 0;
            v.CurrentSpecular = VectorToColor(MakeVector(0, 0, 0.5f));
            v.AddQuad(-16, 16, 0, 14, 14, 14, 0, 0, 16, 16, 0, 14, 14, 14, 1, 0, 16, -16, 0, 14, 14,
                      14, 1, 1, -16, -16, 0, 14, 14, 14, 0, 1);
        };
    }

    TGLCamera camera;
    std::unique_ptr<TGLViewport> viewport;
    int sceneCalls = 0;
};
