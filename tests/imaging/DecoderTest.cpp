// The decoders of GraphicCompression on hand-made packed data with known
// output, cut-off data, runs that pass the end of the target and random
// bytes; the fax, LZW and JPEG decoders also against data written by
// libtiff where it is available.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

#include "GraphicCompression.h"
#include "ImageFiles.h"

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

struct RunLengthCase {
    const char* Name;
    DecoderFactory Factory;
    Bytes Packed;
    size_t Room;
    Bytes Expected;
    ptrdiff_t SourceMoved = 0;
};

TEST(RunLengthDecoders, KnownDataCutOffDataAndOverlongRuns) {
    const auto packbits = Make<TPackbitsRLEDecoder>();
    const auto pcx = Make<TPCXRLEDecoder>();
    const auto sgi8 = Make<TSGIRLEDecoder>(uint8_t(8));
    const auto sgi16 = Make<TSGIRLEDecoder>(uint8_t(16));
    const auto cut = Make<TCUTRLEDecoder>();
    const auto psp = Make<TPSPRLEDecoder>();
    const auto rla = Make<TRLADecoder>();
    const RunLengthCase cases[] = {
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        auto decoder = c.Factory();
        const auto [target, moved] = DecodeBlock(*decoder, c.Packed, c.Room);
        EXPECT_EQ(target, Written(c.Expected, c.Room));
        EXPECT_EQ(moved, c.SourceMoved);
    }
}

TEST(RunLengthDecoders, CutWalksABufferRowByRow) {
    Bytes packed = {0, 0, 0x82, 1, 0x01, 2, 0, 9, 9, 0x02, 3, 4, 0};
    TCUTRLEDecoder decoder;
    uint8_t* source = packed.data();
    Bytes rows;
    for (int r = 0; r < 2; ++r) {
        Bytes row(3);
        uint8_t* dest = row.data();
        decoder.Decode(source, dest, static_cast<int32_t>(packed.data() + packed.size() - source), 3);
        rows.insert(rows.end(), row.begin(), row.end());
    }
    EXPECT_EQ(rows, (Bytes{1, 1, 2, 3, 4, 0}));
    EXPECT_EQ(source, packed.data() + packed.size());
}

// Random bytes through every decoder: the sanitizer build checks the reads,
// the guard bytes the writes.
TEST(RunLengthDecoders, RandomDataStaysInBounds) {
    const DecoderFactory factories[] = {
        Make<TPackbitsRLEDecoder>(), Make<TPCXRLEDecoder>(), Make<TSGIRLEDecoder>(uint8_t(8)),
        Make<TSGIRLEDecoder>(uint8_t(16)), Make<TCUTRLEDecoder>(), Make<TPSPRLEDecoder>(), Make<TRLADecoder>(),
    };
    std::mt19937 random(7);
    for (const auto& factory : factories) {
        for (int i = 0; i < 300; ++i) {
            Bytes packed(random() % 64);
            for (auto& b : packed) b = static_cast<uint8_t>(random());
            const size_t room = random() % 40;
            auto decoder = factory();
            const auto [target, moved] = DecodeBlock(*decoder, packed, room);
            ASSERT_EQ(Bytes(target.end() - 8, target.end()), Bytes(8, kGuard));
            ASSERT_LE(size_t(moved), packed.size());
        }
    }
}

}  // namespace
