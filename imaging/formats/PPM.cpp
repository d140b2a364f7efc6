// Portable bitmaps, grey maps and pixel maps: the text forms P1 to P3, the
// binary forms P4 to P6 and the arbitrary maps (PAM, P7) of grey, grey and
// alpha, RGB and RGB and alpha tuples, with maximum sample values up to 65535.
#include <algorithm>
#include <cstring>

#include "GraphicFormats.h"

namespace {

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

bool IsTextMap(uint8_t mapType) { return mapType <= 3; }

constexpr uint8_t ArbitraryMap = 7;

// Samples are scaled from 0..maximum to 0..255 the way the colour manager
// narrows 16-bit samples (v * 255 div maximum, so 65535 gives exactly its
// v * 255 div 65535): a map of maximum 15 or 1 is as bright as one of 255.
// Values above the maximum count as the maximum.
class TSampleScale {
public:
    explicit TSampleScale(uint32_t maximum) : maximum_(maximum) {
        if (maximum_ > 255) return;
        for (uint32_t v = 0; v < 256; ++v) byteTable_[v] = static_cast<uint8_t>(std::min(v, maximum_) * 255 / maximum_);
    }
    uint8_t operator()(uint32_t value) const {
        if (maximum_ <= 255) return byteTable_[std::min(value, 255u)];
        return static_cast<uint8_t>(std::min(value, maximum_) * 255 / maximum_);
    }

private:
    uint32_t maximum_;
    uint8_t byteTable_[256] = {};
};

// The samples of one PAM tuple type; 0 for types this reader does not show.
// Black and white tuples are grey levels of maximum 1 (0 is black).
uint32_t TupleSamples(const std::string& tupleType) {
    if (tupleType == "BLACKANDWHITE" || tupleType == "GRAYSCALE") return 1;
    if (tupleType == "BLACKANDWHITE_ALPHA" || tupleType == "GRAYSCALE_ALPHA") return 2;
    if (tupleType == "RGB") return 3;
    if (tupleType == "RGB_ALPHA") return 4;
    return 0;
}

constexpr const char* Blanks = " \t";

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(Blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

// A PAM header value: a decimal number of at most nine digits, else 0.
uint32_t HeaderValue(const std::string& text) {
    const std::string digits = Trimmed(text);
    if (digits.empty() || digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](char c) {
            return IsDigit(uint8_t(c));
        }))
        return 0;
    return static_cast<uint32_t>(std::stoul(digits));
}

}  // namespace

const TGraphicClassDesc TPPMGraphic::ClassDesc = {
    "TPPMGraphic", [] { return std::unique_ptr<TGraphic>(new TPPMGraphic); }, &TPPMGraphic::ProbeStream,
    TFormatGraphic::StaticClass()};

bool TPPMGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t head[10];
    // "P7" followed by anything but a line end is an XV thumbnail, no PAM.
    const bool answer = stream.Size() - start > static_cast<int64_t>(sizeof(head)) &&
                        stream.Read(head, sizeof(head)) == sizeof(head) && head[0] == 'P' && head[1] >= '1' &&
                        (head[1] <= '6' || (head[1] == '7' && (head[2] == '\n' || head[2] == '\r')));
    stream.SetPosition(start);
    return answer;
}

bool TPPMGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    SourceStream = &stream;
    BufferIndex = BufferEnd = 0;
    refillBytes_ = FirstRefillBytes;
    mapType_ = 0;
    maximumValue_ = 0;
    TImageProperties& p = Properties;
    p.Compression = ckNone;
    if (GetCharacter() != 'P') return false;
    const uint8_t digit = GetCharacter();
    if (!IsDigit(digit)) throw EConvertError(Format("'%c' is not a valid integer value", digit));
    mapType_ = static_cast<uint8_t>(digit - '0');
    if (mapType_ == ArbitraryMap) return ReadArbitraryMapHeader();
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

// Lines of a keyword and its value up to "ENDHDR"; "#" lines are comments.
// The tuple type names what the samples are; without one the depth tells.
// Keywords this reader does not use are passed over, as ImageMagick does.
bool TPPMGraphic::ReadArbitraryMapHeader() {
    if (!Trimmed(GetLine()).empty()) return false;  // "P7 332": an XV thumbnail
    uint32_t depth = 0;
    std::string tupleType;
    for (;;) {
        const std::string line = GetLine();
        const size_t start = line.find_first_not_of(Blanks);
        if (start == std::string::npos || line[start] == '#') continue;
        const size_t end = std::min(line.find_first_of(Blanks, start), line.size());
        const std::string keyword = line.substr(start, end - start), value = line.substr(end);
        if (keyword == "ENDHDR") break;
        if (keyword == "WIDTH") Properties.Width = HeaderValue(value);
        if (keyword == "HEIGHT") Properties.Height = HeaderValue(value);
        if (keyword == "DEPTH") depth = HeaderValue(value);
        if (keyword == "MAXVAL") maximumValue_ = HeaderValue(value);
        if (keyword == "TUPLTYPE") tupleType = Trimmed(value);
    }
    const uint32_t samples = tupleType.empty() ? depth : TupleSamples(tupleType);
    if (samples == 0 || samples > 4 || samples != depth) return false;

    TImageProperties& p = Properties;
    static constexpr TColorScheme Schemes[] = {csIndexed, csGrayAlpha, csRGB, csRGBA};
    p.ColorScheme = Schemes[samples - 1];
    p.HasAlpha = samples == 2 || samples == 4;
    p.SamplesPerPixel = static_cast<uint8_t>(samples);
    p.BitsPerSample = maximumValue_ > 255 ? 16 : 8;
    p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
    return true;
}

// Lines end with a line feed, as netpbm reads them; carriage returns are
// dropped. Lines longer than any keyword and value are cut, the rest of the
// line read past.
std::string TPPMGraphic::GetLine() {
    constexpr size_t LongestLine = 256;
    std::string line;
    for (uint8_t c = GetCharacter(); c != '\n'; c = GetCharacter())
        if (c != '\r' && line.size() < LongestLine) line += static_cast<char>(c);
    return line;
}

void TPPMGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    StartPosition = static_cast<uint32_t>(stream.Position());
    SourceStream = &stream;
    // A map type without a layout would load as an empty picture that looks
    // like a success.
    if (!ReadProperties(stream, 0) || mapType_ < 1 || mapType_ > ArbitraryMap)
        RaiseGraphicErrorFmt(gsInvalidImage, gsPortableMaps);
    if (maximumValue_ == 0 || maximumValue_ > 65535) RaiseGraphicErrorFmt(gsInvalidImage, gsPortableMaps);
    CheckImageSize(Properties.Width, Properties.Height, gsPortableMaps);
    CheckDataSize();

    // The header has been read up to the pixel data, which follows at once.
    // Samples reach the manager narrowed to 8 bits, grey and alpha pairs
    // spread to red, green, blue and alpha.
    const TColorScheme scheme = Properties.ColorScheme == csGrayAlpha ? csRGBA : Properties.ColorScheme;
    const uint8_t samples = scheme == csRGBA ? 4 : Properties.SamplesPerPixel;
    const uint8_t bits = Properties.BitsPerSample == 1 ? 1 : 8;
    TColorManager& manager = *ColorConverter;
    manager.SourceMode = manager.TargetMode = TConversionOptions{};
    manager.SetSourceScheme(scheme);
    manager.SetTargetScheme(scheme == csRGB ? csBGR : (scheme == csRGBA ? csBGRA : csIndexed));
    manager.SetSourceSamplesPerPixel(samples);
    manager.SetTargetSamplesPerPixel(samples);
    manager.SetSourceBitsPerSample(bits);
    manager.SetTargetBitsPerSample(bits);
    SetPixelFormat(manager.GetPixelFormat(1));
    if (scheme == csIndexed) SetPalette(manager.CreateGrayscalePalette(bits == 1));
    // The pixel data starts where the header reading got to.
    SetSizeForOverwrite(static_cast<int>(Properties.Width), static_cast<int>(Properties.Height), false,
                        AlignmentPosition(*SourceStream, SourceStream->Position() - int64_t(BufferEnd - BufferIndex)));

    if (bits == 1)
        ReadBits();
    else
        ReadSamples();
}

// Reads start at a header's size and double up to the whole buffer: binary
// pixels are read past the buffer, so bytes buffered behind a header are
// copied for nothing, while text pixels come through the buffer.
bool TPPMGraphic::Refill() {
    BufferIndex = 0;
    BufferEnd = static_cast<uint32_t>(std::max<int64_t>(0, SourceStream->Read(Buffer, refillBytes_)));
    refillBytes_ = std::min<uint32_t>(2 * refillBytes_, sizeof(Buffer));
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
    // ends a number. Numbers beyond 10^9 all read as the largest value. A
    // "#" right after the digits starts a comment, which runs to the end of
    // its line as anywhere else.
    while (BufferIndex < BufferEnd || Refill()) {
        uint8_t c = Buffer[BufferIndex++];
        if (c == '#')
            while (c != '\n' && c != '\r') c = GetCharacter();
        if (!IsDigit(c)) break;
        value = value < 100000000 ? value * 10 + (c - '0') : UINT32_MAX;
    }
    return value;
}

// Binary pixel data is read straight from the stream: the bytes the header
// reading buffered go back to it first.
void TPPMGraphic::ReleaseBuffer() {
    SourceStream->Seek(-int64_t(BufferEnd - BufferIndex), TSeekOrigin::soCurrent);
    BufferIndex = BufferEnd = 0;
}

void TPPMGraphic::ReadBytes(uint8_t* target, size_t count) {
    if (SourceStream->Read(target, static_cast<int64_t>(count)) != static_cast<int64_t>(count))
        RaiseGraphicErrorFmt(gsStreamReadError, gsPPM);
}

// The next count stored bytes: where they lie in a memory stream's data,
// read into buffer from any other stream.
const uint8_t* TPPMGraphic::StoredBytes(size_t count, TByteBlock& buffer) {
    if (auto* memory = dynamic_cast<TMemoryStream*>(SourceStream)) {
        const int64_t position = memory->Position();
        memory->Seek(static_cast<int64_t>(count), TSeekOrigin::soCurrent);
        return memory->Memory() + position;
    }
    buffer.resize(count);
    ReadBytes(buffer.data(), count);
    return buffer.data();
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
    if (mapType_ >= 5) needed = samples * (maximumValue_ > 255 ? 2 : 1);
    if (needed > BytesLeft()) RaiseGraphicErrorFmt(gsInvalidImage, gsPortableMaps);
}

// Binary rows that fill their scan lines exactly lie back to back in the file
// and in the bitmap: one read takes them all.
bool TPPMGraphic::ReadRowsAtOnce(size_t rowBytes) {
    if (size_t(RowBytes()) != rowBytes) return false;
    ReadBytes(ScanLine(0), rowBytes * Properties.Height);
    return true;
}

// Binary colour rows that fill their scan lines exactly lie back to back in
// the file and in the bitmap: a run of them is converted in one call, which
// spares each row the call's set-up. From a memory stream the run converts
// from the stream's own bytes; from any other it is read straight into its
// scan lines and converted there while it is still in the cache, so that
// the bitmap's memory is the only buffer the pixels pass through.
bool TPPMGraphic::ConvertRowsAtOnce(size_t rowBytes) {
    if (size_t(RowBytes()) != rowBytes) return false;
    // Runs of 256 KiB: each read from a file costs the kernel a set-up
    // that shows against much shorter runs, and the exchange of a run that
    // outgrows the processor's own cache costs a third more.
    constexpr size_t RunBytes = size_t(256) << 10;
    const uint32_t run = uint32_t(std::max<size_t>(1, RunBytes / rowBytes));
    const bool inMemory = dynamic_cast<TMemoryStream*>(SourceStream) != nullptr;
    TByteBlock stored;
    for (uint32_t y = 0; y < Properties.Height; y += run) {
        const uint32_t rows = std::min(run, Properties.Height - y);
        uint8_t* const lines = ScanLine(int(y));
        const size_t bytes = size_t(rows) * rowBytes;
        const uint8_t* source = lines;
        if (inMemory)
            source = StoredBytes(bytes, stored);
        else
            ReadBytes(lines, bytes);
        // The red and blue exchange reads each pixel before it writes it.
        ColorConverter->ConvertRow({source}, lines, Properties.Width * rows, 0xFF);
    }
    return true;
}

// Bitmaps: 1 is black, which the inverted grey palette shows as such, so the
// bits are stored as they come. Each text digit is one pixel.
void TPPMGraphic::ReadBits() {
    const uint32_t width = Properties.Width;
    const int height = static_cast<int>(Properties.Height);
    const bool text = IsTextMap(mapType_);
    if (!text) {
        ReleaseBuffer();
        if (ReadRowsAtOnce((width + 7) / 8)) return;
    }
    for (int y = 0; y < height; ++y) {
        uint8_t* line = ScanLine(y);
        if (!text) {
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

// Grey levels go straight into the 8-bit rows; colours are scaled into a
// row of their own (or used as stored) and then stored as blue, green, red
// (and alpha) by the colour manager.
void TPPMGraphic::ReadSamples() {
    const uint32_t width = Properties.Width;
    const int height = static_cast<int>(Properties.Height);
    const uint32_t stored = Properties.SamplesPerPixel;
    const size_t count = size_t(width) * stored;
    const bool text = IsTextMap(mapType_), scaled = maximumValue_ != 255;
    if (!text) {
        ReleaseBuffer();
        if (!scaled && stored == 1 && ReadRowsAtOnce(width)) return;
        if (!scaled && stored >= 3 && ConvertRowsAtOnce(count)) return;
    }
    const TSampleScale scale(maximumValue_);
    const bool direct = stored == 1;
    TByteBlock bytes;
    // Grey and alpha pairs are spread to four samples within the row.
    std::vector<uint8_t> row(direct ? 0 : size_t(width) * (stored == 2 ? 4 : stored));
    for (int y = 0; y < height; ++y) {
        uint8_t* line = ScanLine(y);
        uint8_t* target = direct ? line : row.data();
        const uint8_t* samples = target;
        if (text) {
            for (size_t i = 0; i < count; ++i) target[i] = scale(GetNumber());
        } else if (maximumValue_ > 255) {
            const uint8_t* pairs = StoredBytes(2 * count, bytes);
            for (size_t i = 0; i < count; ++i) target[i] = scale(uint32_t(pairs[2 * i]) << 8 | pairs[2 * i + 1]);
        } else if (scaled || stored == 2) {
            const uint8_t* values = StoredBytes(count, bytes);
            for (size_t i = 0; i < count; ++i) target[i] = scale(values[i]);
        } else if (!direct) {
            samples = StoredBytes(count, bytes);
        } else {
            ReadBytes(line, count);
        }
        if (stored == 2) ExpandGrayAlpha(target, width);
        if (!direct) ColorConverter->ConvertRow({samples}, line, width, 0xFF);
    }
}
