// The CCITT fax decoders: ITU-T T.4 rows with and without end-of-line codes,
// one- and two-dimensional, and ITU-T T.6 (Group 4). Rows are decoded into
// lists of changing elements (the positions where the colour changes),
// which two-dimensional rows refer to, and then drawn into the zero-filled
// target, black spans only.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <span>
#include <vector>

#include "compression/GraphicCompression.h"

namespace {

// One code of the T.4 tables: the run it stands for (-1 end of line, -2
// invalid), its length in bits and the bits themselves.
struct FaxCode {
    int16_t Run;
    uint8_t Length;
    uint16_t Bits;
};

constexpr FaxCode WhiteTerminatingCodes[] = {
    {0, 8, 0b00110101}, {1, 6, 0b000111}, {2, 4, 0b0111}, {3, 4, 0b1000}, {4, 4, 0b1011}, {5, 4, 0b1100},
    {6, 4, 0b1110}, {7, 4, 0b1111}, {8, 5, 0b10011}, {9, 5, 0b10100}, {10, 5, 0b00111}, {11, 5, 0b01000},
    {12, 6, 0b001000}, {13, 6, 0b000011}, {14, 6, 0b110100}, {15, 6, 0b110101}, {16, 6, 0b101010},
    {17, 6, 0b101011}, {18, 7, 0b0100111}, {19, 7, 0b0001100}, {20, 7, 0b0001000}, {21, 7, 0b0010111},
    {22, 7, 0b0000011}, {23, 7, 0b0000100}, {24, 7, 0b0101000}, {25, 7, 0b0101011}, {26, 7, 0b0010011},
    {27, 7, 0b0100100}, {28, 7, 0b0011000}, {29, 8, 0b00000010}, {30, 8, 0b00000011}, {31, 8, 0b00011010},
    {32, 8, 0b00011011}, {33, 8, 0b00010010}, {34, 8, 0b00010011}, {35, 8, 0b00010100}, {36, 8, 0b00010101},
    {37, 8, 0b00010110}, {38, 8, 0b00010111}, {39, 8, 0b00101000}, {40, 8, 0b00101001}, {41, 8, 0b00101010},
    {42, 8, 0b00101011}, {43, 8, 0b00101100}, {44, 8, 0b00101101}, {45, 8, 0b00000100}, {46, 8, 0b00000101},
    {47, 8, 0b00001010}, {48, 8, 0b00001011}, {49, 8, 0b01010010}, {50, 8, 0b01010011}, {51, 8, 0b01010100},
    {52, 8, 0b01010101}, {53, 8, 0b00100100}, {54, 8, 0b00100101}, {55, 8, 0b01011000}, {56, 8, 0b01011001},
    {57, 8, 0b01011010}, {58, 8, 0b01011011}, {59, 8, 0b01001010}, {60, 8, 0b01001011}, {61, 8, 0b00110010},
    {62, 8, 0b00110011}, {63, 8, 0b00110100},
};
constexpr FaxCode WhiteMakeUpCodes[] = {
    {64, 5, 0b11011}, {128, 5, 0b10010}, {192, 6, 0b010111}, {256, 7, 0b0110111}, {320, 8, 0b00110110},
    {384, 8, 0b00110111}, {448, 8, 0b01100100}, {512, 8, 0b01100101}, {576, 8, 0b01101000}, {640, 8, 0b01100111},
    {704, 9, 0b011001100}, {768, 9, 0b011001101}, {832, 9, 0b011010010}, {896, 9, 0b011010011},
    {960, 9, 0b011010100}, {1024, 9, 0b011010101}, {1088, 9, 0b011010110}, {1152, 9, 0b011010111},
    {1216, 9, 0b011011000}, {1280, 9, 0b011011001}, {1344, 9, 0b011011010}, {1408, 9, 0b011011011},
    {1472, 9, 0b010011000}, {1536, 9, 0b010011001}, {1600, 9, 0b010011010}, {1664, 6, 0b011000},
    {1728, 9, 0b010011011},
};
constexpr FaxCode BlackTerminatingCodes[] = {
    {0, 10, 0b0000110111}, {1, 3, 0b010}, {2, 2, 0b11}, {3, 2, 0b10}, {4, 3, 0b011}, {5, 4, 0b0011}, {6, 4, 0b0010},
    {7, 5, 0b00011}, {8, 6, 0b000101}, {9, 6, 0b000100}, {10, 7, 0b0000100}, {11, 7, 0b0000101}, {12, 7, 0b0000111},
    {13, 8, 0b00000100}, {14, 8, 0b00000111}, {15, 9, 0b000011000}, {16, 10, 0b0000010111}, {17, 10, 0b0000011000},
    {18, 10, 0b0000001000}, {19, 11, 0b00001100111}, {20, 11, 0b00001101000}, {21, 11, 0b00001101100},
    {22, 11, 0b00000110111}, {23, 11, 0b00000101000}, {24, 11, 0b00000010111}, {25, 11, 0b00000011000},
    {26, 12, 0b000011001010}, {27, 12, 0b000011001011}, {28, 12, 0b000011001100}, {29, 12, 0b000011001101},
    {30, 12, 0b000001101000}, {31, 12, 0b000001101001}, {32, 12, 0b000001101010}, {33, 12, 0b000001101011},
    {34, 12, 0b000011010010}, {35, 12, 0b000011010011}, {36, 12, 0b000011010100}, {37, 12, 0b000011010101},
    {38, 12, 0b000011010110}, {39, 12, 0b000011010111}, {40, 12, 0b000001101100}, {41, 12, 0b000001101101},
    {42, 12, 0b000011011010}, {43, 12, 0b000011011011}, {44, 12, 0b000001010100}, {45, 12, 0b000001010101},
    {46, 12, 0b000001010110}, {47, 12, 0b000001010111}, {48, 12, 0b000001100100}, {49, 12, 0b000001100101},
    {50, 12, 0b000001010010}, {51, 12, 0b000001010011}, {52, 12, 0b000000100100}, {53, 12, 0b000000110111},
    {54, 12, 0b000000111000}, {55, 12, 0b000000100111}, {56, 12, 0b000000101000}, {57, 12, 0b000001011000},
    {58, 12, 0b000001011001}, {59, 12, 0b000000101011}, {60, 12, 0b000000101100}, {61, 12, 0b000001011010},
    {62, 12, 0b000001100110}, {63, 12, 0b000001100111},
};
constexpr FaxCode BlackMakeUpCodes[] = {
    {64, 10, 0b0000001111}, {128, 12, 0b000011001000}, {192, 12, 0b000011001001}, {256, 12, 0b000001011011},
    {320, 12, 0b000000110011}, {384, 12, 0b000000110100}, {448, 12, 0b000000110101}, {512, 13, 0b0000001101100},
    {576, 13, 0b0000001101101}, {640, 13, 0b0000001001010}, {704, 13, 0b0000001001011}, {768, 13, 0b0000001001100},
    {832, 13, 0b0000001001101}, {896, 13, 0b0000001110010}, {960, 13, 0b0000001110011}, {1024, 13, 0b0000001110100},
    {1088, 13, 0b0000001110101}, {1152, 13, 0b0000001110110}, {1216, 13, 0b0000001110111},
    {1280, 13, 0b0000001010010}, {1344, 13, 0b0000001010011}, {1408, 13, 0b0000001010100},
    {1472, 13, 0b0000001010101}, {1536, 13, 0b0000001011010}, {1600, 13, 0b0000001011011},
    {1664, 13, 0b0000001100100}, {1728, 13, 0b0000001100101},
};
constexpr FaxCode ExtendedMakeUpCodes[] = {
    {1792, 11, 0b00000001000}, {1856, 11, 0b00000001100}, {1920, 11, 0b00000001101}, {1984, 12, 0b000000010010},
    {2048, 12, 0b000000010011}, {2112, 12, 0b000000010100}, {2176, 12, 0b000000010101}, {2240, 12, 0b000000010110},
    {2304, 12, 0b000000010111}, {2368, 12, 0b000000011100}, {2432, 12, 0b000000011101}, {2496, 12, 0b000000011110},
    {2560, 12, 0b000000011111},
};
constexpr FaxCode SpecialCodes[] = {
    {-1, 12, 0b000000000001}, {-2, 9, 0b000000001}, {-2, 10, 0b0000000001}, {-2, 11, 0b00000000001},
    {-2, 12, 0b000000000000},
};

// Run lookup: the next 9 bits find codes of up to 9 bits directly; longer
// codes (up to 13 bits) continue in a second table of 16 entries chosen by
// the 4 bits after those 9. Both code sets are complete, so every bit
// pattern finds exactly one code.
constexpr int FirstBits = 9;
constexpr int SecondBits = 4;
constexpr int MaxCodeBits = FirstBits + SecondBits;
constexpr int MaxSecondTables = 16;

struct RunEntry {
    int16_t Run;     // or the second table's number when Length is 0
    uint8_t Length;  // bits of the code; 0 leads to a second table
};

struct RunTable {
    std::array<RunEntry, 1 << FirstBits> First{};
    std::array<std::array<RunEntry, 1 << SecondBits>, MaxSecondTables> Second{};
};

// Fails compilation when the code lists are not a complete prefix code.
void CodeTablesAreInconsistent() {}

constexpr RunTable BuildRunTable(std::initializer_list<std::span<const FaxCode>> lists) {
    RunTable table;
    std::array<bool, 1 << FirstBits> filled{};
    int secondTables = 0;
    for (const auto& list : lists) {
        for (const FaxCode& code : list) {
            if (code.Length <= FirstBits) {
                const int spare = FirstBits - code.Length;
                for (int k = 0; k < (1 << spare); ++k) {
                    const int index = (code.Bits << spare) | k;
                    if (filled[index]) CodeTablesAreInconsistent();
                    table.First[index] = {code.Run, code.Length};
                    filled[index] = true;
                }
                continue;
            }
            const int extra = code.Length - FirstBits;
            const int prefix = code.Bits >> extra;
            if (!filled[prefix]) {
                if (secondTables == MaxSecondTables) CodeTablesAreInconsistent();
                table.First[prefix] = {static_cast<int16_t>(secondTables++), 0};
                filled[prefix] = true;
            }
            if (table.First[prefix].Length != 0) CodeTablesAreInconsistent();
            auto& second = table.Second[table.First[prefix].Run];
            const int spare = SecondBits - extra;
            for (int k = 0; k < (1 << spare); ++k) second[((code.Bits & ((1 << extra) - 1)) << spare) | k] = {code.Run, code.Length};
        }
    }
    for (bool f : filled)
        if (!f) CodeTablesAreInconsistent();
    return table;
}

constexpr RunTable WhiteRuns =
    BuildRunTable({WhiteTerminatingCodes, WhiteMakeUpCodes, ExtendedMakeUpCodes, SpecialCodes});
constexpr RunTable BlackRuns =
    BuildRunTable({BlackTerminatingCodes, BlackMakeUpCodes, ExtendedMakeUpCodes, SpecialCodes});

// Two-dimensional coding: the mode codes, found with the next 7 bits.
enum class Mode : uint8_t { Pass, Horizontal, Vertical, Extension, Zeros };

struct ModeEntry {
    Mode Kind;
    int8_t Offset;   // a1 - b1 of the vertical modes
    uint8_t Length;  // bits of the code
};

constexpr int ModeBits = 7;

constexpr std::array<ModeEntry, 1 << ModeBits> ModeTable = [] {
    struct Code {
        ModeEntry Entry;
        uint8_t Bits;
    };
    constexpr Code codes[] = {
        {{Mode::Vertical, 0, 1}, 0b1},          {{Mode::Vertical, 1, 3}, 0b011},
        {{Mode::Vertical, -1, 3}, 0b010},       {{Mode::Horizontal, 0, 3}, 0b001},
        {{Mode::Pass, 0, 4}, 0b0001},           {{Mode::Vertical, 2, 6}, 0b000011},
        {{Mode::Vertical, -2, 6}, 0b000010},    {{Mode::Vertical, 3, 7}, 0b0000011},
        {{Mode::Vertical, -3, 7}, 0b0000010},   {{Mode::Extension, 0, 7}, 0b0000001},
        {{Mode::Zeros, 0, 7}, 0b0000000},
    };
    std::array<ModeEntry, 1 << ModeBits> table{};
    for (const Code& code : codes) {
        const int spare = ModeBits - code.Entry.Length;
        for (int k = 0; k < (1 << spare); ++k) table[(code.Bits << spare) | k] = code.Entry;
    }
    return table;
}();

constexpr int32_t EndOfLine = -1;
constexpr uint32_t EndOfLineCode = 1;
constexpr int EndOfLineBits = 12;
// Longer runs than any row are kept at this value, so that endless make-up
// codes cannot overflow.
constexpr int32_t MaxRun = 1 << 30;

// Reads a block most significant bit first through a 64-bit buffer. The
// valid bits sit at the top of the buffer; past the end of the block the
// reader delivers 0 bits but Available() tells how many are real.
class FaxBitReader {
public:
    FaxBitReader(const uint8_t* data, size_t size) : begin_(data), in_(data), end_(data + size) {}

    // Tops the buffer up to at least 56 bits while the block lasts (63 at
    // most, so that every shift stays below 64).
    void Refill() {
        if (end_ - in_ >= 8) {
            uint64_t word;
            std::memcpy(&word, in_, 8);
            if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
            bits_ |= word >> count_;
            const int bytes = (63 - count_) >> 3;
            in_ += bytes;
            count_ += bytes * 8;
        } else {
            while (count_ < 56 && in_ < end_) {
                bits_ |= uint64_t(*in_++) << (56 - count_);
                count_ += 8;
            }
        }
    }

    int Available() const { return count_; }
    bool Exhausted() const { return count_ == 0 && in_ == end_; }
    uint32_t Peek(int n) const { return static_cast<uint32_t>(bits_ >> (64 - n)); }
    // n <= Available().
    void Skip(int n) {
        bits_ <<= n;
        count_ -= n;
    }
    // Leading 0 bits among the available ones.
    int Zeros() const { return bits_ == 0 ? count_ : std::min(std::countl_zero(bits_), count_); }

    // Skips to the next multiple of unit bits from the start of the block
    // (or to its end).
    void Align(int unit) {
        const uint64_t consumed = uint64_t(in_ - begin_) * 8 - count_;
        int n = static_cast<int>((unit - consumed % unit) % unit);
        while (n > 0 && !Exhausted()) {
            Refill();
            const int k = std::min(n, count_);
            Skip(k);
            n -= k;
        }
    }

    // The run of the next code (or of a make-up code and the terminating
    // code that follows it); 0 or the make-up part when the data ends.
    int32_t FindRun(const RunTable& table) {
        int32_t total = 0;
        for (;;) {
            Refill();
            if (count_ == 0) return total;
            RunEntry entry = table.First[Peek(FirstBits)];
            if (entry.Length == 0) entry = table.Second[entry.Run][Peek(MaxCodeBits) & ((1 << SecondBits) - 1)];
            if (entry.Length > count_) {
                Skip(count_);
                return total;
            }
            Skip(entry.Length);
            total = std::min(total + entry.Run, MaxRun);
            if (entry.Run < 64) return total;
        }
    }

    // Reads up to and including the 1 bit that ends the next end-of-line
    // code: first eleven 0 bits in a row, then any further 0 bits and the
    // 1. False when the data ends first.
    bool SkipToEndOfLine() {
        for (int zeros = 0; zeros < 11;) {
            Refill();
            if (count_ == 0) return false;
            const int n = Zeros();
            if (zeros + n >= 11) {
                Skip(11 - zeros);
                break;
            }
            Skip(n);
            zeros += n;
            if (count_ > 0) {
                Skip(1);
                zeros = 0;
            }
        }
        for (;;) {
            Refill();
            if (count_ == 0) return false;
            const int n = Zeros();
            if (n < count_) {
                Skip(n + 1);
                return true;
            }
            Skip(n);
        }
    }

private:
    const uint8_t* begin_;
    const uint8_t* in_;
    const uint8_t* end_;
    uint64_t bits_ = 0;
    int count_ = 0;
};

// Sets the bits of pixels [from, to) in a row, most significant bit first.
void FillBlack(uint8_t* row, uint32_t from, uint32_t to) {
    if (from >= to) return;
    const uint32_t first = from >> 3;
    const uint32_t last = (to - 1) >> 3;
    const auto head = static_cast<uint8_t>(0xFFu >> (from & 7));
    const auto tail = static_cast<uint8_t>(0xFF00u >> (((to - 1) & 7) + 1));
    if (first == last) {
        row[first] |= head & tail;
        return;
    }
    row[first] |= head;
    // Most spans of a page are strokes of a few bytes.
    if (last - first <= 8)
        for (uint32_t k = first + 1; k < last; ++k) row[k] = 0xFF;
    else
        std::memset(row + first + 1, 0xFF, last - first - 1);
    row[last] |= tail;
}

// How a row ended.
enum class RowEnd { Complete, EndOfLine, Invalid, DataEnd };

// One Decode call: the bit reader over the (bit-reversed) block, the target
// rows, and the changing elements of the row being decoded and of the row
// before it (the reference line of two-dimensional coding). Changing
// elements are strictly increasing positions; those at even indices turn
// the row black, those at odd ones white again.
class FaxSession {
public:
    FaxSession(const TCCITTDecoder& decoder, uint8_t* source, int32_t packedSize, uint8_t* dest, int32_t unpackedSize)
        : bits_(source, std::max(packedSize, 0)),
          width_(decoder.Width),
          rowBytes_((size_t(decoder.OutputWidth ? std::min(decoder.OutputWidth, decoder.Width) : decoder.Width) + 7) /
                    8),
          row_(dest),
          end_(dest + std::max(unpackedSize, 0)) {
        if (row_ != end_) std::memset(row_, 0, end_ - row_);
        if (decoder.SwapBits) ReverseBits(source, size_t(std::max(packedSize, 0)));
        // Changes strictly increase from 0 to the width, and each takes at
        // least one bit: a row holds no more than either allows, plus the
        // closing change and the ends of the reference line.
        const size_t most = std::min<size_t>(width_, size_t(std::max(packedSize, 0)) * 8) + 2 + ReferenceEnd;
        changes_ = std::make_unique_for_overwrite<uint32_t[]>(most);
        reference_ = std::make_unique_for_overwrite<uint32_t[]>(most);
        std::fill_n(reference_.get(), ReferenceEnd, width_);
    }

    FaxBitReader& Bits() { return bits_; }
    bool RowsLeft() const { return width_ > 0 && row_ < end_; }

    // Adds a black span to the current row; spans arrive left to right.
    void AddBlack(uint32_t from, uint32_t to) {
        to = std::min(to, width_);
        if (from >= to) return;
        if (count_ > 0 && changes_[count_ - 1] == from) {
            changes_[count_ - 1] = to;
        } else {
            changes_[count_++] = from;
            changes_[count_++] = to;
        }
    }

    // Draws the current row, makes it the reference line and moves to the
    // next row. A row that ends black is black up to its end.
    void EndRow() {
        const size_t room = std::min<size_t>(rowBytes_, end_ - row_);
        const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(width_, room * 8));
        uint32_t* const c = changes_.get();
        if (count_ & 1) c[count_++] = width_;
        for (size_t i = 0; i < count_; i += 2) FillBlack(row_, std::min(c[i], limit), std::min(c[i + 1], limit));
        row_ += room;
        std::fill_n(c + count_, ReferenceEnd, width_);
        std::swap(reference_, changes_);
        count_ = 0;
    }

    // Decodes one row of white and black runs, starting white, until the
    // runs fill it, an end-of-line or invalid code comes or the data ends.
    // Answers whether the row ended on an end-of-line code.
    bool DecodeOneDimensionalRow() {
        FaxBitReader bits = bits_;
        uint32_t x = 0;
        bool white = true;
        int32_t run = 0;
        while (!bits.Exhausted()) {
            run = bits.FindRun(white ? WhiteRuns : BlackRuns);
            if (run < 0) break;
            const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(uint64_t(x) + run, width_));
            if (!white) AddBlack(x, end);
            x = end;
            if (x >= width_) break;
            white = !white;
        }
        bits_ = bits;
        return run == EndOfLine;
    }

    // Decodes one row of two-dimensional coding against the reference line,
    // until it is complete or a code ends it.
    RowEnd DecodeTwoDimensionalRow() {
        // The reader and the row's changes live in locals (registers) while
        // the row is decoded.
        FaxBitReader bits = bits_;
        size_t n = count_;
        const RowEnd end = DecodeModes(bits, n);
        bits_ = bits;
        count_ = n;
        return end;
    }

private:
    // The reference line ends with this many copies of the width, so that
    // b1 and b2 always exist.
    static constexpr size_t ReferenceEnd = 3;

    RowEnd DecodeModes(FaxBitReader& reader, size_t& count) const {
        FaxBitReader bits = reader;
        size_t n = count;
        const auto finish = [&](RowEnd end) {
            reader = bits;
            count = n;
            return end;
        };
        uint32_t* const c = changes_.get();
        // A change of colour at x; one at the same place as the last change
        // undoes it (a run of 0).
        const auto change = [c, &n](uint32_t x) {
            if (n > 0 && c[n - 1] == x)
                --n;
            else
                c[n++] = x;
        };
        const uint32_t* const b = reference_.get();
        const int64_t width = width_;
        // a0 starts on an imaginary white pixel before the row.
        int64_t a0 = -1;
        size_t parity = 0;  // 0 while a0 is white, 1 while black
        size_t j = 0;
        while (a0 < width) {
            bits.Refill();
            // b1: the first change of the reference line right of a0 to the
            // colour opposite a0's; b2 the change after it.
            while (b[j] <= a0 || (j & 1) != parity) ++j;
            const ModeEntry mode = ModeTable[bits.Peek(ModeBits)];
            if (mode.Length > bits.Available()) return finish(RowEnd::DataEnd);
            bits.Skip(mode.Length);
            if (mode.Kind == Mode::Vertical) {
                const int64_t a1 = int64_t(b[j]) + mode.Offset;
                if (a1 <= a0 || a1 > width) return finish(RowEnd::Invalid);
                change(static_cast<uint32_t>(a1));
                a0 = a1;
                parity ^= 1;
                // b1 of the new colour may lie just left of the old b1.
                j -= j > 0;
            } else if (mode.Kind == Mode::Horizontal) {
                const int32_t first = bits.FindRun(parity ? BlackRuns : WhiteRuns);
                const int32_t second = bits.FindRun(parity ? WhiteRuns : BlackRuns);
                if (first < 0 || second < 0)
                    return finish(first == EndOfLine || second == EndOfLine ? RowEnd::EndOfLine : RowEnd::Invalid);
                const int64_t a1 = std::min(std::max<int64_t>(a0, 0) + first, width);
                const int64_t a2 = std::min(a1 + second, width);
                change(static_cast<uint32_t>(a1));
                change(static_cast<uint32_t>(a2));
                a0 = a2;
            } else if (mode.Kind == Mode::Pass) {
                a0 = b[j + 1];
            } else if (mode.Kind == Mode::Zeros && bits.Available() >= EndOfLineBits - ModeBits &&
                       bits.Peek(EndOfLineBits - ModeBits) == EndOfLineCode) {
                bits.Skip(EndOfLineBits - ModeBits);
                return finish(RowEnd::EndOfLine);
            } else {
                return finish(RowEnd::Invalid);  // uncompressed mode or a bad code
            }
        }
        return finish(RowEnd::Complete);
    }

    FaxBitReader bits_;
    uint32_t width_;
    size_t rowBytes_;
    uint8_t* row_;
    uint8_t* end_;
    std::unique_ptr<uint32_t[]> changes_;
    size_t count_ = 0;
    std::unique_ptr<uint32_t[]> reference_;
};

}  // namespace

void TCCITTFax3Decoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    FaxSession session(*this, source, packedSize, dest, unpackedSize);
    FaxBitReader& bits = session.Bits();
    const bool twoDimensional = Options & Fax3TwoDimensional;
    bool endedOnEndOfLine = false;
    while (session.RowsLeft() && !bits.Exhausted()) {
        if (!endedOnEndOfLine && !bits.SkipToEndOfLine()) break;
        // Two-dimensional coding tags every row: 1 one-dimensional, 0 two.
        bool oneDimensional = true;
        if (twoDimensional) {
            bits.Refill();
            if (bits.Available() == 0) break;
            oneDimensional = bits.Peek(1) != 0;
            bits.Skip(1);
        }
        if (oneDimensional)
            endedOnEndOfLine = session.DecodeOneDimensionalRow();
        else
            endedOnEndOfLine = session.DecodeTwoDimensionalRow() == RowEnd::EndOfLine;
        session.EndRow();
    }
}

void TCCITTFax4Decoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    FaxSession session(*this, source, packedSize, dest, unpackedSize);
    while (session.RowsLeft() && !session.Bits().Exhausted()) {
        const RowEnd end = session.DecodeTwoDimensionalRow();
        session.EndRow();
        // The end-of-facsimile-block code (two end-of-line codes), damage or
        // the end of the data.
        if (end != RowEnd::Complete) break;
    }
}

void TCCITTMHDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    FaxSession session(*this, source, packedSize, dest, unpackedSize);
    FaxBitReader& bits = session.Bits();
    const int alignment = WordAligned ? 16 : 8;
    uint32_t x = 0;
    bool white = true;
    while (session.RowsLeft() && !bits.Exhausted()) {
        const int32_t run = bits.FindRun(white ? WhiteRuns : BlackRuns);
        if (run > 0) {
            const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(uint64_t(x) + run, Width));
            if (!white) session.AddBlack(x, end);
            x = end;
            if (x >= Width) {
                session.EndRow();
                bits.Align(alignment);
                x = 0;
                white = false;  // the switch below starts the next row white
            }
        }
        white = !white;
    }
    if (x > 0 && session.RowsLeft()) session.EndRow();
}
