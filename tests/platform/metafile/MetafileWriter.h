// Builds metafiles record by record for the tests: the older kind (plain
// or with a placeable header) and enhanced metafiles, and the packed
// bitmaps their bitmap records carry.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "Graphics.h"

using TBytes = std::vector<uint8_t>;

inline void Put16(TBytes& b, int v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Put32(TBytes& b, int64_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void PutFloat(TBytes& b, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    Put32(b, bits);
}
inline void Append(TBytes& b, const TBytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// A bitmap info header with its colour table and bottom-up (or top-down)
// rows; pixel(x, y) gives the colour of each pixel, y from the top.
inline TBytes MakeDib(int width, int height, int bitCount, const std::function<TColor(int, int)>& pixel,
                      const std::vector<TColor>& palette = {}, bool topDown = false, uint32_t compression = 0,
                      const std::vector<uint32_t>& masks = {}) {
    TBytes b;
    Put32(b, 40);
    Put32(b, width);
    Put32(b, topDown ? -height : height);
    Put16(b, 1);
    Put16(b, bitCount);
    Put32(b, compression);
    Put32(b, 0);
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, int64_t(palette.size()));
    Put32(b, 0);
    for (uint32_t m : masks) Put32(b, m);
    for (TColor c : palette) {
        b.push_back(GetBValue(c));
        b.push_back(GetGValue(c));
        b.push_back(GetRValue(c));
        b.push_back(0);
    }
    const size_t rowBytes = (size_t(width) * bitCount + 31) / 32 * 4;
    for (int row = 0; row < height; ++row) {
        const int y = topDown ? row : height - 1 - row;
        TBytes line(rowBytes, 0);
        for (int x = 0; x < width; ++x) {
            const TColor c = pixel(x, y);
            switch (bitCount) {
                case 1: line[x / 8] |= uint8_t((c & 1) << (7 - x % 8)); break;
                case 4: line[x / 2] |= uint8_t((c & 15) << (x % 2 ? 0 : 4)); break;
                case 8: line[x] = uint8_t(c); break;
                case 16: line[2 * x] = uint8_t(c); line[2 * x + 1] = uint8_t(c >> 8); break;
                case 24:
                    line[3 * x] = GetBValue(c);
                    line[3 * x + 1] = GetGValue(c);
                    line[3 * x + 2] = GetRValue(c);
                    break;
                default:
                    for (int i = 0; i < 4; ++i) line[4 * x + i] = uint8_t(c >> (8 * i));
                    break;
            }
        }
        Append(b, line);
    }
    return b;
}

// Size of the header and colour table of a MakeDib result.
inline size_t DibInfoSize(const TBytes& dib) {
    uint32_t colors;
    std::memcpy(&colors, dib.data() + 32, 4);
    const uint32_t compression = dib[16];
    return 40 + (compression == 3 ? 12 : 0) + 4 * size_t(colors);
}

class TWmfWriter {
public:
    TWmfWriter& Record(uint16_t function, const TBytes& params) {
        largest_ = std::max(largest_, int64_t(3 + params.size() / 2));
        Put32(records_, int64_t(3 + params.size() / 2));
        Put16(records_, function);
        Append(records_, params);
        return *this;
    }
    // A record of 16-bit parameters, in file order.
    TWmfWriter& Words(uint16_t function, std::initializer_list<int> words) {
        TBytes params;
        for (int w : words) Put16(params, w);
        return Record(function, params);
    }
    TWmfWriter& Raw(const TBytes& bytes) {
        Append(records_, bytes);
        return *this;
    }

    TWmfWriter& Window(int x, int y, int width, int height) {
        Words(0x020B, {y, x});
        return Words(0x020C, {height, width});
    }
    TWmfWriter& Pen(int style, int width, TColor color) {
        TBytes p;
        Put16(p, style);
        Put16(p, width);
        Put16(p, 0);
        Put32(p, color);
        return Record(0x02FA, p);
    }
    TWmfWriter& Brush(int style, TColor color, int hatch = 0) {
        TBytes p;
        Put16(p, style);
        Put32(p, color);
        Put16(p, hatch);
        return Record(0x02FC, p);
    }
    TWmfWriter& Select(int index) { return Words(0x012D, {index}); }
    TWmfWriter& Delete(int index) { return Words(0x01F0, {index}); }
    TWmfWriter& Rectangle(int l, int t, int r, int b) { return Words(0x041B, {b, r, t, l}); }
    TWmfWriter& Ellipse(int l, int t, int r, int b) { return Words(0x0418, {b, r, t, l}); }
    TWmfWriter& Poly(uint16_t function, std::initializer_list<std::pair<int, int>> points) {
        TBytes p;
        Put16(p, int(points.size()));
        for (auto [x, y] : points) {
            Put16(p, x);
            Put16(p, y);
        }
        return Record(function, p);
    }

    // A logical font: height, weight, italic, underline, escapement, face.
    TWmfWriter& Font(int height, int weight, bool italic, bool underline, int escapement, const std::string& face) {
        TBytes p;
        for (int v : {height, 0, escapement, escapement, weight}) Put16(p, v);
        for (int v : {int(italic), int(underline), 0, 0, 0, 0, 0, 0}) p.push_back(uint8_t(v));
        TBytes name(face.begin(), face.end());
        name.resize(32, 0);
        Append(p, name);
        return Record(0x02FB, p);
    }
    TWmfWriter& TextOut(int x, int y, const std::string& text) {
        TBytes p;
        Put16(p, int(text.size()));
        Append(p, TBytes(text.begin(), text.end()));
        if (text.size() % 2) p.push_back(0);
        Put16(p, y);
        Put16(p, x);
        return Record(0x0521, p);
    }
    // With ETO_OPAQUE or ETO_CLIPPED in options, rect (left, top, right,
    // bottom) comes too.
    TWmfWriter& ExtTextOut(int x, int y, const std::string& text, int options, std::initializer_list<int> rect = {}) {
        TBytes p;
        for (int v : {y, x, int(text.size()), options}) Put16(p, v);
        for (int v : rect) Put16(p, v);
        Append(p, TBytes(text.begin(), text.end()));
        if (text.size() % 2) p.push_back(0);
        return Record(0x0A32, p);
    }

    TBytes Plain() const {
        TBytes b;
        Put16(b, 1);
        Put16(b, 9);
        Put16(b, 0x0300);
        Put32(b, int64_t((18 + records_.size() + 6) / 2));
        Put16(b, 16);
        Put32(b, largest_);
        Put16(b, 0);
        Append(b, records_);
        Put32(b, 3);
        Put16(b, 0);
        return b;
    }
    TBytes Placeable(int left, int top, int right, int bottom, int inch) const {
        TBytes b;
        Put32(b, 0x9AC6CDD7);
        Put16(b, 0);
        for (int v : {left, top, right, bottom}) Put16(b, v);
        Put16(b, inch);
        Put32(b, 0);
        uint16_t sum = 0;
        for (size_t i = 0; i < b.size(); i += 2) sum ^= uint16_t(b[i] | (b[i + 1] << 8));
        Put16(b, sum);
        Append(b, Plain());
        return b;
    }

private:
    TBytes records_;
    int64_t largest_ = 3;  // in words, as the header counts it
};

inline TBytes EnhancedRecordBytes(uint32_t type, const TBytes& params) {
    TBytes b;
    Put32(b, type);
    Put32(b, int64_t(8 + params.size()));
    Append(b, params);
    return b;
}

class TEmfWriter {
public:
    TEmfWriter& Raw(const TBytes& record) {
        Append(records_, record);
        ++count_;
        return *this;
    }
    TEmfWriter& Record(uint32_t type, const TBytes& params) {
        Put32(records_, type);
        Put32(records_, int64_t(8 + params.size()));
        Append(records_, params);
        ++count_;
        return *this;
    }
    // A record of 32-bit parameters.
    TEmfWriter& Ints(uint32_t type, std::initializer_list<int64_t> values) {
        TBytes params;
        for (int64_t v : values) Put32(params, v);
        return Record(type, params);
    }
    TEmfWriter& Pen(int index, int style, int width, TColor color) { return Ints(38, {index, style, width, 0, color}); }
    TEmfWriter& Brush(int index, int style, TColor color, int hatch = 0) { return Ints(39, {index, style, color, hatch}); }
    TEmfWriter& Select(int64_t index) { return Ints(37, {index}); }
    TEmfWriter& Rectangle(int l, int t, int r, int b) { return Ints(43, {l, t, r, b}); }
    TEmfWriter& Poly(uint32_t type, std::initializer_list<std::pair<int, int>> points) {
        TBytes p;
        for (int i = 0; i < 4; ++i) Put32(p, 0);
        Put32(p, int64_t(points.size()));
        for (auto [x, y] : points) {
            Put32(p, x);
            Put32(p, y);
        }
        return Record(type, p);
    }
    TEmfWriter& Font(int index, int height, int weight, bool italic, bool underline, int escapement,
                     const std::u16string& face) {
        TBytes p;
        for (int64_t v : {int64_t(index), int64_t(height), int64_t(0), int64_t(escapement), int64_t(escapement), int64_t(weight)})
            Put32(p, v);
        for (int v : {int(italic), int(underline), 0, 0, 0, 0, 0, 0}) p.push_back(uint8_t(v));
        std::u16string name = face;
        name.resize(32, 0);
        for (char16_t c : name) Put16(p, c);
        p.resize(p.size() + 320 - 92, 0);  // the rest of an extended logical font
        return Record(82, p);
    }
    // EXTTEXTOUTW of a UTF-16 string at (x, y).
    TEmfWriter& TextOut(int x, int y, const std::u16string& text, int options = 0) {
        TBytes p;
        for (int i = 0; i < 4; ++i) Put32(p, 0);  // bounds
        Put32(p, 1);                             // compatible graphics mode
        for (int i = 0; i < 2; ++i) PutFloat(p, 0);
        for (int64_t v : {int64_t(x), int64_t(y), int64_t(text.size()), int64_t(76), int64_t(options)}) Put32(p, v);
        for (int i = 0; i < 5; ++i) Put32(p, 0);  // rectangle, no advances
        for (char16_t c : text) Put16(p, c);
        if (text.size() % 2) Put16(p, 0);
        return Record(84, p);
    }
    // StretchDIBits of a whole bitmap onto (x, y, width, height).
    // infoSize 0: the header and colour table are as long as the header says.
    TEmfWriter& StretchDib(int x, int y, int width, int height, const TBytes& dib, int srcWidth, int srcHeight,
                           uint32_t rop = 0x00CC0020, size_t infoSize = 0) {
        const size_t info = infoSize ? infoSize : DibInfoSize(dib);
        TBytes p;
        for (int i = 0; i < 4; ++i) Put32(p, 0);
        for (int64_t v : {int64_t(x), int64_t(y), int64_t(0), int64_t(0), int64_t(srcWidth), int64_t(srcHeight)}) Put32(p, v);
        Put32(p, 80);
        Put32(p, int64_t(info));
        Put32(p, int64_t(80 + info));
        Put32(p, int64_t(dib.size() - info));
        Put32(p, 0);
        Put32(p, rop);
        Put32(p, width);
        Put32(p, height);
        Append(p, dib);
        return Record(81, p);
    }

    // The header (picture frame in hundredths of a millimetre, on a
    // reference device of 960 pixels to 254 millimetres: 96 per inch), the
    // records and the end record.
    TBytes Build(TRect bounds, TRect frame) const {
        TBytes h;
        for (TRect r : {bounds, frame})
            for (int v : {r.Left, r.Top, r.Right, r.Bottom}) Put32(h, v);
        Put32(h, 0x464D4520);
        Put32(h, 0x10000);
        Put32(h, int64_t(8 + 80 + records_.size() + 20));
        Put32(h, int64_t(count_ + 2));
        Put16(h, 16);
        Put16(h, 0);
        Put32(h, 0);
        Put32(h, 0);
        Put32(h, 0);
        for (int v : {960, 960, 254, 254}) Put32(h, v);
        TBytes b;
        Put32(b, 1);
        Put32(b, int64_t(8 + h.size()));
        Append(b, h);
        Append(b, records_);
        for (int64_t v : {14, 20, 0, 16, 20}) Put32(b, v);
        return b;
    }
    // A picture of width x height pixels at 96 per inch.
    TBytes Build(int width, int height) const {
        return Build(Rect(0, 0, width - 1, height - 1), Rect(0, 0, width * 2540 / 96, height * 2540 / 96));
    }

private:
    TBytes records_;
    int count_ = 0;
};
