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
