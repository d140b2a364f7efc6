// Feeds arbitrary bytes to one of the framework's picture readers, chosen at
// build time by FUZZ_GRAPHIC. Any Exception is an orderly refusal; crashes,
// sanitizer reports and leaks are the findings.
#include <cstddef>
#include <cstdint>

#include "Graphics.h"
#include "Icon.h"
#include "Jpeg.h"
#include "SysUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream(data, size);
    FUZZ_GRAPHIC graphic;
    try {
        graphic.LoadFromStream(stream);
        // Drawing touches every pixel the reader produced.
        TBitmap target;
        target.SetPixelFormat(pf16bit);
        target.SetSize(16, 16);
        target.Canvas().StretchDraw(Rect(0, 0, 16, 16), graphic);
    } catch (const Exception&) {
    }
    return 0;
}
