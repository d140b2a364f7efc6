// The decoders of GraphicCompression on hand-made packed data with known
// output, cut-off data, runs that pass the end of the target and random
// bytes; the fax, LZW, ThunderScan and JPEG decoders also against data
// written or read by libtiff where it is available.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "compression/GraphicCompression.h"
#include "GraphicFormats.h"
#include "ImageFiles.h"
#include "Windows.h"

#ifdef DOT3_HAVE_LIBTIFF
#include <tiffio.h>
#include <unistd.h>
#endif

namespace {

using imagefiles::Bytes;

constexpr uint8_t kGuard = 0xEE;

using DecoderFactory = std::function<std::unique_ptr<TDecoder>()>;

template <class T, class... Args>
DecoderFactory Make(Args... args) {
    return [=] { return std::make_unique<T>(args...); };
}

// Decodes packed (held in a buffer of exactly its size, so that the
// sanitizers see any read past it) into room bytes followed by guard bytes.
// Answers the target with its guard and how far the source cursor moved.
std::pair<Bytes, ptrdiff_t> DecodeBlock(TDecoder& decoder, const Bytes& packed, size_t room) {
    auto input = std::make_unique<uint8_t[]>(packed.size());
    std::copy(packed.begin(), packed.end(), input.get());
    Bytes target(room + 8, kGuard);
    uint8_t* source = input.get();
    uint8_t* dest = target.data();
    decoder.BeginDecode();
    decoder.Decode(source, dest, static_cast<int32_t>(packed.size()), static_cast<int32_t>(room));
    decoder.EndDecode();
    EXPECT_EQ(dest, target.data()) << "the target cursor moved";
    return {target, source - input.get()};
}

// The expected target: the bytes written, then untouched bytes up to the
// end of the room and the guard.
Bytes Written(Bytes bytes, size_t room) {
    bytes.resize(room + 8, kGuard);
    return bytes;
}

// Packed data, the room the target has and what must land there; only the
// CUT decoder moves the source cursor.
struct DecodeCase {
    std::string Name;
    DecoderFactory Factory;
    Bytes Packed;
    size_t Room;
    Bytes Expected;
    ptrdiff_t SourceMoved = 0;
};

void ExpectDecodes(const std::vector<DecodeCase>& cases) {
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto [target, moved] = DecodeBlock(*c.Factory(), c.Packed, c.Room);
        EXPECT_EQ(target, Written(c.Expected, c.Room));
        EXPECT_EQ(moved, c.SourceMoved);
    }
}

TEST(RunLengthDecoders, KnownDataCutOffDataAndOverlongRuns) {
    const auto packbits = Make<TPackbitsRLEDecoder>();
    const auto pcx = Make<TPCXRLEDecoder>();
    const auto sgi8 = Make<TSGIRLEDecoder>(uint8_t(8));
    const auto sgi16 = Make<TSGIRLEDecoder>(uint8_t(16));
    const auto cut = Make<TCUTRLEDecoder>();
    const auto psp = Make<TPSPRLEDecoder>();
    const auto rla = Make<TRLADecoder>();
    ExpectDecodes({
        {"packbits literal, repeat, no-op", packbits, {0x02, 1, 2, 3, 0xFE, 9, 0x80, 0x00, 7}, 7, {1, 2, 3, 9, 9, 9, 7}},
        {"packbits literal cut at the data end", packbits, {0x05, 1, 2}, 6, {1, 2}},
        {"packbits literal cut at the target end", packbits, {0x05, 1, 2, 3, 4, 5, 6}, 3, {1, 2, 3}},
        {"packbits repeat cut at the target end", packbits, {0x81, 5}, 4, {5, 5, 5, 5}},
        {"packbits repeat without its value", packbits, {0xFF}, 3, {}},
        {"pcx runs and literals", pcx, {0xC3, 7, 0x41, 0xC0, 9, 0x42}, 5, {7, 7, 7, 0x41, 0x42}},
        {"pcx run cut at the target end", pcx, {0xFF, 1}, 3, {1, 1, 1}},
        {"pcx run without its value", pcx, {0x41, 0xC5}, 4, {0x41}},
        {"sgi copy, fill, end", sgi8, {0x83, 'a', 'b', 'c', 0x02, 'x', 0x00, 0x81, 'z'}, 8, {'a', 'b', 'c', 'x', 'x'}},
        {"sgi run cut at the target end", sgi8, {0x7F, 5, 0x00}, 4, {5, 5, 5, 5}},
        {"sgi copy cut at the data end", sgi8, {0x85, 1, 2}, 8, {1, 2}},
        {"sgi copy cut at the target end", sgi8, {0x84, 1, 2, 3, 4, 0x82, 5, 6}, 3, {1, 2, 3}},
        {"sgi 16-bit copy and fill", sgi16, {0, 0x82, 1, 2, 3, 4, 0, 3, 9, 8, 0, 0}, 10, {1, 2, 3, 4, 9, 8, 9, 8, 9, 8}},
        {"sgi 16-bit whole items only", sgi16, {0, 0x05, 7, 6}, 5, {7, 6, 7, 6}},
        {"sgi 16-bit copy cut at the data end", sgi16, {0, 0x84, 1, 2, 3}, 8, {1, 2}},
        {"sgi 16-bit cut-off control", sgi16, {0}, 2, {}},
        {"cut row", cut, {0x12, 0x34, 0x83, 5, 0x02, 1, 2, 0x00, 0xAA}, 6, {5, 5, 5, 1, 2}, 8},
        {"cut runs past the target are consumed", cut, {0, 0, 0xFF, 4, 0x02, 1, 2, 0}, 3, {4, 4, 4}, 8},
        {"cut row cut off", cut, {0, 0, 0x05, 1}, 8, {1}, 4},
        {"cut row shorter than its length field", cut, {7}, 8, {}, 1},
        {"psp run, copy, empty run", psp, {0x83, 6, 0x02, 1, 2, 0x80, 0x99, 0x01, 3}, 8, {6, 6, 6, 1, 2, 3}},
        {"psp run cut at the target end", psp, {0xFF, 1, 0x01, 2}, 4, {1, 1, 1, 1}},
        {"psp copy cut at the data end", psp, {0x05, 1, 2}, 8, {1, 2}},
        {"rla fill and copy", rla, {0x02, 9, 0xFD, 1, 2, 3}, 8, {9, 9, 9, 1, 2, 3}},
        {"rla run cut at the target end", rla, {0x7F, 4}, 2, {4, 4}},
        {"rla copy cut at the data end", rla, {0xFB, 1}, 6, {1}},
    });
}

TEST(RunLengthDecoders, CutWalksABufferRowByRow) {
    Bytes packed = {0, 0, 0x82, 1, 0x01, 2, 0, 9, 9, 0x02, 3, 4, 0};
    TCUTRLEDecoder decoder;
    uint8_t* source = packed.data();
    Bytes rows(6);
    for (uint8_t* dest = rows.data(); dest < rows.data() + rows.size(); dest += 3) {
        uint8_t* row = dest;
        decoder.Decode(source, row, static_cast<int32_t>(packed.data() + packed.size() - source), 3);
    }
    EXPECT_EQ(rows, (Bytes{1, 1, 2, 3, 4, 0}));
    EXPECT_EQ(source, packed.data() + packed.size());
}

// Runs are moved in blocks of 16, 8, 4 and single bytes by length: every
// length, whole and cut one byte short by the target, must move exactly its
// bytes.
TEST(RunLengthDecoders, RunsOfEveryLength) {
    TPackbitsRLEDecoder decoder;
    for (size_t n = 1; n <= 128; ++n) {
        SCOPED_TRACE(n);
        Bytes packed = {uint8_t(n - 1)}, expected;
        for (size_t i = 0; i < n; ++i) packed.push_back(uint8_t(i * 37 + n));
        expected.assign(packed.begin() + 1, packed.end());
        if (n >= 2) {
            packed.insert(packed.end(), {uint8_t(1 - int(n)), uint8_t(n)});
            expected.insert(expected.end(), n, uint8_t(n));
        }
        for (size_t room : {expected.size(), expected.size() - 1, n - 1}) {
            const Bytes cut(expected.begin(), expected.begin() + ptrdiff_t(room));
            EXPECT_EQ(DecodeBlock(decoder, packed, room).first, Written(cut, room));
        }
    }
}

// ---------------------------------------------------------------------------
// Fax

// Packs codes written as strings of '0' and '1', most significant bit first;
// spaces are ignored.
class BitWriter {
public:
    BitWriter& operator<<(std::string_view bits) {
        for (char c : bits) {
            if (c == ' ') continue;
            if (used_ == 8) bytes_.push_back(0), used_ = 0;
            if (c == '1') bytes_.back() |= static_cast<uint8_t>(0x80 >> used_);
            ++used_;
        }
        return *this;
    }
    // Pads with 0 bits to a multiple of unit bits.
    BitWriter& Align(int unit) {
        while ((bytes_.size() * 8 - (8 - used_) % 8) % unit != 0) *this << "0";
        return *this;
    }
    Bytes Done() const { return bytes_; }

private:
    Bytes bytes_;
    int used_ = 8;
};

// Codes used below: end of line, white runs 0, 1, 2, 4, 8, black runs 0,
// 1, 3, 7, 8 and make-up 64.
constexpr std::string_view EOL = "000000000001", W0 = "00110101", W1 = "000111", W2 = "0111", W4 = "1011",
                           W8 = "10011", B0 = "0000110111", B1 = "010", B3 = "10", B7 = "00011", B8 = "000101",
                           B64 = "0000001111";
// Two-dimensional mode codes: pass, horizontal, vertical 0 and right 1.
constexpr std::string_view P = "0001", H = "001", V0 = "1", VR1 = "011";

TEST(FaxDecoders, HandMadeRows) {
    const auto fax3 = Make<TCCITTFax3Decoder>(0u, 8u, false, false);
    const auto mh = Make<TCCITTMHDecoder>(0u, 8u, false, false);
    const auto mhw = Make<TCCITTMHDecoder>(0u, 8u, true, false);
    const auto fax3Wide = Make<TCCITTFax3Decoder>(0u, 12u, false, false);
    const auto fax3TwoD = Make<TCCITTFax3Decoder>(1u, 8u, false, false);
    const auto g4 = Make<TCCITTFax4Decoder>(0u, 8u, false, false);
    // Rows: white 2 black 3 white 3; black 8 (after a white run of 0);
    // white 4 and a black run of 64 cut at the row end; white 8.
    const std::string rows[] = {std::string(W2) + std::string(B3) + "1000", std::string(W0) + std::string(B8),
                                std::string(W4) + std::string(B64) + std::string(B0), std::string(W8)};
    const Bytes image = {0x38, 0xFF, 0x0F, 0x00};
    BitWriter withEOL, byteAligned, wordAligned;
    for (const auto& row : rows) {
        withEOL << EOL << row;
        byteAligned << row;
        byteAligned.Align(8);
        wordAligned << row;
        wordAligned.Align(16);
    }
    Bytes cutOff = withEOL.Done();
    cutOff.resize(cutOff.size() - 4);
    ExpectDecodes({
        {"fax3 rows", fax3, withEOL.Done(), 4, image},
        {"fax3 garbage and fill bits before the end of line", fax3,
         (BitWriter() << "1101 000000000000000001" << W8 << "11111" << EOL << B3).Done(), 2, {0x00, 0x00}},
        {"fax3 short row ends on an end of line, the next starts after it", fax3,
         (BitWriter() << EOL << W2 << B1 << EOL << W1 << B7).Done(), 2, {0x20, 0x7F}},
        {"fax3 cut off", fax3, cutOff, 4, {0x38, 0xFF, 0x00, 0x00}},
        {"fax3 rows stop at the target end", fax3, withEOL.Done(), 3, {0x38, 0xFF, 0x0F}},
        {"fax3 12-pixel rows take two bytes", fax3Wide,
         (BitWriter() << EOL << W4 << B7 << W1 << EOL << W0 << B1 << W8 << "011").Done(), 4, {0x0F, 0xE0, 0x80, 0x70}},
        // Group 4 rows: horizontal mode white 2 black 3, vertical 0 to the
        // row end; then three vertical 0 codes copy the row above.
        {"g4 rows", g4, (BitWriter() << H << W2 << B3 << V0 << V0 << V0 << V0 << EOL << EOL).Done(), 3, {0x38, 0x38, 0x00}},
        {"g4 pass mode", g4, (BitWriter() << H << W2 << B3 << V0 << H << W4 << B1 << P << V0).Done(), 2, {0x38, 0x08}},
        {"g4 that never ends a row", g4, (BitWriter() << H << W0 << B0 << H << W0 << B0 << H << W0 << B0).Done(), 2, {0x00, 0x00}},
        {"g4 damage keeps the row so far", g4, (BitWriter() << H << W2 << B3 << "0000001111" << V0).Done(), 2, {0x38, 0x00}},
        {"g3 two-dimensional rows", fax3TwoD,
         (BitWriter() << EOL << "1" << W2 << B3 << "1000" << EOL << "0" << VR1 << V0 << V0).Done(), 2, {0x38, 0x18}},
        {"mh byte-aligned rows", mh, byteAligned.Done(), 4, image},
        {"mh word-aligned rows", mhw, wordAligned.Done(), 4, image},
        {"mh runs of 64 and more", Make<TCCITTMHDecoder>(0u, 80u, false, false),
         (BitWriter() << W1 << B64 << B7 << W8).Done(), 10, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}},
    });
}

TEST(FaxDecoders, SwapBitsLeavesTheBlockReversed) {
    const Bytes packed = (BitWriter() << EOL << W2 << B3 << "1000").Done();
    Bytes input = packed;
    for (uint8_t& byte : input) {
        const uint8_t b = byte;
        byte = 0;
        for (int bit = 0; bit < 8; ++bit) byte |= static_cast<uint8_t>((b >> bit & 1) << (7 - bit));
    }
    Bytes out(1);
    uint8_t* source = input.data();
    uint8_t* dest = out.data();
    TCCITTFax3Decoder(0, 8, false, true).Decode(source, dest, static_cast<int32_t>(input.size()), 1);
    EXPECT_EQ(out, Bytes{0x38});
    EXPECT_EQ(input, packed);
}

// ---------------------------------------------------------------------------
// ThunderScan

TEST(ThunderDecoder, RunsDeltasAndRawPixels) {
    const auto thunder5 = Make<TThunderDecoder>(5u);
    ExpectDecodes({
        // Raw 7, a run of 2, 2-bit deltas +1, none, -1.
        {"one row", thunder5, {0xC7, 0x02, 0x5B}, 3, {0x77, 0x78, 0x70}},
        // Raw 7; 2-bit deltas none, +0, +1; 3-bit deltas +3, -3.
        {"deltas", Make<TThunderDecoder>(6u), {0xC7, 0x61, 0x9D}, 3, {0x77, 0x8B, 0x80}},
        // A run after an odd number of pixels completes the half byte first.
        {"run after an odd pixel", thunder5, {0xC3, 0x04}, 3, {0x33, 0x33, 0x30}},
        // Rows restart from a last pixel of 0 and on a byte boundary.
        {"two rows", Make<TThunderDecoder>(3u), {0xC5, 0x02, 0x41, 0x01}, 4, {0x55, 0x50, 0x00, 0x10}},
        {"run cut at the row end", Make<TThunderDecoder>(3u), {0xC9, 0x3F, 0xC1}, 4, {0x99, 0x90, 0x10}},
        {"deltas cut at the target end", thunder5, {0xC9, 0x3F}, 2, {0x99, 0x99}},
        {"data ends inside a row", thunder5, {0xC2}, 3, {0x20}},
    });
}

#ifdef DOT3_HAVE_LIBTIFF

// Opens path for writing a one-strip image with the fields every strip here
// has and those that setFields adds.
TIFF* LibtiffWriter(const std::string& path, uint32_t width, uint32_t height, uint16_t bitsPerSample,
                    uint16_t samples, const std::function<void(TIFF*)>& setFields) {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    TIFF* out = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(out, nullptr);
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, bitsPerSample);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, height);
    setFields(out);
    return out;
}

// A TIFF strip as libtiff wrote it and as libtiff decodes it, with the
// JPEG tables of the file.
struct LibtiffStrip {
    Bytes Raw;
    Bytes Decoded;
    Bytes Tables;
};

// Writes pixels as a one-strip image through libtiff with the fields that
// setFields sets, reads the strip back both raw and decoded (with the
// fields that readFields sets).
LibtiffStrip ThroughLibtiff(uint32_t width, uint32_t height, uint16_t bitsPerSample, uint16_t samples,
                            const Bytes& pixels, const std::function<void(TIFF*)>& setFields,
                            const std::function<void(TIFF*)>& readFields = [](TIFF*) {}) {
    const std::string path = testing::TempDir() + "/decoder-test-" + std::to_string(getpid()) + ".tif";
    TIFF* out = LibtiffWriter(path, width, height, bitsPerSample, samples, setFields);
    EXPECT_GE(TIFFWriteEncodedStrip(out, 0, const_cast<uint8_t*>(pixels.data()), tmsize_t(pixels.size())), 0);
    TIFFClose(out);

    TIFF* in = TIFFOpen(path.c_str(), "r");
    EXPECT_NE(in, nullptr);
    readFields(in);
    uint64_t* counts = nullptr;
    TIFFGetField(in, TIFFTAG_STRIPBYTECOUNTS, &counts);
    LibtiffStrip strip{Bytes(counts[0]), Bytes(pixels.size()), {}};
    uint32_t tablesLength = 0;
    uint8_t* tables = nullptr;
    if (TIFFGetField(in, TIFFTAG_JPEGTABLES, &tablesLength, &tables) && tables != nullptr)
        strip.Tables.assign(tables, tables + tablesLength);
    TIFFReadRawStrip(in, 0, strip.Raw.data(), tmsize_t(strip.Raw.size()));
    TIFFReadEncodedStrip(in, 0, strip.Decoded.data(), tmsize_t(strip.Decoded.size()));
    TIFFClose(in);
    return strip;
}

// What libtiff decodes from a strip of gray rows that it is handed raw:
// codes it cannot write itself, or that our own encoder wrote.
Bytes LibtiffDecodes(const Bytes& packed, uint32_t width, uint32_t height, uint16_t bitsPerSample,
                     uint16_t compression, size_t size) {
    const std::string path = testing::TempDir() + "/decoder-raw-test-" + std::to_string(getpid()) + ".tif";
    TIFF* out = LibtiffWriter(path, width, height, bitsPerSample, 1, [&](TIFF* tif) {
        TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    });
    TIFFWriteRawStrip(out, 0, const_cast<uint8_t*>(packed.data()), tmsize_t(packed.size()));
    TIFFClose(out);
    TIFF* in = TIFFOpen(path.c_str(), "r");
    Bytes decoded(size, kGuard);
    EXPECT_GE(TIFFReadEncodedStrip(in, 0, decoded.data(), tmsize_t(size)), 0);
    TIFFClose(in);
    return decoded;
}

// A bilevel page (1 = black): random runs from one pixel to the whole row,
// white and black rows, rows that repeat the one above with small shifts.
Bytes FaxPage(uint32_t width, uint32_t height, uint32_t seed) {
    std::mt19937 random(seed);
    const size_t rowBytes = (width + 7) / 8;
    Bytes page(rowBytes * height);
    std::vector<uint8_t> previous(width), row(width);
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t kind = random() % 6;
        if (kind == 0 || kind == 1) {
            std::fill(row.begin(), row.end(), uint8_t(kind));
        } else if (kind == 2 && y > 0) {
            const int shift = int(random() % 7) - 3;
            for (uint32_t x = 0; x < width; ++x)
                row[x] = previous[std::clamp<int64_t>(int64_t(x) + shift, 0, width - 1)];
        } else {
            uint8_t colour = random() & 1;
            for (uint32_t x = 0; x < width;) {
                const uint32_t limit = random() % 4 == 0 ? width : (random() % 2 ? 64 : 8);
                const uint32_t run = std::min(width - x, 1 + uint32_t(random() % limit));
                std::fill_n(row.begin() + x, run, colour);
                x += run;
                colour ^= 1;
            }
        }
        for (uint32_t x = 0; x < width; ++x)
            if (row[x]) page[y * rowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        previous = row;
    }
    return page;
}

// The fax decoder classes share one constructor; the options are libtiff's
// own Group 3 options.
template <class T>
std::unique_ptr<TDecoder> MakeFax(uint32_t options, uint32_t width, bool wordAligned, bool swap) {
    return std::make_unique<T>(options, width, wordAligned, swap);
}

TEST(FaxDecoders, DecodeWhatLibtiffWrites) {
    const struct {
        const char* Name;
        uint16_t Compression;
        uint32_t Options;
        decltype(&MakeFax<TCCITTFax3Decoder>) Factory;
        bool WordAligned = false;
    } schemes[] = {
        {"group 3", COMPRESSION_CCITTFAX3, 0, MakeFax<TCCITTFax3Decoder>},
        {"group 3 with fill bits", COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS, MakeFax<TCCITTFax3Decoder>},
        {"group 3 two-dimensional", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING, MakeFax<TCCITTFax3Decoder>},
        {"group 3 two-dimensional with fill bits", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS,
         MakeFax<TCCITTFax3Decoder>},
        {"group 4", COMPRESSION_CCITTFAX4, 0, MakeFax<TCCITTFax4Decoder>},
        {"modified Huffman", COMPRESSION_CCITTRLE, 0, MakeFax<TCCITTMHDecoder>},
        {"word-aligned modified Huffman", COMPRESSION_CCITTRLEW, 0, MakeFax<TCCITTMHDecoder>, true},
    };
    for (const auto& scheme : schemes)
        for (uint32_t width : {1u, 13u, 1728u, 3000u})
            for (uint16_t fillOrder : {FILLORDER_MSB2LSB, FILLORDER_LSB2MSB}) {
                SCOPED_TRACE(testing::Message() << scheme.Name << ", width " << width << ", fill order " << fillOrder);
                const uint32_t height = 40;
                const Bytes page = FaxPage(width, height, width + fillOrder);
                LibtiffStrip strip = ThroughLibtiff(width, height, 1, 1, page, [&](TIFF* tif) {
                    TIFFSetField(tif, TIFFTAG_COMPRESSION, scheme.Compression);
                    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
                    TIFFSetField(tif, TIFFTAG_FILLORDER, fillOrder);
                    if (scheme.Compression == COMPRESSION_CCITTFAX3)
                        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, scheme.Options);
                });
                // (libtiff's own reading of word-aligned rows of one pixel
                // goes astray, so the page itself is the reference.)
                const bool swap = fillOrder == FILLORDER_LSB2MSB;
                auto decoder = scheme.Factory(scheme.Options, width, scheme.WordAligned, swap);
                EXPECT_EQ(DecodeBlock(*decoder, strip.Raw, page.size()).first, Written(page, page.size()));
            }
}

// Valid ThunderScan rows of random codes: runs, 2-bit and 3-bit deltas
// (a delta of 2 or 4 respectively sets no pixel) and raw pixels. (libtiff
// drops a run that ends exactly at the row end, so no row ends with one.)
Bytes ThunderRows(uint32_t width, uint32_t height, std::mt19937& random) {
    Bytes packed;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width;) {
            const uint32_t left = width - x, code = random() & 0x3F, kind = random() % 4;
            if ((kind == 0 || kind == 2) && left < 2) continue;
            if (kind == 1 && left < 3) continue;
            uint32_t pixels = 1;
            if (kind == 0) pixels = 1 + code % std::min(left - 1, 63u);
            if (kind == 1) pixels = ((code >> 4) != 2) + ((code >> 2 & 3) != 2) + ((code & 3) != 2);
            if (kind == 2) pixels = ((code >> 3) != 4) + ((code & 7) != 4);
            packed.push_back(static_cast<uint8_t>(kind == 0 ? pixels : kind << 6 | code));
            x += pixels;
        }
    return packed;
}

TEST(ThunderDecoder, DecodesAsLibtiff) {
    std::mt19937 random(3);
    for (int i = 0; i < 30; ++i) {
        const uint32_t width = 1 + random() % 40, height = 1 + random() % 6;
        const Bytes packed = ThunderRows(width, height, random);
        const size_t size = (width + 1) / 2 * height;
        const Bytes expected = LibtiffDecodes(packed, width, height, 4, COMPRESSION_THUNDERSCAN, size);
        TThunderDecoder decoder(width);
        EXPECT_EQ(DecodeBlock(decoder, packed, size).first, Written(expected, size));
    }
}

// ---------------------------------------------------------------------------
// JPEG

// Smooth colours with some detail, so that every component has content.
Bytes JpegPicture(uint32_t width, uint32_t height, int samples) {
    Bytes pixels;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < samples; ++c)
                pixels.push_back(static_cast<uint8_t>(x * 4 * (c + 1) + y * 3 + ((x / 4 + y / 4) % 2) * 40));
    return pixels;
}

struct JpegStrip {
    LibtiffStrip Strip;
    TImageProperties Properties;
};

// A one-strip JPEG TIFF written by libtiff: YCbCr (subsampled 2 x 2, from
// RGB), RGB or gray; tables in the JPEGTables field or in the strip.
JpegStrip MakeJpegStrip(uint16_t photometric, bool separateTables) {
    const uint32_t width = 64, height = 40;
    const int samples = photometric == PHOTOMETRIC_MINISBLACK ? 1 : 3;
    JpegStrip result;
    result.Strip = ThroughLibtiff(
        width, height, 8, uint16_t(samples), JpegPicture(width, height, samples),
        [&](TIFF* tif) {
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
            TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 90);
            if (photometric == PHOTOMETRIC_YCBCR) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            if (!separateTables) TIFFSetField(tif, TIFFTAG_JPEGTABLESMODE, 0);
        },
        [&](TIFF* tif) {
            if (photometric == PHOTOMETRIC_YCBCR) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        });
    TImageProperties& p = result.Properties;
    p.Width = width;
    p.Height = height;
    p.SamplesPerPixel = uint8_t(samples);
    p.BitsPerSample = 8;
    p.BitsPerPixel = uint8_t(8 * samples);
    p.PlanarConfig = 1;
    p.ColorScheme = photometric == PHOTOMETRIC_YCBCR ? csYCbCr : photometric == PHOTOMETRIC_RGB ? csRGB : csGray;
    if (photometric == PHOTOMETRIC_YCBCR) p.YCbCrSubSampling = {2, 2};
    p.RowsPerStrip = {height};
    p.BytesPerLine = width * samples;
    p.JPEGTables = result.Strip.Tables;
    return result;
}

// The message of the error that run raises.
std::string CompressionError(const std::function<void()>& run) {
    try {
        run();
    } catch (const EGraphicCompression& error) {
        return error.what();
    }
    return "no error";
}

TEST(JPEGDecoder, DecodesStripsAsLibtiff) {
    for (uint16_t photometric : {PHOTOMETRIC_YCBCR, PHOTOMETRIC_RGB, PHOTOMETRIC_MINISBLACK}) {
        for (bool separateTables : {true, false}) {
            SCOPED_TRACE("photometric " + std::to_string(photometric) + (separateTables ? ", tables apart" : ""));
            JpegStrip jpeg = MakeJpegStrip(photometric, separateTables);
            EXPECT_EQ(jpeg.Strip.Tables.empty(), !separateTables);
            TTIFFJPEGDecoder decoder(jpeg.Properties);
            const size_t size = jpeg.Strip.Decoded.size();
            EXPECT_EQ(DecodeBlock(decoder, jpeg.Strip.Raw, size).first, Written(jpeg.Strip.Decoded, size));
        }
    }
}

TEST(JPEGDecoder, RefusesStripsThatDoNotFitTheImage) {
    struct Case {
        const char* Message;
        std::function<void(TImageProperties&)> Change;
        int32_t Unpacked = 64 * 40 * 3;
    };
    const Case cases[] = {
        {"Improper JPEG strip/tile size.", [](TImageProperties& p) { p.Width = 63; }},
        {"Improper JPEG strip/tile size.", [](TImageProperties& p) { p.RowsPerStrip = {16}; }},
        {"Improper JPEG component count.", [](TImageProperties& p) { p.SamplesPerPixel = 4; }},
        {"Improper JPEG component count.", [](TImageProperties& p) { p.PlanarConfig = 2; }},
        {"Improper JPEG data precision.", [](TImageProperties& p) { p.BitsPerSample = 12; }},
        {"Fractional JPEG scanline unsupported.", [](TImageProperties&) {}, 64 * 40 * 3 - 1},
        {"Fractional JPEG scanline unsupported.", [](TImageProperties& p) { p.BytesPerLine = 64; }, 64 * 40},
    };
    JpegStrip jpeg = MakeJpegStrip(PHOTOMETRIC_YCBCR, true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Message);
        TImageProperties properties = jpeg.Properties;
        c.Change(properties);
        TTIFFJPEGDecoder decoder(properties);
        decoder.BeginDecode();
        Bytes packed = jpeg.Strip.Raw, out(64 * 40 * 3);
        uint8_t *source = packed.data(), *dest = out.data();
        EXPECT_EQ(CompressionError([&] { decoder.Decode(source, dest, int32_t(packed.size()), c.Unpacked); }),
                  c.Message);
        // The decoder starts again after an error.
        properties = jpeg.Properties;
        decoder.EndDecode();
        decoder.BeginDecode();
        decoder.Decode(source, dest, static_cast<int32_t>(packed.size()), static_cast<int32_t>(out.size()));
        EXPECT_EQ(out, jpeg.Strip.Decoded);
        decoder.EndDecode();
    }
}

// libtiff trusts the stream: a last strip coded at the full strip height
// gives the rows still needed, and the stream's own sampling wins over the
// YCbCrSubSampling field.
TEST(JPEGDecoder, TrustsTheStreamsHeightAndSampling) {
    JpegStrip jpeg = MakeJpegStrip(PHOTOMETRIC_YCBCR, true);
    for (const auto& change : std::vector<std::function<void(TImageProperties&)>>{
             [](TImageProperties& p) { p.CurrentRow = 8; }, [](TImageProperties& p) { p.YCbCrSubSampling = {4, 1}; }}) {
        TImageProperties properties = jpeg.Properties;
        change(properties);
        const size_t rows = properties.Height - properties.CurrentRow, size = rows * 64 * 3;
        TTIFFJPEGDecoder decoder(properties);
        const Bytes rowsNeeded(jpeg.Strip.Decoded.begin(), jpeg.Strip.Decoded.begin() + std::ptrdiff_t(size));
        EXPECT_EQ(DecodeBlock(decoder, jpeg.Strip.Raw, size).first, Written(rowsNeeded, size));
    }
}

TEST(JPEGDecoder, BadTablesBadDataAndCutOffStrips) {
    JpegStrip jpeg = MakeJpegStrip(PHOTOMETRIC_YCBCR, true);
    TImageProperties properties = jpeg.Properties;
    // Tables that hold a whole image.
    properties.JPEGTables = MakeJpegStrip(PHOTOMETRIC_YCBCR, false).Strip.Raw;
    EXPECT_EQ(CompressionError([&] { TTIFFJPEGDecoder(properties).BeginDecode(); }), "Bogus JPEG tables field.");

    // Data that is no JPEG stream raises the library's message.
    TTIFFJPEGDecoder decoder(jpeg.Properties);
    EXPECT_THROW(DecodeBlock(decoder, Bytes(100, 0x42), 64 * 40 * 3), EGraphicCompression);

    // A strip cut in half warns once and decodes what is there.
    ClearMessageBoxLog();
    Bytes half(jpeg.Strip.Raw.begin(), jpeg.Strip.Raw.begin() + jpeg.Strip.Raw.size() / 2);
    const Bytes out = DecodeBlock(decoder, half, 64 * 40 * 3).first;
    ASSERT_FALSE(MessageBoxLog().empty());
    EXPECT_EQ(MessageBoxLog()[0].Text, "JPEG decompression error. Unexpected end of input.");
    EXPECT_EQ(MessageBoxLog()[0].Caption, "Warning");
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 64 * 3 * 8, jpeg.Strip.Decoded.begin()));
}

#endif  // DOT3_HAVE_LIBTIFF

// ---------------------------------------------------------------------------
// LZW

// A plain LZW encoder: the codes of TIFF's bit order and width steps, or of
// the old variant's. The table is cleared when it reaches 4095 entries
// unless clearWhenFull is off; endCode off leaves the end code out.
Bytes LzwEncode(const Bytes& data, bool oldStyle, bool clearWhenFull = true, bool endCode = true) {
    std::vector<uint32_t> codes = {256};
    std::map<std::pair<uint32_t, uint8_t>, uint32_t> table;
    uint32_t next = 258;
    int64_t w = -1;
    for (uint8_t c : data) {
        if (w < 0) {
            w = c;
            continue;
        }
        const auto found = table.find({uint32_t(w), c});
        if (found != table.end()) {
            w = found->second;
            continue;
        }
        codes.push_back(uint32_t(w));
        if (next < 4096) table[{uint32_t(w), c}] = next++;
        w = c;
        if (clearWhenFull && next == 4095) {
            codes.push_back(uint32_t(w));
            codes.push_back(256);
            table.clear();
            next = 258;
            w = -1;
        }
    }
    if (w >= 0) codes.push_back(uint32_t(w));
    if (endCode) codes.push_back(257);

    // The widths follow the decoder's table, which is one entry behind.
    Bytes out;
    uint64_t buffer = 0;
    int count = 0, width = 9;
    uint32_t decoderNext = 258;
    bool previous = false;
    for (uint32_t code : codes) {
        if (oldStyle) {
            buffer |= uint64_t(code) << count;
            for (count += width; count >= 8; count -= 8, buffer >>= 8) out.push_back(uint8_t(buffer));
        } else {
            buffer = buffer << width | code;
            for (count += width; count >= 8; count -= 8) out.push_back(uint8_t(buffer >> (count - 8)));
        }
        if (code == 256) {
            width = 9, decoderNext = 258, previous = false;
        } else if (code != 257) {
            if (previous && decoderNext < 4096) ++decoderNext;
            if (decoderNext >= (1u << width) - (oldStyle ? 0 : 1) && width < 12) ++width;
            previous = true;
        }
    }
    if (count > 0) out.push_back(uint8_t(oldStyle ? buffer : buffer << (8 - count)));
    return out;
}

Bytes RandomBytes(size_t size, uint32_t seed, uint32_t alphabet = 256) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(random() % alphabet);
    return bytes;
}

TEST(LZWDecoder, RoundTripsAndEdgeCases) {
    const std::string_view tobe = "TOBEORNOTTOBEORTOBEORNOT#";
    const Bytes text(tobe.begin(), tobe.end());
    const Bytes noise = RandomBytes(30000, 1);  // fills the table several times
    const Bytes few = RandomBytes(60000, 2, 4);  // long strings, widths up to 12
    const Bytes same(5000, 'x');                  // every code is the one being defined
    const auto lzw = Make<TLZWDecoder>();
    std::vector<DecodeCase> cases;
    for (bool oldStyle : {false, true}) {
        const std::string style = oldStyle ? "old " : "";
        for (const Bytes* data : {&text, &noise, &few, &same})
            cases.push_back({style + "round trip", lzw, LzwEncode(*data, oldStyle), data->size(), *data});
        cases.push_back({style + "table full without clear", lzw, LzwEncode(noise, oldStyle, false), noise.size(),
                         noise});
        cases.push_back({style + "no end code", lzw, LzwEncode(few, oldStyle, true, false), few.size(), few});
        cases.push_back({style + "target shorter than the data", lzw, LzwEncode(same, oldStyle), 1001,
                         Bytes(1001, 'x')});
    }
    Bytes cut = LzwEncode(text, false, true, false);
    cut.pop_back();
    cases.push_back({"data ends inside a code", lzw, cut, text.size(), Bytes(text.begin(), text.end() - 1)});
    // 9-bit codes: clear, 'A', 'B', then 300, which the table does not hold.
    cases.push_back({"code beyond the table", lzw, (BitWriter() << "100000000 001000001 001000010 100101100").Done(),
                     8, {'A', 'B'}});
    cases.push_back(
        {"table code right after clear", lzw, (BitWriter() << "100000000 100000010 001000001").Done(), 8, {}});
    ExpectDecodes(cases);
}

// Random bytes (mostly 0 bits, so that fax codes come up) and damaged LZW
// strips through every decoder but JPEG, whose library the fuzz target
// covers: the sanitizer build checks the reads, the guard bytes the writes.
TEST(EveryDecoder, RandomDataStaysInBounds) {
    std::mt19937 random(7);
    for (int i = 0; i < 4000; ++i) {
        const uint32_t width = 1 + random() % 100;
        const bool flag = random() & 1, swap = random() & 2;
        const DecoderFactory factories[] = {
            Make<TPackbitsRLEDecoder>(), Make<TPCXRLEDecoder>(), Make<TSGIRLEDecoder>(uint8_t(8)),
            Make<TSGIRLEDecoder>(uint8_t(16)), Make<TCUTRLEDecoder>(), Make<TPSPRLEDecoder>(), Make<TRLADecoder>(),
            Make<TCCITTFax3Decoder>(0u, width, flag, swap), Make<TCCITTFax3Decoder>(1u, width, flag, swap),
            Make<TCCITTMHDecoder>(0u, width, flag, swap), Make<TCCITTFax4Decoder>(0u, width, flag, swap),
            Make<TThunderDecoder>(width), Make<TLZWDecoder>()};
        const size_t kind = i % std::size(factories);
        Bytes packed = RandomBytes(random() % 200, uint32_t(i));
        for (auto& b : packed) b &= static_cast<uint8_t>(random());
        if (kind + 1 == std::size(factories) && flag) {
            packed = LzwEncode(RandomBytes(random() % 2000, uint32_t(i), 3), swap);
            if (!packed.empty()) packed[random() % packed.size()] ^= 0x10;
        }
        const auto [target, moved] = DecodeBlock(*factories[kind](), packed, random() % 3000);
        ASSERT_EQ(Bytes(target.end() - 8, target.end()), Bytes(8, kGuard));
        ASSERT_LE(size_t(moved), packed.size());
    }
}

#ifdef DOT3_HAVE_LIBTIFF

TEST(LZWDecoder, DecodesWhatLibtiffWritesAndReads) {
    // libtiff's own strips, with the horizontal predictor undone afterwards.
    const uint32_t width = 97, height = 31;
    Bytes picture = JpegPicture(width, height, 3);
    for (size_t i = 0; i < picture.size(); i += 7) picture[i] ^= static_cast<uint8_t>(i);
    LibtiffStrip strip = ThroughLibtiff(width, height, 8, 3, picture, [](TIFF* tif) {
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    });
    TLZWDecoder decoder;
    Bytes decoded = DecodeBlock(decoder, strip.Raw, picture.size()).first;
    for (uint32_t y = 0; y < height; ++y) AddHorizontalDeltas<3>(decoded.data() + y * width * 3, width);
    EXPECT_EQ(decoded, Written(picture, picture.size()));

    // The encoder above, both variants, read by libtiff.
    const Bytes data = RandomBytes(20000, 4, 16);
    for (bool oldStyle : {false, true})
        EXPECT_EQ(LibtiffDecodes(LzwEncode(data, oldStyle), 200, 100, 8, COMPRESSION_LZW, data.size()), data)
            << (oldStyle ? "old variant" : "TIFF variant");
}

#endif  // DOT3_HAVE_LIBTIFF

}  // namespace
