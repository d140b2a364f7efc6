// graphic-convert FILE        prints the class that read FILE, its size and pixel format
// graphic-convert IN OUT      writes the picture read from IN as OUT (.pam or .bmp)
#include <cstdio>
#include <string>

#include "Graphics.h"
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

void PrintProperties(const TGraphic& graphic) {
    std::printf("class: %s\n", graphic.ClassType()->Name);
    std::printf("width: %d\n", graphic.Width());
    std::printf("height: %d\n", graphic.Height());
    std::printf("pixel format: %s\n", PixelFormatName(AsBitmap(graphic).PixelFormat()));
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
    else
        throw EInvalidGraphicOperation(Format("Cannot write \"%s\" files", extension));
}

void StartUnits() { InitializeUnit("Graphics", InitializeFrameworkGraphics, nullptr); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: graphic-convert FILE | graphic-convert IN OUT\n");
        return 2;
    }
    StartUnits();
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
