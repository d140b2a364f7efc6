#include "PngWriter.h"

#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "SysUtils.h"

namespace {

struct TContextDeleter {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using TContext = std::unique_ptr<spng_ctx, TContextDeleter>;

void Check(int result) {
    if (result != 0) throw EWriteError(Format("PNG encoding failed: %s", spng_strerror(result)));
}

bool Indexed(TPixelFormat format) { return format == pf1bit || format == pf4bit || format == pf8bit; }

// A pixel shows the transparent colour's pixels as holes, as drawing the
// bitmap would leave them out.
bool IsHole(const TBitmap& bitmap, TColor color) { return bitmap.Transparent && color == bitmap.TransparentColor; }

// Whether some pixel of a 32-bit bitmap is not fully opaque.
bool HasAlpha(const TBitmap& bitmap) {
    if (bitmap.PixelFormat() != pf32bit) return false;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x)
            if (row[4 * x + 3] != 255) return true;
    }
    return false;
}

// The palette, long enough for every index the pixels use: a decoder may
// refuse an index past the palette's end, which the bitmap draws black.
std::vector<TPaletteEntry> PaletteFor(const TBitmap& bitmap, int bits) {
    std::vector<TPaletteEntry> palette = bitmap.Palette().palPalEntry;
    palette.resize(std::min<size_t>(palette.size(), size_t(1) << bits));
    const int mask = (1 << bits) - 1, perByte = 8 / bits;
    size_t used = 1;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            const int shift = (perByte - 1 - x % perByte) * bits;
            used = std::max<size_t>(used, size_t((row[x / perByte] >> shift) & mask) + 1);
        }
    }
    if (palette.size() < used) palette.resize(used);
    return palette;
}

void SetIndexedHeader(spng_ctx* context, const TBitmap& bitmap, int bits) {
    const std::vector<TPaletteEntry> palette = PaletteFor(bitmap, bits);
    spng_plte plte{};
    spng_trns trns{};
    plte.n_entries = uint32_t(palette.size());
    bool holes = false;
    for (size_t i = 0; i < palette.size(); ++i) {
        const TPaletteEntry& e = palette[i];
        plte.entries[i] = {e.peRed, e.peGreen, e.peBlue, 255};
        const bool hole = IsHole(bitmap, RGB(e.peRed, e.peGreen, e.peBlue));
        trns.type3_alpha[i] = hole ? 0 : 255;
        if (hole) trns.n_type3_entries = uint32_t(i + 1), holes = true;
    }
    Check(spng_set_plte(context, &plte));
    if (holes) Check(spng_set_trns(context, &trns));
}

// One row of red, green, blue (and alpha) samples.
void DirectRow(const TBitmap& bitmap, int y, bool alpha, std::vector<uint8_t>& row) {
    const int channels = alpha ? 4 : 3;
    const uint8_t* source = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
        uint8_t* p = row.data() + size_t(x) * channels;
        TColor color;
        if (bitmap.PixelFormat() == pf24bit || bitmap.PixelFormat() == pf32bit) {
            const int step = bitmap.PixelFormat() == pf32bit ? 4 : 3;
            const uint8_t* s = source + size_t(x) * step;
            color = RGB(s[2], s[1], s[0]);
            p[3] = step == 4 ? s[3] : 255;
        } else {
            color = bitmap.Pixel(x, y);
            p[3] = 255;
        }
        p[0] = GetRValue(color), p[1] = GetGValue(color), p[2] = GetBValue(color);
        if (alpha && IsHole(bitmap, color)) p[3] = 0;
    }
}

}  // namespace

void WritePng(const TBitmap& bitmap, TStream& stream) {
    if (bitmap.Width() <= 0 || bitmap.Height() <= 0) throw EWriteError("PNG images cannot be empty");
    const TContext context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context) throw EWriteError("PNG encoding failed: out of memory");
    Check(spng_set_option(context.get(), SPNG_ENCODE_TO_BUFFER, 1));

    const TPixelFormat format = bitmap.PixelFormat();
    const bool indexed = Indexed(format);
    const int bits = indexed ? BitsPerPixel(format) : 8;
    const bool alpha = !indexed && (HasAlpha(bitmap) || (bitmap.Transparent && bitmap.TransparentColor != clNone));
    spng_ihdr header{};
    header.width = uint32_t(bitmap.Width());
    header.height = uint32_t(bitmap.Height());
    header.bit_depth = uint8_t(bits);
    header.color_type = indexed ? SPNG_COLOR_TYPE_INDEXED : alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
    Check(spng_set_ihdr(context.get(), &header));
    if (indexed) SetIndexedHeader(context.get(), bitmap, bits);

    Check(spng_encode_image(context.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE));
    const size_t rowBytes = indexed ? (size_t(bitmap.Width()) * bits + 7) / 8 : size_t(bitmap.Width()) * (alpha ? 4 : 3);
    std::vector<uint8_t> row(indexed ? 0 : rowBytes);
    for (int y = 0; y < bitmap.Height(); ++y) {
        if (!indexed) DirectRow(bitmap, y, alpha, row);
        const int result = spng_encode_row(context.get(), indexed ? bitmap.ScanLine(y) : row.data(), rowBytes);
        if (result != 0 && result != SPNG_EOI) Check(result);
    }

    size_t size = 0;
    int error = 0;
    const std::unique_ptr<void, decltype(&std::free)> png(spng_get_png_buffer(context.get(), &size, &error), &std::free);
    Check(error);
    stream.WriteBuffer(png.get(), int64_t(size));
}
