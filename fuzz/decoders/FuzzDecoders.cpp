// Decodes arbitrary bytes with one of the decoders. Input layout:
//   byte 0      the decoder (see Decoders below, taken modulo their count)
//   byte 1      flags: bit 0 swap bits, bit 1 word aligned, bits 2-7 the
//               fax options value shifted down by 2
//   bytes 2-3   row width in pixels (little-endian, 0 taken as 1)
//   bytes 4-5   target size in bytes (little-endian)
//   the rest    the packed block
// Every decoder must stay inside the block and the target, end, and raise
// nothing but EGraphicCompression.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "GraphicCompression.h"

namespace {

struct Parameters {
    bool SwapBits, WordAligned;
    uint32_t Options, Width;
};

using Factory = std::unique_ptr<TDecoder> (*)(const Parameters&);

const Factory Decoders[] = {
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TPackbitsRLEDecoder>(); },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TPCXRLEDecoder>(); },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TSGIRLEDecoder>(8); },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TSGIRLEDecoder>(16); },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TCUTRLEDecoder>(); },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TPSPRLEDecoder>(); },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TRLADecoder>(); },
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const Parameters parameters{(data[1] & 1) != 0, (data[1] & 2) != 0, uint32_t(data[1] >> 2),
                                std::max<uint32_t>(1, data[2] | data[3] << 8)};
    const Factory factory = Decoders[data[0] % std::size(Decoders)];
    const size_t room = data[4] | data[5] << 8;

    // Exactly sized copies, so that the sanitizers see any step outside.
    std::vector<uint8_t> packed(data + 6, data + size);
    std::vector<uint8_t> target(room);
    uint8_t* source = packed.data();
    uint8_t* dest = target.data();
    auto decoder = factory(parameters);
    try {
        decoder->BeginDecode();
        decoder->Decode(source, dest, static_cast<int32_t>(packed.size()), static_cast<int32_t>(room));
        decoder->EndDecode();
    } catch (const EGraphicCompression&) {
    }
    return 0;
}
