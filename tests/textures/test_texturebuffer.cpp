// The texture buffer end to end: picture files written here, read by the
// framework, turned into textures by the software device module.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ComRef.h"
#include "GraphicFormats.h"
#include "Graphics.h"
#include "SysUtils.h"
#include "formats/CUTFiles.h"
#include "System.h"
#include "TextureBuffer.h"
#include "Windows.h"
#include "d3d8test.h"

namespace fs = std::filesystem;

namespace {

constexpr TColor Magenta = RGB(255, 0, 255);
constexpr TColor Red = RGB(255, 0, 0);
constexpr TColor Blue = RGB(0, 0, 255);
constexpr TColor White = RGB(255, 255, 255);

using Texels = std::vector<uint16_t>;

// The device module, one Direct3D object and one device for the whole run.
class DeviceEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        InitializeFrameworkGraphics();
        module_ = LoadLibraryA("d3d8.dll");
        ASSERT_NE(module_, nullptr);
        auto create = reinterpret_cast<Direct3DCreate8Proc>(GetProcAddress(module_, "Direct3DCreate8"));
        auto control = reinterpret_cast<D3D8SoftControlProc>(GetProcAddress(module_, D3D8SoftControlName));
        ASSERT_NE(create, nullptr);
        ASSERT_NE(control, nullptr);
        Control = control();
        Direct3D.Attach(create(120));
        ASSERT_TRUE(Direct3D);
        target_ = std::make_unique<TMemoryTarget>(64, 64);
        D3DPRESENT_PARAMETERS params{};
        params.Windowed = TRUE;
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        params.BackBufferFormat = D3DFMT_X8R8G8B8;
        params.hDeviceWindow = target_->Handle();
        ASSERT_TRUE(SUCCEEDED(Direct3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, target_->Handle(),
                                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                                                     Device.ReleaseAndGetAddressOf())));
    }
    void TearDown() override {
        Device = nullptr;
        Direct3D = nullptr;
        target_.reset();
        if (module_) FreeLibrary(module_);
    }

    static inline ID3D8SoftControl* Control = nullptr;
    static inline TComRef<IDirect3D8> Direct3D;
    static inline TComRef<IDirect3DDevice8> Device;

private:
    HMODULE module_ = nullptr;
    std::unique_ptr<TMemoryTarget> target_;
};

const ::testing::Environment* const deviceEnvironment =
    ::testing::AddGlobalTestEnvironment(new DeviceEnvironment);

// Rows of window colours, top row first.
using Picture = std::vector<std::vector<TColor>>;

class TextureBufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("texturebuffer-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        DeviceEnvironment::Control->ClearFailures();
        liveBefore_ = DeviceEnvironment::Control->LiveObjects();
    }
    void TearDown() override {
        DeviceEnvironment::Control->ClearFailures();
        fs::remove_all(dir_);
    }

    std::string WriteBmp(const std::string& name, const Picture& rows) {
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(static_cast<int>(rows.at(0).size()), static_cast<int>(rows.size()));
        for (size_t y = 0; y < rows.size(); ++y)
            for (size_t x = 0; x < rows[y].size(); ++x) bitmap.SetPixel(int(x), int(y), rows[y][x]);
        const std::string path = (dir_ / name).string();
        bitmap.SaveToFile(path);
        return path;
    }

    std::string WriteFilled(const std::string& name, int width, int height, TColor color) {
        return WriteBmp(name, Picture(height, std::vector<TColor>(width, color)));
    }

    std::string WriteBytes(const std::string& name, const std::string& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Level 0 of a texture, rows packed.
    static Texels ReadTexels(IDirect3DTexture8* texture) {
        D3DSURFACE_DESC desc{};
        texture->GetLevelDesc(0, &desc);
        D3DLOCKED_RECT locked{};
        EXPECT_TRUE(SUCCEEDED(texture->LockRect(0, &locked, nullptr, 0)));
        Texels texels;
        for (UINT y = 0; y < desc.Height; ++y) {
            const auto* row = reinterpret_cast<const uint16_t*>(static_cast<const uint8_t*>(locked.pBits) +
                                                                size_t(y) * locked.Pitch);
            texels.insert(texels.end(), row, row + desc.Width);
        }
        texture->UnlockRect(0);
        return texels;
    }

    static std::pair<UINT, UINT> Size(IDirect3DTexture8* texture) {
        D3DSURFACE_DESC desc{};
        texture->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Format, D3DFMT_A1R5G5B5);
        EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
        return {desc.Width, desc.Height};
    }

    int LiveDelta() const { return DeviceEnvironment::Control->LiveObjects() - liveBefore_; }

    Td3dTexture_buffer buffer_{[] { return DeviceEnvironment::Device.get(); }};

private:
    fs::path dir_;
    int liveBefore_ = 0;
};

TEST(NextPowerOfTwo, RoundsUpFromTwoTo8192) {
    const struct {
        int32_t in, out;
    } cases[] = {{1, 2},       {2, 2},       {3, 4},         {4, 4},     {5, 8},       {60, 64},
                 {100, 128},   {256, 256},   {4097, 8192},   {8192, 8192}, {8193, 8193}, {0, 0},
                 {-3, -3},     {100000, 100000}};
    for (const auto& c : cases) EXPECT_EQ(NextPowerOfTwo(c.in), c.out) << c.in;
}

TEST_F(TextureBufferTest, SidesBecomePowersOfTwo) {
    const struct {
        int width, height;
        UINT textureWidth, textureHeight;
    } cases[] = {{100, 60, 128, 64}, {256, 256, 256, 256}, {1, 1, 2, 2}, {3, 17, 4, 32}};
    for (const auto& c : cases) {
        ASSERT_TRUE(buffer_.LoadTexture(10006, WriteFilled("side.bmp", c.width, c.height, White), false, false));
        EXPECT_EQ(Size(buffer_.CurrentTexture.get()), std::make_pair(c.textureWidth, c.textureHeight));
        const ttexture_record* record = buffer_.Textures.GetData(0);
        EXPECT_EQ(record->width, c.textureWidth);
        EXPECT_EQ(record->height, c.textureHeight);
        EXPECT_EQ(record->bytesPerTexel, 2);
        EXPECT_EQ(record->pixels, nullptr);
        EXPECT_FALSE(record->ownsPixels);
        // The picture is scaled over the whole texture, not padded.
        for (uint16_t texel : ReadTexels(buffer_.CurrentTexture.get())) ASSERT_EQ(texel, 0xFFFF);
    }
}

TEST_F(TextureBufferTest, KeysMagentaAndBleedsNeighbourColours) {
    const std::string path = WriteBmp("keyed.bmp", {{Red, Magenta, Magenta, Magenta},
                                                    {Magenta, Magenta, Magenta, Blue},
                                                    {Magenta, Magenta, Magenta, Magenta},
                                                    {Magenta, Magenta, Magenta, Magenta}});
    ASSERT_TRUE(buffer_.LoadTexture(10007, path, false, false));
    EXPECT_EQ(ReadTexels(buffer_.CurrentTexture.get()),
              (Texels{0xFC00, 0x7C00, 0x001F, 0x001F,  //
                      0x7C00, 0x7C00, 0x001F, 0x801F,  //
                      0x0000, 0x0000, 0x001F, 0x001F,  //
                      0x0000, 0x0000, 0x0000, 0x0000}));

    ASSERT_TRUE(buffer_.LoadTexture(10007, path, false, true));
    EXPECT_EQ(ReadTexels(buffer_.CurrentTexture.get()),
              (Texels{0xFC00, 0, 0, 0,  //
                      0, 0, 0, 0x801F,  //
                      0, 0, 0, 0,       //
                      0, 0, 0, 0}));
}

TEST_F(TextureBufferTest, DarkToBlackBlackensDarkTexels) {
    const std::string path = WriteBmp("dark.bmp", {{RGB(200, 100, 220), White}, {Magenta, RGB(180, 180, 180)}});
    ASSERT_TRUE(buffer_.LoadTexture(1, path, true, true));
    EXPECT_EQ(ReadTexels(buffer_.CurrentTexture.get()), (Texels{0x8000, 0xFFFF, 0x0000, 0xDAD6}));
}

TEST_F(TextureBufferTest, CUTImagesTakeThePaletteFileBesideThem) {
    GraphicFormatsInitialization();
    const auto write = [&](const std::string& name, const imagefiles::Bytes& bytes) {
        return WriteBytes(name, std::string(bytes.begin(), bytes.end()));
    };
    const std::string path = write("halo.cut", imagefiles::MakeCut(2, 2, {0, 1, 1, 0}));
    write("halo.pal", imagefiles::MakeHaloPalette({{255, 0, 0}, {0, 0, 255}}));
    const bool loaded = buffer_.LoadTexture(10006, path, false, true);
    GraphicFormatsFinalization();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(ReadTexels(buffer_.CurrentTexture.get()), (Texels{0xFC00, 0x801F, 0x801F, 0xFC00}));
}

TEST_F(TextureBufferTest, ReloadingAnIdReplacesItsTexture) {
    ASSERT_TRUE(buffer_.LoadTexture(10006, WriteFilled("a.bmp", 2, 2, Red), false, false));
    TComRef<IDirect3DTexture8> first = buffer_.CurrentTexture;
    ASSERT_TRUE(buffer_.LoadTexture(10006, WriteFilled("b.bmp", 2, 2, Blue), false, false));
    EXPECT_EQ(buffer_.Textures.Count(), 1);
    EXPECT_EQ(buffer_.Textures.Free(), 0);
    EXPECT_EQ(buffer_.CurrentId, 10006);
    EXPECT_NE(buffer_.CurrentTexture, first);
    EXPECT_EQ(buffer_.Textures.GetData(0)->texture, buffer_.CurrentTexture);
    EXPECT_EQ(ReadTexels(buffer_.CurrentTexture.get())[0], 0x801F);
    // Once we let go, the replaced texture is gone: the buffer kept no reference.
    first = nullptr;
    EXPECT_EQ(LiveDelta(), 1);
}

TEST_F(TextureBufferTest, SelectsTexturesById) {
    ASSERT_TRUE(buffer_.LoadTexture(10007, WriteFilled("b.bmp", 2, 2, Blue), false, false));
    TComRef<IDirect3DTexture8> dot3 = buffer_.CurrentTexture;
    ASSERT_TRUE(buffer_.LoadTexture(10006, WriteFilled("a.bmp", 2, 2, Red), false, false));
    TComRef<IDirect3DTexture8> base = buffer_.CurrentTexture;
    EXPECT_EQ(buffer_.CurrentId, 10006);

    buffer_.SelectTexture(10007);
    EXPECT_EQ(buffer_.CurrentId, 10007);
    TComRef<IDirect3DTexture8> got;
    buffer_.GetCurrentTexture(got);
    EXPECT_EQ(got, dot3);

    buffer_.SelectTexture(12345);
    EXPECT_EQ(buffer_.CurrentId, -1);
    EXPECT_FALSE(buffer_.CurrentTexture);
    buffer_.GetCurrentTexture(got);
    EXPECT_FALSE(got);

    buffer_.SelectTexture(10006);
    buffer_.GetCurrentTexture(got);
    EXPECT_EQ(got, base);
    EXPECT_EQ(buffer_.CurrentId, 10006);
}

TEST_F(TextureBufferTest, RecordNamesSortInIdOrder) {
    const std::string path = WriteFilled("a.bmp", 2, 2, Red);
    for (int32_t id : {10007, 10006, 9, 20000, 10006}) ASSERT_TRUE(buffer_.LoadTexture(id, path, false, false));
    ASSERT_EQ(buffer_.Textures.Count(), 4);
    const char* names[] = {"            9", "        10006", "        10007", "        20000"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(buffer_.Textures.GetData(i)->name, names[i]);
    EXPECT_FALSE(buffer_.HasTextureIndex(-1));
    EXPECT_TRUE(buffer_.HasTextureIndex(0));
    EXPECT_TRUE(buffer_.HasTextureIndex(3));
    EXPECT_FALSE(buffer_.HasTextureIndex(4));
}

// A failed load in any of its ways leaves the buffer as it was.
class FailedLoadTest : public TextureBufferTest {
protected:
    void SetUp() override {
        TextureBufferTest::SetUp();
        ASSERT_TRUE(buffer_.LoadTexture(10006, WriteFilled("old.bmp", 2, 2, Red), false, false));
        old_ = buffer_.CurrentTexture;
        liveLoaded_ = DeviceEnvironment::Control->LiveObjects();
    }
    void ExpectUnchanged() {
        EXPECT_EQ(buffer_.Textures.Count(), 1);
        EXPECT_EQ(buffer_.Textures.GetData(0)->texture, old_);
        EXPECT_EQ(buffer_.CurrentTexture, old_);
        EXPECT_EQ(buffer_.CurrentId, 10006);
        EXPECT_EQ(DeviceEnvironment::Control->LiveObjects(), liveLoaded_);
    }

    TComRef<IDirect3DTexture8> old_;
    int liveLoaded_ = 0;
};

TEST_F(FailedLoadTest, MissingFileAnswersFalse) {
    EXPECT_FALSE(buffer_.LoadTexture(10006, "/nonexistent/none.bmp", false, false));
    ExpectUnchanged();
}

TEST_F(FailedLoadTest, ReaderErrorsPropagateUnchanged) {
    EXPECT_THROW(buffer_.LoadTexture(10006, WriteBytes("bad.bmp", std::string("BM\x10\0\0\0junk", 10)), false, false),
                 Exception);
    ExpectUnchanged();
    try {
        buffer_.LoadTexture(10006, WriteBytes("picture.qqq", "anything"), false, false);
        ADD_FAILURE() << "no error";
    } catch (const EInvalidGraphic& error) {
        EXPECT_EQ(error.Message(), "Unknown picture file extension (.qqq)");
    }
    ExpectUnchanged();
}

TEST_F(FailedLoadTest, DeviceFailuresAnswerFalseAndLeakNothing) {
    for (D3DFailPoint point : {D3DFailPoint::CreateTexture, D3DFailPoint::LockTexture}) {
        DeviceEnvironment::Control->FailNext(point, 1);
        EXPECT_FALSE(buffer_.LoadTexture(10006, WriteFilled("new.bmp", 4, 4, Blue), false, false));
        ExpectUnchanged();
    }
}

TEST_F(FailedLoadTest, NoDeviceAnswersFalse) {
    Td3dTexture_buffer orphan{[] { return static_cast<IDirect3DDevice8*>(nullptr); }};
    EXPECT_FALSE(orphan.LoadTexture(10006, WriteFilled("new.bmp", 4, 4, Blue), false, false));
    EXPECT_EQ(orphan.Textures.Count(), 0);
    EXPECT_EQ(orphan.CurrentId, 0);
}

TEST_F(TextureBufferTest, DestructionReleasesEveryTexture) {
    {
        Td3dTexture_buffer buffer{[] { return DeviceEnvironment::Device.get(); }};
        const std::string path = WriteFilled("a.bmp", 8, 8, Red);
        for (int32_t id : {1, 2, 3}) ASSERT_TRUE(buffer.LoadTexture(id, path, false, false));
        EXPECT_EQ(LiveDelta(), 3);
    }
    EXPECT_EQ(LiveDelta(), 0);
}

}  // namespace
