#include "Classes.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // Readers share the file; a cooperating writer waits until they are done.
    ::flock(fd_, LOCK_SH | LOCK_NB);
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t total = 0;
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (total < count) {
        const ssize_t got = ::read(fd_, bytes + total, static_cast<size_t>(count - total));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        total += got;
    }
    return total;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t total = 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (total < count) {
        const ssize_t put = ::write(fd_, bytes + total, static_cast<size_t>(count - total));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        total += put;
    }
    return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    const off_t position = ::lseek(fd_, offset, whence);
    return position < 0 ? ::lseek(fd_, 0, SEEK_CUR) : position;
}

int64_t TFileStream::Size() {
    struct stat info;
    return ::fstat(fd_, &info) == 0 ? info.st_size : 0;
}

// ---- TMemoryStream -------------------------------------------------------

TMemoryStream::TMemoryStream(const void* data, size_t size)
    : data_(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t available = std::max<int64_t>(0, Size() - position_);
    const int64_t take = std::clamp<int64_t>(count, 0, available);
    if (take > 0) std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(take));
    position_ += take;
    return take;
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
