// Kodak Photo-CD image packs: the uncompressed base resolution (768 x 512),
// a full luma plane and two chroma planes of half size, PhotoYCC.
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
constexpr uint32_t ChromaWidth = BaseWidth / 2;
// Each pair of luma rows is followed by one row of each chroma plane.
constexpr int64_t BaseDataSize = int64_t(BaseWidth) * BaseHeight * 3 / 2;

bool IsOverview(const uint8_t* header) { return std::memcmp(header, "PCD_OPA", 7) == 0; }
bool IsImagePack(const uint8_t* header) { return std::memcmp(header + SectorSize, "PCD", 3) == 0; }

// The base image as three full-size planes.
struct TYCCPlanes {
    std::unique_ptr<uint8_t[]> Luma = std::make_unique_for_overwrite<uint8_t[]>(BaseWidth * BaseHeight);
    std::unique_ptr<uint8_t[]> Chroma1 = std::make_unique_for_overwrite<uint8_t[]>(BaseWidth * BaseHeight);
    std::unique_ptr<uint8_t[]> Chroma2 = std::make_unique_for_overwrite<uint8_t[]>(BaseWidth * BaseHeight);

    // Reads the 256 row groups and doubles the chroma planes to full size.
    void Read(TStream& stream) {
        for (uint32_t pair = 0; pair < BaseHeight / 2; ++pair) {
            stream.ReadBuffer(Luma.get() + 2 * pair * BaseWidth, 2 * BaseWidth);
            stream.ReadBuffer(Chroma1.get() + pair * BaseWidth, ChromaWidth);
            stream.ReadBuffer(Chroma2.get() + pair * BaseWidth, ChromaWidth);
        }
        UpsampleDouble(ChromaWidth, BaseHeight / 2, BaseWidth, Chroma1.get());
        UpsampleDouble(ChromaWidth, BaseHeight / 2, BaseWidth, Chroma2.get());
    }

    void ConvertRow(TColorManager& manager, uint32_t row, void* target) const {
        const size_t at = size_t(row) * BaseWidth;
        manager.ConvertRow({Luma.get() + at, Chroma1.get() + at, Chroma2.get() + at}, target, BaseWidth, 0xFF);
    }
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

    p.PCDRotation = header[RotationOffset] & 3;
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

    Properties.Width = BaseWidth;
    Properties.Height = BaseHeight;
    const int64_t dataStart = int64_t(StartPosition) + SectorSize * (Properties.PCDOverview ? OverviewDataSector
                                                                                            : ImagePackDataSector);
    if (stream.Size() - dataStart < BaseDataSize) RaiseGraphicErrorFmt(gsInvalidImage, gsPCD);
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

    TYCCPlanes planes;
    planes.Read(stream);

    const uint8_t rotation = Properties.PCDRotation;
    if (rotation != 1 && rotation != 3) {
        SetSizeForOverwrite(BaseWidth, BaseHeight);
        for (uint32_t y = 0; y < BaseHeight; ++y) planes.ConvertRow(manager, y, ScanLine(int(y)));
        return;
    }
    // A quarter turn: source row h becomes a column, read from the bottom up
    // (rotation 1) or from the top down (rotation 3).
    SetSizeForOverwrite(BaseHeight, BaseWidth);
    const auto row = std::make_unique_for_overwrite<uint8_t[]>(3 * BaseWidth);
    for (uint32_t h = 0; h < BaseHeight; ++h) {
        planes.ConvertRow(manager, h, row.get());
        const uint32_t column = rotation == 1 ? h : BaseHeight - 1 - h;
        for (uint32_t i = 0; i < BaseWidth; ++i) {
            const uint32_t line = rotation == 1 ? BaseWidth - 1 - i : i;
            std::memcpy(ScanLine(int(line)) + 3 * column, row.get() + 3 * i, 3);
        }
    }
}
