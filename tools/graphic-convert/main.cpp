// graphic-convert FILE        prints the class that read FILE, its size and pixel format
// graphic-convert IN OUT      writes the picture read from IN as OUT (.pam, .bmp or .tga)
#include <cstdio>
#include <string>

#include "GraphicFormats.h"
#include "Graphics.h"
#include "Icon.h"
#include "Jpeg.h"
#include "SysUtils.h"
#include "System.h"

namespace {

const char* PixelFormatName(TPixelFormat format) {
    static const char* const names[] = {"pfDevice", "pf1bit",  "pf4bit",  "pf8bit",  "pf15bit",
                                        "pf16bit",  "pf24bit", "pf32bit", "pfCustom"};
    return format <= pfCustom ? names[format] : "unknown";
}

// The picture as a bitmap: bitmaps as they are, everything else drawn onto a
// 32-bit bitmap of its size whose pixels start fully transparent, so that
// what the graphic leaves out stays transparent.
TBitmap AsBitmap(const TGraphic& graphic) {
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&graphic)) return *bitmap;
    TBitmap canvas;
    canvas.SetPixelFormat(pf32bit);
    canvas.SetSize(graphic.Width(), graphic.Height());
    graphic.Draw(canvas.Canvas(), Rect(0, 0, graphic.Width(), graphic.Height()));
    return canvas;
}

// The pixels a graphic holds, where it holds a bitmap.
const TBitmap* ImageOf(const TGraphic& graphic) {
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&graphic)) return bitmap;
    if (const auto* icon = dynamic_cast<const TIcon*>(&graphic)) return &icon->Bitmap();
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(&graphic)) return &jpeg->Bitmap();
    return nullptr;
}

const char* ColorSchemeName(TColorScheme scheme) {
    static const char* const names[] = {"csUnknown", "csIndexed", "csGray",  "csGrayAlpha", "csRGB",
                                        "csRGBA",    "csBGR",     "csBGRA",  "csCMY",       "csCMYK",
                                        "csCIELab",  "csYCbCr",   "csPhotoYCC"};
    return scheme <= csPhotoYCC ? names[scheme] : "unknown";
}

const char* CompressionName(TCompressionKind kind) {
    static const char* const names[] = {
        "ckUnknown", "ckNone",   "ckRLE",       "ckPackBits",   "ckLZW",    "ckFax3",     "ckFaxRLE",  "ckFax4",
        "ckFaxRLEW", "ckLZ77",   "ckJPEG",      "ckOldJPEG",    "ckThunderscan", "ckNeXT", "ckIT8CTPAD", "ckIT8LW",
        "ckIT8MP",   "ckIT8BL",  "ckPixarFilm", "ckPixarLog",   "ckDCS",    "ckJBIG",     "ckPCDHuffman"};
    return kind <= ckPCDHuffman ? names[kind] : "unknown";
}

// The header facts one of the image library's readers found.
void PrintImageProperties(const TImageProperties& p) {
    std::printf("format version: %u\n", p.FormatVersion);
    std::printf("flags: %u\n", p.Flags);
    std::printf("color scheme: %s\n", ColorSchemeName(p.ColorScheme));
    std::printf("bits per sample: %u\n", p.BitsPerSample);
    std::printf("samples per pixel: %u\n", p.SamplesPerPixel);
    std::printf("bits per pixel: %u\n", p.BitsPerPixel);
    std::printf("compression: %s\n", CompressionName(p.Compression));
    std::printf("gamma: %s\n", FloatToStr(p.Gamma).c_str());
    std::printf("resolution: %s x %s\n", FloatToStr(p.XResolution).c_str(), FloatToStr(p.YResolution).c_str());
    std::printf("interlaced: %s\n", p.Interlaced ? "yes" : "no");
    std::printf("alpha: %s\n", p.HasAlpha ? "yes" : "no");
}

// The compression as TIFF users know it.
const char* CompressionDisplayName(TCompressionKind kind) {
    static const char* const names[] = {
        "unknown", "none", "run-length", "PackBits", "LZW", "CCITT Group 3 fax", "CCITT modified Huffman",
        "CCITT Group 4 fax", "CCITT modified Huffman, word-aligned", "Deflate", "JPEG", "old-style JPEG",
        "ThunderScan", "NeXT", "IT8 CT with padding", "IT8 line art", "IT8 monochrome picture",
        "IT8 binary line art", "Pixar film", "Pixar log", "Kodak DCS", "JBIG", "Photo-CD Huffman"};
    return kind <= ckPCDHuffman ? names[kind] : "unknown";
}

// What a TIFF file stores beyond the common facts.
void PrintTIFFProperties(const TImageProperties& p) {
    std::printf("byte order: %s\n", (p.Flags & ifBigEndian) ? "big-endian (MM)" : "little-endian (II)");
    std::printf("tiff compression: %s\n", CompressionDisplayName(p.Compression));
    if (p.Flags & ifTiled)
        std::printf("tiles: %u of %u x %u\n", p.StripCount, p.TileWidth, p.TileLength);
    else
        std::printf("strips: %u of %u rows\n", p.StripCount, p.RowsPerStrip.empty() ? 0 : p.RowsPerStrip[0]);
    std::printf("planar configuration: %s\n", p.PlanarConfig == 2 ? "separate planes" : "contiguous");
    std::printf("predictor: %s\n", p.Predictor == 2 ? "horizontal differencing" : "none");
}

// The header facts that only one reader knows.
void PrintReaderFacts(const TGraphic& graphic) {
    if (const auto* sgi = dynamic_cast<const TSGIGraphic*>(&graphic)) {
        std::printf("SGI dimension: %u\n", sgi->Dimension());
        std::printf("SGI image name: %s\n", sgi->ImageName().c_str());
    } else if (const auto* pcx = dynamic_cast<const TPCXGraphic*>(&graphic)) {
        std::printf("PCX kind: %s\n", pcx->IsScreenCapture() ? "screen capture" : "ZSoft Paintbrush");
        std::printf("PCX version: %u\n", pcx->Version());
        std::printf("PCX bytes per line: %u\n", pcx->BytesPerLine());
        std::printf("PCX palette type: %u\n", pcx->PaletteType());
    } else if (const auto* map = dynamic_cast<const TPPMGraphic*>(&graphic)) {
        std::printf("portable map type: P%u\n", map->MapType());
        std::printf("maximum value: %u\n", map->MaximumValue());
    } else if (const auto* tiff = dynamic_cast<const TTIFFGraphic*>(&graphic)) {
        PrintTIFFProperties(tiff->Properties);
    } else if (const auto* psd = dynamic_cast<const TPSDGraphic*>(&graphic)) {
        // Documents keep channels beyond the ones shown (alpha, spot colours).
        std::printf("PSD channels in file: %u\n", psd->Properties.ChannelCount);
    } else if (const auto* pcd = dynamic_cast<const TPCDGraphic*>(&graphic)) {
        const TImageProperties& p = pcd->Properties;
        std::printf("Photo-CD file: %s\n", p.PCDOverview ? "overview pack" : "image pack");
        std::printf("Photo-CD rotation: %u\n", p.PCDRotation);
        std::printf("Photo-CD header value at 10: %u\n", p.PCDReserved);
    } else if (const auto* cut = dynamic_cast<const TCUTGraphic*>(&graphic)) {
        const bool found = !cut->PaletteFile.empty() && FileExists(cut->PaletteFile);
        std::printf("CUT palette: %s\n", found ? cut->PaletteFile.c_str() : "none, grey ramp");
        std::printf("CUT palette entries: %zu\n", cut->Palette().palPalEntry.size());
    } else if (const auto* rla = dynamic_cast<const TRLAGraphic*>(&graphic)) {
        std::printf("RLA rows: %s\n", rla->Properties.RLABottomUp ? "bottom up" : "top down");
    }
}

void PrintProperties(const TGraphic& graphic) {
    std::printf("class: %s\n", graphic.ClassType()->Name);
    std::printf("width: %d\n", graphic.Width());
    std::printf("height: %d\n", graphic.Height());
    if (const TBitmap* image = ImageOf(graphic)) std::printf("pixel format: %s\n", PixelFormatName(image->PixelFormat()));
    if (const auto* reader = dynamic_cast<const TFormatGraphic*>(&graphic)) PrintImageProperties(reader->Properties);
    PrintReaderFacts(graphic);
}

// Run-length encoded Targa, through the library's writer.
void WriteTarga(const TBitmap& bitmap, const std::string& fileName) {
    TTargaGraphic targa;
    targa.Assign(bitmap);
    targa.SaveToFile(fileName);
}

// Portable arbitrary map, RGB plus alpha, rows from the top. Only a 32-bit
// bitmap carries alpha; every other pixel is opaque.
void WritePam(const TBitmap& bitmap, const std::string& fileName) {
    std::string data = Format("P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                              bitmap.Width(), bitmap.Height());
    const bool alpha = bitmap.PixelFormat() == pf32bit;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const TColor color = bitmap.Pixel(x, y);
            data += static_cast<char>(GetRValue(color));
            data += static_cast<char>(GetGValue(color));
            data += static_cast<char>(GetBValue(color));
            data += static_cast<char>(alpha ? bitmap.ScanLine(y)[4 * x + 3] : 255);
        }
    TFileStream file(fileName, TFileStream::fmCreate);
    file.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
}

void Convert(const TGraphic& graphic, const std::string& output) {
    const std::string extension = LowerCase(ExtractFileExt(output));
    const TBitmap bitmap = AsBitmap(graphic);
    if (extension == ".pam")
        WritePam(bitmap, output);
    else if (extension == ".bmp")
        bitmap.SaveToFile(output);
    else if (extension == ".tga")
        WriteTarga(bitmap, output);
    else
        throw EInvalidGraphicOperation(Format("Cannot write \"%s\" files", extension));
}

// The usage, and every registered extension with the description the
// open-picture dialog shows for it.
void PrintHelp() {
    std::printf("usage: graphic-convert FILE      prints the properties of the picture in FILE\n"
                "       graphic-convert IN OUT    writes the picture read from IN as OUT (.pam, .bmp or .tga)\n"
                "\nPicture files it reads:\n");
    for (const auto& entry : FileFormatList->Extensions()) {
        const std::string& description = entry->Description.empty() ? entry->Class->Description : entry->Description;
        std::printf("  .%-6s %s\n", entry->Extension.c_str(), description.c_str());
    }
}

void StartUnits() {
    InitializeUnit("Graphics", InitializeFrameworkGraphics, nullptr);
    InitializeUnit("GraphicFormats", GraphicFormatsInitialization, GraphicFormatsFinalization);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: graphic-convert FILE | graphic-convert IN OUT\n");
        return 2;
    }
    StartUnits();
    const std::string first = argv[1];
    if (argc == 2 && (first == "--help" || first == "-h")) {
        PrintHelp();
        FinalizeUnits();
        return 0;
    }
    int status = 0;
    try {
        TPicture picture;
        picture.LoadFromFile(argv[1]);
        if (argc == 2)
            PrintProperties(*picture.Graphic());
        else
            Convert(*picture.Graphic(), argv[2]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        status = 1;
    }
    FinalizeUnits();
    return status;
}
