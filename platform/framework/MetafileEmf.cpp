// Records of enhanced (32-bit) metafiles. Field offsets count from the start
// of the record, whose type and size take the first eight bytes.
#include <algorithm>
#include <memory>
#include <vector>

#include "MetafilePlayer.h"

namespace {

enum : uint32_t {
    EMR_POLYBEZIER = 2, EMR_POLYGON, EMR_POLYLINE, EMR_POLYBEZIERTO, EMR_POLYLINETO, EMR_POLYPOLYLINE,
    EMR_POLYPOLYGON, EMR_SETWINDOWEXTEX, EMR_SETWINDOWORGEX, EMR_SETVIEWPORTEXTEX, EMR_SETVIEWPORTORGEX,
    EMR_EOF = 14, EMR_SETPIXELV, EMR_SETMAPMODE = 17, EMR_SETBKMODE, EMR_SETPOLYFILLMODE,
    EMR_SETTEXTALIGN = 22, EMR_SETTEXTCOLOR = 24, EMR_SETBKCOLOR = 25, EMR_MOVETOEX = 27, EMR_EXCLUDECLIPRECT = 29, EMR_INTERSECTCLIPRECT, EMR_SCALEVIEWPORTEXTEX,
    EMR_SCALEWINDOWEXTEX, EMR_SAVEDC, EMR_RESTOREDC, EMR_SETWORLDTRANSFORM, EMR_MODIFYWORLDTRANSFORM,
    EMR_SELECTOBJECT, EMR_CREATEPEN, EMR_CREATEBRUSHINDIRECT, EMR_DELETEOBJECT,
    EMR_ELLIPSE = 42, EMR_RECTANGLE, EMR_ROUNDRECT, EMR_ARC, EMR_CHORD, EMR_PIE,
    EMR_CREATEPALETTE = 49, EMR_LINETO = 54, EMR_SETARCDIRECTION = 57,
    EMR_BEGINPATH = 59, EMR_ENDPATH, EMR_CLOSEFIGURE, EMR_FILLPATH, EMR_STROKEANDFILLPATH, EMR_STROKEPATH,
    EMR_SELECTCLIPPATH = 67, EMR_ABORTPATH, EMR_EXTSELECTCLIPRGN = 75, EMR_BITBLT, EMR_STRETCHBLT,
    EMR_SETDIBITSTODEVICE = 80, EMR_STRETCHDIBITS, EMR_EXTCREATEFONTINDIRECTW, EMR_EXTTEXTOUTA, EMR_EXTTEXTOUTW,
    EMR_POLYBEZIER16 = 85, EMR_POLYGON16, EMR_POLYLINE16, EMR_POLYBEZIERTO16, EMR_POLYLINETO16,
    EMR_POLYPOLYLINE16, EMR_POLYPOLYGON16, EMR_CREATEMONOBRUSH = 93, EMR_CREATEDIBPATTERNBRUSHPT,
    EMR_EXTCREATEPEN, EMR_SMALLTEXTOUT = 108, EMR_ALPHABLEND = 114, EMR_TRANSPARENTBLT = 116,
};

constexpr uint32_t kStockObject = 0x80000000;
constexpr uint32_t DIB_PAL_COLORS = 1;
constexpr uint32_t PS_GEOMETRIC = 0x10000;
constexpr uint8_t AC_SRC_ALPHA = 1;
constexpr uint32_t ETO_NO_RECT = 0x100, ETO_SMALL_CHARS = 0x200, ETO_PDY = 0x2000;
constexpr size_t kFaceNameUnits = 32;

class TEmfPlayer {
public:
    TEmfPlayer(const TRecordReader& record, TMetafileDevice& device) : r_(record), device_(device) {}
    void Play();

private:
    TPointF Point(size_t offset) const { return {double(r_.S32(offset)), double(r_.S32(offset + 4))}; }
    // count points at offset, of 32-bit or (small) 16-bit coordinates.
    TPolygonF Points(size_t offset, size_t count, bool small) const {
        const size_t size = small ? 4 : 8;
        r_.Bytes(offset, count * size);
        TPolygonF points(count);
        for (size_t i = 0; i < count; ++i) {
            const size_t at = offset + i * size;
            points[i] = small ? TPointF{double(r_.S16(at)), double(r_.S16(at + 2))} : Point(at);
        }
        return points;
    }
    TXForm Form(size_t offset) const {
        return {r_.F32(offset), r_.F32(offset + 4), r_.F32(offset + 8),
                r_.F32(offset + 12), r_.F32(offset + 16), r_.F32(offset + 20)};
    }
    // A bitmap whose header and bits are given by offset/size field pairs.
    std::shared_ptr<TMetafileDib> Dib(size_t fields) const {
        const uint32_t infoSize = r_.U32(fields + 4), bitsSize = r_.U32(fields + 12);
        const uint8_t* info = r_.Bytes(r_.U32(fields), infoSize);
        const uint8_t* bits = r_.Bytes(r_.U32(fields + 8), bitsSize);
        auto dib = std::make_shared<TMetafileDib>();
        if (!dib->Parse(info, infoSize, bits, bitsSize)) return nullptr;
        return dib;
    }
    void Poly(bool small);
    void PolyPoly(bool small);
    void ClipRegion();
    void CreatePen(bool extended);
    void CreatePatternBrush();
    void CreateFont();
    void Text(bool wide);
    void SmallText();
    void Blit(bool stretch);
    void CombiningBlit(TMetafileDevice::TBlit::TCombine combine);
    void DibBlit(bool stretch);

    const TRecordReader& r_;
    TMetafileDevice& device_;
};

void TEmfPlayer::Play() {
    TDeviceState& state = device_.State();
    const uint32_t type = r_.U32(0);
    switch (type) {
        case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
            Poly(false);
            break;
        case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIERTO16:
        case EMR_POLYLINETO16:
            Poly(true);
            break;
        case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: PolyPoly(false); break;
        case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16: PolyPoly(true); break;

        case EMR_SETWINDOWEXTEX: device_.SetWindowExt(Point(8)); break;
        case EMR_SETWINDOWORGEX: device_.SetWindowOrg(Point(8)); break;
        case EMR_SETVIEWPORTEXTEX: device_.SetViewportExt(Point(8)); break;
        case EMR_SETVIEWPORTORGEX: device_.SetViewportOrg(Point(8)); break;
        case EMR_SCALEVIEWPORTEXTEX: device_.ScaleViewportExt(r_.S32(8), r_.S32(12), r_.S32(16), r_.S32(20)); break;
        case EMR_SCALEWINDOWEXTEX: device_.ScaleWindowExt(r_.S32(8), r_.S32(12), r_.S32(16), r_.S32(20)); break;
        case EMR_SETMAPMODE: device_.SetMapMode(int(r_.U32(8))); break;
        case EMR_SETWORLDTRANSFORM: device_.SetWorldTransform(Form(8)); break;
        case EMR_MODIFYWORLDTRANSFORM: device_.ModifyWorldTransform(Form(8), int(r_.U32(32))); break;
        case EMR_SETBKMODE: state.BkMode = int(r_.U32(8)); break;
        case EMR_SETBKCOLOR: state.BkColor = r_.U32(8) & 0xFFFFFF; break;
        case EMR_SETPOLYFILLMODE: state.PolyFillMode = int(r_.U32(8)); break;
        case EMR_SETTEXTALIGN: state.TextAlign = r_.U32(8); break;
        case EMR_SETTEXTCOLOR: state.TextColor = r_.U32(8) & 0xFFFFFF; break;
        case EMR_SETARCDIRECTION: state.ArcDirection = int(r_.U32(8)); break;
        case EMR_SAVEDC: device_.SaveDC(); break;
        case EMR_RESTOREDC: device_.RestoreDC(r_.S32(8)); break;
        case EMR_EXCLUDECLIPRECT: device_.ExcludeClipRect(r_.S32(8), r_.S32(12), r_.S32(16), r_.S32(20)); break;
        case EMR_INTERSECTCLIPRECT:
            device_.IntersectClipRect(r_.S32(8), r_.S32(12), r_.S32(16), r_.S32(20));
            break;
        case EMR_EXTSELECTCLIPRGN: ClipRegion(); break;
        case EMR_SELECTCLIPPATH: {
            const uint32_t mode = r_.U32(8);
            device_.ClipToPath(int(mode));
            break;
        }

        case EMR_CREATEPEN: CreatePen(false); break;
        case EMR_EXTCREATEPEN: CreatePen(true); break;
        case EMR_CREATEBRUSHINDIRECT: {
            TMetafileObject brush{TMetafileObject::okBrush, {}, {int(r_.U32(12)), r_.U32(16) & 0xFFFFFF, int(r_.U32(20)), nullptr, false}, {}};
            if (brush.Brush.Style != BS_SOLID && brush.Brush.Style != BS_NULL && brush.Brush.Style != BS_HATCHED)
                brush.Brush.Style = BS_SOLID;
            device_.PutObject(r_.U32(8), brush);
            break;
        }
        case EMR_CREATEMONOBRUSH:
        case EMR_CREATEDIBPATTERNBRUSHPT: CreatePatternBrush(); break;
        case EMR_EXTCREATEFONTINDIRECTW: CreateFont(); break;
        case EMR_CREATEPALETTE: device_.PutObject(r_.U32(8), {}); break;
        case EMR_SELECTOBJECT: {
            const uint32_t index = r_.U32(8);
            if (index & kStockObject)
                device_.SelectStockObject(index & ~kStockObject);
            else
                device_.SelectObject(index);
            break;
        }
        case EMR_DELETEOBJECT: device_.DeleteObject(r_.U32(8)); break;

        case EMR_MOVETOEX: device_.MoveTo(Point(8)); break;
        case EMR_LINETO: device_.LineTo(Point(8)); break;
        case EMR_SETPIXELV: device_.SetPixel(Point(8), r_.U32(16) & 0xFFFFFF); break;
        case EMR_RECTANGLE: device_.Rectangle(Point(8), Point(16)); break;
        case EMR_ROUNDRECT: device_.RoundRect(Point(8), Point(16), Point(24)); break;
        case EMR_ELLIPSE: device_.Ellipse(Point(8), Point(16)); break;
        case EMR_ARC: device_.Arc(TMetafileDevice::akArc, Point(8), Point(16), Point(24), Point(32)); break;
        case EMR_CHORD: device_.Arc(TMetafileDevice::akChord, Point(8), Point(16), Point(24), Point(32)); break;
        case EMR_PIE: device_.Arc(TMetafileDevice::akPie, Point(8), Point(16), Point(24), Point(32)); break;

        case EMR_BEGINPATH: device_.BeginPath(); break;
        case EMR_ENDPATH: device_.EndPath(); break;
        case EMR_CLOSEFIGURE: device_.CloseFigure(); break;
        case EMR_ABORTPATH: device_.AbortPath(); break;
        case EMR_FILLPATH: device_.FillPath(); break;
        case EMR_STROKEPATH: device_.StrokePath(); break;
        case EMR_STROKEANDFILLPATH: device_.StrokeAndFillPath(); break;

        case EMR_EXTTEXTOUTA: Text(false); break;
        case EMR_EXTTEXTOUTW: Text(true); break;
        case EMR_SMALLTEXTOUT: SmallText(); break;

        case EMR_BITBLT: Blit(false); break;
        case EMR_STRETCHBLT: Blit(true); break;
        case EMR_ALPHABLEND: CombiningBlit(TMetafileDevice::TBlit::bcAlpha); break;
        case EMR_TRANSPARENTBLT: CombiningBlit(TMetafileDevice::TBlit::bcTransparent); break;
        case EMR_SETDIBITSTODEVICE: DibBlit(false); break;
        case EMR_STRETCHDIBITS: DibBlit(true); break;
        default: break;  // palettes, comments and the rest draw nothing here
    }
}

// bounds (8), count (24), points (28)
void TEmfPlayer::Poly(bool small) {
    const TPolygonF points = Points(28, r_.U32(24), small);
    switch (r_.U32(0)) {
        case EMR_POLYBEZIER: case EMR_POLYBEZIER16: device_.PolyBezier(points); break;
        case EMR_POLYGON: case EMR_POLYGON16: device_.Polygon(points); break;
        case EMR_POLYLINE: case EMR_POLYLINE16: device_.Polyline(points); break;
        case EMR_POLYBEZIERTO: case EMR_POLYBEZIERTO16: device_.PolyBezierTo(points); break;
        default: device_.PolylineTo(points); break;
    }
}

// bounds (8), figure count (24), point count (28), figure sizes (32), points
void TEmfPlayer::PolyPoly(bool small) {
    const uint32_t figures = r_.U32(24);
    r_.Bytes(32, size_t(figures) * 4);
    std::vector<TPolygonF> polygons;
    size_t offset = 32 + size_t(figures) * 4;
    for (uint32_t i = 0; i < figures; ++i) {
        const uint32_t count = r_.U32(32 + 4 * size_t(i));
        polygons.push_back(Points(offset, count, small));
        offset += size_t(count) * (small ? 4 : 8);
    }
    const uint32_t type = r_.U32(0);
    if (type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16)
        device_.PolyPolygon(polygons);
    else
        device_.PolyPolyline(polygons);
}

// data size (8), mode (12), then the region: header size, type, count,
// size, bounds (16..47) and the rectangles (48), in device units. A region
// too short for its header clips nothing away.
void TEmfPlayer::ClipRegion() {
    const uint32_t dataSize = r_.U32(8);
    const int mode = int(r_.U32(12));
    std::vector<TRect> rects;
    const size_t available = std::min<size_t>(dataSize, r_.Size() >= 16 ? r_.Size() - 16 : 0);
    if (available >= 32) {
        const size_t count = std::min<size_t>(r_.U32(24), (available - 32) / 16);
        for (size_t i = 0; i < count; ++i) {
            const size_t at = 48 + 16 * i;
            rects.push_back(Rect(r_.S32(at), r_.S32(at + 4), r_.S32(at + 8), r_.S32(at + 12)));
        }
    }
    device_.SelectClipRegion(rects, mode);
}

void TEmfPlayer::CreatePen(bool extended) {
    TMetafileObject pen{TMetafileObject::okPen, {}, {}, {}};
    if (extended) {
        const uint32_t style = r_.U32(28);
        pen.Pen = {int(style & 0x0F), (style & PS_GEOMETRIC) ? double(r_.U32(32)) : 0.0, r_.U32(40) & 0xFFFFFF};
    } else {
        pen.Pen = {int(r_.U32(12) & 0x0F), double(r_.S32(16)), r_.U32(24) & 0xFFFFFF};
    }
    device_.PutObject(r_.U32(8), pen);
}

// index (8), then the logical font: height, width, escapement, orientation,
// weight (12..31), italic, underline, strike out, character set, three
// precision bytes, pitch and family (32..39), face name (40, UTF-16).
void TEmfPlayer::CreateFont() {
    const uint8_t* flags = r_.Bytes(32, 8);
    const size_t units = std::min(kFaceNameUnits, (r_.Size() - 40) / 2);
    TMetafileObject font{TMetafileObject::okFont, {}, {}, {}};
    font.Font = LogicalFont(r_.S32(12), r_.S32(16), r_.S32(20), r_.S32(28), flags,
                            Utf8(DecodeUtf16(r_.Bytes(40, 2 * units), units)));
    device_.PutObject(r_.U32(8), font);
}

// bounds (8), graphics mode and scales (24..35), then the text: reference
// (36), length (44), string offset (48), options (52), rectangle (56),
// advances offset (72), all offsets from the record's start.
void TEmfPlayer::Text(bool wide) {
    TMetafileDevice::TText text;
    text.Reference = Point(36);
    const size_t length = r_.U32(44), at = r_.U32(48);
    text.Options = r_.U32(52);
    text.Characters = wide ? DecodeUtf16(r_.Bytes(at, 2 * length), length)
                           : DecodeText(r_.Bytes(at, length), length, device_.State().Font.CharSet);
    if (text.Options & (ETO_OPAQUE | ETO_CLIPPED)) text.Rect = {Point(56), Point(64)};
    // Advances come one to a character, or as x and y pairs.
    const size_t dx = r_.U32(72), step = text.Options & ETO_PDY ? 8 : 4;
    if (dx && length && dx <= r_.Size() && (r_.Size() - dx) / step >= length)
        for (size_t i = 0; i < length; ++i) text.Dx.push_back(r_.S32(dx + i * step));
    device_.TextOut(text);
}

// reference (8), length (16), options (20), graphics mode and scales
// (24..35), the clipping rectangle unless left out (36), then 8-bit or
// UTF-16 characters.
void TEmfPlayer::SmallText() {
    TMetafileDevice::TText text;
    text.Reference = Point(8);
    const size_t length = r_.U32(16);
    text.Options = r_.U32(20);
    size_t at = 36;
    if (!(text.Options & ETO_NO_RECT)) {
        text.Rect = {Point(36), Point(44)};
        at += 16;
    }
    text.Characters = text.Options & ETO_SMALL_CHARS
                          ? DecodeText(r_.Bytes(at, length), length, device_.State().Font.CharSet)
                          : DecodeUtf16(r_.Bytes(at, 2 * length), length);
    device_.TextOut(text);
}

// index (8), colour use (12), header and bits (16..31)
void TEmfPlayer::CreatePatternBrush() {
    TMetafileObject brush{TMetafileObject::okBrush, {}, {BS_DIBPATTERN, clBlack, HS_HORIZONTAL, nullptr, false}, {}};
    if (r_.U32(12) != DIB_PAL_COLORS) brush.Brush.Pattern = Dib(16);
    if (!brush.Brush.Pattern) brush.Brush.Style = BS_SOLID;
    // A two-colour brush is drawn in the text and background colours.
    brush.Brush.Monochrome = r_.U32(0) == EMR_CREATEMONOBRUSH;
    device_.PutObject(r_.U32(8), brush);
}

// bounds (8), destination (24..39), operation (40), source origin (44),
// source transform (52), background (76), colour use (80), bitmap (84..99),
// and for the stretching form the source extent (100).
void TEmfPlayer::Blit(bool stretch) {
    TMetafileDevice::TBlit blit{Point(24), Point(32), double(r_.S32(44)), double(r_.S32(48)), 0, 0, r_.U32(40), false};
    blit.SrcWidth = stretch ? r_.S32(100) : blit.DestExtent.X;
    blit.SrcHeight = stretch ? r_.S32(104) : blit.DestExtent.Y;
    if (r_.U32(88) == 0) {
        device_.StretchBlt(nullptr, blit);
        return;
    }
    if (r_.U32(80) == DIB_PAL_COLORS) return;
    const auto dib = Dib(84);
    if (dib) device_.StretchBlt(dib.get(), blit);
}

// The layout of the stretching blit, whose operation field holds the
// transparent colour or the blend (constant alpha in its third byte, the
// source-alpha flag in its fourth).
void TEmfPlayer::CombiningBlit(TMetafileDevice::TBlit::TCombine combine) {
    if (r_.U32(80) == DIB_PAL_COLORS) return;
    const uint32_t operation = r_.U32(40);
    TMetafileDevice::TBlit blit{Point(24), Point(32), double(r_.S32(44)), double(r_.S32(48)),
                                double(r_.S32(100)), double(r_.S32(104)), SRCCOPY, false};
    blit.Combine = combine;
    blit.TransparentColor = operation & 0xFFFFFF;
    blit.ConstantAlpha = uint8_t(operation >> 16);
    blit.SourceAlpha = (operation >> 24) & AC_SRC_ALPHA;
    const auto dib = Dib(84);
    if (dib) device_.StretchBlt(dib.get(), blit);
}

// bounds (8), destination origin (24), source origin (32) and extent (40),
// bitmap (48..63), colour use (64), then for the stretching form the
// operation (68) and destination extent (72), otherwise the scan lines.
void TEmfPlayer::DibBlit(bool stretch) {
    if (r_.U32(64) == DIB_PAL_COLORS) return;
    TMetafileDevice::TBlit blit{Point(24), Point(40), double(r_.S32(32)), double(r_.S32(36)),
                                double(r_.S32(40)), double(r_.S32(44)), SRCCOPY, true};
    if (stretch) {
        blit.Rop = r_.U32(68);
        blit.DestExtent = Point(72);
    }
    const bool needSource = ((blit.Rop >> 18) & 0x33) != ((blit.Rop >> 16) & 0x33);
    const auto dib = r_.U32(52) ? Dib(48) : nullptr;
    if (dib || !needSource) device_.StretchBlt(dib.get(), blit);
}

}  // namespace

void PlayEnhancedMetafile(const uint8_t* data, size_t size, TMetafileDevice& device) {
    size_t offset = 0;
    while (offset + 8 <= size) {
        const TRecordReader header(data + offset, size - offset);
        const uint32_t type = header.U32(0), bytes = header.U32(4);
        if (bytes < 8 || bytes > size - offset || type == EMR_EOF) break;
        const TRecordReader record(data + offset, bytes);
        try {
            TEmfPlayer(record, device).Play();
        } catch (const TShortRecord&) {
        }
        offset += bytes;
    }
}
