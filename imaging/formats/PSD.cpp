// Adobe Photoshop documents: the merged image that follows the layers, in
// every colour mode the colour manager converts, raw or PackBits compressed,
// at 1, 8 or 16 bits per sample.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "GraphicFormats.h"

namespace {

constexpr int64_t HeaderSize = 26;

// Rows are read a band at a time: few reads, and the band stays in the cache
// while its rows are converted.
constexpr uint64_t BandBytes = 64 * 1024;

// PackBits stores at most 128 bytes in 2.
constexpr uint64_t PackBitsBestRatio = 64;

enum TPSDMode : uint16_t {
    pmBitmap = 0,
    pmGray = 1,
    pmIndexed = 2,
    pmRGB = 3,
    pmCMYK = 4,
    pmMultichannel = 7,
    pmDuotone = 8,
    pmLab = 9,
};

struct TPSDHeader {
    char Signature[4];
    uint16_t Version;
    uint16_t Channels;
    uint32_t Height;
    uint32_t Width;
    uint16_t Depth;
    uint16_t Mode;
};

uint16_t BigEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

TPSDHeader ReadHeader(TStream& stream) {
    uint8_t raw[HeaderSize];
    stream.ReadBuffer(raw, HeaderSize);
    TPSDHeader header;
    std::memcpy(header.Signature, raw, 4);
    header.Version = BigEndian16(raw + 4);
    header.Channels = BigEndian16(raw + 12);
    header.Height = BigEndian32(raw + 14);
    header.Width = BigEndian32(raw + 18);
    header.Depth = BigEndian16(raw + 22);
    header.Mode = BigEndian16(raw + 24);
    return header;
}

uint32_t ReadLength(TStream& stream) {
    uint8_t raw[4];
    stream.ReadBuffer(raw, sizeof(raw));
    return BigEndian32(raw);
}

int64_t BytesLeft(TStream& stream) { return stream.Size() - stream.Position(); }

[[noreturn]] void RaiseInvalid() { RaiseGraphicErrorFmt(gsInvalidImage, gsPSD); }

// Steps over a section given by its length; answers false when the length
// runs past the end of the stream.
bool SkipSection(TStream& stream) {
    const uint32_t length = ReadLength(stream);
    if (length > BytesLeft(stream)) return false;
    stream.Seek(length, TSeekOrigin::soCurrent);
    return true;
}

// The first channel after the colour channels is alpha. Documents with
// fewer channels than RGB needs show their first channel as grey, as the
// other readers of the format do.
TColorScheme SchemeOf(uint16_t mode, uint16_t channels) {
    switch (mode) {
        case pmBitmap: return csGray;
        case pmGray:
        case pmDuotone: return channels >= 2 ? csGrayAlpha : csGray;
        case pmIndexed: return csIndexed;
        case pmRGB:
        case pmMultichannel: return channels < 3 ? csGray : (channels == 3 ? csRGB : csRGBA);
        case pmCMYK: return csCMYK;
        case pmLab: return csCIELab;
        default: return csUnknown;
    }
}

bool HasAlphaChannel(TColorScheme scheme, uint16_t channels) {
    switch (scheme) {
        case csGrayAlpha:
        case csRGBA: return true;
        case csCMYK: return channels >= 5;
        case csCIELab: return channels >= 4;
        default: return false;
    }
}

// The channels a scheme's colour is converted from; 0 for modes that load
// no pixels.
uint32_t ColorPlanesOf(TColorScheme scheme) {
    switch (scheme) {
        case csIndexed:
        case csGray: return 1;
        case csGrayAlpha: return 2;
        case csRGB:
        case csCIELab: return 3;
        case csRGBA:
        case csCMYK: return 4;
        default: return 0;
    }
}

// CMYK and Lab schemes carry no alpha: their alpha plane is one more.
uint32_t PlanesOf(const TImageProperties& p) {
    const bool extraAlpha = p.HasAlpha && (p.ColorScheme == csCMYK || p.ColorScheme == csCIELab);
    return ColorPlanesOf(p.ColorScheme) + (extraAlpha ? 1 : 0);
}

// CMYK and alpha.
constexpr uint32_t MaxPlanes = 5;

// Depths whose rows become bitmap rows: 1-bit rows only for single-channel
// images, 8 and 16 bits for all.
bool IsDecodedDepth(uint16_t depth, uint32_t planes) {
    return depth == 8 || depth == 16 || (depth == 1 && planes <= 1);
}

}  // namespace

const TGraphicClassDesc TPSDGraphic::ClassDesc = {
    "TPSDGraphic", [] { return std::unique_ptr<TGraphic>(new TPSDGraphic); }, &TPSDGraphic::ProbeStream,
    TFormatGraphic::StaticClass()};

bool TPSDGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    bool answer = false;
    if (stream.Size() - start > HeaderSize) {
        const TPSDHeader header = ReadHeader(stream);
        const auto upper = [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); };
        answer =
            std::equal(header.Signature, header.Signature + 4, "8BPS", [&](char a, char b) { return upper(a) == b; }) &&
            header.Version == 1;
    }
    stream.SetPosition(start);
    return answer;
}

bool TPSDGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    const TPSDHeader header = ReadHeader(stream);
    // Version 2 (large documents) widens the section lengths: not this layout.
    if (std::memcmp(header.Signature, "8BPS", 4) != 0 || header.Version != 1 || header.Channels == 0) return false;

    TImageProperties& p = Properties;
    p.Flags = ifBigEndian;
    if (header.Mode == pmBitmap) p.Flags |= ifMinIsWhite;
    p.BitsPerSample = static_cast<uint8_t>(header.Depth);
    p.ChannelCount = static_cast<uint8_t>(header.Channels);
    p.SamplesPerPixel = static_cast<uint8_t>(std::min<uint16_t>(header.Channels, 4));
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    p.ColorScheme = SchemeOf(header.Mode, header.Channels);
    p.HasAlpha = HasAlphaChannel(p.ColorScheme, header.Channels);
    p.Width = header.Width;
    p.Height = header.Height;

    // Colour mode data, image resources, layers and masks.
    for (int section = 0; section < 3; ++section)
        if (!SkipSection(stream)) return false;
    uint8_t compression[2];
    stream.ReadBuffer(compression, sizeof(compression));
    p.Compression = BigEndian16(compression) == 1 ? ckPackBits : ckNone;
    return true;
}

void TPSDGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    StartPosition = static_cast<uint32_t>(stream.Position());
    if (!ReadProperties(stream, 0)) RaiseInvalid();
    stream.SetPosition(StartPosition);
    const TPSDHeader header = ReadHeader(stream);
    CheckImageSize(Properties.Width, Properties.Height, gsPSD);
    const uint32_t planes = PlanesOf(Properties);
    if (planes > header.Channels) RaiseInvalid();
    if (!IsDecodedDepth(header.Depth, planes)) RaiseGraphicErrorFmt(gsInvalidColorFormat, gsPSD);

    SetupColorManager();
    SetPixelFormat(ColorConverter->GetPixelFormat(1));
    ReadColorModeData(stream);
    if (!SkipSection(stream) || !SkipSection(stream)) RaiseInvalid();
    uint8_t compression[2];
    stream.ReadBuffer(compression, sizeof(compression));
    // Zip compression (2 and 3) and unknown schemes are not shown as pixels.
    if (BigEndian16(compression) > 1) RaiseGraphicErrorFmt(gsUnsupportedFeature, gsCompressionScheme, gsPSD);

    const auto rowSize = static_cast<uint32_t>((uint64_t(Properties.Width) * header.Depth + 7) / 8);
    if (Properties.Compression == ckPackBits)
        ReadPackedImage(stream, header.Channels, planes, rowSize);
    else
        ReadRawImage(stream, planes, rowSize);
}

void TPSDGraphic::SetupColorManager() {
    TColorManager& manager = *ColorConverter;
    const TImageProperties& p = Properties;
    // Gray and indexed images show their first channel alone; gray and
    // alpha reach the manager as red, green and blue planes of the gray.
    TColorScheme source = p.ColorScheme, target = p.ColorScheme;
    uint8_t samples = static_cast<uint8_t>(std::max(ColorPlanesOf(p.ColorScheme), 1u)), targetSamples = samples;
    manager.SourceMode = cvByteSwap;
    manager.TargetMode = TConversionOptions{};
    switch (p.ColorScheme) {
        case csGrayAlpha:
            source = csRGBA;
            target = csBGRA;
            samples = targetSamples = 4;
            break;
        case csRGB: target = csBGR; break;
        case csRGBA: target = csBGRA; break;
        case csCMYK:
        case csCIELab:
            target = p.HasAlpha ? csBGRA : csBGR;
            targetSamples = p.HasAlpha ? 4 : 3;
            if (p.ColorScheme == csCIELab) manager.SourceMode |= cvLabByteRange | cvLabChromaOffset;
            break;
        default: break;
    }
    manager.SetSourceBitsPerSample(p.BitsPerSample);
    manager.SetTargetBitsPerSample(p.BitsPerSample == 16 ? 8 : p.BitsPerSample);
    manager.SetSourceSamplesPerPixel(samples);
    manager.SetTargetSamplesPerPixel(targetSamples);
    manager.SetSourceScheme(source);
    manager.SetTargetScheme(target);
}

void TPSDGraphic::ReadColorModeData(TStream& stream) {
    const uint32_t length = ReadLength(stream);
    if (length > BytesLeft(stream)) RaiseInvalid();
    if (Properties.ColorScheme == csIndexed) {
        // Three planes: all reds, then all greens, then all blues.
        std::vector<uint8_t> data(length);
        stream.ReadBuffer(data.data(), length);
        const uint32_t colors = length / 3;
        const uint8_t* red = data.data();
        SetPalette(ColorConverter->CreateColorPalette({red, red + colors, red + 2 * colors}, 2, colors, false));
        return;
    }
    if (Properties.ColorScheme == csGray)
        SetPalette(ColorConverter->CreateGrayscalePalette((Properties.Flags & ifMinIsWhite) != 0));
    stream.Seek(length, TSeekOrigin::soCurrent);
}

void TPSDGraphic::ReadRawImage(TStream& stream, uint32_t planes, uint32_t rowSize) {
    const uint32_t width = Properties.Width, height = Properties.Height;
    const uint64_t planeSize = uint64_t(rowSize) * height;
    // Modes without pixels still claim one channel's worth of data.
    if (std::max(planes, 1u) * planeSize > uint64_t(BytesLeft(stream))) RaiseInvalid();
    if (planes == 0) {
        SetSize(static_cast<int>(width), static_cast<int>(height));
        return;
    }
    SetSizeForOverwrite(static_cast<int>(width), static_cast<int>(height));

    const auto bandRows = static_cast<uint32_t>(std::clamp<uint64_t>(BandBytes / rowSize, 1, height));
    const size_t bandPlaneSize = size_t(bandRows) * rowSize;
    std::vector<uint8_t> band(planes * bandPlaneSize);
    const int64_t dataStart = stream.Position();
    for (uint32_t y = 0; y < height; y += bandRows) {
        const uint32_t rows = std::min(bandRows, height - y);
        for (uint32_t k = 0; k < planes; ++k) {
            stream.SetPosition(dataStart + static_cast<int64_t>(k * planeSize + uint64_t(y) * rowSize));
            stream.ReadBuffer(band.data() + k * bandPlaneSize, int64_t(rows) * rowSize);
        }
        for (uint32_t r = 0; r < rows; ++r) {
            uint8_t* planeRows[MaxPlanes];
            for (uint32_t k = 0; k < planes; ++k) planeRows[k] = band.data() + k * bandPlaneSize + size_t(r) * rowSize;
            ConvertPlaneRows(planeRows, planes, rowSize, y + r);
        }
    }
}

void TPSDGraphic::ReadPackedImage(TStream& stream, uint32_t channels, uint32_t planes, uint32_t rowSize) {
    const uint32_t width = Properties.Width, height = Properties.Height;
    const uint32_t usedPlanes = std::max(planes, 1u);
    // The table holds the packed length of every row of every channel; only
    // those of the used channels are kept.
    const uint64_t tableSize = 2 * uint64_t(height) * channels;
    if (tableSize > uint64_t(BytesLeft(stream))) RaiseInvalid();
    std::vector<uint8_t> lengths(2 * size_t(height) * usedPlanes);
    stream.ReadBuffer(lengths.data(), static_cast<int64_t>(lengths.size()));
    stream.Seek(static_cast<int64_t>(tableSize - lengths.size()), TSeekOrigin::soCurrent);

    uint64_t packedSize = 0;
    for (size_t i = 0; i < lengths.size(); i += 2) packedSize += BigEndian16(&lengths[i]);
    if (packedSize > uint64_t(BytesLeft(stream)) ||
        packedSize * PackBitsBestRatio < uint64_t(usedPlanes) * height * rowSize)
        RaiseInvalid();
    if (planes == 0) {
        SetSize(static_cast<int>(width), static_cast<int>(height));
        return;
    }
    std::vector<uint8_t> packed(packedSize);
    stream.ReadBuffer(packed.data(), static_cast<int64_t>(packedSize));
    SetSizeForOverwrite(static_cast<int>(width), static_cast<int>(height));

    // Where the next packed row of each plane starts.
    size_t cursor[MaxPlanes] = {};
    for (uint32_t k = 1; k < planes; ++k) {
        cursor[k] = cursor[k - 1];
        for (uint32_t y = 0; y < height; ++y) cursor[k] += BigEndian16(&lengths[2 * (size_t(k - 1) * height + y)]);
    }
    // A row that unpacks short keeps the bytes of the row before: never
    // bytes that were not written.
    std::vector<uint8_t> rows(size_t(planes) * rowSize);
    uint8_t* planeRows[MaxPlanes];
    for (uint32_t k = 0; k < planes; ++k) planeRows[k] = rows.data() + size_t(k) * rowSize;
    TPackbitsRLEDecoder decoder;
    decoder.BeginDecode();
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t k = 0; k < planes; ++k) {
            const uint16_t length = BigEndian16(&lengths[2 * (size_t(k) * height + y)]);
            uint8_t* source = packed.data() + cursor[k];
            uint8_t* target = planeRows[k];
            decoder.Decode(source, target, length, static_cast<int32_t>(rowSize));
            cursor[k] += length;
        }
        ConvertPlaneRows(planeRows, planes, rowSize, y);
    }
    decoder.EndDecode();
}

void TPSDGraphic::ConvertPlaneRows(uint8_t* const* rows, uint32_t planes, uint32_t rowSize, uint32_t y) {
    const TColorScheme scheme = Properties.ColorScheme;
    // Photoshop stores CMYK as the paper's brightness: 255 means no ink.
    if (scheme == csCMYK)
        for (uint32_t k = 0; k < 4; ++k)
            std::transform(rows[k], rows[k] + rowSize, rows[k], [](uint8_t v) { return uint8_t(~v); });
    // The planes in their order, an alpha plane after the colour ones; gray
    // and alpha go as red, green and blue planes of the gray.
    const void* sources[MaxPlanes] = {};
    std::copy(rows, rows + planes, sources);
    if (scheme == csGrayAlpha) {
        sources[3] = rows[1];
        sources[1] = sources[2] = rows[0];
        planes = 4;
    }
    ColorConverter->ConvertRow(TColorManager::TSourceRows(sources, planes), ScanLine(static_cast<int>(y)),
                               Properties.Width, 0xFF);
}
