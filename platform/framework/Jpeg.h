// JPEG pictures, decoded with libjpeg into a bitmap: grey images as 8-bit
// with a grey palette, colour (YCbCr, RGB, CMYK, YCCK) as 24-bit.
#pragma once

#include "Graphics.h"

class TJPEGImage : public TGraphic {
    DECLARE_GRAPHIC_CLASS(TJPEGImage)
public:
    TJPEGImage() = default;

    int Width() const override { return image_.Width(); }
    int Height() const override { return image_.Height(); }

    // Decodes baseline and progressive files. Errors raise EInvalidGraphic
    // "JPEG error: <libjpeg's message>"; data that ends early decodes as far
    // as it goes, the rest as libjpeg fills it.
    void LoadFromStream(TStream& stream) override;

    void Draw(TCanvas& canvas, const TRect& rect) const override;

    // Whether the file holds a single grey component.
    bool Grayscale() const { return image_.PixelFormat() == pf8bit; }
    const TBitmap& Bitmap() const { return image_; }

private:
    TBitmap image_;
};
