// Portable Network Graphics: every colour type and bit depth, Adam7
// interlacing, chunk CRC checks, the five row filters, palettes, gamma,
// background and transparent colours.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "GraphicFormats.h"

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

inline uint8_t PaethPredictor(int a, int b, int c) {
    const int p = b - c;
    const int q = a - c;
    const int pa = std::abs(p), pb = std::abs(q), pc = std::abs(p + q);
    return static_cast<uint8_t>((pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c));
}

// Bytes the line buffers carry behind the row for whole-pixel loads.
constexpr size_t FilterPadding = 16;

// The filters, specialised per pixel distance so the inner loops keep their
// operands in registers.
template <uint32_t B>
void UndoFilterScalar(uint8_t filter, uint8_t* row, const uint8_t* prior, uint32_t count) {
    const uint32_t head = std::min(B, count);
    switch (filter) {
        case 1:
            for (uint32_t i = B; i < count; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - B]);
            break;
        case 2:
            for (uint32_t i = 0; i < count; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
            break;
        case 3:
            for (uint32_t i = 0; i < head; ++i) row[i] = static_cast<uint8_t>(row[i] + (prior[i] >> 1));
            for (uint32_t i = B; i < count; ++i)
                row[i] = static_cast<uint8_t>(row[i] + ((row[i - B] + prior[i]) >> 1));
            break;
        case 4:
            for (uint32_t i = 0; i < head; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
            for (uint32_t i = B; i < count; ++i)
                row[i] = static_cast<uint8_t>(row[i] + PaethPredictor(row[i - B], prior[i], prior[i - B]));
            break;
        default: break;  // None, and unknown types leave the row as read.
    }
}

#if defined(__SSE2__)
// Sub, Average and Paeth carry a dependency from each pixel to the next, so
// they work a whole pixel at a time in one register. A pixel of B bytes is
// loaded as 4 or 8 bytes; the lanes past B get a zero predictor, which writes
// the following bytes back unchanged (the padding covers the row's end).
template <uint32_t B>
struct TPixelVector {
    static __m128i Load(const uint8_t* p) {
        if constexpr (B <= 4) {
            int32_t v;
            std::memcpy(&v, p, 4);
            return _mm_cvtsi32_si128(v);
        } else {
            return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        }
    }
    static void Store(uint8_t* p, __m128i v) {
        if constexpr (B <= 4) {
            const int32_t word = _mm_cvtsi128_si32(v);
            std::memcpy(p, &word, 4);
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
        }
    }
    // The pixel's own bytes, as bytes and as 16-bit lanes.
    static __m128i Keep8() {
        alignas(16) uint8_t mask[16] = {};
        std::memset(mask, 0xFF, B);
        return _mm_load_si128(reinterpret_cast<const __m128i*>(mask));
    }
    static __m128i Keep16() {
        alignas(16) uint16_t mask[8] = {};
        for (uint32_t i = 0; i < B; ++i) mask[i] = 0xFFFF;
        return _mm_load_si128(reinterpret_cast<const __m128i*>(mask));
    }
};

inline __m128i Abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

template <uint32_t B>
void UndoFilterVector(uint8_t filter, uint8_t* row, const uint8_t* prior, uint32_t count) {
    using V = TPixelVector<B>;
    const __m128i zero = _mm_setzero_si128();
    switch (filter) {
        case 1: {
            const __m128i keep = V::Keep8();
            __m128i a = zero;
            for (uint32_t i = 0; i < count; i += B) {
                a = _mm_add_epi8(V::Load(row + i), _mm_and_si128(a, keep));
                V::Store(row + i, a);
            }
            break;
        }
        case 3: {
            const __m128i keep = V::Keep8();
            const __m128i ones = _mm_set1_epi8(1);
            __m128i a = zero;
            for (uint32_t i = 0; i < count; i += B) {
                const __m128i b = V::Load(prior + i);
                // Rounding-up average minus the rounding gives the floor.
                const __m128i average = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), ones));
                a = _mm_add_epi8(V::Load(row + i), _mm_and_si128(average, keep));
                V::Store(row + i, a);
            }
            break;
        }
        case 4: {
            const __m128i keep = V::Keep16();
            __m128i a = zero, c = zero;
            for (uint32_t i = 0; i < count; i += B) {
                const __m128i b = _mm_unpacklo_epi8(V::Load(prior + i), zero);
                const __m128i p = _mm_sub_epi16(b, c);
                const __m128i q = _mm_sub_epi16(a, c);
                const __m128i pa = Abs16(p), pb = Abs16(q), pc = Abs16(_mm_add_epi16(p, q));
                const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
                const __m128i useA = _mm_cmpeq_epi16(smallest, pa);
                const __m128i useB = _mm_andnot_si128(useA, _mm_cmpeq_epi16(smallest, pb));
                const __m128i useC = _mm_andnot_si128(_mm_or_si128(useA, useB), keep);
                __m128i predictor = _mm_or_si128(_mm_and_si128(useA, a), _mm_and_si128(useB, b));
                predictor = _mm_and_si128(_mm_or_si128(predictor, _mm_and_si128(useC, c)), keep);
                const __m128i result = _mm_add_epi8(V::Load(row + i), _mm_packus_epi16(predictor, predictor));
                V::Store(row + i, result);
                a = _mm_unpacklo_epi8(result, zero);
                c = b;
            }
            break;
        }
        default: UndoFilterScalar<B>(filter, row, prior, count); break;
    }
}

template <uint32_t B>
void UndoFilter(uint8_t filter, uint8_t* row, const uint8_t* prior, uint32_t count) {
    if constexpr (B >= 3)
        UndoFilterVector<B>(filter, row, prior, count);
    else
        UndoFilterScalar<B>(filter, row, prior, count);
}
#else
template <uint32_t B>
void UndoFilter(uint8_t filter, uint8_t* row, const uint8_t* prior, uint32_t count) {
    UndoFilterScalar<B>(filter, row, prior, count);
}
#endif

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
    ChunkCRC = static_cast<uint32_t>(crc32(0, ChunkType, 4));
}

void TPNGGraphic::ReadChunkData() {
    // The length comes from the file: never allocate for more than is there.
    if (ChunkLength > SourceStream->Size() - SourceStream->Position()) throw EReadError("Stream read error");
    if (ChunkLength > chunkCapacity_) {
        ChunkData = std::make_unique_for_overwrite<uint8_t[]>(ChunkLength);
        chunkCapacity_ = ChunkLength;
    }
    SourceStream->ReadBuffer(ChunkData.get(), ChunkLength);
    uint8_t stored[4];
    SourceStream->ReadBuffer(stored, sizeof(stored));
    ChunkCRC = static_cast<uint32_t>(crc32(ChunkCRC, ChunkData.get(), ChunkLength));
    if (ChunkCRC != BigEndian32(stored)) RaiseGraphicErrorFmt(gsInvalidCRC, gsPNG);
}

bool TPNGGraphic::IsChunk(const char* type) const {
    for (int i = 0; i < 4; ++i)
        if ((ChunkType[i] & 0xDF) != (static_cast<uint8_t>(type[i]) & 0xDF)) return false;
    return true;
}

void TPNGGraphic::SkipChunk() { SourceStream->Seek(int64_t(ChunkLength) + 4, TSeekOrigin::soCurrent); }

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

    for (;;) {
        ReadChunkHeader();
        if (IsChunk("gAMA")) {
            ReadChunkData();
            if (ChunkLength >= 4) p.Gamma = static_cast<float>(BigEndian32(ChunkData.get()) / 100000.0);
            return true;
        }
        SkipChunk();
        if (IsChunk("IEND")) return true;
    }
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
            } else if (IsChunk("PLTE")) {
                if (ChunkLength % 3 != 0) RaiseGraphicErrorFmt(gsInvalidPalette, gsPNG);
                ReadChunkData();
                if (colorType_ == 3) {
                    SetupColorDepth();
                    ChunkPalette = ColorConverter->CreateColorPalette({ChunkData.get()}, 0, ChunkLength / 3, false);
                }
                ReadChunkHeader();
                continue;
            } else if (IsChunk("gAMA")) {
                ReadChunkData();
                if (ChunkLength >= 4) {
                    ColorConverter->SetGamma(static_cast<float>(BigEndian32(ChunkData.get()) / 100000.0), 2.2f);
                    ColorConverter->TargetMode |= cvApplyGamma;
                    Properties.Flags |= ifGammaCorrected;
                }
                ReadChunkHeader();
                continue;
            } else if (IsChunk("bKGD")) {
                ReadChunkData();
                ReadBackground();
                ReadChunkHeader();
                continue;
            } else if (IsChunk("tRNS")) {
                ReadChunkData();
                ReadTransparency();
                ReadChunkHeader();
                continue;
            }
            // Any other chunk, and the one met after the image data.
            SkipChunk();
            if (IsChunk("IEND")) break;
            if (IsCritical(ChunkType)) RaiseGraphicError(gsUnknownCriticalChunk);
            ReadChunkHeader();
        }
        Inflater->EndDecode();
    } catch (...) {
        Inflater.reset();
        ChunkData.reset();
        chunkCapacity_ = 0;
        throw;
    }
    Inflater.reset();
    ChunkData.reset();
    chunkCapacity_ = 0;
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

void TPNGGraphic::ReadRow(uint8_t* buffer, uint32_t count) {
    uint8_t* target = buffer;
    uint8_t* const end = buffer + count;
    while (target < end) {
        if (Inflater->AvailableInput() == 0) {
            do {
                // Image data that ends early leaves the rest of the row as it was.
                if (!IsChunk("IDAT")) return;
                ReadChunkData();
                InflateCursor = ChunkData.get();
                ChunkDataSize = ChunkLength;
                ReadChunkHeader();
            } while (ChunkDataSize == 0);
        }
        const auto packed = static_cast<int32_t>(ChunkData.get() + ChunkDataSize - InflateCursor);
        Inflater->Decode(InflateCursor, target, packed, static_cast<int32_t>(end - target));
        const int result = Inflater->ZLibResult();
        if (result == Z_STREAM_END) {
            if (target < end || Inflater->AvailableInput() > 0) RaiseGraphicErrorFmt(gsExtraCompressedData, gsPNG);
            return;
        }
        if (result != Z_OK) RaiseGraphicErrorFmt(gsCompression, gsPNG);
    }
}

void TPNGGraphic::ApplyFilter(uint8_t* row, const uint8_t* prior, uint32_t count) const {
    const uint8_t filter = row[0];
    if (filter == 0) return;
    switch (PixelStride) {
        case 1: UndoFilter<1>(filter, row + 1, prior + 1, count); break;
        case 2: UndoFilter<2>(filter, row + 1, prior + 1, count); break;
        case 3: UndoFilter<3>(filter, row + 1, prior + 1, count); break;
        case 4: UndoFilter<4>(filter, row + 1, prior + 1, count); break;
        case 6: UndoFilter<6>(filter, row + 1, prior + 1, count); break;
        default: UndoFilter<8>(filter, row + 1, prior + 1, count); break;
    }
}

void TPNGGraphic::ConvertRow(const uint8_t* source, int y, uint8_t mask) {
    if (colorType_ == 3 && bitDepth_ == 2)
        WidenIndices2To4(source, ScanLine(y), static_cast<uint32_t>(Width()), mask);
    else
        ColorConverter->ConvertRow({source}, ScanLine(y), static_cast<uint32_t>(Width()), mask);
}

void TPNGGraphic::ReadImageData() {
    if (!depthSetUp_) SetupColorDepth();
    const uint64_t width = Properties.Width;
    const uint32_t height = Properties.Height;
    const uint32_t unit = bitDepth_ == 16 ? PixelStride / 2 : PixelStride;
    const auto rowBytes = [&](uint64_t pixels) { return static_cast<uint32_t>((pixels * bitDepth_ + 7) / 8 * unit); };
    const uint32_t rowSize = rowBytes(width);

    if (ChunkPalette) SetPalette(*ChunkPalette);
    SetSize(static_cast<int>(width), static_cast<int>(height));
    if (KeyColor != clNone) {
        TransparentColor = KeyColor;
        Transparent = true;
    }

    // Each line has room behind it for the filters' whole-pixel loads.
    const size_t lineSize = size_t(rowSize) + 1 + FilterPadding;
    std::vector<uint8_t> lines(2 * lineSize);
    uint8_t* current = lines.data();
    uint8_t* prior = current + lineSize;

    if (!Properties.Interlaced) {
        // Every decoded row overwrites all of its pixels, so only the rows
        // that decoding does not reach need the background.
        uint32_t y = 0;
        try {
            for (; y < height; ++y) {
                ReadRow(current, rowSize + 1);
                ApplyFilter(current, prior, rowSize);
                ConvertRow(current + 1, static_cast<int>(y), 0xFF);
                std::swap(current, prior);
            }
        } catch (...) {
            Canvas().FillRect(Rect(0, static_cast<int>(y), Width(), Height()), FillColor);
            throw;
        }
    } else {
        // The passes fill the pixels piecemeal: clear all of them first.
        Canvas().FillRect(Rect(0, 0, Width(), Height()), FillColor);
        for (const TAdam7Pass& pass : Adam7Passes) {
            if (pass.FirstColumn >= width) continue;
            const uint32_t passSize = rowBytes((width + pass.ColumnStep - pass.FirstColumn - 1) / pass.ColumnStep) + 1;
            std::memset(prior, 0, passSize);
            for (uint32_t y = pass.FirstRow; y < height; y += pass.RowStep) {
                ReadRow(current, passSize);
                ApplyFilter(current, prior, passSize - 1);
                ConvertRow(current + 1, static_cast<int>(y), pass.Mask);
                std::swap(current, prior);
            }
        }
    }

    while (IsChunk("IDAT")) {
        ReadChunkData();
        ReadChunkHeader();
    }
}
