// The TIFF JPEG strip decoder on libjpeg. libjpeg reports fatal errors
// through error_exit, which must not return: it jumps back into Call(),
// which turns the library's message into EGraphicCompression.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "compression/GraphicCompression.h"
#include "GraphicFormats.h"
#include "GraphicStrings.h"
// Before jpeglib.h, whose TRUE and FALSE macros would spoil its constants.
#include "Windows.h"

#include <jpeglib.h>

namespace {

// A strip can repeat progressive scans without end; real data has a dozen.
constexpr int MaxScans = 1000;

// Served when the data runs out: an end-of-image marker.
constexpr JOCTET EndOfImage[2] = {0xFF, JPEG_EOI};

}  // namespace

struct TTIFFJPEGDecoder::Library {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    jpeg_progress_mgr progress{};
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX] = {};
    // The data the source manager serves next.
    const JOCTET* data = nullptr;
    size_t count = 0;
    bool created = false;

    Library() {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = ErrorExit;
        errors.output_message = OutputMessage;
        info.client_data = this;
        source.init_source = InitSource;
        source.fill_input_buffer = FillInputBuffer;
        source.skip_input_data = SkipInputData;
        source.resync_to_restart = jpeg_resync_to_restart;
        source.term_source = TermSource;
        progress.progress_monitor = CountScans;
    }
    ~Library() {
        if (created) jpeg_destroy_decompress(&info);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    static Library& Of(j_common_ptr info) { return *static_cast<Library*>(info->client_data); }
    static Library& Of(j_decompress_ptr info) { return *static_cast<Library*>(info->client_data); }

    // Runs one step of libjpeg calls (which must leave no C++ objects behind
    // on their stack); a library error aborts the decompression and raises.
    template <class Step>
    void Call(Step step) {
        if (setjmp(escape) == 0) {
            step();
            return;
        }
        jpeg_abort_decompress(&info);
        throw EGraphicCompression(message);
    }

    void Serve(const uint8_t* bytes, size_t size) {
        data = bytes;
        count = size;
        info.src = &source;
        source.next_input_byte = nullptr;
        source.bytes_in_buffer = 0;
    }

    [[noreturn]] static void ErrorExit(j_common_ptr info) {
        Library& library = Of(info);
        (*info->err->format_message)(info, library.message);
        std::longjmp(library.escape, 1);
    }

    static void OutputMessage(j_common_ptr info) {
        char text[JMSG_LENGTH_MAX];
        (*info->err->format_message)(info, text);
        MessageBoxA(nullptr, text, gsWarning, MB_OK | MB_ICONWARNING);
    }

    static void CountScans(j_common_ptr info) {
        auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
        if (decompress->input_scan_number <= MaxScans) return;
        Library& library = Of(info);
        std::snprintf(library.message, sizeof library.message, "%s", gsJPEGTooManyScans);
        std::longjmp(library.escape, 1);
    }

    static void InitSource(j_decompress_ptr info) {
        Library& library = Of(info);
        library.source.next_input_byte = library.data;
        library.source.bytes_in_buffer = library.count;
    }

    static boolean FillInputBuffer(j_decompress_ptr info) {
        MessageBoxA(nullptr, gsJPEGEOI, gsWarning, MB_OK | MB_ICONWARNING);
        Library& library = Of(info);
        library.source.next_input_byte = EndOfImage;
        library.source.bytes_in_buffer = sizeof EndOfImage;
        return TRUE;
    }

    static void SkipInputData(j_decompress_ptr info, long count) {
        if (count <= 0) return;
        jpeg_source_mgr& source = Of(info).source;
        if (size_t(count) <= source.bytes_in_buffer) {
            source.next_input_byte += count;
            source.bytes_in_buffer -= size_t(count);
        } else {
            FillInputBuffer(info);
        }
    }

    static void TermSource(j_decompress_ptr) {}
};

TTIFFJPEGDecoder::TTIFFJPEGDecoder(TImageProperties& properties, bool blueFirst)
    : properties_(properties), blueFirst_(blueFirst) {
    if (!properties.JPEGTables.empty()) {
        tables_ = properties.JPEGTables.data();
        tablesLength_ = static_cast<uint32_t>(properties.JPEGTables.size());
    }
}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() = default;

void TTIFFJPEGDecoder::BeginDecode() {
    library_ = std::make_unique<Library>();
    Library& library = *library_;
    library.Call([&library] { jpeg_create_decompress(&library.info); });
    library.created = true;
    library.info.progress = &library.progress;

    if (tables_ != nullptr) {
        library.Serve(tables_, tablesLength_);
        int result = 0;
        library.Call([&library, &result] { result = jpeg_read_header(&library.info, FALSE); });
        if (result != JPEG_HEADER_TABLES_ONLY) throw EGraphicCompression(gsJPEGBogusTableField);
    }
}

void TTIFFJPEGDecoder::EndDecode() { library_.reset(); }

void TTIFFJPEGDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
    DecodeUpTo(source, dest, packedSize, unpackedSize);
}

uint8_t* TTIFFJPEGDecoder::DecodeUpTo(const uint8_t* source, uint8_t* dest, int32_t packedSize,
                                      int32_t unpackedSize) {
    if (!library_) BeginDecode();
    Library& library = *library_;
    jpeg_decompress_struct& info = library.info;
    const TImageProperties& p = properties_;

    library.Call([&info] { jpeg_abort_decompress(&info); });
    library.Serve(source, size_t(std::max(packedSize, 0)));
    library.Call([&info] { jpeg_read_header(&info, TRUE); });

    const uint32_t rowsLeft = p.Height - std::min(p.CurrentRow, p.Height);
    const uint32_t rows = p.RowsPerStrip.empty() ? rowsLeft : std::min(p.RowsPerStrip[0], rowsLeft);
    const bool interleaved = p.PlanarConfig == 1;
    // The data is trusted as libtiff trusts it: a last strip coded at the
    // full strip height gives the rows the image still needs, a shorter one
    // what it holds; only a stream taller than any strip (whose decoding
    // could cost what no strip holds) or of another width is refused.
    const uint32_t tallest = std::max(rows, p.RowsPerStrip.empty() ? 0u : p.RowsPerStrip[0]);
    if (info.image_width != p.Width || info.image_height > tallest) throw EGraphicCompression(gsJPEGStripSize);
    if (info.num_components != (interleaved ? p.SamplesPerPixel : 1)) throw EGraphicCompression(gsJPEGComponentCount);
    if (info.data_precision != p.BitsPerSample) throw EGraphicCompression(gsJPEGDataPrecision);
    // Interleaved data may be subsampled otherwise than YCbCrSubSampling
    // says (writers that leave the tag at its default): libjpeg follows the
    // data's own factors. A separately stored plane is one full component.
    if (!interleaved && (info.comp_info[0].h_samp_factor != 1 || info.comp_info[0].v_samp_factor != 1))
        throw EGraphicCompression(gsJPEGSamplingFactors);

    // Only YCbCr pixels are converted, and red, green and blue ones put in
    // blue-first order when asked; libjpeg has no conversion from components
    // of unknown meaning, so all else comes out as stored.
    const bool three = info.num_components == 3;
    const bool convert = p.ColorScheme == csYCbCr && three;
    const bool reorder = p.ColorScheme == csRGB && three && blueFirst_;
    info.jpeg_color_space = convert ? JCS_YCbCr : reorder ? JCS_RGB : JCS_UNKNOWN;
    info.out_color_space = reorder || (convert && blueFirst_) ? JCS_EXT_BGR : convert ? JCS_RGB : JCS_UNKNOWN;
    library.Call([&info] { jpeg_start_decompress(&info); });

    const uint32_t lineBytes = p.BytesPerLine;
    if (lineBytes == 0 || unpackedSize < 0 || uint32_t(unpackedSize) % lineBytes != 0 ||
        uint64_t(info.output_width) * info.output_components > lineBytes) {
        jpeg_abort_decompress(&info);
        throw EGraphicCompression(gsJPEGScanline);
    }
    const uint32_t lines = uint32_t(unpackedSize) / lineBytes;
    // Lines are written whole: what a line holds past its pixels is zero.
    const size_t pixelBytes = size_t(info.output_width) * info.output_components;
    uint32_t written = 0;
    library.Call([&info, dest, lines, lineBytes, pixelBytes, &written] {
        // libjpeg is asked for as many lines as it can give in one call.
        JSAMPROW group[16];
        while (written < lines && info.output_scanline < info.output_height) {
            const uint32_t wanted = std::min<uint32_t>(lines - written, std::size(group));
            for (uint32_t k = 0; k < wanted; ++k) group[k] = dest + size_t(written + k) * lineBytes;
            const JDIMENSION read = jpeg_read_scanlines(&info, group, wanted);
            if (read == 0) break;
            for (uint32_t k = 0; k < read; ++k) std::memset(group[k] + pixelBytes, 0, lineBytes - pixelBytes);
            written += read;
        }
    });
    // Finishing checks that every line was read; a short strip is left as
    // it is.
    if (info.output_scanline == info.output_height)
        library.Call([&info] { jpeg_finish_decompress(&info); });
    else
        jpeg_abort_decompress(&info);
    return dest + size_t(written) * lineBytes;
}
