#include "Graphics.h"
#include "SysUtils.h"

void TBitmap::LoadFromStream(TStream&) { throw EInvalidGraphic("Bitmap image is not valid"); }
void TBitmap::SaveToStream(TStream&) const { throw EInvalidGraphicOperation("TBitmap cannot be saved"); }
