// What the reader tests share: loading and probing a file held in memory,
// tables of files a reader must refuse, and comparing what a reader shows.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "GraphicFormats.h"
#include "ImageFiles.h"

namespace imagefiles {

template <class Reader>
void Load(Reader& reader, const Bytes& file) {
    TMemoryStream stream(file.data(), file.size());
    reader.LoadFromStream(stream);
}

// The message of the error a reader raised for the file; empty when it loaded.
template <class Reader>
std::string LoadError(const Bytes& file) {
    Reader reader;
    try {
        Load(reader, file);
    } catch (const Exception& error) {
        return error.what();
    }
    return "";
}

// The reader's probe of the file, which stands after two other bytes in the
// stream; the probe must leave the position where it found it.
template <class Reader>
bool Probe(const Bytes& file) {
    Bytes placed = {'x', 'x'};
    placed.insert(placed.end(), file.begin(), file.end());
    TMemoryStream stream(placed.data(), placed.size());
    stream.SetPosition(2);
    const bool answer = Reader::ProbeStream(stream);
    EXPECT_EQ(stream.Position(), 2) << "the probe moved the stream";
    return answer;
}

// A file a reader must refuse, and the message it must raise.
struct Refusal {
    std::string Name;
    Bytes File;
    std::string Message;
};

template <class Reader>
void ExpectRefusals(const std::vector<Refusal>& refusals) {
    for (const Refusal& refusal : refusals) EXPECT_EQ(LoadError<Reader>(refusal.File), refusal.Message) << refusal.Name;
}

// The file with bytes written over it at the offset.
inline Bytes Patched(Bytes file, size_t at, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    return file;
}

inline Bytes Cut(const Bytes& file, size_t size) { return Bytes(file.begin(), file.begin() + std::ptrdiff_t(size)); }

// Whether every scan line starts with its expected row.
inline ::testing::AssertionResult ShowsRows(const TBitmap& bitmap, const std::vector<Bytes>& rows) {
    if (bitmap.Height() != int(rows.size())) return ::testing::AssertionFailure() << "height " << bitmap.Height();
    for (size_t y = 0; y < rows.size(); ++y)
        if (Bytes(bitmap.ScanLine(int(y)), bitmap.ScanLine(int(y)) + rows[y].size()) != rows[y])
            return ::testing::AssertionFailure() << "row " << y << " differs";
    return ::testing::AssertionSuccess();
}

// Whether the bitmap of width x height shows color(x, y) at every pixel,
// each component within the tolerance.
inline ::testing::AssertionResult ShowsPixels(const TBitmap& bitmap, int width, int height,
                                              const std::function<TColor(int x, int y)>& color, int tolerance = 0) {
    if (bitmap.Width() != width || bitmap.Height() != height)
        return ::testing::AssertionFailure() << "size " << bitmap.Width() << " x " << bitmap.Height();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TColor shown = bitmap.Pixel(x, y), expected = color(x, y);
            for (int shift : {0, 8, 16})
                if (std::abs(int(shown >> shift & 0xFF) - int(expected >> shift & 0xFF)) > tolerance)
                    return ::testing::AssertionFailure() << "pixel " << x << "," << y << " is " << std::hex << shown
                                                         << ", not " << expected;
        }
    return ::testing::AssertionSuccess();
}

}  // namespace imagefiles
