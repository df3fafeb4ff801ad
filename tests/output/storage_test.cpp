// The writers over output channels: file names, the program stream's order
// of packs, the VOB's time base and stream ids.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "output/channel_set.h"
#include "output/mpeg_storage.h"
#include "output/mpeg_storage_mpg.h"
#include "output/mpeg_storage_vob.h"
#include "output/pack_writer.h"
#include "platform/file.h"
#include "platform/memory_settings_store.h"
#include "platform/settings_store.h"
#include "shell/preferences.h"
#include "shell/prompts.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

CMpegPacket Unit(std::uint16_t pid, std::uint8_t id, std::uint64_t pts, int payload) {
    Bytes d = {0, 0, 1, id, 0, 0, 0x80, 0x80, 5, 0x21, 0, 1, 0, 1};
    CPackWriter::WriteStamp(pts, 2, d.data() + 9);
    for (int i = 0; i < payload; ++i) d.push_back(static_cast<std::uint8_t>(pid + i));
    CMpegPacket p;
    p.Init(pid, pts, id == 0xBD ? kKindAC3 : id >= 0xE0 ? kKindVideo : kKindMpegAudio, 0);
    p.SetData(d.data(), static_cast<std::int32_t>(d.size()));
    p.m_headerLength = 14;
    return p;
}

struct Channels {
    CChannelSet set;
    CMpegChannel* video;
    std::vector<CMpegChannel*> audio;
    explicit Channels(std::vector<int> audioTypes) {
        video = set.Add(0x100, std::make_unique<CMpegChannel>(2, 0x100, 16));
        video->SetRingSize(20);
        for (std::size_t i = 0; i < audioTypes.size(); ++i) {
            auto pid = static_cast<std::uint16_t>(0x101 + i);
            audio.push_back(set.Add(pid, std::make_unique<CMpegChannel>(audioTypes[i], pid, 16)));
            audio.back()->SetRingSize(1000);
        }
    }
};

class StorageTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetSettingsStore(&m_settings); }
    void TearDown() override { platform::SetSettingsStore(nullptr); }
    platform::MemorySettingsStore m_settings;
    TempDir m_dir;
};

TEST_F(StorageTest, ElementaryStreamsGetOneFileEachWithNumberedNames) {
    // The streams of H.264/HEVC recordings have names of their own; a type
    // nobody names (0x86) writes to the prefix alone.
    Channels c({3, 4, 3, 6, 0x86, 0x1B, 0x24, 0x0F, 0x11, 0x87});
    CMpegStorage es;
    ASSERT_TRUE(es.Open(&c.set, m_dir.File("Film")));
    c.video->Add(Unit(0x100, 0xE0, 0, 100));
    for (CMpegChannel* a : c.audio) a->Add(Unit(a->m_pid, 0xC0, 10, 50));
    es.Write();
    es.Close();
    EXPECT_EQ(ReadFileBytes(m_dir.File("Film.m2v")).size(), 100u);
    for (const char* name : {"Film.mp2", "Film(2).mp2", "Film(3).mp2", "Film.ac3", "Film",
                             "Film.h264", "Film.hevc", "Film.aac", "Film(2).aac", "Film.eac3"})
        EXPECT_EQ(ReadFileBytes(m_dir.File(name)).size(), 50u) << name;
    // The payload is written without its PES header.
    EXPECT_EQ(ReadFileBytes(m_dir.File("Film.m2v"))[0], 0x00);
    EXPECT_TRUE(c.video->IsEmpty());

    CPreferences::SetFileExtAudio(22);
    CPreferences::SetFileExtVideo(11);
    EXPECT_EQ(CMpegStorage::Extension(3), ".mpa");
    EXPECT_EQ(CMpegStorage::Extension(2), ".mpv");
}

// The writer takes every unit out of the channels at once (the rings never
// fill); the multiplexer keeps what it cannot decide yet, and the final
// Write, or else Close, writes the rest and ends the stream.
TEST_F(StorageTest, ProgramStreamEmptiesTheChannelsAndEndsTheStreamOnClose) {
    for (bool finalWrite : {true, false}) {
        SCOPED_TRACE(finalWrite);
        platform::RemoveFile(m_dir.File("Film.mpg"));
        Channels c({3});
        CMpegStorageMPG mpg;
        ASSERT_TRUE(mpg.Open(&c.set, m_dir.File("Film")));
        c.video->Add(Unit(0x100, 0xE0, 7200, 3000));
        c.audio[0]->Add(Unit(0x101, 0xC0, 1000, 500));
        mpg.Write();
        EXPECT_TRUE(c.video->IsEmpty());
        EXPECT_TRUE(c.audio[0]->IsEmpty());
        // Less than a packet of audio queued: it may still send a unit older
        // than the video, so nothing is decided yet.
        EXPECT_EQ(mpg.PackCount(), 0);
        for (int i = 0; i < 10; ++i) c.audio[0]->Add(Unit(0x101, 0xC0, 3160 + 2160 * i, 500));
        c.video->Add(Unit(0x100, 0xE0, 20000, 3000));
        if (finalWrite) mpg.Write(true);
        mpg.Close();
        const Bytes file = ReadFileBytes(m_dir.File("Film.mpg"));
        // Navigation pack, two video units of two packs each, six of audio,
        // the last pack with the program end code.
        ASSERT_EQ(file.size() % 2048, 0u);
        EXPECT_EQ(Bytes(file.begin() + 14, file.begin() + 18), (Bytes{0, 0, 1, 0xBB}));
        EXPECT_EQ(Bytes(file.end() - 4, file.end()), (Bytes{0, 0, 1, 0xB9}));
        std::uint64_t last = 0;
        int audioBytes = 0;
        for (std::size_t at = 0; at < file.size(); at += 2048) {
            const std::uint8_t* p = file.data() + at;
            const std::uint64_t scr = CPackWriter::ReadScr(p + 4);
            if (at > 0) {
                EXPECT_GE(scr, last + CPackWriter::PackTicks(CPackWriter::kMuxRate)) << at;
            }
            last = scr;
            const std::uint8_t* pes = p + 14 + (p[13] & 7);
            if (pes[3] == 0xC0) audioBytes += 6 + ((pes[4] << 8) | pes[5]) - 9 - pes[8];
        }
        EXPECT_EQ(audioBytes, 11 * 500);
    }
}

struct ReplaceEverything : IPrompts {
    PromptAnswer Ask(const std::string&, const std::string&, PromptButtons, PromptIcon) override {
        return PromptAnswer::Yes;
    }
    std::optional<std::string> InputText(const std::string&, const std::string&,
                                         const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> SaveFileName(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    void RunSettingsDialog() override {}
};

TEST_F(StorageTest, VobNumbersAudioKeepsAc3AsPrivateStreamAndTheDvdMuxRate) {
    Channels c({3, 4, 6});
    ReplaceEverything yes;  // the second job replaces the first one's file
    SetPrompts(&yes);
    for (int job = 0; job < 2; ++job) {
        CMpegStorageVOB vob;
        ASSERT_TRUE(vob.Open(&c.set, m_dir.File("Film")));
        c.video->Add(Unit(0x100, 0xE0, 0, 100));  // a first PTS of 0 is a valid base
        c.audio[0]->Add(Unit(0x101, 0xC0, 500, 100));
        c.audio[1]->Add(Unit(0x102, 0xC0, 600, 100));
        c.audio[2]->Add(Unit(0x103, 0xBD, 700, 100));
        vob.Write(true);
        vob.Close();
        const Bytes f = ReadFileBytes(m_dir.File("Film.vob"));
        // Navigation pack, then video, the two MPEG audio streams, AC-3.
        ASSERT_EQ(f.size(), 5u * 2048);
        EXPECT_EQ(CPackWriter::ReadScr(f.data() + 4), 0u);
        EXPECT_EQ(f[14 + 3], 0xBB);
        const std::uint8_t ids[4] = {0xE0, 0xC0, 0xC1, 0xBD};
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t* pack = f.data() + 2048 * (i + 1);
            EXPECT_EQ(pack[14 + (pack[13] & 7) + 3], ids[i]) << i;
            EXPECT_EQ(CPackWriter::ReadMuxRate(pack + 10), 25200u) << i;
        }
        const std::uint8_t* ac3 = f.data() + 4 * 2048 + 14 + (f[4 * 2048 + 13] & 7);
        EXPECT_EQ(ac3[9 + ac3[8]], 0x80);  // AC-3 sub-stream 0x80
        // Time stamps lead the clock by the start-up delay: the first unit
        // to decode (the video at PTS 0) is due 0.5 s after SCR 0, and the
        // second job starts from 0 again.
        const std::uint8_t* video = f.data() + 2048 + 14 + (f[2048 + 13] & 7);
        EXPECT_EQ(CPackWriter::ReadStamp(video + 9), 45000u);
        const std::uint8_t* audio = f.data() + 2 * 2048 + 14 + (f[2 * 2048 + 13] & 7);
        EXPECT_EQ(CPackWriter::ReadStamp(audio + 9), 45500u);
    }
    SetPrompts(nullptr);
}

TEST_F(StorageTest, RenameAnswerMustBeAPlainName) {
    platform::MakeDirectory(m_dir.File("sub"));
    WriteFileBytes(m_dir.File("Film.m2v"), {1});
    struct Answers : IPrompts {
        std::vector<std::string> names{"", "a/b", "New"};
        PromptAnswer Ask(const std::string&, const std::string&, PromptButtons, PromptIcon) override {
            return PromptAnswer::No;
        }
        std::optional<std::string> InputText(const std::string&, const std::string&,
                                             const std::string&) override {
            std::string n = names.front();
            names.erase(names.begin());
            return n;
        }
        std::optional<std::string> SaveFileName(const std::string&, const std::string&) override {
            return std::nullopt;
        }
        void RunSettingsDialog() override {}
    } answers;
    SetPrompts(&answers);
    std::string prefix = m_dir.File("Film");
    EXPECT_TRUE(CMpegStorage::AskOverwrite(prefix, ".m2v"));
    SetPrompts(nullptr);
    EXPECT_EQ(prefix, m_dir.File("New"));
    EXPECT_TRUE(answers.names.empty());
}

}  // namespace
