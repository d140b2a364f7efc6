#include "Classes.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <immintrin.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "SysUtils.h"

int64_t TStream::Size() {
    const int64_t position = Position();
    const int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(position, TSeekOrigin::soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count < 0 || (count != 0 && Read(buffer, count) != count)) throw EReadError("Stream read error");
}

void TStream::ReadRows(uint8_t* first, ptrdiff_t stride, uint32_t count, size_t rowBytes) {
    if (stride == static_cast<ptrdiff_t>(rowBytes)) {
        ReadBuffer(first, static_cast<int64_t>(count * rowBytes));
        return;
    }
    for (uint32_t i = 0; i < count; ++i)
        ReadBuffer(first + static_cast<ptrdiff_t>(i) * stride, static_cast<int64_t>(rowBytes));
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count < 0 || (count != 0 && Write(buffer, count) != count)) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    uint8_t chunk[65536];
    int64_t left = count;
    while (left > 0) {
        const int64_t piece = std::min<int64_t>(left, sizeof chunk);
        source.ReadBuffer(chunk, piece);
        WriteBuffer(chunk, piece);
        left -= piece;
    }
    return count;
}

// ---- TFileStream ---------------------------------------------------------

namespace {

// Reads below this size go through the buffer, larger ones straight into
// the caller's memory.
constexpr int64_t FileBufferSize = 4096;
// ReadRows of up to this many bytes goes through the buffer.
constexpr uint64_t GatheredRowsLimit = uint64_t(256) << 10;

}  // namespace

TFileStream::TFileStream(const std::string& fileName, Mode mode) {
    if (mode == fmCreate) {
        fd_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0) throw EFOpenError(Format("Cannot create file \"%s\"", fileName));
        return;
    }
    fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (fd_ >= 0 && (::fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode))) {
        ::close(fd_);
        fd_ = -1;
        errno = EISDIR;
    }
    if (fd_ < 0) throw EFOpenError(Format("Cannot open file \"%s\"", fileName));
    size_ = info.st_size;
    // Readers share the file; a cooperating writer waits until they are done.
    ::flock(fd_, LOCK_SH | LOCK_NB);
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::TakeBuffered(uint8_t* target, int64_t count) {
    const int64_t skip = position_ - bufferStart_;
    if (skip < 0 || skip >= bufferLength_) return 0;
    const int64_t take = std::min(count, bufferLength_ - skip);
    std::memcpy(target, buffer_.get() + skip, static_cast<size_t>(take));
    position_ += take;
    return take;
}

int64_t TFileStream::ReadDirect(uint8_t* target, int64_t count) {
    int64_t total = 0;
    while (total < count) {
        const ssize_t got = ::pread(fd_, target + total, static_cast<size_t>(count - total), position_);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        total += got;
        position_ += got;
    }
    return total;
}

void TFileStream::Fill(int64_t count) {
    if (bufferCapacity_ < count) {
        buffer_.reset();
        buffer_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(count));
        bufferCapacity_ = count;
    }
    const int64_t start = position_;
    bufferLength_ = 0;
    bufferLength_ = ReadDirect(buffer_.get(), count);
    bufferStart_ = start;
    position_ = start;
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    if (count <= 0) return 0;
    int64_t total = TakeBuffered(bytes, count);
    if (total == count) return total;
    if (count - total >= FileBufferSize) return total + ReadDirect(bytes + total, count - total);
    Fill(FileBufferSize);
    return total + TakeBuffered(bytes + total, count - total);
}

void TFileStream::ReadRows(uint8_t* first, ptrdiff_t stride, uint32_t count, size_t rowBytes) {
    uint32_t row = 0;
    size_t partial = 0;  // bytes of the current row already read
    const auto at = [&](uint32_t i) { return first + static_cast<ptrdiff_t>(i) * stride; };
    const auto takeBuffered = [&] {
        while (row < count) {
            const int64_t took = TakeBuffered(at(row) + partial, static_cast<int64_t>(rowBytes - partial));
            if (took == 0) break;
            partial += static_cast<size_t>(took);
            if (partial == rowBytes) ++row, partial = 0;
        }
    };
    if (rowBytes == 0) return;
    // Rows back to back are one read.
    if (stride == static_cast<ptrdiff_t>(rowBytes)) {
        TStream::ReadRows(first, stride, count, rowBytes);
        return;
    }
    takeBuffered();
    // The rows of a small picture are read into the buffer in one piece and
    // copied from there: the kernel takes longer to fill many short rows
    // one by one than that copy takes.
    const uint64_t left = uint64_t(count - row) * rowBytes - partial;
    if (row + 1 < count && left <= GatheredRowsLimit) {
        Fill(static_cast<int64_t>(left));
        takeBuffered();
        if (row < count) throw EReadError("Stream read error");
        return;
    }
    // Larger ones go straight into the rows, many rows a system call.
    iovec pieces[256];
    while (row < count) {
        int used = 0;
        for (uint32_t i = row; i < count && used < 256; ++i, ++used) {
            const size_t skip = i == row ? partial : 0;
            pieces[used] = {at(i) + skip, rowBytes - skip};
        }
        const ssize_t got = ::preadv(fd_, pieces, used, position_);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw EReadError("Stream read error");
        position_ += got;
        // Advance over the rows the call filled.
        size_t filled = static_cast<size_t>(got);
        while (filled > 0) {
            const size_t take = std::min(filled, rowBytes - partial);
            filled -= take;
            partial += take;
            if (partial == rowBytes) ++row, partial = 0;
        }
    }
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    // The buffer may hold bytes that this write replaces.
    bufferLength_ = 0;
    int64_t total = 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (total < count) {
        const ssize_t put = ::pwrite(fd_, bytes + total, static_cast<size_t>(count - total), position_);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        total += put;
        position_ += put;
    }
    size_ = std::max(size_, position_);
    return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? position_ : size_;
    int64_t target;
    if (!__builtin_add_overflow(base, offset, &target) && target >= 0) position_ = target;
    return position_;
}

// ---- TMemoryStream -------------------------------------------------------

namespace {

// Pictures of this many bytes and more are stored past the cache.
constexpr size_t StreamingCopyBytes = size_t(4) << 20;

// Copies n bytes in 64-byte blocks of vector moves. The C library's copy
// turns a large one into a string instruction, which some processors run at
// a fraction of the speed when source and target are not aligned alike, as
// pixels behind a file header rarely are. Streaming stores bypass the cache:
// a picture of StreamingCopyBytes does not stay there anyway, and such stores
// need not first fetch the lines they fill, a third of the copy's cost.
// The cached copy with 32-byte moves, half the instructions, where the
// processor has them. Its stores are aligned, since one that crosses two
// cache lines costs more than such a load; the first and the last 32 bytes
// are moved apart, over the aligned ones. n is at least 64.
__attribute__((target("avx2"))) void CopyBlocks32(uint8_t* out, const uint8_t* in, size_t n) {
    const auto at = [](const uint8_t* p) { return reinterpret_cast<const __m256i*>(p); };
    const __m256i first = _mm256_loadu_si256(at(in)), last = _mm256_loadu_si256(at(in + n - 32));
    size_t i = 32 - (reinterpret_cast<uintptr_t>(out) & 31);
    for (; i + 64 <= n; i += 64) {
        const __m256i a = _mm256_loadu_si256(at(in + i)), b = _mm256_loadu_si256(at(in + i + 32));
        auto* to = reinterpret_cast<__m256i*>(out + i);
        _mm256_store_si256(to, a), _mm256_store_si256(to + 1, b);
    }
    if (i + 32 <= n) _mm256_store_si256(reinterpret_cast<__m256i*>(out + i), _mm256_loadu_si256(at(in + i)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), first);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + n - 32), last);
}

template <bool Streaming>
void CopyBlocks(uint8_t* out, const uint8_t* in, size_t n) {
    if (n < 64) {
        std::memcpy(out, in, n);
        return;
    }
    if (!Streaming && __builtin_cpu_supports("avx2")) {
        CopyBlocks32(out, in, n);
        return;
    }
    const size_t head = std::min(n, static_cast<size_t>(-reinterpret_cast<uintptr_t>(out) & 15));
    std::memcpy(out, in, head);
    size_t i = head;
    for (; i + 64 <= n; i += 64) {
        const auto* from = reinterpret_cast<const __m128i*>(in + i);
        const __m128i a = _mm_loadu_si128(from), b = _mm_loadu_si128(from + 1);
        const __m128i c = _mm_loadu_si128(from + 2), d = _mm_loadu_si128(from + 3);
        auto* to = reinterpret_cast<__m128i*>(out + i);
        if constexpr (Streaming) {
            _mm_stream_si128(to, a), _mm_stream_si128(to + 1, b), _mm_stream_si128(to + 2, c), _mm_stream_si128(to + 3, d);
        } else {
            _mm_store_si128(to, a), _mm_store_si128(to + 1, b), _mm_store_si128(to + 2, c), _mm_store_si128(to + 3, d);
        }
    }
    std::memcpy(out + i, in + i, n - i);
}

}  // namespace

TMemoryStream::TMemoryStream(const void* data, size_t size)
    : data_(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t available = std::max<int64_t>(0, Size() - position_);
    const int64_t take = std::clamp<int64_t>(count, 0, available);
    if (take > 0) CopyBlocks<false>(static_cast<uint8_t*>(buffer), data_.data() + position_, static_cast<size_t>(take));
    position_ += take;
    return take;
}


void TMemoryStream::ReadRows(uint8_t* first, ptrdiff_t stride, uint32_t count, size_t rowBytes) {
    const size_t bytes = size_t(count) * rowBytes;
    // Rows that run past the data go one at a time, to fail where the data ends.
    if (position_ > Size() || bytes > static_cast<size_t>(Size() - position_)) {
        TStream::ReadRows(first, stride, count, rowBytes);
        return;
    }
    const uint8_t* in = data_.data() + position_;
    const bool streaming = bytes >= StreamingCopyBytes;
    // Rows back to back are copied as one.
    if (stride == static_cast<ptrdiff_t>(rowBytes)) rowBytes = bytes, count = 1;
    for (uint32_t i = 0; i < count; ++i, in += rowBytes) {
        uint8_t* out = first + static_cast<ptrdiff_t>(i) * stride;
        streaming ? CopyBlocks<true>(out, in, rowBytes) : CopyBlocks<false>(out, in, rowBytes);
    }
    if (streaming) _mm_sfence();
    position_ += static_cast<int64_t>(bytes);
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    const int64_t end = position_ + count;
    if (end > Size()) data_.resize(static_cast<size_t>(end));
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? position_ : Size();
    const int64_t target = base + offset;
    if (target >= 0) position_ = target;
    return position_;
}

void TMemoryStream::SetSize(int64_t size) {
    data_.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
    position_ = std::min(position_, Size());
}

void TMemoryStream::Clear() {
    data_.clear();
    position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, TFileStream::fmOpenRead);
    const int64_t size = file.Size();
    std::vector<uint8_t> data(static_cast<size_t>(size));
    file.ReadBuffer(data.data(), size);
    data_ = std::move(data);
    position_ = 0;
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, TFileStream::fmCreate);
    file.WriteBuffer(data_.data(), Size());
}

size_t ReadAlignment(const void* base, int64_t position, size_t granule) {
    // Unsigned differences wrap modulo a power of two that the page divides.
    const size_t lead = (static_cast<size_t>(position) - reinterpret_cast<uintptr_t>(base)) % (ReadAlignmentSlack + 1);
    return lead / granule * granule;
}

int64_t AlignmentPosition(TStream& stream, int64_t position) {
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream))
        return static_cast<int64_t>(reinterpret_cast<uintptr_t>(memory->Memory()) + static_cast<uint64_t>(position));
    return position;
}

const uint8_t* StreamBytes(TStream& stream, size_t count, TByteBlock& buffer) {
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
        const int64_t position = memory->Position();
        if (position > memory->Size() || count > uint64_t(memory->Size() - position)) throw EReadError("Stream read error");
        memory->Seek(int64_t(count), TSeekOrigin::soCurrent);
        return memory->Memory() + position;
    }
    const bool aligned = count >= AlignedReadBytes;
    // The buffer's earlier bytes are not kept: growing an empty block
    // copies none of them.
    buffer.clear();
    buffer.resize(aligned ? count + ReadAlignmentSlack : count);
    uint8_t* target = buffer.data() + (aligned ? ReadAlignment(buffer.data(), stream.Position()) : 0);
    stream.ReadBuffer(target, int64_t(count));
    return target;
}
