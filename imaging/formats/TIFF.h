// The tag numbers the TIFF reader's two source files share.
#pragma once

#include <cstdint>

namespace tiff {

enum TTIFFTag : uint16_t {
    tagImageWidth = 256,
    tagImageLength = 257,
    tagBitsPerSample = 258,
    tagCompression = 259,
    tagPhotometric = 262,
    tagFillOrder = 266,
    tagStripOffsets = 273,
    tagSamplesPerPixel = 277,
    tagRowsPerStrip = 278,
    tagStripByteCounts = 279,
    tagXResolution = 282,
    tagYResolution = 283,
    tagPlanarConfig = 284,
    tagT4Options = 292,
    tagT6Options = 293,
    tagResolutionUnit = 296,
    tagWhitePoint = 318,
    tagPredictor = 317,
    tagColorMap = 320,
    tagTileWidth = 322,
    tagTileLength = 323,
    tagTileOffsets = 324,
    tagTileByteCounts = 325,
    tagExtraSamples = 338,
    tagSampleFormat = 339,
    tagJPEGTables = 347,
    tagJPEGProc = 512,
    tagJPEGInterchangeFormat = 513,
    tagJPEGInterchangeFormatLength = 514,
    tagJPEGRestartInterval = 515,
    tagJPEGQTables = 519,
    tagJPEGDCTables = 520,
    tagJPEGACTables = 521,
    tagYCbCrCoefficients = 529,
    tagYCbCrSubSampling = 530,
    tagYCbCrPositioning = 531,
};

}  // namespace tiff
