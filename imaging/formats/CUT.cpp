// Dr. Halo CUT images: 8-bit palette indices, run-length coded row by row,
// with the palette in a ".pal" file beside the image.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "GraphicFormats.h"

namespace {

constexpr int64_t HeaderSize = 6;
// The shortest row: its length word, one run packet per 127 pixels and the
// end byte.
constexpr int64_t RowOverhead = 3;
constexpr int64_t PixelsPerRun = 127;

constexpr int64_t PaletteBlockSize = 512;
constexpr int64_t PaletteEntrySize = 6;
constexpr int64_t HighestIndexOffset = 12;
constexpr int64_t LargestValuesOffset = 14;  // of red, green and blue
constexpr int64_t FirstEntryOffset = 40;

uint16_t LittleEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// A palette component brought from 0..largest to 0..255, rounded as
// ImageMagick rounds it (VGA palettes count up to 63). Components of
// palettes up to 255 are the low byte of their word; a largest value of 0
// leaves the byte as it is.
class TComponentScale {
public:
    explicit TComponentScale(uint16_t largest) : largest_(largest) {}
    uint8_t operator()(const uint8_t* word) const {
        if (largest_ == 0 || largest_ == 255) return word[0];
        const uint32_t value = std::min<uint32_t>(largest_ < 256 ? word[0] : LittleEndian16(word), largest_);
        return static_cast<uint8_t>((value * 255 + largest_ / 2) / largest_);
    }

private:
    uint32_t largest_;
};

TLogPalette GrayRamp() {
    TLogPalette palette;
    palette.palPalEntry.resize(256);
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        palette.palPalEntry[i] = {v, v, v, 0};
    }
    return palette;
}

}  // namespace

// The class cannot tell its files: the picture lets it read a ".cut" file
// before asking the other classes about the content.
const TGraphicClassDesc TCUTGraphic::ClassDesc = {
    "TCUTGraphic", [] { return std::unique_ptr<TGraphic>(new TCUTGraphic); }, nullptr, TFormatGraphic::StaticClass()};

bool TCUTGraphic::ProbeStream(TStream&) { return false; }

void TCUTGraphic::LoadFromOpenFile(TStream& stream, const std::string& fileName) {
    PaletteFile = ChangeFileExt(fileName, ".pal");
    // Files from DOS machines often carry upper-case names.
    if (!FileExists(PaletteFile) && FileExists(ChangeFileExt(fileName, ".PAL")))
        PaletteFile = ChangeFileExt(fileName, ".PAL");
    TFormatGraphic::LoadFromOpenFile(stream, fileName);
}

bool TCUTGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    SetPixelFormat(pf8bit);
    uint8_t header[4];
    stream.ReadBuffer(header, sizeof(header));

    TImageProperties& p = Properties;
    p.Width = LittleEndian16(header);
    p.Height = LittleEndian16(header + 2);
    p.ColorScheme = csIndexed;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
    p.BitsPerPixel = 8;
    p.Compression = ckRLE;
    return true;
}

// Entries are 6 bytes (red, green, blue as 16-bit values) that never
// straddle a 512-byte block, each component scaled by the largest value the
// header gives for it. Entries the file does not hold keep their grey.
TLogPalette TCUTGraphic::LoadPalette() const {
    TLogPalette palette = GrayRamp();
    if (PaletteFile.empty() || !FileExists(PaletteFile)) return palette;

    TFileStream file(PaletteFile, TFileStream::fmOpenRead);
    uint8_t block[PaletteBlockSize];
    int64_t blockBytes = file.Read(block, PaletteBlockSize);
    if (blockBytes < HighestIndexOffset + 2) return palette;
    const uint32_t count = std::min<uint32_t>(LittleEndian16(block + HighestIndexOffset) + 1u, 256);
    palette.palPalEntry.resize(count);
    const auto largest = [&](int component) {
        const int64_t at = LargestValuesOffset + 2 * component;
        return TComponentScale(at + 2 <= blockBytes ? LittleEndian16(block + at) : 255);
    };
    const TComponentScale red = largest(0), green = largest(1), blue = largest(2);

    int64_t offset = FirstEntryOffset;
    for (TPaletteEntry& entry : palette.palPalEntry) {
        if (offset > PaletteBlockSize - PaletteEntrySize) {
            blockBytes = file.Read(block, PaletteBlockSize);
            offset = 0;
        }
        if (offset + PaletteEntrySize > blockBytes) break;
        entry = {red(block + offset), green(block + offset + 2), blue(block + offset + 4), 0};
        offset += PaletteEntrySize;
    }
    return palette;
}

void TCUTGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    StartPosition = static_cast<uint32_t>(stream.Position());
    ReadProperties(stream, 0);

    const uint32_t width = Properties.Width, height = Properties.Height;
    CheckImageSize(width, height, gsCUT);
    const int64_t dataSize = stream.Size() - (int64_t(StartPosition) + HeaderSize);
    const int64_t shortestRow = RowOverhead + 2 * ((width + PixelsPerRun - 1) / PixelsPerRun);
    if (dataSize < shortestRow * height) RaiseGraphicErrorFmt(gsInvalidImage, gsCUT);

    stream.SetPosition(int64_t(StartPosition) + HeaderSize);
    SetPixelFormat(pf8bit);
    SetPalette(LoadPalette());
    SetSize(int(width), int(height));

    const auto data = std::make_unique_for_overwrite<uint8_t[]>(size_t(dataSize));
    stream.ReadBuffer(data.get(), dataSize);
    uint8_t* source = data.get();
    uint8_t* const end = data.get() + dataSize;
    TCUTRLEDecoder decoder;
    for (uint32_t y = 0; y < height && source < end; ++y) {
        // Writers differ on whether a row's length counts its own two
        // bytes; either way it must stay inside the data.
        if (end - source < 2 || LittleEndian16(source) > end - source) RaiseGraphicErrorFmt(gsInvalidImage, gsCUT);
        uint8_t* dest = ScanLine(int(y));
        const auto available = static_cast<int32_t>(std::min<int64_t>(end - source, INT32_MAX));
        decoder.Decode(source, dest, available, static_cast<int32_t>(width));
    }
}
