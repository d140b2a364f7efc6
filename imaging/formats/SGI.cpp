// SGI images: raw or run-length encoded, one to four channels of 8 or 16 bits
// per sample, stored channel after channel with rows from the bottom up.
#include <algorithm>
#include <bit>
#include <cstring>

#include "GraphicFormats.h"

namespace {

constexpr int64_t HeaderSize = 512;
constexpr uint16_t SGIMagic = 474;

uint16_t BigEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

struct TSGIHeader {
    uint16_t Magic = 0;
    uint8_t Storage = 0;  // 1: run-length encoded, otherwise raw
    uint8_t BytesPerSample = 0;
    uint16_t Dimension = 0;
    uint16_t XSize = 0, YSize = 0, ZSize = 0;
    std::string ImageName;
};

// False when the stream ends before the whole header.
bool ReadHeader(TStream& stream, TSGIHeader& header) {
    uint8_t raw[HeaderSize];
    if (stream.Read(raw, HeaderSize) != HeaderSize) return false;
    header.Magic = BigEndian16(raw);
    header.Storage = raw[2];
    header.BytesPerSample = raw[3];
    header.Dimension = BigEndian16(raw + 4);
    header.XSize = BigEndian16(raw + 6);
    header.YSize = BigEndian16(raw + 8);
    header.ZSize = BigEndian16(raw + 10);
    const char* name = reinterpret_cast<const char*>(raw + 24);
    header.ImageName.assign(name, strnlen(name, 80));
    return true;
}

// The most samples packed bytes can stand for: runs of at most 127 samples,
// each a control item and one value item.
uint64_t MostPackedSamples(uint64_t packedBytes, uint32_t bytesPerSample) {
    return packedBytes / bytesPerSample / 2 * 127;
}

}  // namespace

const TGraphicClassDesc TSGIGraphic::ClassDesc = {
    "TSGIGraphic", [] { return std::unique_ptr<TGraphic>(new TSGIGraphic); }, &TSGIGraphic::ProbeStream,
    TFormatGraphic::StaticClass()};

TSGIGraphic::TSGIGraphic() = default;

TSGIGraphic::~TSGIGraphic() = default;

bool TSGIGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    TSGIHeader header;
    const bool answer = stream.Size() - start > HeaderSize && ReadHeader(stream, header) &&
                        header.Magic == SGIMagic && (header.BytesPerSample == 1 || header.BytesPerSample == 2) &&
                        header.Dimension >= 1 && header.Dimension <= 3;
    stream.SetPosition(start);
    return answer;
}

bool TSGIGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    TSGIHeader header;
    if (!ReadHeader(stream, header) || header.Magic != SGIMagic) return false;
    dimension_ = header.Dimension;
    imageName_ = header.ImageName;

    TImageProperties& p = Properties;
    p.Flags = ifBigEndian;
    p.BitsPerSample = static_cast<uint8_t>(8 * header.BytesPerSample);
    p.Width = header.XSize;
    p.Height = header.YSize;
    p.SamplesPerPixel = static_cast<uint8_t>(header.ZSize);
    p.ColorScheme = p.SamplesPerPixel == 3 ? csRGB : (p.SamplesPerPixel == 4 ? csRGBA : csIndexed);
    p.HasAlpha = p.ColorScheme == csRGBA;
    p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
    p.Compression = header.Storage == 1 ? ckRLE : ckNone;
    return true;
}

void TSGIGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    SourceStream = &stream;
    StartPosition = static_cast<uint32_t>(stream.Position());
    if (!ReadProperties(stream, 0)) RaiseGraphicErrorFmt(gsInvalidImage, gsSGI);
    stream.SetPosition(StartPosition);
    TSGIHeader header;
    ReadHeader(stream, header);
    if ((header.BytesPerSample != 1 && header.BytesPerSample != 2) || header.ZSize < 1 || header.ZSize > 4)
        RaiseGraphicErrorFmt(gsInvalidImage, gsSGI);
    CheckImageSize(Properties.Width, Properties.Height, gsSGI);
    streamSize_ = stream.Size() - StartPosition;

    const bool runLength = Properties.Compression == ckRLE;
    const auto finish = [this] {
        if (Decoder) Decoder->EndDecode();
        Decoder.reset();
        packedRow_ = {};
        RowStart = {};
        RowSize = {};
    };
    try {
        if (runLength)
            ReadRowTables();
        else
            CheckDataSize();
        SetupColorConversion();
        SetSizeForOverwrite(static_cast<int>(Properties.Width), static_cast<int>(Properties.Height));
        if (runLength) {
            Decoder = std::make_unique<TSGIRLEDecoder>(Properties.BitsPerSample);
            Decoder->BeginDecode();
        }
        ReadRows();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

// The tables must lie in the stream, every row they name too, and the rows
// they name must be able to hold the image at the best packing the runs
// allow. Several rows may name the same packed bytes (writers store a
// repeated row once), so each row counts what its own bytes could hold.
void TSGIGraphic::ReadRowTables() {
    const uint32_t count = Properties.Height * Properties.SamplesPerPixel;
    const uint32_t bytesPerSample = Properties.BitsPerSample / 8;
    if (HeaderSize + 8 * uint64_t(count) > uint64_t(streamSize_)) RaiseGraphicErrorFmt(gsInvalidImage, gsSGI);

    RowStart.resize(count);
    RowSize.resize(count);
    SourceStream->SetPosition(int64_t(StartPosition) + HeaderSize);
    SourceStream->ReadBuffer(RowStart.data(), 4 * int64_t(count));
    SourceStream->ReadBuffer(RowSize.data(), 4 * int64_t(count));
    static_assert(std::endian::native == std::endian::little, "the row tables are big-endian");
    SwapLongs(RowStart.data(), count);
    SwapLongs(RowSize.data(), count);

    size_t longest = 0;
    uint64_t samples = 0;
    for (uint32_t k = 0; k < count; ++k) {
        if (RowStart[k] > streamSize_ || RowSize[k] > streamSize_ - RowStart[k])
            RaiseGraphicErrorFmt(gsInvalidImage, gsSGI);
        longest = std::max(longest, PackedRowSize(k));
        samples += MostPackedSamples(PackedRowSize(k), bytesPerSample);
    }
    if (samples < uint64_t(Properties.Width) * count) RaiseGraphicErrorFmt(gsInvalidImage, gsSGI);
    packedRow_.resize(longest);
}

// Raw files hold every row of every channel.
void TSGIGraphic::CheckDataSize() const {
    const uint64_t data = uint64_t(Properties.Width) * Properties.Height * Properties.SamplesPerPixel *
                          (Properties.BitsPerSample / 8);
    if (HeaderSize + data > uint64_t(streamSize_)) RaiseGraphicErrorFmt(gsInvalidImage, gsSGI);
}

// Colour images are converted from their channel planes; one- and
// two-channel images load as grey levels from their first channel, 16-bit
// samples narrowed by the colour manager.
void TSGIGraphic::SetupColorConversion() {
    TColorManager& manager = *ColorConverter;
    const TColorScheme scheme = Properties.ColorScheme;
    const uint8_t samples = scheme == csIndexed ? 1 : Properties.SamplesPerPixel;
    manager.SourceMode = cvByteSwap;
    manager.TargetMode = TConversionOptions{};
    manager.SetSourceBitsPerSample(Properties.BitsPerSample);
    manager.SetTargetBitsPerSample(8);
    manager.SetSourceSamplesPerPixel(samples);
    manager.SetTargetSamplesPerPixel(samples);
    manager.SetSourceScheme(scheme);
    manager.SetTargetScheme(scheme == csRGB ? csBGR : (scheme == csRGBA ? csBGRA : csIndexed));
    SetPixelFormat(manager.GetPixelFormat(1));
    if (scheme == csIndexed) SetPalette(manager.CreateGrayscalePalette(false));
}

void TSGIGraphic::ReadRows() {
    const uint32_t width = Properties.Width, height = Properties.Height;
    const uint32_t planes = Properties.ColorScheme == csIndexed ? 1 : Properties.SamplesPerPixel;
    const size_t rowBytes = size_t(width) * (Properties.BitsPerSample / 8);
    // 8-bit grey rows are read straight into the bitmap.
    const bool direct = planes == 1 && Properties.BitsPerSample == 8;
    std::vector<uint8_t> buffers(direct ? 0 : planes * rowBytes);
    uint8_t* channels[4] = {};
    const void* sources[4] = {};
    for (uint32_t c = 0; c < planes && !direct; ++c) sources[c] = channels[c] = buffers.data() + c * rowBytes;

    for (uint32_t i = 0; i < height; ++i) {
        uint8_t* line = ScanLine(static_cast<int>(height - 1 - i));
        if (direct) channels[0] = line;
        ReadRow(i, channels);
        if (!direct) ColorConverter->ConvertRow(TColorManager::TSourceRows(sources, planes), line, width, 0xFF);
    }
}

void TSGIGraphic::ReadRow(uint32_t row, uint8_t* const (&channels)[4]) {
    for (uint32_t c = 0; c < 4; ++c)
        if (channels[c]) ReadChannelRow(row, c, channels[c]);
}

size_t TSGIGraphic::PackedRowSize(uint32_t entry) const {
    // The table counts bytes; reading as many samples is harmless since the
    // decoder stops at the row's end marker, but never past the stream.
    const uint64_t samples = uint64_t(RowSize[entry]) * (Properties.BitsPerSample / 8);
    return static_cast<size_t>(std::min<uint64_t>(samples, uint64_t(streamSize_) - RowStart[entry]));
}

void TSGIGraphic::ReadChannelRow(uint32_t row, uint32_t channel, uint8_t* target) {
    const uint32_t rowBytes = Properties.Width * (Properties.BitsPerSample / 8);
    const uint64_t entry = uint64_t(channel) * Properties.Height + row;
    if (!Decoder) {
        SourceStream->SetPosition(int64_t(StartPosition) + HeaderSize + int64_t(entry * rowBytes));
        SourceStream->ReadBuffer(target, rowBytes);
        return;
    }
    const size_t packed = PackedRowSize(static_cast<uint32_t>(entry));
    SourceStream->SetPosition(int64_t(StartPosition) + RowStart[entry]);
    SourceStream->ReadBuffer(packedRow_.data(), static_cast<int64_t>(packed));
    // A row that ends early is black from there on.
    std::memset(target, 0, rowBytes);
    uint8_t* source = packedRow_.data();
    uint8_t* dest = target;
    Decoder->Decode(source, dest, static_cast<int32_t>(packed), static_cast<int32_t>(rowBytes));
}
