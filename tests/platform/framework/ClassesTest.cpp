#include "Classes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
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
