// The drawing state that metafile records act on - mapping, objects, current
// position, paths, clipping and the saved-state stack - and the drawing
// operations of both metafile kinds, taking logical coordinates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "MetafileDib.h"
#include "MetafileRaster.h"
#include "MetafileText.h"

// An affine map: x' = x*M11 + y*M21 + Dx, y' = x*M12 + y*M22 + Dy.
struct TXForm {
    double M11 = 1, M12 = 0, M21 = 0, M22 = 1, Dx = 0, Dy = 0;
    TPointF Apply(TPointF p) const { return {p.X * M11 + p.Y * M21 + Dx, p.X * M12 + p.Y * M22 + Dy}; }
    // This map followed by next.
    TXForm Then(const TXForm& next) const;
};

enum TMapMode : int {
    MM_TEXT = 1, MM_LOMETRIC, MM_HIMETRIC, MM_LOENGLISH, MM_HIENGLISH, MM_TWIPS, MM_ISOTROPIC, MM_ANISOTROPIC
};
enum TMetafilePenStyle : int { PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME };
enum TMetafileBrushStyle : int { BS_SOLID, BS_NULL, BS_HATCHED, BS_PATTERN, BS_DIBPATTERN = 5, BS_DIBPATTERNPT };
constexpr int TRANSPARENT = 1, OPAQUE = 2;
constexpr int ALTERNATE = 1, WINDING = 2;
constexpr int AD_COUNTERCLOCKWISE = 1, AD_CLOCKWISE = 2;
constexpr uint32_t SRCCOPY = 0x00CC0020;

struct TMetafilePen {
    int Style = PS_SOLID;
    double Width = 0;  // logical units; 0 draws one pixel wide at any scale
    TColor Color = clBlack;
};

struct TMetafileBrush {
    int Style = BS_SOLID;
    TColor Color = clWhite;
    int Hatch = HS_HORIZONTAL;
    std::shared_ptr<const TMetafileDib> Pattern;  // pattern brushes only
    bool Monochrome = false;  // drawn in the text and background colours
};

// One slot of a metafile's object table. Palettes and regions take a slot
// like any other object but draw nothing.
struct TMetafileObject {
    enum TKind : uint8_t { okPen, okBrush, okFont, okOther };
    TKind Kind = okOther;
    TMetafilePen Pen;
    TMetafileBrush Brush;
    TMetafileFont Font;
};

// Text alignment flags.
constexpr uint32_t TA_UPDATECP = 1, TA_RIGHT = 2, TA_CENTER = 6, TA_BOTTOM = 8, TA_BASELINE = 24;
// Text output options.
constexpr uint32_t ETO_OPAQUE = 2, ETO_CLIPPED = 4;

struct TDeviceState {
    TMetafilePen Pen;
    TMetafileBrush Brush;
    int MapMode = MM_TEXT;
    TPointF WindowOrg{0, 0}, WindowExt{1, 1}, ViewportOrg{0, 0}, ViewportExt{1, 1};
    TXForm World;
    TColor BkColor = clWhite;
    int BkMode = OPAQUE;
    TMetafileFont Font;
    TColor TextColor = clBlack;
    uint32_t TextAlign = 0;
    int CharExtra = 0;  // logical units added to every character's advance
    int PolyFillMode = ALTERNATE;
    int ArcDirection = AD_COUNTERCLOCKWISE;
    TPointF Position;  // logical
    TRect Clip;        // target pixels
    TClipMaskRef ClipMask;  // within Clip, for regions of other shapes
};

// How a new clipping region combines with the current one.
enum TRegionMode : int { RGN_AND = 1, RGN_OR, RGN_XOR, RGN_DIFF, RGN_COPY };

class TMetafileDevice {
public:
    // toTarget carries the picture's device space onto the target bitmap;
    // the pixels per millimetre of that device space give the fixed mapping
    // modes their scale.
    TMetafileDevice(TMetafileRaster& raster, const TXForm& toTarget, double pixelsPerMmX, double pixelsPerMmY);

    TDeviceState& State() { return state_; }

    // Mapping. Zero extents are refused, as the system refuses them.
    void SetMapMode(int mode);
    void SetWindowOrg(TPointF origin);
    void SetWindowExt(TPointF extent);
    void SetViewportOrg(TPointF origin);
    void SetViewportExt(TPointF extent);
    void OffsetWindowOrg(TPointF offset);
    void OffsetViewportOrg(TPointF offset);
    void ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
    void ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
    // A placeable metafile's bounding box, in the records' logical units,
    // is the picture: it stands for the window the records set first (org,
    // ext), and later windows map relative to it. Its orientation on each
    // axis follows that first window's.
    void SetWindowFrame(TPointF firstOrg, TPointF firstExt, TPointF frameOrg, TPointF frameExt);
    void SetWorldTransform(const TXForm& form);
    // mode 1 identity, 2 form before the current map, 3 after it, 4 set.
    void ModifyWorldTransform(const TXForm& form, int mode);
    TPointF ToTarget(TPointF logical) const { return transform_.Apply(logical); }

    void SaveDC();
    // Negative: that many levels back; positive: the state of that save.
    void RestoreDC(int which);

    void IntersectClipRect(double left, double top, double right, double bottom);
    void ExcludeClipRect(double left, double top, double right, double bottom);
    // Combines the clip with the union of rectangles of the picture's
    // device space; an empty list with RGN_COPY clips nothing away.
    void SelectClipRegion(const std::vector<TRect>& rects, int mode);
    // Intersects the clip with a rectangle of the picture's device space;
    // without one the clip returns to the whole picture.
    void SetDeviceClip(const std::optional<TRect>& rect, bool intersect);
    // The same with a rectangle of target pixels.
    void SetTargetClip(const TRect& rect, bool intersect);

    // The object table, grown on demand up to a fixed number of slots.
    bool PutObject(size_t index, const TMetafileObject& object);
    // The lowest empty slot (where the older metafiles create objects).
    size_t FreeSlot() const;
    void SelectObject(size_t index);
    void DeleteObject(size_t index);
    // The system's stock objects: white, light grey, grey, dark grey, black
    // and null brush (0-5), white, black and null pen (6-8).
    void SelectStockObject(uint32_t index);

    void MoveTo(TPointF p);
    void LineTo(TPointF p);
    void Polyline(const TPolygonF& points);
    void PolylineTo(const TPolygonF& points);
    void PolyBezier(const TPolygonF& points);
    void PolyBezierTo(const TPolygonF& points);
    void Polygon(const TPolygonF& points);
    void PolyPolygon(const std::vector<TPolygonF>& polygons);
    void PolyPolyline(const std::vector<TPolygonF>& polylines);
    void Rectangle(TPointF topLeft, TPointF bottomRight);
    void RoundRect(TPointF topLeft, TPointF bottomRight, TPointF corner);
    void Ellipse(TPointF topLeft, TPointF bottomRight);
    enum TArcKind { akArc, akChord, akPie };
    void Arc(TArcKind kind, TPointF topLeft, TPointF bottomRight, TPointF start, TPointF end);
    void SetPixel(TPointF p, TColor color);

    void BeginPath();
    void EndPath();
    void CloseFigure();
    void AbortPath();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    // Combines the clip with the area of the closed path, and discards the
    // path.
    void ClipToPath(int mode);

    // Copies the source rectangle of dib (may be null for operations without
    // a source) over the destination rectangle, combined with the brush and
    // the target by a ternary raster operation - or, instead, leaving out
    // source pixels of a transparent colour, or blending by alpha. A source
    // y counted from the bottom row (bottomUpSource) is how the
    // device-independent calls count.
    struct TBlit {
        TPointF DestOrigin, DestExtent;
        double SrcX = 0, SrcY = 0, SrcWidth = 0, SrcHeight = 0;
        uint32_t Rop = SRCCOPY;
        bool BottomUpSource = false;
        enum TCombine : uint8_t { bcRop, bcTransparent, bcAlpha };
        TCombine Combine = bcRop;
        TColor TransparentColor = clBlack;
        uint8_t ConstantAlpha = 255;
        // The source's own alpha (premultiplied colours) counts too.
        bool SourceAlpha = false;
    };
    void StretchBlt(const TMetafileDib* dib, const TBlit& blit);

    // A string at a logical reference point, placed by the text alignment;
    // Dx, when given, holds each character's advance in logical units. The
    // options may fill Rect with the background colour and clip the text
    // to it.
    struct TText {
        TPointF Reference;
        std::u32string Characters;
        std::vector<double> Dx;
        uint32_t Options = 0;
        std::optional<std::pair<TPointF, TPointF>> Rect;
    };
    void TextOut(const TText& text);

private:
    struct TFigure {
        TPolygonF Points;  // target pixels
        bool Closed = false;
    };
    struct TBox {
        double Left, Top, Right, Bottom;
    };

    void UpdateTransform();
    // Whether the logical axes reach the target turned or sheared, so that
    // shapes must be mapped point by point.
    bool Turned() const { return transform_.M12 != 0 || transform_.M21 != 0; }
    void CombineClip(const std::vector<TPolygonF>& area, bool winding, int mode);
    void ApplyClip();
    TPolygonF ToTarget(const TPolygonF& logical) const;
    TBox TargetBox(TPointF topLeft, TPointF bottomRight) const;
    void Stroke(const TPolygonF& points, bool closed);
    void Fill(const std::vector<TPolygonF>& polygons);
    void Shape(const TPolygonF& fill, const TPolygonF& outline);
    TMetafilePaint BrushPaint() const;
    TPolygonF FlattenBeziers(TPointF start, const TPolygonF& controls) const;
    // Starts a new figure of the open path at p (target pixels).
    void StartFigure(TPointF p);
    void AppendToFigure(const TPolygonF& points);
    void AddClosedFigure(const TPolygonF& points);
    void FinishFigure();

    struct TWindowFrame {
        TPointF FirstOrg, FirstExt, Org, Ext;
    };

    TMetafileRaster& raster_;
    std::optional<TWindowFrame> frame_;
    TXForm toTarget_, transform_;
    double pixelsPerMmX_, pixelsPerMmY_;
    TDeviceState state_;
    std::vector<TDeviceState> saved_;
    std::vector<std::optional<TMetafileObject>> objects_;
    bool pathOpen_ = false;
    std::vector<TFigure> path_;
    std::unique_ptr<TFontLibrary> fonts_;  // opened with the first text
};
