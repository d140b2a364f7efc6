// The framework's non-visual graphics: colours, palettes, the graphic base
// class with its class descriptors, the device-independent bitmap with its
// canvas, and the picture object that loads a file by its extension.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "BlockAllocator.h"
#include "Classes.h"

// A window colour: red in the low byte, then green, then blue.
using TColor = uint32_t;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (b << 16); }
constexpr uint8_t GetRValue(TColor c) { return c & 0xFF; }
constexpr uint8_t GetGValue(TColor c) { return (c >> 8) & 0xFF; }
constexpr uint8_t GetBValue(TColor c) { return (c >> 16) & 0xFF; }

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};
constexpr TRect Rect(int left, int top, int right, int bottom) { return {left, top, right, bottom}; }

// The order is the framework's enumeration order.
enum TPixelFormat : uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// Bits per pixel of a format; pfDevice and pfCustom count as 24 (there is no
// screen device to ask).
int BitsPerPixel(TPixelFormat format);

// A logical palette: version 0x300 and up to 256 entries. An entry is a
// trivial type, so that palettes are copied as plain memory; value-initialised
// ones (TPaletteEntry{}, a vector's new entries) are zero.
struct TPaletteEntry {
    uint8_t peRed, peGreen, peBlue, peFlags;
    bool operator==(const TPaletteEntry&) const = default;
};
struct TLogPalette {
    uint16_t palVersion = 0x300;
    std::vector<TPaletteEntry> palPalEntry;
    bool operator==(const TLogPalette&) const = default;
};

class TCanvas;
class TGraphic;

// A graphic class: a static descriptor per class, compared by identity.
struct TGraphicClassDesc {
    const char* Name;
    std::unique_ptr<TGraphic> (*Create)();
    // Whether the stream, from its position, holds this class's format; the
    // position is left where it was. Null for classes that cannot tell.
    bool (*ProbeStream)(TStream& stream);
    // The base class, or null.
    const TGraphicClassDesc* Parent;
};
using TGraphicClass = const TGraphicClassDesc*;

// Whether cls is base or derives from it.
bool InheritsFrom(TGraphicClass cls, TGraphicClass base);

// Declares the class descriptor accessors of a TGraphic descendant.
#define DECLARE_GRAPHIC_CLASS(Name)                                 \
public:                                                             \
    static const TGraphicClassDesc ClassDesc;                       \
    static TGraphicClass StaticClass() { return &ClassDesc; }       \
    TGraphicClass ClassType() const override { return &ClassDesc; } \
                                                                    \
private:

class TGraphic {
public:
    virtual ~TGraphic() = default;

    virtual TGraphicClass ClassType() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Empty() const { return Width() == 0 || Height() == 0; }

    virtual void LoadFromStream(TStream& stream) = 0;
    // Raises EInvalidGraphicOperation where the class cannot write.
    virtual void SaveToStream(TStream& stream) const;
    // Opens the file (others may read but not write) and loads it through
    // LoadFromOpenFile.
    virtual void LoadFromFile(const std::string& fileName);
    // Loads from stream, open on the named file at its start: a picture that
    // opened the file to tell its format loads through the same stream.
    // Classes that need the file's name, such as a reader that looks for a
    // companion file beside the image, override it.
    virtual void LoadFromOpenFile(TStream& stream, const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

    // Draws the graphic scaled onto rect of the canvas's bitmap.
    virtual void Draw(TCanvas& canvas, const TRect& rect) const = 0;

    bool Transparent = false;
};

class TBitmap;

// Drawing onto a bitmap. Everything is clipped to the bitmap.
class TCanvas {
public:
    explicit TCanvas(TBitmap& bitmap) : bitmap_(bitmap) {}
    TBitmap& Bitmap() const { return bitmap_; }

    // Fills rect with color, converted to the bitmap's format (nearest
    // palette entry for indexed bitmaps).
    void FillRect(const TRect& rect, TColor color);
    // Draws the graphic scaled onto rect (graphic.Draw).
    void StretchDraw(const TRect& rect, const TGraphic& graphic);
    void Draw(int x, int y, const TGraphic& graphic);

    TColor BrushColor = clWhite;

private:
    TBitmap& bitmap_;
};

// A device-independent bitmap. Rows are stored top row first, each padded to
// a multiple of 4 bytes; pixels keep the byte layout of Windows bitmaps
// (blue, green, red[, alpha]; 15-bit x-r5-g5-b5 and 16-bit r5-g6-b5 words,
// little-endian; 1- and 4-bit pixels packed from the most significant bit).
class TBitmap : public TGraphic {
    DECLARE_GRAPHIC_CLASS(TBitmap)
public:
    TBitmap();
    TBitmap(const TBitmap& other);
    TBitmap& operator=(const TBitmap& other);
    // Moving hands the pixels over without a copy and leaves other empty.
    TBitmap(TBitmap&& other) noexcept;
    TBitmap& operator=(TBitmap&& other) noexcept;
    ~TBitmap() override;

    int Width() const override { return width_; }
    int Height() const override { return height_; }
    void SetWidth(int width) { SetSize(width, height_); }
    void SetHeight(int height) { SetSize(width_, height); }
    // Resizes, keeping the overlapping pixels; new pixels are zero.
    // Raises EInvalidGraphic for negative sides or more than 2^28 pixels.
    void SetSize(int width, int height);
    // SetSize for a caller about to write every pixel: the old pixels are
    // dropped and the new ones are left unset, which saves zero-filling a
    // large bitmap. The padding bytes at the end of each row are zero.
    // bottomUp keeps the rows in memory bottom row first, as bitmap files
    // usually store them, so that a reader takes them in one piece; rows
    // are still counted from the top. The next resize keeps them top first.
    // readFrom is the file position the caller reads the first row in
    // memory from, where it reads the rows in one piece (AlignmentPosition
    // of it): the rows of a large bitmap are placed at that position's
    // offset within a 4 KiB page, to the alignment of 16- and 32-bit pixels
    // (see ReadAlignment).
    void SetSizeForOverwrite(int width, int height, bool bottomUp = false, int64_t readFrom = 0);

    TPixelFormat PixelFormat() const { return format_; }
    // Converts the pixels to the new format (indexed targets map each colour
    // to the nearest palette entry; widening keeps indices).
    void SetPixelFormat(TPixelFormat format);

    // Row y counted from the top (0 <= y < Height()).
    uint8_t* ScanLine(int y);
    const uint8_t* ScanLine(int y) const;
    // Bytes a row holds, padding included.
    int RowBytes() const { return rowBytes_; }
    // Whether row 0 lies first in memory, and so ScanLine(y + 1) RowBytes
    // after ScanLine(y).
    bool TopDown() const { return !bottomUp_; }

    const TLogPalette& Palette() const { return palette_; }
    void SetPalette(const TLogPalette& palette);

    // The colour of pixel (x, y) as a window colour (palette looked up).
    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);

    TColor TransparentColor = clNone;

    TCanvas& Canvas() { return canvas_; }

    // Copies the pixels, size, format, palette and transparency of source.
    virtual void Assign(const TBitmap& source);
    // Empties the bitmap (size 0 x 0; format and palette kept).
    void FreeImage();

    // Windows bitmap (.bmp/.dib/.rle) reading and writing.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;

    // Stretch-draws by nearest sampling, converting by truncation; pixels of
    // TransparentColor are skipped when Transparent is set.
    void Draw(TCanvas& canvas, const TRect& rect) const override;

private:
    // Every allocation states the value its bytes start with.
    using TPixelStore = TByteBlock;

    int width_ = 0, height_ = 0, rowBytes_ = 0;
    bool bottomUp_ = false;
    // Bytes of pixels_ before the first row in memory.
    size_t start_ = 0;
    TPixelFormat format_ = pf24bit;
    TPixelStore pixels_;
    TLogPalette palette_;
    TCanvas canvas_{*this};
};

// The process-wide registry of picture file formats and a holder of one
// loaded graphic.
class TPicture {
public:
    TPicture() = default;
    ~TPicture();

    // Loads fileName with the class registered for its extension (the most
    // recent registration wins, case-insensitive), or, when that class's
    // probe does not know the content, with the first registered class whose
    // probe does. An unknown extension raises EInvalidGraphic "Unknown
    // picture file extension (.%s)".
    void LoadFromFile(const std::string& fileName);

    TGraphic* Graphic() const { return graphic_.get(); }
    int Width() const { return graphic_ ? graphic_->Width() : 0; }
    int Height() const { return graphic_ ? graphic_->Height() : 0; }

    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   TGraphicClass graphicClass);
    static void UnregisterGraphicClass(TGraphicClass graphicClass);
    // The class registered for an extension (without period), or null.
    static TGraphicClass FindGraphicClass(const std::string& extension);

    struct Filter {
        std::string Description;  // "Truevision images (*.tga)"; "All (...)" for the union
        std::string Patterns;     // "*.tga"; "*.bmp;*.tga;..." for the union
    };
    // One entry per registration, most recent first, preceded by "All" when
    // there is more than one.
    static std::vector<Filter> GraphicFilters();

    struct Registration {
        std::string Extension;  // lower case, without the period
        std::string Description;
        TGraphicClass Class;
    };
    // Every registration, most recent first, and putting such a list back:
    // code that registers classes for a while leaves the registry as it
    // found it.
    static std::vector<Registration> Registrations();
    static void RestoreRegistrations(std::vector<Registration> registrations);

private:
    std::unique_ptr<TGraphic> graphic_;
};
