#include "TextureBuffer.h"

#include <cstring>
#include <memory>

#include "Graphics.h"
#include "Jpeg.h"
#include "SysUtils.h"
#include "Zorgraph.h"

namespace {

constexpr int32_t NameWidth = 13;
constexpr int32_t LargestSide = 8192;

// The bitmap a picture draws by plain nearest sampling, every pixel of it:
// a bitmap without a transparent colour, or the one a JPEG image holds.
const TBitmap* OpaqueBitmapOf(const TGraphic* graphic) {
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(graphic)) return &jpeg->Bitmap();
    const auto* bitmap = dynamic_cast<const TBitmap*>(graphic);
    return bitmap && !(bitmap->Transparent && bitmap->TransparentColor != clNone) ? bitmap : nullptr;
}

// The keyed texels of the picture stretched over width x height: from the
// picture's own pixels in one pass where it is such a bitmap, else through
// a 5-6-5 bitmap the picture is drawn on.
std::unique_ptr<uint16_t[]> KeyedTexels(const TPicture& picture, int32_t width, int32_t height, bool DarkToBlack) {
    // Every texel is written below, so the buffer starts unfilled.
    auto texels = std::make_unique_for_overwrite<uint16_t[]>(static_cast<size_t>(width) * height);
    const TBitmap* opaque = OpaqueBitmapOf(picture.Graphic());
    if (opaque && StretchKeyed1555(*opaque, width, height, DarkToBlack, texels.get())) return texels;
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf16bit);
    // An opaque bitmap draws every pixel of the stretched rectangle, so its
    // target need not be cleared first; other pictures may leave gaps.
    if (opaque && opaque->Width() > 0 && opaque->Height() > 0)
        bitmap.SetSizeForOverwrite(width, height);
    else
        bitmap.SetSize(width, height);
    if (picture.Graphic()) bitmap.Canvas().StretchDraw(Rect(0, 0, width, height), *picture.Graphic());
    const int32_t size = width * height * 2;
    CopyScanLines(bitmap, size, texels.get());
    DarkToBlack ? ColorKeyDark1555(texels.get(), size) : ColorKey1555(texels.get(), size);
    return texels;
}

// Level 0 of texture filled with the rows of texels (width x height), bled
// on the way unless skipBleed. A level smaller than asked for, a lock that
// fails, or one that answers no room for a row leaves the texture unfilled.
bool FillLevel0(IDirect3DTexture8& texture, const uint16_t* texels, int32_t width, int32_t height, bool skipBleed) {
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
        if (!skipBleed)
            BleedTransparentInto(texels, width, height, out, locked.Pitch);
        else
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
    int32_t width = 0, height = 0;
    std::unique_ptr<uint16_t[]> texels;
    {
        TPicture picture;
        picture.LoadFromFile(fileName);
        width = NextPowerOfTwo(picture.Width());
        height = NextPowerOfTwo(picture.Height());
        texels = KeyedTexels(picture, width, height, DarkToBlack);
    }

    IDirect3DDevice8* device = device_ ? device_() : nullptr;
    if (device == nullptr) return false;
    TComRef<IDirect3DTexture8> texture;
    if (FAILED(device->CreateTexture(width, height, 1, 0, D3DFMT_A1R5G5B5, D3DPOOL_MANAGED,
                                     texture.ReleaseAndGetAddressOf())) ||
        !texture)
        return false;
    // Filled before the old texture goes, so that a failed lock keeps it.
    if (!FillLevel0(*texture, texels.get(), width, height, SkipBleed)) return false;

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
