// Loading a large picture into a texture, file to texture, and the texel
// passes it is made of.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ComRef.h"
#include "Graphics.h"
#include "System.h"
#include "TextureBuffer.h"
#include "Windows.h"
#include "Zorgraph.h"

namespace fs = std::filesystem;

namespace {

constexpr int Side = 2048;
constexpr double Texels = double(Side) * Side;

// A 24-bit picture: a colour ramp with a magenta band every 64 rows, so
// that the key and the bleed have work to do.
TBitmap MakePicture() {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(Side, Side);
    for (int y = 0; y < Side; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        const bool band = (y % 64) < 8;
        for (int x = 0; x < Side; ++x, row += 3) {
            row[0] = band ? 255 : uint8_t(x);
            row[1] = band ? 0 : uint8_t(y);
            row[2] = band ? 255 : uint8_t(x + y);
        }
    }
    return bitmap;
}

// The device module with one device on an in-memory window, and the test
// picture on disk, for the life of the program.
class Scene {
public:
    Scene() : target_(64, 64) {
        InitializeFrameworkGraphics();
        dir_ = fs::temp_directory_path() / ("bench-textures-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        Path = (dir_ / "picture.bmp").string();
        MakePicture().SaveToFile(Path);

        module_ = LoadLibraryA("d3d8.dll");
        auto create = module_ ? reinterpret_cast<Direct3DCreate8Proc>(GetProcAddress(module_, "Direct3DCreate8"))
                              : nullptr;
        if (create == nullptr) return;
        direct3D_.Attach(create(120));
        D3DPRESENT_PARAMETERS params{};
        params.Windowed = TRUE;
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        params.BackBufferFormat = D3DFMT_X8R8G8B8;
        params.hDeviceWindow = target_.Handle();
        if (direct3D_)
            direct3D_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, target_.Handle(),
                                    D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                                    Device.ReleaseAndGetAddressOf());
    }
    ~Scene() {
        Device = nullptr;
        direct3D_ = nullptr;
        if (module_) FreeLibrary(module_);
        fs::remove_all(dir_);
    }

    std::string Path;
    TComRef<IDirect3DDevice8> Device;

private:
    TMemoryTarget target_;
    fs::path dir_;
    HMODULE module_ = nullptr;
    TComRef<IDirect3D8> direct3D_;
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

// Times each pass in processor time (the build machine is shared, so wall
// time says more about the neighbours than about the code) and reports
// milliseconds per pass and nanoseconds per texel as plain averages.
class PassTimer {
public:
    explicit PassTimer(benchmark::State& state) : state_(state) {}
    ~PassTimer() {
        state_.counters["ms"] = benchmark::Counter(totalMs_, benchmark::Counter::kAvgIterations);
        state_.counters["ns_per_texel"] =
            benchmark::Counter(totalMs_ * 1e6 / Texels, benchmark::Counter::kAvgIterations);
    }
    void Start() { start_ = NowMs(); }
    void Stop() { totalMs_ += NowMs() - start_; }

private:
    static double NowMs() {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) * 1e-6;
    }

    benchmark::State& state_;
    double start_ = 0;
    double totalMs_ = 0;
};

void BM_LoadTexture(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.Device) {
        state.SkipWithError("no Direct3D device");
        return;
    }
    Td3dTexture_buffer buffer{[&] { return scene.Device.get(); }};
    PassTimer timer(state);
    for (auto _ : state) {
        timer.Start();
        const bool loaded = buffer.LoadTexture(10006, scene.Path, false, false);
        timer.Stop();
        if (!loaded) state.SkipWithError("load failed");
    }
}
BENCHMARK(BM_LoadTexture)->Unit(benchmark::kMillisecond);

void BM_CopyScanLines(benchmark::State& state) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf16bit);
    bitmap.SetSize(Side, Side);
    std::vector<uint16_t> texels(Side * Side);
    PassTimer timer(state);
    for (auto _ : state) {
        timer.Start();
        CopyScanLines(bitmap, Side * Side * 2, texels.data());
        timer.Stop();
        benchmark::DoNotOptimize(texels.data());
    }
}
BENCHMARK(BM_CopyScanLines)->Unit(benchmark::kMillisecond);

// 5-6-5 texels of the test picture.
std::vector<uint16_t> PictureTexels() {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf16bit);
    bitmap.SetSize(Side, Side);
    const TBitmap picture = MakePicture();
    bitmap.Canvas().StretchDraw(Rect(0, 0, Side, Side), picture);
    std::vector<uint16_t> texels(Side * Side);
    CopyScanLines(bitmap, Side * Side * 2, texels.data());
    return texels;
}

void BM_ColorKey1555(benchmark::State& state) {
    const std::vector<uint16_t> source = PictureTexels();
    std::vector<uint16_t> texels(source.size());
    PassTimer timer(state);
    for (auto _ : state) {
        texels = source;
        timer.Start();
        ColorKey1555(texels.data(), Side * Side * 2);
        timer.Stop();
        benchmark::DoNotOptimize(texels.data());
    }
}
BENCHMARK(BM_ColorKey1555)->Unit(benchmark::kMillisecond);

void BM_BleedTransparent(benchmark::State& state) {
    std::vector<uint16_t> keyed = PictureTexels();
    ColorKey1555(keyed.data(), Side * Side * 2);
    std::vector<uint16_t> texels(keyed.size());
    PassTimer timer(state);
    for (auto _ : state) {
        texels = keyed;
        timer.Start();
        BleedTransparent(texels.data(), Side, Side);
        timer.Stop();
        benchmark::DoNotOptimize(texels.data());
    }
}
BENCHMARK(BM_BleedTransparent)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
