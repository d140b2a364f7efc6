#include "Control.h"

#include <cstdio>

namespace d3d8soft {

namespace {

struct TName {
    DWORD Value;
    const char* Name;
};

#define D3D_NAME(x) {x, #x}

constexpr TName kRenderStates[] = {
    D3D_NAME(D3DRS_ZENABLE), D3D_NAME(D3DRS_FILLMODE), D3D_NAME(D3DRS_SHADEMODE),
    D3D_NAME(D3DRS_LINEPATTERN), D3D_NAME(D3DRS_ZWRITEENABLE), D3D_NAME(D3DRS_ALPHATESTENABLE),
    D3D_NAME(D3DRS_LASTPIXEL), D3D_NAME(D3DRS_SRCBLEND), D3D_NAME(D3DRS_DESTBLEND),
    D3D_NAME(D3DRS_CULLMODE), D3D_NAME(D3DRS_ZFUNC), D3D_NAME(D3DRS_ALPHAREF),
    D3D_NAME(D3DRS_ALPHAFUNC), D3D_NAME(D3DRS_DITHERENABLE), D3D_NAME(D3DRS_ALPHABLENDENABLE),
    D3D_NAME(D3DRS_FOGENABLE), D3D_NAME(D3DRS_SPECULARENABLE), D3D_NAME(D3DRS_ZVISIBLE),
    D3D_NAME(D3DRS_FOGCOLOR), D3D_NAME(D3DRS_FOGTABLEMODE), D3D_NAME(D3DRS_FOGSTART),
    D3D_NAME(D3DRS_FOGEND), D3D_NAME(D3DRS_FOGDENSITY), D3D_NAME(D3DRS_EDGEANTIALIAS),
    D3D_NAME(D3DRS_ZBIAS), D3D_NAME(D3DRS_RANGEFOGENABLE), D3D_NAME(D3DRS_STENCILENABLE),
    D3D_NAME(D3DRS_STENCILFAIL), D3D_NAME(D3DRS_STENCILZFAIL), D3D_NAME(D3DRS_STENCILPASS),
    D3D_NAME(D3DRS_STENCILFUNC), D3D_NAME(D3DRS_STENCILREF), D3D_NAME(D3DRS_STENCILMASK),
    D3D_NAME(D3DRS_STENCILWRITEMASK), D3D_NAME(D3DRS_TEXTUREFACTOR), D3D_NAME(D3DRS_WRAP0),
    D3D_NAME(D3DRS_WRAP1), D3D_NAME(D3DRS_WRAP2), D3D_NAME(D3DRS_WRAP3), D3D_NAME(D3DRS_WRAP4),
    D3D_NAME(D3DRS_WRAP5), D3D_NAME(D3DRS_WRAP6), D3D_NAME(D3DRS_WRAP7),
    D3D_NAME(D3DRS_CLIPPING), D3D_NAME(D3DRS_LIGHTING), D3D_NAME(D3DRS_AMBIENT),
    D3D_NAME(D3DRS_FOGVERTEXMODE), D3D_NAME(D3DRS_COLORVERTEX), D3D_NAME(D3DRS_LOCALVIEWER),
    D3D_NAME(D3DRS_NORMALIZENORMALS), D3D_NAME(D3DRS_DIFFUSEMATERIALSOURCE),
    D3D_NAME(D3DRS_SPECULARMATERIALSOURCE), D3D_NAME(D3DRS_AMBIENTMATERIALSOURCE),
    D3D_NAME(D3DRS_EMISSIVEMATERIALSOURCE), D3D_NAME(D3DRS_VERTEXBLEND),
    D3D_NAME(D3DRS_CLIPPLANEENABLE), D3D_NAME(D3DRS_SOFTWAREVERTEXPROCESSING),
    D3D_NAME(D3DRS_POINTSIZE), D3D_NAME(D3DRS_POINTSIZE_MIN), D3D_NAME(D3DRS_POINTSPRITEENABLE),
    D3D_NAME(D3DRS_POINTSCALEENABLE), D3D_NAME(D3DRS_POINTSCALE_A), D3D_NAME(D3DRS_POINTSCALE_B),
    D3D_NAME(D3DRS_POINTSCALE_C), D3D_NAME(D3DRS_MULTISAMPLEANTIALIAS),
    D3D_NAME(D3DRS_MULTISAMPLEMASK), D3D_NAME(D3DRS_PATCHEDGESTYLE),
    D3D_NAME(D3DRS_PATCHSEGMENTS), D3D_NAME(D3DRS_DEBUGMONITORTOKEN),
    D3D_NAME(D3DRS_POINTSIZE_MAX), D3D_NAME(D3DRS_INDEXEDVERTEXBLENDENABLE),
    D3D_NAME(D3DRS_COLORWRITEENABLE), D3D_NAME(D3DRS_TWEENFACTOR), D3D_NAME(D3DRS_BLENDOP),
};

constexpr TName kStageStates[] = {
    D3D_NAME(D3DTSS_COLOROP), D3D_NAME(D3DTSS_COLORARG1), D3D_NAME(D3DTSS_COLORARG2),
    D3D_NAME(D3DTSS_ALPHAOP), D3D_NAME(D3DTSS_ALPHAARG1), D3D_NAME(D3DTSS_ALPHAARG2),
    D3D_NAME(D3DTSS_BUMPENVMAT00), D3D_NAME(D3DTSS_BUMPENVMAT01), D3D_NAME(D3DTSS_BUMPENVMAT10),
    D3D_NAME(D3DTSS_BUMPENVMAT11), D3D_NAME(D3DTSS_TEXCOORDINDEX), D3D_NAME(D3DTSS_ADDRESSU),
    D3D_NAME(D3DTSS_ADDRESSV), D3D_NAME(D3DTSS_BORDERCOLOR), D3D_NAME(D3DTSS_MAGFILTER),
    D3D_NAME(D3DTSS_MINFILTER), D3D_NAME(D3DTSS_MIPFILTER), D3D_NAME(D3DTSS_MIPMAPLODBIAS),
    D3D_NAME(D3DTSS_MAXMIPLEVEL), D3D_NAME(D3DTSS_MAXANISOTROPY), D3D_NAME(D3DTSS_BUMPENVLSCALE),
    D3D_NAME(D3DTSS_BUMPENVLOFFSET), D3D_NAME(D3DTSS_TEXTURETRANSFORMFLAGS),
    D3D_NAME(D3DTSS_ADDRESSW), D3D_NAME(D3DTSS_COLORARG0), D3D_NAME(D3DTSS_ALPHAARG0),
    D3D_NAME(D3DTSS_RESULTARG),
};

constexpr TName kTransforms[] = {
    D3D_NAME(D3DTS_VIEW), D3D_NAME(D3DTS_PROJECTION), D3D_NAME(D3DTS_TEXTURE0),
    D3D_NAME(D3DTS_TEXTURE1), D3D_NAME(D3DTS_TEXTURE2), D3D_NAME(D3DTS_TEXTURE3),
    D3D_NAME(D3DTS_TEXTURE4), D3D_NAME(D3DTS_TEXTURE5), D3D_NAME(D3DTS_TEXTURE6),
    D3D_NAME(D3DTS_TEXTURE7), D3D_NAME(D3DTS_WORLD),
};

constexpr TName kPrimitives[] = {
    D3D_NAME(D3DPT_POINTLIST), D3D_NAME(D3DPT_LINELIST), D3D_NAME(D3DPT_LINESTRIP),
    D3D_NAME(D3DPT_TRIANGLELIST), D3D_NAME(D3DPT_TRIANGLESTRIP), D3D_NAME(D3DPT_TRIANGLEFAN),
};

constexpr TName kFormats[] = {
    D3D_NAME(D3DFMT_UNKNOWN), D3D_NAME(D3DFMT_R8G8B8), D3D_NAME(D3DFMT_A8R8G8B8),
    D3D_NAME(D3DFMT_X8R8G8B8), D3D_NAME(D3DFMT_R5G6B5), D3D_NAME(D3DFMT_X1R5G5B5),
    D3D_NAME(D3DFMT_A1R5G5B5), D3D_NAME(D3DFMT_A4R4G4B4), D3D_NAME(D3DFMT_D16),
    D3D_NAME(D3DFMT_D16_LOCKABLE), D3D_NAME(D3DFMT_D24S8), D3D_NAME(D3DFMT_D32),
};

#undef D3D_NAME

template <size_t N>
std::string Lookup(const TName (&names)[N], DWORD value) {
    for (const TName& entry : names)
        if (entry.Value == value) return entry.Name;
    return std::to_string(value);
}

}  // namespace

std::string RenderStateName(DWORD state) { return Lookup(kRenderStates, state); }
std::string StageStateName(DWORD type) { return Lookup(kStageStates, type); }
std::string TransformName(DWORD state) { return Lookup(kTransforms, state); }
std::string PrimitiveName(DWORD type) { return Lookup(kPrimitives, type); }
std::string FormatName(DWORD format) { return Lookup(kFormats, format); }

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

D3DCallRecord MakeCall(D3DCallKind kind, const void* object, std::string text) {
    D3DCallRecord record;
    record.Kind = kind;
    record.Object = object;
    record.Text = std::move(text);
    return record;
}

HRESULT Logged(D3DCallRecord record, HRESULT result) {
    record.Result = result;
    TControl::Instance().Record(std::move(record));
    return result;
}

TControl& TControl::Instance() {
    static TControl control;
    return control;
}

std::vector<std::string> TControl::CallLogText() const {
    std::vector<std::string> lines;
    lines.reserve(log_.size());
    for (const D3DCallRecord& record : log_) lines.push_back(record.Text);
    return lines;
}

void TControl::FailNext(D3DFailPoint point, int count) {
    if (point < D3DFailPoint::Count && count > 0) failNext_[static_cast<size_t>(point)] += count;
}

void TControl::SetFailAlways(D3DFailPoint point, bool fail) {
    if (point < D3DFailPoint::Count) failAlways_[static_cast<size_t>(point)] = fail;
}

void TControl::ClearFailures() {
    failNext_.fill(0);
    failAlways_.fill(false);
}

void TControl::Record(D3DCallRecord record) {
    if (logging_) log_.push_back(std::move(record));
}

bool TControl::ShouldFail(D3DFailPoint point) {
    const auto index = static_cast<size_t>(point);
    if (index >= failNext_.size()) return false;
    if (failAlways_[index]) return true;
    if (failNext_[index] > 0) {
        --failNext_[index];
        return true;
    }
    return false;
}

}  // namespace d3d8soft
