// graphic-convert FILE        prints the class that read FILE, its size and pixel format
// graphic-convert IN OUT      writes the picture read from IN as OUT (.png, .pam, .bmp or .tga)
// graphic-convert --to EXT [--out DIR] [--force] FILE...
//                             converts each FILE, writing it beside itself (or into DIR)
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "GraphicFormats.h"
#include "Graphics.h"
#include "Icon.h"
#include "Jpeg.h"
#include "PictureWriters.h"
#include "SysUtils.h"
#include "System.h"

namespace {

const char* PixelFormatName(TPixelFormat format) {
    static const char* const names[] = {"pfDevice", "pf1bit",  "pf4bit",  "pf8bit",  "pf15bit",
                                        "pf16bit",  "pf24bit", "pf32bit", "pfCustom"};
    return format <= pfCustom ? names[format] : "unknown";
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

// Says which class read a file whose extension names another one (a file
// whose content a different reader recognised); empty otherwise.
std::string ReaderNote(const std::string& fileName, const TGraphic& graphic) {
    std::string extension = LowerCase(ExtractFileExt(fileName));
    if (!extension.empty()) extension.erase(0, 1);
    const TGraphicClass registered = TPicture::FindGraphicClass(extension);
    if (!registered || registered == graphic.ClassType()) return {};
    return Format("read by %s, not %s", graphic.ClassType()->Name, registered->Name);
}

void PrintProperties(const std::string& fileName, const TGraphic& graphic) {
    std::printf("class: %s\n", graphic.ClassType()->Name);
    if (const std::string note = ReaderNote(fileName, graphic); !note.empty()) std::printf("note: %s\n", note.c_str());
    std::printf("width: %d\n", graphic.Width());
    std::printf("height: %d\n", graphic.Height());
    if (const TBitmap* image = ImageOf(graphic)) std::printf("pixel format: %s\n", PixelFormatName(image->PixelFormat()));
    if (const auto* reader = dynamic_cast<const TFormatGraphic*>(&graphic)) PrintImageProperties(reader->Properties);
    PrintReaderFacts(graphic);
}

// graphic-convert IN OUT: the output is written whatever was there.
void ConvertOne(const std::string& input, const std::string& output) {
    TPicture picture;
    picture.LoadFromFile(input);
    TMemoryStream bytes = EncodePicture(*picture.Graphic(), ExtractFileExt(output));
    SaveBytes(bytes, output, true);
    if (const std::string note = ReaderNote(input, *picture.Graphic()); !note.empty())
        std::printf("%s: %s\n", input.c_str(), note.c_str());
}

struct TBatch {
    std::string Extension;  // with its period
    std::string Folder;     // empty: beside each source
    bool Force = false;
    std::vector<std::string> Files;
};

// Reads --to EXT [--out DIR] [--force] FILE...; false when they do not
// make a batch.
bool ParseBatch(int argc, char** argv, TBatch& batch) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if ((argument == "--to" || argument == "--out") && i + 1 < argc && argv[i + 1][0] != '\0') {
            const std::string value = argv[++i];
            if (argument == "--to")
                batch.Extension = "." + LowerCase(value[0] == '.' ? value.substr(1) : value);
            else
                batch.Folder = value;
        } else if (argument == "--force") {
            batch.Force = true;
        } else if (argument == "--") {
            batch.Files.insert(batch.Files.end(), argv + i + 1, argv + argc);
            break;
        } else if (argument.rfind("--", 0) == 0) {
            return false;
        } else {
            batch.Files.push_back(argument);
        }
    }
    return !batch.Extension.empty() && !batch.Files.empty();
}

// One line a file: the output's name, or the file and why it failed. A file
// this call did not write is never overwritten without --force, and no two
// sources of one call write the same output.
int ConvertBatch(const TBatch& batch) {
    namespace fs = std::filesystem;
    std::set<fs::path> written;
    int failures = 0;
    for (const std::string& input : batch.Files) {
        fs::path output = fs::path(input).replace_extension(batch.Extension);
        if (!batch.Folder.empty()) output = fs::path(batch.Folder) / output.filename();
        try {
            if (written.count(fs::weakly_canonical(output)))
                throw EWriteError(Format("%s was written from another file in this call", output.string()));
            TPicture picture;
            picture.LoadFromFile(input);
            TMemoryStream bytes = EncodePicture(*picture.Graphic(), batch.Extension);
            SaveBytes(bytes, output.string(), batch.Force);
            written.insert(fs::weakly_canonical(output));
            const std::string note = ReaderNote(input, *picture.Graphic());
            std::printf("%s", output.c_str());
            if (!note.empty()) std::printf(" (%s)", note.c_str());
            std::printf("\n");
        } catch (const std::exception& error) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s: %s\n", input.c_str(), error.what());
            ++failures;
        }
        std::fflush(stdout);
    }
    return failures ? 1 : 0;
}

// The usage, and every registered extension with the description the
// open-picture dialog shows for it.
void PrintHelp() {
    std::printf(
        "usage: graphic-convert FILE      prints the properties of the picture in FILE\n"
        "       graphic-convert IN OUT    writes the picture read from IN as OUT (.png, .pam, .bmp or .tga)\n"
        "       graphic-convert --to EXT [--out DIR] [--force] FILE...\n"
        "                                 writes each FILE as EXT (png, pam, bmp or tga) beside it, or into DIR;\n"
        "                                 prints each output's name, or the file and its error; never\n"
        "                                 overwrites a file it did not write in this call unless --force is\n"
        "                                 given; exits 1 when any file failed\n"
        "       graphic-convert --help    shows this\n"
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
    const bool help = argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h");
    TBatch batch;
    const bool batchForm = argc > 1 && std::string(argv[1]).rfind("--", 0) == 0 && !help;
    if (batchForm ? !ParseBatch(argc, argv, batch) : (argc != 2 && argc != 3)) {
        std::fprintf(stderr,
                     "usage: graphic-convert FILE | graphic-convert IN OUT | "
                     "graphic-convert --to EXT [--out DIR] [--force] FILE... | graphic-convert --help\n");
        return 2;
    }
    if (batchForm && !CanWrite(batch.Extension)) {
        std::fprintf(stderr, "Cannot write \"%s\" files\n", batch.Extension.c_str());
        return 2;
    }
    StartUnits();
    int status = 0;
    if (help) {
        PrintHelp();
    } else if (batchForm) {
        status = ConvertBatch(batch);
    } else {
        try {
            if (argc == 2) {
                TPicture picture;
                picture.LoadFromFile(argv[1]);
                PrintProperties(argv[1], *picture.Graphic());
            } else {
                ConvertOne(argv[1], argv[2]);
            }
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            status = 1;
        }
    }
    FinalizeUnits();
    return status;
}
