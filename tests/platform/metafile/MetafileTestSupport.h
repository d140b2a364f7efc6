// Loading a metafile from bytes and drawing it onto a fresh bitmap.
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "Classes.h"
#include "Metafile.h"
#include "SysUtils.h"
#include "MetafileWriter.h"

constexpr TColor kPaper = RGB(1, 2, 3);
constexpr TColor kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255);

inline TMetafile LoadMetafile(const TBytes& bytes) {
    TMemoryStream stream(bytes.data(), bytes.size());
    TMetafile metafile;
    metafile.LoadFromStream(stream);
    return metafile;
}

// A 24-bit bitmap of kPaper with the picture drawn over rect (the whole
// bitmap when there is none).
inline TBitmap Render(const TBytes& bytes, int width, int height, std::optional<TRect> rect = std::nullopt) {
    const TMetafile metafile = LoadMetafile(bytes);
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(width, height);
    bitmap.Canvas().FillRect(Rect(0, 0, width, height), kPaper);
    bitmap.Canvas().StretchDraw(rect.value_or(Rect(0, 0, width, height)), metafile);
    return bitmap;
}

inline int Count(const TBitmap& b, TColor color) {
    int n = 0;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) n += b.Pixel(x, y) == color;
    return n;
}

// The picture as text, one character per pixel, for readable failures:
// '.' paper, '#' black, 'R' red, 'G' green, 'B' blue, 'W' white, '?' other.
inline std::string Picture(const TBitmap& bitmap) {
    std::string text;
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            const TColor c = bitmap.Pixel(x, y);
            text += c == kPaper ? '.' : c == clBlack ? '#' : c == kRed ? 'R' : c == kGreen ? 'G' : c == kBlue ? 'B' : c == clWhite ? 'W' : '?';
        }
        text += '\n';
    }
    return text;
}
