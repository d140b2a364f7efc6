// ZSoft Paintbrush images and the Word screen captures of the same layout:
// one plane of 1, 2, 4 or 8 bits, two to four planes of 1 bit (EGA colours),
// and three or four planes of 8 bits, raw or run-length encoded.
#include <algorithm>
#include <bit>
#include <cstring>

#include "GraphicFormats.h"
#include "PixelAccess.h"

namespace {

#pragma pack(push, 1)
struct TPCXHeader {
    uint8_t FileID;        // 10, or 205 for screen captures
    uint8_t Version;
    uint8_t Encoding;      // 1: run-length encoded
    uint8_t BitsPerPixel;  // of one plane
    uint16_t XMin, YMin, XMax, YMax;
    uint16_t XResolution, YResolution;
    uint8_t ColorMap[48];  // 16 entries of red, green, blue
    uint8_t Reserved;
    uint8_t Planes;
    uint16_t BytesPerLine;  // of one plane
    uint16_t PaletteType;   // 2: grey scale
    uint8_t Filler[58];
};
#pragma pack(pop)
static_assert(sizeof(TPCXHeader) == 128);
static_assert(std::endian::native == std::endian::little, "PCX headers are read as they lie in memory");

constexpr uint8_t PCXFileID = 10;
constexpr uint8_t ScreenCaptureID = 205;
constexpr uint16_t GrayPaletteType = 2;
// 8-bit images may end with the byte 12 and 256 palette entries.
constexpr int64_t TrailerSize = 769;
constexpr uint8_t TrailerMarker = 12;

bool IsFileID(uint8_t id) { return id == PCXFileID || id == ScreenCaptureID; }

// Planes of one bit each, combined into 4-bit pixels with plane 0 as the
// least significant bit.
bool IsBitPlanes(uint32_t planes, uint32_t bits) { return bits == 1 && planes >= 2 && planes <= 4; }

bool IsSupportedLayout(uint32_t planes, uint32_t bits) {
    return (planes == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8)) || IsBitPlanes(planes, bits) ||
           (bits == 8 && (planes == 3 || planes == 4));
}

}  // namespace

const TGraphicClassDesc TPCXGraphic::ClassDesc = {
    "TPCXGraphic", [] { return std::unique_ptr<TGraphic>(new TPCXGraphic); }, &TPCXGraphic::ProbeStream,
    TFormatGraphic::StaticClass()};

bool TPCXGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    TPCXHeader header;
    const bool answer = stream.Size() - start > static_cast<int64_t>(sizeof(header)) &&
                        stream.Read(&header, sizeof(header)) == sizeof(header) && IsFileID(header.FileID) &&
                        (header.Version == 0 || header.Version == 2 || header.Version == 3 || header.Version == 5) &&
                        header.Encoding <= 1;
    stream.SetPosition(start);
    return answer;
}

bool TPCXGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    TPCXHeader header;
    if (stream.Read(&header, sizeof(header)) != sizeof(header) || !IsFileID(header.FileID)) return false;
    screenCapture_ = header.FileID == ScreenCaptureID;
    version_ = header.Version;
    bytesPerLine_ = header.BytesPerLine;
    paletteType_ = header.PaletteType;

    TImageProperties& p = Properties;
    // Reversed bounds give a size that no image has; loading refuses it.
    p.Width = static_cast<uint32_t>(int32_t(header.XMax) - header.XMin + 1);
    p.Height = static_cast<uint32_t>(int32_t(header.YMax) - header.YMin + 1);
    p.SamplesPerPixel = header.Planes;
    p.BitsPerSample = header.BitsPerPixel;
    const uint32_t bitsPerPixel = uint32_t(header.Planes) * header.BitsPerPixel;
    p.BitsPerPixel = static_cast<uint8_t>(bitsPerPixel);
    p.ColorScheme = bitsPerPixel <= 8 ? csIndexed : (header.Planes == 4 ? csRGBA : csRGB);
    p.HasAlpha = p.ColorScheme == csRGBA;
    p.Compression = header.Encoding == 1 ? ckRLE : ckNone;
    p.XResolution = header.XResolution;
    p.YResolution = header.YResolution;
    return true;
}

void TPCXGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    StartPosition = static_cast<uint32_t>(stream.Position());
    SourceStream = &stream;
    if (!ReadProperties(stream, 0)) return;
    stream.SetPosition(StartPosition);
    TPCXHeader header;
    stream.ReadBuffer(&header, sizeof(header));
    CheckImageSize(Properties.Width, Properties.Height, gsPCXOrSCR);
    const uint32_t planes = header.Planes, bits = header.BitsPerPixel;
    if (!IsSupportedLayout(planes, bits)) RaiseGraphicErrorFmt(gsInvalidColorFormat, gsPCX);
    if (uint64_t(header.BytesPerLine) * 8 < uint64_t(Properties.Width) * bits)
        RaiseGraphicErrorFmt(gsInvalidImage, gsPCXOrSCR);

    // The palette trailer of 8-bit images is not pixel data; files without
    // one keep all their bytes as pixels.
    const int64_t dataStart = stream.Position();
    int64_t dataEnd = stream.Size();
    uint8_t trailer[TrailerSize];
    bool hasTrailer = false;
    if (planes == 1 && bits == 8 && dataEnd - dataStart >= TrailerSize) {
        stream.SetPosition(dataEnd - TrailerSize);
        stream.ReadBuffer(trailer, TrailerSize);
        hasTrailer = trailer[0] == TrailerMarker;
        if (hasTrailer) dataEnd -= TrailerSize;
        stream.SetPosition(dataStart);
    }

    SetPixelFormat(SetupColorConversion());
    SetupPalette(header.ColorMap, hasTrailer ? trailer + 1 : nullptr);
    const uint32_t lineSize = planes * header.BytesPerLine;
    const std::vector<uint8_t> pixels = ReadPixelData(std::max<int64_t>(0, dataEnd - dataStart), lineSize);
    SetSizeForOverwrite(static_cast<int>(Properties.Width), static_cast<int>(Properties.Height));

    const bool bitPlanes = IsBitPlanes(planes, bits);
    for (uint32_t y = 0; y < Properties.Height; ++y) {
        const uint8_t* row = pixels.data() + size_t(y) * lineSize;
        uint8_t* line = ScanLine(static_cast<int>(y));
        if (bitPlanes) {
            CombineBitPlanes(row, line);
            continue;
        }
        const void* sources[4];
        for (uint32_t plane = 0; plane < planes; ++plane) sources[plane] = row + plane * header.BytesPerLine;
        ColorConverter->ConvertRow(TColorManager::TSourceRows(sources, planes), line, Properties.Width, 0xFF);
    }
}

// Answers the bitmap's pixel format. Two-bit indices are widened to four
// bits; bit planes are combined without the colour manager.
TPixelFormat TPCXGraphic::SetupColorConversion() {
    const TImageProperties& p = Properties;
    TColorManager& manager = *ColorConverter;
    manager.SourceMode = manager.TargetMode = TConversionOptions{};
    manager.SetSourceScheme(p.ColorScheme);
    manager.SetTargetScheme(p.ColorScheme == csIndexed ? csIndexed : (p.ColorScheme == csRGBA ? csBGRA : csBGR));
    manager.SetSourceBitsPerSample(p.BitsPerSample);
    manager.SetTargetBitsPerSample(p.SamplesPerPixel == 1 && p.BitsPerSample == 2 ? 4 : p.BitsPerSample);
    manager.SetSourceSamplesPerPixel(p.SamplesPerPixel);
    manager.SetTargetSamplesPerPixel(p.SamplesPerPixel);
    return IsBitPlanes(p.SamplesPerPixel, p.BitsPerSample) ? pf4bit : manager.GetPixelFormat(1);
}

// Images of up to 4 bits a pixel take their colours from the header, as
// netpbm, ImageMagick and Pillow do whatever the version and palette type
// say; a header whose entries the indices reach are all black holds no
// palette, and black and white or the standard 16 colours stand in.
void TPCXGraphic::SetupPalette(const uint8_t* headerPalette, const uint8_t* trailerPalette) {
    const TColorManager& manager = *ColorConverter;
    const TPixelFormat format = PixelFormat();
    if (format == pf24bit || format == pf32bit) return;
    if (format == pf8bit) {
        if (trailerPalette)
            SetPalette(manager.CreateColorPalette({trailerPalette}, 0, 256, false));
        else if (paletteType_ == GrayPaletteType)
            SetPalette(manager.CreateGrayscalePalette(false));
        else
            SetPalette(DefaultPalette(pf8bit));
        return;
    }
    const uint32_t indexBits = Properties.SamplesPerPixel * Properties.BitsPerSample;
    const uint32_t reached = 3u << std::min(indexBits, 4u);
    if (std::all_of(headerPalette, headerPalette + reached, [](uint8_t v) { return v == 0; })) {
        SetPalette(format == pf1bit ? manager.CreateGrayscalePalette(false) : DefaultPalette(pf4bit));
        return;
    }
    uint8_t colors[48];
    std::memcpy(colors, headerPalette, sizeof(colors));
    // Widened 2-bit indices 0 to 3 become 0, 5, 10 and 15: their colours
    // move along.
    if (Properties.SamplesPerPixel == 1 && Properties.BitsPerSample == 2)
        for (int index = 3; index >= 1; --index) std::memcpy(colors + 15 * index, colors + 3 * index, 3);
    SetPalette(manager.CreateColorPalette({colors}, 0, format == pf1bit ? 2 : 16, false));
}

// All rows of all planes, lineSize bytes a row. What the data does not fill
// stays zero. The data must be able to hold the image: a run packs at most
// 63 bytes into two.
std::vector<uint8_t> TPCXGraphic::ReadPixelData(int64_t dataSize, uint32_t lineSize) {
    const uint64_t unpacked = uint64_t(lineSize) * Properties.Height;
    const bool packed = Properties.Compression == ckRLE;
    const uint64_t size = static_cast<uint64_t>(dataSize);
    const uint64_t capacity = packed ? size / 2 * 63 + size % 2 : size;
    if (unpacked > capacity || unpacked > uint64_t(INT32_MAX)) RaiseGraphicErrorFmt(gsInvalidImage, gsPCXOrSCR);

    std::vector<uint8_t> pixels(unpacked);
    if (!packed) {
        SourceStream->ReadBuffer(pixels.data(), static_cast<int64_t>(unpacked));
        return pixels;
    }
    const int32_t readSize = static_cast<int32_t>(std::min<uint64_t>(size, INT32_MAX));
    std::vector<uint8_t> data(readSize);
    SourceStream->ReadBuffer(data.data(), readSize);
    TPCXRLEDecoder decoder;
    uint8_t* source = data.data();
    uint8_t* target = pixels.data();
    decoder.BeginDecode();
    decoder.Decode(source, target, readSize, static_cast<int32_t>(unpacked));
    decoder.EndDecode();
    return pixels;
}

// Eight pixels take one byte of each plane and give four output bytes of
// two 4-bit pixels, the first in the high nibble.
void TPCXGraphic::CombineBitPlanes(const uint8_t* row, uint8_t* target) const {
    const uint32_t planes = Properties.SamplesPerPixel;
    const uint32_t outputBytes = (Properties.Width * 4 + 7) / 8;
    for (uint32_t i = 0; i < outputBytes; ++i) {
        const uint32_t column = i / 4;
        const uint32_t shift = 6 - 2 * (i % 4);
        uint32_t first = 0, second = 0;
        for (uint32_t plane = 0; plane < planes; ++plane) {
            const uint32_t pair = row[plane * bytesPerLine_ + column] >> shift;
            first |= (pair >> 1 & 1) << plane;
            second |= (pair & 1) << plane;
        }
        target[i] = static_cast<uint8_t>(first << 4 | second);
    }
}
