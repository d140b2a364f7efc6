// Tagged Image File Format: loading the pixel data of the first directory.
// Strips and tiles are both handled as a grid of chunks (strips are
// full-width chunks); separately stored planes add one grid per sample. Each
// chunk is decoded whole, its prediction undone, and its visible rows are
// converted into the bitmap through the colour manager; strips whose rows
// need no conversion are decoded straight into the bitmap.
#include <sched.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <atomic>
#include <functional>
#include <system_error>
#include <thread>

#include "GraphicFormats.h"
#include "formats/TIFF.h"
#include "formats/PNGFilters.h"

using namespace tiff;

namespace {

bool IsPaletteLike(TColorScheme scheme) { return scheme == csIndexed || scheme == csGray || scheme == csGrayAlpha; }

// Asks for bytes to be brought into the cache ahead of their use.
void Prefetch(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; i += 64) __builtin_prefetch(bytes + i);
}

bool IsFax(TCompressionKind kind) { return kind == ckFax3 || kind == ckFax4 || kind == ckFaxRLE || kind == ckFaxRLEW; }

// Samples a pixel of the scheme needs in the stored rows, as the colour
// manager's converters read them.
uint32_t SamplesNeeded(TColorScheme scheme) {
    switch (scheme) {
        case csGrayAlpha: return 2;
        case csRGB:
        case csBGR:
        case csCIELab:
        case csYCbCr: return 3;
        case csRGBA:
        case csBGRA:
        case csCMYK: return 4;
        default: return 1;
    }
}

TColorScheme TargetSchemeFor(TColorScheme source) {
    switch (source) {
        case csGrayAlpha: return csGray;
        case csRGB: return csBGR;
        case csRGBA: return csBGRA;
        case csCMY:
        case csCMYK:
        case csCIELab:
        case csYCbCr: return csBGR;
        default: return source;
    }
}

// Indices and gray levels land in bitmaps of 1, 4 or 8 bits; colours keep
// their depth up to 8 bits.
uint8_t TargetBitsFor(TColorScheme source, uint8_t bits) {
    if (IsPaletteLike(source)) return bits == 1 ? 1 : bits <= 4 ? 4 : 8;
    return bits == 16 ? 8 : bits;
}

// The most unpacked bytes one packed byte can give under each compression
// (fax is counted per row instead: every coded row takes at least a bit).
// Stored data counts twice: an image cut short loads, its missing rows
// zero, while at least half of it is there.
uint32_t BestRatio(TCompressionKind kind) {
    switch (kind) {
        case ckNone: return 2;
        case ckPackBits: return 64;
        case ckThunderscan: return 32;
        case ckLZ77: return DeflateBestRatio;
        case ckLZW: return 1500;
        // xz streams of zeros shrink about 7000 times, Zstandard's run
        // blocks give 128 KiB for 4 bytes; a flat WebP or JBIG image takes a
        // few bytes for any size.
        case ckLZMA: return 16384;
        case ckZSTD: return 32768;
        case ckWebP:
        case ckJBIG: return 1u << 20;
        default: return 2048;  // JPEG
    }
}

// libjpeg converts interleaved 8-bit YCbCr strips, and reorders RGB ones, to
// any order of red, green and blue.
bool JPEGDeliversBGR(const TImageProperties& p) {
    return (p.ColorScheme == csYCbCr || p.ColorScheme == csRGB) && p.PlanarConfig == 1 && p.SamplesPerPixel == 3 &&
           p.BitsPerSample == 8;
}

// libwebp delivers red, green, blue (and alpha) in either order.
bool WebPDeliversBGR(const TImageProperties& p) {
    return p.Compression == ckWebP && (p.ColorScheme == csRGB || p.ColorScheme == csRGBA) && p.PlanarConfig == 1 &&
           p.BitsPerSample == 8;
}

// Undoes horizontal differencing on one row of 8-, 16- or 32-bit samples;
// wider samples are added in the file's byte order. On 8-bit samples it is
// PNG's Sub filter with the pixel as its stride, whose vector routines need
// FilterPadding bytes behind the row.
void UndoPrediction(uint8_t* row, uint32_t pixels, uint32_t samples, uint8_t bits, bool bigEndian) {
    if (bits == 8) {
        switch (samples) {
            case 1:
            case 2:
            case 3:
            case 4:
            case 6:
            case 8:
                pngfilters::SelectUndoFilter()(pngfilters::FilterSub, row, row, pixels * samples, samples);
                return;
            default:
                for (size_t i = samples; i < size_t(pixels) * samples; ++i) row[i] = uint8_t(row[i] + row[i - samples]);
                return;
        }
    }
    const size_t bytes = bits / 8;
    for (size_t i = samples; i < size_t(pixels) * samples; ++i) {
        uint8_t* here = row + bytes * i;
        const uint8_t* left = here - bytes * samples;
        unsigned carry = 0;
        for (size_t k = 0; k < bytes; ++k) {
            const size_t at = bigEndian ? bytes - 1 - k : k;  // least significant byte first
            const unsigned sum = here[at] + left[at] + carry;
            here[at] = uint8_t(sum);
            carry = sum >> 8;
        }
    }
}

// Undoes the floating-point predictor on one row of count samples of bytes
// bytes each: the row holds the samples' bytes as planes, most significant
// plane first, differenced byte by byte across pixels of stride samples.
// The samples come back in the file's byte order.
void UndoFloatPrediction(uint8_t* row, size_t count, size_t bytes, size_t stride, bool bigEndian,
                         std::vector<uint8_t>& scratch) {
    const size_t size = count * bytes;
    for (size_t i = stride; i < size; ++i) row[i] = uint8_t(row[i] + row[i - stride]);
    scratch.assign(row, row + size);
    for (size_t i = 0; i < count; ++i)
        for (size_t k = 0; k < bytes; ++k) row[i * bytes + (bigEndian ? k : bytes - 1 - k)] = scratch[k * count + i];
}

enum TSampleFormat : uint32_t { sfUnsigned = 1, sfSigned = 2, sfFloat = 3 };

// The bits per sample the colour manager is given for stored samples of a
// format: 32-bit integers and floating point become 16-bit samples, others
// keep their size; 0 for sizes that are not read.
uint8_t ManagerBits(uint32_t bits, uint32_t format) {
    if (format == sfFloat) return bits == 16 || bits == 24 || bits == 32 || bits == 64 ? 16 : 0;
    if (bits == 32) return 16;
    return bits <= 16 ? uint8_t(bits) : 0;
}

bool NeedsNormalising(uint32_t bits, uint32_t format) {
    return bits == 32 || format == sfFloat || (format == sfSigned && (bits == 8 || bits == 16));
}

// A floating-point sample of 16 (IEEE half), 24 (libtiff's: 7 exponent bits,
// bias 63, 16 mantissa bits), 32 or 64 bits.
double FloatSample(uint64_t v, uint32_t bits) {
    const auto small = [](uint64_t sign, uint64_t exponent, uint64_t mantissa, int mantissaBits, int bias,
                          uint64_t maxExponent) {
        double value;
        if (exponent == maxExponent)
            value = mantissa ? std::nan("") : HUGE_VAL;
        else if (exponent == 0)
            value = std::ldexp(double(mantissa), 1 - bias - mantissaBits);
        else
            value = std::ldexp(double(mantissa | (uint64_t(1) << mantissaBits)), int(exponent) - bias - mantissaBits);
        return sign ? -value : value;
    };
    switch (bits) {
        case 16: return small(v >> 15, (v >> 10) & 31, v & 1023, 10, 15, 31);
        case 24: return small(v >> 23, (v >> 16) & 127, v & 0xFFFF, 16, 63, 127);
        case 32: return std::bit_cast<float>(uint32_t(v));
        default: return std::bit_cast<double>(v);
    }
}

// Turns count stored samples the colour manager cannot take into 8- or
// 16-bit ones, in the file's byte order. The rules are those most of
// libtiff's peers (ImageMagick, FreeImage, OpenImageIO) show: signed
// integers by their range, the lowest value black (the sign bit flipped);
// 32-bit integers by their top 16 bits; floating point as 0.0 (black) to
// 1.0 (white), clamped.
void NormaliseSamples(const uint8_t* in, uint8_t* out, size_t count, uint32_t bits, uint32_t format, bool bigEndian) {
    if (bits == 8) {
        for (size_t i = 0; i < count; ++i) out[i] = in[i] ^ 0x80;
        return;
    }
    const size_t bytes = bits / 8;
    for (size_t i = 0; i < count; ++i, in += bytes, out += 2) {
        uint64_t v = 0;
        for (size_t k = 0; k < bytes; ++k) v |= uint64_t(in[bigEndian ? k : bytes - 1 - k]) << (8 * (bytes - 1 - k));
        uint32_t word;
        if (format == sfFloat) {
            const double value = FloatSample(v, bits);
            word = !(value > 0) ? 0 : value >= 1 ? 65535 : uint32_t(std::lround(value * 65535));
        } else {
            if (format == sfSigned) v ^= uint64_t(1) << (bits - 1);
            word = uint32_t(v >> (bits - 16));
        }
        out[bigEndian ? 0 : 1] = uint8_t(word >> 8);
        out[bigEndian ? 1 : 0] = uint8_t(word);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Colour set-up

void TTIFFGraphic::ConfigureColorManager() {
    const TImageProperties& p = Properties;
    TColorManager& manager = *ColorConverter;
    manager.SourceMode = (p.Flags & ifBigEndian) ? cvByteSwap : TConversionOptions{};
    const uint8_t bits = ManagerBits(p.BitsPerSample, SampleFormat());
    // Indices of more than 8 bits would pick colours a bitmap palette does
    // not hold.
    if (bits == 0 || (p.ColorScheme == csIndexed && bits > 8)) throw EColorConversionError(gsInvalidSampleDepth);

    TColorScheme source = p.ColorScheme;
    // The JPEG decoder delivers colour as red, green, blue, and YCbCr pixels
    // it converts itself in the bitmap's order.
    if ((p.Compression == ckJPEG || p.Compression == ckOldJPEG) && (source == csRGB || source == csYCbCr))
        source = JPEGDeliversBGR(p) ? csBGR : csRGB;
    // The WebP decoder delivers colour in the bitmap's order.
    if (WebPDeliversBGR(p)) source = source == csRGB ? csBGR : csBGRA;
    uint32_t used = SamplesNeeded(source);
    if (p.SamplesPerPixel < used) throw EColorConversionError(gsInvalidPixelDepth);

    // The first extra sample is kept as alpha where the file says it is one
    // (associated alpha stays as stored) and the bitmap can show it: with
    // gray levels and CIELab of whole bytes. Further extra samples, and
    // those of indices and CMYK, are skipped.
    const TCardinalArray extra = ValueList(tagExtraSamples);
    const bool alphaSample = p.SamplesPerPixel > used && !extra.empty() && (extra[0] == 1 || extra[0] == 2) &&
                             bits >= 8 && p.Compression != ckJPEG;
    bool alpha = source == csRGBA || source == csBGRA;
    if (alphaSample && (source == csGray || source == csCIELab)) {
        alpha = true;
        used += 1;
        if (source == csGray) source = csGrayAlpha;
    }
    // Gray levels and indices with an extra sample that shows nothing: the
    // first sample is the pixel.
    if ((source == csGray || source == csIndexed) && p.SamplesPerPixel >= 2) {
        source = csGrayAlpha;
        used = 2;
    }
    if (source == csCIELab) {
        manager.SourceMode |= cvLabByteRange;
        // ICC's L*a*b* stores a and b with an offset of 128.
        if (Value(tagPhotometric, 0) == 9) manager.SourceMode |= cvLabChromaOffset;
        // Relative to the white the file names, else to D50 as TIFF has it.
        const TFloatArray white = FloatList(tagWhitePoint);
        const bool named = white.size() >= 2;
        manager.SetLabWhitePoint(named ? white[0] : 0.3457f, named ? white[1] : 0.3585f);
    }

    TColorScheme target = TargetSchemeFor(source);
    if (alpha && (source == csGrayAlpha || source == csCIELab)) target = csBGRA;
    if (source == csGrayAlpha && p.ColorScheme == csIndexed) target = csIndexed;
    manager.SetSourceBitsPerSample(bits);
    manager.SetTargetBitsPerSample(IsPaletteLike(target) ? TargetBitsFor(source, bits) : bits == 16 ? 8 : bits);
    manager.SetSourceScheme(source);
    manager.SetTargetScheme(target);
    manager.SetSourceSamplesPerPixel(uint8_t(used));
    manager.SetTargetSamplesPerPixel(IsPaletteLike(target) ? 1 : uint8_t(SamplesNeeded(target)));
}

uint32_t TTIFFGraphic::SampleFormat() {
    const TCardinalArray formats = ValueList(tagSampleFormat);
    return formats.empty() ? sfUnsigned : formats[0];
}

void TTIFFGraphic::LoadPalette() {
    TColorManager& manager = *ColorConverter;
    if (manager.TargetScheme() == csGray) {
        SetPalette(manager.CreateGrayscalePalette(Properties.Flags & ifMinIsWhite));
        return;
    }
    if (manager.TargetScheme() != csIndexed) {
        if (manager.SourceScheme() == csYCbCr && Properties.YCbCrSubSampling.size() >= 2)
            manager.SetYCbCrParameters(YCbCrCoefficients, Properties.YCbCrSubSampling[0],
                                       Properties.YCbCrSubSampling[1]);
        return;
    }

    // Three planes of 16-bit values; each plane's place in the file follows
    // from the whole map's count, of which only the first 256 entries count.
    const TTagEntry* map = FindTag(tagColorMap);
    if (!map || map->DataType != 3 || map->DataCount < 3) return;
    const uint32_t perPlane = map->DataCount / 3, used = std::min(perPlane, 256u);
    for (uint32_t plane = 0; plane < 3; ++plane)
        if (!ReadAt(uint64_t(map->Offset) + uint64_t(plane) * perPlane * 2, ColorMap + 256 * plane, used * 2)) return;
    TLogPalette palette = manager.CreateColorPalette({ColorMap, ColorMap + 256, ColorMap + 512}, 6, used, false);

    // Narrow indices are widened by scaling (v * (2^T - 1) / (2^S - 1)), so
    // the colours move to where the scaled indices point.
    const uint32_t sourceMax = (1u << std::min<uint32_t>(manager.SourceBitsPerSample(), 16)) - 1;
    const uint32_t targetMax = (1u << manager.TargetBitsPerSample()) - 1;
    if (sourceMax < targetMax) {
        TLogPalette spread;
        spread.palPalEntry.resize(targetMax + 1);
        for (uint32_t v = 0; v <= sourceMax && v < palette.palPalEntry.size(); ++v)
            spread.palPalEntry[v * targetMax / sourceMax] = palette.palPalEntry[v];
        palette = spread;
    }
    SetPalette(palette);
}

// ---------------------------------------------------------------------------
// The loader

class TTIFFGraphic::TLoader {
public:
    explicit TLoader(TTIFFGraphic& reader)
        : reader_(reader),
          p_(reader.Properties),
          stream_(*reader.SourceStream),
          streamSize_(uint64_t(stream_.Size())) {}

    void Run();

private:
    // What decoding and placing one piece of the image (a chunk of each
    // plane used, at one place of the grid) needs of its own. The loading
    // thread has one, and so has each further thread that decodes pieces.
    struct TWork {
        std::unique_ptr<TDecoder> Decoder;
        // The decoder's work where it answers how far it wrote, so that
        // only the rest of a chunk is cleared.
        std::function<uint8_t*(const uint8_t*, uint8_t*, int32_t, int32_t)> DecodeUpTo;
        // What the JPEG decoder reads of the strip or tile it fills.
        TImageProperties Properties;
        // Decoded chunks, one per plane, and where each plane's rows are.
        std::vector<uint8_t> Chunks, Packed, Units, Picked, Normalised[4], PredictorScratch;
        const uint8_t* PlaneRows[4] = {};
    };

    void PlanLayout();
    void CreateDecoder(TWork& work);
    void CreateDecoderFor(TWork& work, uint32_t options, bool reversed);
    template <class T>
    void UseDecoderUpTo(TWork& work, std::unique_ptr<T> decoder);
    TImageProperties& JPEGProperties(TWork& work);
    void ReadChunkTable();
    void InferByteCounts();
    void ReadOldJPEG();
    void UseOldJPEGStream(std::vector<uint8_t> stream);
    uint64_t ChunkCount() const;
    uint64_t ChunkLength(size_t index, uint32_t rows) const;
    void CheckInputCovers();
    void MapChunks();
    uint64_t UnpackedSize(uint32_t rows) const { return (uint64_t(rows) + unitRows_ - 1) / unitRows_ * lineBytes_; }
    uint32_t DecodedRows(uint32_t y) const {
        return p_.Flags & ifTiled ? chunkLength_ : std::min(chunkLength_, p_.Height - y);
    }
    uint64_t BytesAt(uint32_t offset) const;
    const uint8_t* PackedBytes(uint32_t index, uint64_t count);
    void ReadWindow(uint32_t index, uint64_t count);
    bool DecodesIntoBitmap() const;
    uint32_t UsableCores() const;
    uint32_t ThreadCount() const { return streamed_ ? 1 : UsableCores(); }
    void DecodeAll();
    void DecodeInOrder(TWork& work);
    uint32_t StoredRun(uint32_t strip) const;
    void ReadStoredRun(uint32_t strip, uint32_t count);
    void DecodeOnThreads();
    void DecodePiece(TWork& work, uint32_t piece);
    void DecodeIntoBitmap(TWork& work, uint32_t strip, uint32_t y, uint32_t rows);
    const uint8_t* DecodeChunk(TWork& work, uint32_t index, uint8_t* target, uint32_t rows);
    void Unpack(TWork& work, uint8_t* data, uint64_t count, uint8_t* target, uint64_t unpacked);
    void PlaceChunk(TWork& work, uint32_t x, uint32_t y, uint32_t rows, uint32_t next);
    const void* PreparedRow(TWork& work, uint32_t plane, const uint8_t* row, uint32_t width);
    void PlaceYCbCrChunk(TWork& work, uint32_t x, uint32_t y, uint32_t rows);

    TTIFFGraphic& reader_;
    TImageProperties& p_;
    TStream& stream_;
    const uint64_t streamSize_;

    // The chunk grid: chunk size in pixels, chunks across and down, planes.
    uint32_t chunkWidth_ = 0, chunkLength_ = 0, across_ = 0, down_ = 0, planes_ = 1;
    // A stored line: lineBytes_ bytes holding unitRows_ rows (more than one
    // for subsampled YCbCr, whose lines are rows of data units).
    uint64_t lineBytes_ = 0;
    bool subsampled_ = false;
    uint32_t unitRows_ = 1, unitColumns_ = 1;
    uint32_t planeSamples_ = 1;
    // Pixels of a chunk's row that are decoded (fax rows keep only those
    // inside the image), and the planes the colour manager reads.
    uint32_t decodedWidth_ = 0, planesUsed_ = 1;
    // Stored rows the colour manager cannot take as they are: samples of
    // another format, or pixels with samples it does not read.
    uint32_t sampleFormat_ = 1, usedSamples_ = 1;
    bool normalise_ = false, pick_ = false;

    // The works, the loading thread's first. The chunks are stored as they
    // are (no decoder); the decoder reports how far it wrote; it may write
    // into its packed block. Strips go straight into the bitmap, their red
    // and blue exchanged there.
    std::vector<std::unique_ptr<TWork>> works_;
    bool storedAsIs_ = false, decoderMovesTarget_ = false, decoderWritesSource_ = false, direct_ = false,
         exchange_ = false;
    TCardinalArray offsets_, byteCounts_;
    // An old-style JPEG image's one stream, standing in for its strips.
    std::vector<uint8_t> oldJPEG_;

    // The stream's bytes from viewStart_ to viewEnd_ (offsets of the TIFF
    // data), where every chunk lies.
    uint64_t viewStart_ = 0, viewEnd_ = 0;
    uint8_t* view_ = nullptr;
    TByteBlock mapped_;
    // Chunks read from a stream that is no memory stream as they are
    // decoded rather than all at once: stored ones straight where they are
    // decoded to (no bytes twice), packed ones into a window of the chunks
    // that follow each other in the stream, which stays in the cache until
    // their decoder reads them. windowStart_ and windowEnd_ are offsets of
    // the TIFF data, as the chunks' offsets are.
    bool streamed_ = false;
    TByteBlock windowBlock_;
    const uint8_t* window_ = nullptr;
    uint64_t windowStart_ = 0, windowEnd_ = 0;

    uint32_t rowsDone_ = 0;
};

void TTIFFGraphic::TLoader::Run() {
    PlanLayout();
    works_.push_back(std::make_unique<TWork>());
    CreateDecoder(*works_[0]);
    ReadChunkTable();
    CheckInputCovers();
    MapChunks();

    // Stored strips are read into the rows where the first one lies.
    reader_.SetSizeForOverwrite(
        int(p_.Width), int(p_.Height), false,
        storedAsIs_ && ChunkCount() ? AlignmentPosition(stream_, int64_t(reader_.StartPosition) + offsets_[0]) : 0);
    reader_.LoadPalette();
    direct_ = DecodesIntoBitmap();
    exchange_ = direct_ && reader_.ColorConverter->SourceScheme() != reader_.ColorConverter->TargetScheme();
    // Further threads each decode with a decoder of their own.
    for (uint32_t i = uint32_t(works_.size()), threads = ThreadCount(); i < threads; ++i) {
        works_.push_back(std::make_unique<TWork>());
        CreateDecoder(*works_.back());
    }
    size_t begun = 0;
    const auto endDecoding = [&] {
        std::exception_ptr failure;
        for (size_t i = 0; i < begun; ++i) try {
                works_[i]->Decoder->EndDecode();
            } catch (const Exception&) {
                if (!failure) failure = std::current_exception();
            }
        begun = 0;
        if (failure) std::rethrow_exception(failure);
    };
    try {
        for (; begun < works_.size() && works_[begun]->Decoder; ++begun) works_[begun]->Decoder->BeginDecode();
        DecodeAll();
    } catch (...) {
        try {
            endDecoding();
        } catch (const Exception&) {
            // The first failure is the one to report.
        }
        throw;
    }
    endDecoding();
}

void TTIFFGraphic::TLoader::PlanLayout() {
    const bool separate = p_.PlanarConfig == 2 && p_.SamplesPerPixel > 1;
    planes_ = separate ? p_.SamplesPerPixel : 1;
    planeSamples_ = separate ? 1 : p_.SamplesPerPixel;
    if (p_.Flags & ifTiled) {
        chunkWidth_ = p_.TileWidth;
        chunkLength_ = p_.TileLength;
    } else {
        chunkWidth_ = p_.Width;
        chunkLength_ = p_.RowsPerStrip[0] == 0 ? p_.Height : std::min(p_.RowsPerStrip[0], p_.Height);
    }
    // Old-style JPEG strips are pieces of one stream: the image is decoded
    // as one strip.
    if (p_.Compression == ckOldJPEG) {
        if ((p_.Flags & ifTiled) || separate || reader_.Value(tagJPEGProc, 1) != 1)
            RaiseGraphicErrorFmt(gsUnsupportedFeature, gsCompressionScheme, gsTIFF);
        chunkLength_ = p_.Height;
    }
    // A fax row is decoded for the pixels inside the image only, so that a
    // tile claimed far wider than the image costs nothing.
    decodedWidth_ = IsFax(p_.Compression) ? std::min(chunkWidth_, p_.Width) : chunkWidth_;
    const TColorManager& manager = *reader_.ColorConverter;
    sampleFormat_ = reader_.SampleFormat();
    normalise_ = NeedsNormalising(p_.BitsPerSample, sampleFormat_);
    usedSamples_ = manager.SourceSamplesPerPixel();
    planesUsed_ = separate ? usedSamples_ : 1;
    pick_ = !separate && usedSamples_ < p_.SamplesPerPixel;
    if (pick_ && p_.BitsPerSample % 8 != 0) throw EColorConversionError(gsInvalidPixelDepth);
    across_ = uint32_t((uint64_t(p_.Width) + chunkWidth_ - 1) / chunkWidth_);
    down_ = uint32_t((uint64_t(p_.Height) + chunkLength_ - 1) / chunkLength_);

    // Uncompressed or losslessly packed YCbCr keeps its subsampling; the
    // JPEG decoder delivers whole pixels.
    const TByteArray& sub = p_.YCbCrSubSampling;
    if (manager.SourceScheme() == csYCbCr && sub.size() >= 2 && (sub[0] > 1 || sub[1] > 1)) {
        if (separate) RaiseGraphicErrorFmt(gsUnsupportedFeature, gsSubsampledPlanes, gsTIFF);
        if (p_.BitsPerSample != 8 || sub[0] == 0 || sub[1] == 0) RaiseGraphicErrorFmt(gsInvalidImage, gsTIFF);
        subsampled_ = true;
        unitColumns_ = sub[0];
        unitRows_ = sub[1];
        lineBytes_ = (uint64_t(chunkWidth_) + unitColumns_ - 1) / unitColumns_ * (unitColumns_ * unitRows_ + 2);
    } else {
        lineBytes_ = (uint64_t(decodedWidth_) * p_.BitsPerSample * planeSamples_ + 7) / 8;
    }

    // Decoders count in 32 bits, and sub-byte pixels of a tile must start on
    // a byte of the bitmap's row.
    if (UnpackedSize(chunkLength_) > uint64_t(INT32_MAX) ||
        (across_ > 1 && uint64_t(chunkWidth_) * BitsPerPixel(reader_.PixelFormat()) % 8 != 0))
        RaiseGraphicErrorFmt(gsInvalidImage, gsTIFF);
    p_.BytesPerLine = uint32_t(lineBytes_);
}

void TTIFFGraphic::TLoader::CreateDecoder(TWork& work) {
    const uint32_t options = reader_.Value(tagT4Options, 0);
    const bool reversed = p_.Flags & ifReversedBits;
    CreateDecoderFor(work, options, reversed);
    storedAsIs_ = !work.Decoder;
    if (auto* fax = dynamic_cast<TCCITTDecoder*>(work.Decoder.get())) fax->OutputWidth = decodedWidth_;
}

void TTIFFGraphic::TLoader::CreateDecoderFor(TWork& work, uint32_t options, bool reversed) {
    switch (p_.Compression) {
        case ckNone: return;
        case ckPackBits: UseDecoderUpTo(work, std::make_unique<TPackbitsRLEDecoder>()); return;
        case ckLZ77:
            work.Decoder = std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, true);
            decoderMovesTarget_ = true;
            return;
        case ckLZW: work.Decoder = std::make_unique<TLZWDecoder>(); return;
        case ckFax3:
            work.Decoder = std::make_unique<TCCITTFax3Decoder>(options, chunkWidth_, false, reversed);
            decoderWritesSource_ = true;
            return;
        case ckFax4:
            work.Decoder = std::make_unique<TCCITTFax4Decoder>(reader_.Value(tagT6Options, 0), chunkWidth_, false, reversed);
            decoderWritesSource_ = true;
            return;
        case ckFaxRLE:
        case ckFaxRLEW:
            work.Decoder = std::make_unique<TCCITTMHDecoder>(options, chunkWidth_, p_.Compression == ckFaxRLEW, reversed);
            decoderWritesSource_ = true;
            return;
        case ckJPEG:
            p_.JPEGTables = reader_.ByteArray(tagJPEGTables);
            UseDecoderUpTo(work, std::make_unique<TTIFFJPEGDecoder>(JPEGProperties(work), JPEGDeliversBGR(p_)));
            return;
        case ckOldJPEG:
            UseDecoderUpTo(work, std::make_unique<TTIFFJPEGDecoder>(JPEGProperties(work), JPEGDeliversBGR(p_)));
            return;
        case ckThunderscan: work.Decoder = std::make_unique<TThunderDecoder>(chunkWidth_); return;
        case ckLZMA: UseDecoderUpTo(work, std::make_unique<TLZMADecoder>()); return;
        case ckZSTD: UseDecoderUpTo(work, std::make_unique<TZSTDDecoder>()); return;
        case ckWebP:
            work.Decoder = std::make_unique<TWebPDecoder>(chunkWidth_, p_.SamplesPerPixel, uint32_t(lineBytes_),
                                                          WebPDeliversBGR(p_));
            return;
        case ckJBIG: work.Decoder = std::make_unique<TJBIGDecoder>(chunkWidth_, uint32_t(lineBytes_)); return;
        default: break;
    }
    RaiseGraphicErrorFmt(gsUnsupportedFeature, gsCompressionScheme, gsTIFF);
}

template <class T>
void TTIFFGraphic::TLoader::UseDecoderUpTo(TWork& work, std::unique_ptr<T> decoder) {
    work.DecodeUpTo = [&d = *decoder](const uint8_t* source, uint8_t* target, int32_t packed, int32_t unpacked) {
        return d.DecodeUpTo(source, target, packed, unpacked);
    };
    work.Decoder = std::move(decoder);
}

// The JPEG decoder checks each stream against the strip it fills, from the
// image's properties with the strip's first row; a tile is handed to it as
// an image of one strip.
TImageProperties& TTIFFGraphic::TLoader::JPEGProperties(TWork& work) {
    TImageProperties& properties = work.Properties;
    properties = p_;
    if (p_.Compression == ckOldJPEG) {
        properties.RowsPerStrip = {p_.Height};
    } else if (p_.Flags & ifTiled) {
        properties.Width = chunkWidth_;
        properties.Height = chunkLength_;
        properties.RowsPerStrip = {chunkLength_};
        properties.CurrentRow = 0;
    }
    return properties;
}

void TTIFFGraphic::TLoader::ReadChunkTable() {
    const bool tiled = p_.Flags & ifTiled;
    offsets_ = reader_.ValueList(tiled ? tagTileOffsets : tagStripOffsets);
    byteCounts_ = reader_.ValueList(tiled ? tagTileByteCounts : tagStripByteCounts);
    p_.StripCount = uint32_t(offsets_.size());
    // Every tile must be listed, so that the work of a tile grid follows the
    // file (missing strips only leave their rows empty).
    if (tiled && offsets_.size() < uint64_t(across_) * down_ * planes_) RaiseGraphicErrorFmt(gsInvalidImage, gsTIFF);
    if (byteCounts_.size() < offsets_.size()) InferByteCounts();
    if (p_.Compression == ckOldJPEG) ReadOldJPEG();
}

// Chunks without a byte count reach to the next chunk or the file's end.
void TTIFFGraphic::TLoader::InferByteCounts() {
    TCardinalArray sorted = offsets_;
    std::sort(sorted.begin(), sorted.end());
    const size_t known = byteCounts_.size();
    byteCounts_.resize(offsets_.size());
    for (size_t i = known; i < offsets_.size(); ++i) {
        const auto next = std::upper_bound(sorted.begin(), sorted.end(), offsets_[i]);
        const uint64_t end = next != sorted.end() ? *next : streamSize_ - reader_.StartPosition;
        byteCounts_[i] = uint32_t(std::min<uint64_t>(end - std::min<uint64_t>(end, offsets_[i]), UINT32_MAX));
    }
}

// Old-style JPEG as libtiff reads it: the stream JPEGInterchangeFormat
// points at when it is whole, else one made of the header it points at, the
// tables of the fields and the strips' scan data. It takes the place of the
// strips: one chunk of the whole image.
void TTIFFGraphic::TLoader::ReadOldJPEG() {
    TOldJPEGParts parts;
    parts.Width = p_.Width;
    parts.Height = p_.Height;
    parts.Components = p_.SamplesPerPixel;
    if (const TByteArray& sub = p_.YCbCrSubSampling; p_.ColorScheme == csYCbCr && sub.size() >= 2) {
        parts.HorizontalSampling = sub[0];
        parts.VerticalSampling = sub[1];
    }
    parts.RestartInterval = reader_.Value(tagJPEGRestartInterval, 0);
    const uint64_t fileBytes = streamSize_ - reader_.StartPosition;
    if (const uint64_t header = reader_.Value(tagJPEGInterchangeFormat, 0); header > 0 && header < fileBytes) {
        const uint64_t length = reader_.Value(tagJPEGInterchangeFormatLength, 0);
        parts.Header.resize(std::min(length ? length : fileBytes, fileBytes - header));
        reader_.ReadAt(header, parts.Header.data(), parts.Header.size());
        if (JPEGHasScan(parts.Header)) {
            UseOldJPEGStream(std::move(parts.Header));
            return;
        }
    }
    // Tables: 64 quantisation values, or 16 code counts and their values.
    const auto tables = [this](uint16_t tag, bool huffman) {
        std::vector<std::vector<uint8_t>> found;
        for (const uint32_t offset : reader_.ValueList(tag)) {
            std::vector<uint8_t> table(huffman ? 16 : 64);
            if (found.size() == 4 || !reader_.ReadAt(offset, table.data(), table.size())) break;
            if (huffman) {
                size_t values = 0;
                for (uint8_t count : table) values += count;
                table.resize(16 + std::min<size_t>(values, 256));
                if (!reader_.ReadAt(uint64_t(offset) + 16, table.data() + 16, table.size() - 16)) break;
            }
            found.push_back(std::move(table));
        }
        return found;
    };
    parts.QuantTables = tables(tagJPEGQTables, false);
    parts.DCTables = tables(tagJPEGDCTables, true);
    parts.ACTables = tables(tagJPEGACTables, true);
    std::vector<uint8_t> scans;
    std::vector<size_t> ends;
    for (size_t i = 0; i < offsets_.size(); ++i) {
        const uint64_t size = std::min<uint64_t>(byteCounts_[i], BytesAt(offsets_[i]));
        scans.resize(scans.size() + size);
        reader_.ReadAt(offsets_[i], scans.data() + scans.size() - size, size);
        ends.push_back(scans.size());
    }
    for (size_t i = 0; i < ends.size(); ++i) {
        const size_t start = i ? ends[i - 1] : 0;
        parts.Scans.push_back({scans.data() + start, ends[i] - start});
    }
    UseOldJPEGStream(OldJPEGStream(parts));
}

void TTIFFGraphic::TLoader::UseOldJPEGStream(std::vector<uint8_t> stream) {
    oldJPEG_ = std::move(stream);
    offsets_ = {0};
    byteCounts_ = {uint32_t(std::min<size_t>(oldJPEG_.size(), UINT32_MAX))};
}

// The bytes of the stream from a chunk's offset to its end (of the old-style
// JPEG stream, where it stands in for the strips).
uint64_t TTIFFGraphic::TLoader::BytesAt(uint32_t offset) const {
    if (!oldJPEG_.empty()) return offset < oldJPEG_.size() ? oldJPEG_.size() - offset : 0;
    const uint64_t start = uint64_t(reader_.StartPosition) + offset;
    return start < streamSize_ ? streamSize_ - start : 0;
}

// The bytes a chunk takes in the stream: its byte count, or the unpacked
// size when it is stored as it is, cut at the end of the stream.
uint64_t TTIFFGraphic::TLoader::ChunkLength(size_t index, uint32_t rows) const {
    const uint64_t stored = storedAsIs_ ? UnpackedSize(rows) : byteCounts_[index];
    return std::min(stored, BytesAt(offsets_[index]));
}

uint64_t TTIFFGraphic::TLoader::ChunkCount() const {
    return std::min<uint64_t>(uint64_t(across_) * down_ * planes_, offsets_.size());
}

// Allocation follows the input: the chunks' bytes in the stream, each byte
// counted once, must be able to encode the image at the compression's best
// ratio before anything is allocated for it.
void TTIFFGraphic::TLoader::CheckInputCovers() {
    std::vector<std::pair<uint64_t, uint64_t>> extents;
    // Chunks outside the stream are missing data: they add nothing to the
    // bytes present nor to the stretch of the stream that is read.
    for (size_t i = 0; i < ChunkCount(); ++i)
        if (const uint64_t length = ChunkLength(i, chunkLength_); length > 0)
            extents.push_back({offsets_[i], offsets_[i] + length});
    std::sort(extents.begin(), extents.end());
    uint64_t present = 0, covered = 0;
    for (const auto& [start, end] : extents) {
        present += end - std::min(end, std::max(start, covered));
        covered = std::max(covered, end);
    }
    viewStart_ = extents.empty() ? 0 : extents.front().first;
    viewEnd_ = covered;

    const uint32_t lastRows = p_.Height - (down_ - 1) * chunkLength_;
    const double perPlane = p_.Flags & ifTiled
                                ? double(across_) * down_ * UnpackedSize(chunkLength_)
                                : double(down_ - 1) * UnpackedSize(chunkLength_) + UnpackedSize(lastRows);
    const double ratio = IsFax(p_.Compression) ? 8.0 * lineBytes_ : BestRatio(p_.Compression);
    if (double(present) * ratio < perPlane * planes_) RaiseGraphicErrorFmt(gsInvalidImage, gsTIFF);
}

// The stream's bytes from the first chunk to the end of the last: a memory
// stream's own, else read in one piece for the threads that share the
// chunks. Chunks decoded on one thread are read as they are decoded instead,
// and so are chunks stored as they are; so are separate planes, whose
// chunks lie apart in the stream.
void TTIFFGraphic::TLoader::MapChunks() {
    if (!oldJPEG_.empty()) {
        view_ = oldJPEG_.data();
        return;
    }
    const uint64_t start = uint64_t(reader_.StartPosition) + viewStart_;
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream_)) {
        view_ = memory->Memory() + start;
        return;
    }
    if (storedAsIs_ || (planesUsed_ == 1 && UsableCores() == 1)) {
        streamed_ = true;
        return;
    }
    stream_.SetPosition(int64_t(start));
    // The decoders only read their source.
    view_ = const_cast<uint8_t*>(StreamBytes(stream_, size_t(viewEnd_ - viewStart_), mapped_));
}

// Strips whose rows are the bitmap's rows as they are (8-bit samples in the
// bitmap's blue-first order, as the JPEG decoder delivers them, in rows
// without padding, no prediction to undo) are decoded straight into the
// bitmap, saving a copy; so are red-first ones, whose red and blue the
// colour manager exchanges there, while the strip is still in the cache.
bool TTIFFGraphic::TLoader::DecodesIntoBitmap() const {
    const TColorManager& manager = *reader_.ColorConverter;
    const TColorScheme scheme = manager.SourceScheme(), target = manager.TargetScheme();
    const bool layout = target == scheme ? scheme == csBGR || scheme == csBGRA
                                         : (scheme == csRGB && target == csBGR) || (scheme == csRGBA && target == csBGRA);
    return !(p_.Flags & ifTiled) && planes_ == 1 && !subsampled_ && layout && manager.SourceBitsPerSample() == 8 &&
           manager.TargetBitsPerSample() == 8 && manager.SourceSamplesPerPixel() == manager.TargetSamplesPerPixel() &&
           !Has(manager.TargetMode, cvApplyGamma) && lineBytes_ == uint64_t(reader_.RowBytes()) && p_.Predictor != 2 &&
           !pick_ && !normalise_;
}

// Pieces are decoded on every core the process may use, when the image is
// large enough to be worth the threads and has pieces to share.
uint32_t TTIFFGraphic::TLoader::UsableCores() const {
    constexpr uint64_t ParallelBytes = uint64_t(1) << 20;
    constexpr uint32_t MostThreads = 16;
    const uint64_t pieces = uint64_t(across_) * down_;
    // Asked before the bitmap has its size.
    const uint64_t imageBytes = uint64_t(p_.Width) * BitsPerPixel(reader_.PixelFormat()) / 8 * p_.Height;
    if (pieces < 2 || imageBytes < ParallelBytes) return 1;
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) != 0) return 1;
    return uint32_t(std::min<uint64_t>({uint64_t(CPU_COUNT(&cores)), pieces, MostThreads}));
}

void TTIFFGraphic::TLoader::DecodeAll() {
    for (auto& work : works_)
        if (!direct_) work->Chunks.resize(UnpackedSize(chunkLength_) * planesUsed_ + pngfilters::FilterPadding);
    try {
        if (works_.size() > 1)
            DecodeOnThreads();
        else
            DecodeInOrder(*works_[0]);
    } catch (...) {
        // Rows not reached yet are cleared, so a failed load shows no stale memory.
        for (uint32_t y = rowsDone_; y < p_.Height; ++y)
            std::memset(reader_.ScanLine(int(y)), 0, size_t(reader_.RowBytes()));
        throw;
    }
}

// The pieces one after another, rows done counted after each row of them.
void TTIFFGraphic::TLoader::DecodeInOrder(TWork& work) {
    for (uint32_t row = 0; row < down_;) {
        const uint32_t y = row * chunkLength_;
        p_.CurrentRow = y;
        p_.CurrentStrip = row;
        if (const uint32_t run = StoredRun(row); run > 0) {
            ReadStoredRun(row, run);
            row += run;
        } else {
            for (uint32_t column = 0; column < across_; ++column) DecodePiece(work, row * across_ + column);
            ++row;
        }
        rowsDone_ = std::min(row * chunkLength_, p_.Height);
    }
}

// How many whole stored strips from this one on follow each other in the
// stream as their rows follow each other in the bitmap, up to 2 MiB of
// them (or the one strip, when it is longer): a run is read as one, where a
// strip of a row or a few would cost a read of its own. None when this
// strip is not whole or not stored as it is.
uint32_t TTIFFGraphic::TLoader::StoredRun(uint32_t strip) const {
    constexpr uint64_t RunBytes = uint64_t(2) << 20;
    if (!direct_ || !streamed_ || !storedAsIs_) return 0;
    uint32_t count = 0;
    uint64_t bytes = 0;
    for (uint32_t i = strip; i < down_ && i < ChunkCount(); ++i, ++count) {
        const uint32_t rows = DecodedRows(i * chunkLength_);
        const uint64_t size = UnpackedSize(rows);
        if (ChunkLength(i, rows) != size || (count && (offsets_[i] != offsets_[i - 1] + UnpackedSize(chunkLength_) ||
                                                       bytes + size > RunBytes)))
            break;
        bytes += size;
    }
    return count;
}

// Red-first pixels are read in pieces of 256 KiB, each exchanged while it is
// still in the cache: exchanging megabytes after they are all read costs
// half as much again as the read.
void TTIFFGraphic::TLoader::ReadStoredRun(uint32_t strip, uint32_t count) {
    constexpr uint64_t PieceBytes = uint64_t(256) << 10;
    const uint32_t y = strip * chunkLength_, rows = std::min(count * chunkLength_, p_.Height - y);
    uint8_t* const target = reader_.ScanLine(int(y));
    // The strips are 8-bit samples, one byte each.
    const uint64_t bytes = UnpackedSize(rows), pixelBytes = reader_.ColorConverter->SourceSamplesPerPixel();
    const uint64_t piece = exchange_ ? PieceBytes / pixelBytes * pixelBytes : bytes;
    stream_.SetPosition(int64_t(reader_.StartPosition) + offsets_[strip]);
    for (uint64_t done = 0; done < bytes; done += piece) {
        uint8_t* const at = target + done;
        const uint64_t size = std::min(piece, bytes - done);
        stream_.ReadBuffer(at, int64_t(size));
        if (p_.Flags & ifReversedBits) ReverseBits(at, size);
        if (exchange_) reader_.ColorConverter->ConvertRow({at}, at, uint32_t(size / pixelBytes), 0xFF);
    }
}

// The pieces shared by the threads, which take the next one in order as
// they finish one, the loading thread among them; it waits until every
// piece is placed. The outcome is the one of decoding in order: when pieces
// fail, the first of them in order is the failure reported, and the rows
// from its row of pieces on are cleared, whatever later pieces did.
void TTIFFGraphic::TLoader::DecodeOnThreads() {
    const uint32_t pieces = across_ * down_;
    // The colour manager selects its converter once, before the threads
    // share it; a failure there is left to the first piece to meet, in order.
    if (!direct_ || exchange_) try {
            reader_.ColorConverter->ConvertRow({}, nullptr, 0, 0xFF);
        } catch (const Exception&) {
            DecodeInOrder(*works_[0]);
            return;
        }
    std::atomic<uint32_t> next{0}, firstFailed{pieces};
    std::vector<std::exception_ptr> failures(pieces);
    const auto decode = [&](TWork& work) {
        for (uint32_t piece; (piece = next.fetch_add(1)) < firstFailed.load();) {
            try {
                DecodePiece(work, piece);
            } catch (...) {
                failures[piece] = std::current_exception();
                uint32_t first = firstFailed.load();
                while (piece < first && !firstFailed.compare_exchange_weak(first, piece)) {
                }
            }
        }
    };
    std::vector<std::thread> threads;
    for (size_t i = 1; i < works_.size(); ++i) try {
            threads.emplace_back(decode, std::ref(*works_[i]));
        } catch (const std::system_error&) {
            // Fewer threads share the pieces.
            break;
        }
    decode(*works_[0]);
    for (std::thread& thread : threads) thread.join();

    const uint32_t failed = firstFailed.load();
    const uint32_t row = std::min(failed, pieces - 1) / across_;
    p_.CurrentRow = row * chunkLength_;
    p_.CurrentStrip = row;
    if (failed < pieces) {
        rowsDone_ = row * chunkLength_;
        std::rethrow_exception(failures[failed]);
    }
    rowsDone_ = p_.Height;
}

// Decodes and places one piece: the chunk of each plane used at its place.
void TTIFFGraphic::TLoader::DecodePiece(TWork& work, uint32_t piece) {
    const uint32_t row = piece / across_, column = piece % across_;
    const uint32_t y = row * chunkLength_;
    const uint32_t rows = DecodedRows(y);
    if (!(p_.Flags & ifTiled)) work.Properties.CurrentRow = y;
    if (direct_) {
        DecodeIntoBitmap(work, row, y, rows);
        return;
    }
    for (uint32_t plane = 0; plane < planesUsed_; ++plane)
        work.PlaneRows[plane] = DecodeChunk(work, (plane * down_ + row) * across_ + column,
                                            work.Chunks.data() + plane * UnpackedSize(chunkLength_), rows);
    PlaceChunk(work, column * chunkWidth_, y, std::min(chunkLength_, p_.Height - y), piece + 1);
}

void TTIFFGraphic::TLoader::DecodeIntoBitmap(TWork& work, uint32_t strip, uint32_t y, uint32_t rows) {
    uint8_t* target = reader_.ScanLine(int(y));
    // Rows stored as they are come back in place. The exchange reads each
    // pixel before it writes it, so it may run in place too.
    const uint8_t* decoded = DecodeChunk(work, strip, target, rows);
    if (exchange_)
        reader_.ColorConverter->ConvertRow({decoded}, target, p_.Width * rows, 0xFF);
    else if (decoded != target)
        std::memcpy(target, decoded, UnpackedSize(rows));
}

// Decodes one chunk into target and answers where its rows are: data stored
// as it is is used in place.
const uint8_t* TTIFFGraphic::TLoader::DecodeChunk(TWork& work, uint32_t index, uint8_t* target, uint32_t rows) {
    const uint64_t unpacked = UnpackedSize(rows);
    const uint64_t count = index < ChunkCount() ? ChunkLength(index, rows) : 0;
    // Bits stored least significant first are turned round in a copy, before
    // any decoder sees them (the fax decoders turn them themselves). libtiff
    // writes and reads JBIG streams with their bits the other way round from
    // the FillOrder it records, and so do its peers.
    const bool reversed = (p_.Flags & ifReversedBits) != (p_.Compression == ckJBIG);
    if (streamed_ && storedAsIs_) {
        if (count) {
            stream_.SetPosition(int64_t(reader_.StartPosition) + offsets_[index]);
            stream_.ReadBuffer(target, int64_t(count));
            if (reversed) ReverseBits(target, count);
        }
        // Rows beyond the end of the stream are zero.
        std::memset(target + count, 0, unpacked - count);
        return target;
    }
    // The decoders only read their source.
    auto* data = const_cast<uint8_t*>(count ? PackedBytes(index, count) : nullptr);
    if (count && reversed && !IsFax(p_.Compression)) {
        work.Packed.assign(data, data + count);
        ReverseBits(work.Packed.data(), count);
        data = work.Packed.data();
    }
    if (storedAsIs_) {
        if (count == unpacked) return data;
        // Rows beyond the end of the stream are zero.
        if (count) std::memcpy(target, data, count);
        std::memset(target + count, 0, unpacked - count);
        return target;
    }
    if (count == 0) {
        std::memset(target, 0, unpacked);
        return target;
    }
    Unpack(work, data, count, target, unpacked);
    const uint32_t bits = p_.BitsPerSample;
    const bool bigEndian = p_.Flags & ifBigEndian;
    if (p_.Predictor == 2 && !subsampled_ && (bits == 8 || bits == 16 || bits == 32))
        for (uint32_t r = 0; r < rows; ++r)
            UndoPrediction(target + r * lineBytes_, chunkWidth_, planeSamples_, uint8_t(bits), bigEndian);
    if (p_.Predictor == 3 && sampleFormat_ == sfFloat && bits % 8 == 0)
        for (uint32_t r = 0; r < rows; ++r)
            UndoFloatPrediction(target + r * lineBytes_, size_t(chunkWidth_) * planeSamples_, bits / 8, planeSamples_,
                                bigEndian, work.PredictorScratch);
    return target;
}

// A chunk's bytes in the stream: in the view of every chunk, or in the
// window, read first when the chunk is not there.
const uint8_t* TTIFFGraphic::TLoader::PackedBytes(uint32_t index, uint64_t count) {
    const uint64_t start = offsets_[index];
    if (!streamed_) return view_ + (start - viewStart_);
    if (start < windowStart_ || start + count > windowEnd_) ReadWindow(index, count);
    return window_ + (start - windowStart_);
}

// Reads a chunk and the chunks after it that follow it in the stream, up to
// a window of 256 KiB (or the one chunk, when it is longer): one read for
// many small chunks, and one that stays in the cache for large ones. The
// gap before a chunk is read along only when the chunk is at least as long,
// so that no more than twice the chunks' bytes are read, however a damaged
// file places them.
void TTIFFGraphic::TLoader::ReadWindow(uint32_t index, uint64_t count) {
    constexpr uint64_t WindowBytes = uint64_t(256) << 10;
    const uint64_t start = offsets_[index];
    uint64_t end = start + count;
    for (uint64_t i = index + 1; i < ChunkCount(); ++i) {
        const uint64_t at = offsets_[i], length = ChunkLength(i, chunkLength_);
        if (at < end || at - end > length || at + length - start > WindowBytes) break;
        end = at + length;
    }
    stream_.SetPosition(int64_t(reader_.StartPosition + start));
    window_ = StreamBytes(stream_, size_t(end - start), windowBlock_);
    windowStart_ = start;
    windowEnd_ = end;
}

// Runs the decoder over one chunk's packed bytes; what it leaves unwritten is
// zero. A deflate chunk is one whole zlib stream, inflated in one call where
// it is sound; damaged or short ones go through the stream decoder, which
// keeps what it could decode.
void TTIFFGraphic::TLoader::Unpack(TWork& work, uint8_t* data, uint64_t count, uint8_t* target, uint64_t unpacked) {
    size_t consumed;
    if (p_.Compression == ckLZ77 && InflateWhole(data, count, target, unpacked, consumed)) return;
    const auto packed = int32_t(std::min<uint64_t>(count, INT32_MAX));
    if (work.DecodeUpTo) {
        uint8_t* end = work.DecodeUpTo(data, target, packed, int32_t(unpacked));
        std::memset(end, 0, unpacked - uint64_t(end - target));
        return;
    }
    if (!decoderMovesTarget_) std::memset(target, 0, unpacked);
    // Fax decoders may reverse the bits of their block in place.
    if (decoderWritesSource_) {
        work.Packed.assign(data, data + count);
        data = work.Packed.data();
    }
    uint8_t* dest = target;
    work.Decoder->Decode(data, dest, packed, int32_t(unpacked));
    if (decoderMovesTarget_) std::memset(dest, 0, unpacked - uint64_t(dest - target));
}

// Converts a chunk's rows into the bitmap. Placing is bound by the stores
// into the bitmap, so two kinds of loads ride along: the bitmap rows a few
// rows ahead (the rows of a tile lie too far apart for the processor to see
// them coming), and a share of the packed bytes of the chunk that is decoded
// next (first plane only), so that its decoder does not wait for them.
// A chunk of one row has nothing to spread that share over, and fetching a
// whole chunk at once only competes with the stores.
void TTIFFGraphic::TLoader::PlaceChunk(TWork& work, uint32_t x, uint32_t y, uint32_t rows, uint32_t next) {
    if (subsampled_) {
        PlaceYCbCrChunk(work, x, y, rows);
        return;
    }
    const uint32_t width = std::min(chunkWidth_, p_.Width - x);
    const size_t targetOffset = size_t(x) * BitsPerPixel(reader_.PixelFormat()) / 8;
    const size_t targetBytes = (size_t(width) * BitsPerPixel(reader_.PixelFormat()) + 7) / 8;
    constexpr uint32_t RowsAhead = 4;
    // Stored chunks are read in order anyway, and a strip's rows follow
    // each other: the processor sees those coming.
    const bool rowsAhead = across_ > 1;
    const uint64_t nextLength = view_ && !storedAsIs_ && rows > 1 && next < uint64_t(across_) * down_ &&
                                        next < ChunkCount()
                                    ? ChunkLength(next, rows)
                                    : 0;
    const uint8_t* nextPacked = nextLength ? view_ + (offsets_[next] - viewStart_) : nullptr;
    const uint64_t share = (nextLength + rows - 1) / rows;
    const void* planes[4];
    for (uint32_t r = 0; r < rows; ++r) {
        if (rowsAhead && r + RowsAhead < rows)
            Prefetch(reader_.ScanLine(int(y + r + RowsAhead)) + targetOffset, targetBytes);
        if (const uint64_t done = std::min(r * share, nextLength); done < nextLength)
            Prefetch(nextPacked + done, std::min(share, nextLength - done));
        for (uint32_t plane = 0; plane < planesUsed_; ++plane)
            planes[plane] = PreparedRow(work, plane, work.PlaneRows[plane] + r * lineBytes_, width);
        reader_.ColorConverter->ConvertRow(TColorManager::TSourceRows(planes, planesUsed_),
                                           reader_.ScanLine(int(y + r)) + targetOffset, width, 0xFF);
    }
}

// A stored row as the colour manager reads it: the samples it uses of each
// pixel, in a format it takes.
const void* TTIFFGraphic::TLoader::PreparedRow(TWork& work, uint32_t plane, const uint8_t* row, uint32_t width) {
    const uint32_t bytes = p_.BitsPerSample / 8;
    uint32_t samples = planeSamples_;
    if (pick_) {
        const size_t stored = size_t(p_.SamplesPerPixel) * bytes, kept = size_t(usedSamples_) * bytes;
        work.Picked.resize(width * kept);
        for (size_t x = 0; x < width; ++x) std::memcpy(work.Picked.data() + x * kept, row + x * stored, kept);
        row = work.Picked.data();
        samples = usedSamples_;
    }
    if (!normalise_) return row;
    std::vector<uint8_t>& out = work.Normalised[plane];
    out.resize(size_t(width) * samples * 2);
    NormaliseSamples(row, out.data(), size_t(width) * samples, p_.BitsPerSample, sampleFormat_, p_.Flags & ifBigEndian);
    return out.data();
}

// Subsampled YCbCr is stored in data units: the luma samples of a block of
// unitColumns_ by unitRows_ pixels, then its Cb and Cr. Each row of units is
// spread into whole Y, Cb, Cr pixels first.
void TTIFFGraphic::TLoader::PlaceYCbCrChunk(TWork& work, uint32_t x, uint32_t y, uint32_t rows) {
    const uint32_t width = std::min(chunkWidth_, p_.Width - x);
    const size_t targetOffset = size_t(x) * BitsPerPixel(reader_.PixelFormat()) / 8;
    const uint32_t lumaCount = unitColumns_ * unitRows_;
    std::vector<uint8_t>& units = work.Units;
    units.resize(size_t(unitRows_) * width * 3);
    for (uint32_t first = 0; first < rows; first += unitRows_) {
        const uint8_t* unit = work.PlaneRows[0] + first / unitRows_ * lineBytes_;
        for (uint32_t block = 0; block * unitColumns_ < width; ++block, unit += lumaCount + 2)
            for (uint32_t dy = 0; dy < unitRows_; ++dy)
                for (uint32_t dx = 0; dx < unitColumns_ && block * unitColumns_ + dx < width; ++dx) {
                    uint8_t* pixel = units.data() + (size_t(dy) * width + block * unitColumns_ + dx) * 3;
                    pixel[0] = unit[dy * unitColumns_ + dx];
                    pixel[1] = unit[lumaCount];
                    pixel[2] = unit[lumaCount + 1];
                }
        for (uint32_t dy = 0; dy < unitRows_ && first + dy < rows; ++dy)
            reader_.ColorConverter->ConvertRow({units.data() + size_t(dy) * width * 3},
                                               reader_.ScanLine(int(y + first + dy)) + targetOffset, width, 0xFF);
    }
}

// ---------------------------------------------------------------------------
// Loading

void TTIFFGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    StartPosition = uint32_t(stream.Position());
    if (!ReadProperties(stream, 0)) RaiseGraphicErrorFmt(gsInvalidImage, gsTIFF);
    ConfigureColorManager();
    SetPixelFormat(ColorConverter->GetPixelFormat(1));
    CheckImageSize(Properties.Width, Properties.Height, gsTIFF);
    TLoader(*this).Run();
}
