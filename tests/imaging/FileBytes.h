// Byte work the file builders share: little-endian values and the splitting
// of data into runs and literal stretches that every run-length packer does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace imagefiles {

inline void PutLE16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutLE32(std::vector<uint8_t>& out, uint32_t v) {
    PutLE16(out, v & 0xFFFF);
    PutLE16(out, v >> 16);
}

// Splits items into runs of at least minRun equal items, run(count, item),
// and the literal stretches between them, literal(first, count); neither
// longer than longest.
template <class T, class Run, class Literal>
void SplitRuns(const T* items, size_t size, size_t minRun, size_t longest, Run run, Literal literal) {
    const auto runAt = [&](size_t i) {
        size_t n = 1;
        while (i + n < size && n < longest && items[i + n] == items[i]) ++n;
        return n;
    };
    for (size_t i = 0; i < size;) {
        if (const size_t n = runAt(i); n >= minRun) {
            run(n, items[i]);
            i += n;
            continue;
        }
        size_t n = 1;
        while (i + n < size && n < longest && runAt(i + n) < minRun) ++n;
        literal(items + i, n);
        i += n;
    }
}

// PackBits, as Photoshop and TIFF writers pack a row: runs of 3 or more
// equal bytes repeat, everything else is literal.
inline std::vector<uint8_t> PackBits(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    SplitRuns(
        data, size, 3, 128, [&](size_t n, uint8_t v) { out.insert(out.end(), {uint8_t(257 - n), v}); },
        [&](const uint8_t* first, size_t n) {
            out.push_back(uint8_t(n - 1));
            out.insert(out.end(), first, first + n);
        });
    return out;
}

}  // namespace imagefiles
