// The framework's streams: an abstract byte stream with position and size,
// a file stream and a growable memory stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BlockAllocator.h"

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    // Reads at most count bytes; answers how many were read.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes at most count bytes; answers how many were written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Moves the position; answers the new position. Seeking past the end is
    // allowed (reads there deliver nothing).
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
    virtual int64_t Size();

    // Reads exactly count bytes or raises EReadError "Stream read error".
    void ReadBuffer(void* buffer, int64_t count);
    // ReadBuffer of count rows of rowBytes bytes each, the stream's bytes in
    // order, row i to first + i * stride (stride may be negative, for
    // pictures stored bottom row first).
    virtual void ReadRows(uint8_t* first, ptrdiff_t stride, uint32_t count, size_t rowBytes);
    // Writes exactly count bytes or raises EWriteError "Stream write error".
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source (all of it from the start when count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);
};

// Opens a file for reading (others may read but not write) or creates one.
// Small reads are served from a buffer of the file's bytes, so that readers
// may take a header field at a time without a system call each; large ones
// go straight into the caller's memory. The size is the file's when it was
// opened, grown by what the stream writes.
class TFileStream : public TStream {
public:
    enum Mode { fmOpenRead, fmCreate };
    // Raises EFOpenError "Cannot open file \"%s\"" when the file cannot be opened.
    TFileStream(const std::string& fileName, Mode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    void ReadRows(uint8_t* first, ptrdiff_t stride, uint32_t count, size_t rowBytes) override;

private:
    // Copies what the buffer holds from the position on, at most count bytes.
    int64_t TakeBuffered(uint8_t* target, int64_t count);
    // Reads from the file at the position, past the buffer.
    int64_t ReadDirect(uint8_t* target, int64_t count);
    // Fills the buffer with up to count bytes from the position on.
    void Fill(int64_t count);

    int fd_ = -1;
    int64_t position_ = 0, size_ = 0;
    // The file's bytes from bufferStart_ on; empty until the first small read.
    std::unique_ptr<uint8_t[]> buffer_;
    int64_t bufferCapacity_ = 0, bufferStart_ = 0, bufferLength_ = 0;
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    // A stream over a copy of the given bytes, positioned at 0.
    TMemoryStream(const void* data, size_t size);

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void ReadRows(uint8_t* first, ptrdiff_t stride, uint32_t count, size_t rowBytes) override;

    const uint8_t* Memory() const { return data_.data(); }
    uint8_t* Memory() { return data_.data(); }
    void SetSize(int64_t size);
    void Clear();
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);

private:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};

// Bytes read from a file land fastest in memory that shares their offset
// within a 4 KiB page: the kernel copies a file's cached pages several times
// slower to some other offsets. ReadAlignment is how far past base the
// first such address for bytes at file position lies, rounded down to a
// multiple of granule; a buffer that is to hold count bytes so placed needs
// count + ReadAlignmentSlack. Reads below AlignedReadBytes gain too little
// to spend the slack on.
constexpr size_t ReadAlignmentSlack = 4095;
constexpr size_t AlignedReadBytes = size_t(64) << 10;
size_t ReadAlignment(const void* base, int64_t position, size_t granule = 1);
// The position ReadAlignment takes for the stream's bytes at position: the
// address where a memory stream holds them, as they are copied from there,
// else the position itself.
int64_t AlignmentPosition(TStream& stream, int64_t position);

// The next count bytes of stream, which moves past them: where they lie in
// a memory stream's own data, else read into buffer (at their page offset
// when they are many). Raises EReadError when fewer are left.
const uint8_t* StreamBytes(TStream& stream, size_t count, TByteBlock& buffer);
