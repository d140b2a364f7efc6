// Alias/Wavefront RLA images: red, green and blue channels and an optional
// matte, each row of each channel run-length coded on its own, reached
// through a table of row offsets.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "GraphicFormats.h"

namespace {

constexpr int64_t HeaderSize = 740;
// 3ds Max writes 0xFFFD from release 3.1 on, for RLA and RPF alike.
constexpr uint16_t CurrentRevision = 0xFFFE, MaxRevision = 0xFFFD;
// The longest run one two-byte packet describes.
constexpr int64_t LongestRun = 128;

int16_t BigEndian16(const uint8_t* p) { return static_cast<int16_t>(p[0] << 8 | p[1]); }
uint32_t BigEndian32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// A text field up to its first zero byte.
std::string HeaderText(const uint8_t* p, size_t size) {
    return std::string(reinterpret_cast<const char*>(p), std::find(p, p + size, 0) - p);
}

// The header fields this reader uses.
struct TRLAHeader {
    int16_t ActiveLeft, ActiveRight, ActiveBottom, ActiveTop;
    int16_t ColorChannels, MatteChannels;
    uint16_t Revision;
    std::string Gamma;
    std::string ChannelSpace;  // lower case
    int16_t ColorBits, MatteBits;

    static TRLAHeader Read(TStream& stream) {
        uint8_t bytes[HeaderSize];
        stream.ReadBuffer(bytes, HeaderSize);
        TRLAHeader h;
        h.ActiveLeft = BigEndian16(bytes + 8);
        h.ActiveRight = BigEndian16(bytes + 10);
        h.ActiveBottom = BigEndian16(bytes + 12);
        h.ActiveTop = BigEndian16(bytes + 14);
        h.ColorChannels = BigEndian16(bytes + 20);
        h.MatteChannels = BigEndian16(bytes + 22);
        h.Revision = static_cast<uint16_t>(BigEndian16(bytes + 26));
        h.Gamma = HeaderText(bytes + 28, 16);
        h.ChannelSpace = LowerCase(HeaderText(bytes + 580, 32));
        h.ColorBits = BigEndian16(bytes + 658);
        h.MatteBits = BigEndian16(bytes + 662);
        return h;
    }
};

bool IsSampleDepth(int bits) { return bits >= 1 && bits <= 16; }

// One channel of the current row: its packed record unpacked and its samples
// brought to the depth (8 or 16 bits) the colour manager converts from.
// Samples of more than 8 bits are stored as two byte planes, the most
// significant bytes of the row first.
class TRLAChannel {
public:
    TRLAChannel(uint32_t width, uint32_t bits, uint32_t depth)
        : width_(width), bits_(bits), depth_(depth), raw_(size_t(width) * BytesPerSample(bits)),
          samples_(IsPassThrough() ? 0 : size_t(width) * depth / 8) {}

    static uint32_t BytesPerSample(uint32_t bits) { return bits > 8 ? 2 : 1; }

    // The fewest bytes a row of this channel takes in the file.
    int64_t ShortestRecord() const {
        return 2 + 2 * ((int64_t(raw_.size()) + LongestRun - 1) / LongestRun);
    }

    void Read(TStream& stream, TRLADecoder& decoder, std::vector<uint8_t>& packed) {
        uint8_t length[2];
        stream.ReadBuffer(length, 2);
        const auto packedSize = static_cast<uint16_t>(BigEndian16(length));
        stream.ReadBuffer(packed.data(), packedSize);
        std::fill(raw_.begin(), raw_.end(), 0);
        uint8_t* source = packed.data();
        uint8_t* dest = raw_.data();
        decoder.Decode(source, dest, packedSize, static_cast<int32_t>(raw_.size()));
        if (!IsPassThrough()) Scale();
    }

    const void* Samples() const { return IsPassThrough() ? raw_.data() : samples_.data(); }

private:
    bool IsPassThrough() const { return bits_ == 8 && depth_ == 8; }

    void Scale() {
        const uint32_t largestIn = (1u << bits_) - 1, largestOut = (1u << depth_) - 1;
        const bool wide = bits_ > 8;
        for (uint32_t x = 0; x < width_; ++x) {
            const uint32_t stored = wide ? uint32_t(raw_[x]) << 8 | raw_[width_ + x] : raw_[x];
            const uint32_t value = std::min(stored, largestIn) * largestOut / largestIn;
            if (depth_ == 16) {
                const auto sample = static_cast<uint16_t>(value);
                std::memcpy(samples_.data() + 2 * x, &sample, 2);
            } else {
                samples_[x] = static_cast<uint8_t>(value);
            }
        }
    }

    uint32_t width_, bits_, depth_;
    std::vector<uint8_t> raw_;
    std::vector<uint8_t> samples_;
};

}  // namespace

const TGraphicClassDesc TRLAGraphic::ClassDesc = {
    "TRLAGraphic", [] { return std::unique_ptr<TGraphic>(new TRLAGraphic); }, &TRLAGraphic::ProbeStream,
    TFormatGraphic::StaticClass()};

bool TRLAGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    bool answer = false;
    if (stream.Size() - start > HeaderSize) {
        const TRLAHeader header = TRLAHeader::Read(stream);
        answer = (header.Revision == CurrentRevision || header.Revision == MaxRevision) &&
                 (header.ChannelSpace == "rgb" || header.ChannelSpace == "xyz");
    }
    stream.SetPosition(start);
    return answer;
}

bool TRLAGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    const TRLAHeader header = TRLAHeader::Read(stream);

    TImageProperties& p = Properties;
    p.Flags = ifBigEndian;
    p.SamplesPerPixel = static_cast<uint8_t>(header.ColorChannels + (header.MatteChannels == 1 ? 1 : 0));
    p.BitsPerSample = static_cast<uint8_t>(header.ColorBits);
    p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
    if (header.ChannelSpace == "xyz") return false;
    if (header.ChannelSpace == "rgb") p.ColorScheme = header.MatteChannels > 0 ? csRGBA : csRGB;
    p.HasAlpha = p.ColorScheme == csRGBA;
    const double gamma = StrToFloatDef(header.Gamma, 1.0, '.');
    if (std::isfinite(gamma)) p.Gamma = static_cast<float>(gamma);
    p.Compression = ckRLE;
    p.Width = static_cast<uint32_t>(header.ActiveRight - header.ActiveLeft + 1);
    p.Height = static_cast<uint32_t>(std::abs(header.ActiveBottom - header.ActiveTop) + 1);
    p.RLABottomUp = header.ActiveBottom < header.ActiveTop ? 1 : 0;
    return true;
}

void TRLAGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    StartPosition = static_cast<uint32_t>(stream.Position());
    if (!ReadProperties(stream, 0)) return;
    stream.SetPosition(StartPosition);
    const TRLAHeader header = TRLAHeader::Read(stream);

    // Only red, green and blue with at most one matte, of up to 16 bits a
    // sample, are understood.
    const int matteBits = header.MatteBits == 0 ? header.ColorBits : header.MatteBits;
    const bool hasMatte = header.MatteChannels == 1;
    if (Properties.ColorScheme == csUnknown || header.ColorChannels != 3 || header.MatteChannels < 0 ||
        header.MatteChannels > 1 || !IsSampleDepth(header.ColorBits) || (hasMatte && !IsSampleDepth(matteBits)))
        RaiseGraphicErrorFmt(gsInvalidImage, gsRLA);
    const uint32_t width = Properties.Width, height = Properties.Height;
    CheckImageSize(width, height, gsRLA);

    const uint32_t depth = header.ColorBits > 8 ? 16 : 8;
    std::vector<TRLAChannel> channels(3, TRLAChannel(width, header.ColorBits, depth));
    if (hasMatte) channels.emplace_back(width, matteBits, depth);
    int64_t shortestRow = 0;
    for (const TRLAChannel& channel : channels) shortestRow += channel.ShortestRecord();
    const int64_t tableStart = int64_t(StartPosition) + HeaderSize;
    const int64_t fileEnd = stream.Size();
    if (fileEnd - tableStart < (4 + shortestRow) * height) RaiseGraphicErrorFmt(gsInvalidImage, gsRLA);

    TColorManager& manager = *ColorConverter;
    manager.SourceMode = TConversionOptions{};
    manager.TargetMode = TConversionOptions{};
    manager.SetSourceSamplesPerPixel(uint8_t(channels.size()));
    manager.SetTargetSamplesPerPixel(uint8_t(channels.size()));
    manager.SetSourceBitsPerSample(uint8_t(depth));
    manager.SetTargetBitsPerSample(8);
    manager.SetSourceScheme(Properties.ColorScheme);
    manager.SetTargetScheme(hasMatte ? csBGRA : csBGR);
    // The gamma field names the gamma the picture was made for (3ds Max
    // writes 2.2): every reader of the format shows the stored values. Only
    // a field below 1 is a file gamma as PNG's, which the display's undoes.
    if (Properties.Gamma > 0.0f && Properties.Gamma < 1.0f) {
        manager.SetGamma(Properties.Gamma, 2.2f);
        manager.TargetMode |= cvApplyGamma;
        Properties.Flags |= ifGammaCorrected;
    }
    SetPixelFormat(manager.GetPixelFormat(1));

    std::vector<uint8_t> table(size_t(height) * 4);
    stream.ReadBuffer(table.data(), int64_t(table.size()));
    std::vector<int64_t> offsets(height);
    for (uint32_t i = 0; i < height; ++i) {
        offsets[i] = int64_t(StartPosition) + BigEndian32(table.data() + 4 * size_t(i));
        if (offsets[i] > fileEnd - 2) RaiseGraphicErrorFmt(gsInvalidImage, gsRLA);
    }

    SetSizeForOverwrite(int(width), int(height));
    TRLADecoder decoder;
    std::vector<uint8_t> packed(UINT16_MAX);
    const void* samples[4];
    for (uint32_t i = 0; i < height; ++i) {
        stream.SetPosition(offsets[i]);
        for (size_t c = 0; c < channels.size(); ++c) {
            channels[c].Read(stream, decoder, packed);
            samples[c] = channels[c].Samples();
        }
        const uint32_t line = Properties.RLABottomUp ? height - 1 - i : i;
        manager.ConvertRow(TColorManager::TSourceRows(samples, channels.size()), ScanLine(int(line)), width, 0xFF);
    }
}
