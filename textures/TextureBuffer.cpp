#include "TextureBuffer.h"

#include <cstring>
#include <memory>

#include "Graphics.h"
#include "SysUtils.h"
#include "Zorgraph.h"

namespace {

constexpr int32_t NameWidth = 13;
constexpr int32_t LargestSide = 8192;

// The picture of fileName stretched over a 5-6-5 bitmap with power-of-two
// sides. Reader errors propagate; the picture is freed either way.
TBitmap LoadPowerOfTwoBitmap(const std::string& fileName) {
    TPicture picture;
    picture.LoadFromFile(fileName);
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf16bit);
    const TGraphic* graphic = picture.Graphic();
    // An opaque plain bitmap draws every pixel of the stretched rectangle, so
    // its target need not be cleared first; other pictures may leave gaps.
    const bool drawsAll = graphic != nullptr && graphic->ClassType() == TBitmap::StaticClass() &&
                          graphic->Width() > 0 && graphic->Height() > 0 &&
                          !(graphic->Transparent && static_cast<const TBitmap*>(graphic)->TransparentColor != clNone);
    const int32_t width = NextPowerOfTwo(picture.Width()), height = NextPowerOfTwo(picture.Height());
    if (drawsAll)
        bitmap.SetSizeForOverwrite(width, height);
    else
        bitmap.SetSize(width, height);
    if (graphic)
        bitmap.Canvas().StretchDraw(Rect(0, 0, bitmap.Width(), bitmap.Height()), *graphic);
    return bitmap;
}

// Level 0 of texture filled with the rows of texels (width x height). A
// level smaller than asked for, a lock that fails, or one that answers no
// room for a row leaves the texture unfilled.
bool FillLevel0(IDirect3DTexture8& texture, const uint16_t* texels, int32_t width, int32_t height) {
    D3DSURFACE_DESC desc{};
    if (FAILED(texture.GetLevelDesc(0, &desc)) || desc.Width < UINT(width) || desc.Height < UINT(height))
        return false;
    D3DLOCKED_RECT locked{};
    if (FAILED(texture.LockRect(0, &locked, nullptr, 0))) return false;
    const size_t rowBytes = static_cast<size_t>(width) * 2;
    const bool usable = locked.pBits != nullptr && locked.Pitch >= 0 &&
                        static_cast<size_t>(locked.Pitch) >= rowBytes;
    if (usable) {
        auto* out = static_cast<uint8_t*>(locked.pBits);
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(out + static_cast<size_t>(y) * locked.Pitch,
                        texels + static_cast<size_t>(y) * width, rowBytes);
    }
    texture.UnlockRect(0);
    return usable;
}

}  // namespace

int32_t NextPowerOfTwo(int32_t n) {
    if (n <= 0 || n > LargestSide) return n;
    int32_t side = 2;
    while (side < n) side *= 2;
    return side;
}

Td3dTexture_buffer::Td3dTexture_buffer(std::function<IDirect3DDevice8*()> device)
    : device_(std::move(device)) {
    Textures.SetSorted(true);
}

Td3dTexture_buffer::~Td3dTexture_buffer() {
    // Each record releases its texture (and pixels it owns) as it goes.
    Textures.Clear();
}

bool Td3dTexture_buffer::LoadTexture(int32_t id, const std::string& fileName, bool DarkToBlack,
                                     bool SkipBleed) {
    if (!FileExists(fileName)) return false;
    const TBitmap bitmap = LoadPowerOfTwoBitmap(fileName);
    const int32_t width = bitmap.Width(), height = bitmap.Height();
    const int32_t size = width * height * 2;

    // Every texel is written by the copy, so the buffer starts unfilled.
    const auto texels = std::make_unique_for_overwrite<uint16_t[]>(static_cast<size_t>(width) * height);
    CopyScanLines(bitmap, size, texels.get());
    DarkToBlack ? ColorKeyDark1555(texels.get(), size) : ColorKey1555(texels.get(), size);
    if (!SkipBleed) BleedTransparent(texels.get(), width, height);

    IDirect3DDevice8* device = device_ ? device_() : nullptr;
    if (device == nullptr) return false;
    TComRef<IDirect3DTexture8> texture;
    if (FAILED(device->CreateTexture(width, height, 1, 0, D3DFMT_A1R5G5B5, D3DPOOL_MANAGED,
                                     texture.ReleaseAndGetAddressOf())) ||
        !texture)
        return false;
    // Filled before the old texture goes, so that a failed lock keeps it.
    if (!FillLevel0(*texture, texels.get(), width, height)) return false;

    auto record = std::make_unique<ttexture_record>();
    record->name = NumberName(id, NameWidth);
    record->texture = texture;
    record->width = static_cast<uint16_t>(width);
    record->height = static_cast<uint16_t>(height);
    RemoveRecord(record->name);
    const std::string name = record->name;
    Textures.Add(name, std::move(record));

    CurrentTexture = texture;
    CurrentId = id;
    return true;
}

void Td3dTexture_buffer::RemoveRecord(const std::string& name) {
    const int32_t index = Textures.IndexOf(name);
    if (index < 0) return;
    Textures.Delete(index);
    Textures.Pack();
}

void Td3dTexture_buffer::SelectTexture(int32_t id) {
    if (const ttexture_record* record = Textures.FindData(NumberName(id, NameWidth))) {
        CurrentTexture = record->texture;
        CurrentId = id;
    } else {
        CurrentTexture = nullptr;
        CurrentId = -1;
    }
}

void Td3dTexture_buffer::GetCurrentTexture(TComRef<IDirect3DTexture8>& texture) const {
    texture = CurrentTexture;
}

bool Td3dTexture_buffer::HasTextureIndex(int32_t index) const {
    return index >= 0 && index <= Textures.Count() - 1;
}
