// Truevision Targa: reading every image type and depth, and writing.
#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "GraphicFormats.h"
#include "PixelAccess.h"

namespace {

#pragma pack(push, 1)
struct TTargaHeader {
    uint8_t IDLength;
    uint8_t ColorMapType;
    uint8_t ImageType;
    uint16_t ColorMapOrigin;
    uint16_t ColorMapLength;
    uint8_t ColorMapEntrySize;
    uint16_t XOrigin;
    uint16_t YOrigin;
    uint16_t Width;
    uint16_t Height;
    uint8_t PixelSize;
    uint8_t ImageDescriptor;
};
#pragma pack(pop)
static_assert(sizeof(TTargaHeader) == 18);
static_assert(std::endian::native == std::endian::little, "Targa headers are read as they lie in memory");

constexpr uint8_t TopDownBit = 0x20, RightToLeftBit = 0x10;
// The header's sides are 16 bits wide.
constexpr int MaxTargaSide = 65535;

bool IsGrayType(uint8_t imageType) { return imageType == 3 || imageType == 11; }
bool IsRLEType(uint8_t imageType) { return imageType >= 9 && imageType <= 11; }
bool IsPixelSize(uint8_t bits) { return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32; }

TLogPalette PaletteFromWords(const uint8_t* map, uint32_t count) {
    TLogPalette palette;
    palette.palPalEntry.resize(std::min(count, 256u));
    for (auto& entry : palette.palPalEntry) {
        const uint16_t word = static_cast<uint16_t>(map[0] | (map[1] << 8));
        map += 2;
        // Five bits widened by repeating their top bits, as 15-bit pixels
        // are shown: 31 is 255.
        entry.peRed = Widen5(word >> 10 & 31);
        entry.peGreen = Widen5(word >> 5 & 31);
        entry.peBlue = Widen5(word & 31);
    }
    return palette;
}

// Pixel index i names map entry i - origin; the indices below the origin
// name no entry and stay black.
TLogPalette ShiftPalette(TLogPalette palette, uint16_t origin) {
    auto& entries = palette.palPalEntry;
    entries.insert(entries.begin(), std::min<size_t>(origin, 256), TPaletteEntry{});
    entries.resize(std::min<size_t>(entries.size(), 256));
    return palette;
}

// Rows stored right to left are turned round in place.
void MirrorRow(uint8_t* row, uint32_t width, uint32_t bytesPerPixel) {
    for (uint32_t left = 0, right = width - 1; left < right; ++left, --right)
        std::swap_ranges(row + left * bytesPerPixel, row + (left + 1) * bytesPerPixel, row + right * bytesPerPixel);
}

uint32_t TargaBytesPerPixel(TPixelFormat format) {
    switch (format) {
        case pf1bit:
        case pf4bit:
        case pf8bit: return 1;
        case pf15bit:
        case pf16bit: return 2;
        case pf24bit: return 3;
        case pf32bit: return 4;
        default: return static_cast<uint32_t>(BitsPerPixel(format)) / 8;
    }
}

// Writes a bitmap of 8 or more bits per pixel, rows from the top.
void WriteTarga(const TBitmap& bitmap, TStream& stream, bool compressed) {
    if (bitmap.Empty()) return;
    if (bitmap.Width() > MaxTargaSide || bitmap.Height() > MaxTargaSide)
        throw EInvalidGraphic(Format("Cannot save a %d x %d image as Targa: its sides are limited to %d pixels",
                                     bitmap.Width(), bitmap.Height(), MaxTargaSide));
    const uint32_t bytesPerPixel = TargaBytesPerPixel(bitmap.PixelFormat());
    const bool indexed = bytesPerPixel == 1;

    TTargaHeader header{};
    header.ColorMapType = indexed ? 1 : 0;
    header.ImageType = compressed ? (indexed ? 9 : 10) : (indexed ? 1 : 2);
    header.ColorMapLength = 256;
    header.ColorMapEntrySize = 24;
    header.Width = static_cast<uint16_t>(bitmap.Width());
    header.Height = static_cast<uint16_t>(bitmap.Height());
    header.PixelSize = static_cast<uint8_t>(8 * bytesPerPixel);
    header.ImageDescriptor = TopDownBit;
    stream.WriteBuffer(&header, sizeof(header));

    if (indexed) {
        uint8_t map[256 * 3] = {};
        const auto& entries = bitmap.Palette().palPalEntry;
        for (size_t i = 0; i < std::min<size_t>(entries.size(), 256); ++i) {
            map[3 * i] = entries[i].peBlue;
            map[3 * i + 1] = entries[i].peGreen;
            map[3 * i + 2] = entries[i].peRed;
        }
        stream.WriteBuffer(map, sizeof(map));
    }

    const uint32_t rowSize = static_cast<uint32_t>(bitmap.Width()) * bytesPerPixel;
    if (!compressed) {
        for (int y = 0; y < bitmap.Height(); ++y) stream.WriteBuffer(bitmap.ScanLine(y), rowSize);
        return;
    }
    TTargaRLEDecoder encoder(8 * bytesPerPixel);
    std::vector<uint8_t> packed(2 * size_t(rowSize));
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint32_t stored = 0;
        encoder.Encode(bitmap.ScanLine(y), packed.data(), static_cast<uint32_t>(bitmap.Width()), stored);
        stream.WriteBuffer(packed.data(), stored);
    }
}

}  // namespace

const TGraphicClassDesc TTargaGraphic::ClassDesc = {
    "TTargaGraphic", [] { return std::unique_ptr<TGraphic>(new TTargaGraphic); }, &TTargaGraphic::ProbeStream,
    TFormatGraphic::StaticClass()};

bool TTargaGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    TTargaHeader header;
    bool answer = false;
    if (stream.Size() - start > static_cast<int64_t>(sizeof(header)) &&
        stream.Read(&header, sizeof(header)) == sizeof(header)) {
        const uint8_t type = header.ImageType;
        const uint8_t entrySize = header.ColorMapEntrySize;
        answer = (type <= 3 || IsRLEType(type)) && header.ColorMapType <= 1 &&
                 (entrySize == 15 || entrySize == 16 || entrySize == 24 || entrySize == 32) &&
                 IsPixelSize(header.PixelSize);
    }
    stream.SetPosition(start);
    return answer;
}

bool TTargaGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    TTargaHeader header;
    stream.ReadBuffer(&header, sizeof(header));

    TImageProperties& p = Properties;
    p.Width = header.Width;
    p.Height = header.Height;
    p.BitsPerSample = 8;
    switch (header.PixelSize) {
        case 8:
            p.ColorScheme = IsGrayType(header.ImageType) ? csGray : csIndexed;
            p.SamplesPerPixel = 1;
            break;
        case 16:
            // Gray files use the second byte for alpha, as common encoders write them.
            if (IsGrayType(header.ImageType)) {
                p.ColorScheme = csGrayAlpha;
                p.SamplesPerPixel = 2;
                break;
            }
            [[fallthrough]];
        case 15:
            p.ColorScheme = csRGB;
            p.BitsPerSample = 5;
            p.SamplesPerPixel = 3;
            break;
        case 24:
            p.ColorScheme = csRGB;
            p.SamplesPerPixel = 3;
            break;
        case 32:
            p.ColorScheme = csRGBA;
            p.SamplesPerPixel = 4;
            break;
        default:
            p.ColorScheme = csUnknown;
            p.SamplesPerPixel = 0;
            break;
    }
    p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
    p.Compression = IsRLEType(header.ImageType) ? ckRLE : ckNone;
    return true;
}

void TTargaGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    StartPosition = static_cast<uint32_t>(stream.Position());
    ReadProperties(stream, 0);
    stream.SetPosition(StartPosition);
    TTargaHeader header;
    stream.ReadBuffer(&header, sizeof(header));
    stream.Seek(header.IDLength, TSeekOrigin::soCurrent);

    // Gray and alpha pairs become 32-bit pixels; every other layout is
    // stored as the bitmap holds it.
    const bool grayAlpha = Properties.ColorScheme == csGrayAlpha;
    TColorManager& manager = *ColorConverter;
    manager.SetSourceSamplesPerPixel(Properties.SamplesPerPixel);
    manager.SetTargetSamplesPerPixel(grayAlpha ? 4 : Properties.SamplesPerPixel);
    manager.SetSourceScheme(Properties.ColorScheme);
    manager.SourceMode = TConversionOptions{};
    manager.SetTargetScheme(grayAlpha ? csBGRA : csBGR);
    manager.SetSourceBitsPerSample(Properties.BitsPerSample);
    manager.SetTargetBitsPerSample(Properties.BitsPerSample);
    SetPixelFormat(manager.GetPixelFormat(1));

    const uint32_t mapBytes = header.ColorMapType == 1
                                  ? uint32_t(header.ColorMapLength) * ((header.ColorMapEntrySize + 1u) / 8)
                                  : 0;
    if (IsGrayType(header.ImageType)) {
        // A map in a gray file has no use, but its bytes are not pixels.
        stream.Seek(mapBytes, TSeekOrigin::soCurrent);
        if (!grayAlpha) SetPalette(manager.CreateGrayscalePalette(false));
    } else if (header.ColorMapType == 1) {
        std::vector<uint8_t> map(mapBytes);
        stream.ReadBuffer(map.data(), mapBytes);
        const auto setMap = [&](TLogPalette palette) { SetPalette(ShiftPalette(std::move(palette), header.ColorMapOrigin)); };
        switch (header.ColorMapEntrySize) {
            case 24: setMap(manager.CreateColorPalette({map.data()}, 0, header.ColorMapLength, true)); break;
            case 32: setMap(manager.CreateColorPalette({map.data()}, 1, header.ColorMapLength, true)); break;
            case 15:
            case 16: setMap(PaletteFromWords(map.data(), header.ColorMapLength)); break;
            default: break;
        }
    }

    const uint64_t pixels = uint64_t(header.Width) * header.Height;
    const uint32_t bytesPerPixel = (header.PixelSize + 1u) / 8;
    const bool raw = header.ImageType >= 1 && header.ImageType <= 3, rle = IsRLEType(header.ImageType);
    // Other types than these and 0 (no image data) are compressed in ways
    // this reader does not know: a blank image would pass for their content.
    if (!raw && !rle && header.ImageType != 0) RaiseGraphicErrorFmt(gsInvalidImage, gsTarga);
    if (pixels > MaxImagePixels) RaiseGraphicErrorFmt(gsInvalidImage, gsTarga);
    // Nothing is allocated for pixels the rest of the file cannot hold:
    // uncompressed rows need all their bytes, and a run-length packet of one
    // pixel value stands for at most 128 pixels. A file without image data
    // gets a blank image no larger than run-length data of its length could
    // fill.
    const uint64_t available = uint64_t(std::max<int64_t>(0, stream.Size() - stream.Position()));
    const uint64_t fileSize = uint64_t(std::max<int64_t>(0, stream.Size() - StartPosition));
    const auto packedFits = [&](uint64_t bytes) { return bytes >= (pixels + 127) / 128 * (1 + bytesPerPixel); };
    if (raw && available < pixels * bytesPerPixel) throw EReadError("Stream read error");
    if ((rle && !packedFits(available)) || (header.ImageType == 0 && !packedFits(fileSize)))
        RaiseGraphicErrorFmt(gsInvalidImage, gsTarga);
    // Raw and run-length data fill every pixel (what run-length data leaves
    // out is cleared below), rows kept in memory in the file's order; an
    // image without data is blank.
    const bool topDown = (header.ImageDescriptor & TopDownBit) != 0;
    if (raw || rle)
        SetSizeForOverwrite(header.Width, header.Height, !topDown, AlignmentPosition(stream, stream.Position()));
    else
        SetSize(header.Width, header.Height);
    if (Empty()) return;

    const uint32_t rowSize = uint32_t(header.Width) * bytesPerPixel;
    const int height = header.Height;
    const bool rightToLeft = (header.ImageDescriptor & RightToLeftBit) != 0;
    const auto bitmapRow = [&](int fileRow) { return ScanLine(topDown ? fileRow : height - 1 - fileRow); };
    const auto finishRow = [&](uint8_t* row) {
        if (grayAlpha) ExpandGrayAlpha(row, header.Width);
        if (rightToLeft) MirrorRow(row, header.Width, grayAlpha ? 4 : bytesPerPixel);
    };

    if (raw) {
        stream.ReadRows(bitmapRow(0), RowBytes(), height, rowSize);
        if (grayAlpha || rightToLeft)
            for (int i = 0; i < height; ++i) finishRow(bitmapRow(i));
    } else if (rle) {
        // The packed rows are decoded from memory: a memory stream's own
        // bytes, or one read of as many as the image could use (a packet for
        // each pixel at worst).
        const size_t packedSize = size_t(std::min<uint64_t>(available, pixels * (1 + bytesPerPixel)));
        TByteBlock buffer;
        const uint8_t* const packed = StreamBytes(stream, packedSize, buffer);
        // The decoder only reads its source.
        uint8_t* source = const_cast<uint8_t*>(packed);
        TTargaRLEDecoder decoder(header.PixelSize);
        for (int i = 0; i < height; ++i) {
            uint8_t* dest = bitmapRow(i);
            decoder.Decode(source, dest, static_cast<int32_t>(packed + packedSize - source), header.Width);
            if (const uint32_t missing = decoder.MissingPixels()) {
                // Data that ends early leaves the rest of the image blank,
                // but a file without one whole row holds no image.
                if (i == 0) RaiseGraphicErrorFmt(gsInvalidImage, gsTarga);
                std::memset(dest + (uint32_t(header.Width) - missing) * bytesPerPixel, 0, size_t(missing) * bytesPerPixel);
            }
            finishRow(dest);
        }
        stream.Seek(source - (packed + packedSize), TSeekOrigin::soCurrent);
    }
}

void TTargaGraphic::SaveToStream(TStream& stream) const {
    if (PixelFormat() == pf1bit || PixelFormat() == pf4bit) {
        TBitmap widened(*this);
        widened.SetPixelFormat(pf8bit);
        WriteTarga(widened, stream, true);
    } else {
        WriteTarga(*this, stream, true);
    }
}

void TTargaGraphic::SaveTarga(TStream& stream, bool compressed) {
    if (PixelFormat() == pf1bit || PixelFormat() == pf4bit) SetPixelFormat(pf8bit);
    WriteTarga(*this, stream, compressed);
}
