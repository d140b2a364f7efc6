#include "GraphicFormats.h"

#include <algorithm>
#include <cstring>

#include "Icon.h"
#include "Jpeg.h"
#include "Metafile.h"

// ---------------------------------------------------------------------------
// Helpers

void RaiseGraphicError(const std::string& message) { throw EInvalidGraphic(message); }

void SwapWords(void* p, uint32_t count) {
    auto* bytes = static_cast<uint8_t*>(p);
    for (uint32_t i = 0; i < count; ++i, bytes += 2) std::swap(bytes[0], bytes[1]);
}

void SwapLongs(void* p, uint32_t count) {
    auto* bytes = static_cast<uint8_t*>(p);
    for (uint32_t i = 0; i < count; ++i, bytes += 4) {
        std::swap(bytes[0], bytes[3]);
        std::swap(bytes[1], bytes[2]);
    }
}

uint32_t SwapLong(uint32_t value) { return __builtin_bswap32(value); }

void UpsampleDouble(uint32_t width, uint32_t height, uint32_t rowStride, uint8_t* buffer) {
    const auto row = [&](uint32_t r) { return buffer + size_t(r) * rowStride; };

    // Bottom row first, so that no source row is overwritten before it is read.
    for (uint32_t r = height; r-- > 0;) {
        const uint8_t* src = row(r);
        uint8_t* dest = row(2 * r);
        uint8_t right = src[width - 1];
        dest[2 * (width - 1)] = right;
        dest[2 * (width - 1) + 1] = right;
        for (uint32_t x = width - 1; x-- > 0;) {
            const uint8_t here = src[x];
            dest[2 * x] = here;
            dest[2 * x + 1] = static_cast<uint8_t>((here + right + 1) >> 1);
            right = here;
        }
    }
    for (uint32_t r = 0; r + 1 < height; ++r) {
        const uint8_t* a = row(2 * r);
        const uint8_t* c = row(2 * r + 2);
        uint8_t* m = row(2 * r + 1);
        for (uint32_t x = 0; x + 1 < width; ++x) {
            m[2 * x] = static_cast<uint8_t>((a[2 * x] + c[2 * x] + 1) >> 1);
            m[2 * x + 1] = static_cast<uint8_t>((a[2 * x] + a[2 * x + 2] + c[2 * x] + c[2 * x + 2] + 2) >> 2);
        }
        const uint32_t last = 2 * (width - 1);
        m[last] = static_cast<uint8_t>((a[last] + c[last] + 1) >> 1);
        m[last + 1] = static_cast<uint8_t>((a[last + 1] + c[last + 1] + 1) >> 1);
    }
    std::memcpy(row(2 * height - 1), row(2 * height - 2), 2 * size_t(width));
}

void ExpandGrayAlpha(uint8_t* row, uint32_t width) {
    for (uint32_t x = width; x-- > 0;) {
        const uint8_t gray = row[2 * x], alpha = row[2 * x + 1];
        row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = gray;
        row[4 * x + 3] = alpha;
    }
}

// ---------------------------------------------------------------------------
// TFormatGraphic

const TGraphicClassDesc TFormatGraphic::ClassDesc = {
    "TFormatGraphic", [] { return std::unique_ptr<TGraphic>(new TFormatGraphic); }, &TFormatGraphic::ProbeStream,
    TBitmap::StaticClass()};

TFormatGraphic::TFormatGraphic() : ColorConverter(std::make_unique<TColorManager>()) {}

TFormatGraphic::~TFormatGraphic() = default;

void TFormatGraphic::Assign(const TBitmap& source) {
    if (const auto* reader = dynamic_cast<const TFormatGraphic*>(&source)) Properties = reader->Properties;
    TBitmap::Assign(source);
}

bool TFormatGraphic::ProbeFile(TGraphicClass graphicClass, const std::string& fileName) {
    TFileStream stream(fileName, TFileStream::fmOpenRead);
    return graphicClass->ProbeStream != nullptr && graphicClass->ProbeStream(stream);
}

bool TFormatGraphic::ProbeStream(TStream&) { return false; }

bool TFormatGraphic::ReadProperties(TStream&, int) {
    Properties = TImageProperties{};
    Properties.Gamma = 1.0f;
    return false;
}

void TFormatGraphic::CheckImageSize(uint64_t width, uint64_t height, const char* formatName) {
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX || width * height > MaxImagePixels)
        RaiseGraphicErrorFmt(gsInvalidImage, formatName);
}

// ---------------------------------------------------------------------------
// TFileFormatList

TFileFormatList* FileFormatList = nullptr;

TFileFormatList::~TFileFormatList() { Clear(); }

void TFileFormatList::Clear() {
    for (const auto& entry : classes_) TPicture::UnregisterGraphicClass(entry->GraphicClass);
    classes_.clear();
    extensions_.clear();
}

int TFileFormatList::FindExtension(const std::string& extension) const {
    if (extension.empty()) return -1;
    const std::string wanted = LowerCase(extension);
    for (size_t i = 0; i < extensions_.size(); ++i)
        if (LowerCase(extensions_[i]->Extension) == wanted) return static_cast<int>(i);
    return -1;
}

int TFileFormatList::FindGraphicClass(TGraphicClass graphicClass) const {
    for (size_t i = 0; i < classes_.size(); ++i)
        if (classes_[i]->GraphicClass == graphicClass) return static_cast<int>(i);
    return -1;
}

void TFileFormatList::Attach(ExtensionEntry& entry, const std::string& common, TGraphicClass graphicClass) {
    const int index = FindGraphicClass(graphicClass);
    ClassEntry* classEntry;
    if (index < 0) {
        classes_.push_back(std::make_unique<ClassEntry>(ClassEntry{graphicClass, std::string(), 0}));
        classEntry = classes_.back().get();
    } else {
        classEntry = classes_[index].get();
    }
    if (!common.empty()) classEntry->Description = common;
    ++classEntry->Count;
    entry.Class = classEntry;
}

void TFileFormatList::RemoveClassEntry(const ClassEntry* entry) {
    std::erase_if(classes_, [entry](const auto& candidate) { return candidate.get() == entry; });
}

void TFileFormatList::RegisterFileFormat(const std::string& extension, const std::string& common,
                                         const std::string& individual, uint8_t formatKinds, bool replace,
                                         TGraphicClass graphicClass) {
    if (extension.empty()) return;
    const int index = FindExtension(extension);
    ExtensionEntry* entry;
    if (index < 0) {
        extensions_.push_back(std::make_unique<ExtensionEntry>(ExtensionEntry{extension, individual, formatKinds}));
        entry = extensions_.back().get();
        Attach(*entry, common, graphicClass);
    } else {
        if (!replace) RaiseGraphicErrorFmt(gsRegisterTwice, extension);
        entry = extensions_[index].get();
        if (entry->Class->GraphicClass != graphicClass) {
            ClassEntry* old = entry->Class;
            Attach(*entry, common, graphicClass);
            if (--old->Count == 0) RemoveClassEntry(old);
        }
    }
    const std::string& shown = entry->Description.empty() ? entry->Class->Description : entry->Description;
    TPicture::RegisterFileFormat(extension, shown, graphicClass);
}

void TFileFormatList::UnregisterFileFormat(const std::string& extension, TGraphicClass graphicClass) {
    if (extension.empty()) {
        const int classIndex = FindGraphicClass(graphicClass);
        if (classIndex < 0) return;
        ClassEntry* classEntry = classes_[classIndex].get();
        for (size_t i = extensions_.size(); i-- > 0 && classEntry->Count > 0;) {
            if (extensions_[i]->Class != classEntry) continue;
            --classEntry->Count;
            extensions_.erase(extensions_.begin() + static_cast<std::ptrdiff_t>(i));
        }
        RemoveClassEntry(classEntry);
        TPicture::UnregisterGraphicClass(graphicClass);
        return;
    }

    const int index = FindExtension(extension);
    if (index < 0) return;
    ClassEntry* classEntry = extensions_[index]->Class;
    if (--classEntry->Count == 0) {
        TPicture::UnregisterGraphicClass(classEntry->GraphicClass);
        RemoveClassEntry(classEntry);
    }
    extensions_.erase(extensions_.begin() + index);
}

// ---------------------------------------------------------------------------
// Unit start and end

namespace {

int initializationCount = 0;

struct TRegistration {
    const char* Extension;
    const char* Common;
    const char* Individual;
    uint8_t Kinds;
    TGraphicClass (*GraphicClass)();
};

// The start-up registrations in their order. Each reader adds its own rows
// at their place in this table as it is written.
const TRegistration StartupRegistrations[] = {
    {"bmp", gsDescWindowsBitmaps, "", fkRaster, &TBitmap::StaticClass},
    {"ico", gsDescIcons, "", fkRaster, &TIcon::StaticClass},
    {"wmf", gsDescMetafiles, "", fkVector, &TMetafile::StaticClass},
    {"emf", gsDescMetafiles, gsDescEnhancedMetafiles, fkVector, &TMetafile::StaticClass},
    {"jfif", gsDescJPG, gsDescJFIF, fkRaster, &TJPEGImage::StaticClass},
    {"jpg", "", gsDescJPG, fkRaster, &TJPEGImage::StaticClass},
    {"jpe", "", gsDescJPE, fkRaster, &TJPEGImage::StaticClass},
    {"jpeg", "", gsDescJPEG, fkRaster, &TJPEGImage::StaticClass},
    {"rle", gsDescWindowsBitmaps, gsDescRLEBitmaps, fkRaster, &TBitmap::StaticClass},
    {"dib", "", gsDescDIBitmaps, fkRaster, &TBitmap::StaticClass},
    {"win", gsDescTruevision, "", fkRaster, &TTargaGraphic::StaticClass},
    {"vst", "", "", fkRaster, &TTargaGraphic::StaticClass},
    {"vda", "", "", fkRaster, &TTargaGraphic::StaticClass},
    {"tga", "", "", fkRaster, &TTargaGraphic::StaticClass},
    {"icb", "", "", fkRaster, &TTargaGraphic::StaticClass},
    {"tiff", gsDescTIFF, gsDescMacTIFF, fkRaster | fkMultiImage, &TTIFFGraphic::StaticClass},
    {"tif", "", gsDescPCTIF, fkRaster | fkMultiImage, &TTIFFGraphic::StaticClass},
    {"fax", "", gsDescGFIFax, fkRaster | fkMultiImage, &TTIFFGraphic::StaticClass},
    {"eps", gsDescEPS, "", fkRaster, &TEPSGraphic::StaticClass},
    {"pcx", gsDescPCX, "", fkRaster, &TPCXGraphic::StaticClass},
    {"pcc", "", "", fkRaster, &TPCXGraphic::StaticClass},
    {"scr", "", gsDescWordScreenCapture, fkRaster, &TPCXGraphic::StaticClass},
    {"rpf", gsDescRLA, "", fkRaster, &TRLAGraphic::StaticClass},
    {"rla", "", "", fkRaster, &TRLAGraphic::StaticClass},
    {"sgi", gsDescSGI, gsDescSGITrueColor, fkRaster, &TSGIGraphic::StaticClass},
    {"rgba", "", gsDescSGITrueColorAlpha, fkRaster, &TSGIGraphic::StaticClass},
    {"rgb", "", gsDescSGITrueColor, fkRaster, &TSGIGraphic::StaticClass},
    {"bw", "", gsDescSGIMono, fkRaster, &TSGIGraphic::StaticClass},
    {"psd", gsDescPhotoshop, "", fkLayered | fkRaster, &TPSDGraphic::StaticClass},
    {"pdd", "", "", fkLayered | fkRaster, &TPSDGraphic::StaticClass},
    {"ppm", gsDescPortable, gsDescPortablePixel, fkRaster, &TPPMGraphic::StaticClass},
    {"pgm", "", gsDescPortableGray, fkRaster, &TPPMGraphic::StaticClass},
    {"pbm", "", gsDescPortableMono, fkRaster, &TPPMGraphic::StaticClass},
    {"pnm", "", gsDescPortableAny, fkRaster, &TPPMGraphic::StaticClass},
    {"pam", "", gsDescPortableArbitrary, fkRaster, &TPPMGraphic::StaticClass},
    {"cel", gsDescAutodesk, "", fkRaster, &TAutodeskGraphic::StaticClass},
    {"pic", gsDescAutodesk, "", fkRaster, &TAutodeskGraphic::StaticClass},
    {"pcd", gsDescKodakPhotoCD, "", fkRaster, &TPCDGraphic::StaticClass},
    {"cut", gsDescHalo, "", fkRaster, &TCUTGraphic::StaticClass},
    {"psp", gsDescPaintshopPro, "", fkRaster | fkVector, &TPSPGraphic::StaticClass},
    {"png", gsDescPortableNetworkGraphic, "", fkRaster, &TPNGGraphic::StaticClass},
};

// Whole classes removed at the end, in this order, before the single
// bitmap extensions and the PNG class.
TGraphicClass (*const ShutdownClasses[])() = {
    &TPSPGraphic::StaticClass,
    &TPSDGraphic::StaticClass,
    &TTargaGraphic::StaticClass,
    &TTIFFGraphic::StaticClass,
    &TSGIGraphic::StaticClass,
    &TPCXGraphic::StaticClass,
    &TAutodeskGraphic::StaticClass,
    &TPCDGraphic::StaticClass,
    &TPPMGraphic::StaticClass,
    &TCUTGraphic::StaticClass,
    &TRLAGraphic::StaticClass,
};

}  // namespace

void GraphicFormatsInitialization() {
    if (initializationCount++ != 0) return;
    FileFormatList = new TFileFormatList;
    for (const TRegistration& row : StartupRegistrations)
        FileFormatList->RegisterFileFormat(row.Extension, row.Common, row.Individual, row.Kinds, false,
                                           row.GraphicClass());
}

void GraphicFormatsFinalization() {
    if (initializationCount == 0 || --initializationCount != 0) return;
    for (auto graphicClass : ShutdownClasses) FileFormatList->UnregisterFileFormat("", graphicClass());
    FileFormatList->UnregisterFileFormat("rle", TBitmap::StaticClass());
    FileFormatList->UnregisterFileFormat("dib", TBitmap::StaticClass());
    FileFormatList->UnregisterFileFormat("", TPNGGraphic::StaticClass());
    delete FileFormatList;
    FileFormatList = nullptr;
}
