#include "Jpeg.h"

// jpeglib.h expects size_t and FILE to be declared.
#include <csetjmp>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include <jpeglib.h>

#include "PixelAccess.h"
#include "SysUtils.h"

namespace {

constexpr int64_t kMaxPixels = int64_t{1} << 28;
// A progressive file can repeat scans without end; real files use a few
// dozen at most.
constexpr int kMaxScans = 1000;
// Every 8 x 8 block of every component costs at least one bit of Huffman
// code (its DC difference in the first scan that carries it); arithmetic
// coding can spend less, and is allowed 64 blocks a byte. A file with fewer
// bytes than its blocks need is refused before the bitmap is allocated.
constexpr uint64_t kHuffmanBlocksPerByte = 8, kArithmeticBlocksPerByte = 64;

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to DecodeJpeg, which turns the message into an exception
// once libjpeg's state is destroyed.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
};

// Ends decoding with the message already in errors.message.
[[noreturn]] void Escape(ErrorManager& errors) { std::longjmp(errors.escape, 1); }

void ErrorExit(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    Escape(*manager);
}

// Warnings (such as data that ends early) are not errors here; libjpeg
// counts them in num_warnings and decoding carries on.
void EmitMessage(j_common_ptr info, int level) {
    if (level < 0) ++info->err->num_warnings;
}

uint64_t BlockCount(const jpeg_decompress_struct& info) {
    uint64_t blocks = 0;
    for (int i = 0; i < info.num_components; ++i)
        blocks += uint64_t(info.comp_info[i].width_in_blocks) * info.comp_info[i].height_in_blocks;
    return blocks;
}

void CountScans(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxScans) {
        auto* manager = reinterpret_cast<ErrorManager*>(info->err);
        std::snprintf(manager->message, JMSG_LENGTH_MAX, "Too many progressive scans");
        Escape(*manager);
    }
}

struct Decompressor {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    jpeg_progress_mgr progress{};
    bool created = false;
    ~Decompressor() {
        if (created) jpeg_destroy_decompress(&info);
    }
};

void SetGrayPalette(TBitmap& bitmap) {
    TLogPalette palette;
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        palette.palPalEntry.push_back({v, v, v, 0});
    }
    bitmap.SetPalette(palette);
}

// Four-component pixels to BGR. Adobe's writers store the components
// inverted (255 means no ink); others store ink amounts.
void CmykRowToBgr(const uint8_t* cmyk, uint8_t* bgr, int width, bool inverted) {
    for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        bgr[0] = static_cast<uint8_t>(y * k / 255);
        bgr[1] = static_cast<uint8_t>(m * k / 255);
        bgr[2] = static_cast<uint8_t>(c * k / 255);
    }
}

// Decodes into bitmap (pf8bit grey or pf24bit); answers false with the
// message when libjpeg fails. Nothing with a destructor may be created
// between setjmp and the end of decoding except what libjpeg itself holds.
bool DecodeJpeg(const uint8_t* data, size_t size, TBitmap& bitmap, std::vector<uint8_t>& rowBuffer,
                std::string& error) {
    Decompressor d;
    d.info.err = jpeg_std_error(&d.errors.base);
    d.errors.base.error_exit = ErrorExit;
    d.errors.base.emit_message = EmitMessage;
    if (setjmp(d.errors.escape)) {
        error = d.errors.message;
        return false;
    }
    jpeg_create_decompress(&d.info);
    d.created = true;
    d.progress.progress_monitor = CountScans;
    d.info.progress = &d.progress;
    d.info.mem->max_memory_to_use = 1024L * 1024 * 1024;
    jpeg_mem_src(&d.info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.info, TRUE);

    const bool gray = d.info.jpeg_color_space == JCS_GRAYSCALE;
    const bool cmyk = d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK;
    d.info.out_color_space = gray ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGR;
    if (static_cast<int64_t>(d.info.image_width) * d.info.image_height > kMaxPixels) {
        std::snprintf(d.errors.message, JMSG_LENGTH_MAX, "Image of %u x %u pixels is too large", d.info.image_width,
                      d.info.image_height);
        Escape(d.errors);
    }
    const uint64_t blocksPerByte = d.info.arith_code ? kArithmeticBlocksPerByte : kHuffmanBlocksPerByte;
    if (BlockCount(d.info) > size * blocksPerByte) {
        std::snprintf(d.errors.message, JMSG_LENGTH_MAX, "Image of %u x %u pixels is larger than its data can hold",
                      d.info.image_width, d.info.image_height);
        Escape(d.errors);
    }
    jpeg_start_decompress(&d.info);

    const int width = static_cast<int>(d.info.output_width), height = static_cast<int>(d.info.output_height);
    bitmap.SetPixelFormat(gray ? pf8bit : pf24bit);
    if (gray) SetGrayPalette(bitmap);
    // libjpeg delivers every row, inventing those of data that ends early.
    bitmap.SetSizeForOverwrite(width, height);
    const bool inverted = d.info.saw_Adobe_marker;
    // Colour rows go straight into the bitmap, as many a call as libjpeg
    // decodes at once (a row of blocks); CMYK ones through a row of their own.
    // The bitmap's rows lie a fixed step apart, so their addresses are
    // counted on rather than asked of the bitmap for every call: libjpeg
    // returns a single row a call when it upsamples 4:2:0 colour.
    constexpr int MaxRows = 16;
    if (cmyk) rowBuffer.resize(static_cast<size_t>(width) * 4);
    uint8_t* const top = bitmap.ScanLine(0);
    const ptrdiff_t step = height > 1 ? bitmap.ScanLine(1) - top : 0;
    while (d.info.output_scanline < d.info.output_height) {
        const int first = static_cast<int>(d.info.output_scanline);
        JSAMPROW rows[MaxRows];
        const int asked = cmyk ? 1 : std::min(MaxRows, height - first);
        for (int i = 0; i < asked; ++i) rows[i] = cmyk ? rowBuffer.data() : top + (first + i) * step;
        const int got = static_cast<int>(jpeg_read_scanlines(&d.info, rows, static_cast<JDIMENSION>(asked)));
        if (cmyk && got == 1) CmykRowToBgr(rowBuffer.data(), bitmap.ScanLine(first), width, inverted);
        if (got == 0) break;
    }
    for (int y = static_cast<int>(d.info.output_scanline); y < height; ++y)
        std::memset(bitmap.ScanLine(y), 0, static_cast<size_t>(bitmap.RowBytes()));
    jpeg_finish_decompress(&d.info);
    return true;
}

std::unique_ptr<TGraphic> CreateJpeg() { return std::make_unique<TJPEGImage>(); }

bool ProbeJpeg(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t head[3] = {};
    const bool ok = stream.Read(head, 3) == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
    stream.SetPosition(start);
    return ok;
}

}  // namespace

const TGraphicClassDesc TJPEGImage::ClassDesc = {"TJPEGImage", CreateJpeg, ProbeJpeg, nullptr};

void TJPEGImage::LoadFromStream(TStream& stream) {
    const int64_t available = std::max<int64_t>(0, stream.Size() - stream.Position());
    TByteBlock buffer;
    const uint8_t* data = StreamBytes(stream, static_cast<size_t>(available), buffer);

    // The buffers live outside DecodeJpeg, whose stack a libjpeg error
    // unwinds by longjmp; an exception from SetSize is caught here too.
    TBitmap image;
    std::vector<uint8_t> rowBuffer;
    std::string error;
    if (!DecodeJpeg(data, static_cast<size_t>(available), image, rowBuffer, error)) throw EInvalidGraphic("JPEG error: " + error);
    image_ = std::move(image);
}

void TJPEGImage::Draw(TCanvas& canvas, const TRect& rect) const { StretchCopy(image_, canvas.Bitmap(), rect, {}); }
