#include "MetafileRaster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Coordinates beyond this many pixels are pulled in before integer line
// stepping, so that products of two coordinates stay inside 64 bits.
constexpr double kCoordinateLimit = 1 << 29;
// Polygon corners beyond this are pulled in, far outside any bitmap, so that
// edge arithmetic can neither overflow nor lose all precision.
constexpr double kPolygonLimit = 1e12;

int ClampToInt(double value, int low, int high) {
    if (!(value > low)) return low;
    if (value > high) return high;
    return int(value);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

TRect Intersect(const TRect& a, const TRect& b) {
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
    if (r.Right < r.Left) r.Right = r.Left;
    if (r.Bottom < r.Top) r.Bottom = r.Top;
    return r;
}

bool HatchBit(int hatch, int x, int y) {
    const bool horizontal = (y & 7) == 0, vertical = (x & 7) == 0;
    const bool forward = ((x - y) & 7) == 0, backward = ((x + y) & 7) == 7;
    switch (hatch) {
        case HS_HORIZONTAL: return horizontal;
        case HS_VERTICAL: return vertical;
        case HS_FDIAGONAL: return forward;
        case HS_BDIAGONAL: return backward;
        case HS_CROSS: return horizontal || vertical;
        default: return forward || backward;
    }
}

int PositiveMod(int value, int modulus) {
    const int r = value % modulus;
    return r < 0 ? r + modulus : r;
}

struct TEdge {
    TPointF From, To;
    int Direction;
    int FirstRow, EndRow;  // rows whose centres the edge crosses: [FirstRow, EndRow)
    double XAt(double y) const { return From.X + (y - From.Y) * (To.X - From.X) / (To.Y - From.Y); }
};

TPolygonF Disk(TPointF centre, double radius) {
    const int sides = int(std::clamp(radius * 2, 8.0, 64.0));
    TPolygonF disk;
    for (int i = 0; i < sides; ++i) {
        const double angle = 2 * M_PI * i / sides;
        disk.push_back({centre.X + radius * std::cos(angle), centre.Y + radius * std::sin(angle)});
    }
    return disk;
}

}  // namespace

bool Finite(const TPolygonF& polygon) {
    return std::all_of(polygon.begin(), polygon.end(),
                       [](const TPointF& p) { return std::isfinite(p.X) && std::isfinite(p.Y); });
}

bool TMetafilePaint::ColorAt(int x, int y, TColor& color) const {
    switch (Kind) {
        case pkSolid:
            color = Color;
            return true;
        case pkHatch:
            if (HatchBit(Hatch, x - OriginX, y - OriginY)) {
                color = Color;
                return true;
            }
            color = Background;
            return OpaqueBackground;
        case pkPattern: {
            const int px = PositiveMod(x - OriginX, Pattern->Width()), py = PositiveMod(y - OriginY, Pattern->Height());
            color = !Monochrome ? Pattern->Pixel(px, py) : Pattern->Bit(px, py) ? Background : Color;
            return true;
        }
    }
    return false;
}

TMetafileRaster::TMetafileRaster(TBitmap& target, const TRect& bounds)
    : target_(target),
      originX_(bounds.Left),
      originY_(bounds.Top),
      bounds_(Intersect(bounds, Rect(0, 0, target.Width(), target.Height()))),
      clip_(bounds_) {}

void TMetafileRaster::SetClip(const TRect& clip, TClipMaskRef mask) {
    clip_ = Intersect(clip, bounds_);
    mask_ = std::move(mask);
}

void TMetafileRaster::Plot(int x, int y, TColor color) {
    if (Visible(x, y)) target_.SetPixel(x, y, color);
}

std::shared_ptr<TClipMask> TMetafileRaster::MaskOf(const std::vector<TPolygonF>* polygons, bool winding) const {
    auto mask = std::make_shared<TClipMask>();
    mask->Area = bounds_;
    mask->Inside.assign(size_t(bounds_.Width()) * size_t(bounds_.Height()), polygons ? 0 : 1);
    if (polygons)
        Spans(*polygons, winding, bounds_, [&](int y, int first, int end) {
            std::fill_n(mask->Inside.begin() + ptrdiff_t(size_t(y - bounds_.Top) * size_t(bounds_.Width()) + size_t(first - bounds_.Left)),
                        end - first, 1);
        });
    return mask;
}

std::shared_ptr<TClipMask> TMetafileRaster::ClipAsMask() const {
    auto mask = std::make_shared<TClipMask>();
    mask->Area = bounds_;
    mask->Inside.assign(size_t(bounds_.Width()) * size_t(bounds_.Height()), 0);
    for (int y = clip_.Top; y < clip_.Bottom; ++y)
        for (int x = clip_.Left; x < clip_.Right; ++x)
            mask->Inside[size_t(y - bounds_.Top) * size_t(bounds_.Width()) + size_t(x - bounds_.Left)] =
                !mask_ || mask_->At(x, y);
    return mask;
}

void TMetafileRaster::FillPolygons(const std::vector<TPolygonF>& polygons, bool winding, const TMetafilePaint& paint) {
    TColor color;
    Spans(polygons, winding, clip_, [&](int y, int first, int end) {
        for (int x = first; x < end; ++x)
            if ((!mask_ || mask_->At(x, y)) && paint.ColorAt(x, y, color)) target_.SetPixel(x, y, color);
    });
}

template <class TSpan>
void TMetafileRaster::Spans(const std::vector<TPolygonF>& polygons, bool winding, const TRect& area, TSpan span) const {
    std::vector<TEdge> edges;
    for (const TPolygonF& polygon : polygons) {
        if (polygon.size() < 2 || !Finite(polygon)) continue;
        auto limit = [](TPointF p) {
            return TPointF{std::clamp(p.X, -kPolygonLimit, kPolygonLimit), std::clamp(p.Y, -kPolygonLimit, kPolygonLimit)};
        };
        for (size_t i = 0; i < polygon.size(); ++i) {
            const TPointF a = limit(polygon[i]), b = limit(polygon[(i + 1) % polygon.size()]);
            if (a.Y == b.Y) continue;
            TEdge edge{a, b, b.Y > a.Y ? 1 : -1, 0, 0};
            const double top = std::min(a.Y, b.Y), bottom = std::max(a.Y, b.Y);
            edge.FirstRow = ClampToInt(std::ceil(top - 0.5), area.Top, area.Bottom);
            edge.EndRow = ClampToInt(std::ceil(bottom - 0.5), area.Top, area.Bottom);
            if (edge.FirstRow < edge.EndRow) edges.push_back(edge);
        }
    }
    if (edges.empty()) return;
    std::sort(edges.begin(), edges.end(), [](const TEdge& a, const TEdge& b) { return a.FirstRow < b.FirstRow; });

    std::vector<const TEdge*> active;
    std::vector<std::pair<double, int>> crossings;
    size_t next = 0;
    for (int y = edges.front().FirstRow; y < area.Bottom && (next < edges.size() || !active.empty()); ++y) {
        while (next < edges.size() && edges[next].FirstRow <= y) active.push_back(&edges[next++]);
        std::erase_if(active, [y](const TEdge* edge) { return edge->EndRow <= y; });
        crossings.clear();
        for (const TEdge* edge : active) crossings.push_back({edge->XAt(y + 0.5), edge->Direction});
        std::sort(crossings.begin(), crossings.end());
        int count = 0;
        for (size_t i = 0; i + 1 < crossings.size(); ++i) {
            count += winding ? crossings[i].second : 1;
            if (winding ? count == 0 : count % 2 == 0) continue;
            const int first = ClampToInt(std::ceil(crossings[i].first - 0.5), area.Left, area.Right);
            const int end = ClampToInt(std::ceil(crossings[i + 1].first - 0.5), area.Left, area.Right);
            if (first < end) span(y, first, end);
        }
    }
}

bool TDashPattern::On(int64_t step) const {
    int64_t total = 0;
    for (int length : Lengths) total += length;
    if (total <= 0) return true;
    int64_t at = (Phase + step) % total;
    for (size_t i = 0; i < Lengths.size(); ++i) {
        if (at < Lengths[i]) return i % 2 == 0;
        at -= Lengths[i];
    }
    return true;
}

void TMetafileRaster::Line(TPointF a, TPointF b, TColor color, TDashPattern* dash) {
    if (!Finite({a, b}) || clip_.Left >= clip_.Right || clip_.Top >= clip_.Bottom) return;
    auto snap = [](double v) { return int64_t(std::floor(std::clamp(v, -kCoordinateLimit, kCoordinateLimit) + 0.5)); };
    const int64_t x0 = snap(a.X), y0 = snap(a.Y), x1 = snap(b.X), y1 = snap(b.Y);
    const int64_t dx = x1 - x0, dy = y1 - y0;
    const int64_t steps = std::max(std::abs(dx), std::abs(dy));
    if (steps == 0) return;

    // Narrow the steps to those that can land inside the clip, one margin
    // step either side for rounding; the plot checks the rest.
    int64_t first = 0, end = steps;
    auto narrow = [&](int64_t origin, int64_t delta, int low, int high) {
        if (delta == 0) {
            if (origin < low || origin >= high) end = first;
            return;
        }
        int64_t t0 = FloorDiv((int64_t(low) - origin) * steps, delta);
        int64_t t1 = FloorDiv((int64_t(high) - origin) * steps, delta);
        if (t0 > t1) std::swap(t0, t1);
        first = std::max(first, t0 - 1);
        end = std::min(end, t1 + 2);
    };
    narrow(x0, dx, clip_.Left, clip_.Right);
    narrow(y0, dy, clip_.Top, clip_.Bottom);
    for (int64_t i = first; i < end; ++i) {
        const int64_t x = x0 + FloorDiv(2 * i * dx + steps, 2 * steps);
        const int64_t y = y0 + FloorDiv(2 * i * dy + steps, 2 * steps);
        if (!Visible(int(x), int(y))) continue;
        if (!dash || dash->On(i))
            target_.SetPixel(int(x), int(y), color);
        else if (dash->OpaqueGaps)
            target_.SetPixel(int(x), int(y), dash->Gap);
    }
    if (dash) {
        int64_t total = 0;
        for (int length : dash->Lengths) total += length;
        if (total > 0) dash->Phase = int((dash->Phase + steps) % total);
    }
}

bool TMetafileRaster::NearClip(TPointF a, TPointF b, double margin) const {
    return std::max(a.X, b.X) + margin >= clip_.Left && std::min(a.X, b.X) - margin <= clip_.Right &&
           std::max(a.Y, b.Y) + margin >= clip_.Top && std::min(a.Y, b.Y) - margin <= clip_.Bottom;
}

void TMetafileRaster::WidePolyline(const TPolygonF& points, bool closed, double width, TColor color) {
    if (points.empty() || !Finite(points) || !std::isfinite(width)) return;
    TMetafilePaint paint;
    paint.Color = color;
    const double radius = width / 2;
    const TPolygonF disk = Disk({0, 0}, radius);
    // One piece at a time: the pieces may run in opposite directions, and
    // their windings must not cancel where they overlap.
    for (const TPointF& p : points) {
        if (!NearClip(p, p, radius)) continue;
        TPolygonF join;
        for (const TPointF& d : disk) join.push_back({p.X + d.X, p.Y + d.Y});
        FillPolygons({join}, true, paint);
    }
    const size_t segments = closed ? points.size() : points.size() - 1;
    for (size_t i = 0; i < segments; ++i) {
        const TPointF a = points[i], b = points[(i + 1) % points.size()];
        const double dx = b.X - a.X, dy = b.Y - a.Y, length = std::hypot(dx, dy);
        if (!(length > 0) || !NearClip(a, b, radius)) continue;
        const double nx = -dy / length * radius, ny = dx / length * radius;
        FillPolygons({{{a.X + nx, a.Y + ny}, {b.X + nx, b.Y + ny}, {b.X - nx, b.Y - ny}, {a.X - nx, a.Y - ny}}}, true,
                     paint);
    }
}
