// The ThunderScan decoder: 4-bit gray rows coded as runs of the last pixel,
// small deltas from it and raw pixels.
#include <algorithm>
#include <cstring>

#include "compression/GraphicCompression.h"

namespace {

constexpr int TwoBitDeltas[4] = {0, 1, 0, -1};
constexpr int ThreeBitDeltas[8] = {0, 1, 2, 3, 0, -3, -2, -1};
// The delta codes that set no pixel.
constexpr unsigned SkipTwoBit = 2;
constexpr unsigned SkipThreeBit = 4;

// Writes the pixels of one row, high nibble first, dropping those beyond
// the row's end.
class NibbleRow {
public:
    NibbleRow(uint8_t* row, uint32_t pixels) : row_(row), pixels_(pixels) {}

    bool Full() const { return x_ >= pixels_; }
    int Last() const { return last_; }

    void Set(int value) {
        last_ = value & 0x0F;
        if (Full()) return;
        uint8_t& byte = row_[x_ >> 1];
        byte = (x_ & 1) ? static_cast<uint8_t>((byte & 0xF0) | last_) : static_cast<uint8_t>(last_ << 4);
        ++x_;
    }

    void Repeat(uint32_t n) {
        n = std::min(n, pixels_ - x_);
        if (n > 0 && (x_ & 1)) Set(last_), --n;
        std::memset(row_ + (x_ >> 1), last_ * 0x11, n / 2);
        x_ += n & ~1u;
        if (n & 1) Set(last_);
    }

private:
    uint8_t* row_;
    uint32_t pixels_;
    uint32_t x_ = 0;
    int last_ = 0;
};

}  // namespace

void TThunderDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    const uint8_t* in = source;
    const uint8_t* const inEnd = source + std::max(packedSize, 0);
    const size_t rowBytes = (size_t(Width) + 1) / 2;
    size_t left = size_t(std::max(unpackedSize, 0));
    for (uint8_t* row = dest; Width > 0 && left > 0 && in < inEnd; row += rowBytes, left -= std::min(left, rowBytes)) {
        NibbleRow pixels(row, static_cast<uint32_t>(std::min<size_t>(Width, 2 * std::min(left, rowBytes))));
        for (uint64_t count = 0; count < Width && in < inEnd;) {
            const uint8_t code = *in++;
            switch (code >> 6) {
                case 0:
                    pixels.Repeat(code & 0x3F);
                    count += code & 0x3F;
                    break;
                case 1:
                    for (int shift = 4; shift >= 0; shift -= 2) {
                        const unsigned d = (code >> shift) & 3;
                        if (d != SkipTwoBit) pixels.Set(pixels.Last() + TwoBitDeltas[d]), ++count;
                    }
                    break;
                case 2:
                    for (int shift = 3; shift >= 0; shift -= 3) {
                        const unsigned d = (code >> shift) & 7;
                        if (d != SkipThreeBit) pixels.Set(pixels.Last() + ThreeBitDeltas[d]), ++count;
                    }
                    break;
                default:
                    pixels.Set(code);
                    ++count;
                    break;
            }
        }
    }
}
