// Decoders for compressed pixel data. A reader creates the decoder its file
// calls for, calls BeginDecode once, Decode once per packed block and
// EndDecode once (also when decoding fails), then frees it.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "SysUtils.h"

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

    uint32_t PixelBits;

private:
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
