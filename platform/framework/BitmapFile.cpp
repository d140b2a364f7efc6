#include "BitmapFile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#include "PixelAccess.h"
#include "SysUtils.h"

namespace {

constexpr uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6;
constexpr int64_t kMaxPixels = int64_t{1} << 28;
constexpr uint32_t kFileHeaderSize = 14, kInfoHeaderSize = 40;

// Why a bitmap is refused. The entry points below raise it as
// EInvalidGraphic with the message of the file it came from: a bitmap's or
// an icon's.
struct TDibFault {
    std::string Reason;
};

[[noreturn]] void Invalid(const std::string& reason) { throw TDibFault{reason}; }

const std::string kBitmapInvalid = "Bitmap image is not valid: ", kIconInvalid = "Icon image is not valid: ";

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
void Put16(uint8_t* p, uint32_t v) { p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8); }
void Put32(uint8_t* p, uint32_t v) { Put16(p, v), Put16(p + 2, v >> 16); }

struct Header {
    uint32_t size = 0;
    int32_t width = 0, height = 0;
    uint16_t bitCount = 0;
    uint32_t compression = BI_RGB;
    uint32_t colorsUsed = 0;
    std::array<uint32_t, 4> masks{};  // red, green, blue, alpha
    bool core = false;
};

Header ReadHeader(TStream& stream) {
    uint8_t raw[124] = {};
    if (stream.Read(raw, 4) != 4) Invalid("the header is truncated");
    Header h;
    h.size = U32(raw);
    const bool known =
        h.size == 12 || h.size == 40 || h.size == 52 || h.size == 56 || h.size == 64 || h.size == 108 || h.size == 124;
    if (!known) Invalid(Format("unsupported header size %u", h.size));
    if (stream.Read(raw + 4, h.size - 4) != h.size - 4) Invalid("the header is truncated");
    if (h.size == 12) {
        h.core = true;
        h.width = U16(raw + 4);
        h.height = U16(raw + 6);
        h.bitCount = U16(raw + 10);
        return h;
    }
    h.width = static_cast<int32_t>(U32(raw + 4));
    h.height = static_cast<int32_t>(U32(raw + 8));
    h.bitCount = U16(raw + 14);
    h.compression = U32(raw + 16);
    h.colorsUsed = U32(raw + 32);
    // The 64-byte header is OS/2's, whose compression codes above 2 mean
    // other things than Windows' bit fields.
    if (h.size == 64 && h.compression > BI_RLE4) Invalid(Format("unsupported compression %u", h.compression));
    if (h.compression == BI_BITFIELDS || h.compression == BI_ALPHABITFIELDS) {
        const int count = h.compression == BI_ALPHABITFIELDS ? 4 : 3;
        if (h.size >= 52 && h.size != 64) {
            for (int i = 0; i < 4 && 40 + 4 * i + 4 <= static_cast<int>(h.size); ++i)
                h.masks[i] = U32(raw + 40 + 4 * i);
        } else {
            uint8_t masks[16];
            if (stream.Read(masks, 4 * count) != 4 * count) Invalid("the colour masks are truncated");
            for (int i = 0; i < count; ++i) h.masks[i] = U32(masks + 4 * i);
        }
    }
    return h;
}

TPixelFormat IndexedFormat(int bitCount) { return bitCount == 1 ? pf1bit : bitCount == 4 ? pf4bit : pf8bit; }

// One channel of a bit-field pixel, scaled to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0, bits = 0;
    explicit Channel(uint32_t m) : mask(m) {
        if (!m) return;
        shift = std::countr_zero(m);
        bits = 32 - std::countl_zero(m) - shift;
    }
    uint8_t Extract(uint32_t pixel, uint8_t absent) const {
        if (!mask) return absent;
        uint32_t v = (pixel & mask) >> shift;
        if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
        // Repeating the bits fills the low end, so a full channel gives 255.
        uint32_t wide = 0;
        for (int filled = 0; filled < 8; filled += bits) wide = (wide << bits) | v;
        const int excess = ((8 + bits - 1) / bits) * bits - 8;
        return static_cast<uint8_t>(wide >> excess);
    }
};

void RequireData(TStream& stream, int64_t bytes) {
    if (stream.Size() - stream.Position() < bytes) Invalid("the pixel data is truncated");
}

// Decodes RLE8 or RLE4 data into an indexed bitmap, its rows stored
// bottom-up or, as some writers store them, top-down.
void DecodeRle(const std::vector<uint8_t>& data, TBitmap& bitmap, bool rle4, bool topDown) {
    const int width = bitmap.Width(), height = bitmap.Height();
    const TPixelFormat format = bitmap.PixelFormat();
    size_t at = 0;
    int x = 0, y = 0;
    // Pixels right of the image are dropped; x stops at the edge so that no
    // amount of data can make it overflow.
    auto put = [&](unsigned index) {
        if (x >= width) return;
        WriteIndex(bitmap.ScanLine(topDown ? y : height - 1 - y), x, format, index);
        ++x;
    };
    while (y < height) {
        if (data.size() - at < 2) Invalid("the run-length data is truncated");
        const unsigned count = data[at], value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i) put(rle4 ? ((i & 1) ? value & 0x0F : value >> 4) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            return;
        } else if (value == 2) {  // delta: move right and up
            if (data.size() - at < 2) Invalid("the run-length data is truncated");
            x = std::min(x + data[at], width);
            y += data[at + 1];
            at += 2;
        } else {  // absolute run of value pixels, padded to a word
            const size_t bytes = rle4 ? (value + 1) / 2 : value;
            if (data.size() - at < bytes) Invalid("the run-length data is truncated");
            for (unsigned i = 0; i < value; ++i)
                put(rle4 ? ((i & 1) ? data[at + i / 2] & 0x0F : data[at + i / 2] >> 4) : data[at + i]);
            at += bytes + (bytes & 1);
            at = std::min(at, data.size());
        }
    }
}

TDibInfo ReadDibImage(TStream& stream, TBitmap& bitmap, int64_t bitsOffset, bool iconImage) {
    const Header h = ReadHeader(stream);
    const int bits = h.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        Invalid(Format("unsupported bit count %d", bits));
    if (h.core && bits == 16) Invalid("unsupported bit count 16");
    const uint32_t compression = h.compression;
    const bool rle = compression == BI_RLE8 || compression == BI_RLE4;
    const bool bitFields = compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS;
    if ((compression == BI_RLE8 && bits != 8) || (compression == BI_RLE4 && bits != 4) ||
        (bitFields && bits != 16 && bits != 32) || compression > BI_ALPHABITFIELDS || compression == 4 ||
        compression == 5)
        Invalid(Format("unsupported compression %u with %d bits", compression, bits));
    if (h.width <= 0 || h.height == 0 || h.height == INT_MIN)
        Invalid(Format("invalid size %d x %d", h.width, h.height));
    const bool topDown = h.height < 0;
    int height = topDown ? -h.height : h.height;
    if (iconImage) height /= 2;
    if (height == 0) Invalid("invalid icon image height");
    if (static_cast<int64_t>(h.width) * height > kMaxPixels)
        Invalid(Format("the image of %d x %d pixels is too large", h.width, height));

    // The colour table: indexed bitmaps use it, the others may carry one
    // that only has to be skipped.
    const int64_t entrySize = h.core ? 3 : 4;
    const int64_t defaultColors = bits <= 8 ? (int64_t{1} << bits) : 0;
    const int64_t colors = h.core || h.colorsUsed == 0 ? defaultColors : h.colorsUsed;
    TLogPalette palette;
    if (bits <= 8) {
        // Some writers store fewer entries than the bit depth allows: the
        // table then ends where the pixels begin, and the indices without an
        // entry are black. A table that declares more entries than the
        // pixels can index gives its first ones, as FreeImage and DevIL take
        // them; the pixels follow the whole table.
        const int64_t tableStart = stream.Position();
        const int64_t stored =
            bitsOffset >= tableStart ? std::min(colors, (bitsOffset - tableStart) / entrySize) : colors;
        const int64_t used = std::min(stored, defaultColors);
        if (stream.Size() - tableStart < stored * entrySize) Invalid("the colour table is truncated");
        std::vector<uint8_t> table(static_cast<size_t>(used * entrySize));
        stream.ReadBuffer(table.data(), static_cast<int64_t>(table.size()));
        stream.Seek((stored - used) * entrySize, TSeekOrigin::soCurrent);
        for (int64_t i = 0; i < used; ++i) {
            const uint8_t* e = table.data() + i * entrySize;
            palette.palPalEntry.push_back({e[2], e[1], e[0], 0});
        }
    }
    // An offset that points back into the headers is wrong; the pixels then
    // follow the colour table.
    if (bitsOffset >= stream.Position())
        stream.SetPosition(bitsOffset);
    else if (bits > 8)
        stream.Seek(std::min<int64_t>(colors, 256) * entrySize, TSeekOrigin::soCurrent);

    // Pixel layout of the result.
    const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]), alpha(h.masks[3]);
    const uint32_t m = h.masks[0], g = h.masks[1], b = h.masks[2], a = h.masks[3];
    const bool raw565 = bits == 16 && bitFields && m == 0xF800 && g == 0x07E0 && b == 0x001F && a == 0;
    const bool raw555 = bits == 16 && (!bitFields || (m == 0x7C00 && g == 0x03E0 && b == 0x001F && a == 0));
    const bool rawBgra =
        bits == 32 && (!bitFields || (m == 0xFF0000 && g == 0xFF00 && b == 0xFF && (a == 0 || a == 0xFF000000)));
    const bool convert = bitFields && !raw565 && !raw555 && !rawBgra;
    TPixelFormat format = bits <= 8 ? IndexedFormat(bits) : bits == 24 ? pf24bit : pf32bit;
    if (raw565) format = pf16bit;
    if (raw555) format = pf15bit;
    if (convert) format = a ? pf32bit : pf24bit;

    TBitmap result;
    result.SetPixelFormat(format);
    if (bits <= 8) result.SetPalette(palette);

    if (rle) {
        const int64_t available = std::max<int64_t>(0, stream.Size() - stream.Position());
        // Two bytes stand for at most 255 pixels; less data cannot fill the
        // image, so the bitmap is not allocated for it.
        const int64_t pixels = static_cast<int64_t>(h.width) * height;
        if (available < (pixels + 254) / 255 * 2) Invalid("the run-length data is too short for the image size");
        std::vector<uint8_t> data(static_cast<size_t>(available));
        stream.ReadBuffer(data.data(), available);
        result.SetSize(h.width, height);
        DecodeRle(data, result, compression == BI_RLE4, topDown);
    } else {
        const int64_t stride = (static_cast<int64_t>(h.width) * bits + 31) / 32 * 4;
        RequireData(stream, stride * height);
        // Every row is filled below: pixels stored as the bitmap holds them
        // (with the same row padding) are read straight into the scan lines,
        // the others converted pixel by pixel.
        // The bitmap keeps its rows in the file's order, so that they are
        // read in one piece.
        result.SetSizeForOverwrite(h.width, height, !topDown, AlignmentPosition(stream, stream.Position()));
        const ptrdiff_t rowStep = result.RowBytes();
        uint8_t* const first = result.ScanLine(topDown ? 0 : height - 1);
        if (!convert) {
            stream.ReadRows(first, rowStep, static_cast<uint32_t>(height), static_cast<size_t>(stride));
        } else {
            std::vector<uint8_t> row(static_cast<size_t>(stride));
            TPixelWriter writer(format, result.Palette());
            for (int i = 0; i < height; ++i) {
                stream.ReadBuffer(row.data(), stride);
                for (int x = 0; x < h.width; ++x) {
                    const uint32_t pixel = bits == 16 ? U16(row.data() + 2 * x) : U32(row.data() + 4 * x);
                    writer.Write(first + i * rowStep, x,
                                 {red.Extract(pixel, 0), green.Extract(pixel, 0), blue.Extract(pixel, 0),
                                  alpha.Extract(pixel, 255)});
                }
            }
        }
        // Plain 32-bit bitmaps usually leave the fourth byte zero; only when
        // some pixel sets it is it taken as alpha, and with explicit masks
        // only when an alpha mask is given. Icons take the fourth byte as
        // alpha whatever their masks say (writers of version 4 and 5 headers
        // give colour masks only), as Windows and Pillow show them.
        if (format == pf32bit && !convert) {
            const bool masksDecide = bitFields && !iconImage;
            bool anyAlpha = masksDecide && a != 0;
            for (int y = 0; y < height && !masksDecide && !anyAlpha; ++y) {
                const uint8_t* line = result.ScanLine(y);
                for (int x = 0; x < h.width && !anyAlpha; ++x) anyAlpha = line[4 * x + 3] != 0;
            }
            if (!anyAlpha)
                for (int y = 0; y < height; ++y) {
                    uint8_t* line = result.ScanLine(y);
                    for (int x = 0; x < h.width; ++x) line[4 * x + 3] = 255;
                }
        }
    }
    bitmap = std::move(result);
    return {bits, topDown};
}

}  // namespace

TDibInfo ReadDib(TStream& stream, TBitmap& bitmap, int64_t bitsOffset, bool iconImage) {
    try {
        return ReadDibImage(stream, bitmap, bitsOffset, iconImage);
    } catch (const TDibFault& fault) {
        throw EInvalidGraphic((iconImage ? kIconInvalid : kBitmapInvalid) + fault.Reason);
    }
}

void WriteDib(TStream& stream, const TBitmap& bitmap) {
    TPixelFormat format = bitmap.PixelFormat();
    if (format == pfDevice || format == pfCustom) format = pf24bit;
    const int bits = BitsPerPixel(format);
    const auto& palette = bitmap.Palette().palPalEntry;
    const uint32_t colors =
        IsIndexed(format) ? static_cast<uint32_t>(std::min<size_t>(palette.size(), size_t{1} << bits)) : 0;
    const uint32_t maskBytes = format == pf16bit ? 12 : 0;
    const uint32_t rowBytes = static_cast<uint32_t>(bitmap.RowBytes());
    const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(bitmap.Height());
    const uint32_t bitsOffset = kFileHeaderSize + kInfoHeaderSize + maskBytes + 4 * colors;

    std::vector<uint8_t> head(bitsOffset, 0);
    head[0] = 'B', head[1] = 'M';
    Put32(&head[2], bitsOffset + imageBytes);
    Put32(&head[10], bitsOffset);
    uint8_t* info = &head[kFileHeaderSize];
    Put32(info, kInfoHeaderSize);
    Put32(info + 4, static_cast<uint32_t>(bitmap.Width()));
    Put32(info + 8, static_cast<uint32_t>(bitmap.Height()));
    Put16(info + 12, 1);
    Put16(info + 14, static_cast<uint32_t>(bits));
    Put32(info + 16, format == pf16bit ? BI_BITFIELDS : BI_RGB);
    Put32(info + 20, imageBytes);
    Put32(info + 32, colors);
    uint8_t* extra = info + kInfoHeaderSize;
    if (format == pf16bit) {
        Put32(extra, 0xF800), Put32(extra + 4, 0x07E0), Put32(extra + 8, 0x001F);
        extra += 12;
    }
    for (uint32_t i = 0; i < colors; ++i) {
        extra[4 * i] = palette[i].peBlue;
        extra[4 * i + 1] = palette[i].peGreen;
        extra[4 * i + 2] = palette[i].peRed;
    }
    stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));

    if (format == bitmap.PixelFormat()) {
        for (int y = bitmap.Height() - 1; y >= 0; --y) stream.WriteBuffer(bitmap.ScanLine(y), rowBytes);
        return;
    }
    TBitmap converted(bitmap);
    converted.SetPixelFormat(format);
    for (int y = converted.Height() - 1; y >= 0; --y) stream.WriteBuffer(converted.ScanLine(y), rowBytes);
}

void TBitmap::LoadFromStream(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t file[kFileHeaderSize];
    if (stream.Read(file, sizeof file) != sizeof file)
        throw EInvalidGraphic(kBitmapInvalid + "the file header is truncated");
    if (file[0] != 'B' || file[1] != 'M')
        throw EInvalidGraphic(kBitmapInvalid + "the file does not start with \"BM\"");
    ReadDib(stream, *this, start + U32(file + 10), false);
}

void TBitmap::SaveToStream(TStream& stream) const {
    if (Empty()) return;
    WriteDib(stream, *this);
}
