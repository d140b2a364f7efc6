// Old-style JPEG (TIFF compression 6): the tables, frame and scan data that
// TIFF fields point at put together as one baseline JPEG stream, as libtiff
// reads such files.
#include <algorithm>

#include "compression/GraphicCompression.h"

namespace {

void PutMarker(std::vector<uint8_t>& out, uint8_t marker) { out.insert(out.end(), {0xFF, marker}); }

void PutWord(std::vector<uint8_t>& out, size_t value) {
    out.insert(out.end(), {uint8_t(value >> 8), uint8_t(value)});
}

// Marker segments of a stream's header, up to its scan: copies all but
// SOI, EOI and SOS into out and notes which kinds it held and the frame's
// component ids.
struct THeaderKinds {
    bool Quant = false, Huffman = false, Frame = false, Restart = false, Scan = false;
    std::vector<uint8_t> ComponentIds;
};

THeaderKinds CopyHeader(const std::vector<uint8_t>& header, std::vector<uint8_t>& out) {
    THeaderKinds kinds;
    size_t at = 0;
    while (at + 4 <= header.size()) {
        if (header[at] != 0xFF) {
            ++at;
            continue;
        }
        const uint8_t marker = header[at + 1];
        if (marker == 0xD8 || marker == 0xFF) {
            at += marker == 0xD8 ? 2 : 1;
            continue;
        }
        kinds.Scan = marker == 0xDA;
        if (marker == 0xD9 || marker == 0xDA) break;
        const size_t length = size_t(header[at + 2]) << 8 | header[at + 3];
        if (length < 2 || at + 2 + length > header.size()) break;
        const uint8_t* segment = header.data() + at;
        out.insert(out.end(), segment, segment + 2 + length);
        kinds.Quant |= marker == 0xDB;
        kinds.Huffman |= marker == 0xC4;
        kinds.Restart |= marker == 0xDD;
        if (marker >= 0xC0 && marker <= 0xC3 && length >= 8) {
            kinds.Frame = true;
            kinds.ComponentIds.clear();
            for (size_t c = 0; c < segment[9] && 10 + 3 * c < 2 + length; ++c)
                kinds.ComponentIds.push_back(segment[10 + 3 * c]);
        }
        at += 2 + length;
    }
    return kinds;
}

}  // namespace

bool JPEGHasScan(const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> header;
    return CopyHeader(stream, header).Scan;
}

std::vector<uint8_t> OldJPEGStream(const TOldJPEGParts& parts) {
    std::vector<uint8_t> out;
    PutMarker(out, 0xD8);
    THeaderKinds kinds = CopyHeader(parts.Header, out);
    const size_t n = parts.Components;
    if (!kinds.Quant)
        for (size_t i = 0; i < parts.QuantTables.size(); ++i) {
            PutMarker(out, 0xDB);
            PutWord(out, 3 + 64);
            out.push_back(uint8_t(i));
            out.insert(out.end(), parts.QuantTables[i].begin(), parts.QuantTables[i].end());
        }
    if (!kinds.Huffman)
        for (int kind = 0; kind < 2; ++kind) {
            const std::vector<std::vector<uint8_t>>& tables = kind == 0 ? parts.DCTables : parts.ACTables;
            for (size_t i = 0; i < tables.size(); ++i) {
                PutMarker(out, 0xC4);
                PutWord(out, 3 + tables[i].size());
                out.push_back(uint8_t(kind << 4 | i));
                out.insert(out.end(), tables[i].begin(), tables[i].end());
            }
        }
    if (!kinds.Frame) {
        PutMarker(out, 0xC0);
        PutWord(out, 8 + 3 * n);
        out.push_back(8);
        PutWord(out, parts.Height);
        PutWord(out, parts.Width);
        out.push_back(uint8_t(n));
        for (size_t i = 0; i < n; ++i) {
            kinds.ComponentIds.push_back(uint8_t(i + 1));
            out.push_back(uint8_t(i + 1));
            out.push_back(i == 0 ? uint8_t(parts.HorizontalSampling << 4 | parts.VerticalSampling) : 0x11);
            out.push_back(uint8_t(std::min(i, std::max<size_t>(parts.QuantTables.size(), 1) - 1)));
        }
    }
    if (parts.RestartInterval && !kinds.Restart) {
        PutMarker(out, 0xDD);
        PutWord(out, 4);
        PutWord(out, parts.RestartInterval);
    }
    // Tables from fields are one per component; a stream's own tables
    // follow the usual pairing: the first for luma, the second for chroma.
    const size_t components = kinds.ComponentIds.size();
    PutMarker(out, 0xDA);
    PutWord(out, 6 + 2 * components);
    out.push_back(uint8_t(components));
    for (size_t i = 0; i < components; ++i) {
        const auto table = [&](size_t count) {
            return kinds.Huffman ? std::min<size_t>(i, 1) : std::min(i, std::max<size_t>(count, 1) - 1);
        };
        const size_t dc = table(parts.DCTables.size()), ac = table(parts.ACTables.size());
        out.push_back(kinds.ComponentIds[i]);
        out.push_back(uint8_t(dc << 4 | ac));
    }
    out.insert(out.end(), {0, 63, 0});
    // Strips end on restart boundaries; the markers between them are put
    // in where a writer left them out.
    for (size_t s = 0; s < parts.Scans.size(); ++s) {
        const auto& [data, size] = parts.Scans[s];
        out.insert(out.end(), data, data + size);
        const bool marked = size >= 2 && data[size - 2] == 0xFF && (data[size - 1] & 0xF8) == 0xD0;
        if (parts.RestartInterval && s + 1 < parts.Scans.size() && !marked) PutMarker(out, uint8_t(0xD0 + s % 8));
    }
    PutMarker(out, 0xD9);
    return out;
}
