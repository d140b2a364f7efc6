// Portable Network Graphics: every colour type and bit depth, Adam7
// interlacing, chunk CRC checks, the five row filters, palettes, gamma,
// background and transparent colours.
#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "GraphicFormats.h"
#include "formats/PNGFilters.h"

namespace {

constexpr uint8_t PNGSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// The IHDR data length; longer data is accepted, shorter is not a header.
constexpr uint32_t HeaderDataSize = 13;

struct TAdam7Pass {
    uint32_t FirstColumn, ColumnStep, FirstRow, RowStep;
    uint8_t Mask;
};
constexpr TAdam7Pass Adam7Passes[7] = {
    {0, 8, 0, 8, 0x80}, {4, 8, 0, 8, 0x08}, {0, 4, 4, 8, 0x88}, {2, 4, 0, 4, 0x22},
    {0, 2, 2, 4, 0xAA}, {1, 2, 0, 2, 0x55}, {0, 1, 1, 2, 0xFF},
};

uint32_t BigEndian32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t BigEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

bool IsCritical(const uint8_t* type) { return (type[0] & 0x20) == 0; }

// The displayed gray level of a stored gray sample of the given depth.
uint8_t GrayLevel(uint16_t value, uint8_t bitDepth) {
    if (bitDepth == 16) return TColorManager::Scale16To8(value);
    const uint32_t maximum = (1u << bitDepth) - 1;
    return static_cast<uint8_t>((value & maximum) * 255 / maximum);
}

// A colour given as three 16-bit samples (bKGD and tRNS of RGB images).
TColor SampleColor(const uint8_t* data, uint8_t bitDepth) {
    uint16_t r = BigEndian16(data), g = BigEndian16(data + 2), b = BigEndian16(data + 4);
    if (bitDepth == 16) {
        r = TColorManager::Scale16To8(r);
        g = TColorManager::Scale16To8(g);
        b = TColorManager::Scale16To8(b);
    }
    return RGB(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b));
}

// Widens 2-bit palette indices to 4-bit ones keeping their values, so that
// they still address the PLTE entries. Honours the pixel mask as the colour
// manager does: only selected pixels are read from source and written.
void WidenIndices2To4(const uint8_t* source, uint8_t* target, uint32_t count, uint8_t mask) {
    uint8_t pattern = 0x80;
    uint32_t sourceIndex = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (mask & pattern) {
            const uint8_t value = (source[sourceIndex >> 2] >> (6 - 2 * (sourceIndex & 3))) & 3;
            ++sourceIndex;
            uint8_t& byte = target[i >> 1];
            byte = (i & 1) ? static_cast<uint8_t>((byte & 0xF0) | value) : static_cast<uint8_t>((byte & 0x0F) | value << 4);
        }
        pattern = static_cast<uint8_t>(pattern >> 1 | pattern << 7);
    }
}

}  // namespace

const TGraphicClassDesc TPNGGraphic::ClassDesc = {
    "TPNGGraphic", [] { return std::unique_ptr<TGraphic>(new TPNGGraphic); }, &TPNGGraphic::ProbeStream,
    TFormatGraphic::StaticClass()};

TPNGGraphic::TPNGGraphic() = default;
TPNGGraphic::~TPNGGraphic() = default;

bool TPNGGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t signature[sizeof(PNGSignature)];
    const bool answer = stream.Size() - start > static_cast<int64_t>(sizeof(signature)) &&
                        stream.Read(signature, sizeof(signature)) == sizeof(signature) &&
                        std::memcmp(signature, PNGSignature, sizeof(signature)) == 0;
    stream.SetPosition(start);
    return answer;
}

// ---------------------------------------------------------------------------
// Chunks

void TPNGGraphic::ReadChunkHeader() {
    uint8_t header[8];
    SourceStream->ReadBuffer(header, sizeof(header));
    ChunkLength = BigEndian32(header);
    std::memcpy(ChunkType, header + 4, 4);
    ChunkCRC = libdeflate_crc32(0, ChunkType, 4);
}

void TPNGGraphic::ReadChunkData() {
    // The length comes from the file: never allocate for more than is there.
    if (ChunkLength > SourceStream->Size() - SourceStream->Position()) throw EReadError("Stream read error");
    if (ChunkLength > chunkCapacity_) {
        ChunkData = std::make_unique_for_overwrite<uint8_t[]>(ChunkLength);
        chunkCapacity_ = ChunkLength;
    }
    SourceStream->ReadBuffer(ChunkData.get(), ChunkLength);
    if (!ChunkCRCMatches(ChunkData.get())) RaiseGraphicErrorFmt(gsInvalidCRC, gsPNG);
}

bool TPNGGraphic::IsChunk(const char* type) const {
    for (int i = 0; i < 4; ++i)
        if ((ChunkType[i] & 0xDF) != (static_cast<uint8_t>(type[i]) & 0xDF)) return false;
    return true;
}

void TPNGGraphic::SkipChunk() { SourceStream->Seek(int64_t(ChunkLength) + 4, TSeekOrigin::soCurrent); }

// Once the image has been read, a file that ends before its next chunk (an
// IEND cut short) keeps the image, as readers that stop after it show it.
bool TPNGGraphic::NextChunk() {
    if (!imageRead_) {
        ReadChunkHeader();
        return true;
    }
    try {
        ReadChunkHeader();
        return true;
    } catch (const EReadError&) {
        return false;
    }
}

// ---------------------------------------------------------------------------
// Properties

bool TPNGGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    SourceStream = &stream;

    uint8_t signature[sizeof(PNGSignature)];
    if (stream.Read(signature, sizeof(signature)) != sizeof(signature) ||
        std::memcmp(signature, PNGSignature, sizeof(signature)) != 0)
        return false;
    ReadChunkHeader();
    if (!IsChunk("IHDR")) return false;
    Properties.Flags |= ifBigEndian;
    ReadChunkData();
    if (ChunkLength < HeaderDataSize) return false;

    const uint8_t* ihdr = ChunkData.get();
    TImageProperties& p = Properties;
    p.Width = BigEndian32(ihdr);
    p.Height = BigEndian32(ihdr + 4);
    if (p.Width == 0 || p.Height == 0) return false;
    p.BitsPerSample = ihdr[8];
    switch (ihdr[9]) {
        case 0: p.ColorScheme = csGray; p.SamplesPerPixel = 1; break;
        case 2: p.ColorScheme = csRGB; p.SamplesPerPixel = 3; break;
        case 3: p.ColorScheme = csIndexed; p.SamplesPerPixel = 1; break;
        case 4: p.ColorScheme = csGrayAlpha; p.SamplesPerPixel = 1; break;
        case 6: p.ColorScheme = csRGBA; p.SamplesPerPixel = 4; break;
        default: p.ColorScheme = csUnknown; p.SamplesPerPixel = 1; break;
    }
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    p.Compression = ihdr[10] == 0 ? ckLZ77 : ckUnknown;
    p.PNGFilterMethod = ihdr[11];
    p.Interlaced = ihdr[12] != 0;
    p.HasAlpha = p.ColorScheme == csGrayAlpha || p.ColorScheme == csRGBA || p.ColorScheme == csBGRA;

    // The scan for the gamma ends at IEND or where the file does.
    while (stream.Size() - stream.Position() >= 8) {
        ReadChunkHeader();
        if (IsChunk("gAMA")) {
            ReadChunkData();
            if (ChunkLength >= 4) p.Gamma = static_cast<float>(BigEndian32(ChunkData.get()) / 100000.0);
            return true;
        }
        SkipChunk();
        if (IsChunk("IEND")) return true;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Loading

void TPNGGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    SetPalette(TLogPalette{});
    Transparent = false;
    TransparentColor = clNone;
    StartPosition = static_cast<uint32_t>(stream.Position());
    Inflater.reset();
    SourceStream = &stream;

    if (!ReadProperties(stream, 0)) RaiseGraphicErrorFmt(gsInvalidImage, gsPNG);
    stream.SetPosition(int64_t(StartPosition) + sizeof(PNGSignature));
    ChunkPalette.reset();
    FillColor = clWhite;
    KeyColor = clNone;
    depthSetUp_ = false;
    imageRead_ = false;

    ReadChunkHeader();
    ReadChunkData();
    bitDepth_ = ChunkData[8];
    colorType_ = ChunkData[9];
    ColorConverter->SourceMode = cvByteSwap;
    ColorConverter->TargetMode = TConversionOptions{};
    if (Properties.Compression != ckLZ77) RaiseGraphicErrorFmt(gsUnsupportedFeature, gsCompressionScheme, gsPNG);
    CheckImageSize(Properties.Width, Properties.Height, gsPNG);

    Inflater = std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, false);
    try {
        Inflater->BeginDecode();
        ReadChunkHeader();
        for (;;) {
            if (IsChunk("IDAT")) {
                ReadImageData();
                if (fileEndsAfterData_) break;
            } else if (IsChunk("PLTE")) {
                if (ChunkLength % 3 != 0) RaiseGraphicErrorFmt(gsInvalidPalette, gsPNG);
                ReadChunkData();
                if (colorType_ == 3) {
                    SetupColorDepth();
                    ChunkPalette = ColorConverter->CreateColorPalette({ChunkData.get()}, 0, ChunkLength / 3, false);
                }
                if (!NextChunk()) break;
                continue;
            } else if (IsChunk("gAMA")) {
                ReadChunkData();
                if (ChunkLength >= 4) {
                    ColorConverter->SetGamma(static_cast<float>(BigEndian32(ChunkData.get()) / 100000.0), 2.2f);
                    ColorConverter->TargetMode |= cvApplyGamma;
                    Properties.Flags |= ifGammaCorrected;
                }
                if (!NextChunk()) break;
                continue;
            } else if (IsChunk("bKGD")) {
                ReadChunkData();
                ReadBackground();
                if (!NextChunk()) break;
                continue;
            } else if (IsChunk("tRNS")) {
                ReadChunkData();
                ReadTransparency();
                if (!NextChunk()) break;
                continue;
            }
            // Any other chunk, and the one met after the image data.
            SkipChunk();
            if (IsChunk("IEND")) break;
            if (IsCritical(ChunkType)) RaiseGraphicError(gsUnknownCriticalChunk);
            if (!NextChunk()) break;
        }
        Inflater->EndDecode();
    } catch (...) {
        ReleaseBuffers();
        throw;
    }
    ReleaseBuffers();
}

void TPNGGraphic::ReleaseBuffers() {
    Inflater.reset();
    ChunkData.reset();
    chunkCapacity_ = 0;
    CompressedData = TByteBlock();
    ImageChunkEnds = {};
    DataError = nullptr;
}

void TPNGGraphic::SetupColorDepth() {
    TColorManager& manager = *ColorConverter;
    const uint8_t depth = bitDepth_;
    const auto configure = [&](TColorScheme source, TColorScheme target, uint8_t samples, uint8_t targetBits) {
        manager.SetSourceScheme(source);
        manager.SetTargetScheme(target);
        manager.SetSourceSamplesPerPixel(samples);
        manager.SetTargetSamplesPerPixel(samples);
        manager.SetSourceBitsPerSample(depth);
        manager.SetTargetBitsPerSample(targetBits);
    };
    const bool full = depth == 8 || depth == 16;
    const bool packed = depth == 1 || depth == 2 || depth == 4;
    switch (colorType_) {
        case 0:
            if (!full && !packed) break;
            configure(csGray, csGray, 1, depth == 2 ? 4 : depth == 16 ? 8 : depth);
            SetPixelFormat(manager.GetPixelFormat(1));
            ChunkPalette = manager.CreateGrayscalePalette(false);
            PixelStride = (depth + 7u) / 8;
            depthSetUp_ = true;
            return;
        case 2:
            if (!full) break;
            configure(csRGB, csBGR, 3, 8);
            SetPixelFormat(pf24bit);
            PixelStride = depth * 3u / 8;
            depthSetUp_ = true;
            return;
        case 3:
            if (!packed && depth != 8) break;
            configure(csIndexed, csIndexed, 1, depth == 2 ? 4 : depth);
            SetPixelFormat(manager.GetPixelFormat(1));
            PixelStride = 1;
            depthSetUp_ = true;
            return;
        case 4:
            if (!full) break;
            configure(csGrayAlpha, csIndexed, 1, 8);
            SetPixelFormat(pf8bit);
            ChunkPalette = manager.CreateGrayscalePalette(false);
            PixelStride = depth * 2u / 8;
            depthSetUp_ = true;
            return;
        case 6:
            if (!full) break;
            configure(csRGBA, csBGRA, 4, 8);
            SetPixelFormat(pf32bit);
            PixelStride = depth * 4u / 8;
            depthSetUp_ = true;
            return;
        default: break;
    }
    RaiseGraphicErrorFmt(gsInvalidColorFormat, gsPNG);
}

void TPNGGraphic::ReadBackground() {
    const uint8_t* data = ChunkData.get();
    switch (colorType_) {
        case 0:
        case 4:
            if (ChunkLength >= 2) {
                const uint8_t level = GrayLevel(BigEndian16(data), bitDepth_);
                FillColor = RGB(level, level, level);
            }
            break;
        case 2:
        case 6:
            if (ChunkLength >= 6) FillColor = SampleColor(data, bitDepth_);
            break;
        case 3:
            if (ChunkLength >= 1 && ChunkPalette && data[0] < ChunkPalette->palPalEntry.size()) {
                const TPaletteEntry& entry = ChunkPalette->palPalEntry[data[0]];
                FillColor = RGB(entry.peRed, entry.peGreen, entry.peBlue);
            }
            break;
        default: break;
    }
}

void TPNGGraphic::ReadTransparency() {
    const uint8_t* data = ChunkData.get();
    if (colorType_ == 0 && ChunkLength >= 2) {
        // The key must be the colour the pixels show, whatever their depth.
        const uint8_t level = GrayLevel(BigEndian16(data), bitDepth_);
        KeyColor = RGB(level, level, level);
    } else if (colorType_ == 2 && ChunkLength >= 6) {
        KeyColor = SampleColor(data, bitDepth_);
    }
}

// ---------------------------------------------------------------------------
// Image data

namespace {

// A non-interlaced image as one pass over every pixel.
constexpr TAdam7Pass WholeImage = {0, 1, 0, 1, 0xFF};

// The rows' layout: the Adam7 passes, or one pass over every pixel.
std::span<const TAdam7Pass> Passes(bool interlaced) {
    if (interlaced) return Adam7Passes;
    return {&WholeImage, 1};
}

// The pixels of each of the pass's rows.
uint64_t PassWidth(const TAdam7Pass& pass, uint32_t width) {
    return (uint64_t(width) + pass.ColumnStep - pass.FirstColumn - 1) / pass.ColumnStep;
}

}  // namespace

uint32_t TPNGGraphic::FilteredRowSize(uint64_t pixels) const {
    const uint32_t unit = bitDepth_ == 16 ? PixelStride / 2 : PixelStride;
    return static_cast<uint32_t>((pixels * bitDepth_ + 7) / 8 * unit + 1);
}

uint64_t TPNGGraphic::FilteredImageSize() const {
    uint64_t size = 0;
    for (const TAdam7Pass& pass : Passes(Properties.Interlaced))
        if (pass.FirstColumn < Properties.Width && pass.FirstRow < Properties.Height)
            size += uint64_t((Properties.Height - pass.FirstRow - 1) / pass.RowStep + 1) *
                    FilteredRowSize(PassWidth(pass, Properties.Width));
    return size;
}

bool TPNGGraphic::ChunkCRCMatches(const uint8_t* data) {
    uint8_t stored[4];
    SourceStream->ReadBuffer(stored, sizeof(stored));
    ChunkCRC = libdeflate_crc32(ChunkCRC, data, ChunkLength);
    return ChunkCRC == BigEndian32(stored);
}

void TPNGGraphic::CollectImageData(uint64_t filteredSize) {
    const int64_t end = SourceStream->Size();
    int64_t position = SourceStream->Position();
    // Room for the data at once: as much as the rest of the stream holds,
    // or as zlib needs at most for the image, whichever is less. Data that
    // outgrows it still fits, at the cost of a copy.
    CompressedData.clear();
    CompressedData.reserve(static_cast<size_t>(
        std::min<uint64_t>(uint64_t(std::max<int64_t>(end - position, 0)), compressBound(filteredSize))));
    ImageChunkEnds.clear();
    DataError = nullptr;
    fileEndsAfterData_ = false;
    bool whole = false;  // the last chunk read is whole, CRC included
    try {
        while (IsChunk("IDAT")) {
            const size_t start = CompressedData.size();
            const auto present = static_cast<uint32_t>(std::clamp<int64_t>(end - position, 0, ChunkLength));
            CompressedData.resize(start + present);
            SourceStream->ReadBuffer(CompressedData.data() + start, present);
            if (present < ChunkLength) throw EReadError("Stream read error");
            if (!ChunkCRCMatches(CompressedData.data() + start) && !DataError)
                DataError = std::make_exception_ptr(EInvalidGraphic(Format(gsInvalidCRC, gsPNG)));
            position += int64_t(ChunkLength) + 12;
            if (!DataError) ImageChunkEnds.push_back(CompressedData.size());
            whole = true;
            ReadChunkHeader();
            whole = false;
        }
    } catch (const EReadError&) {
        // A file that ends right after whole image data has its image; the
        // error stands only if the rows need more.
        fileEndsAfterData_ = whole && !DataError;
        if (!DataError) DataError = std::current_exception();
    }
}

void TPNGGraphic::ReadRow(uint8_t* buffer, uint32_t count) {
    uint8_t* target = buffer;
    uint8_t* const end = buffer + count;
    while (target < end) {
        if (Inflater->AvailableInput() == 0) {
            size_t chunkSize = 0;
            do {
                // Image data that ends early leaves the rest of the row as it
                // was, unless reading the next chunk failed.
                if (nextChunk_ == ImageChunkEnds.size()) {
                    if (DataError) std::rethrow_exception(DataError);
                    return;
                }
                const size_t start = nextChunk_ == 0 ? 0 : ImageChunkEnds[nextChunk_ - 1];
                chunkSize = ImageChunkEnds[nextChunk_++] - start;
                InflateCursor = CompressedData.data() + start;
            } while (chunkSize == 0);
        }
        const auto packed = static_cast<int32_t>(CompressedData.data() + ImageChunkEnds[nextChunk_ - 1] - InflateCursor);
        Inflater->Decode(InflateCursor, target, packed, static_cast<int32_t>(end - target));
        const int result = Inflater->ZLibResult();
        // Bytes after the end of the stream are padding some encoders
        // write: libpng warns of them and every reader shows the image.
        if (result == Z_STREAM_END) {
            if (target < end) RaiseGraphicErrorFmt(gsExtraCompressedData, gsPNG);
            return;
        }
        if (result != Z_OK) RaiseGraphicErrorFmt(gsCompression, gsPNG);
    }
}

void TPNGGraphic::ApplyFilter(uint8_t* row, const uint8_t* prior, uint32_t count) const {
    if (row[0] != 0) pngfilters::SelectUndoFilter()(row[0], row + 1, prior + 1, count, PixelStride);
}

void TPNGGraphic::ConvertRow(const uint8_t* source, int y, uint8_t mask) {
    if (colorType_ == 3 && bitDepth_ == 2)
        WidenIndices2To4(source, ScanLine(y), static_cast<uint32_t>(Width()), mask);
    else
        ColorConverter->ConvertRow({source}, ScanLine(y), static_cast<uint32_t>(Width()), mask);
}

template <class NextRow, class PassStart>
void TPNGGraphic::DecodeRows(NextRow&& nextRow, PassStart&& passStart) {
    const uint32_t width = Properties.Width, height = Properties.Height;
    uint32_t y = 0;
    try {
        for (const TAdam7Pass& pass : Passes(Properties.Interlaced)) {
            if (pass.FirstColumn >= width) continue;
            const uint32_t size = FilteredRowSize(PassWidth(pass, width));
            const uint8_t* prior = passStart(size);
            for (y = pass.FirstRow; y < height; y += pass.RowStep) {
                uint8_t* row = nextRow(size);
                ApplyFilter(row, prior, size - 1);
                ConvertRow(row + 1, static_cast<int>(y), pass.Mask);
                prior = row;
            }
        }
    } catch (...) {
        // Interlaced images were cleared to the background beforehand.
        if (!Properties.Interlaced) Canvas().FillRect(Rect(0, static_cast<int>(y), Width(), Height()), FillColor);
        throw;
    }
}

TByteBlock TPNGGraphic::InflateImage(size_t filteredSize) {
    // Room behind the rows for the filters' whole-pixel loads.
    TByteBlock image(filteredSize + pngfilters::FilterPadding);
    std::memset(image.data() + filteredSize, 0, pngfilters::FilterPadding);
    // Only a stream that ends with its chunk decodes here exactly as it does
    // row by row; anything else (damaged, short, long or followed by more
    // data) is left to the row-by-row path, which finds the same rows and
    // errors.
    size_t consumed = 0;
    if (!InflateWhole(CompressedData.data(), ImageChunkEnds.empty() ? 0 : ImageChunkEnds.back(), image.data(),
                        filteredSize, consumed) ||
        !std::binary_search(ImageChunkEnds.begin(), ImageChunkEnds.end(), consumed))
        return {};
    return image;
}

void TPNGGraphic::DecodeInflated(TByteBlock& image) {
    const std::vector<uint8_t> zeroRow(FilteredRowSize(Properties.Width) + pngfilters::FilterPadding);
    uint8_t* cursor = image.data();
    try {
        DecodeRows(
            [&](uint32_t size) {
                uint8_t* row = cursor;
                cursor += size;
                return row;
            },
            [&](uint32_t) { return zeroRow.data(); });
    } catch (...) {
        // Interlaced pixels were not cleared beforehand here.
        if (Properties.Interlaced) Canvas().FillRect(Rect(0, 0, Width(), Height()), FillColor);
        throw;
    }
}

void TPNGGraphic::DecodeStreaming() {
    const size_t lineSize = size_t(FilteredRowSize(Properties.Width)) + pngfilters::FilterPadding;
    // Two lines taken in turn: the row being read and the one above it.
    std::vector<uint8_t> lines(2 * lineSize);
    size_t next = 0;
    const auto line = [&](size_t index) { return lines.data() + index * lineSize; };
    nextChunk_ = 0;
    DecodeRows(
        [&](uint32_t size) {
            uint8_t* row = line(next);
            next ^= 1;
            ReadRow(row, size);
            return row;
        },
        [&](uint32_t size) {
            std::memset(line(next ^ 1), 0, size);
            return line(next ^ 1);
        });
}

TColor TPNGGraphic::DisplayedColor(TColor color) const {
    // Palette entries were corrected when the palette was made.
    if (colorType_ == 3 || !Has(ColorConverter->TargetMode, cvApplyGamma)) return color;
    const std::array<uint8_t, 256>& gamma = ColorConverter->GammaTable();
    return RGB(gamma[GetRValue(color)], gamma[GetGValue(color)], gamma[GetBValue(color)]);
}

void TPNGGraphic::CreateImage(bool complete) {
    // The background and the transparent colour are compared with and
    // filled among the pixels as the bitmap holds them.
    FillColor = DisplayedColor(FillColor);
    if (KeyColor != clNone) KeyColor = DisplayedColor(KeyColor);
    if (ChunkPalette) SetPalette(*ChunkPalette);
    const int width = static_cast<int>(Properties.Width), height = static_cast<int>(Properties.Height);
    if (Properties.Interlaced && !complete) {
        // The passes fill the pixels piecemeal and may stop anywhere: clear
        // all of them first.
        SetSize(width, height);
        Canvas().FillRect(Rect(0, 0, width, height), FillColor);
    } else {
        // Every row is written, decoded or cleared to the background.
        SetSizeForOverwrite(width, height);
    }
    if (KeyColor != clNone) {
        TransparentColor = KeyColor;
        Transparent = true;
    }
}

void TPNGGraphic::ReadImageData() {
    // Image data in a second run of IDAT chunks continues a stream that has
    // already given the whole image.
    if (imageRead_) RaiseGraphicErrorFmt(gsExtraCompressedData, gsPNG);
    imageRead_ = true;
    if (!depthSetUp_) SetupColorDepth();
    const uint64_t filteredSize = FilteredImageSize();
    CollectImageData(filteredSize);
    if (filteredSize > CompressedData.size() * DeflateBestRatio) RaiseGraphicErrorFmt(gsInvalidImage, gsPNG);

    if ((!DataError || fileEndsAfterData_) && filteredSize <= WholeInflateLimit) {
        TByteBlock image = InflateImage(static_cast<size_t>(filteredSize));
        if (!image.empty()) {
            // The bitmap takes the place of the compressed data.
            CompressedData = TByteBlock();
            CreateImage(true);
            DecodeInflated(image);
            return;
        }
    }
    CreateImage(false);
    DecodeStreaming();
    if (DataError && !fileEndsAfterData_) std::rethrow_exception(DataError);
}
