#include "MetafileDevice.h"

#include <algorithm>
#include <cmath>

namespace {

// Object tables and saved states past these sizes come only from damaged
// files; the records that would grow them further are ignored.
constexpr size_t kMaxObjects = 1 << 16;
constexpr size_t kMaxSavedStates = 1 << 16;
constexpr int kMaxCurveSteps = 64;

int PixelEdge(double v) {
    if (!(v > -1e9)) return -1000000000;
    if (v > 1e9) return 1000000000;
    return int(std::ceil(v - 0.5));
}

// Points along the ellipse inscribed in box, from parameter angle `from`
// turning by `sweep` (positive turns clockwise on the target, whose y axis
// points down).
// density: target pixels a unit of the box spans, which sets the steps.
TPolygonF EllipsePoints(double left, double top, double right, double bottom, double from, double sweep,
                        double density = 1) {
    const double cx = (left + right) / 2, cy = (top + bottom) / 2;
    const double rx = std::abs(right - left) / 2, ry = std::abs(bottom - top) / 2;
    if (!std::isfinite(rx + ry + cx + cy + from + sweep + density)) return {};
    const double full = std::clamp(std::ceil((rx + ry) * density * 1.5), 16.0, 2048.0);
    const int steps = std::max(2, int(std::ceil(full * std::abs(sweep) / (2 * M_PI))));
    TPolygonF points;
    for (int i = 0; i <= steps; ++i) {
        const double angle = from + sweep * i / steps;
        points.push_back({cx + rx * std::cos(angle), cy + ry * std::sin(angle)});
    }
    return points;
}

// Dash lengths in pixels of the one-pixel pen styles; none for solid pens.
std::vector<int> Dashes(int style) {
    switch (style) {
        case PS_DASH: return {18, 6};
        case PS_DOT: return {3, 3};
        case PS_DASHDOT: return {9, 6, 3, 6};
        case PS_DASHDOTDOT: return {9, 3, 3, 3, 3, 3};
        default: return {};
    }
}

// Source over target: the source scaled by the constant alpha, the target
// by what the source leaves uncovered. Source colours that carry their own
// alpha come premultiplied.
TColor Blend(TColor source, TColor target, int constant, int alpha, bool premultiplied) {
    const int cover = alpha * constant / 255;
    TColor result = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int s = (source >> shift) & 0xFF, t = (target >> shift) & 0xFF;
        const int from = premultiplied ? s * constant / 255 : s * cover / 255;
        result |= TColor(std::min(255, from + t * (255 - cover) / 255)) << shift;
    }
    return result;
}

TColor Rop3(uint8_t rop, TColor p, TColor s, TColor d) {
    uint32_t result = 0;
    for (int i = 0; i < 8; ++i)
        if ((rop >> i) & 1) result |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    return result & 0xFFFFFF;
}

}  // namespace

TXForm TXForm::Then(const TXForm& next) const {
    return {M11 * next.M11 + M12 * next.M21,
            M11 * next.M12 + M12 * next.M22,
            M21 * next.M11 + M22 * next.M21,
            M21 * next.M12 + M22 * next.M22,
            Dx * next.M11 + Dy * next.M21 + next.Dx,
            Dx * next.M12 + Dy * next.M22 + next.Dy};
}

TMetafileDevice::TMetafileDevice(TMetafileRaster& raster, const TXForm& toTarget, double pixelsPerMmX,
                                 double pixelsPerMmY)
    : raster_(raster), toTarget_(toTarget), pixelsPerMmX_(pixelsPerMmX), pixelsPerMmY_(pixelsPerMmY) {
    state_.Clip = raster.Bounds();
    UpdateTransform();
}

void TMetafileDevice::UpdateTransform() {
    double sx = 1, sy = 1;
    const TDeviceState& s = state_;
    TPointF windowOrg = s.WindowOrg, windowExt = s.WindowExt;
    auto fixed = [&](double mmPerUnit) {
        sx = mmPerUnit * pixelsPerMmX_;
        sy = -mmPerUnit * pixelsPerMmY_;
    };
    switch (s.MapMode) {
        case MM_LOMETRIC: fixed(0.1); break;
        case MM_HIMETRIC: fixed(0.01); break;
        case MM_LOENGLISH: fixed(0.254); break;
        case MM_HIENGLISH: fixed(0.0254); break;
        case MM_TWIPS: fixed(25.4 / 1440); break;
        case MM_ISOTROPIC:
        case MM_ANISOTROPIC:
            if (frame_) {
                // The window as the frame moves and scales it.
                const TWindowFrame& f = *frame_;
                const TPointF ratio{s.WindowExt.X / f.FirstExt.X, s.WindowExt.Y / f.FirstExt.Y};
                windowOrg = {s.WindowOrg.X - (f.FirstOrg.X - f.Org.X) * ratio.X,
                             s.WindowOrg.Y - (f.FirstOrg.Y - f.Org.Y) * ratio.Y};
                windowExt = {f.Ext.X * ratio.X, f.Ext.Y * ratio.Y};
            }
            sx = s.ViewportExt.X / windowExt.X;
            sy = s.ViewportExt.Y / windowExt.Y;
            if (s.MapMode == MM_ISOTROPIC) {
                const double m = std::min(std::abs(sx), std::abs(sy));
                sx = std::copysign(m, sx);
                sy = std::copysign(m, sy);
            }
            break;
        default: break;
    }
    const TXForm page{sx, 0, 0, sy, s.ViewportOrg.X - windowOrg.X * sx, s.ViewportOrg.Y - windowOrg.Y * sy};
    transform_ = s.World.Then(page).Then(toTarget_);
}

void TMetafileDevice::SetMapMode(int mode) {
    if (mode < MM_TEXT || mode > MM_ANISOTROPIC) return;
    state_.MapMode = mode;
    UpdateTransform();
}

void TMetafileDevice::SetWindowOrg(TPointF origin) {
    state_.WindowOrg = origin;
    UpdateTransform();
}

void TMetafileDevice::SetWindowExt(TPointF extent) {
    if (extent.X == 0 || extent.Y == 0) return;
    state_.WindowExt = extent;
    UpdateTransform();
}

void TMetafileDevice::SetViewportOrg(TPointF origin) {
    state_.ViewportOrg = origin;
    UpdateTransform();
}

void TMetafileDevice::SetViewportExt(TPointF extent) {
    if (extent.X == 0 || extent.Y == 0) return;
    state_.ViewportExt = extent;
    UpdateTransform();
}

void TMetafileDevice::OffsetWindowOrg(TPointF offset) {
    SetWindowOrg({state_.WindowOrg.X + offset.X, state_.WindowOrg.Y + offset.Y});
}

void TMetafileDevice::OffsetViewportOrg(TPointF offset) {
    SetViewportOrg({state_.ViewportOrg.X + offset.X, state_.ViewportOrg.Y + offset.Y});
}

void TMetafileDevice::ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom) {
    if (xDenom == 0 || yDenom == 0) return;
    SetWindowExt({state_.WindowExt.X * xNum / xDenom, state_.WindowExt.Y * yNum / yDenom});
}

void TMetafileDevice::ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom) {
    if (xDenom == 0 || yDenom == 0) return;
    SetViewportExt({state_.ViewportExt.X * xNum / xDenom, state_.ViewportExt.Y * yNum / yDenom});
}

void TMetafileDevice::SetWindowFrame(TPointF firstOrg, TPointF firstExt, TPointF frameOrg, TPointF frameExt) {
    if (firstExt.X == 0 || firstExt.Y == 0 || frameExt.X == 0 || frameExt.Y == 0) return;
    // A frame whose axis runs against the window's is taken from its far
    // side.
    if ((frameExt.X < 0) != (firstExt.X < 0)) frameOrg.X += frameExt.X, frameExt.X = -frameExt.X;
    if ((frameExt.Y < 0) != (firstExt.Y < 0)) frameOrg.Y += frameExt.Y, frameExt.Y = -frameExt.Y;
    frame_ = TWindowFrame{firstOrg, firstExt, frameOrg, frameExt};
    state_.WindowOrg = firstOrg;
    state_.WindowExt = firstExt;
    UpdateTransform();
}

void TMetafileDevice::SetWorldTransform(const TXForm& form) {
    state_.World = form;
    UpdateTransform();
}

void TMetafileDevice::ModifyWorldTransform(const TXForm& form, int mode) {
    switch (mode) {
        case 1: state_.World = TXForm{}; break;
        case 2: state_.World = form.Then(state_.World); break;
        case 3: state_.World = state_.World.Then(form); break;
        case 4: state_.World = form; break;
        default: return;
    }
    UpdateTransform();
}

void TMetafileDevice::SaveDC() {
    if (saved_.size() < kMaxSavedStates) saved_.push_back(state_);
}

void TMetafileDevice::RestoreDC(int which) {
    const long long depth = which < 0 ? static_cast<long long>(saved_.size()) + which : which - 1LL;
    if (which == 0 || depth < 0 || depth >= static_cast<long long>(saved_.size())) return;
    state_ = saved_[size_t(depth)];
    saved_.resize(size_t(depth));
    UpdateTransform();
    ApplyClip();
}

void TMetafileDevice::ApplyClip() { raster_.SetClip(state_.Clip, state_.ClipMask); }

void TMetafileDevice::CombineClip(const std::vector<TPolygonF>& area, bool winding, int mode) {
    if (mode < RGN_AND || mode > RGN_COPY) return;
    std::shared_ptr<TClipMask> result = raster_.MaskOf(&area, winding);
    if (mode != RGN_COPY) {
        const std::shared_ptr<TClipMask> current = raster_.ClipAsMask();
        for (size_t i = 0; i < result->Inside.size(); ++i) {
            const uint8_t a = current->Inside[i], b = result->Inside[i];
            result->Inside[i] = mode == RGN_AND ? a & b : mode == RGN_OR ? a | b : mode == RGN_XOR ? a ^ b : a & !b;
        }
    }
    state_.Clip = raster_.Bounds();
    state_.ClipMask = result;
    ApplyClip();
}

void TMetafileDevice::IntersectClipRect(double left, double top, double right, double bottom) {
    if (Turned()) {
        CombineClip({ToTarget(TPolygonF{{left, top}, {right, top}, {right, bottom}, {left, bottom}})}, false, RGN_AND);
        return;
    }
    const TBox box = TargetBox({left, top}, {right, bottom});
    TRect& clip = state_.Clip;
    clip.Left = std::max(clip.Left, PixelEdge(box.Left));
    clip.Top = std::max(clip.Top, PixelEdge(box.Top));
    clip.Right = std::max(clip.Left, std::min(clip.Right, PixelEdge(box.Right)));
    clip.Bottom = std::max(clip.Top, std::min(clip.Bottom, PixelEdge(box.Bottom)));
    ApplyClip();
}

void TMetafileDevice::ExcludeClipRect(double left, double top, double right, double bottom) {
    CombineClip({ToTarget(TPolygonF{{left, top}, {right, top}, {right, bottom}, {left, bottom}})}, false, RGN_DIFF);
}

// A region's rectangles never overlap, so either fill rule gives their
// union.
void TMetafileDevice::SelectClipRegion(const std::vector<TRect>& rects, int mode) {
    if (rects.empty()) {
        if (mode == RGN_COPY) SetDeviceClip(std::nullopt, false);
        if (mode == RGN_AND) SetTargetClip(Rect(0, 0, 0, 0), true);
        return;
    }
    if (rects.size() == 1 && (mode == RGN_COPY || mode == RGN_AND)) {
        SetDeviceClip(rects.front(), mode == RGN_AND);
        return;
    }
    std::vector<TPolygonF> area;
    for (const TRect& r : rects) {
        TPolygonF corners;
        for (const auto& [x, y] : {std::pair{r.Left, r.Top}, {r.Right, r.Top}, {r.Right, r.Bottom}, {r.Left, r.Bottom}})
            corners.push_back(toTarget_.Apply({double(x), double(y)}));
        area.push_back(corners);
    }
    CombineClip(area, false, mode);
}

void TMetafileDevice::SetDeviceClip(const std::optional<TRect>& rect, bool intersect) {
    if (!rect) {
        state_.Clip = raster_.Bounds();
        state_.ClipMask = nullptr;
        ApplyClip();
        return;
    }
    const TPointF a = toTarget_.Apply({double(rect->Left), double(rect->Top)});
    const TPointF b = toTarget_.Apply({double(rect->Right), double(rect->Bottom)});
    SetTargetClip(Rect(PixelEdge(std::min(a.X, b.X)), PixelEdge(std::min(a.Y, b.Y)), PixelEdge(std::max(a.X, b.X)),
                       PixelEdge(std::max(a.Y, b.Y))),
                  intersect);
}

void TMetafileDevice::SetTargetClip(const TRect& rect, bool intersect) {
    TRect clip = intersect ? state_.Clip : raster_.Bounds();
    clip.Left = std::max(clip.Left, rect.Left);
    clip.Top = std::max(clip.Top, rect.Top);
    clip.Right = std::max(clip.Left, std::min(clip.Right, rect.Right));
    clip.Bottom = std::max(clip.Top, std::min(clip.Bottom, rect.Bottom));
    state_.Clip = clip;
    if (!intersect) state_.ClipMask = nullptr;
    ApplyClip();
}

bool TMetafileDevice::PutObject(size_t index, const TMetafileObject& object) {
    if (index >= kMaxObjects) return false;
    if (index >= objects_.size()) objects_.resize(index + 1);
    objects_[index] = object;
    return true;
}

size_t TMetafileDevice::FreeSlot() const {
    size_t index = 0;
    while (index < objects_.size() && objects_[index]) ++index;
    return index;
}

void TMetafileDevice::SelectObject(size_t index) {
    if (index >= objects_.size() || !objects_[index]) return;
    const TMetafileObject& object = *objects_[index];
    if (object.Kind == TMetafileObject::okPen) state_.Pen = object.Pen;
    if (object.Kind == TMetafileObject::okBrush) state_.Brush = object.Brush;
    if (object.Kind == TMetafileObject::okFont) state_.Font = object.Font;
}

void TMetafileDevice::DeleteObject(size_t index) {
    if (index < objects_.size()) objects_[index].reset();
}

void TMetafileDevice::SelectStockObject(uint32_t index) {
    static const TColor brushColors[] = {clWhite, 0xC0C0C0, 0x808080, 0x404040, clBlack};
    if (index < 5) {
        state_.Brush = TMetafileBrush{BS_SOLID, brushColors[index], HS_HORIZONTAL, nullptr, false};
    } else if (index == 5) {
        state_.Brush = TMetafileBrush{BS_NULL, clBlack, HS_HORIZONTAL, nullptr, false};
    } else if (index <= 8) {
        state_.Pen = TMetafilePen{index == 8 ? PS_NULL : PS_SOLID, 0, index == 6 ? clWhite : clBlack};
    }
}

TPolygonF TMetafileDevice::ToTarget(const TPolygonF& logical) const {
    TPolygonF points;
    points.reserve(logical.size());
    for (const TPointF& p : logical) points.push_back(transform_.Apply(p));
    return points;
}

TMetafileDevice::TBox TMetafileDevice::TargetBox(TPointF topLeft, TPointF bottomRight) const {
    const TPointF a = transform_.Apply(topLeft), b = transform_.Apply(bottomRight);
    return {std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X), std::max(a.Y, b.Y)};
}

TMetafilePaint TMetafileDevice::BrushPaint() const {
    TMetafilePaint paint;
    paint.Color = state_.Brush.Color;
    paint.OriginX = raster_.OriginX();
    paint.OriginY = raster_.OriginY();
    if (state_.Brush.Style == BS_HATCHED) {
        paint.Kind = TMetafilePaint::pkHatch;
        paint.Hatch = state_.Brush.Hatch;
        paint.OpaqueBackground = state_.BkMode == OPAQUE;
        paint.Background = state_.BkColor;
    } else if (state_.Brush.Pattern) {
        paint.Kind = TMetafilePaint::pkPattern;
        paint.Pattern = state_.Brush.Pattern;
        paint.Monochrome = state_.Brush.Monochrome;
        if (paint.Monochrome) paint.Color = state_.TextColor, paint.Background = state_.BkColor;
    }
    return paint;
}

void TMetafileDevice::Stroke(const TPolygonF& points, bool closed) {
    if (state_.Pen.Style == PS_NULL || points.size() < 2) return;
    const double scale = std::sqrt(std::abs(transform_.M11 * transform_.M22 - transform_.M12 * transform_.M21));
    const double width = state_.Pen.Width * scale;
    if (width >= 1.5) {
        raster_.WidePolyline(points, closed, width, state_.Pen.Color);
        return;
    }
    TDashPattern dash{Dashes(state_.Pen.Style), 0, state_.BkMode == OPAQUE, state_.BkColor};
    const size_t segments = closed ? points.size() : points.size() - 1;
    for (size_t i = 0; i < segments; ++i)
        raster_.Line(points[i], points[(i + 1) % points.size()], state_.Pen.Color, dash.Lengths.empty() ? nullptr : &dash);
}

void TMetafileDevice::Fill(const std::vector<TPolygonF>& polygons) {
    if (state_.Brush.Style == BS_NULL) return;
    raster_.FillPolygons(polygons, state_.PolyFillMode == WINDING, BrushPaint());
}

void TMetafileDevice::Shape(const TPolygonF& fill, const TPolygonF& outline) {
    if (pathOpen_) {
        AddClosedFigure(fill);
        return;
    }
    Fill({fill});
    Stroke(outline, true);
}

void TMetafileDevice::StartFigure(TPointF p) {
    FinishFigure();
    path_.push_back({{p}, false});
}

void TMetafileDevice::AppendToFigure(const TPolygonF& points) {
    if (path_.empty() || path_.back().Closed) StartFigure(transform_.Apply(state_.Position));
    path_.back().Points.insert(path_.back().Points.end(), points.begin(), points.end());
}

void TMetafileDevice::AddClosedFigure(const TPolygonF& points) {
    FinishFigure();
    path_.push_back({points, true});
}

// A figure that never got past its starting point draws nothing.
void TMetafileDevice::FinishFigure() {
    if (!path_.empty() && path_.back().Points.size() < 2) path_.pop_back();
}

void TMetafileDevice::MoveTo(TPointF p) {
    state_.Position = p;
    if (pathOpen_) StartFigure(transform_.Apply(p));
}

void TMetafileDevice::LineTo(TPointF p) { PolylineTo({p}); }

void TMetafileDevice::PolylineTo(const TPolygonF& points) {
    if (points.empty()) return;
    const TPolygonF target = ToTarget(points);
    if (pathOpen_) {
        AppendToFigure(target);
    } else {
        TPolygonF line{transform_.Apply(state_.Position)};
        line.insert(line.end(), target.begin(), target.end());
        Stroke(line, false);
    }
    state_.Position = points.back();
}

void TMetafileDevice::Polyline(const TPolygonF& points) {
    if (points.size() < 2) return;
    if (pathOpen_) {
        const TPointF keep = state_.Position;
        MoveTo(points.front());
        PolylineTo(TPolygonF(points.begin() + 1, points.end()));
        state_.Position = keep;
        return;
    }
    Stroke(ToTarget(points), false);
}

TPolygonF TMetafileDevice::FlattenBeziers(TPointF start, const TPolygonF& controls) const {
    TPolygonF points;
    TPointF p0 = transform_.Apply(start);
    for (size_t i = 0; i + 3 <= controls.size(); i += 3) {
        const TPointF p1 = transform_.Apply(controls[i]), p2 = transform_.Apply(controls[i + 1]),
                      p3 = transform_.Apply(controls[i + 2]);
        const double length = std::hypot(p1.X - p0.X, p1.Y - p0.Y) + std::hypot(p2.X - p1.X, p2.Y - p1.Y) +
                              std::hypot(p3.X - p2.X, p3.Y - p2.Y);
        const int steps = std::isfinite(length) ? int(std::clamp(length / 4, 4.0, double(kMaxCurveSteps))) : 1;
        for (int s = 1; s <= steps; ++s) {
            const double t = double(s) / steps, u = 1 - t;
            const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
            points.push_back({a * p0.X + b * p1.X + c * p2.X + d * p3.X, a * p0.Y + b * p1.Y + c * p2.Y + d * p3.Y});
        }
        p0 = p3;
    }
    return points;
}

void TMetafileDevice::PolyBezier(const TPolygonF& points) {
    if (points.size() < 4) return;
    const TPolygonF controls(points.begin() + 1, points.end());
    TPolygonF curve{transform_.Apply(points.front())};
    const TPolygonF flat = FlattenBeziers(points.front(), controls);
    curve.insert(curve.end(), flat.begin(), flat.end());
    if (pathOpen_) {
        StartFigure(curve.front());
        path_.back().Points = curve;
    } else {
        Stroke(curve, false);
    }
}

void TMetafileDevice::PolyBezierTo(const TPolygonF& points) {
    if (points.size() < 3) return;
    const TPolygonF flat = FlattenBeziers(state_.Position, points);
    if (pathOpen_) {
        AppendToFigure(flat);
    } else {
        TPolygonF curve{transform_.Apply(state_.Position)};
        curve.insert(curve.end(), flat.begin(), flat.end());
        Stroke(curve, false);
    }
    state_.Position = points[points.size() / 3 * 3 - 1];
}

void TMetafileDevice::Polygon(const TPolygonF& points) {
    if (points.size() < 2) return;
    const TPolygonF target = ToTarget(points);
    Shape(target, target);
}

void TMetafileDevice::PolyPolygon(const std::vector<TPolygonF>& polygons) {
    std::vector<TPolygonF> target;
    for (const TPolygonF& polygon : polygons) target.push_back(ToTarget(polygon));
    if (pathOpen_) {
        for (const TPolygonF& polygon : target) AddClosedFigure(polygon);
        return;
    }
    Fill(target);
    for (const TPolygonF& polygon : target) Stroke(polygon, true);
}

void TMetafileDevice::PolyPolyline(const std::vector<TPolygonF>& polylines) {
    for (const TPolygonF& polyline : polylines) Polyline(polyline);
}

// Shapes fill up to their right and bottom edges and draw their outline just
// inside them, one pixel in, as the system does.
void TMetafileDevice::Rectangle(TPointF topLeft, TPointF bottomRight) {
    if (Turned()) {
        const TPolygonF box = ToTarget(TPolygonF{topLeft, {bottomRight.X, topLeft.Y}, bottomRight, {topLeft.X, bottomRight.Y}});
        Shape(box, box);
        return;
    }
    const TBox b = TargetBox(topLeft, bottomRight);
    Shape({{b.Left, b.Top}, {b.Right, b.Top}, {b.Right, b.Bottom}, {b.Left, b.Bottom}},
          {{b.Left, b.Top}, {b.Right - 1, b.Top}, {b.Right - 1, b.Bottom - 1}, {b.Left, b.Bottom - 1}});
}

void TMetafileDevice::RoundRect(TPointF topLeft, TPointF bottomRight, TPointF corner) {
    // Turned, the shape is made in logical units and mapped point by point.
    const bool turned = Turned();
    const TBox b = turned ? TBox{std::min(topLeft.X, bottomRight.X), std::min(topLeft.Y, bottomRight.Y),
                                 std::max(topLeft.X, bottomRight.X), std::max(topLeft.Y, bottomRight.Y)}
                          : TargetBox(topLeft, bottomRight);
    const double xUnit = turned ? 1 : std::hypot(transform_.M11, transform_.M12);
    const double yUnit = turned ? 1 : std::hypot(transform_.M21, transform_.M22);
    const double rx = std::min(std::abs(corner.X * xUnit) / 2, (b.Right - b.Left) / 2);
    const double ry = std::min(std::abs(corner.Y * yUnit) / 2, (b.Bottom - b.Top) / 2);
    const double density = turned ? std::sqrt(std::abs(transform_.M11 * transform_.M22 - transform_.M12 * transform_.M21)) : 1;
    auto outline = [&](double shrink) {
        const double right = b.Right - shrink, bottom = b.Bottom - shrink;
        const struct {
            double cx, cy, from;
        } corners[] = {{b.Left + rx, b.Top + ry, M_PI},
                       {right - rx, b.Top + ry, 1.5 * M_PI},
                       {right - rx, bottom - ry, 0},
                       {b.Left + rx, bottom - ry, 0.5 * M_PI}};
        TPolygonF points;
        for (const auto& c : corners) {
            const TPolygonF arc = EllipsePoints(c.cx - rx, c.cy - ry, c.cx + rx, c.cy + ry, c.from, M_PI / 2, density);
            points.insert(points.end(), arc.begin(), arc.end());
        }
        return points;
    };
    if (turned) {
        const TPolygonF shape = ToTarget(outline(0));
        Shape(shape, shape);
        return;
    }
    Shape(outline(0), outline(1));
}

void TMetafileDevice::Ellipse(TPointF topLeft, TPointF bottomRight) {
    if (Turned()) {
        const double density = std::sqrt(std::abs(transform_.M11 * transform_.M22 - transform_.M12 * transform_.M21));
        const TPolygonF shape =
            ToTarget(EllipsePoints(topLeft.X, topLeft.Y, bottomRight.X, bottomRight.Y, 0, 2 * M_PI, density));
        Shape(shape, shape);
        return;
    }
    const TBox b = TargetBox(topLeft, bottomRight);
    Shape(EllipsePoints(b.Left, b.Top, b.Right, b.Bottom, 0, 2 * M_PI),
          EllipsePoints(b.Left, b.Top, b.Right - 1, b.Bottom - 1, 0, 2 * M_PI));
}

void TMetafileDevice::Arc(TArcKind kind, TPointF topLeft, TPointF bottomRight, TPointF start, TPointF end) {
    // Turned, the figure is made in logical units and mapped point by
    // point; a map that mirrors turns the logical direction round.
    const bool turned = Turned();
    const double determinant = transform_.M11 * transform_.M22 - transform_.M12 * transform_.M21;
    const TBox b = turned ? TBox{std::min(topLeft.X, bottomRight.X), std::min(topLeft.Y, bottomRight.Y),
                                 std::max(topLeft.X, bottomRight.X), std::max(topLeft.Y, bottomRight.Y)}
                          : TargetBox(topLeft, bottomRight);
    const double cx = (b.Left + b.Right) / 2, cy = (b.Top + b.Bottom) / 2;
    const double rx = (b.Right - b.Left) / 2, ry = (b.Bottom - b.Top) / 2;
    // The radial points fix angles on the ellipse where the rays from the
    // centre through them cross it.
    auto angle = [&](TPointF p) {
        const TPointF t = turned ? p : transform_.Apply(p);
        return std::atan2((t.Y - cy) * rx, (t.X - cx) * ry);
    };
    const double from = angle(start), to = angle(end);
    const bool clockwise = (state_.ArcDirection == AD_CLOCKWISE) != (turned && determinant < 0);
    double sweep = clockwise ? to - from : from - to;
    if (!(sweep > 1e-12)) sweep += 2 * M_PI;
    if (!std::isfinite(sweep)) return;
    if (!clockwise) sweep = -sweep;

    const double density = turned ? std::sqrt(std::abs(determinant)) : 1;
    auto figure = [&](double shrink) {
        if (turned) shrink = 0;
        TPolygonF points = EllipsePoints(b.Left, b.Top, b.Right - shrink, b.Bottom - shrink, from, sweep, density);
        if (kind == akPie) points.push_back({(b.Left + b.Right - shrink) / 2, (b.Top + b.Bottom - shrink) / 2});
        return turned ? ToTarget(points) : points;
    };
    if (kind == akArc) {
        const TPolygonF points = figure(1);
        if (pathOpen_)
            AppendToFigure(points);
        else
            Stroke(points, false);
        return;
    }
    Shape(figure(0), figure(1));
}

void TMetafileDevice::SetPixel(TPointF p, TColor color) {
    const TPointF t = transform_.Apply(p);
    if (std::isfinite(t.X) && std::isfinite(t.Y) && std::abs(t.X) < 1e9 && std::abs(t.Y) < 1e9)
        raster_.Plot(int(std::floor(t.X + 0.5)), int(std::floor(t.Y + 0.5)), color);
}

void TMetafileDevice::BeginPath() {
    path_.clear();
    pathOpen_ = true;
}

void TMetafileDevice::EndPath() {
    FinishFigure();
    pathOpen_ = false;
}

void TMetafileDevice::CloseFigure() {
    if (!pathOpen_ || path_.empty()) return;
    path_.back().Closed = true;
}

void TMetafileDevice::AbortPath() {
    path_.clear();
    pathOpen_ = false;
}

void TMetafileDevice::FillPath() {
    if (pathOpen_) return;
    std::vector<TPolygonF> polygons;
    for (const TFigure& figure : path_) polygons.push_back(figure.Points);
    Fill(polygons);
    path_.clear();
}

void TMetafileDevice::StrokePath() {
    if (pathOpen_) return;
    for (const TFigure& figure : path_) Stroke(figure.Points, figure.Closed);
    path_.clear();
}

void TMetafileDevice::StrokeAndFillPath() {
    if (pathOpen_) return;
    const std::vector<TFigure> figures = path_;
    FillPath();
    for (const TFigure& figure : figures) Stroke(figure.Points, figure.Closed);
}

void TMetafileDevice::ClipToPath(int mode) {
    if (pathOpen_) return;
    std::vector<TPolygonF> area;
    for (const TFigure& figure : path_) area.push_back(figure.Points);
    path_.clear();
    CombineClip(area, state_.PolyFillMode == WINDING, mode);
}

void TMetafileDevice::StretchBlt(const TMetafileDib* dib, const TBlit& blit) {
    const uint8_t rop = uint8_t(blit.Rop >> 16);
    const bool byRop = blit.Combine == TBlit::bcRop;
    const bool needSource = !byRop || ((rop >> 2) & 0x33) != (rop & 0x33);
    const bool needPattern = byRop && ((rop >> 4) & 0x0F) != (rop & 0x0F);
    const bool needTarget = byRop ? ((rop >> 1) & 0x55) != (rop & 0x55) : blit.Combine == TBlit::bcAlpha;
    if (needSource && (!dib || blit.SrcWidth == 0 || blit.SrcHeight == 0)) return;

    const TPointF a = transform_.Apply(blit.DestOrigin);
    const TPointF b = transform_.Apply({blit.DestOrigin.X + blit.DestExtent.X, blit.DestOrigin.Y + blit.DestExtent.Y});
    if (!Finite({a, b}) || a.X == b.X || a.Y == b.Y) return;
    const TRect& clip = raster_.Clip();
    const int left = std::max(clip.Left, PixelEdge(std::min(a.X, b.X)));
    const int right = std::min(clip.Right, PixelEdge(std::max(a.X, b.X)));
    const int top = std::max(clip.Top, PixelEdge(std::min(a.Y, b.Y)));
    const int bottom = std::min(clip.Bottom, PixelEdge(std::max(a.Y, b.Y)));

    const double sourceTop =
        blit.BottomUpSource && dib ? dib->Height() - blit.SrcY - blit.SrcHeight : blit.SrcY;
    const TMetafilePaint pattern = BrushPaint();
    TBitmap& target = raster_.Target();
    for (int y = top; y < bottom; ++y) {
        const double sy = std::floor(sourceTop + (y + 0.5 - a.Y) / (b.Y - a.Y) * blit.SrcHeight);
        if (needSource && (sy < 0 || sy >= dib->Height())) continue;
        for (int x = left; x < right; ++x) {
            TColor s = 0, p = 0, d = 0;
            int sourceAlpha = 255;
            if (needSource) {
                const double sx = std::floor(blit.SrcX + (x + 0.5 - a.X) / (b.X - a.X) * blit.SrcWidth);
                if (sx < 0 || sx >= dib->Width()) continue;
                s = dib->Pixel(int(sx), int(sy));
                if (blit.SourceAlpha) sourceAlpha = dib->Alpha(int(sx), int(sy));
            }
            if (!raster_.Visible(x, y)) continue;
            if (needPattern && state_.Brush.Style != BS_NULL) pattern.ColorAt(x, y, p);
            if (needTarget) d = target.Pixel(x, y);
            switch (blit.Combine) {
                case TBlit::bcRop: target.SetPixel(x, y, Rop3(rop, p, s, d)); break;
                case TBlit::bcTransparent:
                    if (s != blit.TransparentColor) target.SetPixel(x, y, s);
                    break;
                case TBlit::bcAlpha:
                    target.SetPixel(x, y, Blend(s, d, blit.ConstantAlpha, sourceAlpha, blit.SourceAlpha));
                    break;
            }
        }
    }
}
