#include "Icon.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "BitmapFile.h"
#include "PixelAccess.h"
#include "SysUtils.h"

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Icons are small: 256 x 256 is the largest size the format describes, and
// the largest compressed images in the wild are 1024 wide. A tiny run-length
// image claiming millions of pixels would otherwise cost its full size in
// memory and time.
constexpr int64_t kMaxIconSide = 2048;

[[noreturn]] void Invalid(const std::string& reason) { throw EInvalidGraphic("Icon image is not valid: " + reason); }

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint32_t B32(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

struct Entry {
    int64_t width = 0, height = 0, depth = 0;
    uint32_t size = 0, offset = 0;
};

std::unique_ptr<TGraphic> CreateIcon() { return std::make_unique<TIcon>(); }

bool ProbeIcon(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t head[6] = {};
    const bool ok =
        stream.Read(head, 6) == 6 && U16(head) == 0 && (U16(head + 2) == 1 || U16(head + 2) == 2) && U16(head + 4) > 0;
    stream.SetPosition(start);
    return ok;
}

// The directory gives sizes and depths, but often wrongly (0 bits, 0 for
// 256); the image's own header is believed where it can be read.
void RefineFromImage(TStream& stream, int64_t start, Entry& entry) {
    uint8_t head[32] = {};
    stream.SetPosition(start + entry.offset);
    if (stream.Read(head, sizeof head) != sizeof head) return;
    if (std::memcmp(head, kPngSignature, 8) == 0) {
        if (std::memcmp(head + 12, "IHDR", 4) != 0) return;
        // Capped so that comparing areas cannot overflow.
        entry.width = std::min<uint32_t>(B32(head + 16), 1 << 20);
        entry.height = std::min<uint32_t>(B32(head + 20), 1 << 20);
        entry.depth = 32;
        return;
    }
    const uint32_t headerSize = U32(head);
    if (headerSize == 12) {
        entry.width = U16(head + 4), entry.height = U16(head + 6) / 2, entry.depth = U16(head + 10);
    } else if (headerSize >= 40) {
        entry.width = static_cast<int32_t>(U32(head + 4));
        entry.height = std::abs(static_cast<int64_t>(static_cast<int32_t>(U32(head + 8)))) / 2;
        entry.depth = U16(head + 14);
    }
}

std::vector<Entry> ReadDirectory(TStream& stream, int64_t start) {
    uint8_t head[6];
    if (stream.Read(head, 6) != 6) Invalid("the header is truncated");
    const uint16_t type = U16(head + 2), count = U16(head + 4);
    if (U16(head) != 0 || (type != 1 && type != 2)) Invalid("not an icon file");
    if (count == 0) Invalid("the file holds no images");
    std::vector<uint8_t> raw(static_cast<size_t>(count) * 16);
    if (stream.Read(raw.data(), static_cast<int64_t>(raw.size())) != static_cast<int64_t>(raw.size()))
        Invalid("the directory is truncated");
    std::vector<Entry> entries;
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* e = raw.data() + 16 * i;
        Entry entry;
        entry.width = e[0] ? e[0] : 256;
        entry.height = e[1] ? e[1] : 256;
        // Cursors keep their hot spot where icons keep planes and depth.
        entry.depth = type == 1 ? U16(e + 6) : 0;
        entry.size = U32(e + 8);
        entry.offset = U32(e + 12);
        RefineFromImage(stream, start, entry);
        entries.push_back(entry);
    }
    return entries;
}

// Loads a PNG image through whatever class is registered for "png".
TBitmap LoadPngImage(TMemoryStream& data) {
    const TGraphicClass pngClass = TPicture::FindGraphicClass("png");
    if (!pngClass) throw EInvalidGraphic("PNG compressed icons are not supported");
    std::unique_ptr<TGraphic> graphic = pngClass->Create();
    graphic->LoadFromStream(data);
    TBitmap image;
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(graphic.get())) {
        image.Assign(*bitmap);
        image.SetPixelFormat(pf32bit);
        return image;
    }
    image.SetPixelFormat(pf32bit);
    image.SetSize(graphic->Width(), graphic->Height());
    graphic->Draw(image.Canvas(), Rect(0, 0, image.Width(), image.Height()));
    return image;
}

bool HasOwnAlpha(const TBitmap& image) {
    for (int y = 0; y < image.Height(); ++y) {
        const uint8_t* row = image.ScanLine(y);
        for (int x = 0; x < image.Width(); ++x)
            if (row[4 * x + 3] != 255) return true;
    }
    return false;
}

TBitmap LoadBitmapImage(TMemoryStream& data) {
    TBitmap image;
    const TDibInfo info = ReadDib(data, image, -1, true);
    const bool ownAlpha = info.BitCount == 32 && HasOwnAlpha(image);
    image.SetPixelFormat(pf32bit);
    if (ownAlpha) return image;

    const int width = image.Width(), height = image.Height();
    const int64_t stride = (static_cast<int64_t>(width) + 31) / 32 * 4;
    const int64_t present = std::max<int64_t>(0, data.Size() - data.Position());
    // A 32-bit image needs no mask to be shown: the rows a cut mask lacks
    // stay opaque, as most readers show them.
    if (present < stride * height && info.BitCount != 32) Invalid("the transparency mask is truncated");
    std::vector<uint8_t> mask(static_cast<size_t>(stride * height), 0);
    data.ReadBuffer(mask.data(), std::min<int64_t>(present, static_cast<int64_t>(mask.size())));
    for (int i = 0; i < height; ++i) {
        const uint8_t* bits = mask.data() + stride * i;
        uint8_t* row = image.ScanLine(info.TopDown ? i : height - 1 - i);
        for (int x = 0; x < width; ++x) row[4 * x + 3] = ReadIndex(bits, x, pf1bit) ? 0 : 255;
    }
    return image;
}

}  // namespace

const TGraphicClassDesc TIcon::ClassDesc = {"TIcon", CreateIcon, ProbeIcon, nullptr};

TIcon::TIcon() {
    image_.SetPixelFormat(pf32bit);
    Transparent = true;
}

void TIcon::LoadFromStream(TStream& stream) {
    const int64_t start = stream.Position();
    const std::vector<Entry> entries = ReadDirectory(stream, start);
    const auto best = std::max_element(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const int64_t areaA = a.width * a.height, areaB = b.width * b.height;
        return areaA != areaB ? areaA < areaB : a.depth < b.depth;
    });

    if (best->width > kMaxIconSide || best->height > kMaxIconSide) Invalid("the image is too large");
    // An image cut short loads what it holds when that is enough to show
    // it; the image's own reading decides.
    const int64_t available = stream.Size() - (start + best->offset);
    if (best->size == 0 || available <= 0) Invalid("the image data is truncated");
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<int64_t>(best->size, available)));
    stream.SetPosition(start + best->offset);
    stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    TMemoryStream data(bytes.data(), bytes.size());

    const bool png = bytes.size() >= 8 && std::memcmp(bytes.data(), kPngSignature, 8) == 0;
    image_ = png ? LoadPngImage(data) : LoadBitmapImage(data);
}

void TIcon::Draw(TCanvas& canvas, const TRect& rect) const {
    StretchCopy(image_, canvas.Bitmap(), rect, {TSkipRule::skZeroAlpha, clNone});
}
