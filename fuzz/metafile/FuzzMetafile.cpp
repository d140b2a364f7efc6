// Feeds arbitrary bytes to the metafile reader and plays whatever loads onto
// a small bitmap, straight and mirrored. Any Exception is an orderly
// refusal; crashes, sanitizer reports, leaks and hangs are the findings.
#include <cstddef>
#include <cstdint>

#include "Metafile.h"
#include "SysUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream(data, size);
    TMetafile metafile;
    try {
        metafile.LoadFromStream(stream);
    } catch (const Exception&) {
        return 0;
    }
    TBitmap target;
    target.SetPixelFormat(pf16bit);
    target.SetSize(24, 24);
    target.Canvas().StretchDraw(Rect(2, 2, 22, 22), metafile);
    target.Canvas().StretchDraw(Rect(20, 20, -4, -4), metafile);
    return 0;
}
