// Kodak Photo-CD image packs and overview packs: the uncompressed base
// resolution (768 x 512) or the first thumbnail (192 x 128), a full luma
// plane and two chroma planes of half size, PhotoYCC.
#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "GraphicFormats.h"

namespace {

constexpr int64_t SectorSize = 2048;
// Everything ReadProperties looks at lies in the first three sectors.
constexpr int64_t HeaderSize = 3 * SectorSize;
constexpr int64_t ProbeSize = 2051;
constexpr uint32_t RotationOffset = 3586;
constexpr uint32_t OverviewCountOffset = 10;
constexpr int64_t ImagePackDataSector = 96;
constexpr int64_t OverviewDataSector = 5;

constexpr uint32_t BaseWidth = 768;
constexpr uint32_t BaseHeight = 512;
// The overview pack's thumbnails, the first of which it shows.
constexpr uint32_t ThumbnailWidth = 192;
constexpr uint32_t ThumbnailHeight = 128;

bool IsOverview(const uint8_t* header) { return std::memcmp(header, "PCD_OPA", 7) == 0; }
bool IsImagePack(const uint8_t* header) { return std::memcmp(header + SectorSize, "PCD", 3) == 0; }

// An image as three full-size planes. The file stores it in groups of two
// luma rows followed by one row of each chroma plane at half size.
struct TYCCPlanes {
    uint32_t Width, Height;
    std::unique_ptr<uint8_t[]> Luma, Chroma1, Chroma2;

    TYCCPlanes(uint32_t width, uint32_t height)
        : Width(width), Height(height), Luma(Plane()), Chroma1(Plane()), Chroma2(Plane()) {}

    static int64_t StoredSize(uint32_t width, uint32_t height) { return int64_t(width) * height * 3 / 2; }

    // Reads the row groups and doubles the chroma planes to full size.
    void Read(TStream& stream) {
        for (uint32_t pair = 0; pair < Height / 2; ++pair) {
            stream.ReadBuffer(Luma.get() + 2 * size_t(pair) * Width, 2 * Width);
            stream.ReadBuffer(Chroma1.get() + size_t(pair) * Width, Width / 2);
            stream.ReadBuffer(Chroma2.get() + size_t(pair) * Width, Width / 2);
        }
        UpsampleDouble(Width / 2, Height / 2, Width, Chroma1.get());
        UpsampleDouble(Width / 2, Height / 2, Width, Chroma2.get());
    }

    void ConvertRow(TColorManager& manager, uint32_t row, void* target) const {
        const size_t at = size_t(row) * Width;
        manager.ConvertRow({Luma.get() + at, Chroma1.get() + at, Chroma2.get() + at}, target, Width, 0xFF);
    }

private:
    std::unique_ptr<uint8_t[]> Plane() const { return std::make_unique_for_overwrite<uint8_t[]>(size_t(Width) * Height); }
};

}  // namespace

const TGraphicClassDesc TPCDGraphic::ClassDesc = {
    "TPCDGraphic", [] { return std::unique_ptr<TGraphic>(new TPCDGraphic); }, &TPCDGraphic::ProbeStream,
    TFormatGraphic::StaticClass()};

bool TPCDGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t header[ProbeSize];
    const bool answer = stream.Size() - start > HeaderSize && stream.Read(header, ProbeSize) == ProbeSize &&
                        (IsOverview(header) || IsImagePack(header));
    stream.SetPosition(start);
    return answer;
}

bool TPCDGraphic::ReadProperties(TStream& stream, int imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    uint8_t header[HeaderSize];
    stream.ReadBuffer(header, HeaderSize);
    TImageProperties& p = Properties;
    p.PCDOverview = IsOverview(header) ? 1 : 0;
    if (!p.PCDOverview && !IsImagePack(header)) return false;

    // The thumbnails of an overview pack are stored upright; the byte where
    // an image pack keeps its rotation means nothing there.
    p.PCDRotation = p.PCDOverview ? 0 : header[RotationOffset] & 3;
    p.PCDReserved = static_cast<uint16_t>(header[OverviewCountOffset] << 8 | header[OverviewCountOffset + 1]);
    // Resolutions from 192 x 128 up, each doubling the sides; 4Base and
    // 16Base and beyond are Huffman coded.
    const int resolution = p.PCDOverview ? 0 : std::clamp(imageIndex, 0, 5);
    p.Width = 192u << resolution;
    p.Height = 128u << resolution;
    if (p.PCDRotation == 1 || p.PCDRotation == 3) std::swap(p.Width, p.Height);
    p.ColorScheme = csPhotoYCC;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 3;
    p.BitsPerPixel = 24;
    p.Compression = resolution < 3 ? ckNone : ckPCDHuffman;
    return true;
}

void TPCDGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    StartPosition = static_cast<uint32_t>(stream.Position());
    if (!ReadProperties(stream, 2)) return;

    // An image pack shows its base image, an overview pack its first
    // thumbnail (the others follow it, each of the same size).
    const bool overview = Properties.PCDOverview != 0;
    const uint32_t width = overview ? ThumbnailWidth : BaseWidth, height = overview ? ThumbnailHeight : BaseHeight;
    Properties.Width = width;
    Properties.Height = height;
    const int64_t dataStart = int64_t(StartPosition) + SectorSize * (overview ? OverviewDataSector : ImagePackDataSector);
    if (stream.Size() - dataStart < TYCCPlanes::StoredSize(width, height)) RaiseGraphicErrorFmt(gsInvalidImage, gsPCD);
    stream.SetPosition(dataStart);

    TColorManager& manager = *ColorConverter;
    manager.SourceMode = TConversionOptions{};
    manager.TargetMode = TConversionOptions{};
    manager.SetSourceScheme(csPhotoYCC);
    manager.SetSourceBitsPerSample(8);
    manager.SetSourceSamplesPerPixel(3);
    manager.SetTargetScheme(csBGR);
    manager.SetTargetBitsPerSample(8);
    manager.SetTargetSamplesPerPixel(3);
    manager.SetYCbCrParameters({0.2125f, 0.7154f, 0.0721f}, 2, 2);
    SetPixelFormat(pf24bit);

    TYCCPlanes planes(width, height);
    planes.Read(stream);

    const uint8_t rotation = Properties.PCDRotation;
    if (rotation != 1 && rotation != 3) {
        SetSizeForOverwrite(int(width), int(height));
        for (uint32_t y = 0; y < height; ++y) planes.ConvertRow(manager, y, ScanLine(int(y)));
        return;
    }
    // A quarter turn: source row h becomes a column, read from the bottom up
    // (rotation 1) or from the top down (rotation 3).
    SetSizeForOverwrite(int(height), int(width));
    const auto row = std::make_unique_for_overwrite<uint8_t[]>(3 * size_t(width));
    for (uint32_t h = 0; h < height; ++h) {
        planes.ConvertRow(manager, h, row.get());
        const uint32_t column = rotation == 1 ? h : height - 1 - h;
        for (uint32_t i = 0; i < width; ++i) {
            const uint32_t line = rotation == 1 ? width - 1 - i : i;
            std::memcpy(ScanLine(int(line)) + 3 * column, row.get() + 3 * i, 3);
        }
    }
}
