// Turning the rows of a 16-bit 5-6-5 bitmap into the 1-5-5-5 texels of a
// colour-keyed texture. Buffers hold 16-bit texels row after row, top row
// first, with no gap between rows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Graphics.h"

// Copies the bitmap's rows, top row first, packed into dest: as many whole
// rows of width * bytes-per-pixel bytes as size holds (at least one, cut to
// size). Rows the bitmap lacks and bytes past a row's end are not read.
void CopyScanLines(const TBitmap& bitmap, int32_t size, void* dest);

// Converts size / 2 texels in place from 5-6-5 to 1-5-5-5; colours near
// magenta become transparent black (0x0000), the rest opaque.
void ColorKey1555(uint16_t* buffer, int32_t size);

// As ColorKey1555, and an opaque texel with any channel at 20 or below
// (of 31) becomes opaque black.
void ColorKeyDark1555(uint16_t* buffer, int32_t size);

// Gives each transparent texel the colour (still transparent) of its first
// opaque neighbour, looking left, right, up, down, up-right, down-right,
// down-left, up-left, so that filtering at key edges does not pull in black.
void BleedTransparent(uint16_t* buffer, int32_t width, int32_t height);

// BleedTransparent of source's texels written to dest, whose rows lie
// destPitch bytes apart; dest may be source itself (a pitch of width * 2).
void BleedTransparentInto(const uint16_t* source, int32_t width, int32_t height, uint8_t* dest, ptrdiff_t destPitch);

// The texels that ColorKey1555 (ColorKeyDark1555 with DarkToBlack) makes of
// picture stretch-drawn over a 5-6-5 bitmap of width x height, sampled and
// converted in one pass, rows packed top first. Answers false, leaving
// texels as they were, for pictures of other formats than 8-bit indexed,
// 24- and 32-bit.
bool StretchKeyed1555(const TBitmap& picture, int32_t width, int32_t height, bool DarkToBlack, uint16_t* texels);
