// The image reading core: the file-format registry, the reader base class
// with its image-properties record, the helpers every reader shares, and the
// reader classes.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Classes.h"
#include "color/GraphicColor.h"
#include "compression/GraphicCompression.h"
#include "GraphicStrings.h"
#include "Graphics.h"
#include "SysUtils.h"

using TCardinalArray = std::vector<uint32_t>;
using TByteArray = std::vector<uint8_t>;
using TFloatArray = std::vector<float>;

// ---------------------------------------------------------------------------
// Image properties

enum TImageFlags : uint8_t {
    ifTiled = 1,
    ifBigEndian = 2,
    ifMinIsWhite = 4,
    ifReversedBits = 8,
    ifGammaCorrected = 16,
};

enum TCompressionKind : uint8_t {
    ckUnknown, ckNone, ckRLE, ckPackBits, ckLZW, ckFax3, ckFaxRLE, ckFax4, ckFaxRLEW, ckLZ77, ckJPEG,
    ckOldJPEG, ckThunderscan, ckNeXT, ckIT8CTPAD, ckIT8LW, ckIT8MP, ckIT8BL, ckPixarFilm, ckPixarLog,
    ckDCS, ckJBIG, ckPCDHuffman, ckLZMA, ckZSTD, ckWebP,
};

// What a reader learns from a file header before it decodes.
struct TImageProperties {
    uint32_t FormatVersion = 0;
    uint8_t Flags = 0;  // TImageFlags bits
    uint32_t Width = 0;
    uint32_t Height = 0;
    TColorScheme ColorScheme = csUnknown;
    uint8_t BitsPerSample = 0;
    uint8_t SamplesPerPixel = 0;
    uint8_t BitsPerPixel = 0;
    TCompressionKind Compression = ckUnknown;
    float Gamma = 0.0f;
    float XResolution = 0.0f;
    float YResolution = 0.0f;
    bool Interlaced = false;
    bool HasAlpha = false;
    uint32_t FirstIFD = 0;
    uint32_t PlanarConfig = 0;
    uint32_t CurrentRow = 0;
    uint32_t TileWidth = 0;
    uint32_t TileLength = 0;
    uint32_t BytesPerLine = 0;
    TCardinalArray RowsPerStrip;
    TByteArray YCbCrSubSampling;
    TByteArray JPEGTables;
    uint32_t JPEGColorMode = 0;
    uint32_t JPEGTablesMode = 0;
    uint32_t CurrentStrip = 0;
    uint32_t StripCount = 0;
    uint32_t Predictor = 0;
    uint8_t PCDOverview = 0;
    uint8_t PCDRotation = 0;
    uint16_t PCDReserved = 0;
    uint8_t RLABottomUp = 0;
    uint8_t ChannelCount = 0;
    uint8_t PNGFilterMethod = 0;
};

// ---------------------------------------------------------------------------
// Helpers

[[noreturn]] void RaiseGraphicError(const std::string& message);

template <class... Args>
[[noreturn]] void RaiseGraphicErrorFmt(const std::string& message, const Args&... args) {
    RaiseGraphicError(Format(message, args...));
}

// Byte order reversal in place; count >= 1.
void SwapWords(void* p, uint32_t count);
void SwapLongs(void* p, uint32_t count);
uint32_t SwapLong(uint32_t value);

// Undoes horizontal differencing in place: each byte gets the byte one pixel
// (Samples bytes) to its left added, left to right, over count pixels.
template <int Samples>
void AddHorizontalDeltas(uint8_t* row, uint32_t count) {
    static_assert(Samples == 1 || Samples == 3 || Samples == 4);
    if (count == 0) return;
    // The running pixel lives in variables of its own, so that each step adds
    // to registers instead of reading back what the step before stored.
    uint8_t s0 = row[0], s1 = 0, s2 = 0, s3 = 0;
    if constexpr (Samples >= 3) s1 = row[1], s2 = row[2];
    if constexpr (Samples == 4) s3 = row[3];
    for (uint32_t i = 1; i < count; ++i) {
        uint8_t* pixel = row + size_t(i) * Samples;
        pixel[0] = s0 = static_cast<uint8_t>(s0 + pixel[0]);
        if constexpr (Samples >= 3) {
            pixel[1] = s1 = static_cast<uint8_t>(s1 + pixel[1]);
            pixel[2] = s2 = static_cast<uint8_t>(s2 + pixel[2]);
        }
        if constexpr (Samples == 4) pixel[3] = s3 = static_cast<uint8_t>(s3 + pixel[3]);
    }
}

// Doubles a width x height plane of bytes in place to 2 width x 2 height at
// the same row stride (width, height >= 2; stride >= 2 width).
void UpsampleDouble(uint32_t width, uint32_t height, uint32_t rowStride, uint8_t* buffer);

// Widens the gray and alpha byte pairs at the start of row to four bytes a
// pixel (the gray three times, then the alpha), last pixel first so that
// nothing is overwritten unread.
void ExpandGrayAlpha(uint8_t* row, uint32_t width);

// Images larger than this many pixels are refused before anything is
// allocated for them.
constexpr uint64_t MaxImagePixels = uint64_t(1) << 28;

// ---------------------------------------------------------------------------
// The reader base

class TFormatGraphic : public TBitmap {
    DECLARE_GRAPHIC_CLASS(TFormatGraphic)
public:
    TFormatGraphic();
    ~TFormatGraphic() override;
    TFormatGraphic(const TFormatGraphic&) = delete;
    TFormatGraphic& operator=(const TFormatGraphic&) = delete;

    // Copies the image properties when source is a reader, then the bitmap.
    void Assign(const TBitmap& source) override;

    // Opens the file (others may read but not write) and asks the class
    // whether it holds an image of its format.
    static bool ProbeFile(TGraphicClass graphicClass, const std::string& fileName);
    static bool ProbeStream(TStream& stream);

    // Clears Properties (Gamma 1.0) and answers false; readers fill the
    // record from the header of image imageIndex and answer true when they
    // understood it.
    virtual bool ReadProperties(TStream& stream, int imageIndex);

    std::unique_ptr<TColorManager> ColorConverter;
    TImageProperties Properties;
    uint32_t StartPosition = 0;
    TStream* SourceStream = nullptr;

protected:
    // Refuses sizes that are zero, negative as int or above MaxImagePixels.
    static void CheckImageSize(uint64_t width, uint64_t height, const char* formatName);
};

// ---------------------------------------------------------------------------
// Truevision Targa

class TTargaGraphic : public TFormatGraphic {
    DECLARE_GRAPHIC_CLASS(TTargaGraphic)
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    // Writes the bitmap run-length encoded.
    void SaveToStream(TStream& stream) const override;
    // Writes the bitmap as a top-down Targa file; 1- and 4-bit bitmaps are
    // first widened to 8 bits. An empty bitmap writes nothing.
    void SaveTarga(TStream& stream, bool compressed);
};

// ---------------------------------------------------------------------------
// Portable Network Graphics

class TPNGGraphic : public TFormatGraphic {
    DECLARE_GRAPHIC_CLASS(TPNGGraphic)
public:
    TPNGGraphic();
    ~TPNGGraphic() override;

    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    // Images whose filtered data is larger than this are inflated row by
    // row, so that they are not held twice, once filtered and once in the
    // bitmap; smaller ones are inflated in one call, which is much faster.
    size_t WholeInflateLimit = size_t(256) << 20;

private:
    void ReadChunkHeader();
    void ReadChunkData();
    // Reads the chunk's stored CRC and compares it with that of its type and
    // the data given.
    bool ChunkCRCMatches(const uint8_t* data);
    bool IsChunk(const char* type) const;
    void SkipChunk();
    bool NextChunk();
    void SetupColorDepth();
    void ReleaseBuffers();
    void ReadBackground();
    void ReadTransparency();

    void ReadImageData();
    // Bytes of a filtered row of the given pixels, filter byte included.
    uint32_t FilteredRowSize(uint64_t pixels) const;
    uint64_t FilteredImageSize() const;
    // Reads the run of IDAT chunks that starts at the current chunk into
    // CompressedData; filteredSize sizes the room reserved for it. It reads
    // on past a CRC error, to learn how much data the file holds, but uses
    // only the chunks before the first error, which DataError keeps for the
    // moment decoding needs its chunk.
    void CollectImageData(uint64_t filteredSize);
    // The fast path: inflates all image data in one call. Answers an empty
    // block when the data must be decoded row by row to give the same rows
    // and errors as a row-by-row reader.
    TByteBlock InflateImage(size_t filteredSize);
    void DecodeInflated(TByteBlock& image);
    void DecodeStreaming();
    // The colour as the bitmap shows a pixel of that colour: gamma-corrected
    // as the pixels are when the file gives a gamma.
    TColor DisplayedColor(TColor color) const;
    // Sizes the bitmap for the image, with its palette, background and
    // transparency; complete tells that all of the image data is at hand.
    void CreateImage(bool complete);
    // Hands every filtered row, in file order, to the filter and the colour
    // manager: nextRow(size) gives the next row, passStart(size) the zero
    // row that the first row of each pass is filtered against.
    template <class NextRow, class PassStart>
    void DecodeRows(NextRow&& nextRow, PassStart&& passStart);
    void ReadRow(uint8_t* buffer, uint32_t count);
    void ApplyFilter(uint8_t* row, const uint8_t* prior, uint32_t count) const;
    void ConvertRow(const uint8_t* source, int y, uint8_t mask);

    std::unique_ptr<TLZ77Decoder> Inflater;
    uint32_t ChunkLength = 0;
    uint8_t ChunkType[4] = {};
    uint32_t ChunkCRC = 0;
    // Grows without clearing: every use overwrites what it reads.
    std::unique_ptr<uint8_t[]> ChunkData;
    uint32_t chunkCapacity_ = 0;
    uint8_t* InflateCursor = nullptr;
    uint32_t PixelStride = 0;
    std::optional<TLogPalette> ChunkPalette;
    TColor FillColor = clWhite;
    TColor KeyColor = clNone;

    // The image data of every IDAT chunk, and where each usable chunk ends.
    TByteBlock CompressedData;
    std::vector<size_t> ImageChunkEnds;
    std::exception_ptr DataError;
    // The file ends right after the image data's last whole chunk.
    bool fileEndsAfterData_ = false;
    size_t nextChunk_ = 0;

    // IHDR facts the decoding steps need.
    uint8_t colorType_ = 0;
    uint8_t bitDepth_ = 0;
    bool depthSetUp_ = false;
    bool imageRead_ = false;
};

// ---------------------------------------------------------------------------
// SGI images

class TSGIGraphic : public TFormatGraphic {
    DECLARE_GRAPHIC_CLASS(TSGIGraphic)
public:
    TSGIGraphic();
    ~TSGIGraphic() override;

    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

    // Header facts beyond the image properties, from the last ReadProperties.
    uint16_t Dimension() const { return dimension_; }
    const std::string& ImageName() const { return imageName_; }

private:
    void ReadRowTables();
    void CheckDataSize() const;
    void SetupColorConversion();
    void ReadRows();
    // Reads row i (counted from the bottom) of channel c into channels[c]
    // for every channel whose buffer is given.
    void ReadRow(uint32_t row, uint8_t* const (&channels)[4]);
    void ReadChannelRow(uint32_t row, uint32_t channel, uint8_t* target);
    // The bytes read for the packed row of a table entry.
    size_t PackedRowSize(uint32_t entry) const;

    TCardinalArray RowStart;
    TCardinalArray RowSize;
    std::unique_ptr<TSGIRLEDecoder> Decoder;
    std::vector<uint8_t> packedRow_;
    int64_t streamSize_ = 0;
    uint16_t dimension_ = 0;
    std::string imageName_;
};

// ---------------------------------------------------------------------------
// ZSoft Paintbrush (PCX) and Word screen captures

class TPCXGraphic : public TFormatGraphic {
    DECLARE_GRAPHIC_CLASS(TPCXGraphic)
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

    // Header facts beyond the image properties, from the last ReadProperties.
    bool IsScreenCapture() const { return screenCapture_; }
    uint8_t Version() const { return version_; }
    uint16_t BytesPerLine() const { return bytesPerLine_; }
    uint16_t PaletteType() const { return paletteType_; }

private:
    TPixelFormat SetupColorConversion();
    void SetupPalette(const uint8_t* headerPalette, const uint8_t* trailer);
    std::vector<uint8_t> ReadPixelData(int64_t dataSize, uint32_t lineSize);
    void CombineBitPlanes(const uint8_t* row, uint8_t* target) const;

    bool screenCapture_ = false;
    uint8_t version_ = 0;
    uint16_t bytesPerLine_ = 0;
    uint16_t paletteType_ = 0;
};

// ---------------------------------------------------------------------------
// Portable bitmaps, grey maps and pixel maps (text and binary)

class TPPMGraphic : public TFormatGraphic {
    DECLARE_GRAPHIC_CLASS(TPPMGraphic)
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

    // Header facts beyond the image properties, from the last ReadProperties:
    // the type digit (P1 to P7) and the maximum sample value (1 for bitmaps).
    uint8_t MapType() const { return mapType_; }
    uint32_t MaximumValue() const { return maximumValue_; }

private:
    // The buffered character reader over SourceStream. Running out of data
    // raises "Stream read error in PPM file.".
    bool Refill();
    uint8_t GetCharacter();
    // The next digit, skipping everything else and "#" comments to the end
    // of their line.
    uint8_t NextDigit();
    // A decimal number; consumes the character that ends it.
    uint32_t GetNumber();
    std::string GetLine();
    bool ReadArbitraryMapHeader();
    uint64_t BytesLeft() const;
    void CheckDataSize() const;

    // Binary pixel data, read past the buffer.
    void ReleaseBuffer();
    void ReadBytes(uint8_t* target, size_t count);
    const uint8_t* StoredBytes(size_t count, TByteBlock& buffer);
    bool ReadRowsAtOnce(size_t rowBytes);
    bool ConvertRowsAtOnce(size_t rowBytes);

    void ReadBits();
    void ReadSamples();

    // Bytes read ahead for the header and the text forms; only those from
    // BufferIndex to BufferEnd hold data, so the rest is left uninitialised.
    uint8_t Buffer[4096];
    uint32_t BufferIndex = 0;  // next byte to read
    uint32_t BufferEnd = 0;    // bytes of Buffer that hold data
    static constexpr uint32_t FirstRefillBytes = 256;
    uint32_t refillBytes_ = FirstRefillBytes;
    uint8_t mapType_ = 0;
    uint32_t maximumValue_ = 0;
};

// ---------------------------------------------------------------------------
// Tagged Image File Format

// One directory entry. Values of up to four bytes lie in Offset itself, each
// in its place and already in the machine's byte order; longer value lists
// lie at Offset (from the start of the TIFF data) in the file's byte order.
struct TTagEntry {
    uint16_t Tag;
    uint16_t DataType;
    uint32_t DataCount;
    uint32_t Offset;
};
static_assert(sizeof(TTagEntry) == 12);

class TTIFFGraphic : public TFormatGraphic {
    DECLARE_GRAPHIC_CLASS(TTIFFGraphic)
public:
    static bool ProbeStream(TStream& stream);
    // Reads directory imageIndex of the TIFF data at StartPosition.
    bool ReadProperties(TStream& stream, int imageIndex) override;
    // Loads the image of the first directory: strips or tiles, contiguous or
    // separate planes, with every supported compression.
    void LoadFromStream(TStream& stream) override;
    // TIFF is not written.
    void SaveToStream(TStream&) const override {}

private:
    class TLoader;

    bool ReadDirectory(uint64_t offset);
    const TTagEntry* FindTag(uint16_t tag) const;
    uint32_t Value(uint16_t tag, uint32_t defaultValue) const;
    float FloatValue(uint16_t tag, float defaultValue);
    TCardinalArray ValueList(uint16_t tag);
    TByteArray ByteArray(uint16_t tag);
    TFloatArray FloatList(uint16_t tag);
    // The tag's entry and the raw bytes of its values (swap: they are in the
    // other byte order); null when the tag is absent, its type unknown or its
    // values do not lie inside the stream.
    const TTagEntry* ValueBytes(uint16_t tag, TByteArray& bytes, bool& swap);
    bool ReadAt(uint64_t offset, void* buffer, uint64_t count);

    void ConfigureColorManager();
    // The first sample's SampleFormat: 1 unsigned, 2 signed, 3 floating point.
    uint32_t SampleFormat();
    void LoadPalette();

    std::vector<TTagEntry> Entries;
    // Red, green and blue planes of up to 256 16-bit values in file order.
    uint16_t ColorMap[3 * 256] = {};
    uint32_t ColorMapCount = 0;
    uint32_t YCbCrPositioning = 1;
    TFloatArray YCbCrCoefficients;
};

// ---------------------------------------------------------------------------
// Encapsulated PostScript: the TIFF preview of binary EPS files

class TEPSGraphic : public TTIFFGraphic {
    DECLARE_GRAPHIC_CLASS(TEPSGraphic)
public:
    static bool ProbeStream(TStream& stream);
    void LoadFromStream(TStream& stream) override;
};

// ---------------------------------------------------------------------------
// Alias/Wavefront RLA

class TRLAGraphic : public TFormatGraphic {
    DECLARE_GRAPHIC_CLASS(TRLAGraphic)
public:
    static bool ProbeStream(TStream& stream);
    // Answers false for files whose channels are in the "xyz" space.
    bool ReadProperties(TStream& stream, int imageIndex) override;
    // Loads the red, green and blue channels and a matte channel as alpha,
    // applying the file's gamma; an "xyz" file leaves the picture empty.
    void LoadFromStream(TStream& stream) override;
};

// ---------------------------------------------------------------------------
// Autodesk Animator cel and picture files

class TAutodeskGraphic : public TFormatGraphic {
    DECLARE_GRAPHIC_CLASS(TAutodeskGraphic)
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
};

// ---------------------------------------------------------------------------
// Kodak Photo-CD

class TPCDGraphic : public TFormatGraphic {
    DECLARE_GRAPHIC_CLASS(TPCDGraphic)
public:
    static bool ProbeStream(TStream& stream);
    // imageIndex chooses the resolution whose size is reported: 0 is
    // 192 x 128, each further one doubles the sides, up to 5.
    bool ReadProperties(TStream& stream, int imageIndex) override;
    // Loads the base resolution (768 x 512) of an image pack, turned as the
    // file says, or the first thumbnail (192 x 128) of an overview pack; a
    // stream that is no Photo-CD file leaves the picture empty.
    void LoadFromStream(TStream& stream) override;
};

// ---------------------------------------------------------------------------
// Dr. Halo CUT

class TCUTGraphic : public TFormatGraphic {
    DECLARE_GRAPHIC_CLASS(TCUTGraphic)
public:
    // CUT files have no signature: the answer is always false.
    static bool ProbeStream(TStream& stream);
    // Remembers the palette file beside the image (its name with ".pal")
    // before loading the file.
    void LoadFromOpenFile(TStream& stream, const std::string& fileName) override;
    bool ReadProperties(TStream& stream, int imageIndex) override;
    // Loads the image with the palette of PaletteFile, or a grey ramp where
    // there is none.
    void LoadFromStream(TStream& stream) override;

    std::string PaletteFile;

private:
    TLogPalette LoadPalette() const;
};

// ---------------------------------------------------------------------------
// Adobe Photoshop

// Reads the merged image of a document; layers, masks and resources are
// stepped over.
class TPSDGraphic : public TFormatGraphic {
    DECLARE_GRAPHIC_CLASS(TPSDGraphic)
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

private:
    void SetupColorManager();
    void ReadColorModeData(TStream& stream);
    void ReadRawImage(TStream& stream, uint32_t planes, uint32_t rowSize);
    void ReadPackedImage(TStream& stream, uint32_t channels, uint32_t planes, uint32_t rowSize);
    // Converts row y of the used planes (rowSize bytes each, changed in
    // place for CMYK) into scan line y.
    void ConvertPlaneRows(uint8_t* const* rows, uint32_t planes, uint32_t rowSize, uint32_t y);
};

// ---------------------------------------------------------------------------
// Paintshop Pro

// Reads the first raster layer of a block-structured file (major version 3
// and later).
class TPSPGraphic : public TFormatGraphic {
    DECLARE_GRAPHIC_CLASS(TPSPGraphic)
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

private:
    // One decoded channel: Height rows of Stride bytes.
    struct TChannel {
        std::vector<uint8_t> Data;
        uint32_t Stride = 0;
    };

    void SetupColorManager(bool alpha);
    void ReadPalette(TStream& stream);
    bool ReadLayerBank(TStream& stream, int64_t bankEnd);
    bool IsRasterLayer(TStream& stream);
    void ReadLayerRectangle(const uint8_t* info);
    void ReadLayerChannels(TStream& stream);
    void ReadChannel(TStream& stream, TChannel& channel, uint32_t packedSize, uint32_t unpackedSize);
    void ConvertChannels(std::vector<TChannel>& channels);
    void PlaceLayerRow(const uint8_t* row, uint8_t* line) const;

    // The rectangle of the loaded layer on the canvas, and its row size.
    int32_t layerLeft_ = 0, layerTop_ = 0;
    uint32_t layerWidth_ = 0, layerHeight_ = 0;
    uint32_t rowSize_ = 0;
};

// ---------------------------------------------------------------------------
// The registry

enum TFormatKind : uint8_t {
    fkLayered = 2,
    fkMultiImage = 4,
    fkRaster = 8,
    fkVector = 16,
};

class TFileFormatList {
public:
    struct ClassEntry {
        TGraphicClass GraphicClass;
        std::string Description;
        int32_t Count = 0;
    };
    struct ExtensionEntry {
        std::string Extension;
        std::string Description;
        uint8_t FormatKinds = 0;
        ClassEntry* Class = nullptr;
    };

    TFileFormatList() = default;
    ~TFileFormatList();
    TFileFormatList(const TFileFormatList&) = delete;
    TFileFormatList& operator=(const TFileFormatList&) = delete;

    // Unregisters every listed class from the picture registry and empties
    // both lists.
    void Clear();
    int FindExtension(const std::string& extension) const;
    int FindGraphicClass(TGraphicClass graphicClass) const;
    void RegisterFileFormat(const std::string& extension, const std::string& common, const std::string& individual,
                            uint8_t formatKinds, bool replace, TGraphicClass graphicClass);
    // An empty extension removes every extension of the class and the class.
    void UnregisterFileFormat(const std::string& extension, TGraphicClass graphicClass);

    const std::vector<std::unique_ptr<ClassEntry>>& Classes() const { return classes_; }
    const std::vector<std::unique_ptr<ExtensionEntry>>& Extensions() const { return extensions_; }

private:
    void Attach(ExtensionEntry& entry, const std::string& common, TGraphicClass graphicClass);
    void RemoveClassEntry(const ClassEntry* entry);

    std::vector<std::unique_ptr<ClassEntry>> classes_;
    std::vector<std::unique_ptr<ExtensionEntry>> extensions_;
};

// The registry of the running program; exists between the unit's start and
// end steps.
extern TFileFormatList* FileFormatList;

void GraphicFormatsInitialization();
void GraphicFormatsFinalization();
