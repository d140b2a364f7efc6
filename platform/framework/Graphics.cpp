#include "Graphics.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "PixelAccess.h"
#include "SysUtils.h"

namespace {

constexpr int64_t kMaxPixels = int64_t{1} << 28;

int RowBytesFor(int width, TPixelFormat format) {
    return static_cast<int>((static_cast<int64_t>(width) * BitsPerPixel(format) + 31) / 32 * 4);
}

int PaletteCapacity(TPixelFormat format) { return 1 << BitsPerPixel(format); }

uint16_t Pack555(TRGBA c) { return static_cast<uint16_t>(((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3)); }
uint16_t Pack565(TRGBA c) { return static_cast<uint16_t>(((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3)); }

TRGBA FromColor(TColor color) { return {GetRValue(color), GetGValue(color), GetBValue(color), 255}; }

std::unique_ptr<TGraphic> CreateBitmap() { return std::make_unique<TBitmap>(); }

bool ProbeBitmap(TStream& stream) {
    const int64_t start = stream.Position();
    char magic[2] = {};
    const bool ok = stream.Read(magic, 2) == 2 && magic[0] == 'B' && magic[1] == 'M';
    stream.SetPosition(start);
    return ok;
}

}  // namespace

int BitsPerPixel(TPixelFormat format) {
    switch (format) {
        case pf1bit: return 1;
        case pf4bit: return 4;
        case pf8bit: return 8;
        case pf15bit:
        case pf16bit: return 16;
        case pf32bit: return 32;
        default: return 24;
    }
}

bool InheritsFrom(TGraphicClass cls, TGraphicClass base) {
    for (; cls; cls = cls->Parent)
        if (cls == base) return true;
    return false;
}

// ---- Pixel access --------------------------------------------------------

TRGBA ReadPixel(const uint8_t* row, int x, TPixelFormat format, const std::vector<TPaletteEntry>& palette) {
    switch (format) {
        case pf1bit:
        case pf4bit:
        case pf8bit: {
            const unsigned index = ReadIndex(row, x, format);
            if (index >= palette.size()) return {0, 0, 0, 255};
            const TPaletteEntry& entry = palette[index];
            return {entry.peRed, entry.peGreen, entry.peBlue, 255};
        }
        case pf15bit: {
            const unsigned w = row[2 * x] | (row[2 * x + 1] << 8);
            return {Widen5((w >> 10) & 31), Widen5((w >> 5) & 31), Widen5(w & 31), 255};
        }
        case pf16bit: {
            const unsigned w = row[2 * x] | (row[2 * x + 1] << 8);
            return {Widen5(w >> 11), Widen6((w >> 5) & 63), Widen5(w & 31), 255};
        }
        case pf32bit: {
            const uint8_t* p = row + 4 * x;
            return {p[2], p[1], p[0], p[3]};
        }
        default: {
            const uint8_t* p = row + 3 * x;
            return {p[2], p[1], p[0], 255};
        }
    }
}

TPixelWriter::TPixelWriter(TPixelFormat format, const TLogPalette& palette)
    : format_(format), entries_(palette.palPalEntry) {}

unsigned TPixelWriter::NearestIndex(TRGBA color) {
    color.a = 0;
    if (haveLast_ && color == lastColor_) return lastIndex_;
    unsigned best = 0;
    int bestDistance = 1 << 30;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const int dr = entries_[i].peRed - color.r;
        const int dg = entries_[i].peGreen - color.g;
        const int db = entries_[i].peBlue - color.b;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<unsigned>(i);
            if (distance == 0) break;
        }
    }
    lastColor_ = color;
    lastIndex_ = best;
    haveLast_ = true;
    return best;
}

void TPixelWriter::Write(uint8_t* row, int x, TRGBA color) {
    switch (format_) {
        case pf1bit:
        case pf4bit:
        case pf8bit: WriteIndex(row, x, format_, NearestIndex(color)); break;
        case pf15bit:
        case pf16bit: {
            const uint16_t w = format_ == pf15bit ? Pack555(color) : Pack565(color);
            row[2 * x] = static_cast<uint8_t>(w);
            row[2 * x + 1] = static_cast<uint8_t>(w >> 8);
            break;
        }
        case pf32bit: {
            uint8_t* p = row + 4 * x;
            p[0] = color.b, p[1] = color.g, p[2] = color.r, p[3] = color.a;
            break;
        }
        default: {
            uint8_t* p = row + 3 * x;
            p[0] = color.b, p[1] = color.g, p[2] = color.r;
        }
    }
}

namespace {

TLogPalette MakeDefaultPalette(TPixelFormat format) {
    static constexpr uint8_t vga[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                           {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                           {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                           {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    TLogPalette palette;
    if (format == pf1bit) {
        palette.palPalEntry = {{0, 0, 0, 0}, {255, 255, 255, 0}};
        return palette;
    }
    for (const auto& c : vga) palette.palPalEntry.push_back({c[0], c[1], c[2], 0});
    if (format != pf8bit) return palette;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                palette.palPalEntry.push_back(
                    {static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51), static_cast<uint8_t>(b * 51), 0});
    for (int i = 1; i <= 24; ++i) {
        const auto level = static_cast<uint8_t>(i * 255 / 25);
        palette.palPalEntry.push_back({level, level, level, 0});
    }
    return palette;
}

}  // namespace

TLogPalette DefaultPalette(TPixelFormat format) {
    // Made once: every indexed bitmap starts with one when its format is set.
    static const TLogPalette palettes[3] = {MakeDefaultPalette(pf1bit), MakeDefaultPalette(pf4bit),
                                            MakeDefaultPalette(pf8bit)};
    return palettes[format == pf1bit ? 0 : format == pf8bit ? 2 : 1];
}

namespace {

// Pixels x0..x1 of a destination row of 15- or 16-bit words from a 24-bit
// source row: pixel x comes from sourceX[x - x0], or from x - left when
// sourceX is null. Pixels of skip's colour are left as they are. Each case
// is its own loop, so that the common ones compile without tests per pixel.
template <bool Is565, bool Consecutive, bool SkipColor>
void PackRow24As(const uint8_t* in, uint8_t* out, int x0, int x1, const int* sourceX, int left, TColor skipColor) {
    for (int x = x0; x < x1; ++x) {
        const int sx = Consecutive ? x - left : sourceX[x - x0];
        const uint8_t* p = in + 3 * sx;
        const unsigned b = p[0], g = p[1], r = p[2];
        if (SkipColor && RGB(r, g, b) == skipColor) continue;
        const unsigned w = Is565 ? ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)
                                 : ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
        out[2 * x] = static_cast<uint8_t>(w);
        out[2 * x + 1] = static_cast<uint8_t>(w >> 8);
    }
}

template <bool Is565>
void PackRow24For(const uint8_t* in, uint8_t* out, int x0, int x1, const int* sourceX, int left, TSkipRule skip) {
    const bool skipColor = skip.kind == TSkipRule::skColor;
    if (skipColor)
        sourceX ? PackRow24As<Is565, false, true>(in, out, x0, x1, sourceX, left, skip.color)
                : PackRow24As<Is565, true, true>(in, out, x0, x1, sourceX, left, skip.color);
    else
        sourceX ? PackRow24As<Is565, false, false>(in, out, x0, x1, sourceX, left, skip.color)
                : PackRow24As<Is565, true, false>(in, out, x0, x1, sourceX, left, skip.color);
}

void PackRow24(const uint8_t* in, uint8_t* out, int x0, int x1, const int* sourceX, int left, bool is565,
               TSkipRule skip) {
    is565 ? PackRow24For<true>(in, out, x0, x1, sourceX, left, skip)
          : PackRow24For<false>(in, out, x0, x1, sourceX, left, skip);
}

}  // namespace

void StretchCopy(const TBitmap& source, TBitmap& dest, const TRect& rect, TSkipRule skip) {
    const int sw = source.Width(), sh = source.Height();
    const int rw = rect.Width(), rh = rect.Height();
    if (sw <= 0 || sh <= 0 || rw <= 0 || rh <= 0) return;
    const int x0 = std::max(rect.Left, 0), x1 = std::min(rect.Right, dest.Width());
    const int y0 = std::max(rect.Top, 0), y1 = std::min(rect.Bottom, dest.Height());
    if (x0 >= x1 || y0 >= y1) return;

    std::vector<int> sourceX(static_cast<size_t>(x1 - x0));
    for (int x = x0; x < x1; ++x)
        sourceX[static_cast<size_t>(x - x0)] = static_cast<int>(static_cast<int64_t>(x - rect.Left) * sw / rw);

    const TPixelFormat from = source.PixelFormat(), to = dest.PixelFormat();
    const auto& palette = source.Palette().palPalEntry;
    // Equal direct formats need no conversion: whole pixels are copied.
    const bool copyBytes = from == to && !IsIndexed(from) && skip.kind == TSkipRule::skNone;
    const int pixelBytes = BitsPerPixel(from) / 8;
    // 24-bit pixels onto 15- or 16-bit ones, the common case of textures,
    // go row by row with the same truncation as TPixelWriter.
    const bool packRows = from == pf24bit && (to == pf15bit || to == pf16bit) &&
                          (skip.kind == TSkipRule::skNone || skip.kind == TSkipRule::skColor);
    // With equal widths the source pixels of a row are consecutive.
    const bool sameWidth = rw == sw;
    TPixelWriter writer(to, dest.Palette());
    for (int y = y0; y < y1; ++y) {
        const int sy = static_cast<int>(static_cast<int64_t>(y - rect.Top) * sh / rh);
        const uint8_t* in = source.ScanLine(sy);
        uint8_t* out = dest.ScanLine(y);
        if (packRows) {
            PackRow24(in, out, x0, x1, sameWidth ? nullptr : sourceX.data(), rect.Left, to == pf16bit, skip);
            continue;
        }
        for (int x = x0; x < x1; ++x) {
            const int sx = sourceX[static_cast<size_t>(x - x0)];
            if (copyBytes) {
                std::memcpy(out + x * pixelBytes, in + sx * pixelBytes, static_cast<size_t>(pixelBytes));
                continue;
            }
            const TRGBA color = ReadPixel(in, sx, from, palette);
            if (skip.kind == TSkipRule::skZeroAlpha && color.a == 0) continue;
            if (skip.kind == TSkipRule::skColor && RGB(color.r, color.g, color.b) == skip.color) continue;
            writer.Write(out, x, color);
        }
    }
}

// ---- TGraphic ------------------------------------------------------------

void TGraphic::SaveToStream(TStream&) const {
    throw EInvalidGraphicOperation(Format("%s cannot be saved", ClassType()->Name));
}

void TGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, TFileStream::fmOpenRead);
    LoadFromOpenFile(stream, fileName);
}

void TGraphic::LoadFromOpenFile(TStream& stream, const std::string&) { LoadFromStream(stream); }

void TGraphic::SaveToFile(const std::string& fileName) const {
    TFileStream stream(fileName, TFileStream::fmCreate);
    SaveToStream(stream);
}

// ---- TCanvas -------------------------------------------------------------

void TCanvas::FillRect(const TRect& rect, TColor color) {
    const int x0 = std::max(rect.Left, 0), x1 = std::min(rect.Right, bitmap_.Width());
    const int y0 = std::max(rect.Top, 0), y1 = std::min(rect.Bottom, bitmap_.Height());
    TPixelWriter writer(bitmap_.PixelFormat(), bitmap_.Palette());
    for (int y = y0; y < y1; ++y) {
        uint8_t* row = bitmap_.ScanLine(y);
        for (int x = x0; x < x1; ++x) writer.Write(row, x, FromColor(color));
    }
}

void TCanvas::StretchDraw(const TRect& rect, const TGraphic& graphic) { graphic.Draw(*this, rect); }

void TCanvas::Draw(int x, int y, const TGraphic& graphic) {
    graphic.Draw(*this, Rect(x, y, x + graphic.Width(), y + graphic.Height()));
}

// ---- TBitmap -------------------------------------------------------------

const TGraphicClassDesc TBitmap::ClassDesc = {"TBitmap", CreateBitmap, ProbeBitmap, nullptr};

TBitmap::TBitmap() = default;

TBitmap::TBitmap(const TBitmap& other) : TGraphic(other) { Assign(other); }

TBitmap& TBitmap::operator=(const TBitmap& other) {
    if (this != &other) Assign(other);
    return *this;
}

TBitmap::TBitmap(TBitmap&& other) noexcept : TGraphic(other) { *this = std::move(other); }

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept {
    if (this == &other) return *this;
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    rowBytes_ = std::exchange(other.rowBytes_, 0);
    bottomUp_ = std::exchange(other.bottomUp_, false);
    start_ = std::exchange(other.start_, 0);
    format_ = other.format_;
    pixels_ = std::move(other.pixels_);
    other.pixels_.clear();
    palette_ = std::move(other.palette_);
    Transparent = other.Transparent;
    TransparentColor = other.TransparentColor;
    return *this;
}

TBitmap::~TBitmap() = default;

void TBitmap::Assign(const TBitmap& source) {
    if (this == &source) return;
    width_ = source.width_;
    height_ = source.height_;
    rowBytes_ = source.rowBytes_;
    bottomUp_ = source.bottomUp_;
    start_ = source.start_;
    format_ = source.format_;
    pixels_ = source.pixels_;
    palette_ = source.palette_;
    Transparent = source.Transparent;
    TransparentColor = source.TransparentColor;
}

void TBitmap::SetSize(int width, int height) {
    if (width < 0 || height < 0 || static_cast<int64_t>(width) * height > kMaxPixels)
        throw EInvalidGraphic(Format("Invalid bitmap size %d x %d", width, height));
    if (width == width_ && height == height_) return;
    const int rowBytes = RowBytesFor(width, format_);
    TPixelStore pixels(static_cast<size_t>(rowBytes) * static_cast<size_t>(height), 0);

    // Whole bytes of the overlap are copied; the bits of a last, partly kept
    // byte go one pixel at a time so that new pixels stay zero.
    const int keepWidth = std::min(width, width_), keepHeight = std::min(height, height_);
    const int bits = BitsPerPixel(format_);
    const int wholeBytes = keepWidth * bits / 8;
    for (int y = 0; y < keepHeight; ++y) {
        const uint8_t* from = ScanLine(y);
        uint8_t* to = pixels.data() + static_cast<size_t>(y) * rowBytes;
        std::memcpy(to, from, static_cast<size_t>(wholeBytes));
        for (int x = wholeBytes * 8 / bits; x < keepWidth; ++x) WriteIndex(to, x, format_, ReadIndex(from, x, format_));
    }
    width_ = width;
    height_ = height;
    rowBytes_ = rowBytes;
    bottomUp_ = false;
    start_ = 0;
    pixels_ = std::move(pixels);
}

void TBitmap::SetSizeForOverwrite(int width, int height, bool bottomUp, int64_t readFrom) {
    if (width < 0 || height < 0 || static_cast<int64_t>(width) * height > kMaxPixels)
        throw EInvalidGraphic(Format("Invalid bitmap size %d x %d", width, height));
    const int rowBytes = RowBytesFor(width, format_);
    // Dropped first, so that the old and new pixels are never held at once.
    pixels_ = TPixelStore();
    const size_t bytes = static_cast<size_t>(rowBytes) * static_cast<size_t>(height);
    const bool aligned = readFrom > 0 && bytes >= AlignedReadBytes;
    pixels_.resize(bytes + (aligned ? ReadAlignmentSlack : 0));
    // Pixels of 16 and 32 bits keep the alignment of their type; the others
    // are bytes, placed exactly where their file's bytes lie in a page.
    const int bits = BitsPerPixel(format_);
    const size_t granule = bits == 32 ? 4 : bits == 16 ? 2 : 1;
    start_ = aligned ? ReadAlignment(pixels_.data(), readFrom, granule) : 0;
    // From the first byte that is not whole pixels: a partly used last byte
    // starts zero too, as pixels of 1 and 4 bits are written into their byte.
    const int usedBytes = static_cast<int>(static_cast<int64_t>(width) * bits / 8);
    if (usedBytes < rowBytes)
        for (int y = 0; y < height; ++y)
            std::memset(pixels_.data() + start_ + static_cast<size_t>(y) * rowBytes + usedBytes, 0,
                        static_cast<size_t>(rowBytes - usedBytes));
    width_ = width;
    height_ = height;
    rowBytes_ = rowBytes;
    bottomUp_ = bottomUp;
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == format_) return;
    TLogPalette palette;
    if (IsIndexed(format)) {
        const bool keepPalette = IsIndexed(format_) && !palette_.palPalEntry.empty() &&
                                 static_cast<int>(palette_.palPalEntry.size()) <= PaletteCapacity(format);
        palette = keepPalette ? palette_ : DefaultPalette(format);
    }
    const int rowBytes = RowBytesFor(width_, format);
    TPixelStore pixels(static_cast<size_t>(rowBytes) * static_cast<size_t>(height_), 0);

    // Rows keep their place in memory. Indices survive when the new format
    // can hold every index of the old.
    const bool keepIndices = IsIndexed(format_) && IsIndexed(format) && BitsPerPixel(format) >= BitsPerPixel(format_);
    TPixelWriter writer(format, palette);
    for (int y = 0; y < height_; ++y) {
        const uint8_t* from = pixels_.data() + start_ + static_cast<size_t>(y) * rowBytes_;
        uint8_t* to = pixels.data() + static_cast<size_t>(y) * rowBytes;
        for (int x = 0; x < width_; ++x) {
            if (keepIndices)
                WriteIndex(to, x, format, ReadIndex(from, x, format_));
            else
                writer.Write(to, x, ReadPixel(from, x, format_, palette_.palPalEntry));
        }
    }
    format_ = format;
    rowBytes_ = rowBytes;
    start_ = 0;
    pixels_ = std::move(pixels);
    palette_ = std::move(palette);
}

uint8_t* TBitmap::ScanLine(int y) {
    if (y < 0 || y >= height_) throw EInvalidGraphicOperation(Format("Scan line index out of range (%d)", y));
    return pixels_.data() + start_ + static_cast<size_t>(bottomUp_ ? height_ - 1 - y : y) * rowBytes_;
}

const uint8_t* TBitmap::ScanLine(int y) const { return const_cast<TBitmap*>(this)->ScanLine(y); }

void TBitmap::SetPalette(const TLogPalette& palette) {
    palette_ = palette;
    if (palette_.palPalEntry.size() > 256) palette_.palPalEntry.resize(256);
}

TColor TBitmap::Pixel(int x, int y) const {
    if (x < 0 || x >= width_ || y < 0 || y >= height_) return clNone;
    const TRGBA c = ReadPixel(ScanLine(y), x, format_, palette_.palPalEntry);
    return RGB(c.r, c.g, c.b);
}

void TBitmap::SetPixel(int x, int y, TColor color) {
    if (x < 0 || x >= width_ || y < 0 || y >= height_) return;
    TPixelWriter(format_, palette_).Write(ScanLine(y), x, FromColor(color));
}

void TBitmap::FreeImage() {
    width_ = height_ = rowBytes_ = 0;
    bottomUp_ = false;
    start_ = 0;
    pixels_.clear();
    pixels_.shrink_to_fit();
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) const {
    TSkipRule skip;
    if (Transparent && TransparentColor != clNone) skip = {TSkipRule::skColor, TransparentColor & 0xFFFFFF};
    StretchCopy(*this, canvas.Bitmap(), rect, skip);
}

// ---- TPicture ------------------------------------------------------------

namespace {

// Most recent registration first.
std::vector<TPicture::Registration>& RegistrationList() {
    static std::vector<TPicture::Registration> registrations;
    return registrations;
}


std::unique_ptr<TGraphic> LoadAs(TGraphicClass graphicClass, TStream& stream, const std::string& fileName) {
    std::unique_ptr<TGraphic> graphic = graphicClass->Create();
    stream.SetPosition(0);
    graphic->LoadFromOpenFile(stream, fileName);
    return graphic;
}

bool ProbesAs(TGraphicClass graphicClass, TStream& stream) {
    return graphicClass->ProbeStream && graphicClass->ProbeStream(stream);
}

// The first class, in registration order, other than the one registered for
// the file's extension, whose probe knows the file's content; null if none.
TGraphicClass ClassByContent(TGraphicClass registered, TStream& stream) {
    stream.SetPosition(0);
    std::vector<TGraphicClass> probed = {registered};
    const auto& registrations = RegistrationList();
    for (auto r = registrations.rbegin(); r != registrations.rend(); ++r) {
        if (std::find(probed.begin(), probed.end(), r->Class) != probed.end()) continue;
        probed.push_back(r->Class);
        if (ProbesAs(r->Class, stream)) return r->Class;
    }
    return nullptr;
}

// The class registered for the extension reads a file whose content it
// knows as its own; a file it does not know is read by the registered class
// that does, as other readers go by content. Where none knows the file, the
// extension's class reads it, so that its error is the one raised. A class
// that cannot tell its files (no probe) reads first and yields only when it
// refuses the file. The file is opened once, for the probes and the load.
std::unique_ptr<TGraphic> LoadByContent(TGraphicClass registered, const std::string& fileName) {
    TFileStream stream(fileName, TFileStream::fmOpenRead);
    if (!registered->ProbeStream) {
        try {
            return LoadAs(registered, stream, fileName);
        } catch (const Exception&) {
            const TGraphicClass other = ClassByContent(registered, stream);
            if (!other) throw;
            return LoadAs(other, stream, fileName);
        }
    }
    const TGraphicClass other = ProbesAs(registered, stream) ? nullptr : ClassByContent(registered, stream);
    return LoadAs(other ? other : registered, stream, fileName);
}

}  // namespace

TPicture::~TPicture() = default;

void TPicture::LoadFromFile(const std::string& fileName) {
    std::string extension = ExtractFileExt(fileName);
    if (!extension.empty()) extension.erase(0, 1);
    const TGraphicClass graphicClass = FindGraphicClass(extension);
    if (!graphicClass) throw EInvalidGraphic(Format("Unknown picture file extension (.%s)", extension));
    graphic_ = LoadByContent(graphicClass, fileName);
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  TGraphicClass graphicClass) {
    const std::string lower = LowerCase(extension);
    if (lower.empty()) return;
    auto& list = RegistrationList();
    // Registering exactly the same thing again only makes it the most recent.
    std::erase_if(list, [&](const Registration& r) {
        return r.Extension == lower && r.Description == description && r.Class == graphicClass;
    });
    list.insert(list.begin(), {lower, description, graphicClass});
}

void TPicture::UnregisterGraphicClass(TGraphicClass graphicClass) {
    std::erase_if(RegistrationList(), [&](const Registration& r) { return r.Class == graphicClass; });
}

TGraphicClass TPicture::FindGraphicClass(const std::string& extension) {
    if (extension.empty()) return nullptr;
    const std::string lower = LowerCase(extension);
    for (const Registration& r : RegistrationList())
        if (r.Extension == lower) return r.Class;
    return nullptr;
}

std::vector<TPicture::Filter> TPicture::GraphicFilters() {
    std::vector<Filter> filters;
    std::vector<std::string> patterns;
    std::string all;
    for (const Registration& r : RegistrationList()) {
        const std::string pattern = "*." + r.Extension;
        filters.push_back({r.Description + " (" + pattern + ")", pattern});
        // A shadowed extension keeps its own entry but appears once in "All".
        if (std::find(patterns.begin(), patterns.end(), pattern) != patterns.end()) continue;
        patterns.push_back(pattern);
        all += (all.empty() ? "" : ";") + pattern;
    }
    if (filters.size() > 1) filters.insert(filters.begin(), {"All (" + all + ")", all});
    return filters;
}

std::vector<TPicture::Registration> TPicture::Registrations() { return RegistrationList(); }

void TPicture::RestoreRegistrations(std::vector<Registration> registrations) {
    RegistrationList() = std::move(registrations);
}
