// Undoing the PNG row filters (None, Sub, Up, Average, Paeth) in place. The
// routines are built twice, for the SSE2 that every x86-64 processor has and
// for AVX2, and SelectUndoFilter picks the build the processor runs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pngfilters {

// Bytes that the rows handed to UndoFilter must have behind their end: the
// routines load and store whole pixels and vectors across the end of a row,
// writing the bytes there back as they found them.
constexpr size_t FilterPadding = 16;

// The filter that adds the byte of the pixel to the left.
constexpr uint8_t FilterSub = 1;

// Undoes the filter of one row of count bytes: row and prior point at the
// first byte after the filter byte, prior holds the row above (all zeros for
// the first row of an image or pass). pixelStride is the distance in bytes to
// the corresponding byte of the pixel to the left: 1, 2, 3, 4, 6 or 8. A
// filter type above 4 leaves the row as it is.
using TUndoFilter = void (*)(uint8_t filter, uint8_t* row, const uint8_t* prior, uint32_t count,
                             uint32_t pixelStride);

TUndoFilter SelectUndoFilter();

// The two builds.
namespace isa_baseline {
void UndoFilter(uint8_t filter, uint8_t* row, const uint8_t* prior, uint32_t count, uint32_t pixelStride);
}
namespace isa_avx2 {
void UndoFilter(uint8_t filter, uint8_t* row, const uint8_t* prior, uint32_t count, uint32_t pixelStride);
}

}  // namespace pngfilters
