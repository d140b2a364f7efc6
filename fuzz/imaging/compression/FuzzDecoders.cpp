// Decodes arbitrary bytes with one of the decoders. Input layout:
//   byte 0      the decoder (see Decoders below, taken modulo their count)
//   byte 1      flags: bit 0 swap bits, bit 1 word aligned, bits 2-7 the
//               fax options value shifted down by 2; for JPEG bits 2-3 the
//               colour layout (gray, RGB, YCbCr 2 x 2, YCbCr 2 x 1) and
//               bit 4 tables ahead of the strip (a 16-bit little-endian
//               length, then the tables)
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

#include "compression/GraphicCompression.h"
#include "GraphicFormats.h"
#include "Windows.h"

namespace {

struct Parameters {
    uint8_t Flags;
    uint32_t Width;
    size_t Room;
    TImageProperties* Properties;

    bool SwapBits() const { return Flags & 1; }
    bool WordAligned() const { return Flags & 2; }
    uint32_t Options() const { return Flags >> 2; }
};

using Factory = std::unique_ptr<TDecoder> (*)(const Parameters&);

// What the JPEG decoder reads of the image: a strip of Width x rows that
// fill the target.
void DescribeJpegStrip(const Parameters& parameters, TImageProperties& p) {
    static constexpr TColorScheme schemes[] = {csGray, csRGB, csYCbCr, csYCbCr};
    const int layout = (parameters.Flags >> 2) & 3;
    p.ColorScheme = schemes[layout];
    p.SamplesPerPixel = layout == 0 ? 1 : 3;
    p.BitsPerSample = 8;
    p.PlanarConfig = 1;
    p.Width = parameters.Width;
    p.BytesPerLine = p.Width * p.SamplesPerPixel;
    p.Height = std::max<uint32_t>(1, uint32_t(parameters.Room / p.BytesPerLine));
    p.RowsPerStrip = {p.Height};
    if (layout >= 2) p.YCbCrSubSampling = {2, uint8_t(layout == 2 ? 2 : 1)};
}

const Factory Decoders[] = {
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TPackbitsRLEDecoder>(); },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TPCXRLEDecoder>(); },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TSGIRLEDecoder>(8); },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TSGIRLEDecoder>(16); },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TCUTRLEDecoder>(); },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TPSPRLEDecoder>(); },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TRLADecoder>(); },
    [](const Parameters& p) -> std::unique_ptr<TDecoder> {
        return std::make_unique<TCCITTFax3Decoder>(p.Options(), p.Width, p.WordAligned(), p.SwapBits());
    },
    [](const Parameters& p) -> std::unique_ptr<TDecoder> {
        return std::make_unique<TCCITTMHDecoder>(p.Options(), p.Width, p.WordAligned(), p.SwapBits());
    },
    [](const Parameters& p) -> std::unique_ptr<TDecoder> { return std::make_unique<TThunderDecoder>(p.Width); },
    [](const Parameters& p) -> std::unique_ptr<TDecoder> {
        DescribeJpegStrip(p, *p.Properties);
        return std::make_unique<TTIFFJPEGDecoder>(*p.Properties);
    },
    [](const Parameters& p) -> std::unique_ptr<TDecoder> {
        return std::make_unique<TCCITTFax4Decoder>(p.Options(), p.Width, p.WordAligned(), p.SwapBits());
    },
    [](const Parameters&) -> std::unique_ptr<TDecoder> { return std::make_unique<TLZWDecoder>(); },
};
constexpr size_t JpegDecoder = 10;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // JPEG warnings go to message boxes: keep them quiet and forget them.
    static const bool quiet = (SetMessageBoxHandler([](HWND, const std::string&, const std::string&, UINT) { return IDOK; }), true);
    (void)quiet;
    ClearMessageBoxLog();
    if (size < 6) return 0;
    TImageProperties properties;
    const size_t kind = data[0] % std::size(Decoders);
    Parameters parameters{data[1], std::max<uint32_t>(1, data[2] | data[3] << 8), size_t(data[4] | data[5] << 8),
                          &properties};
    data += 6;
    size -= 6;
    if (kind == JpegDecoder && (parameters.Flags & 16) && size >= 2) {
        const size_t length = std::min<size_t>(data[0] | data[1] << 8, size - 2);
        properties.JPEGTables.assign(data + 2, data + 2 + length);
        data += 2 + length;
        size -= 2 + length;
    }

    // Exactly sized copies, so that the sanitizers see any step outside.
    std::vector<uint8_t> packed(data, data + size);
    std::vector<uint8_t> target(parameters.Room);
    uint8_t* source = packed.data();
    uint8_t* dest = target.data();
    auto decoder = Decoders[kind](parameters);
    try {
        decoder->BeginDecode();
        decoder->Decode(source, dest, static_cast<int32_t>(packed.size()), static_cast<int32_t>(target.size()));
        decoder->EndDecode();
    } catch (const EGraphicCompression&) {
    }
    return 0;
}
