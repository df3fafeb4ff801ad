// The recording file: segment chains, reads and writes across segment
// boundaries, the byte-pair swapped mode, shortening, positions beyond 4 GiB.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <numeric>

#include "demux/raw_file.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes counting(std::size_t n, unsigned seed = 0) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>((i * 7 + seed) & 0xFF);
    return b;
}

class RawFileTest : public ::testing::Test {
  protected:
    void TearDown() override { platform::SetOpenHookForTesting(nullptr); }

    // Writes the chain name, name.001, ... with the given sizes; returns all bytes in order.
    Bytes makeChain(const std::string& name, const std::vector<std::size_t>& sizes) {
        Bytes all;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            Bytes part = counting(sizes[i], static_cast<unsigned>(i * 31));
            WriteFileBytes(CRawFile::GetSegmentName(dir.File(name), static_cast<int>(i)), part);
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }

    bool open(CRawFile& file, const std::string& name, unsigned flags = platform::modeRead) {
        platform::FileError error;
        file.Open(dir.File(name), flags, &error);
        lastError = error.osError;
        return !error.Failed();
    }

    Bytes readAll(CRawFile& file, std::size_t chunk) {
        Bytes out;
        file.SeekToStart();
        Bytes buffer(chunk);
        for (;;) {
            std::size_t n = file.Read(buffer.data(), chunk);
            out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<long>(n));
            if (n < chunk) return out;
        }
    }

    TempDir dir;
    int lastError = -1;
};

TEST(SegmentNames, NumericAndHumaxNaming) {
    EXPECT_EQ(CRawFile::GetSegmentName("/r/Film.ts", 0), "/r/Film.ts");
    EXPECT_EQ(CRawFile::GetSegmentName("/r/Film.ts", 1), "/r/Film.ts.001");
    EXPECT_EQ(CRawFile::GetSegmentName("/r/Film.ts", 123), "/r/Film.ts.123");
    EXPECT_EQ(CRawFile::GetSegmentName("/r/Film~0.vid", 1), "/r/Film~1.vid");
    EXPECT_EQ(CRawFile::GetSegmentName("/r/Film~0.vid", 10), "/r/Film~10.vid");
    // FAT copies come upper-case; the naming rule ignores case and keeps it.
    EXPECT_EQ(CRawFile::GetSegmentName("/r/FILM~0.VID", 2), "/r/FILM~2.VID");
}

TEST_F(RawFileTest, ExtensionIsLowerCaseWithoutDot) {
    makeChain("Film.TS", {10});
    CRawFile file;
    ASSERT_TRUE(open(file, "Film.TS"));
    EXPECT_EQ(file.GetFileExtension(), "ts");
    EXPECT_EQ(file.GetFileTitle(), "Film.TS");
    makeChain("Film.rec", {10});
    ASSERT_TRUE(open(file, "Film.rec"));
    EXPECT_EQ(file.GetFileExtension(), "rec");
    // A backslash is part of a Linux file name, not a folder.
    makeChain("a\\b.ts", {10});
    ASSERT_TRUE(open(file, "a\\b.ts"));
    EXPECT_EQ(file.GetFileTitle(), "a\\b.ts");
}

TEST_F(RawFileTest, SwappedRecordingOfOddLengthReadsWholePairsToItsReadableEnd) {
    makeChain("Film.ts", {1001});
    CRawFile file;
    ASSERT_TRUE(open(file, "Film.ts"));
    file.SetUnswapped(0);
    EXPECT_EQ(file.GetLength(), 1001u);
    EXPECT_EQ(file.GetReadableLength(), 1000u);
    EXPECT_EQ(readAll(file, 300).size(), 1000u);
    file.SetUnswapped(1);
    EXPECT_EQ(file.GetReadableLength(), 1001u);
}

TEST_F(RawFileTest, MissingSegmentEndsTheChain) {
    Bytes all = makeChain("Film.ts", {1000, 2000});
    WriteFileBytes(dir.File("Film.ts.003"), counting(500));  // .002 is missing
    CRawFile file;
    ASSERT_TRUE(open(file, "Film.ts"));
    EXPECT_EQ(file.GetSegmentCount(), 2);
    EXPECT_EQ(file.GetLength(), 3000u);
    EXPECT_EQ(readAll(file, 700), all);
}

TEST_F(RawFileTest, HumaxChainLengthIsTheSumOfItsFiles) {
    WriteFileBytes(dir.File("Film~0.vid"), counting(4096));
    WriteFileBytes(dir.File("Film~1.vid"), counting(1000, 5));
    CRawFile file;
    ASSERT_TRUE(open(file, "Film~0.vid"));
    EXPECT_EQ(file.GetSegmentCount(), 2);
    EXPECT_EQ(file.GetLength(), 5096u);
}

TEST_F(RawFileTest, AtMostTwoHundredSegments) {
    makeChain("Many.ts", std::vector<std::size_t>(205, 3));
    CRawFile file;
    ASSERT_TRUE(open(file, "Many.ts"));
    EXPECT_EQ(file.GetSegmentCount(), CRawFile::kMaxSegments);
    EXPECT_EQ(file.GetLength(), 600u);
}

TEST_F(RawFileTest, ReadAcrossSegmentBoundaryLeavesNextSegmentCurrent) {
    Bytes all = makeChain("Film.ts", {50000, 60000});
    CRawFile file;
    ASSERT_TRUE(open(file, "Film.ts"));
    Bytes buffer(32768);
    file.Seek(50000 - 100, CRawFile::begin);
    ASSERT_EQ(file.Read(buffer.data(), buffer.size()), 32768u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), all.begin() + 49900));
    EXPECT_EQ(file.GetPosition(), 49900u + 32768u);
    // Reading on continues in segment 1.
    ASSERT_EQ(file.Read(buffer.data(), 100), 100u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 100, all.begin() + 49900 + 32768));
}

TEST_F(RawFileTest, ReadAtTheEndDeliversWhatIsLeft) {
    makeChain("Film.ts", {1000, 1000});
    CRawFile file;
    ASSERT_TRUE(open(file, "Film.ts"));
    Bytes buffer(500);
    file.Seek(100, CRawFile::end);  // counts back from the end
    EXPECT_EQ(file.GetPosition(), 1900u);
    EXPECT_EQ(file.Read(buffer.data(), 500), 100u);
    EXPECT_EQ(file.Read(buffer.data(), 500), 0u);
}

TEST_F(RawFileTest, EmptyLaterSegmentIsSkipped) {
    Bytes all = makeChain("Film.ts", {300, 0, 400});
    CRawFile file;
    ASSERT_TRUE(open(file, "Film.ts"));
    EXPECT_EQ(file.GetSegmentCount(), 3);
    EXPECT_EQ(readAll(file, 128), all);
}

TEST_F(RawFileTest, SmallReadsWithSeekBacksMatchTheFile) {
    // The demultiplexer's pattern: 190 bytes, then 2 back, across segments.
    Bytes all = makeChain("Film.ts", {188 * 1000 + 17, 188 * 500});
    CRawFile file;
    ASSERT_TRUE(open(file, "Film.ts"));
    Bytes packet(190);
    std::uint64_t position = 0;
    while (position + 190 <= all.size()) {
        ASSERT_EQ(file.Read(packet.data(), 190), 190u);
        ASSERT_TRUE(
            std::equal(packet.begin(), packet.end(), all.begin() + static_cast<long>(position)));
        file.Seek(-2, CRawFile::current);
        position += 188;
    }
}

TEST_F(RawFileTest, PeekShowsTheBytesAheadAcrossBufferAndSegmentEnds) {
    // Larger than the 4 MiB read buffer and split into segments, so that
    // peeks land on both kinds of boundary; the position never moves.
    Bytes all = makeChain("Film.ts", {3u << 20, (2u << 20) + 77});
    CRawFile file;
    ASSERT_TRUE(open(file, "Film.ts"));
    for (std::uint64_t position : {std::uint64_t{0}, std::uint64_t{(3u << 20) - 100},
                                   std::uint64_t{(4u << 20) - 5}, std::uint64_t{all.size() - 190}}) {
        file.Seek(static_cast<std::int64_t>(position), CRawFile::begin);
        const std::uint8_t* held = file.Peek(190);
        ASSERT_NE(held, nullptr) << position;
        EXPECT_TRUE(std::equal(held, held + 190, all.begin() + static_cast<long>(position)))
            << position;
        EXPECT_EQ(file.GetPosition(), position);
    }
    // Fewer bytes left than asked for: nothing, and a Read still gets the rest.
    file.Seek(100, CRawFile::end);
    EXPECT_EQ(file.Peek(190), nullptr);
    Bytes rest(190);
    EXPECT_EQ(file.Read(rest.data(), rest.size()), 100u);
}

TEST_F(RawFileTest, PeekDeliversSwappedPairsInOrder) {
    WriteFileBytes(dir.File("Swap.ts"), {0x00, 0x47, 0x11, 0x22, 0x33, 0x44, 0x55});
    CRawFile file;
    ASSERT_TRUE(open(file, "Swap.ts"));
    file.SetUnswapped(0);
    file.Seek(1, CRawFile::begin);
    const std::uint8_t* held = file.Peek(3);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(Bytes(held, held + 3), (Bytes{0x00, 0x22, 0x11}));
}

TEST_F(RawFileTest, AccessDeniedOnALaterSegmentFailsTheOpen) {
    makeChain("Film.ts", {100, 100, 100});
    std::string denied = dir.File("Film.ts.002");
    platform::SetOpenHookForTesting(
        [&](const std::string& path, unsigned) { return path == denied ? EACCES : 0; });
    CRawFile file;
    EXPECT_FALSE(open(file, "Film.ts", platform::modeReadWrite | platform::shareExclusive));
    EXPECT_EQ(lastError, EACCES);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetSegmentCount(), 0);
}

TEST_F(RawFileTest, ExclusiveLockRefusesASecondWriter) {
    makeChain("Film.ts", {100});
    CRawFile first, second;
    ASSERT_TRUE(open(first, "Film.ts", platform::modeReadWrite | platform::shareExclusive));
    EXPECT_FALSE(open(second, "Film.ts", platform::modeReadWrite | platform::shareExclusive));
    EXPECT_TRUE(platform::IsAccessDenied(lastError));
    EXPECT_TRUE(open(second, "Film.ts", platform::modeRead));  // reading stays possible
}

TEST_F(RawFileTest, MissingFileReportsItsError) {
    CRawFile file;
    EXPECT_FALSE(open(file, "Nothing.ts"));
    EXPECT_EQ(lastError, ENOENT);
    EXPECT_FALSE(open(file, "."));  // a folder is no recording
}

TEST_F(RawFileTest, SwappedModeDeliversPairsInOrder) {
    WriteFileBytes(dir.File("Swap.ts"), {0x00, 0x47, 0x11, 0x22, 0x33, 0x44, 0x55});
    CRawFile file;
    ASSERT_TRUE(open(file, "Swap.ts"));
    file.SetUnswapped(0);
    Bytes buffer(8, 0xEE);
    // The odd last byte has no partner and is not transferred.
    ASSERT_EQ(file.Read(buffer.data(), 8), 6u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6),
              (Bytes{0x47, 0x00, 0x22, 0x11, 0x44, 0x33}));
    // A read that starts inside a pair still follows the pairs of the file.
    file.Seek(1, CRawFile::begin);
    ASSERT_EQ(file.Read(buffer.data(), 3), 3u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3), (Bytes{0x00, 0x22, 0x11}));
}

TEST_F(RawFileTest, SwappedWritesRoundTripAtOddPositions) {
    WriteFileBytes(dir.File("Swap.ts"), Bytes(16, 0));
    CRawFile file;
    ASSERT_TRUE(open(file, "Swap.ts", platform::modeReadWrite));
    file.SetUnswapped(0);
    Bytes data = counting(16, 3);
    file.Seek(0, CRawFile::begin);
    file.Write(data.data(), 5);      // ends inside a pair
    file.Write(data.data() + 5, 6);  // starts inside a pair
    file.Write(data.data() + 11, 5);
    EXPECT_EQ(readAll(file, 3), data);
    Bytes stored = ReadFileBytes(dir.File("Swap.ts"));
    for (std::size_t i = 0; i < 16; ++i)
        EXPECT_EQ(stored[i ^ 1], data[i]) << i;
}

TEST_F(RawFileTest, WriteSpansSeveralSegmentsAndExtendsTheLast) {
    makeChain("Film.ts", {100, 50, 100});
    CRawFile file;
    ASSERT_TRUE(open(file, "Film.ts", platform::modeReadWrite));
    Bytes data = counting(400, 9);
    file.Seek(80, CRawFile::begin);
    file.Write(data.data(), data.size());  // through segment 1 into 2 and past its end
    EXPECT_EQ(file.GetLength(), 480u);
    EXPECT_EQ(ReadFileBytes(dir.File("Film.ts")).size(), 100u);
    EXPECT_EQ(ReadFileBytes(dir.File("Film.ts.001")).size(), 50u);
    EXPECT_EQ(ReadFileBytes(dir.File("Film.ts.002")).size(), 330u);
    Bytes back(400);
    file.Seek(80, CRawFile::begin);
    ASSERT_EQ(file.Read(back.data(), 400), 400u);
    EXPECT_EQ(back, data);
}

TEST_F(RawFileTest, WritesKeepTheReadBufferCoherent) {
    Bytes all = makeChain("Film.ts", {4096});
    CRawFile file;
    ASSERT_TRUE(open(file, "Film.ts", platform::modeReadWrite));
    Bytes buffer(100);
    file.Read(buffer.data(), 100);  // fills the read buffer
    Bytes patch(10, 0xAB);
    file.Seek(50, CRawFile::begin);
    file.Write(patch.data(), patch.size());
    file.Seek(40, CRawFile::begin);
    file.Read(buffer.data(), 30);
    EXPECT_EQ(buffer[9], all[49]);
    EXPECT_EQ(buffer[10], 0xAB);
    EXPECT_EQ(buffer[19], 0xAB);
    EXPECT_EQ(buffer[20], all[60]);
}

TEST_F(RawFileTest, SetLengthShortensAndDeletesTrailingSegments) {
    makeChain("Film.ts", {100, 100, 100, 100});
    CRawFile file;
    ASSERT_TRUE(open(file, "Film.ts", platform::modeReadWrite));
    file.SetLength(250);
    EXPECT_EQ(file.GetLength(), 250u);
    EXPECT_EQ(file.GetSegmentCount(), 3);
    EXPECT_EQ(ReadFileBytes(dir.File("Film.ts.002")).size(), 50u);
    EXPECT_FALSE(std::filesystem::exists(dir.File("Film.ts.003")));
    // Cut back to nothing: segment 0's file stays, emptied.
    file.SetLength(0);
    EXPECT_EQ(file.GetLength(), 0u);
    EXPECT_EQ(file.GetSegmentCount(), 1);
    EXPECT_TRUE(std::filesystem::exists(dir.File("Film.ts")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("Film.ts.001")));
    Bytes data = counting(10);
    file.Write(data.data(), data.size());  // still usable
    EXPECT_EQ(readAll(file, 4), data);
}

TEST_F(RawFileTest, CopiedLayoutSplitsTheOutputLikeItsSource) {
    Bytes all = makeChain("Film.ts", {1000, 1000, 500});
    CRawFile source;
    ASSERT_TRUE(open(source, "Film.ts"));
    CRawFile copy;
    copy.CopySegmentLayout(source);
    ASSERT_TRUE(open(copy, "Copy.ts", platform::modeCreate | platform::modeReadWrite));
    copy.Write(all.data(), all.size());
    copy.Close();
    EXPECT_EQ(ReadFileBytes(dir.File("Copy.ts")).size(), 1000u);
    EXPECT_EQ(ReadFileBytes(dir.File("Copy.ts.001")).size(), 1000u);
    EXPECT_EQ(ReadFileBytes(dir.File("Copy.ts.002")).size(), 500u);
    CRawFile reopened;
    ASSERT_TRUE(open(reopened, "Copy.ts"));
    EXPECT_EQ(readAll(reopened, 333), all);
}

TEST_F(RawFileTest, HumaxCopyIsFoundAgainWhenReopened) {
    WriteFileBytes(dir.File("Film~0.vid"), counting(300));
    WriteFileBytes(dir.File("Film~1.vid"), counting(200, 1));
    CRawFile source;
    ASSERT_TRUE(open(source, "Film~0.vid"));
    CRawFile copy;
    copy.CopySegmentLayout(source);
    ASSERT_TRUE(open(copy, "Copy~0.vid", platform::modeCreate | platform::modeReadWrite));
    Bytes all = counting(500, 2);
    copy.Write(all.data(), all.size());
    copy.Close();
    CRawFile reopened;
    ASSERT_TRUE(open(reopened, "Copy~0.vid"));
    EXPECT_EQ(reopened.GetSegmentCount(), 2);
    EXPECT_EQ(readAll(reopened, 64), all);
}

TEST_F(RawFileTest, PositionsBeyondFourGiB) {
    // A sparse file: nothing is written below the far end.
    const std::uint64_t far = (std::uint64_t{5} << 30) + 123;
    {
        CRawFile file;
        ASSERT_TRUE(open(file, "Big.ts", platform::modeCreate | platform::modeReadWrite));
        Bytes tail = counting(1000, 4);
        file.Seek(static_cast<std::int64_t>(far), CRawFile::begin);
        file.Write(tail.data(), tail.size());
        EXPECT_EQ(file.GetLength(), far + 1000);
    }
    CRawFile file;
    ASSERT_TRUE(open(file, "Big.ts"));
    EXPECT_EQ(file.GetLength(), far + 1000);
    Bytes buffer(10);
    file.Seek(10, CRawFile::end);
    EXPECT_EQ(file.GetPosition(), far + 990);
    ASSERT_EQ(file.Read(buffer.data(), 10), 10u);
    Bytes tail = counting(1000, 4);
    EXPECT_EQ(buffer, Bytes(tail.end() - 10, tail.end()));
}

TEST_F(RawFileTest, IdentityFindsSegmentsByFileNotByName) {
    makeChain("Film.ts", {10, 10});
    CRawFile file;
    ASSERT_TRUE(open(file, "Film.ts"));
    std::filesystem::create_symlink(dir.File("Film.ts.001"), dir.File("alias.ts"));
    EXPECT_TRUE(file.HoldsFile(dir.File("alias.ts")));
    EXPECT_TRUE(file.HoldsFile(dir.File("Film.ts")));
    WriteFileBytes(dir.File("other.ts"), counting(10));
    EXPECT_FALSE(file.HoldsFile(dir.File("other.ts")));
}

TEST(Throughput, AveragesOverAboutOneSecond) {
    std::uint64_t now = 1000000;
    platform::SetClockForTesting([&] { return now; });
    TempDir dir;
    WriteFileBytes(dir.File("a.ts"), Bytes(4 << 20));
    CRawFile file;
    platform::FileError error;
    file.Open(dir.File("a.ts"), platform::modeRead, &error);
    Bytes buffer(1 << 20);
    file.Read(buffer.data(), buffer.size());
    EXPECT_EQ(CRawFile::GetThroughput(), 0u);  // within the first second: the last rate
    now += 2000;
    // 1 MiB over 2 s is 524288 bytes/s; averaged with the last rate 0.
    EXPECT_EQ(CRawFile::GetThroughput(), 262144u);
    platform::SetClockForTesting(nullptr);
}

}  // namespace
