// The logical fonts of metafile records, and their glyphs: faces found by
// fontconfig, outlines rendered by FreeType one bit a pixel, so that text
// takes exactly its colour, as every other metafile shape does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Graphics.h"

struct TMetafileFont {
    // Logical units: negative, the characters' height; positive, the cell
    // height (ascent and descent); zero, a default size.
    int Height = 0;
    int Width = 0;       // average character width; zero keeps the face's shape
    int Escapement = 0;  // tenths of a degree, counter-clockwise
    int Weight = 400;
    bool Italic = false, Underline = false, StrikeOut = false;
    uint8_t CharSet = 0, PitchAndFamily = 0;
    std::string FaceName;  // UTF-8
};

constexpr uint8_t SYMBOL_CHARSET = 2;

// A logical font as both metafile kinds store it: four measures, then
// eight bytes (italic, underline, strike out, character set, three
// precisions, pitch and family).
TMetafileFont LogicalFont(int height, int width, int escapement, int weight, const uint8_t* flags, std::string face);

// Characters of an 8-bit string in the font's character set, and of count
// little-endian UTF-16 units.
std::u32string DecodeText(const uint8_t* bytes, size_t count, uint8_t charSet);
std::u32string DecodeUtf16(const uint8_t* bytes, size_t count);
// The characters up to the first null, in UTF-8.
std::string Utf8(const std::u32string& text);

// One face at one size, placed by a 2 x 2 map from the glyphs' own space
// (y up, pixels) onto the target (y down).
class TFontFace {
public:
    struct TMetrics {
        double Ascent = 0, Descent = 0;  // pixels above and below the baseline
        double UnderlinePosition = 0, UnderlineThickness = 1;  // below the baseline
        double StrikeOutPosition = 0, StrikeOutThickness = 1;  // above the baseline
        double AverageWidth = 0;
    };

    virtual ~TFontFace() = default;
    virtual const TMetrics& Metrics() const = 0;
    // The advance of c along the baseline before any stretch.
    virtual double Advance(char32_t c) = 0;
    // Calls plot for every pixel inside clip of c's glyph whose origin lies
    // at (x, y) on the target, mapped by xx, xy, yx, yy (target = x*xx +
    // y*xy, ... with glyph y pointing up). Only the part inside clip is
    // rendered, so a glyph of any size costs what shows of it.
    virtual void Draw(char32_t c, double x, double y, const double (&map)[4], const TRect& clip,
                      const std::function<void(int, int)>& plot) = 0;
};

// Finds and opens faces; one lives as long as the drawing it serves.
class TFontLibrary {
public:
    TFontLibrary();
    ~TFontLibrary();
    TFontLibrary(const TFontLibrary&) = delete;
    TFontLibrary& operator=(const TFontLibrary&) = delete;

    // The face that best matches font, sized so that its characters are
    // pixels high (cellHeight: its cell); null when no font can be found or
    // opened. The face stays usable until the next call.
    TFontFace* Face(const TMetafileFont& font, double pixels, bool cellHeight);

private:
    struct TState;
    std::unique_ptr<TState> state_;
};
