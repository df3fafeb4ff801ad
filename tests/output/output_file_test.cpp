// The buffered output file: same bytes as written, errors are not swallowed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "output/output_file.h"
#include "support/temp_dir.h"

namespace {

TEST(OutputFile, BytesOnDiskAreTheBytesWrittenAcrossFlushes) {
    TempDir dir;
    COutputFile f;
    platform::FileError err;
    ASSERT_TRUE(f.Create(dir.File("out.bin"), &err));
    std::vector<unsigned char> expect;
    for (int i = 0; i < 5000; ++i) {
        std::vector<unsigned char> piece(static_cast<std::size_t>(i % 2048 + 1),
                                         static_cast<unsigned char>(i));
        f.Write(piece.data(), piece.size());
        expect.insert(expect.end(), piece.begin(), piece.end());
    }
    std::vector<unsigned char> big(COutputFile::kBufferSize + 17, 0x5A);
    f.Write(big.data(), big.size());
    expect.insert(expect.end(), big.begin(), big.end());
    EXPECT_EQ(f.BytesWritten(), expect.size());
    f.Close();
    EXPECT_EQ(ReadFileBytes(dir.File("out.bin")), expect);
}

TEST(OutputFile, ReservedRoomKeepsItsPlaceAmongWrites) {
    // Packs laid out in reserved room, small writes and large blocks (which
    // bypass the buffer) must reach the file in the order they were made.
    TempDir dir;
    COutputFile f;
    platform::FileError err;
    ASSERT_TRUE(f.Create(dir.File("out.bin"), &err));
    std::vector<unsigned char> expect;
    for (int i = 0; i < 3000; ++i) {
        std::uint8_t* room = f.Reserve(2048);
        ASSERT_NE(room, nullptr);
        std::fill(room, room + 2048, static_cast<unsigned char>(i));
        expect.insert(expect.end(), 2048, static_cast<unsigned char>(i));
        if (i % 500 == 0) {
            std::vector<unsigned char> block(COutputFile::kDirectWriteSize + i, 0xA0);
            f.Write(block.data(), block.size());
            expect.insert(expect.end(), block.begin(), block.end());
        }
        const unsigned char small[3] = {1, 2, static_cast<unsigned char>(i)};
        f.Write(small, sizeof small);
        expect.insert(expect.end(), small, small + 3);
    }
    EXPECT_EQ(f.Reserve(COutputFile::kBufferSize + 1), nullptr);
    EXPECT_EQ(f.BytesWritten(), expect.size());
    f.Close();
    EXPECT_EQ(ReadFileBytes(dir.File("out.bin")), expect);
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
