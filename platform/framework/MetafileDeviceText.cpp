// Text output of the metafile device: the string laid out along its
// baseline in target pixels, then its background, glyphs and lines drawn.
#include <cmath>

#include "MetafileDevice.h"

namespace {

// The cell height of a font whose height is left to the system.
constexpr double kDefaultCellPixels = 16;

TPointF Along(TPointF p, TPointF direction, double distance) {
    return {p.X + direction.X * distance, p.Y + direction.Y * distance};
}

// The quadrilateral from distance `from` to `to` along the baseline and
// from `above` over it to `below` under it.
TPolygonF Band(TPointF origin, TPointF along, TPointF down, double from, double to, double above, double below) {
    const TPointF a = Along(origin, along, from), b = Along(origin, along, to);
    return {Along(a, down, -above), Along(b, down, -above), Along(b, down, below), Along(a, down, below)};
}

}  // namespace

void TMetafileDevice::TextOut(const TText& text) {
    const TMetafileFont& font = state_.Font;
    const TDeviceState& s = state_;
    // The logical axes on the target: their lengths scale the font, the x
    // axis turns it; text is never mirrored, whichever way the axes point.
    const double xScale = std::hypot(transform_.M11, transform_.M12);
    const double yScale = std::hypot(transform_.M21, transform_.M22);
    if (!(xScale > 0) || !(yScale > 0) || !std::isfinite(xScale + yScale)) return;
    const bool flipped = transform_.M11 * transform_.M22 - transform_.M12 * transform_.M21 < 0;
    const double axisAngle = std::atan2(flipped ? transform_.M12 : -transform_.M12, transform_.M11);
    const double angle = font.Escapement * M_PI / 1800 + axisAngle;
    const TPointF along{std::cos(angle), -std::sin(angle)}, down{std::sin(angle), std::cos(angle)};

    if (!fonts_) fonts_ = std::make_unique<TFontLibrary>();
    const bool cell = font.Height >= 0;
    const double pixels = font.Height == 0 ? kDefaultCellPixels : std::abs(font.Height) * yScale;
    TFontFace* face = fonts_->Face(font, pixels, cell);
    if (!face) return;
    const TFontFace::TMetrics& metrics = face->Metrics();
    double stretch = xScale / yScale;
    if (font.Width > 0 && metrics.AverageWidth > 0) stretch = font.Width * xScale / metrics.AverageWidth;
    if (!std::isfinite(stretch) || stretch <= 0 || stretch > 1000) return;

    // Where each character starts along the baseline, and the whole width.
    std::vector<double> starts;
    double width = 0;
    for (size_t i = 0; i < text.Characters.size(); ++i) {
        starts.push_back(width);
        width += i < text.Dx.size() ? text.Dx[i] * xScale
                                    : face->Advance(text.Characters[i]) * stretch + s.CharExtra * xScale;
    }
    if (!std::isfinite(width)) return;

    const bool updateCp = s.TextAlign & TA_UPDATECP;
    TPointF origin = transform_.Apply(updateCp ? s.Position : text.Reference);
    const uint32_t horizontal = s.TextAlign & TA_CENTER, vertical = s.TextAlign & TA_BASELINE;
    if (horizontal == TA_CENTER) origin = Along(origin, along, -width / 2);
    if (horizontal == TA_RIGHT) origin = Along(origin, along, -width);
    if (vertical == 0) origin = Along(origin, down, metrics.Ascent);
    if (vertical == TA_BOTTOM) origin = Along(origin, down, -metrics.Descent);
    if (updateCp && horizontal != TA_CENTER) {
        const double move = (horizontal == TA_RIGHT ? -width : width) / xScale;
        state_.Position = {s.Position.X + move * std::cos(font.Escapement * M_PI / 1800),
                           s.Position.Y - move * std::sin(font.Escapement * M_PI / 1800)};
    }

    const TRect clip = raster_.Clip();
    const TClipMaskRef mask = raster_.ClipMask();
    std::optional<TBox> box;
    if (text.Rect) box = TargetBox(text.Rect->first, text.Rect->second);
    TMetafilePaint paint;
    if (box && (text.Options & ETO_OPAQUE)) {
        paint.Color = s.BkColor;
        raster_.FillPolygons({{{box->Left, box->Top}, {box->Right, box->Top}, {box->Right, box->Bottom}, {box->Left, box->Bottom}}},
                             false, paint);
    }
    if (box && (text.Options & ETO_CLIPPED))
        raster_.SetClip(Rect(std::max(clip.Left, int(std::ceil(box->Left - 0.5))), std::max(clip.Top, int(std::ceil(box->Top - 0.5))),
                             std::min(clip.Right, int(std::ceil(box->Right - 0.5))),
                             std::min(clip.Bottom, int(std::ceil(box->Bottom - 0.5)))),
                        mask);
    if (s.BkMode == OPAQUE) {
        paint.Color = s.BkColor;
        raster_.FillPolygons({Band(origin, along, down, 0, width, metrics.Ascent, metrics.Descent)}, false, paint);
    }

    // The glyph map: stretched along the baseline, then turned.
    const double map[4] = {along.X * stretch, -down.X, along.Y * stretch, -down.Y};
    const TColor color = s.TextColor;
    // Glyphs wholly outside the clip are not rendered: a long string in a
    // large font costs only what shows.
    const double reach = (metrics.Ascent + metrics.Descent) * (1 + stretch);
    const TRect& shown = raster_.Clip();
    for (size_t i = 0; i < text.Characters.size(); ++i) {
        const TPointF at = Along(origin, along, starts[i]);
        if (at.X + reach < shown.Left || at.X - reach > shown.Right || at.Y + reach < shown.Top || at.Y - reach > shown.Bottom)
            continue;
        face->Draw(text.Characters[i], at.X, at.Y, map, shown, [&](int x, int y) { raster_.Plot(x, y, color); });
    }
    paint.Color = color;
    if (font.Underline)
        raster_.FillPolygons({Band(origin, along, down, 0, width, -metrics.UnderlinePosition + metrics.UnderlineThickness / 2,
                                   metrics.UnderlinePosition + metrics.UnderlineThickness / 2)},
                             false, paint);
    if (font.StrikeOut)
        raster_.FillPolygons({Band(origin, along, down, 0, width, metrics.StrikeOutPosition + metrics.StrikeOutThickness / 2,
                                   -metrics.StrikeOutPosition + metrics.StrikeOutThickness / 2)},
                             false, paint);
    raster_.SetClip(clip, mask);
}
