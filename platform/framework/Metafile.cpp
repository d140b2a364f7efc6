#include "Metafile.h"

#include <cmath>
#include <cstdlib>

#include "MetafilePlayer.h"
#include "SysUtils.h"

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr uint32_t kEnhancedSignature = 0x464D4520;  // " EMF"
constexpr size_t kPlaceableSize = 22, kHeaderSize = 18, kEnhancedHeaderSize = 88;
constexpr uint16_t kSetWindowOrg = 0x020B, kSetWindowExt = 0x020C;
constexpr uint32_t kEnhancedEof = 14;
// Larger files are refused before anything is allocated for them.
constexpr int64_t kMaxFileSize = int64_t(1) << 30;
// Pictures are drawn onto bitmaps of their size; larger ones are refused,
// as every image reader refuses them.
constexpr int64_t kMaxPixels = int64_t(1) << 28;
constexpr int kPixelsPerInch = 96;
constexpr int kHundredthMmPerInch = 2540;

[[noreturn]] void InvalidMetafile() { throw EInvalidGraphic("Metafile is not valid"); }

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
int32_t GetS32(const uint8_t* p) { return int32_t(Get32(p)); }

int MulDivRound(int64_t value, int64_t numerator, int64_t denominator) {
    return int(std::llround(double(value) * double(numerator) / double(denominator)));
}

bool IsPlaceable(const uint8_t* data, size_t size) { return size >= 4 && Get32(data) == kPlaceableKey; }
bool IsEnhanced(const uint8_t* data, size_t size) { return size >= 44 && Get32(data) == 1 && Get32(data + 40) == kEnhancedSignature; }
bool IsPlainHeader(const uint8_t* data, size_t size) {
    return size >= kHeaderSize && (Get16(data) == 1 || Get16(data) == 2) && Get16(data + 2) == 9;
}

// The window the records of an older metafile set first, found while
// checking that every record lies inside the file.
struct TWindowScan {
    bool HasOrigin = false, HasExtent = false;
    int OriginX = 0, OriginY = 0, ExtentX = 0, ExtentY = 0;
};

TWindowScan CheckWindowsRecords(const uint8_t* data, size_t size) {
    if (!IsPlainHeader(data, size)) InvalidMetafile();
    TWindowScan scan;
    size_t offset = kHeaderSize;
    while (size - offset >= 6) {
        const uint64_t bytes = uint64_t(Get32(data + offset)) * 2;
        const uint16_t function = Get16(data + offset + 4);
        if (bytes < 6 || bytes > size - offset) InvalidMetafile();
        if (function == 0) break;
        if (bytes >= 10 && (function == kSetWindowOrg || function == kSetWindowExt)) {
            const int y = int16_t(Get16(data + offset + 6)), x = int16_t(Get16(data + offset + 8));
            if (function == kSetWindowOrg && !scan.HasOrigin) {
                scan.HasOrigin = true;
                scan.OriginX = x;
                scan.OriginY = y;
            } else if (function == kSetWindowExt && !scan.HasExtent) {
                scan.HasExtent = true;
                scan.ExtentX = x;
                scan.ExtentY = y;
            }
        }
        offset += size_t(bytes);
    }
    return scan;
}

void CheckEnhancedRecords(const uint8_t* data, size_t size) {
    size_t offset = 0;
    while (size - offset >= 8) {
        const uint32_t type = Get32(data + offset), bytes = Get32(data + offset + 4);
        if (bytes < 8 || bytes > size - offset) InvalidMetafile();
        if (type == kEnhancedEof) break;
        offset += bytes;
    }
}

TRect ReadRect(const uint8_t* p) { return Rect(GetS32(p), GetS32(p + 4), GetS32(p + 8), GetS32(p + 12)); }

std::unique_ptr<TGraphic> CreateMetafile() { return std::make_unique<TMetafile>(); }

}  // namespace

const TGraphicClassDesc TMetafile::ClassDesc = {"TMetafile", CreateMetafile, TMetafile::IsMetafile, nullptr};

bool TMetafile::IsMetafile(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t head[kEnhancedHeaderSize] = {};
    const int64_t read = stream.Read(head, sizeof head);
    stream.SetPosition(start);
    const size_t size = read > 0 ? size_t(read) : 0;
    return IsPlaceable(head, size) || IsEnhanced(head, size) || IsPlainHeader(head, size);
}

void TMetafile::LoadFromStream(TStream& stream) {
    const int64_t available = stream.Size() - stream.Position();
    if (available <= 0 || available > kMaxFileSize) InvalidMetafile();
    std::vector<uint8_t> data(static_cast<size_t>(available));
    stream.ReadBuffer(data.data(), available);
    if (IsEnhanced(data.data(), data.size()))
        LoadEnhancedMetafile(std::move(data));
    else
        LoadWindowsMetafile(std::move(data));
}

void TMetafile::LoadWindowsMetafile(std::vector<uint8_t> data) {
    const uint8_t* p = data.data();
    const bool placeable = IsPlaceable(p, data.size());
    const size_t recordsOffset = placeable ? kPlaceableSize : 0;
    if (data.size() < recordsOffset + kHeaderSize) InvalidMetafile();
    const TWindowScan scan = CheckWindowsRecords(p + recordsOffset, data.size() - recordsOffset);

    TRect window;
    int width, height;
    std::optional<std::pair<TPointF, TPointF>> firstWindow;
    if (placeable) {
        window = Rect(int16_t(Get16(p + 6)), int16_t(Get16(p + 8)), int16_t(Get16(p + 10)), int16_t(Get16(p + 12)));
        const uint16_t inch = Get16(p + 14);
        if (inch == 0) InvalidMetafile();
        width = MulDivRound(std::abs(window.Width()), kPixelsPerInch, inch);
        height = MulDivRound(std::abs(window.Height()), kPixelsPerInch, inch);
        // The box is the picture: the window the records set first, where
        // they set one, stands for it.
        const TPointF org{double(scan.HasOrigin ? scan.OriginX : window.Left), double(scan.HasOrigin ? scan.OriginY : window.Top)};
        const TPointF ext{double(scan.HasExtent && scan.ExtentX ? scan.ExtentX : window.Width()),
                          double(scan.HasExtent && scan.ExtentY ? scan.ExtentY : window.Height())};
        firstWindow = {org, ext};
    } else if (scan.HasExtent) {
        // Without a placeable header the window the records set tells the
        // picture's extent; its logical units count as pixels.
        window = Rect(scan.OriginX, scan.OriginY, scan.OriginX + scan.ExtentX, scan.OriginY + scan.ExtentY);
        width = std::abs(scan.ExtentX);
        height = std::abs(scan.ExtentY);
    } else {
        // Without either, what the records draw makes the picture.
        const std::optional<TRect> bounds = WindowsMetafileBounds(p, data.size());
        if (!bounds) InvalidMetafile();
        window = *bounds;
        width = std::max(window.Width(), 1);
        height = std::max(window.Height(), 1);
        window.Right = window.Left + width;
        window.Bottom = window.Top + height;
    }
    if (int64_t(width) * height > kMaxPixels) InvalidMetafile();
    data_ = std::move(data);
    enhanced_ = false;
    recordsOffset_ = recordsOffset;
    window_ = window;
    firstWindow_ = firstWindow;
    width_ = width;
    height_ = height;
}

void TMetafile::LoadEnhancedMetafile(std::vector<uint8_t> data) {
    const uint8_t* p = data.data();
    if (data.size() < kEnhancedHeaderSize || Get32(p + 4) < kEnhancedHeaderSize) InvalidMetafile();
    CheckEnhancedRecords(p, data.size());

    const TRect bounds = ReadRect(p + 8), frame = ReadRect(p + 24);
    const int64_t frameWidth = int64_t(frame.Right) - frame.Left, frameHeight = int64_t(frame.Bottom) - frame.Top;
    int width, height;
    if (frameWidth > 0 && frameHeight > 0) {
        width = MulDivRound(frameWidth, kPixelsPerInch, kHundredthMmPerInch);
        height = MulDivRound(frameHeight, kPixelsPerInch, kHundredthMmPerInch);
    } else {
        // Bounds are inclusive: the right and bottom pixels are drawn on.
        width = std::max<int64_t>(0, int64_t(bounds.Right) - bounds.Left + 1);
        height = std::max<int64_t>(0, int64_t(bounds.Bottom) - bounds.Top + 1);
    }
    if (int64_t(width) * height > kMaxPixels) InvalidMetafile();
    data_ = std::move(data);
    enhanced_ = true;
    recordsOffset_ = 0;
    bounds_ = bounds;
    frame_ = frame;
    devicePixelsX_ = GetS32(p + 72);
    devicePixelsY_ = GetS32(p + 76);
    deviceMmX_ = GetS32(p + 80);
    deviceMmY_ = GetS32(p + 84);
    width_ = width;
    height_ = height;
}

void TMetafile::SaveToStream(TStream& stream) const { stream.WriteBuffer(data_.data(), int64_t(data_.size())); }

void TMetafile::Draw(TCanvas& canvas, const TRect& rect) const {
    if (data_.empty() || rect.Width() == 0 || rect.Height() == 0) return;
    const TRect bounds = Rect(std::min(rect.Left, rect.Right), std::min(rect.Top, rect.Bottom),
                              std::max(rect.Left, rect.Right), std::max(rect.Top, rect.Bottom));
    TMetafileRaster raster(canvas.Bitmap(), bounds);
    const double width = rect.Width(), height = rect.Height();

    if (!enhanced_) {
        // The window the picture covers maps onto rect; the records may move
        // and rescale the window, but the viewport stays the target's.
        constexpr double screenPixelsPerMm = kPixelsPerInch / 25.4;
        TMetafileDevice device(raster, TXForm{}, screenPixelsPerMm, screenPixelsPerMm);
        device.SetMapMode(MM_ANISOTROPIC);
        device.SetViewportOrg({double(rect.Left), double(rect.Top)});
        device.SetViewportExt({width, height});
        device.SetWindowOrg({double(window_.Left), double(window_.Top)});
        device.SetWindowExt({double(window_.Width()), double(window_.Height())});
        if (firstWindow_)
            device.SetWindowFrame(firstWindow_->first, firstWindow_->second, {double(window_.Left), double(window_.Top)},
                                  {double(window_.Width()), double(window_.Height())});
        PlayWindowsMetafile(data_.data() + recordsOffset_, data_.size() - recordsOffset_, device);
        return;
    }

    // The frame, in hundredths of a millimetre on the reference device,
    // maps onto rect; without a usable device size, the bounds do.
    TXForm toTarget;
    double pixelsPerMmX = kPixelsPerInch / 25.4, pixelsPerMmY = pixelsPerMmX;
    const double frameWidth = double(frame_.Right) - frame_.Left, frameHeight = double(frame_.Bottom) - frame_.Top;
    if (devicePixelsX_ > 0 && devicePixelsY_ > 0 && deviceMmX_ > 0 && deviceMmY_ > 0 && frameWidth > 0 &&
        frameHeight > 0) {
        pixelsPerMmX = double(devicePixelsX_) / deviceMmX_;
        pixelsPerMmY = double(devicePixelsY_) / deviceMmY_;
        toTarget.M11 = 100 / pixelsPerMmX * width / frameWidth;
        toTarget.M22 = 100 / pixelsPerMmY * height / frameHeight;
        toTarget.Dx = rect.Left - frame_.Left * width / frameWidth;
        toTarget.Dy = rect.Top - frame_.Top * height / frameHeight;
    } else {
        const double boundsWidth = double(bounds_.Right) - bounds_.Left + 1;
        const double boundsHeight = double(bounds_.Bottom) - bounds_.Top + 1;
        if (boundsWidth <= 0 || boundsHeight <= 0) return;
        toTarget.M11 = width / boundsWidth;
        toTarget.M22 = height / boundsHeight;
        toTarget.Dx = rect.Left - bounds_.Left * toTarget.M11;
        toTarget.Dy = rect.Top - bounds_.Top * toTarget.M22;
    }
    TMetafileDevice device(raster, toTarget, pixelsPerMmX, pixelsPerMmY);
    PlayEnhancedMetafile(data_.data(), data_.size(), device);
}

void RegisterMetafileFormats() {
    TPicture::RegisterFileFormat("wmf", "Metafiles", TMetafile::StaticClass());
    TPicture::RegisterFileFormat("emf", "Enhanced Metafiles", TMetafile::StaticClass());
}
