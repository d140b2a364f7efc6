// Builders of small TIFF and EPS files for the reader tests: a writer that
// lays out directories with any field types in either byte order, sample
// packing, strips and tiles, PackBits, deflate and horizontal differencing.
#pragma once

#include <jpeglib.h>

#include <cstdio>
#include <cstring>

#include "FileBytes.h"
#include "ImageFiles.h"

namespace imagefiles {

// Field types by their TIFF numbers.
enum TiffType : uint16_t { tByte = 1, tAscii, tShort, tLong, tRational, tSByte, tUndefined, tSShort, tSLong,
                           tSRational, tFloat, tDouble };

// The size of one item of a type (a rational is two items); unknown types
// are written as bytes.
inline uint32_t TiffItemSize(uint16_t type) {
    static const uint8_t sizes[] = {1, 1, 1, 2, 4, 4, 1, 1, 2, 4, 4, 4, 8};
    return type < std::size(sizes) ? sizes[type] : 1;
}

// A directory entry: its values as items of the type's size (rationals are
// two items each, numerator first). Count 0 means one value per item.
struct TiffField {
    uint16_t Tag = 0, Type = tShort;
    std::vector<uint64_t> Items;
    uint32_t Count = 0;
};

inline TiffField Short(uint16_t tag, std::vector<uint64_t> values) { return {tag, tShort, std::move(values)}; }
inline TiffField Long(uint16_t tag, std::vector<uint64_t> values) { return {tag, tLong, std::move(values)}; }
inline TiffField Rational(uint16_t tag, uint32_t numerator, uint32_t denominator) {
    return {tag, tRational, {numerator, denominator}, 1};
}

// One image: its fields, and its strips or tiles (offsets and byte counts
// are added by the writer).
struct TiffDirectory {
    std::vector<TiffField> Fields;
    std::vector<Bytes> Chunks;
    bool Tiled = false;
    bool WithByteCounts = true;
};

// A file of the directories in turn, each linked from the one before (the
// first from the header). The strips or tiles of a directory, and the values
// that do not fit in their entries, go before it.
inline Bytes MakeTiff(const std::vector<TiffDirectory>& directories, bool bigEndian) {
    const auto put = [bigEndian](Bytes& out, uint64_t value, uint32_t size) {
        for (uint32_t i = 0; i < size; ++i) out.push_back(uint8_t(value >> 8 * (bigEndian ? size - 1 - i : i)));
    };
    Bytes file = {uint8_t(bigEndian ? 'M' : 'I'), uint8_t(bigEndian ? 'M' : 'I')};
    const auto align = [&file] { file.resize((file.size() + 1) / 2 * 2); };
    const auto append = [&file](const Bytes& bytes) { file.insert(file.end(), bytes.begin(), bytes.end()); };
    put(file, 42, 2);
    size_t link = file.size();
    put(file, 0, 4);
    for (const TiffDirectory& directory : directories) {
        std::vector<TiffField> fields = directory.Fields;
        std::vector<uint64_t> offsets, counts;
        for (const Bytes& chunk : directory.Chunks) {
            align();
            offsets.push_back(file.size());
            counts.push_back(chunk.size());
            append(chunk);
        }
        if (!directory.Chunks.empty()) {
            fields.push_back(Long(directory.Tiled ? 324 : 273, offsets));
            if (directory.WithByteCounts) fields.push_back(Long(directory.Tiled ? 325 : 279, counts));
        }
        std::sort(fields.begin(), fields.end(), [](const TiffField& a, const TiffField& b) { return a.Tag < b.Tag; });
        Bytes entries;
        for (const TiffField& field : fields) {
            const bool pairs = field.Type == tRational || field.Type == tSRational;
            put(entries, field.Tag, 2);
            put(entries, field.Type, 2);
            put(entries, field.Count ? field.Count : field.Items.size() / (pairs ? 2 : 1), 4);
            Bytes value;
            for (uint64_t item : field.Items) put(value, item, TiffItemSize(field.Type));
            if (value.size() > 4) {
                align();
                put(entries, file.size(), 4);
                append(value);
            } else {
                value.resize(4, 0);
                entries.insert(entries.end(), value.begin(), value.end());
            }
        }
        align();
        Bytes offset;
        put(offset, file.size(), 4);
        std::copy(offset.begin(), offset.end(), file.begin() + std::ptrdiff_t(link));
        put(file, fields.size(), 2);
        append(entries);
        link = file.size();
        put(file, 0, 4);
    }
    return file;
}

// ---------------------------------------------------------------------------
// Pixels

// An image as samples, Samples per pixel, each of Bits bits.
struct TiffImage {
    uint32_t Width = 0, Height = 0, Samples = 1, Bits = 8;
    std::vector<uint16_t> Values;

    uint16_t Sample(uint32_t x, uint32_t y, uint32_t s) const { return Values[(size_t(y) * Width + x) * Samples + s]; }
};

inline TiffImage PatternTiff(uint32_t width, uint32_t height, uint32_t samples, uint32_t bits, uint32_t seed = 7) {
    TiffImage image{width, height, samples, bits, {}};
    const uint32_t maximum = bits == 16 ? 0xFFFF : (1u << bits) - 1;
    uint32_t state = seed;
    image.Values.resize(size_t(width) * height * samples);
    for (size_t i = 0; i < image.Values.size(); ++i) {
        state = state * 1103515245u + 12345u;
        // Runs of equal samples between noisy ones, so every packer has work.
        const uint32_t smooth = uint32_t(i / samples / 5 * 11 + i % samples * 80);
        image.Values[i] = uint16_t(((state >> 8) % 3 == 0 ? state >> 13 : smooth) & maximum);
    }
    return image;
}

// Row y of columns [x, x + width) packed as a file stores it: samples of
// less than 8 bits from the most significant bit, 16-bit ones in the file's
// byte order. With plane >= 0 only that sample of each pixel.
inline Bytes PackTiffRow(const TiffImage& image, uint32_t y, bool bigEndian, int plane = -1, uint32_t x = 0,
                         uint32_t width = UINT32_MAX, uint32_t padTo = 0) {
    Bytes row;
    uint32_t buffer = 0, bits = 0;
    width = std::min(width, image.Width - x);
    const uint32_t first = plane < 0 ? 0 : uint32_t(plane), last = plane < 0 ? image.Samples : uint32_t(plane) + 1;
    const auto put = [&](uint16_t v) {
        if (image.Bits == 16) {
            row.push_back(uint8_t(bigEndian ? v >> 8 : v));
            row.push_back(uint8_t(bigEndian ? v : v >> 8));
        } else {
            buffer = buffer << image.Bits | v;
            bits += image.Bits;
            while (bits >= 8) {
                row.push_back(uint8_t(buffer >> (bits - 8)));
                bits -= 8;
            }
        }
    };
    for (uint32_t i = 0; i < std::max(width, padTo); ++i)
        for (uint32_t s = first; s < last; ++s) put(i < width ? image.Sample(x + i, y, s) : 0);
    if (bits > 0) row.push_back(uint8_t(buffer << (8 - bits)));
    return row;
}

// Horizontal differencing of one packed row of 8- or 16-bit samples.
inline Bytes Difference(const Bytes& row, uint32_t samples, uint32_t sampleBits, bool bigEndian) {
    Bytes out = row;
    if (sampleBits == 8) {
        for (size_t i = row.size(); i-- > samples;) out[i] = uint8_t(row[i] - row[i - samples]);
        return out;
    }
    const auto at = [&](size_t i) {
        return uint16_t(bigEndian ? row[2 * i] << 8 | row[2 * i + 1] : row[2 * i + 1] << 8 | row[2 * i]);
    };
    for (size_t i = samples; i < row.size() / 2; ++i) {
        const uint16_t v = uint16_t(at(i) - at(i - samples));
        out[2 * i] = uint8_t(bigEndian ? v >> 8 : v);
        out[2 * i + 1] = uint8_t(bigEndian ? v : v >> 8);
    }
    return out;
}

// How strips and tiles are packed: by the compression field's scheme, with
// or without horizontal differencing.
enum TiffCompression : uint16_t { tcNone = 1, tcDeflate = 8, tcPackBits = 32773 };

struct TiffPacking {
    uint16_t Compression = tcNone;
    bool Predictor = false;
};

inline Bytes PackChunk(const std::vector<Bytes>& rows, TiffPacking packing, uint32_t samples, uint32_t bits,
                       bool bigEndian) {
    Bytes data;
    for (const Bytes& row : rows) {
        const Bytes stored = packing.Predictor ? Difference(row, samples, bits, bigEndian) : row;
        // PackBits codes each row on its own.
        const Bytes packed = packing.Compression == tcPackBits ? PackBits(stored.data(), stored.size()) : stored;
        data.insert(data.end(), packed.begin(), packed.end());
    }
    return packing.Compression == tcDeflate ? Deflate(data) : data;
}

// The strips (rowsPerStrip rows each, the last one shorter) or tiles of an
// image, for each plane when planar.
inline std::vector<Bytes> TiffChunks(const TiffImage& image, TiffPacking packing, bool bigEndian, uint32_t rowsPerStrip,
                                     bool planar = false, uint32_t tileWidth = 0, uint32_t tileLength = 0) {
    std::vector<Bytes> chunks;
    const int planes = planar ? int(image.Samples) : 1;
    const uint32_t samples = planar ? 1 : image.Samples;
    for (int plane = 0; plane < planes; ++plane) {
        const int which = planar ? plane : -1;
        if (tileWidth == 0) {
            for (uint32_t y = 0; y < image.Height; y += rowsPerStrip) {
                std::vector<Bytes> rows;
                for (uint32_t r = y; r < std::min(image.Height, y + rowsPerStrip); ++r)
                    rows.push_back(PackTiffRow(image, r, bigEndian, which));
                chunks.push_back(PackChunk(rows, packing, samples, image.Bits, bigEndian));
            }
            continue;
        }
        for (uint32_t y = 0; y < image.Height; y += tileLength)
            for (uint32_t x = 0; x < image.Width; x += tileWidth) {
                std::vector<Bytes> rows;
                for (uint32_t r = y; r < y + tileLength; ++r)
                    rows.push_back(r < image.Height ? PackTiffRow(image, r, bigEndian, which, x, tileWidth, tileWidth)
                                                    : Bytes((tileWidth * samples * image.Bits + 7) / 8, 0));
                chunks.push_back(PackChunk(rows, packing, samples, image.Bits, bigEndian));
            }
    }
    return chunks;
}

// The usual fields of an image; photometric and compression as given.
inline std::vector<TiffField> TiffBasics(const TiffImage& image, uint16_t photometric, uint16_t compression,
                                         uint32_t rowsPerStrip) {
    return {Long(256, {image.Width}),
            Long(257, {image.Height}),
            Short(258, std::vector<uint64_t>(image.Samples, image.Bits)),
            Short(259, {compression}),
            Short(262, {photometric}),
            Short(277, {image.Samples}),
            Long(278, {rowsPerStrip})};
}

// ---------------------------------------------------------------------------
// Fax and ThunderScan

// One-dimensional fax coding of min-is-white rows (0 is white) whose runs are 0 to
// 8 pixels, or 64 plus that: the few codes of ITU-T T.4 such rows need.
struct FaxCoding {
    bool EndOfLines = false;  // an end-of-line code before every row (Group 3)
    uint32_t AlignBits = 0;   // coded rows start on 8 (modified Huffman) or 16-bit boundaries
    bool ReversedBits = false;
};

inline Bytes FaxRows(const TiffImage& image, const FaxCoding& coding) {
    static const char* const white[] = {"00110101", "000111", "0111", "1000", "1011", "1100", "1110", "1111", "10011"};
    static const char* const black[] = {"0000110111", "010", "11", "10", "011", "0011", "0010", "00011", "000101"};
    std::string bits;
    const auto run = [&](uint32_t length, bool isWhite) {
        if (length >= 64) bits += isWhite ? "11011" : "0000001111";
        bits += (isWhite ? white : black)[length % 64];
    };
    for (uint32_t y = 0; y < image.Height; ++y) {
        if (coding.EndOfLines) bits += "000000000001";
        bool isWhite = true;
        uint32_t length = 0;
        for (uint32_t x = 0; x < image.Width; ++x) {
            if ((image.Sample(x, y, 0) == 0) != isWhite) {
                run(length, isWhite);
                isWhite = !isWhite;
                length = 0;
            }
            ++length;
        }
        run(length, isWhite);
        if (coding.AlignBits)
            bits.resize((bits.size() + coding.AlignBits - 1) / coding.AlignBits * coding.AlignBits, '0');
    }
    Bytes out((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1') out[i / 8] |= uint8_t(coding.ReversedBits ? 1 << (i % 8) : 0x80 >> (i % 8));
    return out;
}

// ThunderScan codes for 4-bit gray rows: runs of the last pixel where
// pixels repeat, raw pixels elsewhere.
inline Bytes ThunderRows(const TiffImage& image) {
    Bytes out;
    for (uint32_t y = 0; y < image.Height; ++y) {
        uint32_t last = 0;
        for (uint32_t x = 0; x < image.Width;) {
            uint32_t repeat = 0;
            while (x + repeat < image.Width && repeat < 63 && image.Sample(x + repeat, y, 0) == last) ++repeat;
            if (repeat > 0) {
                out.push_back(uint8_t(repeat));
                x += repeat;
            } else {
                last = image.Sample(x++, y, 0);
                out.push_back(uint8_t(0xC0 | last));
            }
        }
    }
    return out;
}

// A complete JPEG stream (tables included) of 8-bit rows, through libjpeg:
// YCbCr with 2 x 2 subsampled chroma for three samples, gray for one.
inline Bytes JpegStream(const Bytes& pixels, uint32_t width, uint32_t height, int samples) {
    jpeg_compress_struct compressor{};
    jpeg_error_mgr errors{};
    compressor.err = jpeg_std_error(&errors);
    jpeg_create_compress(&compressor);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&compressor, &buffer, &size);
    compressor.image_width = width;
    compressor.image_height = height;
    compressor.input_components = samples;
    compressor.in_color_space = samples == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, 90, TRUE);
    jpeg_start_compress(&compressor, TRUE);
    for (uint32_t y = 0; y < height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + size_t(y) * width * samples);
        jpeg_write_scanlines(&compressor, &row, 1);
    }
    jpeg_finish_compress(&compressor);
    jpeg_destroy_compress(&compressor);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// What libjpeg itself decodes from a stream: RGB or gray rows.
inline Bytes JpegPixels(const Bytes& stream) {
    jpeg_decompress_struct decompressor{};
    jpeg_error_mgr errors{};
    decompressor.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&decompressor);
    jpeg_mem_src(&decompressor, stream.data(), static_cast<unsigned long>(stream.size()));
    jpeg_read_header(&decompressor, TRUE);
    jpeg_start_decompress(&decompressor);
    Bytes pixels(size_t(decompressor.output_width) * decompressor.output_height * decompressor.output_components);
    while (decompressor.output_scanline < decompressor.output_height) {
        JSAMPROW row = pixels.data() + size_t(decompressor.output_scanline) * decompressor.output_width *
                                           decompressor.output_components;
        jpeg_read_scanlines(&decompressor, &row, 1);
    }
    jpeg_finish_decompress(&decompressor);
    jpeg_destroy_decompress(&decompressor);
    return pixels;
}

// ---------------------------------------------------------------------------
// EPS

// A binary EPS file: header, a little PostScript, then the TIFF preview.
// tiffOffset/tiffLength override the header's preview fields when non-zero.
inline Bytes MakeEps(const Bytes& tiff, uint32_t tiffOffset = 0, uint32_t tiffLength = 0) {
    const std::string postScript = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 1 1\nshowpage\n";
    Bytes out = {0xC5, 0xD0, 0xD3, 0xC6};
    const uint32_t size = uint32_t(postScript.size()), previewSize = uint32_t(tiff.size());
    for (uint32_t v : {30u, size, 0u, 0u, tiffOffset ? tiffOffset : 30 + size, tiffLength ? tiffLength : previewSize})
        PutLE32(out, v);
    out.insert(out.end(), {0xFF, 0xFF});
    out.insert(out.end(), postScript.begin(), postScript.end());
    out.insert(out.end(), tiff.begin(), tiff.end());
    return out;
}

}  // namespace imagefiles
