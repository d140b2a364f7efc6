// Decoders for compressed pixel data. A reader creates the decoder its file
// calls for, calls BeginDecode once, Decode once per packed block and
// EndDecode once (also when decoding fails), then frees it.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "SysUtils.h"

struct TImageProperties;

// A decoder met data or a library state it cannot work with.
class EGraphicCompression : public Exception {
public:
    using Exception::Exception;
};

class TDecoder {
public:
    virtual ~TDecoder() = default;

    // Expands packed data at source into dest. Which cursors move and what
    // the two sizes count is each decoder's own contract.
    virtual void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) = 0;
    virtual void EndDecode() {}
    virtual void BeginDecode() {}
    // Packs count pixels from source into dest; bytesStored is the packed size.
    virtual void Encode(const uint8_t* source, uint8_t* dest, uint32_t count, uint32_t& bytesStored) = 0;
    virtual void EndEncode() {}
    virtual void BeginEncode() {}
};

// Targa run-length packets: a header byte whose low 7 bits plus one count
// the pixels; bit 7 set means one pixel value repeated, clear means that
// many literal pixel values follow.
class TTargaRLEDecoder : public TDecoder {
public:
    explicit TTargaRLEDecoder(uint32_t pixelBits) : PixelBits(pixelBits) {}

    // Produces unpackedSize pixels at dest (dest is not moved) from at most
    // packedSize bytes at source, leaving source behind the last byte used.
    // A packet that runs past the requested pixels is not cut: its rest is
    // kept and starts the next call, so rows never overflow and no pixel
    // is lost. Data that ends early leaves the rest of dest untouched.
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    // Packs one row of count pixels; dest needs count * (bytes per pixel + 1)
    // bytes at most.
    void Encode(const uint8_t* source, uint8_t* dest, uint32_t count, uint32_t& bytesStored) override;

    // Bytes of one pixel value, 0 for a pixel size this decoder cannot handle.
    uint32_t BytesPerPixel() const;
    // The pixels the last Decode call left out because its data ended.
    uint32_t MissingPixels() const { return missingPixels_; }

    uint32_t PixelBits;

private:
    uint32_t missingPixels_ = 0;
    // The part of a packet that did not fit into the previous call's pixels.
    uint32_t pendingCount_ = 0;
    bool pendingRun_ = false;
    uint8_t pendingPixel_[4] = {};
};

// ---------------------------------------------------------------------------
// Run-length decoders. None of them raises: malformed data yields wrong
// pixels, never a write past dest + unpackedSize or a read past
// source + packedSize. Negative sizes count as 0.

// PackBits (TIFF compression 32773, Photoshop): a signed control byte k;
// 0..127 copies the next k + 1 bytes, -127..-1 repeats the next byte 1 - k
// times, -128 is a no-operation byte.
class TPackbitsRLEDecoder : public TDecoder {
public:
    // Writes at most unpackedSize bytes at dest from at most packedSize
    // bytes at source, stopping at whichever ends first. A literal run
    // longer than the bytes left is cut at the end of the data, a repeat
    // run longer than the target at the end of the target. Neither cursor
    // moves.
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    // Decode's work, answering the end of what it wrote, so that a caller
    // which needs the whole target defined clears only the rest.
    uint8_t* DecodeUpTo(const uint8_t* source, uint8_t* dest, int32_t packedSize, int32_t unpackedSize);
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
};

// ZSoft PCX: a byte with both top bits set (0xC0 and above) repeats the next
// byte (b and 0x3F) times; any other byte is itself one literal byte.
class TPCXRLEDecoder : public TDecoder {
public:
    // Writes unpackedSize bytes at dest, cutting a run at the end of the
    // target; stops early, leaving the rest of dest as it was, when the
    // packedSize bytes at source run out. A run of 0 (byte 0xC0) consumes
    // its value byte and writes nothing. Neither cursor moves.
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
};

// SGI run-length rows of 8-bit or 16-bit items: a control item whose low
// 7 bits count items (0 ends the row); bit 0x80 set copies that many items,
// clear repeats the next item. 16-bit control items are big-endian; data
// items are copied as stored, so 16-bit samples stay big-endian.
class TSGIRLEDecoder : public TDecoder {
public:
    // sampleSize: bits of one item, 8 or 16 (anything but 16 counts as 8).
    explicit TSGIRLEDecoder(uint8_t sampleSize) : SampleSize(sampleSize) {}

    // Expands one packed row: source holds packedSize bytes, dest has room
    // for unpackedSize bytes (for 16-bit items only whole items are
    // written). Decoding ends at the end marker, at the end of the data or
    // when the target is full; runs are cut at the end of the target.
    // Neither cursor moves.
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

    uint8_t SampleSize;
};

// Dr. Halo CUT: each packed row starts with a 16-bit row length (skipped,
// whatever it holds), then control bytes: 0 ends the row; otherwise the low
// 7 bits count bytes, bit 0x80 set repeats the next byte, clear copies.
class TCUTRLEDecoder : public TDecoder {
public:
    // Expands one row into at most unpackedSize bytes at dest and moves
    // source past the row's 0 byte, so that consecutive calls walk a
    // buffer row by row; packedSize counts the bytes available from the
    // source cursor on. Runs are cut at the end of the target but still
    // consumed, so the next row starts where it should; when the data
    // ends before the 0 byte, source stops at the end of the data. dest
    // does not move.
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
};

// Paintshop Pro: a byte b with bit 0x80 set repeats the next byte b - 128
// times (128 is a run of 0); below 128 the next b bytes are copied.
class TPSPRLEDecoder : public TDecoder {
public:
    // Expands all packedSize bytes at source into at most unpackedSize
    // bytes at dest; runs are cut at the end of the target and decoding
    // stops there. Neither cursor moves.
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
};

// Alias/Wavefront RLA: a signed count byte c; c < 0 copies the next -c
// bytes, c >= 0 repeats the next byte c + 1 times.
class TRLADecoder : public TDecoder {
public:
    // Expands all packedSize bytes at source into at most unpackedSize
    // bytes at dest; runs are cut at the end of the target and decoding
    // stops there. Neither cursor moves.
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
};

// ---------------------------------------------------------------------------
// CCITT fax decoders (TIFF compressions 2, 3, 4 and 32771). They decode bilevel
// rows, 1 = black, most significant bit first, into a target that they first
// zero-fill; row r of the output starts at r * ceil(Width / 8) bytes. Runs
// are cut at the end of their row and rows at unpackedSize, so nothing is
// written past dest + unpackedSize, and no bit past source + packedSize is
// read: data that ends early leaves the rows not reached white. Neither
// cursor moves. With SwapBits set, the packedSize bytes at source are first
// bit-reversed in place (files with FillOrder 2): the caller's block is
// left reversed.
//
// The codes are those of ITU-T T.4: terminating and make-up codes of each
// colour, the extended make-up codes, the end-of-line code (run -1) and the
// codes of eight to ten 0 bits followed by a 1 and of twelve 0 bits
// (invalid, run -2). They are looked up in tables built from the code lists
// rather than walked bit by bit in a tree; the result is the tree walk's: a
// make-up code and the terminating code after it form one run, and an
// invalid or end-of-line code ends the run being read. A code cut off by
// the end of the data is dropped.
class TCCITTDecoder : public TDecoder {
public:
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

    // The TIFF T4Options or T6Options value (tags 292 and 293).
    uint32_t Options;
    // Pixels per row.
    uint32_t Width;
    // Coded rows start on 16-bit boundaries of the block (TIFF 32771).
    bool WordAligned;
    // Bits of every source byte are stored least significant first.
    bool SwapBits;
    // Pixels of each row written to the target, from its left (0: all):
    // rows wider than the picture they belong to keep only what shows.
    uint32_t OutputWidth = 0;

protected:
    TCCITTDecoder(uint32_t options, uint32_t width, bool wordAligned, bool swapBits)
        : Options(options), Width(width), WordAligned(wordAligned), SwapBits(swapBits) {}
};

// ITU-T T.4 rows, each introduced by an end-of-line code (TIFF compression
// 3). Each row starts white after the end-of-line code that precedes it;
// bits between a finished row and the next end-of-line code (fill bits,
// garbage) are skipped, so damaged rows do not spoil the rows after them.
// A row ends when its runs fill it or at an end-of-line or invalid code
// (the rest of such a short row stays white; the next row then starts right
// after that end-of-line code).
//
// With bit 0 of Options set (T4Options two-dimensional coding) a tag bit
// follows every end-of-line code: 1 for a row of white and black runs, 0 for
// a row coded against the row above it as in T.6 (pass, horizontal and
// vertical modes).
// T4Options bit: rows may be coded two-dimensionally.
constexpr uint32_t Fax3TwoDimensional = 1;

class TCCITTFax3Decoder : public TCCITTDecoder {
public:
    // options: T4Options.
    TCCITTFax3Decoder(uint32_t options, uint32_t width, bool wordAligned, bool swapBits)
        : TCCITTDecoder(options, width, wordAligned, swapBits) {}

    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
};

// ITU-T T.6 (TIFF compression 4): every row coded against the row above it
// (white above the first) in pass, horizontal and vertical modes, without
// end-of-line codes. Decoding stops at the end-of-facsimile-block code, at
// a code that is invalid or not supported (uncompressed mode) and at the
// end of the data; the row being decoded keeps what was decoded of it, and
// the rows after it stay white.
class TCCITTFax4Decoder : public TCCITTDecoder {
public:
    // options: T6Options; wordAligned is not used.
    TCCITTFax4Decoder(uint32_t options, uint32_t width, bool wordAligned, bool swapBits)
        : TCCITTDecoder(options, width, wordAligned, swapBits) {}

    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
};

// Modified Huffman rows without end-of-line codes (TIFF compressions 2 and
// 32771): each coded row starts on a byte boundary of the block, or on a
// 16-bit boundary when WordAligned is set. Colours alternate from white at
// every row start; runs of 0 and end-of-line or invalid codes switch the
// colour without writing.
class TCCITTMHDecoder : public TCCITTDecoder {
public:
    // options: T4Options; the decoding does not depend on it.
    TCCITTMHDecoder(uint32_t options, uint32_t width, bool wordAligned, bool swapBits)
        : TCCITTDecoder(options, width, wordAligned, swapBits) {}

    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
};

// Decoders of the TIFF packings Debian's libtiff reads through other
// libraries. Each decodes one strip or tile: packedSize bytes at source
// into at most unpackedSize bytes at dest, neither cursor moving; what the
// data does not give (damage, an early end) is left as it was. None raises.

// LZMA (TIFF compression 34925): an .xz stream, through liblzma.
class TLZMADecoder : public TDecoder {
public:
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    // Decode, answering where the data written ends.
    uint8_t* DecodeUpTo(const uint8_t* source, uint8_t* dest, int32_t packedSize, int32_t unpackedSize);
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }
};

// Zstandard (TIFF compression 50000), through libzstd.
class TZSTDDecoder : public TDecoder {
public:
    TZSTDDecoder();
    ~TZSTDDecoder() override;
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    // Decode, answering where the data written ends.
    uint8_t* DecodeUpTo(const uint8_t* source, uint8_t* dest, int32_t packedSize, int32_t unpackedSize);
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

private:
    struct ZSTD_DCtx_s* context_;
};

// WebP (TIFF compression 50001): each chunk a WebP image of Width pixels
// and up to the chunk's rows, 8-bit red, green, blue (and alpha with four
// samples), through libwebp; rows are RowBytes apart.
class TWebPDecoder : public TDecoder {
public:
    // blueFirst: pixels are delivered as blue, green, red (and alpha).
    TWebPDecoder(uint32_t width, uint32_t samples, uint32_t rowBytes, bool blueFirst = false)
        : Width(width), Samples(samples), RowBytes(rowBytes), BlueFirst(blueFirst) {}
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

    uint32_t Width, Samples, RowBytes;
    bool BlueFirst;
};

// JBIG (TIFF compression 34661): a bilevel JBIG stream of Width pixels per
// row, through libjbig; rows are RowBytes apart. Streams claiming another
// width or more rows than fit are not decoded.
class TJBIGDecoder : public TDecoder {
public:
    TJBIGDecoder(uint32_t width, uint32_t rowBytes) : Width(width), RowBytes(rowBytes) {}
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

    uint32_t Width, RowBytes;
};

// TIFF LZW (compression 5): codes of 9 to 12 bits, most significant bit
// first, 256 clears the table, 257 ends the data, and the code width grows
// one code early (at 511, 1023 and 2047 entries). Old writers produced a
// variant with the bits of every byte taken least significant first and
// the width growing at 512, 1024 and 2048 entries; it is recognised by its
// first code (a clear code so stored starts with bytes 00h and an odd
// byte), as libtiff does.
class TLZWDecoder : public TDecoder {
public:
    TLZWDecoder();

    // Decodes one strip: packedSize bytes at source into at most
    // unpackedSize bytes at dest. Decoding stops at the end code, at the
    // end of the data (a strip without end code keeps what was decoded), at
    // the end of the target, and at a code the table does not hold yet
    // (damaged data), keeping what was decoded before it. Once the table is
    // full it stays as it is until the next clear code. Neither cursor
    // moves.
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

private:
    template <bool OldStyle>
    void DecodeCodes(const uint8_t* source, size_t packedSize, uint8_t* dest, size_t unpackedSize);

    // The string table. Every string also stands in the output already: an
    // entry keeps its first eight bytes, its length and where in the output
    // it was first written.
    std::unique_ptr<uint64_t[]> heads_;
    std::unique_ptr<uint16_t[]> lengths_;
    std::unique_ptr<uint32_t[]> offsets_;
};

// JPEG-compressed TIFF strips (compression 7) through libjpeg. The decoder
// reads the strip geometry from the reader's properties (borrowed; they
// must outlive the decoder): Width, Height, CurrentRow, BytesPerLine,
// RowsPerStrip, PlanarConfig, SamplesPerPixel, BitsPerSample, ColorScheme,
// YCbCrSubSampling and JPEGTables (kept by address from construction on).
//
// Output: YCbCr data of three components (ColorScheme csYCbCr, pixels
// interleaved) is upsampled and converted to red, green, blue; everything
// else comes out as its components are stored (gray, RGB, CMYK, one plane
// of planar data). Each scanline goes to its own BytesPerLine-byte row.
//
// libjpeg errors raise EGraphicCompression with the library's message; its
// warnings are shown in a message box captioned "Warning". Data that ends
// early shows "JPEG decompression error. Unexpected end of input." that way
// and decodes as if an end-of-image marker followed (the rest gray).
class TTIFFJPEGDecoder : public TDecoder {
public:
    // blueFirst: YCbCr and RGB pixels are delivered as blue, green, red
    // rather than red, green, blue.
    explicit TTIFFJPEGDecoder(TImageProperties& properties, bool blueFirst = false);
    ~TTIFFJPEGDecoder() override;
    TTIFFJPEGDecoder(const TTIFFJPEGDecoder&) = delete;
    TTIFFJPEGDecoder& operator=(const TTIFFJPEGDecoder&) = delete;

    // Decodes the JPEG stream of one strip (packedSize bytes at source)
    // into unpackedSize bytes at dest, a whole number of BytesPerLine rows.
    // The stream must hold Width x min(RowsPerStrip[0], Height - CurrentRow)
    // pixels with the file's components, precision and subsampling, else
    // EGraphicCompression says which does not fit. Neither cursor moves.
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    // Decode's work, answering the end of the whole lines it wrote, so that
    // a caller which needs the whole target defined clears only the rest.
    uint8_t* DecodeUpTo(const uint8_t* source, uint8_t* dest, int32_t packedSize, int32_t unpackedSize);
    // Releases the decompressor.
    void EndDecode() override;
    // Creates the decompressor and reads the JPEG tables, if any.
    void BeginDecode() override;
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

private:
    struct Library;

    std::unique_ptr<Library> library_;
    TImageProperties& properties_;
    const uint8_t* tables_ = nullptr;
    uint32_t tablesLength_ = 0;
    bool blueFirst_;
};

// ThunderScan 4-bit gray rows (TIFF compression 32809), two pixels a byte,
// high nibble first. Code bytes: 00nnnnnn repeats the last pixel n times,
// 01 adds three 2-bit deltas, 10 two 3-bit deltas (a delta of 2 or 4
// respectively sets no pixel), 11 sets the low nibble as a pixel.
class TThunderDecoder : public TDecoder {
public:
    // width: pixels per row.
    explicit TThunderDecoder(uint32_t width) : Width(width) {}

    // Decodes rows of Width pixels (ceil(Width / 2) bytes each, the last
    // one cut at unpackedSize) from at most packedSize bytes. Every row
    // starts from a last pixel of 0; codes are read until the row holds
    // Width pixels, and pixels beyond the row are dropped. Data that ends
    // early leaves the rest of the target as it was. Neither cursor moves.
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

    uint32_t Width;
};

// A zlib (deflate) stream, fed block by block.
class TLZ77Decoder : public TDecoder {
public:
    TLZ77Decoder(int flushMode, bool autoReset);
    ~TLZ77Decoder() override;
    TLZ77Decoder(const TLZ77Decoder&) = delete;
    TLZ77Decoder& operator=(const TLZ77Decoder&) = delete;

    // Inflates packedSize bytes at source into at most unpackedSize bytes at
    // dest and moves both cursors past what was used. Once the stream has
    // ended or failed (and auto reset is off) nothing more is decoded.
    void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
    void EndDecode() override;
    void BeginDecode() override;
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t& bytesStored) override { bytesStored = 0; }

    // The result of the last inflate call: Z_OK, Z_STREAM_END or an error.
    int ZLibResult() const { return zLibResult_; }
    uint32_t AvailableInput() const { return stream_.avail_in; }
    uint32_t AvailableOutput() const { return stream_.avail_out; }

private:
    z_stream stream_{};
    int zLibResult_ = Z_OK;
    int flushMode_;
    bool autoReset_;
    bool initialized_ = false;
};

// The pieces of an old-style JPEG image (TIFF compression 6) that its
// fields point at.
struct TOldJPEGParts {
    uint32_t Width = 0, Height = 0;
    uint8_t Components = 0;
    // Sampling of the first component; the others are not subsampled.
    uint8_t HorizontalSampling = 1, VerticalSampling = 1;
    uint32_t RestartInterval = 0;
    // One table per component: 64 quantisation values; 16 code counts and
    // the code values.
    std::vector<std::vector<uint8_t>> QuantTables, DCTables, ACTables;
    // A JPEG header (JPEGInterchangeFormat) whose tables and frame are used
    // before those of the fields; may be empty.
    std::vector<uint8_t> Header;
    // The entropy-coded data of each strip, in order.
    std::vector<std::pair<const uint8_t*, size_t>> Scans;
};

// Whether a JPEG stream's header runs up to a scan (a whole stream, not
// tables alone).
bool JPEGHasScan(const std::vector<uint8_t>& stream);
// One baseline JPEG stream of the parts: the header's segments, the
// fields' tables and a frame where the header has none, the scans.
std::vector<uint8_t> OldJPEGStream(const TOldJPEGParts& parts);

// Reverses the order of the bits in each of count bytes.
void ReverseBits(uint8_t* bytes, size_t count);

// The most bytes one byte of a deflate stream can expand to (a 258-byte
// match coded in about two bits): image data a stream could not hold is
// refused before anything is allocated for it.
constexpr uint64_t DeflateBestRatio = 1032;

// Inflates a zlib stream held whole in memory in one call (libdeflate, which
// runs far faster than zlib's inflate when it need not stop between pieces).
// Answers true when the stream is valid, its Adler-32 included, and yields
// exactly unpackedSize bytes; consumed then counts the packed bytes the
// stream took. Readers handed their data piece by piece use TLZ77Decoder.
bool InflateWhole(const uint8_t* source, size_t packedSize, uint8_t* dest, size_t unpackedSize, size_t& consumed);
