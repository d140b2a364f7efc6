// Reading and writing device-independent bitmaps, shared by TBitmap (whole
// .bmp files) and TIcon (bitmaps stored inside .ico files).
#pragma once

#include <cstdint>

#include "Classes.h"
#include "Graphics.h"

struct TDibInfo {
    int BitCount = 0;
    bool TopDown = false;
};

// Reads a bitmap header, its colour table and pixels from the stream's
// position into bitmap. bitsOffset is the absolute stream position of the
// pixels, or -1 when they follow the colour table (as they also do when the
// offset points back into the headers). For an icon image the
// header's height counts the image and its AND mask, and only the image is
// read; the stream is left just after it. Raises EInvalidGraphic for a
// malformed or unsupported bitmap and for truncated pixel data.
TDibInfo ReadDib(TStream& stream, TBitmap& bitmap, int64_t bitsOffset, bool iconImage);

// Writes a bitmap header, colour table and bottom-up pixels.
void WriteDib(TStream& stream, const TBitmap& bitmap);
