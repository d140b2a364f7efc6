// The texts of the image library: error messages (most take the format's
// short name for %s) and the descriptions shown in the open-picture dialog.
// They are used exactly as written, spelling included.
#pragma once

// Reader errors (EInvalidGraphic).
inline constexpr const char* gsInvalidImage = "Cannot load image. Invalid or unexpected %s image format.";
inline constexpr const char* gsInvalidColorFormat = "Invalid color format in %s file.";
inline constexpr const char* gsStreamReadError = "Stream read error in %s file.";
inline constexpr const char* gsUnsupportedFeature = "Cannot load image. %s not supported for %s files.";
inline constexpr const char* gsInvalidCRC = "Cannot load image. CRC error found in %s file.";
inline constexpr const char* gsCompression = "Cannot load image. Compression error found in %s file.";
inline constexpr const char* gsExtraCompressedData = "Cannot load image. Extra compressed data found in %s file.";
inline constexpr const char* gsInvalidPalette = "Cannot load image. Palette in %s file is invalid.";
inline constexpr const char* gsUnknownCriticalChunk = "Cannot load PNG image. Unexpected but critical chunk detected.";
inline constexpr const char* gsCompressionScheme = "The compression scheme is";
inline constexpr const char* gsSubsampledPlanes = "Separately stored subsampled YCbCr planes are";
inline constexpr const char* gsRegisterTwice = "Attempt to register %s twice.";
inline constexpr const char* gsUnknownExtension = "Unknown picture file extension (.%s)";

// Colour manager errors (EColorConversionError).
inline constexpr const char* gsIndexedNotSupported =
    "Conversion between indexed and non-indexed pixel formats is not supported.";
inline constexpr const char* gsConversionUnsupported = "Color conversion failed. Could not find a proper method.";
inline constexpr const char* gsInvalidSampleDepth = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
inline constexpr const char* gsInvalidPixelDepth =
    "Sample count per pixel does not correspond to the given color scheme.";
inline constexpr const char* gsInvalidSubSampling = "Subsampling value is invalid. Allowed are 1, 2 and 4.";
inline constexpr const char* gsVerticalSubSamplingError =
    "Vertical subsampling value must be <= horizontal subsampling value.";

// Decoder errors (EGraphicCompression) and warnings.
inline constexpr const char* gsLZ77Error = "LZ77 decompression error.";
inline constexpr const char* gsJPEGBogusTableField = "Bogus JPEG tables field.";
inline constexpr const char* gsJPEGStripSize = "Improper JPEG strip/tile size.";
inline constexpr const char* gsJPEGComponentCount = "Improper JPEG component count.";
inline constexpr const char* gsJPEGDataPrecision = "Improper JPEG data precision.";
inline constexpr const char* gsJPEGSamplingFactors = "Improper JPEG sampling factors.";
inline constexpr const char* gsJPEGScanline = "Fractional JPEG scanline unsupported.";
inline constexpr const char* gsJPEGEOI = "JPEG decompression error. Unexpected end of input.";
inline constexpr const char* gsJPEGTooManyScans = "Too many progressive scans in JPEG data.";
inline constexpr const char* gsWarning = "Warning";

// Short format names put in place of %s.
inline constexpr const char* gsPNG = "PNG";
inline constexpr const char* gsTarga = "Targa";
inline constexpr const char* gsTIFF = "TIF/TIFF";
inline constexpr const char* gsEPS = "EPS";
inline constexpr const char* gsPSD = "PSD or PDD";
inline constexpr const char* gsPSP = "PSP";
inline constexpr const char* gsSGI = "sgi, bw or rgb(a)";
inline constexpr const char* gsPCXOrSCR = "PCX or SCR";
inline constexpr const char* gsPCX = "PCX";
inline constexpr const char* gsPortableMaps = "PBM, PGM or PPM";
inline constexpr const char* gsPPM = "PPM";
inline constexpr const char* gsAutodesk = "Autodesk";
inline constexpr const char* gsPCD = "PCD";
inline constexpr const char* gsCUT = "CUT";
inline constexpr const char* gsRLA = "RLA";

// File-type descriptions.
inline constexpr const char* gsDescWindowsBitmaps = "Windows bitmaps";
inline constexpr const char* gsDescRLEBitmaps = "Run length encoded Windows bitmaps";
inline constexpr const char* gsDescDIBitmaps = "Device independant Windows bitmaps";
inline constexpr const char* gsDescIcons = "Windows icons";
inline constexpr const char* gsDescMetafiles = "Windows metafiles";
inline constexpr const char* gsDescEnhancedMetafiles = "Windows enhanced meta files";
inline constexpr const char* gsDescJFIF = "JFIF images";
inline constexpr const char* gsDescJPG = "JPG images";
inline constexpr const char* gsDescJPE = "JPE images";
inline constexpr const char* gsDescJPEG = "JPEG images";
inline constexpr const char* gsDescTruevision = "Truevision images";
inline constexpr const char* gsDescTIFF = "Tagged image file format images";
inline constexpr const char* gsDescMacTIFF = "Macintosh TIFF images";
inline constexpr const char* gsDescPCTIF = "PC TIF images";
inline constexpr const char* gsDescGFIFax = "GFI fax images";
inline constexpr const char* gsDescEPS = "Encapsulated Postscript images";
inline constexpr const char* gsDescPCX = "ZSoft Paintbrush images";
inline constexpr const char* gsDescWordScreenCapture = "Word 5.x screen capture images";
inline constexpr const char* gsDescRLA = "Alias/Wavefront images";
inline constexpr const char* gsDescSGI = "SGI images";
inline constexpr const char* gsDescSGITrueColor = "SGI true color images";
inline constexpr const char* gsDescSGITrueColorAlpha = "SGI true color images with alpha";
inline constexpr const char* gsDescSGIMono = "SGI black/white images";
inline constexpr const char* gsDescPhotoshop = "Photoshop images";
inline constexpr const char* gsDescPortable = "Portable map images";
inline constexpr const char* gsDescPortablePixel = "Portable pixel map images";
inline constexpr const char* gsDescPortableGray = "Portable gray map images";
inline constexpr const char* gsDescPortableMono = "Portable bitmap images";
inline constexpr const char* gsDescPortableAny = "Portable any map images";
inline constexpr const char* gsDescPortableArbitrary = "Portable arbitrary map images";
inline constexpr const char* gsDescAutodesk = "Autodesk images";
inline constexpr const char* gsDescKodakPhotoCD = "Kodak Photo-CD images";
inline constexpr const char* gsDescHalo = "Dr. Halo images";
inline constexpr const char* gsDescPaintshopPro = "Paintshop Pro images";
inline constexpr const char* gsDescPortableNetworkGraphic = "Portable network graphic images";
