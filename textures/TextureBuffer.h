// The engine's store of Direct3D textures, each filed under a numeric id.
// An image file of any registered format becomes a colour-keyed A1R5G5B5
// texture with power-of-two sides; the frame code selects textures by id.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ComRef.h"
#include "ZorDX_memlist.h"
#include "d3d8.h"

// A side rounded up to the next power of two from 2 to 8192; sides of 0 or
// less, or over 8192, come back unchanged.
int32_t NextPowerOfTwo(int32_t n);

// One texture, the data block of its list entry.
struct ttexture_record {
    ttexture_record() = default;
    ttexture_record(const ttexture_record&) = delete;
    ttexture_record& operator=(const ttexture_record&) = delete;
    ~ttexture_record() {
        if (ownsPixels) delete[] pixels;
    }

    std::string name;  // NumberName(id, 13)
    TComRef<IDirect3DTexture8> texture;
    // A system-memory copy of the texels, released with the record only
    // when ownsPixels is set. Loading never keeps one.
    uint16_t* pixels = nullptr;
    bool ownsPixels = false;
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t bytesPerTexel = 2;
};

class Td3dTexture_buffer {
public:
    // device answers the device textures are created on (null when there
    // is none yet); it is asked at each load.
    explicit Td3dTexture_buffer(std::function<IDirect3DDevice8*()> device);
    virtual ~Td3dTexture_buffer();
    Td3dTexture_buffer(const Td3dTexture_buffer&) = delete;
    Td3dTexture_buffer& operator=(const Td3dTexture_buffer&) = delete;

    // Loads fileName as the texture of id, replacing the one filed under it,
    // and makes it current. False, with nothing changed, when the file does
    // not exist or the texture cannot be created or filled. Errors of the
    // picture reader propagate, also with nothing changed.
    bool LoadTexture(int32_t id, const std::string& fileName, bool DarkToBlack, bool SkipBleed);
    // Makes the texture of id current; none (and CurrentId -1) when no
    // texture has that id.
    void SelectTexture(int32_t id);
    // A counted reference to the current texture, null when there is none.
    void GetCurrentTexture(TComRef<IDirect3DTexture8>& texture) const;
    bool HasTextureIndex(int32_t index) const;

    Tlistmem<ttexture_record> Textures;
    TComRef<IDirect3DTexture8> CurrentTexture;
    int32_t CurrentId = 0;

private:
    // Removes the record of name, if any.
    void RemoveRecord(const std::string& name);

    std::function<IDirect3DDevice8*()> device_;
};
