// The pixel work behind metafile playback: polygons filled by scan
// conversion with either fill rule, one-pixel and wide lines, and the solid,
// hatched and patterned paints they are filled with. No anti-aliasing: every
// pixel takes exactly the colour asked for, so colour keys survive.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Graphics.h"
#include "MetafileDib.h"

struct TPointF {
    double X = 0, Y = 0;
};
using TPolygonF = std::vector<TPointF>;

// The hatch styles of a hatched brush.
enum THatchStyle : int { HS_HORIZONTAL, HS_VERTICAL, HS_FDIAGONAL, HS_BDIAGONAL, HS_CROSS, HS_DIAGCROSS };

// How the pixels of a filled shape are coloured.
struct TMetafilePaint {
    enum TKind : uint8_t { pkSolid, pkHatch, pkPattern };
    TKind Kind = pkSolid;
    TColor Color = clBlack;
    int Hatch = HS_HORIZONTAL;
    // Hatches only: the gaps between the lines take Background when set,
    // and stay untouched otherwise.
    bool OpaqueBackground = false;
    TColor Background = clWhite;
    std::shared_ptr<const TMetafileDib> Pattern;
    // A two-colour pattern takes Color for its 0 bits and Background for
    // its 1 bits instead of its own colours.
    bool Monochrome = false;
    // Where hatches and patterns start repeating: the picture's corner.
    int OriginX = 0, OriginY = 0;

    // Whether pixel (x, y) of the target is painted, and in which colour.
    bool ColorAt(int x, int y, TColor& color) const;
};

// The dashes of a one-pixel line: alternating lengths of drawn and skipped
// pixels, and how far into them the next pixel falls (carried from one
// segment to the next).
struct TDashPattern {
    std::vector<int> Lengths;
    int Phase = 0;
    // Gaps take Gap when set, and stay untouched otherwise.
    bool OpaqueGaps = false;
    TColor Gap = clWhite;
    bool On(int64_t step) const;
};

// Which pixels of a rectangle may be drawn, for clipping regions that are
// not one rectangle.
struct TClipMask {
    TRect Area;
    std::vector<uint8_t> Inside;  // one byte a pixel, rows of Area
    bool At(int x, int y) const { return Inside[size_t(y - Area.Top) * size_t(Area.Width()) + size_t(x - Area.Left)]; }
};
using TClipMaskRef = std::shared_ptr<const TClipMask>;

class TMetafileRaster {
public:
    // Drawing never leaves bounds (itself clipped to the target), whose
    // top-left corner is the picture's.
    TMetafileRaster(TBitmap& target, const TRect& bounds);

    int OriginX() const { return originX_; }
    int OriginY() const { return originY_; }

    TBitmap& Target() const { return target_; }
    const TRect& Bounds() const { return bounds_; }
    // The current clip, always inside Bounds(), and within it the mask of
    // the pixels that may be drawn (none: all of them).
    const TRect& Clip() const { return clip_; }
    const TClipMaskRef& ClipMask() const { return mask_; }
    void SetClip(const TRect& clip, TClipMaskRef mask = nullptr);
    bool Visible(int x, int y) const {
        return x >= clip_.Left && x < clip_.Right && y >= clip_.Top && y < clip_.Bottom && (!mask_ || mask_->At(x, y));
    }

    // The pixels the polygons fill, as a mask over Bounds() (every pixel of
    // it when polygons is null: the whole picture); and the current clip
    // as one.
    std::shared_ptr<TClipMask> MaskOf(const std::vector<TPolygonF>* polygons, bool winding) const;
    std::shared_ptr<TClipMask> ClipAsMask() const;

    // Fills the pixels whose centres lie inside the polygons, taken
    // together under the alternate (even-odd) or winding (non-zero) rule.
    void FillPolygons(const std::vector<TPolygonF>& polygons, bool winding, const TMetafilePaint& paint);
    // A one-pixel line from a to b, leaving out the pixel at b; dashed
    // when a pattern is given, whose phase then moves on by the line.
    void Line(TPointF a, TPointF b, TColor color, TDashPattern* dash = nullptr);
    // Lines of the given width through the points, with round ends and
    // joins; closed runs back to the first point.
    void WidePolyline(const TPolygonF& points, bool closed, double width, TColor color);
    void Plot(int x, int y, TColor color);

private:
    // Whether a shape of the given extent around these points can touch
    // the clip.
    bool NearClip(TPointF a, TPointF b, double margin) const;
    // Calls span(y, first, end) for the runs of pixels the polygons fill
    // within area.
    template <class TSpan>
    void Spans(const std::vector<TPolygonF>& polygons, bool winding, const TRect& area, TSpan span) const;

    TBitmap& target_;
    int originX_, originY_;
    TRect bounds_, clip_;
    TClipMaskRef mask_;
};

// Whether every coordinate is a finite number; the rasteriser draws only
// such shapes.
bool Finite(const TPolygonF& polygon);
