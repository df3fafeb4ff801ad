// The buffered output file: same bytes as written, errors are not swallowed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "output/output_file.h"
#include "support/temp_dir.h"

namespace {

// A file written piece by piece next to what it must end up holding.
class WrittenFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::FileError err;
        ASSERT_TRUE(f.Create(dir.File("out.bin"), &err));
    }
    void Add(const std::vector<unsigned char>& bytes) {
        f.Write(bytes.data(), bytes.size());
        expect.insert(expect.end(), bytes.begin(), bytes.end());
    }
    void CloseAndCompare() {
        EXPECT_EQ(f.BytesWritten(), expect.size());
        f.Close();
        EXPECT_EQ(ReadFileBytes(dir.File("out.bin")), expect);
    }

    TempDir dir;
    COutputFile f;
    std::vector<unsigned char> expect;
};

TEST_F(WrittenFileTest, BytesOnDiskAreTheBytesWrittenAcrossFlushes) {
    for (int i = 0; i < 5000; ++i) {
        Add(std::vector<unsigned char>(static_cast<std::size_t>(i % 2048 + 1),
                                       static_cast<unsigned char>(i)));
    }
    Add(std::vector<unsigned char>(COutputFile::kBufferSize + 17, 0x5A));
    CloseAndCompare();
}

TEST_F(WrittenFileTest, ReservedRoomKeepsItsPlaceAmongWrites) {
    // Packs laid out in reserved room, small writes and large blocks (which
    // bypass the buffer) must reach the file in the order they were made.
    for (int i = 0; i < 3000; ++i) {
        std::uint8_t* room = f.Reserve(2048);
        ASSERT_NE(room, nullptr);
        std::fill(room, room + 2048, static_cast<unsigned char>(i));
        expect.insert(expect.end(), 2048, static_cast<unsigned char>(i));
        if (i % 500 == 0)
            Add(std::vector<unsigned char>(COutputFile::kDirectWriteSize + i, 0xA0));
        Add({1, 2, static_cast<unsigned char>(i)});
    }
    EXPECT_EQ(f.Reserve(COutputFile::kBufferSize + 1), nullptr);
    CloseAndCompare();
}

TEST(OutputFile, FailedWriteThrowsFromClose) {
    if (!platform::FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    COutputFile f;
    platform::FileError err;
    ASSERT_TRUE(f.Create("/dev/full", &err));
    unsigned char b[100] = {};
    f.Write(b, sizeof b);
    EXPECT_THROW(f.Close(), platform::FileException);
    EXPECT_FALSE(f.IsOpen());
}

TEST(OutputFile, CreateInMissingFolderFails) {
    TempDir dir;
    COutputFile f;
    platform::FileError err;
    EXPECT_FALSE(f.Create(dir.File("no/such/out.bin"), &err));
    EXPECT_TRUE(err.Failed());
}

}  // namespace
