// The device's render and texture-stage state, with the values a freshly
// created or reset Direct3D 8 device starts from.
#pragma once

#include "d3d8.h"

#include <array>
#include <cstring>

namespace d3d8soft {

constexpr int kMaxStages = 8;
constexpr int kMaxTexCoordSets = 8;
constexpr DWORD kRenderStateCount = 256;
constexpr DWORD kStageStateCount = 32;

inline DWORD FloatBits(float value) {
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float BitsFloat(DWORD bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

struct TStateBlock {
    std::array<DWORD, kRenderStateCount> Render{};
    std::array<std::array<DWORD, kStageStateCount>, kMaxStages> Stage{};

    DWORD RS(D3DRENDERSTATETYPE state) const { return Render[state]; }
    DWORD TSS(int stage, D3DTEXTURESTAGESTATETYPE type) const { return Stage[stage][type]; }

    static TStateBlock Defaults() {
        TStateBlock s;
        auto& r = s.Render;
        r[D3DRS_ZENABLE] = D3DZB_TRUE;
        r[D3DRS_FILLMODE] = D3DFILL_SOLID;
        r[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
        r[D3DRS_ZWRITEENABLE] = TRUE;
        r[D3DRS_ALPHATESTENABLE] = FALSE;
        r[D3DRS_LASTPIXEL] = TRUE;
        r[D3DRS_SRCBLEND] = D3DBLEND_ONE;
        r[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
        r[D3DRS_CULLMODE] = D3DCULL_CCW;
        r[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
        r[D3DRS_ALPHAREF] = 0;
        r[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
        r[D3DRS_DITHERENABLE] = FALSE;
        r[D3DRS_ALPHABLENDENABLE] = FALSE;
        r[D3DRS_FOGENABLE] = FALSE;
        r[D3DRS_SPECULARENABLE] = FALSE;
        r[D3DRS_FOGCOLOR] = 0;
        r[D3DRS_FOGTABLEMODE] = D3DFOG_NONE;
        r[D3DRS_FOGSTART] = FloatBits(0.0f);
        r[D3DRS_FOGEND] = FloatBits(1.0f);
        r[D3DRS_FOGDENSITY] = FloatBits(1.0f);
        r[D3DRS_RANGEFOGENABLE] = FALSE;
        r[D3DRS_STENCILMASK] = 0xFFFFFFFF;
        r[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
        r[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
        r[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
        r[D3DRS_CLIPPING] = TRUE;
        r[D3DRS_LIGHTING] = TRUE;
        r[D3DRS_FOGVERTEXMODE] = D3DFOG_NONE;
        r[D3DRS_COLORVERTEX] = TRUE;
        r[D3DRS_LOCALVIEWER] = TRUE;
        r[D3DRS_DIFFUSEMATERIALSOURCE] = 1;  // colour 1
        r[D3DRS_SPECULARMATERIALSOURCE] = 2; // colour 2
        r[D3DRS_POINTSIZE] = FloatBits(1.0f);
        r[D3DRS_POINTSIZE_MAX] = FloatBits(64.0f);
        r[D3DRS_POINTSCALE_A] = FloatBits(1.0f);
        r[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
        r[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
        r[D3DRS_PATCHSEGMENTS] = FloatBits(1.0f);
        r[D3DRS_COLORWRITEENABLE] = 0x0000000F;
        r[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
        for (int stage = 0; stage < kMaxStages; ++stage) {
            auto& t = s.Stage[stage];
            t[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
            t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
            t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
            t[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
            t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
            t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
            t[D3DTSS_TEXCOORDINDEX] = static_cast<DWORD>(stage);
            t[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
            t[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
            t[D3DTSS_ADDRESSW] = D3DTADDRESS_WRAP;
            t[D3DTSS_MAGFILTER] = D3DTEXF_POINT;
            t[D3DTSS_MINFILTER] = D3DTEXF_POINT;
            t[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
            t[D3DTSS_MAXANISOTROPY] = 1;
            t[D3DTSS_COLORARG0] = D3DTA_CURRENT;
            t[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
            t[D3DTSS_RESULTARG] = D3DTA_CURRENT;
        }
        return s;
    }
};

}  // namespace d3d8soft
