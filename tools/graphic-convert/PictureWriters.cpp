#include "PictureWriters.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "GraphicFormats.h"
#include "PngWriter.h"
#include "SysUtils.h"

namespace {

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

// Run-length encoded Targa, through the library's writer.
void WriteTarga(const TBitmap& bitmap, TStream& stream) {
    TTargaGraphic targa;
    targa.Assign(bitmap);
    targa.SaveToStream(stream);
}

// Portable arbitrary map, RGB plus alpha, rows from the top. Only a 32-bit
// bitmap carries alpha; every other pixel is opaque.
void WritePam(const TBitmap& bitmap, TStream& stream) {
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
    stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
}

}  // namespace

bool CanWrite(const std::string& extension) {
    const std::string e = LowerCase(extension);
    return e == ".png" || e == ".pam" || e == ".bmp" || e == ".tga";
}

TMemoryStream EncodePicture(const TGraphic& graphic, const std::string& extension) {
    const std::string e = LowerCase(extension);
    if (!CanWrite(e)) throw EInvalidGraphicOperation(Format("Cannot write \"%s\" files", e));
    const TBitmap bitmap = AsBitmap(graphic);
    TMemoryStream stream;
    if (e == ".png")
        WritePng(bitmap, stream);
    else if (e == ".pam")
        WritePam(bitmap, stream);
    else if (e == ".bmp")
        bitmap.SaveToStream(stream);
    else
        WriteTarga(bitmap, stream);
    return stream;
}

void SaveBytes(TMemoryStream& bytes, const std::string& fileName, bool overwrite) {
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL), 0666);
    if (fd < 0) {
        if (errno == EEXIST) throw EWriteError(Format("%s already exists", fileName));
        throw EWriteError(Format("Cannot create file \"%s\": %s", fileName, std::strerror(errno)));
    }
    const uint8_t* data = bytes.Memory();
    size_t left = size_t(bytes.Size());
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(fileName.c_str());
            throw EWriteError(Format("Cannot write file \"%s\": %s", fileName, std::strerror(error)));
        }
        data += written;
        left -= size_t(written);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(fileName.c_str());
        throw EWriteError(Format("Cannot write file \"%s\": %s", fileName, std::strerror(error)));
    }
}
