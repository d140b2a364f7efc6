#include "Resources.h"

#include <algorithm>
#include <new>

namespace d3d8soft {

HRESULT DeviceFromToken(const TDeviceToken& token, IDirect3DDevice8** device) {
    if (device == nullptr) return D3DERR_INVALIDCALL;
    *device = token ? *token : nullptr;
    if (*device == nullptr) return D3DERR_INVALIDCALL;
    (*device)->AddRef();
    return D3D_OK;
}

int BytesPerPixel(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
            return 4;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_D16:
        case D3DFMT_D16_LOCKABLE:
            return 2;
        default:
            return 0;
    }
}

bool IsTextureFormat(D3DFORMAT format) {
    return BytesPerPixel(format) != 0 && !IsDepthFormat(format);
}

bool IsDepthFormat(D3DFORMAT format) {
    return format == D3DFMT_D16 || format == D3DFMT_D16_LOCKABLE;
}

namespace {

uint32_t Expand5(uint32_t v) { return (v << 3) | (v >> 2); }
uint32_t Expand6(uint32_t v) { return (v << 2) | (v >> 4); }

uint32_t ToArgb(D3DFORMAT format, const uint8_t* p) {
    const uint32_t v16 = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
    switch (format) {
        case D3DFMT_A8R8G8B8:
            return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                   static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        case D3DFMT_X8R8G8B8:
            return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                   static_cast<uint32_t>(p[2]) << 16 | 0xFF000000u;
        case D3DFMT_R5G6B5:
            return 0xFF000000u | Expand5(v16 >> 11) << 16 | Expand6((v16 >> 5) & 63) << 8 |
                   Expand5(v16 & 31);
        case D3DFMT_A1R5G5B5:
        case D3DFMT_X1R5G5B5: {
            const bool opaque = format == D3DFMT_X1R5G5B5 || (v16 & 0x8000) != 0;
            return (opaque ? 0xFF000000u : 0u) | Expand5((v16 >> 10) & 31) << 16 |
                   Expand5((v16 >> 5) & 31) << 8 | Expand5(v16 & 31);
        }
        case D3DFMT_A4R4G4B4:
            return ((v16 >> 12) & 15) * 17u << 24 | ((v16 >> 8) & 15) * 17u << 16 |
                   ((v16 >> 4) & 15) * 17u << 8 | (v16 & 15) * 17u;
        default:
            return 0;
    }
}

}  // namespace

TSurface::TSurface(IUnknown* container, TDeviceToken device, D3DFORMAT format, UINT width,
                   UINT height, DWORD usage, D3DPOOL pool)
    : container_(container),
      device_(std::move(device)),
      format_(format),
      width_(static_cast<int>(width)),
      height_(static_cast<int>(height)),
      pitch_(static_cast<int>(width) * BytesPerPixel(format)),
      usage_(usage),
      pool_(pool),
      bits_(static_cast<size_t>(pitch_) * height) {}

HRESULT TSurface::GetDevice(IDirect3DDevice8** device) { return DeviceFromToken(device_, device); }

HRESULT TSurface::GetDesc(D3DSURFACE_DESC* desc) {
    if (desc == nullptr) return D3DERR_INVALIDCALL;
    desc->Format = format_;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = usage_;
    desc->Pool = pool_;
    desc->Size = static_cast<UINT>(bits_.size());
    desc->MultiSampleType = D3DMULTISAMPLE_NONE;
    desc->Width = static_cast<UINT>(width_);
    desc->Height = static_cast<UINT>(height_);
    return D3D_OK;
}

HRESULT TSurface::LockRect(D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) {
    if (lockedRect == nullptr) return D3DERR_INVALIDCALL;
    // A failed lock hands out no pointer to write through.
    lockedRect->Pitch = 0;
    lockedRect->pBits = nullptr;
    if (locked_) return D3DERR_INVALIDCALL;
    RECT area{0, 0, width_, height_};
    if (rect != nullptr) {
        if (rect->left < 0 || rect->top < 0 || rect->right > width_ || rect->bottom > height_ ||
            rect->left >= rect->right || rect->top >= rect->bottom)
            return D3DERR_INVALIDCALL;
        area = *rect;
    }
    if (keepExpanded_ && TControl::Instance().ShouldFail(D3DFailPoint::LockTexture))
        return D3DERR_INVALIDCALL;
    locked_ = true;
    lockWrites_ = (flags & D3DLOCK_READONLY) == 0;
    lockedRect->Pitch = pitch_;
    lockedRect->pBits = bits_.data() + static_cast<size_t>(area.top) * pitch_ +
                        static_cast<size_t>(area.left) * BytesPerPixel(format_);
    return D3D_OK;
}

HRESULT TSurface::UnlockRect() {
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    if (lockWrites_ && keepExpanded_) RefreshExpanded();
    return D3D_OK;
}

void TSurface::KeepExpandedCopy() { keepExpanded_ = true; }

void TSurface::AllocateExpanded() const {
    expanded_ = std::make_unique_for_overwrite<uint32_t[]>(static_cast<size_t>(width_ + 1) * (height_ + 1));
}

const uint32_t* TSurface::Expanded() const {
    if (!keepExpanded_) return nullptr;
    if (!expanded_) {
        // Never written since it was made: the texels are all zero, and so is
        // every expanded texel (the repeated column and row included) that of
        // a zero pixel.
        AllocateExpanded();
        const uint8_t zero[4] = {};
        const uint32_t blank = width_ > 0 && height_ > 0 ? ToArgb(format_, zero) : 0u;
        std::fill_n(expanded_.get(), static_cast<size_t>(width_ + 1) * (height_ + 1), blank);
    }
    return expanded_.get();
}

namespace {

// Expands one row of width pixels of a fixed format; the format test stays
// out of the pixel loop so that each case compiles to a tight loop.
template <D3DFORMAT Format>
void ExpandRow(const uint8_t* source, uint32_t* dest, int width) {
    constexpr int bytes = Format == D3DFMT_A8R8G8B8 || Format == D3DFMT_X8R8G8B8 ? 4 : 2;
    for (int x = 0; x < width; ++x) dest[x] = ToArgb(Format, source + x * bytes);
}

using TExpandRow = void (*)(const uint8_t*, uint32_t*, int);

TExpandRow RowExpander(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_A8R8G8B8: return ExpandRow<D3DFMT_A8R8G8B8>;
        case D3DFMT_X8R8G8B8: return ExpandRow<D3DFMT_X8R8G8B8>;
        case D3DFMT_R5G6B5: return ExpandRow<D3DFMT_R5G6B5>;
        case D3DFMT_A1R5G5B5: return ExpandRow<D3DFMT_A1R5G5B5>;
        case D3DFMT_X1R5G5B5: return ExpandRow<D3DFMT_X1R5G5B5>;
        case D3DFMT_A4R4G4B4: return ExpandRow<D3DFMT_A4R4G4B4>;
        default: return nullptr;
    }
}

}  // namespace

void TSurface::RefreshExpanded() {
    // Every expanded texel is written below.
    if (!expanded_) AllocateExpanded();
    const TExpandRow expand = RowExpander(format_);
    const size_t stride = static_cast<size_t>(ExpandedStride());
    for (int y = 0; y < height_; ++y) {
        const uint8_t* source = bits_.data() + static_cast<size_t>(y) * pitch_;
        uint32_t* dest = expanded_.get() + y * stride;
        if (expand)
            expand(source, dest, width_);
        else
            std::fill_n(dest, width_, 0u);
        dest[width_] = dest[0];
    }
    std::copy_n(expanded_.get(), stride, expanded_.get() + height_ * stride);
}

TTexture::TTexture(TDeviceToken device, UINT width, UINT height, UINT levels, DWORD usage,
                   D3DFORMAT format, D3DPOOL pool, int serial)
    : device_(std::move(device)), serial_(serial) {
    UINT w = width, h = height;
    for (UINT level = 0; levels == 0 || level < levels; ++level) {
        levels_.push_back(std::make_unique<TSurface>(this, device_, format, w, h, usage, pool));
        levels_.back()->KeepExpandedCopy();
        if (w == 1 && h == 1) break;
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
}

HRESULT TTexture::GetDevice(IDirect3DDevice8** device) { return DeviceFromToken(device_, device); }

HRESULT TTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (level >= levels_.size()) return D3DERR_INVALIDCALL;
    return levels_[level]->GetDesc(desc);
}

HRESULT TTexture::GetSurfaceLevel(UINT level, IDirect3DSurface8** surface) {
    if (surface == nullptr || level >= levels_.size()) return D3DERR_INVALIDCALL;
    *surface = levels_[level].get();
    AddRef();
    return D3D_OK;
}

HRESULT TTexture::LockRect(UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect,
                           DWORD flags) {
    D3DCallRecord record = MakeCall(D3DCallKind::LockTexture, this,
                                    "LockRect(" + TextureText(this) + ", " + std::to_string(level) +
                                        ", " + Hex(flags) + ")");
    record.Pointer = this;
    record.Args[0] = level;
    record.Args[1] = flags;
    if (level >= levels_.size()) return Logged(std::move(record), D3DERR_INVALIDCALL);
    return Logged(std::move(record), levels_[level]->LockRect(lockedRect, rect, flags));
}

HRESULT TTexture::UnlockRect(UINT level) {
    D3DCallRecord record = MakeCall(D3DCallKind::UnlockTexture, this,
                                    "UnlockRect(" + TextureText(this) + ", " + std::to_string(level) + ")");
    record.Pointer = this;
    record.Args[0] = level;
    if (level >= levels_.size()) return Logged(std::move(record), D3DERR_INVALIDCALL);
    return Logged(std::move(record), levels_[level]->UnlockRect());
}

TVertexBuffer::TVertexBuffer(TDeviceToken device, UINT length, DWORD usage, DWORD fvf,
                             D3DPOOL pool, int serial)
    : device_(std::move(device)), data_(length), usage_(usage), fvf_(fvf), pool_(pool),
      serial_(serial) {}

HRESULT TVertexBuffer::GetDevice(IDirect3DDevice8** device) {
    return DeviceFromToken(device_, device);
}

HRESULT TVertexBuffer::Lock(UINT offsetToLock, UINT sizeToLock, BYTE** data, DWORD flags) {
    D3DCallRecord record = MakeCall(D3DCallKind::LockVertexBuffer, this,
                                    "Lock(" + VertexBufferText(this) + ", " +
                                        std::to_string(offsetToLock) + ", " +
                                        std::to_string(sizeToLock) + ", " + Hex(flags) + ")");
    record.Pointer = this;
    record.Args[0] = offsetToLock;
    record.Args[1] = sizeToLock;
    record.Args[2] = flags;
    if (data == nullptr) return Logged(std::move(record), D3DERR_INVALIDCALL);
    *data = nullptr;
    // A size of 0 locks everything from the offset on.
    const size_t end = sizeToLock == 0 ? data_.size() : static_cast<size_t>(offsetToLock) + sizeToLock;
    if (locked_ || offsetToLock > data_.size() || end > data_.size() ||
        TControl::Instance().ShouldFail(D3DFailPoint::LockVertexBuffer))
        return Logged(std::move(record), D3DERR_INVALIDCALL);
    locked_ = true;
    *data = data_.data() + offsetToLock;
    return Logged(std::move(record), D3D_OK);
}

HRESULT TVertexBuffer::Unlock() {
    D3DCallRecord record = MakeCall(D3DCallKind::UnlockVertexBuffer, this,
                                    "Unlock(" + VertexBufferText(this) + ")");
    record.Pointer = this;
    const HRESULT result = locked_ ? D3D_OK : D3DERR_INVALIDCALL;
    locked_ = false;
    return Logged(std::move(record), result);
}

HRESULT TVertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (desc == nullptr) return D3DERR_INVALIDCALL;
    desc->Format = D3DFMT_VERTEXDATA;
    desc->Type = D3DRTYPE_VERTEXBUFFER;
    desc->Usage = usage_;
    desc->Pool = pool_;
    desc->Size = static_cast<UINT>(data_.size());
    desc->FVF = fvf_;
    return D3D_OK;
}

std::string TextureText(const IDirect3DBaseTexture8* texture) {
    if (texture == nullptr) return "null";
    const auto* own = dynamic_cast<const TTexture*>(texture);
    return own ? "texture #" + std::to_string(own->Serial()) : "foreign texture";
}

std::string VertexBufferText(const IDirect3DVertexBuffer8* buffer) {
    if (buffer == nullptr) return "null";
    const auto* own = dynamic_cast<const TVertexBuffer*>(buffer);
    return own ? "vertex buffer #" + std::to_string(own->Serial()) : "foreign vertex buffer";
}

}  // namespace d3d8soft
