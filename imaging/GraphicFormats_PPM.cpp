// Portable bitmaps, grey maps and pixel maps: the text forms P1 to P3 and the
// binary forms P4 to P6, with maximum sample values up to 65535.
#include <algorithm>
#include <cstring>

#include "GraphicFormats.h"

namespace {

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

bool IsTextMap(uint8_t mapType) { return mapType <= 3; }

constexpr size_t DirectReadSize = 256;

// Samples of maps whose maximum is above 255 are narrowed to 8 bits the way
// the colour manager narrows 16-bit samples (a maximum of 65535 gives exactly
// its v * 255 div 65535); maps with a smaller maximum keep the stored value.
class TSampleScale {
public:
    explicit TSampleScale(uint32_t maximum) : maximum_(maximum) {}
    uint8_t operator()(uint32_t value) const {
        if (maximum_ <= 255) return static_cast<uint8_t>(value);
        return static_cast<uint8_t>(std::min(value, maximum_) * 255 / maximum_);
    }

private:
    uint32_t maximum_;
};

}  // namespace

const TGraphicClassDesc TPPMGraphic::ClassDesc = {
    "TPPMGraphic", [] { return std::unique_ptr<TGraphic>(new TPPMGraphic); }, &TPPMGraphic::ProbeStream,
    TFormatGraphic::StaticClass()};

bool TPPMGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t head[10];
    const bool answer = stream.Size() - start > static_cast<int64_t>(sizeof(head)) &&
                        stream.Read(head, sizeof(head)) == sizeof(head) && head[0] == 'P' && head[1] >= '1' &&
                        head[1] <= '6';
    stream.SetPosition(start);
    return answer;
}

bool TPPMGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    SourceStream = &stream;
    BufferIndex = BufferEnd = 0;
    mapType_ = 0;
    maximumValue_ = 0;
    TImageProperties& p = Properties;
    p.Compression = ckNone;
    if (GetCharacter() != 'P') return false;
    const uint8_t digit = GetCharacter();
    if (!IsDigit(digit)) throw EConvertError(Format("'%c' is not a valid integer value", digit));
    mapType_ = static_cast<uint8_t>(digit - '0');
    if (mapType_ < 1 || mapType_ > 6) return true;

    p.Width = GetNumber();
    p.Height = GetNumber();
    const bool bitmap = mapType_ == 1 || mapType_ == 4;
    maximumValue_ = bitmap ? 1 : GetNumber();
    const bool color = mapType_ == 3 || mapType_ == 6;
    p.BitsPerSample = bitmap ? 1 : (maximumValue_ > 255 ? 16 : 8);
    p.SamplesPerPixel = color ? 3 : 1;
    p.ColorScheme = color ? csRGB : csIndexed;
    p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
    return true;
}

void TPPMGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    StartPosition = static_cast<uint32_t>(stream.Position());
    SourceStream = &stream;
    if (!ReadProperties(stream, 0)) RaiseGraphicErrorFmt(gsInvalidImage, gsPortableMaps);
    if (mapType_ < 1 || mapType_ > 6) return;
    if (maximumValue_ == 0 || maximumValue_ > 65535) RaiseGraphicErrorFmt(gsInvalidImage, gsPortableMaps);
    CheckImageSize(Properties.Width, Properties.Height, gsPortableMaps);
    CheckDataSize();

    // The header has been read up to the pixel data, which follows at once.
    TColorManager& manager = *ColorConverter;
    manager.SourceMode = manager.TargetMode = TConversionOptions{};
    manager.SetSourceScheme(Properties.ColorScheme);
    manager.SetTargetScheme(Properties.ColorScheme == csRGB ? csBGR : csIndexed);
    manager.SetSourceSamplesPerPixel(Properties.SamplesPerPixel);
    manager.SetTargetSamplesPerPixel(Properties.SamplesPerPixel);
    // Samples reach the manager narrowed to 8 bits.
    const uint8_t bits = Properties.BitsPerSample == 1 ? 1 : 8;
    manager.SetSourceBitsPerSample(bits);
    manager.SetTargetBitsPerSample(bits);
    SetPixelFormat(manager.GetPixelFormat(1));
    if (Properties.ColorScheme == csIndexed) SetPalette(manager.CreateGrayscalePalette(bits == 1));
    SetSizeForOverwrite(static_cast<int>(Properties.Width), static_cast<int>(Properties.Height));

    if (bits == 1)
        ReadBits();
    else
        ReadSamples();
}

bool TPPMGraphic::Refill() {
    BufferIndex = 0;
    BufferEnd = static_cast<uint32_t>(std::max<int64_t>(0, SourceStream->Read(Buffer, sizeof(Buffer))));
    return BufferEnd > 0;
}

uint8_t TPPMGraphic::GetCharacter() {
    if (BufferIndex == BufferEnd && !Refill()) RaiseGraphicErrorFmt(gsStreamReadError, gsPPM);
    return Buffer[BufferIndex++];
}

uint8_t TPPMGraphic::NextDigit() {
    for (;;) {
        uint8_t c = GetCharacter();
        if (IsDigit(c)) return c;
        if (c == '#')
            while (c != '\n' && c != '\r') c = GetCharacter();
    }
}

uint32_t TPPMGraphic::GetNumber() {
    uint32_t value = NextDigit() - '0';
    // The character after the digits is consumed; the end of the data also
    // ends a number. Numbers beyond 10^9 all read as the largest value.
    while (BufferIndex < BufferEnd || Refill()) {
        const uint8_t c = Buffer[BufferIndex++];
        if (!IsDigit(c)) break;
        value = value < 100000000 ? value * 10 + (c - '0') : UINT32_MAX;
    }
    return value;
}

void TPPMGraphic::ReadBytes(uint8_t* target, size_t count) {
    while (count > 0) {
        if (BufferIndex == BufferEnd) {
            // Rows of pixel data go straight from the stream to the target;
            // only small pieces are worth a trip through the buffer.
            if (count >= DirectReadSize) {
                if (SourceStream->Read(target, static_cast<int64_t>(count)) != static_cast<int64_t>(count))
                    RaiseGraphicErrorFmt(gsStreamReadError, gsPPM);
                return;
            }
            if (!Refill()) RaiseGraphicErrorFmt(gsStreamReadError, gsPPM);
        }
        const size_t part = std::min<size_t>(count, BufferEnd - BufferIndex);
        std::memcpy(target, Buffer + BufferIndex, part);
        BufferIndex += static_cast<uint32_t>(part);
        target += part;
        count -= part;
    }
}

uint64_t TPPMGraphic::BytesLeft() const {
    return BufferEnd - BufferIndex + static_cast<uint64_t>(std::max<int64_t>(0, SourceStream->Size() - SourceStream->Position()));
}

// Binary maps must hold all their pixel bytes, text maps at least one
// character per sample, before anything is allocated for the image.
void TPPMGraphic::CheckDataSize() const {
    const uint64_t width = Properties.Width, height = Properties.Height;
    const uint64_t samples = width * height * Properties.SamplesPerPixel;
    uint64_t needed = samples;
    if (mapType_ == 4) needed = (width + 7) / 8 * height;
    if (mapType_ == 5 || mapType_ == 6) needed = samples * (maximumValue_ > 255 ? 2 : 1);
    if (needed > BytesLeft()) RaiseGraphicErrorFmt(gsInvalidImage, gsPortableMaps);
}

// Bitmaps: 1 is black, which the inverted grey palette shows as such, so the
// bits are stored as they come. Each text digit is one pixel.
// Binary rows that fill their scan lines exactly lie back to back in the file
// and in the bitmap: one read takes them all.
bool TPPMGraphic::ReadRowsAtOnce(size_t rowBytes) {
    if (size_t(RowBytes()) != rowBytes) return false;
    ReadBytes(ScanLine(0), rowBytes * Properties.Height);
    return true;
}

void TPPMGraphic::ReadBits() {
    const uint32_t width = Properties.Width;
    const int height = static_cast<int>(Properties.Height);
    if (!IsTextMap(mapType_) && ReadRowsAtOnce((width + 7) / 8)) return;
    for (int y = 0; y < height; ++y) {
        uint8_t* line = ScanLine(y);
        if (!IsTextMap(mapType_)) {
            ReadBytes(line, (width + 7) / 8);
            continue;
        }
        uint8_t byte = 0;
        for (uint32_t x = 0; x < width; ++x) {
            byte = static_cast<uint8_t>(byte << 1 | (NextDigit() & 1));
            if (x % 8 == 7) line[x / 8] = byte;
        }
        if (width % 8 != 0) line[width / 8] = static_cast<uint8_t>(byte << (8 - width % 8));
    }
}

void TPPMGraphic::ReadRowSamples(uint8_t* target, size_t count, std::vector<uint8_t>& wide) {
    const TSampleScale scale(maximumValue_);
    if (IsTextMap(mapType_)) {
        for (size_t i = 0; i < count; ++i) target[i] = scale(GetNumber());
    } else if (maximumValue_ <= 255) {
        ReadBytes(target, count);
    } else {
        ReadBytes(wide.data(), 2 * count);
        for (size_t i = 0; i < count; ++i) target[i] = scale(uint32_t(wide[2 * i]) << 8 | wide[2 * i + 1]);
    }
}

// Grey levels go straight into the 8-bit rows; colours are gathered as red,
// green, blue and stored as blue, green, red by the colour manager.
void TPPMGraphic::ReadSamples() {
    const uint32_t width = Properties.Width;
    const int height = static_cast<int>(Properties.Height);
    const size_t rowSamples = size_t(width) * Properties.SamplesPerPixel;
    const bool color = Properties.SamplesPerPixel == 3;
    if (!color && !IsTextMap(mapType_) && maximumValue_ <= 255 && ReadRowsAtOnce(width)) return;
    std::vector<uint8_t> rgb(color ? rowSamples : 0);
    std::vector<uint8_t> wide(!IsTextMap(mapType_) && maximumValue_ > 255 ? 2 * rowSamples : 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* line = ScanLine(y);
        ReadRowSamples(color ? rgb.data() : line, rowSamples, wide);
        if (color) ColorConverter->ConvertRow({rgb.data()}, line, width, 0xFF);
    }
}
