#include "Graphics.h"
#include "Icon.h"
#include "Jpeg.h"
#include "Metafile.h"
#include "System.h"

void InitializeFrameworkGraphics() {
    RegisterMetafileFormats();
    TPicture::RegisterFileFormat("ico", "Icons", TIcon::StaticClass());
    TPicture::RegisterFileFormat("bmp", "Bitmaps", TBitmap::StaticClass());
    TPicture::RegisterFileFormat("jpeg", "JPEG Image File", TJPEGImage::StaticClass());
    TPicture::RegisterFileFormat("jpg", "JPEG Image File", TJPEGImage::StaticClass());
}
