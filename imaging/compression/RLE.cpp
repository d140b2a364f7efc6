// The run-length decoders: PackBits, PCX, SGI, Dr. Halo CUT, Paintshop Pro
// and RLA. They share one bounded cursor pair so that no malformed run can
// read past the packed block or write past the target.
#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "color/Rows.h"
#include "compression/GraphicCompression.h"

namespace {

using graphiccolor::Load;
using graphiccolor::Store;

// Runs are short (at most 128 bytes in every format here), and memcpy or
// memset of a length known only at run time becomes a string instruction
// that takes longer to start than such a run takes to move. Fixed-size moves
// do it instead: 16-byte blocks, the last one ending exactly at the run's
// end (overlapping the one before), and for shorter runs two overlapping
// moves of 8, 4 or 1 bytes. Nothing outside the run is read or written.
void CopyRun(uint8_t* out, const uint8_t* in, size_t n) {
    if (n >= 16) {
        for (size_t i = 0; i + 16 < n; i += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n - 16),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + n - 16)));
    } else if (n >= 8) {
        const auto head = Load<uint64_t>(in), tail = Load<uint64_t>(in + n - 8);
        Store(out, head);
        Store(out + n - 8, tail);
    } else if (n >= 4) {
        const auto head = Load<uint32_t>(in), tail = Load<uint32_t>(in + n - 4);
        Store(out, head);
        Store(out + n - 4, tail);
    } else if (n > 0) {
        out[0] = in[0];
        out[n / 2] = in[n / 2];
        out[n - 1] = in[n - 1];
    }
}

void FillRun(uint8_t* out, uint8_t value, size_t n) {
    if (n >= 16) {
        const __m128i block = _mm_set1_epi8(char(value));
        for (size_t i = 0; i + 16 < n; i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), block);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n - 16), block);
    } else if (n >= 8) {
        const uint64_t block = value * 0x0101010101010101u;
        Store(out, block);
        Store(out + n - 8, block);
    } else if (n >= 4) {
        const uint32_t block = value * 0x01010101u;
        Store(out, block);
        Store(out + n - 4, block);
    } else if (n > 0) {
        out[0] = out[n / 2] = out[n - 1] = value;
    }
}

// The source and target of one Decode call with their ends. Copies and
// fills are cut at the end of the target; a copy also stops at the end of
// the data but always consumes its full length from the source when the
// bytes are there, so that the next control byte is where it should be.
struct RunCursor {
    const uint8_t* in;
    const uint8_t* inEnd;
    uint8_t* out;
    uint8_t* outEnd;

    RunCursor(const uint8_t* source, int32_t packedSize, uint8_t* dest, int32_t unpackedSize)
        : in(source), inEnd(source + std::max(packedSize, 0)), out(dest), outEnd(dest + std::max(unpackedSize, 0)) {}

    size_t InLeft() const { return static_cast<size_t>(inEnd - in); }
    size_t OutLeft() const { return static_cast<size_t>(outEnd - out); }
    bool Full() const { return out == outEnd; }

    // Reads one byte into b; false when the data has ended.
    bool Next(uint8_t& b) {
        if (in == inEnd) return false;
        b = *in++;
        return true;
    }

    void Copy(size_t n) {
        n = std::min(n, InLeft());
        const size_t written = std::min(n, OutLeft());
        CopyRun(out, in, written);
        out += written;
        in += n;
    }

    // Fills n copies of the next source byte; false when there is none.
    bool Fill(size_t n) {
        uint8_t value;
        if (!Next(value)) return false;
        n = std::min(n, OutLeft());
        FillRun(out, value, n);
        out += n;
        return true;
    }
};

}  // namespace

void TPackbitsRLEDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    DecodeUpTo(source, dest, packedSize, unpackedSize);
}

uint8_t* TPackbitsRLEDecoder::DecodeUpTo(const uint8_t* source, uint8_t* dest, int32_t packedSize,
                                         int32_t unpackedSize) {
    RunCursor c(source, packedSize, dest, unpackedSize);
    uint8_t control;
    while (!c.Full() && c.Next(control)) {
        const auto k = static_cast<int8_t>(control);
        if (k >= 0) {
            c.Copy(size_t(k) + 1);
        } else if (k != -128) {
            if (!c.Fill(size_t(1 - k))) break;
        }
    }
    return c.out;
}

void TPCXRLEDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    RunCursor c(source, packedSize, dest, unpackedSize);
    uint8_t b;
    while (!c.Full() && c.Next(b)) {
        if (b >= 0xC0) {
            if (!c.Fill(b & 0x3Fu)) break;
        } else {
            *c.out++ = b;
        }
    }
}

void TSGIRLEDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    RunCursor c(source, packedSize, dest, unpackedSize);
    if (SampleSize != 16) {
        uint8_t control;
        while (!c.Full() && c.Next(control)) {
            const size_t n = control & 0x7Fu;
            if (n == 0) break;
            if (control & 0x80u) {
                c.Copy(n);
            } else if (!c.Fill(n)) {
                break;
            }
        }
        return;
    }
    // 16-bit items: only whole items are read and written.
    c.outEnd = c.out + (c.OutLeft() & ~size_t(1));
    while (!c.Full() && c.InLeft() >= 2) {
        const unsigned control = (c.in[0] << 8) | c.in[1];
        const size_t n = control & 0x7Fu;
        c.in += 2;
        if (n == 0) break;
        if (control & 0x80u) {
            const size_t items = std::min({n, c.InLeft() / 2, c.OutLeft() / 2});
            if (items > 0) std::memcpy(c.out, c.in, 2 * items);
            c.out += 2 * items;
            c.in += 2 * std::min(n, c.InLeft() / 2);
        } else {
            if (c.InLeft() < 2) break;
            const uint8_t item[2] = {c.in[0], c.in[1]};
            c.in += 2;
            for (size_t i = std::min(n, c.OutLeft() / 2); i > 0; --i, c.out += 2) std::memcpy(c.out, item, 2);
        }
    }
}

void TCUTRLEDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    RunCursor c(source, packedSize, dest, unpackedSize);
    c.in += std::min<size_t>(2, c.InLeft());
    uint8_t control;
    while (c.Next(control) && control != 0) {
        const size_t n = control & 0x7Fu;
        if (control & 0x80u) {
            if (!c.Fill(n)) break;
        } else {
            c.Copy(n);
        }
    }
    source += c.in - source;
}

void TPSPRLEDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    RunCursor c(source, packedSize, dest, unpackedSize);
    uint8_t b;
    while (!c.Full() && c.Next(b)) {
        if (b & 0x80u) {
            if (!c.Fill(b - 128u)) break;
        } else {
            c.Copy(b);
        }
    }
}

void TRLADecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    RunCursor c(source, packedSize, dest, unpackedSize);
    uint8_t b;
    while (!c.Full() && c.Next(b)) {
        const auto count = static_cast<int8_t>(b);
        if (count < 0) {
            c.Copy(size_t(-count));
        } else if (!c.Fill(size_t(count) + 1)) {
            break;
        }
    }
}
