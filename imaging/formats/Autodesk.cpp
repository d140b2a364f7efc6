// Autodesk Animator cel and picture files: uncompressed 8-bit palette images
// with a palette of 6-bit components.
#include <bit>

#include "GraphicFormats.h"

namespace {

#pragma pack(push, 1)
struct TAutodeskHeader {
    uint16_t Magic;
    uint16_t Width;
    uint16_t Height;
    uint16_t XOffset;
    uint16_t YOffset;
    uint8_t BitsPerPixel;
    uint8_t Compression;
    uint32_t ImageSize;
    uint8_t Reserved[16];
};
#pragma pack(pop)
static_assert(sizeof(TAutodeskHeader) == 32);
static_assert(std::endian::native == std::endian::little, "Autodesk headers are read as they lie in memory");

constexpr uint16_t AutodeskMagic = 0x9119;
constexpr uint32_t PaletteSize = 256 * 3;

}  // namespace

const TGraphicClassDesc TAutodeskGraphic::ClassDesc = {
    "TAutodeskGraphic", [] { return std::unique_ptr<TGraphic>(new TAutodeskGraphic); },
    &TAutodeskGraphic::ProbeStream, TFormatGraphic::StaticClass()};

bool TAutodeskGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    TAutodeskHeader header;
    const bool answer = stream.Size() - start > static_cast<int64_t>(sizeof(header)) &&
                        stream.Read(&header, sizeof(header)) == sizeof(header) && header.Magic == AutodeskMagic &&
                        header.BitsPerPixel == 8 && header.Compression == 0;
    stream.SetPosition(start);
    return answer;
}

bool TAutodeskGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    TAutodeskHeader header;
    stream.ReadBuffer(&header.Magic, sizeof(header.Magic));
    if (header.Magic != AutodeskMagic) return false;
    stream.ReadBuffer(&header.Width, sizeof(header) - sizeof(header.Magic));

    TImageProperties& p = Properties;
    p.ColorScheme = csIndexed;
    p.Width = header.Width;
    p.Height = header.Height;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
    p.BitsPerPixel = 8;
    p.Compression = ckNone;
    return true;
}

void TAutodeskGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    StartPosition = static_cast<uint32_t>(stream.Position());
    if (!ReadProperties(stream, 0)) RaiseGraphicErrorFmt(gsInvalidImage, gsAutodesk);

    // The pixels are stored raw: the file must hold every one of them.
    const uint32_t width = Properties.Width, height = Properties.Height;
    CheckImageSize(width, height, gsAutodesk);
    const int64_t pixelStart = int64_t(StartPosition) + sizeof(TAutodeskHeader) + PaletteSize;
    if (stream.Size() - pixelStart < int64_t(width) * height) RaiseGraphicErrorFmt(gsInvalidImage, gsAutodesk);

    stream.SetPosition(int64_t(StartPosition) + sizeof(TAutodeskHeader));
    uint8_t map[PaletteSize];
    stream.ReadBuffer(map, PaletteSize);
    TLogPalette palette;
    palette.palPalEntry.resize(256);
    for (uint32_t i = 0; i < 256; ++i)
        palette.palPalEntry[i] = {static_cast<uint8_t>(map[3 * i] << 2), static_cast<uint8_t>(map[3 * i + 1] << 2),
                                  static_cast<uint8_t>(map[3 * i + 2] << 2), 0};
    SetPixelFormat(pf8bit);
    SetPalette(palette);

    SetSizeForOverwrite(int(width), int(height));
    for (uint32_t y = 0; y < height; ++y) stream.ReadBuffer(ScanLine(int(y)), width);
}
