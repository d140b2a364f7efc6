#include <gtest/gtest.h>

#include <numeric>

#include "compression/GraphicCompression.h"
#include "ImageFiles.h"

namespace {

using imagefiles::Bytes;

Bytes Encode(uint32_t pixelBits, const Bytes& row) {
    TTargaRLEDecoder encoder(pixelBits);
    const uint32_t p = encoder.BytesPerPixel();
    Bytes packed(2 * row.size() + 2);
    uint32_t stored = 0;
    encoder.Encode(row.data(), packed.data(), static_cast<uint32_t>(row.size() / p), stored);
    packed.resize(stored);
    return packed;
}

// Packets hold at most 128 pixels; a raw stretch ends where the next pixel
// starts a run.
TEST(TargaRLE, PacketsAndTheirLimits) {
    Bytes distinct(200), distinctPacked = {127};
    std::iota(distinct.begin(), distinct.end(), 0);
    distinctPacked.insert(distinctPacked.end(), distinct.begin(), distinct.begin() + 128);
    distinctPacked.push_back(71);
    distinctPacked.insert(distinctPacked.end(), distinct.begin() + 128, distinct.end());
    const struct {
        uint32_t Bits;
        Bytes Row, Packed;
    } cases[] = {
        // Four equal 24-bit pixels, then three distinct ones.
        {24,
         {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
         {0x83, 1, 2, 3, 0x02, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {8, {42}, {0x00, 42}},
        {8, Bytes(300, 7), {0xFF, 7, 0xFF, 7, 0xAB, 7}},
        {8, distinct, distinctPacked},
        {8, {1, 2, 2}, {0x00, 1, 0x81, 2}},
    };
    for (const auto& c : cases) EXPECT_EQ(Encode(c.Bits, c.Row), c.Packed) << c.Bits << "-bit, " << c.Row.size();
}

// Decoding takes every packet's bytes, leaves the target cursor where it was
// and gives back the row.
TEST(TargaRLE, RoundTripsEveryPixelSize) {
    for (uint32_t bits : {8u, 15u, 16u, 24u, 32u}) {
        SCOPED_TRACE(bits);
        const uint32_t p = (bits + 1) / 8;
        Bytes row;
        for (uint32_t i = 0; i < 500; ++i)
            for (uint32_t k = 0; k < p; ++k) row.push_back(static_cast<uint8_t>((i / 7 % 3 == 0 ? i : i / 40) + k));
        Bytes packed = Encode(bits, row);
        EXPECT_LE(packed.size(), 500u * (p + 1));
        Bytes out(row.size());
        uint8_t* source = packed.data();
        uint8_t* dest = out.data();
        TTargaRLEDecoder(bits).Decode(source, dest, static_cast<int32_t>(packed.size()), 500);
        EXPECT_EQ(out, row);
        EXPECT_EQ(source, packed.data() + packed.size());
        EXPECT_EQ(dest, out.data());
    }
}

TEST(TargaRLE, PacketsCrossingTheRowEndCarryIntoTheNextRow) {
    // Rows of 3 pixels; a run of 5 and a raw packet of 4 straddle row ends.
    Bytes packed = {0x84, 9, 0x03, 1, 2, 3, 4};
    TTargaRLEDecoder decoder(8);
    Bytes image;
    uint8_t* source = packed.data();
    for (int r = 0; r < 3; ++r) {
        Bytes row(3 + 1, 0xEE);  // a guard byte after the row
        uint8_t* dest = row.data();
        decoder.Decode(source, dest, static_cast<int32_t>(packed.data() + packed.size() - source), 3);
        EXPECT_EQ(row[3], 0xEE) << "wrote past row " << r;
        image.insert(image.end(), row.begin(), row.begin() + 3);
    }
    EXPECT_EQ(image, (Bytes{9, 9, 9, 9, 9, 1, 2, 3, 4}));
    EXPECT_EQ(source, packed.data() + packed.size());
}

TEST(TargaRLE, TruncatedOrUnknownDataStaysInBounds) {
    TTargaRLEDecoder decoder(24);
    Bytes out(12, 0xEE);
    Bytes packed = {0x83, 1, 2};  // run packet cut inside its pixel
    uint8_t* source = packed.data();
    uint8_t* dest = out.data();
    decoder.Decode(source, dest, static_cast<int32_t>(packed.size()), 4);
    EXPECT_EQ(out, Bytes(12, 0xEE));
    EXPECT_EQ(source, packed.data() + packed.size());

    Bytes raw = {0x03, 1, 2, 3, 4, 5};  // raw packet cut after a pixel and a half
    source = raw.data();
    decoder.Decode(source, dest, static_cast<int32_t>(raw.size()), 4);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));

    TTargaRLEDecoder odd(12);
    source = raw.data();
    odd.Decode(source, dest, static_cast<int32_t>(raw.size()), 4);
    EXPECT_EQ(source, raw.data());
}

TEST(LZ77, InflatesInPiecesAndStopsAtTheEnd) {
    Bytes plain(10000);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * i >> 3);
    Bytes packed = imagefiles::Deflate(plain);

    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.BeginDecode();
    Bytes out(plain.size() + 16);
    uint8_t* source = packed.data();
    uint8_t* dest = out.data();
    // Feed the input in small blocks, as chunked data arrives.
    while (source < packed.data() + packed.size() && decoder.ZLibResult() == Z_OK) {
        const auto block = std::min<int32_t>(100, static_cast<int32_t>(packed.data() + packed.size() - source));
        decoder.Decode(source, dest, block, static_cast<int32_t>(out.data() + out.size() - dest));
    }
    EXPECT_EQ(decoder.ZLibResult(), Z_STREAM_END);
    EXPECT_EQ(dest - out.data(), static_cast<ptrdiff_t>(plain.size()));
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), out.begin()));

    // Without auto reset an ended stream writes nothing more.
    source = packed.data();
    uint8_t* again = out.data();
    decoder.Decode(source, again, static_cast<int32_t>(packed.size()), 100);
    EXPECT_EQ(again, out.data());
    decoder.EndDecode();
}

TEST(LZ77, AutoResetStartsEveryBlockAfresh) {
    const Bytes plain(64, 'x');
    Bytes packed = imagefiles::Deflate(plain);
    TLZ77Decoder decoder(Z_FINISH, true);
    decoder.BeginDecode();
    for (int i = 0; i < 2; ++i) {
        Bytes out(64);
        uint8_t* source = packed.data();
        uint8_t* dest = out.data();
        decoder.Decode(source, dest, static_cast<int32_t>(packed.size()), 64);
        EXPECT_EQ(out, plain);
    }
    decoder.EndDecode();
}

TEST(LZ77, CorruptDataIsReportedAndEndingTwiceRaises) {
    Bytes garbage = {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF};
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.BeginDecode();
    Bytes out(16);
    uint8_t* source = garbage.data();
    uint8_t* dest = out.data();
    decoder.Decode(source, dest, static_cast<int32_t>(garbage.size()), 16);
    EXPECT_EQ(decoder.ZLibResult(), Z_DATA_ERROR);
    decoder.EndDecode();
    EXPECT_THROW(decoder.EndDecode(), EGraphicCompression);
}

}  // namespace
