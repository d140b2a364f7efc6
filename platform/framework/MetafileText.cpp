#include "MetafileText.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Windows code page 1252 at 0x80..0x9F; the rest of the 8-bit range is
// Latin-1. Unassigned codes keep their value.
constexpr char16_t kWindows1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Symbol fonts keep their glyphs in the private range from 0xF000 when
// their table is the symbol one.
constexpr char32_t kSymbolBase = 0xF000;

constexpr int kWeightBold = 600;
// The slant given to a face that has no italic of its own.
constexpr double kSyntheticSlant = 0.2;
// Sizes beyond these come only from broken files.
constexpr double kMinPixels = 0.5, kMaxPixels = 4096;

// The generic family that stands in for a face fontconfig does not know.
const char* GenericFamily(uint8_t pitchAndFamily) {
    if ((pitchAndFamily & 3) == 1) return "monospace";
    switch (pitchAndFamily & 0xF0) {
        case 0x10: return "serif";
        case 0x30: return "monospace";
        case 0x40: return "cursive";
        case 0x50: return "fantasy";
        default: return "sans-serif";
    }
}

class TFreeTypeFace : public TFontFace {
public:
    TFreeTypeFace(FT_Face face, double pixels, bool bold, bool italic, bool symbol)
        : face_(face), bold_(bold), italic_(italic), symbol_(symbol) {
        FT_Set_Char_Size(face_, 0, FT_F26Dot6(std::lround(pixels * 64)), 72, 72);
        const double scale = pixels / face_->units_per_EM;
        const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2));
        // The cell is the one Windows measures: its ascent and descent.
        if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
            metrics_.Ascent = os2->usWinAscent * scale;
            metrics_.Descent = os2->usWinDescent * scale;
        } else {
            metrics_.Ascent = face_->ascender * scale;
            metrics_.Descent = -face_->descender * scale;
        }
        metrics_.UnderlinePosition = std::max(1.0, -face_->underline_position * scale);
        metrics_.UnderlineThickness = std::max(1.0, face_->underline_thickness * scale);
        metrics_.StrikeOutPosition = os2 && os2->yStrikeoutPosition > 0 ? os2->yStrikeoutPosition * scale : pixels * 0.3;
        metrics_.StrikeOutThickness = std::max(1.0, os2 && os2->yStrikeoutSize > 0 ? os2->yStrikeoutSize * scale
                                                                                 : metrics_.UnderlineThickness);
        metrics_.AverageWidth = os2 && os2->xAvgCharWidth > 0 ? os2->xAvgCharWidth * scale : pixels / 2;
    }

    const TMetrics& Metrics() const override { return metrics_; }

    double Advance(char32_t c) override {
        if (!Load(c, FT_LOAD_NO_HINTING)) return 0;
        return face_->glyph->linearHoriAdvance / 65536.0 + (bold_ ? Emboldening() / 64.0 : 0);
    }

    void Draw(char32_t c, double x, double y, const double (&map)[4], const TRect& clip,
              const std::function<void(int, int)>& plot) override {
        const double left = std::floor(x), top = std::floor(y);
        double m[4] = {map[0], map[1], map[2], map[3]};
        if (italic_) {
            m[1] += kSyntheticSlant * m[0];
            m[3] += kSyntheticSlant * m[2];
        }
        // FreeType's y axis points up; the target's points down.
        FT_Matrix matrix{FT_Fixed(std::lround(m[0] * 65536)), FT_Fixed(std::lround(m[1] * 65536)),
                         FT_Fixed(std::lround(-m[2] * 65536)), FT_Fixed(std::lround(-m[3] * 65536))};
        FT_Vector delta{FT_Pos(std::lround((x - left) * 64)), FT_Pos(std::lround(-(y - top) * 64))};
        // Glyphs that keep their axes are hinted; turned ones are not.
        const bool upright = m[1] == 0 && m[2] == 0;
        FT_Set_Transform(face_, &matrix, &delta);
        const bool loaded = Load(c, FT_LOAD_TARGET_MONO | (upright ? 0 : FT_LOAD_NO_HINTING));
        FT_Set_Transform(face_, nullptr, nullptr);
        if (!loaded) return;
        FT_GlyphSlot slot = face_->glyph;
        if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return;
        if (bold_) FT_Outline_Embolden(&slot->outline, Emboldening());
        RenderClipped(slot, long(left), long(top), clip, plot);
    }

private:
    // Renders the outline into a bitmap of only the glyph's pixels inside
    // clip. A glyph pixel (gx, gy), y up from the origin at (left, top),
    // is the target pixel (left + gx, top - gy - 1).
    static void RenderClipped(FT_GlyphSlot slot, long left, long top, const TRect& clip,
                              const std::function<void(int, int)>& plot) {
        FT_BBox box;
        FT_Outline_Get_CBox(&slot->outline, &box);
        const long x0 = std::max<long>(box.xMin >> 6, clip.Left - left);
        const long x1 = std::min<long>((box.xMax + 63) >> 6, clip.Right - left);
        const long y0 = std::max<long>(box.yMin >> 6, top - clip.Bottom);
        const long y1 = std::min<long>((box.yMax + 63) >> 6, top - clip.Top);
        if (x0 >= x1 || y0 >= y1) return;
        FT_Bitmap bitmap;
        FT_Bitmap_Init(&bitmap);
        bitmap.width = unsigned(x1 - x0);
        bitmap.rows = unsigned(y1 - y0);
        bitmap.pitch = int((bitmap.width + 7) / 8);
        bitmap.pixel_mode = FT_PIXEL_MODE_MONO;
        bitmap.num_grays = 2;
        std::vector<unsigned char> bits(size_t(bitmap.pitch) * bitmap.rows);
        bitmap.buffer = bits.data();
        FT_Outline_Translate(&slot->outline, -x0 * 64, -y0 * 64);
        if (FT_Outline_Get_Bitmap(slot->library, &slot->outline, &bitmap) != 0) return;
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            const unsigned char* line = bits.data() + size_t(row) * bitmap.pitch;
            for (unsigned column = 0; column < bitmap.width; ++column)
                if (line[column / 8] & (0x80 >> (column % 8)))
                    plot(int(left + x0 + column), int(top - y1 + row));
        }
    }

    // A fiftieth of the size, as a synthetic bold face thickens its strokes.
    FT_Pos Emboldening() const { return std::max<FT_Pos>(32, face_->size->metrics.x_ppem * 64 / 50); }

    bool Load(char32_t c, FT_Int32 flags) {
        const FT_UInt index = FT_Get_Char_Index(face_, symbol_ && c < 0x100 ? kSymbolBase + c : c);
        return FT_Load_Glyph(face_, index, flags | FT_LOAD_NO_BITMAP) == 0;
    }

    FT_Face face_;
    bool bold_, italic_, symbol_;
    TMetrics metrics_;
};

}  // namespace

TMetafileFont LogicalFont(int height, int width, int escapement, int weight, const uint8_t* flags, std::string face) {
    TMetafileFont font;
    font.Height = height;
    font.Width = width;
    font.Escapement = escapement;
    font.Weight = weight;
    font.Italic = flags[0], font.Underline = flags[1], font.StrikeOut = flags[2], font.CharSet = flags[3];
    font.PitchAndFamily = flags[7];
    font.FaceName = std::move(face);
    return font;
}

std::u32string DecodeText(const uint8_t* bytes, size_t count, uint8_t charSet) {
    std::u32string text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        text += charSet != SYMBOL_CHARSET && b >= 0x80 && b < 0xA0 ? char32_t(kWindows1252[b - 0x80]) : char32_t(b);
    }
    return text;
}

std::u32string DecodeUtf16(const uint8_t* bytes, size_t count) {
    std::u32string text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const char32_t unit = char32_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < count) {
            const char32_t low = char32_t(bytes[2 * i + 2] | bytes[2 * i + 3] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                text += 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                ++i;
                continue;
            }
        }
        text += unit;
    }
    return text;
}

std::string Utf8(const std::u32string& text) {
    std::string utf8;
    for (const char32_t c : text) {
        if (c == 0) break;
        if (c < 0x80) {
            utf8 += char(c);
        } else if (c < 0x800) {
            utf8 += char(0xC0 | c >> 6);
            utf8 += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += char(0xE0 | c >> 12);
            utf8 += char(0x80 | ((c >> 6) & 0x3F));
            utf8 += char(0x80 | (c & 0x3F));
        } else {
            utf8 += char(0xF0 | c >> 18);
            utf8 += char(0x80 | ((c >> 12) & 0x3F));
            utf8 += char(0x80 | ((c >> 6) & 0x3F));
            utf8 += char(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

struct TFontLibrary::TState {
    FT_Library library = nullptr;
    // A configuration of its own, loaded with the first font and freed with
    // the library: fontconfig's shared default one is never freed whole.
    FcConfig* config = nullptr;
    // Faces by file and index, each opened once.
    std::map<std::pair<std::string, int>, FT_Face> files;
    // The last face handed out, and what it was made for.
    std::unique_ptr<TFreeTypeFace> sized;
    std::tuple<FT_Face, long, bool, bool, bool> sizedKey{};
    // The face each font matched, by the font's description.
    std::map<std::tuple<std::string, int, bool, uint8_t, uint8_t>, std::tuple<FT_Face, bool, bool>> matches;

    ~TState() {
        sized.reset();
        for (auto& [key, face] : files)
            if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
        if (config) FcConfigDestroy(config);
    }

    FT_Face Open(const std::string& file, int index) {
        auto found = files.find({file, index});
        if (found != files.end()) return found->second;
        FT_Face face = nullptr;
        if (FT_New_Face(library, file.c_str(), index, &face) != 0 || !FT_IS_SCALABLE(face) || face->units_per_EM == 0) {
            if (face) FT_Done_Face(face);
            face = nullptr;
        }
        return files[{file, index}] = face;
    }

    // The face fontconfig matches for the font, and whether its weight and
    // slant must be made up.
    std::tuple<FT_Face, bool, bool> Match(const TMetafileFont& font) {
        const auto key = std::make_tuple(font.FaceName, font.Weight, font.Italic, font.PitchAndFamily, font.CharSet);
        if (auto found = matches.find(key); found != matches.end()) return found->second;
        std::tuple<FT_Face, bool, bool> result{nullptr, false, false};
        if (!config) config = FcInitLoadConfigAndFonts();
        if (!config) return matches[key] = result;
        FcPattern* pattern = FcPatternCreate();
        if (!font.FaceName.empty())
            FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(font.FaceName.c_str()));
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(GenericFamily(font.PitchAndFamily)));
        const int weight = font.Weight > 0 ? std::clamp(font.Weight, 1, 1000) : 400;
        FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
        FcPatternAddInteger(pattern, FC_SLANT, font.Italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult outcome;
        if (FcPattern* match = FcFontMatch(config, pattern, &outcome)) {
            FcChar8* file = nullptr;
            int index = 0, matchedWeight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
            if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
                FcPatternGetInteger(match, FC_INDEX, 0, &index);
                FcPatternGetInteger(match, FC_WEIGHT, 0, &matchedWeight);
                FcPatternGetInteger(match, FC_SLANT, 0, &slant);
                const bool bold = weight >= kWeightBold && matchedWeight < FC_WEIGHT_DEMIBOLD;
                const bool italic = font.Italic && slant == FC_SLANT_ROMAN;
                result = {Open(reinterpret_cast<const char*>(file), index), bold, italic};
            }
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
        return matches[key] = result;
    }
};

TFontLibrary::TFontLibrary() : state_(std::make_unique<TState>()) {
    if (FT_Init_FreeType(&state_->library) != 0) state_->library = nullptr;
}

TFontLibrary::~TFontLibrary() = default;

TFontFace* TFontLibrary::Face(const TMetafileFont& font, double pixels, bool cellHeight) {
    if (!state_->library || !std::isfinite(pixels)) return nullptr;
    const auto [face, bold, italic] = state_->Match(font);
    if (!face) return nullptr;
    if (cellHeight) {
        const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        const double cell = os2 && os2->usWinAscent + os2->usWinDescent > 0 ? os2->usWinAscent + os2->usWinDescent
                                                                             : face->ascender - face->descender;
        if (cell > 0) pixels *= face->units_per_EM / cell;
    }
    pixels = std::clamp(pixels, kMinPixels, kMaxPixels);
    const bool symbol = font.CharSet == SYMBOL_CHARSET && FT_Select_Charmap(face, FT_ENCODING_MS_SYMBOL) == 0;
    if (!symbol) FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    const auto key = std::make_tuple(face, std::lround(pixels * 64), bold, italic, symbol);
    if (!state_->sized || state_->sizedKey != key) {
        state_->sized = std::make_unique<TFreeTypeFace>(face, pixels, bold, italic, symbol);
        state_->sizedKey = key;
    }
    return state_->sized.get();
}
