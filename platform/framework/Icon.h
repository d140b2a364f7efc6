// Windows icons (.ico): the best image of the file as a 32-bit bitmap whose
// alpha carries the icon's transparency.
#pragma once

#include "Graphics.h"

class TIcon : public TGraphic {
    DECLARE_GRAPHIC_CLASS(TIcon)
public:
    TIcon();

    int Width() const override { return image_.Width(); }
    int Height() const override { return image_.Height(); }

    // Reads the largest image of the file, of those the deepest. Bitmap
    // images take their AND mask as alpha (0 where the mask is set) unless
    // they are 32-bit with an alpha channel of their own; PNG images load
    // through the class registered for "png", if there is one.
    void LoadFromStream(TStream& stream) override;

    // Stretch-draws the image, leaving fully transparent pixels out.
    void Draw(TCanvas& canvas, const TRect& rect) const override;

    // The image: pf32bit, alpha in the fourth byte.
    const TBitmap& Bitmap() const { return image_; }

private:
    TBitmap image_;
};
