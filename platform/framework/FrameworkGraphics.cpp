#include "Graphics.h"
#include "System.h"

void InitializeFrameworkGraphics() {
    TPicture::RegisterFileFormat("bmp", "Bitmaps", TBitmap::StaticClass());
}
