#include "Classes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>
#include <filesystem>

#include "SysUtils.h"

namespace {

TEST(MemoryStream, ReadsWritesAndSeeks) {
    TMemoryStream stream;
    stream.WriteBuffer("abcdef", 6);
    EXPECT_EQ(stream.Size(), 6);
    EXPECT_EQ(stream.Position(), 6);
    stream.Seek(-4, TSeekOrigin::soEnd);
    char two[2];
    stream.ReadBuffer(two, 2);
    EXPECT_EQ(std::string(two, 2), "cd");
    // Writing in the middle overwrites; past the end it grows.
    stream.Seek(-1, TSeekOrigin::soCurrent);
    stream.WriteBuffer("XYZW", 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Memory()), 7), "abcXYZW");
    stream.SetPosition(100);
    EXPECT_EQ(stream.Read(two, 2), 0);
    EXPECT_EQ(stream.Seek(-1, TSeekOrigin::soBeginning), 100) << "a negative position is refused";
}

TEST(MemoryStream, ShortReadBufferRaisesReadError) {
    TMemoryStream stream("abc", 3);
    char buffer[4];
    try {
        stream.ReadBuffer(buffer, 4);
        FAIL() << "no exception";
    } catch (const EReadError& error) {
        EXPECT_STREQ(error.what(), "Stream read error");
    }
    stream.SetPosition(0);
    EXPECT_NO_THROW(stream.ReadBuffer(buffer, 3));
    EXPECT_THROW(stream.ReadBuffer(buffer, -1), EReadError);
}

TEST(MemoryStream, SetSizeClampsThePosition) {
    TMemoryStream stream("abcdef", 6);
    stream.SetPosition(5);
    stream.SetSize(2);
    EXPECT_EQ(stream.Position(), 2);
    stream.Clear();
    EXPECT_EQ(stream.Size(), 0);
}

// Reads are copied in aligned blocks with separate first and last pieces:
// every length, from every place in the data, to every place in a line.
TEST(MemoryStream, ReadsOfEveryLengthAndAlignmentCopyExactlyTheBytes) {
    std::vector<uint8_t> data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 13 + 1);
    TMemoryStream stream(data.data(), data.size());
    alignas(64) uint8_t target[64 + 256 + 64];
    for (size_t length = 0; length <= 200; ++length)
        for (size_t from : {0, 1, 31, 33})
            for (size_t offset = 0; offset < 64; ++offset) {
                std::memset(target, 0xEE, sizeof target);
                stream.SetPosition(int64_t(from));
                ASSERT_EQ(stream.Read(target + offset, int64_t(length)), int64_t(length));
                ASSERT_TRUE(std::equal(data.begin() + from, data.begin() + from + length, target + offset))
                    << length << " bytes from " << from << " to " << offset;
                ASSERT_TRUE(std::all_of(target, target + offset, [](uint8_t b) { return b == 0xEE; }));
                ASSERT_TRUE(
                    std::all_of(target + offset + length, std::end(target), [](uint8_t b) { return b == 0xEE; }));
            }
}

class FileStreamTest : public ::testing::Test {
protected:
    std::string path_ = (std::filesystem::temp_directory_path() / ("classes-" + std::to_string(::getpid()))).string();
    void TearDown() override { std::filesystem::remove(path_); }
};

TEST_F(FileStreamTest, WritesThenReadsBack) {
    {
        TFileStream out(path_, TFileStream::fmCreate);
        out.WriteBuffer("hello world", 11);
    }
    TFileStream in(path_, TFileStream::fmOpenRead);
    EXPECT_EQ(in.Size(), 11);
    in.Seek(6, TSeekOrigin::soBeginning);
    char word[5];
    in.ReadBuffer(word, 5);
    EXPECT_EQ(std::string(word, 5), "world");
    EXPECT_THROW(in.ReadBuffer(word, 1), EReadError);

    TMemoryStream copy;
    EXPECT_EQ(copy.CopyFrom(in, 0), 11);
    EXPECT_EQ(std::memcmp(copy.Memory(), "hello world", 11), 0);
}

// Rows read into a picture, top first or bottom first, with gaps between
// them or back to back, after a header read through the file stream's
// buffer: small pictures are gathered in one read, large ones read straight
// into the rows. The same from a memory stream; a short read raises.
TEST_F(FileStreamTest, ReadRowsPlacesEveryRowWhereverItGoes) {
    std::vector<uint8_t> file(7 + 1000 * 700);
    for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i * 7 + i / 251);
    {
        TFileStream out(path_, TFileStream::fmCreate);
        out.WriteBuffer(file.data(), int64_t(file.size()));
    }
    const struct {
        uint32_t Rows;
        size_t RowBytes, Gap;
        bool BottomUp;
    } cases[] = {{3, 5, 3, false}, {30, 100, 4, true}, {1000, 700, 0, false}, {1000, 699, 1, true}, {600, 1, 3, true}};
    for (const auto& c : cases) {
        const ptrdiff_t stride = ptrdiff_t(c.RowBytes + c.Gap);
        for (bool fromFile : {true, false}) {
            std::vector<uint8_t> rows(c.Rows * size_t(stride), 0xEE);
            uint8_t* first = rows.data() + (c.BottomUp ? (c.Rows - 1) * size_t(stride) : 0);
            TFileStream onDisk(path_, TFileStream::fmOpenRead);
            TMemoryStream inMemory(file.data(), file.size());
            TStream& stream = fromFile ? static_cast<TStream&>(onDisk) : inMemory;
            char head[7];
            stream.ReadBuffer(head, 7);
            stream.ReadRows(first, c.BottomUp ? -stride : stride, c.Rows, c.RowBytes);
            EXPECT_EQ(stream.Position(), int64_t(7 + c.Rows * c.RowBytes));
            for (uint32_t r = 0; r < c.Rows; ++r) {
                const uint8_t* row = first + (c.BottomUp ? -1 : 1) * ptrdiff_t(r) * stride;
                ASSERT_TRUE(std::equal(row, row + c.RowBytes, file.begin() + 7 + r * c.RowBytes))
                    << c.Rows << " rows from " << (fromFile ? "file" : "memory") << ", row " << r;
                ASSERT_TRUE(std::all_of(row + c.RowBytes, row + stride, [](uint8_t b) { return b == 0xEE; }));
            }
            stream.Seek(-10, TSeekOrigin::soEnd);
            EXPECT_THROW(stream.ReadRows(rows.data(), stride, 2, 6), EReadError);
        }
    }
}

TEST_F(FileStreamTest, MissingFileRaisesOpenErrorNamingIt) {
    try {
        TFileStream in(path_ + "-missing", TFileStream::fmOpenRead);
        FAIL() << "no exception";
    } catch (const EFOpenError& error) {
        EXPECT_EQ(error.Message(), "Cannot open file \"" + path_ + "-missing\"");
    }
    EXPECT_THROW(TFileStream(std::filesystem::temp_directory_path().string(), TFileStream::fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(path_ + "/no/such/dir", TFileStream::fmCreate), EFOpenError);
}

TEST_F(FileStreamTest, MemoryStreamFileRoundTrip) {
    TMemoryStream data("\x00\x01\x02", 3);
    data.SaveToFile(path_);
    TMemoryStream back;
    back.LoadFromFile(path_);
    ASSERT_EQ(back.Size(), 3);
    EXPECT_EQ(back.Memory()[2], 2);
}

}  // namespace
