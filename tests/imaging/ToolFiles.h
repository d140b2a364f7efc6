// Cross-checks against the command-line tools Debian ships (ImageMagick,
// netpbm): a scratch folder, running a tool, and reading back the pixels a
// tool writes as an 8-bit binary grey or pixel map.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "Graphics.h"
#include "formats/PPMFiles.h"
#include "ReaderTests.h"

namespace imagefiles {

inline bool ToolPresent(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// The tools a cross-check runs, all installed by `scripts/deps tools`: a
// missing one fails the test rather than skipping it.
inline ::testing::AssertionResult ToolsPresent(std::initializer_list<const char*> tools) {
    for (const char* tool : tools)
        if (!ToolPresent(tool))
            return ::testing::AssertionFailure() << tool << " is missing (scripts/deps tools installs it)";
    return ::testing::AssertionSuccess();
}

// A scratch folder removed with everything in it at the end of the test.
class ScratchFolder {
public:
    ScratchFolder() {
        char pattern[] = "/tmp/imagingXXXXXX";
        path_ = mkdtemp(pattern) ? pattern : "";
    }
    ~ScratchFolder() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs a shell command line; true when it exits with 0.
inline bool RunTool(const std::string& command) { return std::system(("(" + command + ") 2>/dev/null").c_str()) == 0; }

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// An image as red, green, blue bytes per pixel, rows from the top.
struct RGBImage {
    int Width = 0, Height = 0;
    std::vector<uint8_t> Pixels;
};

// Reads what `pamdepth 255 | pamtopnm` writes: P5 or P6 with maximum 255 and
// a plain header without comments.
inline RGBImage ReadReferenceMap(const std::vector<uint8_t>& file) {
    RGBImage image;
    std::string head(file.begin(), file.begin() + std::min<size_t>(file.size(), 64));
    std::istringstream text(head);
    std::string magic;
    int maximum = 0;
    text >> magic >> image.Width >> image.Height >> maximum;
    const size_t start = static_cast<size_t>(text.tellg()) + 1;
    const bool color = magic == "P6";
    const size_t count = size_t(image.Width) * image.Height;
    if ((magic != "P5" && !color) || maximum != 255 || file.size() < start + count * (color ? 3 : 1)) return {};
    for (size_t i = 0; i < count; ++i)
        for (int c = 0; c < 3; ++c) image.Pixels.push_back(file[start + (color ? 3 * i + c : i)]);
    return image;
}

// Whether the bitmap shows the reference's pixels, each component within
// tolerance.
inline ::testing::AssertionResult ShowsReference(const TBitmap& bitmap, const RGBImage& reference, int tolerance = 0) {
    if (reference.Pixels.empty()) return ::testing::AssertionFailure() << "the tool wrote no readable map";
    return ShowsPixels(
        bitmap, reference.Width, reference.Height,
        [&](int x, int y) {
            const uint8_t* rgb = &reference.Pixels[3 * (size_t(y) * reference.Width + x)];
            return RGB(rgb[0], rgb[1], rgb[2]);
        },
        tolerance);
}

// A picture for the tools to write: flat stretches (for run-length packing)
// between noisy ones.
inline PortableMap ToolPicture(uint32_t width, uint32_t height) {
    PortableMap picture;
    picture.Width = width;
    picture.Height = height;
    const uint32_t rowSamples = 3 * width;
    for (uint32_t i = 0; i < rowSamples * height; ++i)
        picture.Samples.push_back(i % rowSamples < rowSamples / 3 ? (i / rowSamples) * 30 % 256
                                                                  : (i * 97 + i / 7) % 256);
    return picture;
}

}  // namespace imagefiles
