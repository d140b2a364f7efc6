// PNG files from bitmaps: 8-bit RGB, RGB with alpha where the picture has
// transparency, palette images for the indexed formats.
#pragma once

#include "Classes.h"
#include "Graphics.h"

// Writes bitmap as a PNG file onto stream. Raises EWriteError when the
// encoder refuses.
void WritePng(const TBitmap& bitmap, TStream& stream);
