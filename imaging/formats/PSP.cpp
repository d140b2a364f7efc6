// Paintshop Pro images (major version 3 and later): the first raster layer of
// the layer bank, uncompressed, run-length or deflate compressed, at 1, 4, 8
// or 24 bits per pixel, with its transparency as alpha.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>

#include "GraphicFormats.h"
#include "PixelAccess.h"

namespace {

constexpr char PSPSignature[] = "Paint Shop Pro Image File";
constexpr size_t SignatureLength = sizeof(PSPSignature) - 1;
constexpr int64_t FileHeaderSize = 36;
constexpr size_t AttributesSize = 28;
constexpr size_t LayerInfoSize = 115;
constexpr int64_t LayerNameSize = 256;  // major version 3
constexpr size_t ChannelInfoSize = 12;

enum TPSPBlockId : uint16_t {
    pbImageAttributes = 0,
    pbPalette = 2,
    pbLayerBank = 3,
    pbLayer = 4,
};

// Which plane of the layer a channel fills.
enum TPSPSlot : int {
    psComposite = 0,  // palette indices or gray levels
    psRed = 1,
    psGreen = 2,
    psBlue = 3,
    psTransparency = 4,
    psSlotCount = 5,
};

// Bitmap types of a channel: the image itself or its transparency mask;
// masks and selections are not shown.
constexpr uint16_t ImageBitmap = 0;
constexpr uint16_t TransparencyBitmap = 1;

// The most pixel bytes one packed byte can stand for.
constexpr uint64_t RLEBestRatio = 64;

struct TPSPBlockHeader {
    bool Valid = false;  // the marker starts with "~"
    uint16_t Id = 0;
    int64_t End = 0;  // where the next block starts
};

struct TPSPAttributes {
    uint32_t Width = 0;
    uint32_t Height = 0;
    double Resolution = 0;
    uint8_t ResolutionMetric = 0;
    uint16_t Compression = 0;
    uint16_t BitDepth = 0;
    uint8_t Grayscale = 0;
};

uint16_t LittleEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t LittleEndian32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t Read16(TStream& stream) {
    uint8_t raw[2];
    stream.ReadBuffer(raw, sizeof(raw));
    return LittleEndian16(raw);
}

uint32_t Read32(TStream& stream) {
    uint8_t raw[4];
    stream.ReadBuffer(raw, sizeof(raw));
    return LittleEndian32(raw);
}

// A chunk length from the file may have moved the position past the end.
int64_t BytesLeft(TStream& stream) { return std::max<int64_t>(0, stream.Size() - stream.Position()); }

[[noreturn]] void RaiseInvalid() { RaiseGraphicErrorFmt(gsInvalidImage, gsPSP); }

// Reads the file header; answers the major version, 0 when this is not a
// Paintshop Pro file of version 3 or later.
uint16_t ReadFileHeader(TStream& stream) {
    uint8_t header[FileHeaderSize];
    stream.ReadBuffer(header, FileHeaderSize);
    for (size_t i = 0; i < SignatureLength; ++i)
        if (std::tolower(header[i]) != std::tolower(static_cast<unsigned char>(PSPSignature[i]))) return 0;
    const uint16_t major = LittleEndian16(header + 32);
    return major >= 3 ? major : 0;
}

int64_t BlockHeaderSize(uint32_t version) { return version == 3 ? 14 : 10; }

// Marker, id, (version 3: initial data length,) total length. A block that
// ends past the end of the stream is not part of a whole file.
TPSPBlockHeader ReadBlockHeader(TStream& stream, uint32_t version) {
    uint8_t raw[14];
    const int64_t size = BlockHeaderSize(version);
    stream.ReadBuffer(raw, size);
    TPSPBlockHeader header;
    header.Valid = raw[0] == '~';
    header.Id = LittleEndian16(raw + 4);
    header.End = stream.Position() + LittleEndian32(raw + size - 4);
    if (header.Valid && header.End > stream.Size()) RaiseInvalid();
    return header;
}

// Reads the file header and the general image attributes block, leaving the
// stream at the next block.
bool ReadImageAttributes(TStream& stream, uint16_t& version, TPSPAttributes& attributes) {
    version = ReadFileHeader(stream);
    if (version == 0) return false;
    const TPSPBlockHeader block = ReadBlockHeader(stream, version);
    if (!block.Valid || block.Id != pbImageAttributes) return false;
    if (version >= 4) stream.Seek(4, TSeekOrigin::soCurrent);  // the chunk length
    uint8_t raw[AttributesSize];
    stream.ReadBuffer(raw, sizeof(raw));
    attributes.Width = LittleEndian32(raw);
    attributes.Height = LittleEndian32(raw + 4);
    attributes.Resolution =
        std::bit_cast<double>(uint64_t(LittleEndian32(raw + 8)) | uint64_t(LittleEndian32(raw + 12)) << 32);
    attributes.ResolutionMetric = raw[16];
    attributes.Compression = LittleEndian16(raw + 17);
    attributes.BitDepth = LittleEndian16(raw + 19);
    attributes.Grayscale = raw[27];
    stream.SetPosition(block.End);
    return true;
}

TCompressionKind CompressionOf(uint16_t compression) {
    switch (compression) {
        case 0: return ckNone;
        case 1: return ckRLE;
        case 2: return ckLZ77;
        case 3: return ckJPEG;
        default: return ckUnknown;
    }
}

int SlotOf(uint16_t bitmapType, uint16_t channelType) {
    if (bitmapType == ImageBitmap && channelType <= psBlue) return channelType;
    if (bitmapType == TransparencyBitmap && channelType == 0) return psTransparency;
    return -1;
}

}  // namespace

const TGraphicClassDesc TPSPGraphic::ClassDesc = {
    "TPSPGraphic", [] { return std::unique_ptr<TGraphic>(new TPSPGraphic); }, &TPSPGraphic::ProbeStream,
    TFormatGraphic::StaticClass()};

bool TPSPGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    const bool answer = stream.Size() - start > FileHeaderSize && ReadFileHeader(stream) != 0;
    stream.SetPosition(start);
    return answer;
}

bool TPSPGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    uint16_t version;
    TPSPAttributes attributes;
    if (!ReadImageAttributes(stream, version, attributes)) return false;

    TImageProperties& p = Properties;
    p.FormatVersion = version;
    if (attributes.BitDepth == 24) {
        p.BitsPerSample = 8;
        p.SamplesPerPixel = 3;
        p.ColorScheme = csRGB;
    } else {
        p.BitsPerSample = static_cast<uint8_t>(attributes.BitDepth);
        p.SamplesPerPixel = 1;
        p.ColorScheme = attributes.Grayscale != 0 ? csGray : csIndexed;
    }
    p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
    p.Width = attributes.Width;
    p.Height = attributes.Height;
    p.Compression = CompressionOf(attributes.Compression);
    const double perInch = attributes.ResolutionMetric == 2 ? attributes.Resolution * 2.54 : attributes.Resolution;
    p.XResolution = static_cast<float>(perInch);
    p.YResolution = p.XResolution;
    return true;
}

void TPSPGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    SetPalette(TLogPalette{});
    StartPosition = static_cast<uint32_t>(stream.Position());
    if (!ReadProperties(stream, 0)) RaiseInvalid();
    stream.SetPosition(StartPosition);
    uint16_t version;
    TPSPAttributes attributes;
    ReadImageAttributes(stream, version, attributes);

    const uint16_t depth = attributes.BitDepth;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24) RaiseGraphicErrorFmt(gsInvalidColorFormat, gsPSP);
    const TCompressionKind compression = Properties.Compression;
    if (compression != ckNone && compression != ckRLE && compression != ckLZ77)
        RaiseGraphicErrorFmt(gsUnsupportedFeature, gsCompressionScheme, gsPSP);
    CheckImageSize(Properties.Width, Properties.Height, gsPSP);

    SetupColorManager(false);
    SetPixelFormat(ColorConverter->GetPixelFormat(1));
    if (Properties.ColorScheme == csGray) SetPalette(ColorConverter->CreateGrayscalePalette(false));

    bool loaded = false;
    while (BytesLeft(stream) >= BlockHeaderSize(version)) {
        const TPSPBlockHeader block = ReadBlockHeader(stream, version);
        if (!block.Valid) break;
        if (block.Id == pbPalette)
            ReadPalette(stream);
        else if (block.Id == pbLayerBank && !loaded)
            loaded = ReadLayerBank(stream, block.End);
        stream.SetPosition(block.End);
    }
    if (!loaded) RaiseInvalid();
}

void TPSPGraphic::SetupColorManager(bool alpha) {
    TColorManager& manager = *ColorConverter;
    const TImageProperties& p = Properties;
    const bool color = p.ColorScheme == csRGB;
    const uint8_t samples = static_cast<uint8_t>(p.SamplesPerPixel + (alpha ? 1 : 0));
    manager.SourceMode = TConversionOptions{};
    manager.TargetMode = TConversionOptions{};
    manager.SetSourceBitsPerSample(p.BitsPerSample);
    manager.SetTargetBitsPerSample(p.BitsPerSample);
    manager.SetSourceSamplesPerPixel(samples);
    manager.SetTargetSamplesPerPixel(samples);
    manager.SetSourceScheme(color && alpha ? csRGBA : p.ColorScheme);
    manager.SetTargetScheme(color ? (alpha ? csBGRA : csBGR) : p.ColorScheme);
}

void TPSPGraphic::ReadPalette(TStream& stream) {
    if (Properties.FormatVersion >= 4) stream.Seek(4, TSeekOrigin::soCurrent);  // the chunk length
    // Entries are blue, green, red and a filler byte; a bitmap holds 256.
    const uint32_t count = std::min<uint32_t>(Read32(stream), 256);
    std::vector<uint8_t> entries(4 * size_t(count));
    stream.ReadBuffer(entries.data(), static_cast<int64_t>(entries.size()));
    SetPalette(ColorConverter->CreateColorPalette({entries.data()}, 1, count, true));
}

bool TPSPGraphic::ReadLayerBank(TStream& stream, int64_t bankEnd) {
    const int64_t headerSize = BlockHeaderSize(Properties.FormatVersion);
    while (stream.Position() + headerSize <= bankEnd && BytesLeft(stream) >= headerSize) {
        const TPSPBlockHeader block = ReadBlockHeader(stream, Properties.FormatVersion);
        if (!block.Valid || block.Id != pbLayer) return false;
        if (IsRasterLayer(stream)) {
            ReadLayerChannels(stream);
            return true;
        }
        stream.SetPosition(block.End);
    }
    return false;
}

bool TPSPGraphic::IsRasterLayer(TStream& stream) {
    uint8_t info[LayerInfoSize];
    if (Properties.FormatVersion == 3) {
        // Type 0 is a normal layer, 1 a floating selection.
        stream.Seek(LayerNameSize, TSeekOrigin::soCurrent);
        stream.ReadBuffer(info, sizeof(info));
        ReadLayerRectangle(info);
        return info[0] == 0;
    }
    // Types 0 and 1 hold pixels; vector, adjustment, group and mask layers
    // come after them.
    const int64_t chunkStart = stream.Position();
    const uint32_t chunkLength = Read32(stream);
    stream.Seek(Read16(stream), TSeekOrigin::soCurrent);  // the name
    stream.ReadBuffer(info, sizeof(info));
    stream.SetPosition(chunkStart + chunkLength);
    ReadLayerRectangle(info);
    return info[0] <= 1;
}

// The layer information holds the layer's rectangle on the canvas and,
// within it, the saved rectangle whose pixels the channels store (left,
// top, right, bottom; right and bottom outside), as GIMP's reader takes
// them. A saved rectangle without pixels stands for the whole canvas.
void TPSPGraphic::ReadLayerRectangle(const uint8_t* info) {
    const auto at = [info](size_t offset) { return int64_t(int32_t(LittleEndian32(info + offset))); };
    const int64_t width = at(25) - at(17), height = at(29) - at(21);
    const int64_t left = at(1) + at(17), top = at(5) + at(21);
    const bool whole = width <= 0 || height <= 0 || left < INT32_MIN || left > INT32_MAX || top < INT32_MIN ||
                       top > INT32_MAX;
    layerLeft_ = whole ? 0 : int32_t(left);
    layerTop_ = whole ? 0 : int32_t(top);
    layerWidth_ = whole ? Properties.Width : uint32_t(width);
    layerHeight_ = whole ? Properties.Height : uint32_t(height);
}

void TPSPGraphic::ReadLayerChannels(TStream& stream) {
    const uint32_t version = Properties.FormatVersion;
    const int64_t chunkStart = stream.Position();
    const uint32_t chunkLength = version >= 4 ? Read32(stream) : 0;
    Read16(stream);  // the bitmap count
    const uint16_t channelCount = Read16(stream);
    if (version >= 4) stream.SetPosition(chunkStart + chunkLength);

    CheckImageSize(layerWidth_, layerHeight_, gsPSP);
    rowSize_ = static_cast<uint32_t>((uint64_t(layerWidth_) * Properties.BitsPerSample + 7) / 8);
    // Allocation follows the input: the rest of the file must be able to
    // hold the planes of the layer at the best ratio of its compression.
    const uint64_t planes = Properties.ColorScheme == csRGB ? 3 : 1;
    const uint64_t ratio = Properties.Compression == ckRLE    ? RLEBestRatio
                           : Properties.Compression == ckLZ77 ? DeflateBestRatio
                                                              : 1;
    if (planes * layerHeight_ * rowSize_ > uint64_t(BytesLeft(stream)) * ratio) RaiseInvalid();

    std::vector<TChannel> channels(psSlotCount);
    const int64_t headerSize = BlockHeaderSize(version);
    for (uint32_t i = 0; i < channelCount && BytesLeft(stream) >= headerSize; ++i) {
        const TPSPBlockHeader block = ReadBlockHeader(stream, version);
        if (!block.Valid) break;
        const int64_t infoStart = stream.Position();
        const uint32_t infoLength = version >= 4 ? Read32(stream) : 0;
        uint8_t info[ChannelInfoSize];
        stream.ReadBuffer(info, sizeof(info));
        if (infoLength >= sizeof(info) + 4) stream.SetPosition(infoStart + infoLength);
        const int slot = SlotOf(LittleEndian16(info + 8), LittleEndian16(info + 10));
        if (slot >= 0 && channels[slot].Data.empty())
            ReadChannel(stream, channels[slot], LittleEndian32(info), LittleEndian32(info + 4));
        // Channels not shown, and data the header does not count, are
        // stepped over by the block's length.
        stream.SetPosition(block.End);
    }
    ConvertChannels(channels);
}

void TPSPGraphic::ReadChannel(TStream& stream, TChannel& channel, uint32_t packedSize, uint32_t unpackedSize) {
    if (packedSize > BytesLeft(stream) || packedSize > uint32_t(INT32_MAX)) RaiseInvalid();
    const uint32_t height = layerHeight_;
    // Rows padded by the writer (to whole 32-bit words at most) keep their
    // padding; a channel that holds less leaves its last rows blank.
    const uint32_t storedRow = unpackedSize / height;
    channel.Stride = storedRow >= rowSize_ && storedRow - rowSize_ < 4 ? storedRow : rowSize_;
    channel.Data.assign(size_t(height) * channel.Stride, 0);
    std::vector<uint8_t> packed(packedSize);
    stream.ReadBuffer(packed.data(), packedSize);

    uint8_t* source = packed.data();
    uint8_t* target = channel.Data.data();
    const auto room = static_cast<int32_t>(channel.Data.size());
    switch (Properties.Compression) {
        case ckRLE: {
            TPSPRLEDecoder decoder;
            decoder.Decode(source, target, static_cast<int32_t>(packedSize), room);
            break;
        }
        case ckLZ77: {
            TLZ77Decoder decoder(Z_FINISH, false);
            decoder.BeginDecode();
            decoder.Decode(source, target, static_cast<int32_t>(packedSize), room);
            decoder.EndDecode();
            break;
        }
        default: std::copy_n(source, std::min<size_t>(packedSize, channel.Data.size()), target); break;
    }
}

// A layer smaller than the canvas is placed at its rectangle; the rest of
// the canvas is transparent where the bitmap has alpha, index or level 0
// where it has none.
void TPSPGraphic::ConvertChannels(std::vector<TChannel>& channels) {
    const uint32_t width = Properties.Width, height = Properties.Height;
    const bool whole = layerLeft_ == 0 && layerTop_ == 0 && layerWidth_ == width && layerHeight_ == height;
    std::vector<int> planes;
    if (Properties.ColorScheme == csRGB) {
        planes = {psRed, psGreen, psBlue};
        // A colour layer's transparency mask becomes alpha; a layer that
        // leaves part of the canvas bare needs alpha of its own.
        if (!channels[psTransparency].Data.empty() || !whole)
            planes.push_back(psTransparency);
        else if (!channels[psComposite].Data.empty())
            planes.push_back(psComposite);
    } else {
        planes = {psComposite};
    }
    for (int slot : planes) {
        TChannel& channel = channels[slot];
        if (!channel.Data.empty()) continue;
        channel.Stride = rowSize_;
        channel.Data.assign(size_t(layerHeight_) * rowSize_, slot == psTransparency ? 0xFF : 0);
    }
    if (planes.size() == 4) {
        SetupColorManager(true);
        SetPixelFormat(ColorConverter->GetPixelFormat(1));
    }

    if (whole)
        SetSizeForOverwrite(static_cast<int>(width), static_cast<int>(height));
    else
        SetSize(static_cast<int>(width), static_cast<int>(height));
    std::vector<uint8_t> layerRow(whole ? 0 : size_t(layerWidth_) * 4);
    const void* sources[4];
    for (uint32_t y = 0; y < layerHeight_; ++y) {
        const int64_t line = int64_t(layerTop_) + y;
        if (line < 0 || line >= int64_t(height)) continue;
        for (size_t k = 0; k < planes.size(); ++k) {
            const TChannel& channel = channels[planes[k]];
            sources[k] = channel.Data.data() + size_t(y) * channel.Stride;
        }
        uint8_t* target = whole ? ScanLine(int(line)) : layerRow.data();
        ColorConverter->ConvertRow(TColorManager::TSourceRows(sources, planes.size()), target, layerWidth_, 0xFF);
        if (!whole) PlaceLayerRow(layerRow.data(), ScanLine(int(line)));
    }
}

// Copies the columns of a converted layer row that fall on the canvas.
void TPSPGraphic::PlaceLayerRow(const uint8_t* row, uint8_t* line) const {
    const TPixelFormat format = PixelFormat();
    const int64_t first = std::max<int64_t>(0, -int64_t(layerLeft_));
    const int64_t last = std::min<int64_t>(layerWidth_, int64_t(Properties.Width) - layerLeft_);
    if (first >= last) return;
    const int bits = BitsPerPixel(format);
    if (bits >= 8) {
        const size_t bytes = size_t(bits / 8);
        std::memcpy(line + (layerLeft_ + first) * bytes, row + first * bytes, size_t(last - first) * bytes);
        return;
    }
    for (int64_t x = first; x < last; ++x)
        WriteIndex(line, int(layerLeft_ + x), format, ReadIndex(row, int(x), format));
}
