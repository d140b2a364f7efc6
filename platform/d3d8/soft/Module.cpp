// The module's exported entries.
#include "Control.h"
#include "Device.h"
#include "PixelPipeline.h"

#define D3D8SOFT_EXPORT extern "C" __attribute__((visibility("default")))

D3D8SOFT_EXPORT IDirect3D8* Direct3DCreate8(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    return new (std::nothrow) d3d8soft::TDirect3D();
}

D3D8SOFT_EXPORT ID3D8SoftControl* D3D8SoftControl() { return &d3d8soft::TControl::Instance(); }

namespace d3d8soft {

TSpanShader SelectSpanShader() {
    static const TSpanShader shader = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? isa_avx2::ShadeSpan : isa_baseline::ShadeSpan;
    }();
    return shader;
}

}  // namespace d3d8soft
