// Tagged Image File Format: the header, the directory chain and the entry
// values of either byte order, and the image properties of any directory.
// Loading the pixel data lives in TIFFLoad.cpp.
#include "formats/TIFF.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "GraphicFormats.h"

using namespace tiff;

namespace {

static_assert(std::endian::native == std::endian::little, "little-endian entries are read as they lie in memory");

// Bytes of one value of a field type; 0 for types this reader does not know.
// Types 13 (IFD) and 16 to 18 (BigTIFF's LONG8, SLONG8 and IFD8) hold
// unsigned offsets and numbers.
uint32_t TypeSize(uint16_t type) {
    static constexpr uint8_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
    return type < std::size(sizes) ? sizes[type] : 0;
}

bool IsByteType(uint16_t type) { return type == 1 || type == 2 || type == 6 || type == 7; }

uint16_t Load16(const uint8_t* p, bool swap) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return swap ? __builtin_bswap16(v) : v;
}

uint32_t Load32(const uint8_t* p, bool swap) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return swap ? __builtin_bswap32(v) : v;
}

uint64_t Load64(const uint8_t* p, bool swap) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return swap ? __builtin_bswap64(v) : v;
}

// The value at p of a known type as a number: rationals divided out (a zero
// denominator gives 0), FLOAT and DOUBLE as they are.
double NumberAt(const uint8_t* p, uint16_t type, bool swap) {
    switch (type) {
        case 3: return Load16(p, swap);
        case 4:
        case 13: return Load32(p, swap);
        case 16:
        case 18: return double(Load64(p, swap));
        case 17: return double(int64_t(Load64(p, swap)));
        case 5: {
            const uint32_t denominator = Load32(p + 4, swap);
            return denominator == 0 ? 0.0 : double(Load32(p, swap)) / denominator;
        }
        case 6: return int8_t(*p);
        case 8: return int16_t(Load16(p, swap));
        case 9: return int32_t(Load32(p, swap));
        case 10: {
            const auto denominator = int32_t(Load32(p + 4, swap));
            return denominator == 0 ? 0.0 : double(int32_t(Load32(p, swap))) / denominator;
        }
        case 11: return std::bit_cast<float>(Load32(p, swap));
        case 12: return std::bit_cast<double>(Load64(p, swap));
        default: return *p;
    }
}

// The value at p as an unsigned 32-bit number: integers keep their bit
// pattern, other numbers are limited to the range (NaN gives 0).
uint32_t CardinalAt(const uint8_t* p, uint16_t type, bool swap) {
    switch (type) {
        case 3:
        case 8: return Load16(p, swap);
        case 4:
        case 9:
        case 13: return Load32(p, swap);
        case 16:
        case 18: return uint32_t(std::min<uint64_t>(Load64(p, swap), UINT32_MAX));
        case 5:
        case 10:
        case 11:
        case 12:
        case 17: {
            const double value = NumberAt(p, type, swap);
            return value > 0 ? uint32_t(std::min(value, 4294967295.0)) : 0;
        }
        default: return *p;
    }
}

// Each of an entry's values converted on its own.
template <class T, class Convert>
std::vector<T> ConvertValues(const TByteArray& bytes, const TTagEntry& entry, bool swap, Convert convert) {
    const uint32_t size = TypeSize(entry.DataType);
    std::vector<T> values(entry.DataCount);
    for (size_t i = 0; i < values.size(); ++i) values[i] = convert(bytes.data() + i * size, entry.DataType, swap);
    return values;
}

TCompressionKind CompressionKind(uint32_t value) {
    switch (value) {
        case 1: return ckNone;
        case 2: return ckFaxRLE;
        case 3: return ckFax3;
        case 4: return ckFax4;
        case 5: return ckLZW;
        case 6: return ckOldJPEG;
        case 7: return ckJPEG;
        case 8:
        case 32946: return ckLZ77;
        case 32766: return ckNeXT;
        case 32771: return ckFaxRLEW;
        case 32773: return ckPackBits;
        case 32809: return ckThunderscan;
        case 32895: return ckIT8CTPAD;
        case 32896: return ckIT8LW;
        case 32897: return ckIT8MP;
        case 32898: return ckIT8BL;
        case 32908: return ckPixarFilm;
        case 32909: return ckPixarLog;
        case 32947: return ckDCS;
        case 34661: return ckJBIG;
        case 34925: return ckLZMA;
        case 50000: return ckZSTD;
        case 50001: return ckWebP;
        default: return ckUnknown;
    }
}

TColorScheme PhotometricScheme(uint8_t photometric, uint8_t samplesPerPixel) {
    switch (photometric) {
        case 0:
        case 1: return csGray;
        case 2: return samplesPerPixel >= 4 ? csRGBA : csRGB;
        case 3: return csIndexed;
        case 5: return csCMYK;
        case 6: return csYCbCr;
        case 8:
        case 9: return csCIELab;
        default: return csUnknown;
    }
}

}  // namespace

const TGraphicClassDesc TTIFFGraphic::ClassDesc = {
    "TTIFFGraphic", [] { return std::unique_ptr<TGraphic>(new TTIFFGraphic); }, &TTIFFGraphic::ProbeStream,
    TFormatGraphic::StaticClass()};

bool TTIFFGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    const int64_t size = stream.Size() - start;
    uint8_t header[8];
    bool answer = false;
    if (size > 8 && stream.Read(header, 8) == 8) {
        const bool little = header[0] == 'I' && header[1] == 'I';
        const bool big = header[0] == 'M' && header[1] == 'M';
        const uint16_t version = Load16(header + 2, big);
        uint8_t bigHeader[8];
        if (version == 42)
            answer = (little || big) && Load32(header + 4, big) < size;
        else if (version == 43 && size > 16 && stream.Read(bigHeader, 8) == 8)
            answer = (little || big) && Load16(header + 4, big) == 8 && Load64(bigHeader, big) < uint64_t(size);
    }
    stream.SetPosition(start);
    return answer;
}

// ---------------------------------------------------------------------------
// Directories

bool TTIFFGraphic::ReadAt(uint64_t offset, void* buffer, uint64_t count) {
    if (offset > uint64_t(SourceStream->Size())) return false;
    const uint64_t position = uint64_t(StartPosition) + offset;
    if (position > uint64_t(SourceStream->Size()) || count > uint64_t(SourceStream->Size()) - position) return false;
    SourceStream->SetPosition(int64_t(position));
    SourceStream->ReadBuffer(buffer, int64_t(count));
    return true;
}

namespace {

// Directory layout: classic TIFF counts entries in 16 bits and keeps 4 bytes
// of values in a 12-byte entry; BigTIFF counts in 64 bits and keeps 8 bytes
// in a 20-byte entry, with 64-bit offsets.
struct TDirectoryLayout {
    uint32_t CountSize, EntrySize, ValueSize;
};

TDirectoryLayout LayoutOf(uint32_t version) {
    return version == 43 ? TDirectoryLayout{8, 20, 8} : TDirectoryLayout{2, 12, 4};
}

}  // namespace

bool TTIFFGraphic::ReadDirectory(uint64_t offset) {
    Entries.clear();
    const bool swap = Properties.Flags & ifBigEndian;
    const TDirectoryLayout layout = LayoutOf(Properties.FormatVersion);
    uint8_t countBytes[8];
    if (!ReadAt(offset, countBytes, layout.CountSize)) return false;
    const uint64_t count = layout.CountSize == 8 ? Load64(countBytes, swap) : Load16(countBytes, swap);
    // A directory cut short by the end of the file keeps its whole entries.
    const uint64_t first = offset + layout.CountSize;
    const uint64_t room = (uint64_t(SourceStream->Size()) - StartPosition - first) / layout.EntrySize;
    std::vector<uint8_t> raw(std::min(count, room) * layout.EntrySize);
    ReadAt(first, raw.data(), raw.size());
    Entries.resize(raw.size() / layout.EntrySize);
    for (size_t i = 0; i < Entries.size(); ++i) {
        const uint8_t* at = raw.data() + i * layout.EntrySize;
        TTagEntry& entry = Entries[i];
        entry.Tag = Load16(at, swap);
        entry.DataType = Load16(at + 2, swap);
        const uint64_t dataCount = layout.CountSize == 8 ? Load64(at + 4, swap) : Load32(at + 4, swap);
        entry.DataCount = uint32_t(std::min<uint64_t>(dataCount, UINT32_MAX));
        const uint8_t* value = at + layout.EntrySize - layout.ValueSize;
        const uint32_t typeSize = TypeSize(entry.DataType);
        const uint64_t size = uint64_t(typeSize) * entry.DataCount;
        if (size <= 4) {
            // Values inside the entry, each turned into the machine's order.
            std::memcpy(&entry.Offset, value, 4);
            auto* bytes = reinterpret_cast<uint8_t*>(&entry.Offset);
            if (swap && typeSize == 4) entry.Offset = __builtin_bswap32(entry.Offset);
            if (swap && typeSize == 2) SwapWords(bytes, 2);
        } else if (size <= layout.ValueSize) {
            // Five to eight bytes inside a BigTIFF entry are read where they
            // lie, like values elsewhere in the file.
            entry.Offset = uint32_t(std::min<uint64_t>(value - raw.data() + first, UINT32_MAX));
        } else {
            const uint64_t at64 = layout.ValueSize == 8 ? Load64(value, swap) : Load32(value, swap);
            entry.Offset = uint32_t(std::min<uint64_t>(at64, UINT32_MAX));
        }
    }
    std::sort(Entries.begin(), Entries.end(), [](const TTagEntry& a, const TTagEntry& b) { return a.Tag < b.Tag; });
    return true;
}

const TTagEntry* TTIFFGraphic::FindTag(uint16_t tag) const {
    const auto found = std::lower_bound(Entries.begin(), Entries.end(), tag,
                                        [](const TTagEntry& entry, uint16_t wanted) { return entry.Tag < wanted; });
    return found != Entries.end() && found->Tag == tag ? &*found : nullptr;
}

uint32_t TTIFFGraphic::Value(uint16_t tag, uint32_t defaultValue) const {
    const TTagEntry* entry = FindTag(tag);
    if (!entry) return defaultValue;
    if (entry->DataCount != 1) return entry->Offset;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&entry->Offset);
    switch (entry->DataType) {
        case 1: return bytes[0];
        case 3:
        case 8: return Load16(bytes, false);
        case 4:
        case 9: return entry->Offset;
        default: return defaultValue;
    }
}

const TTagEntry* TTIFFGraphic::ValueBytes(uint16_t tag, TByteArray& bytes, bool& swap) {
    const TTagEntry* entry = FindTag(tag);
    const uint64_t size = entry ? uint64_t(TypeSize(entry->DataType)) * entry->DataCount : 0;
    if (size == 0) return nullptr;
    // Values inside the entry are in the machine's order already.
    swap = size > 4 && (Properties.Flags & ifBigEndian);
    if (size <= 4) {
        const auto* inside = reinterpret_cast<const uint8_t*>(&entry->Offset);
        bytes.assign(inside, inside + size);
        return entry;
    }
    // Checked against the stream before anything is allocated for it.
    if (uint64_t(StartPosition) + entry->Offset + size > uint64_t(SourceStream->Size())) return nullptr;
    bytes.resize(size);
    return ReadAt(entry->Offset, bytes.data(), size) ? entry : nullptr;
}

float TTIFFGraphic::FloatValue(uint16_t tag, float defaultValue) {
    static constexpr uint16_t numberTypes[] = {1, 3, 4, 5, 10, 11, 12};
    TByteArray bytes;
    bool swap;
    const TTagEntry* entry = ValueBytes(tag, bytes, swap);
    if (!entry || entry->DataCount != 1 ||
        std::find(std::begin(numberTypes), std::end(numberTypes), entry->DataType) == std::end(numberTypes))
        return defaultValue;
    const double value = NumberAt(bytes.data(), entry->DataType, swap);
    return std::isfinite(value) ? float(value) : defaultValue;
}

TCardinalArray TTIFFGraphic::ValueList(uint16_t tag) {
    TByteArray bytes;
    bool swap;
    const TTagEntry* entry = ValueBytes(tag, bytes, swap);
    return entry ? ConvertValues<uint32_t>(bytes, *entry, swap, CardinalAt) : TCardinalArray{};
}

TByteArray TTIFFGraphic::ByteArray(uint16_t tag) {
    TByteArray bytes;
    bool swap;
    const TTagEntry* entry = ValueBytes(tag, bytes, swap);
    if (!entry) return {};
    if (IsByteType(entry->DataType)) return bytes;
    return ConvertValues<uint8_t>(
        bytes, *entry, swap, [](const uint8_t* p, uint16_t type, bool s) { return uint8_t(CardinalAt(p, type, s)); });
}

TFloatArray TTIFFGraphic::FloatList(uint16_t tag) {
    TByteArray bytes;
    bool swap;
    const TTagEntry* entry = ValueBytes(tag, bytes, swap);
    return entry ? ConvertValues<float>(
                       bytes, *entry, swap,
                       [](const uint8_t* p, uint16_t type, bool s) { return float(NumberAt(p, type, s)); })
                 : TFloatArray{};
}

// ---------------------------------------------------------------------------
// Properties

bool TTIFFGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    SourceStream = &stream;
    Entries.clear();
    YCbCrCoefficients.clear();
    YCbCrPositioning = 1;

    TImageProperties& p = Properties;
    uint8_t header[16];
    if (!ReadAt(0, header, 8)) return false;
    const bool big = header[0] == 'M' && header[1] == 'M';
    if (big) p.Flags |= ifBigEndian;
    p.FormatVersion = Load16(header + 2, big);
    uint64_t directory = Load32(header + 4, big);
    // BigTIFF: the size of an offset (8) and a 64-bit first offset.
    if (p.FormatVersion == 43 && (Load16(header + 4, big) != 8 || !ReadAt(8, header + 8, 8))) return false;
    if (p.FormatVersion == 43) directory = Load64(header + 8, big);
    if (p.FormatVersion != 42 && p.FormatVersion != 43) return false;
    p.FirstIFD = uint32_t(std::min<uint64_t>(directory, UINT32_MAX));

    // Walk the chain to the wanted directory; a chain that comes back to a
    // directory it has passed ends there.
    const TDirectoryLayout layout = LayoutOf(p.FormatVersion);
    std::unordered_set<uint64_t> passed;
    for (; imageIndex > 0; --imageIndex) {
        uint8_t count[8], next[8];
        if (!passed.insert(directory).second || !ReadAt(directory, count, layout.CountSize)) return false;
        const uint64_t entries = layout.CountSize == 8 ? Load64(count, big) : Load16(count, big);
        if (entries > uint64_t(SourceStream->Size()) ||
            !ReadAt(directory + layout.CountSize + layout.EntrySize * entries, next, layout.ValueSize))
            return false;
        directory = layout.ValueSize == 8 ? Load64(next, big) : Load32(next, big);
        if (directory == 0) return false;
    }
    if (!ReadDirectory(directory)) return false;

    p.Width = Value(tagImageWidth, 0);
    p.Height = Value(tagImageLength, 0);
    if (p.Width == 0 || p.Height == 0) return false;

    p.RowsPerStrip = ValueList(tagRowsPerStrip);
    if (p.RowsPerStrip.empty() || p.RowsPerStrip[0] == 0xFFFFFFFF) p.RowsPerStrip = {p.Height};
    p.SamplesPerPixel = uint8_t(Value(tagSamplesPerPixel, 1));
    const TCardinalArray bitsPerSample = ValueList(tagBitsPerSample);
    p.BitsPerSample = uint8_t(bitsPerSample.empty() ? 1 : bitsPerSample[0]);
    p.TileWidth = Value(tagTileWidth, 0);
    p.TileLength = Value(tagTileLength, 0);
    if (p.TileWidth != 0 && p.TileLength != 0) p.Flags |= ifTiled;
    const TCardinalArray extraSamples = ValueList(tagExtraSamples);
    p.HasAlpha = !extraSamples.empty() &&
                 std::all_of(extraSamples.begin(), extraSamples.end(), [](uint32_t kind) { return kind <= 2; });
    p.BitsPerPixel = uint8_t(p.BitsPerSample * p.SamplesPerPixel);
    // Without a Compression tag the data is stored as it is, as TIFF defines.
    p.Compression = CompressionKind(Value(tagCompression, 1));
    const auto photometric = uint8_t(Value(tagPhotometric, 0));
    p.ColorScheme = PhotometricScheme(photometric, p.SamplesPerPixel);
    if (photometric == 0) p.Flags |= ifMinIsWhite;

    if (photometric == 6) {
        p.YCbCrSubSampling = ByteArray(tagYCbCrSubSampling);
        if (p.YCbCrSubSampling.empty()) p.YCbCrSubSampling = {2, 2};
        YCbCrPositioning = Value(tagYCbCrPositioning, 1);
        YCbCrCoefficients = FloatList(tagYCbCrCoefficients);
        if (YCbCrCoefficients.empty()) YCbCrCoefficients = {0.299f, 0.587f, 0.114f};
    }

    // The JPEG colour and tables modes are numbered 65538 and 65539, beyond
    // what a directory entry's tag can hold: no file carries them.
    p.JPEGColorMode = 0;
    p.JPEGTablesMode = 3;
    // Contiguous samples unless the file says otherwise, as TIFF defines.
    p.PlanarConfig = Value(tagPlanarConfig, 1);
    const float scale = Value(tagResolutionUnit, 2) == 3 ? 2.54f : 1.0f;
    p.XResolution = FloatValue(tagXResolution, 0) * scale;
    p.YResolution = FloatValue(tagYResolution, 0) * scale;
    p.Predictor = Value(tagPredictor, 0);
    if (Value(tagFillOrder, 1) == 2) p.Flags |= ifReversedBits;
    return true;
}
