// Loads arbitrary bytes as a Photoshop document when they start like one,
// otherwise as a Paintshop Pro file.
#include <cstddef>
#include <cstdint>

#include "GraphicFormats.h"

namespace {

template <class Reader>
void Load(TStream& stream) {
    Reader reader;
    try {
        // Images the readers accept may still be up to 2^28 pixels; keep the
        // runs quick by leaving the largest ones to the unit tests.
        if (reader.ReadProperties(stream, 0) &&
            uint64_t(reader.Properties.Width) * reader.Properties.Height > (1u << 22))
            return;
        stream.SetPosition(0);
        reader.LoadFromStream(stream);
    } catch (const Exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream(data, size);
    if (TPSDGraphic::ProbeStream(stream))
        Load<TPSDGraphic>(stream);
    else
        Load<TPSPGraphic>(stream);
    return 0;
}
