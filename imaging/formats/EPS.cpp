// Encapsulated PostScript: the TIFF preview of binary EPS files, loaded by
// the TIFF reader. The PostScript itself is not interpreted.
#include <bit>
#include <cstring>

#include "GraphicFormats.h"

namespace {

#pragma pack(push, 1)
struct TEPSHeader {
    uint8_t Magic[4];
    uint32_t PostScriptOffset;
    uint32_t PostScriptLength;
    uint32_t MetafileOffset;
    uint32_t MetafileLength;
    uint32_t TIFFOffset;
    uint32_t TIFFLength;
    uint16_t Checksum;
};
#pragma pack(pop)
static_assert(sizeof(TEPSHeader) == 30);
static_assert(std::endian::native == std::endian::little, "EPS headers are read as they lie in memory");

constexpr uint8_t EPSMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};

// Reads the header at the stream's position; answers whether it is a binary
// EPS header whose TIFF preview lies inside the stream, behind the header.
bool ReadHeader(TStream& stream, TEPSHeader& header) {
    const int64_t size = stream.Size() - stream.Position();
    return size > int64_t(sizeof(header)) && stream.Read(&header, sizeof(header)) == sizeof(header) &&
           std::memcmp(header.Magic, EPSMagic, sizeof(EPSMagic)) == 0 && header.TIFFOffset >= sizeof(header) &&
           header.TIFFLength > 0 && uint64_t(header.TIFFOffset) + header.TIFFLength <= uint64_t(size);
}

}  // namespace

const TGraphicClassDesc TEPSGraphic::ClassDesc = {
    "TEPSGraphic", [] { return std::unique_ptr<TGraphic>(new TEPSGraphic); }, &TEPSGraphic::ProbeStream,
    TTIFFGraphic::StaticClass()};

bool TEPSGraphic::ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    TEPSHeader header;
    const bool answer = ReadHeader(stream, header);
    stream.SetPosition(start);
    return answer;
}

void TEPSGraphic::LoadFromStream(TStream& stream) {
    FreeImage();
    const int64_t start = stream.Position();
    TEPSHeader header;
    if (!ReadHeader(stream, header)) RaiseGraphicErrorFmt(gsInvalidImage, gsEPS);
    // The TIFF data's offsets count from the preview's start.
    stream.SetPosition(start + header.TIFFOffset);
    TTIFFGraphic::LoadFromStream(stream);
}
