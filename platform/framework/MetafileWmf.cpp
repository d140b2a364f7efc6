// Records of the older (16-bit) metafiles. Parameters are stored in the
// reverse order of the calls' arguments, so the last argument comes first.
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "MetafilePlayer.h"

namespace {

enum : uint16_t {
    META_EOF = 0x0000,
    META_SAVEDC = 0x001E,
    META_CREATEPALETTE = 0x00F7,
    META_SETBKMODE = 0x0102,
    META_SETPOLYFILLMODE = 0x0106,
    META_SETTEXTCHAREXTRA = 0x0108,
    META_RESTOREDC = 0x0127,
    META_SELECTOBJECT = 0x012D,
    META_SETTEXTALIGN = 0x012E,
    META_DIBCREATEPATTERNBRUSH = 0x0142,
    META_DELETEOBJECT = 0x01F0,
    META_CREATEPATTERNBRUSH = 0x01F9,
    META_SETBKCOLOR = 0x0201,
    META_SETTEXTCOLOR = 0x0209,
    META_SETWINDOWORG = 0x020B,
    META_SETWINDOWEXT = 0x020C,
    META_OFFSETWINDOWORG = 0x020F,
    META_LINETO = 0x0213,
    META_MOVETO = 0x0214,
    META_CREATEPENINDIRECT = 0x02FA,
    META_CREATEFONTINDIRECT = 0x02FB,
    META_CREATEBRUSHINDIRECT = 0x02FC,
    META_POLYGON = 0x0324,
    META_POLYLINE = 0x0325,
    META_SCALEWINDOWEXT = 0x0410,
    META_EXCLUDECLIPRECT = 0x0415,
    META_INTERSECTCLIPRECT = 0x0416,
    META_ELLIPSE = 0x0418,
    META_RECTANGLE = 0x041B,
    META_SETPIXEL = 0x041F,
    META_TEXTOUT = 0x0521,
    META_POLYPOLYGON = 0x0538,
    META_ROUNDRECT = 0x061C,
    META_CREATEREGION = 0x06FF,
    META_ARC = 0x0817,
    META_PIE = 0x081A,
    META_CHORD = 0x0830,
    META_DIBBITBLT = 0x0940,
    META_EXTTEXTOUT = 0x0A32,
    META_DIBSTRETCHBLT = 0x0B41,
    META_SETDIBTODEV = 0x0D33,
    META_STRETCHDIB = 0x0F43,
};

constexpr uint16_t DIB_PAL_COLORS = 1;
constexpr size_t kFaceNameBytes = 32;

// The fields of one record, and the geometry the drawing records carry.
class TWmfRecord {
public:
    TWmfRecord(const TRecordReader& params, uint16_t function) : p_(params), function_(function) {}
    // The logical points that bound what the record draws; none for records
    // that draw nothing.
    TPolygonF DrawnPoints() const;

protected:
    double W(size_t index) const { return p_.S16(2 * index); }
    // A point stored as y then x, from word index.
    TPointF YX(size_t index) const { return {W(index + 1), W(index)}; }
    TPolygonF Points(size_t byteOffset, size_t count) const {
        p_.Bytes(byteOffset, count * 4);
        TPolygonF points(count);
        for (size_t i = 0; i < count; ++i) points[i] = {double(p_.S16(byteOffset + 4 * i)), double(p_.S16(byteOffset + 4 * i + 2))};
        return points;
    }
    std::vector<TPolygonF> PolyPolygonPoints() const;
    // A packed bitmap (header, colours, bits) from byteOffset to the end.
    std::shared_ptr<TMetafileDib> Dib(size_t byteOffset) const {
        auto dib = std::make_shared<TMetafileDib>();
        if (!dib->ParsePacked(p_.Bytes(byteOffset, 0), p_.Size() - byteOffset)) return nullptr;
        return dib;
    }
    // A blit's rectangles, and where its bitmap starts (0: it has none).
    struct TBlitRecord {
        TMetafileDevice::TBlit Blit;
        size_t BitmapOffset = 0;
    };
    TBlitRecord ReadBlit(size_t ropWords, bool stretch, bool bottomUp) const;
    TMetafileDevice::TBlit DibToDevice() const {
        return {YX(7), {W(6), W(5)}, W(4), W(3), W(6), W(5), SRCCOPY, true};
    }
    // The string and its reference point of a text record.
    TMetafileDevice::TText Text(uint8_t charSet) const;

    const TRecordReader& p_;
    uint16_t function_;
};

class TWmfPlayer : public TWmfRecord {
public:
    TWmfPlayer(const TRecordReader& params, uint16_t function, TMetafileDevice& device)
        : TWmfRecord(params, function), device_(device) {}
    void Play();

private:
    void CreateObject(const TMetafileObject& object) { device_.PutObject(device_.FreeSlot(), object); }
    void CreatePatternBrush();
    void CreateFont();
    void CreateBitmapPatternBrush();
    void Blit(size_t ropWords, bool stretch, bool bottomUp);

    TMetafileDevice& device_;
};

std::vector<TPolygonF> TWmfRecord::PolyPolygonPoints() const {
    const size_t count = p_.U16(0);
    std::vector<TPolygonF> polygons;
    size_t offset = 2 + 2 * count;
    for (size_t i = 0; i < count; ++i) {
        const size_t points = p_.U16(2 + 2 * i);
        polygons.push_back(Points(offset, points));
        offset += 4 * points;
    }
    return polygons;
}

// ropWords: the words before the source height (the operation, and for
// StretchDIBits its colour use too). The forms without a bitmap carry one
// reserved word more than their parameter count implies.
TWmfRecord::TBlitRecord TWmfRecord::ReadBlit(size_t ropWords, bool stretch, bool bottomUp) const {
    const size_t recordWords = p_.Size() / 2 + 3;
    const bool withBitmap = function_ == META_STRETCHDIB || recordWords != size_t(function_ >> 8) + 3;
    size_t i = ropWords;
    TMetafileDevice::TBlit blit;
    blit.Rop = p_.U32(0);
    blit.BottomUpSource = bottomUp;
    if (stretch) {
        blit.SrcHeight = W(i++);
        blit.SrcWidth = W(i++);
    }
    blit.SrcY = W(i++);
    blit.SrcX = W(i++);
    if (!withBitmap) ++i;
    blit.DestExtent.Y = W(i++);
    blit.DestExtent.X = W(i++);
    blit.DestOrigin.Y = W(i++);
    blit.DestOrigin.X = W(i++);
    if (!stretch) {
        blit.SrcWidth = blit.DestExtent.X;
        blit.SrcHeight = blit.DestExtent.Y;
    }
    return {blit, withBitmap ? 2 * i : 0};
}

TPolygonF TWmfRecord::DrawnPoints() const {
    const auto rectangle = [](const TMetafileDevice::TBlit& blit) {
        const TPointF corner{blit.DestOrigin.X + blit.DestExtent.X, blit.DestOrigin.Y + blit.DestExtent.Y};
        return TPolygonF{blit.DestOrigin, corner};
    };
    switch (function_) {
        case META_MOVETO:
        case META_LINETO: return {YX(0)};
        case META_SETPIXEL: return {YX(2)};
        case META_TEXTOUT:
        case META_EXTTEXTOUT: return {Text(0).Reference};
        case META_POLYLINE:
        case META_POLYGON: return Points(2, p_.U16(0));
        case META_POLYPOLYGON: {
            TPolygonF all;
            for (const TPolygonF& polygon : PolyPolygonPoints()) all.insert(all.end(), polygon.begin(), polygon.end());
            return all;
        }
        case META_RECTANGLE:
        case META_ELLIPSE: return {YX(2), YX(0)};
        case META_ROUNDRECT: return {YX(4), YX(2)};
        case META_ARC:
        case META_CHORD:
        case META_PIE: return {YX(6), YX(4)};
        case META_STRETCHDIB: return rectangle(ReadBlit(3, true, true).Blit);
        case META_DIBSTRETCHBLT: return rectangle(ReadBlit(2, true, false).Blit);
        case META_DIBBITBLT: return rectangle(ReadBlit(2, false, false).Blit);
        case META_SETDIBTODEV: return rectangle(DibToDevice());
        default: return {};
    }
}

void TWmfPlayer::Play() {
    TDeviceState& state = device_.State();
    switch (function_) {
        case META_SAVEDC: device_.SaveDC(); break;
        case META_RESTOREDC: device_.RestoreDC(p_.S16(0)); break;
        case META_SETBKMODE: state.BkMode = p_.U16(0); break;
        case META_SETBKCOLOR: state.BkColor = p_.U32(0) & 0xFFFFFF; break;
        case META_SETPOLYFILLMODE: state.PolyFillMode = p_.U16(0); break;
        case META_SETTEXTCOLOR: state.TextColor = p_.U32(0) & 0xFFFFFF; break;
        case META_SETTEXTALIGN: state.TextAlign = p_.U16(0); break;
        case META_SETTEXTCHAREXTRA: state.CharExtra = p_.S16(0); break;
        case META_SETWINDOWORG: device_.SetWindowOrg(YX(0)); break;
        case META_SETWINDOWEXT: device_.SetWindowExt(YX(0)); break;
        case META_OFFSETWINDOWORG: device_.OffsetWindowOrg(YX(0)); break;
        case META_SCALEWINDOWEXT: device_.ScaleWindowExt(W(3), W(2), W(1), W(0)); break;
        case META_INTERSECTCLIPRECT: device_.IntersectClipRect(W(3), W(2), W(1), W(0)); break;
        case META_EXCLUDECLIPRECT: device_.ExcludeClipRect(W(3), W(2), W(1), W(0)); break;

        case META_CREATEPENINDIRECT: {
            TMetafileObject pen{TMetafileObject::okPen, {p_.U16(0) & 0x0F, W(1), p_.U32(6) & 0xFFFFFF}, {}, {}};
            CreateObject(pen);
            break;
        }
        case META_CREATEBRUSHINDIRECT: {
            TMetafileObject brush{TMetafileObject::okBrush, {}, {p_.U16(0), p_.U32(2) & 0xFFFFFF, p_.U16(6), nullptr, false}, {}};
            if (brush.Brush.Style != BS_SOLID && brush.Brush.Style != BS_NULL && brush.Brush.Style != BS_HATCHED)
                brush.Brush.Style = BS_SOLID;
            CreateObject(brush);
            break;
        }
        case META_DIBCREATEPATTERNBRUSH: CreatePatternBrush(); break;
        case META_CREATEFONTINDIRECT: CreateFont(); break;
        case META_CREATEPATTERNBRUSH: CreateBitmapPatternBrush(); break;
        case META_CREATEPALETTE:
        case META_CREATEREGION: CreateObject({}); break;
        case META_SELECTOBJECT: device_.SelectObject(p_.U16(0)); break;
        case META_DELETEOBJECT: device_.DeleteObject(p_.U16(0)); break;

        case META_MOVETO: device_.MoveTo(YX(0)); break;
        case META_LINETO: device_.LineTo(YX(0)); break;
        case META_POLYLINE: device_.Polyline(Points(2, p_.U16(0))); break;
        case META_POLYGON: device_.Polygon(Points(2, p_.U16(0))); break;
        case META_POLYPOLYGON: device_.PolyPolygon(PolyPolygonPoints()); break;
        case META_RECTANGLE: device_.Rectangle(YX(2), YX(0)); break;
        case META_ROUNDRECT: device_.RoundRect(YX(4), YX(2), {W(1), W(0)}); break;
        case META_ELLIPSE: device_.Ellipse(YX(2), YX(0)); break;
        case META_ARC: device_.Arc(TMetafileDevice::akArc, YX(6), YX(4), YX(2), YX(0)); break;
        case META_CHORD: device_.Arc(TMetafileDevice::akChord, YX(6), YX(4), YX(2), YX(0)); break;
        case META_PIE: device_.Arc(TMetafileDevice::akPie, YX(6), YX(4), YX(2), YX(0)); break;
        case META_SETPIXEL: device_.SetPixel(YX(2), p_.U32(0) & 0xFFFFFF); break;
        case META_TEXTOUT:
        case META_EXTTEXTOUT: device_.TextOut(Text(state.Font.CharSet)); break;

        case META_STRETCHDIB:
            if (p_.U16(4) != DIB_PAL_COLORS) Blit(3, true, true);
            break;
        case META_DIBSTRETCHBLT: Blit(2, true, false); break;
        case META_DIBBITBLT: Blit(2, false, false); break;
        case META_SETDIBTODEV: {
            if (p_.U16(0) == DIB_PAL_COLORS) break;
            const auto dib = Dib(18);
            if (dib) device_.StretchBlt(dib.get(), DibToDevice());
            break;
        }
        default: break;  // palettes, escapes and the rest draw nothing here
    }
}

// TEXTOUT: length, string (padded to a word), y, x. EXTTEXTOUT: y, x,
// length, options, the rectangle where the options use one, the string,
// and optionally each character's advance.
TMetafileDevice::TText TWmfRecord::Text(uint8_t charSet) const {
    TMetafileDevice::TText text;
    if (function_ == META_TEXTOUT) {
        const size_t length = p_.U16(0), padded = (length + 1) / 2 * 2;
        text.Characters = DecodeText(p_.Bytes(2, length), length, charSet);
        text.Reference = {double(p_.S16(4 + padded)), double(p_.S16(2 + padded))};
        return text;
    }
    text.Reference = YX(0);
    const size_t length = p_.U16(4);
    text.Options = p_.U16(6);
    size_t offset = 8;
    if (text.Options & (ETO_OPAQUE | ETO_CLIPPED)) {
        text.Rect = {{W(4), W(5)}, {W(6), W(7)}};
        offset += 8;
    }
    text.Characters = DecodeText(p_.Bytes(offset, length), length, charSet);
    offset += (length + 1) / 2 * 2;
    if (p_.Size() >= offset + 2 * length)
        for (size_t i = 0; i < length; ++i) text.Dx.push_back(p_.S16(offset + 2 * i));
    return text;
}

// Height, width, escapement, orientation, weight, italic, underline, strike
// out, character set, three precision bytes, pitch and family, face name.
void TWmfPlayer::CreateFont() {
    const uint8_t* flags = p_.Bytes(10, 8);
    const size_t nameBytes = std::min(kFaceNameBytes, p_.Size() - 18);
    TMetafileObject font{TMetafileObject::okFont, {}, {}, {}};
    font.Font = LogicalFont(p_.S16(0), p_.S16(2), p_.S16(4), p_.S16(8), flags,
                            Utf8(DecodeText(p_.Bytes(18, nameBytes), nameBytes, 0)));
    CreateObject(font);
}

void TWmfPlayer::CreatePatternBrush() {
    TMetafileObject brush{TMetafileObject::okBrush, {}, {BS_DIBPATTERN, clBlack, HS_HORIZONTAL, nullptr, false}, {}};
    if (p_.U16(2) != DIB_PAL_COLORS) brush.Brush.Pattern = Dib(4);
    if (!brush.Brush.Pattern) brush.Brush.Style = BS_SOLID;
    CreateObject(brush);
}

// The old device-dependent form: type, width, height, bytes a row, planes,
// bits a pixel, a pointer and 18 reserved bytes (0..31), then the rows from
// the top. Only two-colour patterns have colours without a device; they
// are drawn in the text and background colours.
void TWmfPlayer::CreateBitmapPatternBrush() {
    const int width = p_.S16(2), height = p_.S16(4), rowBytes = p_.S16(6);
    const uint8_t* format = p_.Bytes(8, 2);
    TMetafileObject brush{TMetafileObject::okBrush, {}, {BS_SOLID, clBlack, HS_HORIZONTAL, nullptr, false}, {}};
    if (format[0] == 1 && format[1] == 1 && width > 0 && height > 0 && rowBytes >= (width + 7) / 8) {
        const uint8_t* rows = p_.Bytes(32, size_t(rowBytes) * size_t(height));
        const size_t dibRow = (size_t(width) + 31) / 32 * 4;
        std::vector<uint8_t> dib(48 + dibRow * size_t(height), 0);
        const auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i) dib[at + size_t(i)] = uint8_t(v >> (8 * i));
        };
        put32(0, 40);
        put32(4, uint32_t(width));
        put32(8, uint32_t(-height));  // rows from the top
        dib[12] = 1;
        dib[14] = 1;
        put32(32, 2);
        put32(44, 0xFFFFFF);
        for (int y = 0; y < height; ++y)
            std::copy_n(rows + size_t(y) * size_t(rowBytes), (width + 7) / 8, dib.begin() + ptrdiff_t(48 + dibRow * size_t(y)));
        auto pattern = std::make_shared<TMetafileDib>();
        if (pattern->ParsePacked(dib.data(), dib.size())) brush.Brush = {BS_PATTERN, clBlack, HS_HORIZONTAL, pattern, true};
    }
    CreateObject(brush);
}

void TWmfPlayer::Blit(size_t ropWords, bool stretch, bool bottomUp) {
    const TBlitRecord record = ReadBlit(ropWords, stretch, bottomUp);
    if (!record.BitmapOffset) {
        device_.StretchBlt(nullptr, record.Blit);
        return;
    }
    const auto dib = Dib(record.BitmapOffset);
    if (dib) device_.StretchBlt(dib.get(), record.Blit);
}

}  // namespace

namespace {

// Calls visit with the parameters and function of every record up to the
// end record; a record that reads past its end is left out.
template <class TVisit>
void ForEachRecord(const uint8_t* data, size_t size, TVisit visit) {
    size_t offset = 18;
    while (offset + 6 <= size) {
        const TRecordReader record(data + offset, size - offset);
        const uint64_t bytes = uint64_t(record.U32(0)) * 2;
        const uint16_t function = record.U16(4);
        if (bytes < 6 || bytes > size - offset || function == META_EOF) break;
        const TRecordReader params(data + offset + 6, size_t(bytes) - 6);
        try {
            visit(params, function);
        } catch (const TShortRecord&) {
        }
        offset += size_t(bytes);
    }
}

}  // namespace

void PlayWindowsMetafile(const uint8_t* data, size_t size, TMetafileDevice& device) {
    ForEachRecord(data, size, [&](const TRecordReader& params, uint16_t function) {
        TWmfPlayer(params, function, device).Play();
    });
}

std::optional<TRect> WindowsMetafileBounds(const uint8_t* data, size_t size) {
    double left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
    ForEachRecord(data, size, [&](const TRecordReader& params, uint16_t function) {
        for (const TPointF& p : TWmfRecord(params, function).DrawnPoints()) {
            left = std::min(left, p.X), right = std::max(right, p.X);
            top = std::min(top, p.Y), bottom = std::max(bottom, p.Y);
        }
    });
    if (left > right) return std::nullopt;
    return Rect(int(left), int(top), int(right), int(bottom));
}
