// Surfaces, textures and vertex buffers: the memory the device draws from
// and into, with their locking rules and reference counts.
#pragma once

#include "Control.h"
#include "d3d8.h"

#include <memory>
#include <string>
#include <vector>

namespace d3d8soft {

// Resources name their device through a token the device clears when it
// dies, so a resource that outlives its device never reaches a dead one.
using TDeviceToken = std::shared_ptr<IDirect3DDevice8*>;

HRESULT DeviceFromToken(const TDeviceToken& token, IDirect3DDevice8** device);

// A stand-alone counted object: starts with one reference, destroys itself
// at the last Release, and is counted among the module's live objects.
template <class Interface>
class TCounted : public Interface {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        if (refs_ == 0) return 0;
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    TCounted() { TControl::Instance().ObjectCreated(); }
    ~TCounted() override { TControl::Instance().ObjectDestroyed(); }

private:
    ULONG refs_ = 1;
};

int BytesPerPixel(D3DFORMAT format);
bool IsTextureFormat(D3DFORMAT format);
bool IsDepthFormat(D3DFORMAT format);

// A rectangle of pixels. A surface has no count of its own: it lives as long
// as its container (a device, swap chain or texture), and references to it
// count on the container.
class TSurface final : public IDirect3DSurface8 {
public:
    TSurface(IUnknown* container, TDeviceToken device, D3DFORMAT format, UINT width,
             UINT height, DWORD usage, D3DPOOL pool);
    ~TSurface() override = default;

    ULONG AddRef() override { return container_->AddRef(); }
    ULONG Release() override { return container_->Release(); }
    HRESULT GetDevice(IDirect3DDevice8** device) override;
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

    IUnknown* Container() const { return container_; }
    bool BelongsTo(const TDeviceToken& device) const { return device_ == device; }
    D3DFORMAT Format() const { return format_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Pitch() const { return pitch_; }
    uint8_t* Bits() { return bits_.data(); }
    const uint8_t* Bits() const { return bits_.data(); }
    template <class T>
    T* Row(int y) {
        return reinterpret_cast<T*>(bits_.data() + static_cast<size_t>(y) * pitch_);
    }

    // Texture levels keep an A8R8G8B8 copy of their texels for sampling,
    // refreshed whenever a lock that could write ends. The copy has one
    // more column and row, repeating the first ones, so that a filter's
    // right and lower neighbours are always the next texel in memory.
    // Called once, on a new surface. The copy is made when first asked for
    // or when a writing lock ends, whichever comes first.
    void KeepExpandedCopy();
    const uint32_t* Expanded() const;
    int ExpandedStride() const { return width_ + 1; }

private:
    void RefreshExpanded();

    IUnknown* container_;
    TDeviceToken device_;
    D3DFORMAT format_;
    int width_, height_, pitch_;
    DWORD usage_;
    D3DPOOL pool_;
    std::vector<uint8_t> bits_;
    void AllocateExpanded() const;

    mutable std::unique_ptr<uint32_t[]> expanded_;
    bool keepExpanded_ = false;
    bool locked_ = false;
    bool lockWrites_ = false;
};

class TTexture final : public TCounted<IDirect3DTexture8> {
public:
    TTexture(TDeviceToken device, UINT width, UINT height, UINT levels, DWORD usage,
             D3DFORMAT format, D3DPOOL pool, int serial);

    HRESULT GetDevice(IDirect3DDevice8** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return static_cast<DWORD>(levels_.size()); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface8** surface) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect,
                     DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;

    int Serial() const { return serial_; }
    int LevelCount() const { return static_cast<int>(levels_.size()); }
    const TSurface& Level(int level) const { return *levels_[level]; }

private:
    TDeviceToken device_;
    std::vector<std::unique_ptr<TSurface>> levels_;
    int serial_;
};

class TVertexBuffer final : public TCounted<IDirect3DVertexBuffer8> {
public:
    TVertexBuffer(TDeviceToken device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                  int serial);

    HRESULT GetDevice(IDirect3DDevice8** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT offsetToLock, UINT sizeToLock, BYTE** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

    int Serial() const { return serial_; }
    const uint8_t* Data() const { return data_.data(); }
    size_t Size() const { return data_.size(); }

private:
    TDeviceToken device_;
    std::vector<uint8_t> data_;
    DWORD usage_, fvf_;
    D3DPOOL pool_;
    int serial_;
    bool locked_ = false;
};

// Readable names of objects in the call log.
std::string TextureText(const IDirect3DBaseTexture8* texture);
std::string VertexBufferText(const IDirect3DVertexBuffer8* buffer);

}  // namespace d3d8soft
