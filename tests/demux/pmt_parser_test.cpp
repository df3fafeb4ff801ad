#include <gtest/gtest.h>

#include "demux/pmt_parser.h"
#include "support/ts_builder.h"

using tsb::Bytes;

namespace {

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// video, two MPEG audio, AC-3 and teletext, as a DVB broadcaster sends them.
Bytes broadcastPmt() {
    return tsb::PmtSection(
        7, 0x100,
        {{2, 0x100, tsb::StreamIdentifierDescriptor(1)},
         {3, 0x101, cat(tsb::StreamIdentifierDescriptor(2), tsb::LanguageDescriptor("deu"))},
         {4, 0x102, cat(tsb::StreamIdentifierDescriptor(3), tsb::LanguageDescriptor("eng"))},
         {6, 0x103, cat(tsb::LanguageDescriptor("fra"), tsb::Ac3Descriptor())},
         {6, 0x104, cat(tsb::StreamIdentifierDescriptor(5), tsb::TeletextDescriptor("deu"))}});
}

int len(const Bytes& b) {
    return static_cast<int>(b.size());
}

TEST(PmtParser, KeepsVideoAudioAndAc3AndListsTeletext) {
    const Bytes s = broadcastPmt();
    ASSERT_TRUE(CPmtParser::IsPMTSection(s.data(), len(s)));
    CPMT pmt;
    ASSERT_TRUE(CPmtParser::ParsePMT(pmt, s.data(), len(s)));
    ASSERT_EQ(pmt.size(), 5u);
    EXPECT_EQ(pmt[0].streamType, 2);
    EXPECT_EQ(pmt[0].codec, StreamCodec::Mpeg2Video);
    EXPECT_EQ(pmt[0].language, "???");
    EXPECT_EQ(pmt[1].pid, 0x101);
    EXPECT_EQ(pmt[1].language, "deu");  // the second descriptor's language
    EXPECT_EQ(pmt[2].language, "eng");
    EXPECT_EQ(pmt[3].streamType, 6);
    EXPECT_EQ(pmt[3].codec, StreamCodec::Ac3);
    EXPECT_EQ(pmt[3].language, "fra");  // found by the letter search
    EXPECT_EQ(pmt[3].lastContinuity, -1);
    // Teletext stays type 5 (no channel) but is listed with its language.
    EXPECT_EQ(pmt[4].streamType, kStreamPrivateOther);
    EXPECT_EQ(pmt[4].codec, StreamCodec::Teletext);
    EXPECT_EQ(pmt[4].language, "deu");
}

TEST(PmtParser, PrivateDataIsToldByItsDescriptors) {
    const Bytes s = tsb::PmtSection(
        1, 0x100,
        {{6, 0x200, tsb::SubtitlingDescriptor("eng")},
         {6, 0x201, tsb::TeletextDescriptor("ita")},
         {6, 0x202, {}},
         {0x11, 0x203, tsb::LanguageDescriptor("aus")},
         // Subtitles behind another descriptor were once taken for AC-3.
         {6, 0x204, cat(tsb::StreamIdentifierDescriptor(9), tsb::SubtitlingDescriptor("fin"))},
         {6, 0x205, cat(tsb::LanguageDescriptor("spa"), {0x7A, 0x01, 0x00})},  // enhanced_AC-3
         // A long descriptor of no known kind: other private data, not listed.
         {6, 0x206, Bytes{0x90, 0x06, 1, 2, 3, 4, 5, 6}}});
    CPMT pmt;
    ASSERT_TRUE(CPmtParser::ParsePMT(pmt, s.data(), len(s)));
    ASSERT_EQ(pmt.size(), 6u);
    EXPECT_EQ(pmt[0].codec, StreamCodec::DvbSubtitle);
    EXPECT_EQ(pmt[0].streamType, kStreamPrivateOther);
    EXPECT_EQ(pmt[0].language, "eng");
    EXPECT_EQ(pmt[1].codec, StreamCodec::Teletext);
    EXPECT_EQ(pmt[1].language, "ita");
    EXPECT_EQ(pmt[2].pid, 0x202);  // descriptor-less private data is taken for AC-3
    EXPECT_EQ(pmt[2].streamType, kStreamAC3);
    EXPECT_EQ(pmt[2].language, "std");
    EXPECT_EQ(pmt[3].codec, StreamCodec::AacLatm);
    EXPECT_EQ(pmt[3].language, "aus");
    EXPECT_EQ(pmt[4].codec, StreamCodec::DvbSubtitle);
    EXPECT_EQ(pmt[4].language, "fin");
    EXPECT_EQ(pmt[5].streamType, kStreamEac3);
    EXPECT_EQ(pmt[5].codec, StreamCodec::Eac3);
    EXPECT_EQ(pmt[5].language, "spa");
}

TEST(PmtParser, HdStreamTypesAndTheirLanguages) {
    const Bytes s = tsb::PmtSection(
        1, 0x100,
        {{0x1B, 0x100, Bytes{0x28, 0x04, 0x64, 0x00, 0x28, 0x3F}},  // AVC video descriptor
         {0x24, 0x110, {}},                                         // a second video: left out
         {0x0F, 0x101, tsb::LanguageDescriptor("deu")},
         {0x87, 0x102, tsb::LanguageDescriptor("eng")},
         {0x81, 0x103, cat(tsb::StreamIdentifierDescriptor(4), tsb::LanguageDescriptor("fra"))},
         {0x0F, 0x104, {}},
         {0x86, 0x105, {}}});  // SCTE-35 cue points: no stream of ours
    CPMT pmt;
    ASSERT_TRUE(CPmtParser::ParsePMT(pmt, s.data(), len(s)));
    ASSERT_EQ(pmt.size(), 5u);
    EXPECT_EQ(pmt[0].streamType, kStreamH264);
    EXPECT_EQ(pmt[0].codec, StreamCodec::H264);
    EXPECT_EQ(pmt[0].language, "???");
    EXPECT_EQ(pmt[1].codec, StreamCodec::Aac);
    EXPECT_EQ(pmt[1].language, "deu");
    EXPECT_EQ(pmt[2].codec, StreamCodec::Eac3);
    EXPECT_EQ(pmt[2].language, "eng");
    // ATSC's AC-3 is the engine's AC-3.
    EXPECT_EQ(pmt[3].streamType, kStreamAC3);
    EXPECT_EQ(pmt[3].codec, StreamCodec::Ac3);
    EXPECT_EQ(pmt[3].language, "fra");
    EXPECT_EQ(pmt[4].language, "std");  // audio without a language descriptor

    // DVB's supplementary audio descriptor names the language heard when
    // its flag says so.
    const Bytes supplementary = tsb::PmtSection(
        1, 0x100,
        {{0x11, 0x101,
          cat(tsb::LanguageDescriptor("aus"), {0x7F, 0x05, 0x06, 0x87, 'e', 'n', 'g'})},
         {0x11, 0x102,
          cat(tsb::LanguageDescriptor("aus"), {0x7F, 0x05, 0x06, 0x86, 'e', 'n', 'g'})}});
    CPMT audio;
    ASSERT_TRUE(CPmtParser::ParsePMT(audio, supplementary.data(), len(supplementary)));
    ASSERT_EQ(audio.size(), 2u);
    EXPECT_EQ(audio[0].language, "eng");
    EXPECT_EQ(audio[1].language, "aus");

    const Bytes hevc = tsb::PmtSection(1, 0x100, {{0x24, 0x100, {}}, {2, 0x110, {}}});
    CPMT second;
    ASSERT_TRUE(CPmtParser::ParsePMT(second, hevc.data(), len(hevc)));
    ASSERT_EQ(second.size(), 1u);  // one video stream, whatever its codec
    EXPECT_EQ(second[0].codec, StreamCodec::Hevc);
}

TEST(PmtParser, DescriptorsRunningPastTheirEntryGiveNoLanguage) {
    // A subtitling descriptor whose length runs past its entry, then one
    // whose language bytes are no letters.
    const Bytes s =
        tsb::PmtSection(1, 0x100,
                        {{6, 0x200, Bytes{0x59, 0x20, 'e', 'n', 'g'}},
                         {6, 0x201, Bytes{0x59, 0x08, 0x01, 0x02, 0x03, 0, 0, 0, 0, 0}}});
    CPMT pmt;
    ASSERT_TRUE(CPmtParser::ParsePMT(pmt, s.data(), len(s)));
    ASSERT_EQ(pmt.size(), 1u);  // the first is no subtitle stream to us
    EXPECT_EQ(pmt[0].codec, StreamCodec::DvbSubtitle);
    EXPECT_EQ(pmt[0].language, "???");
}

TEST(PmtParser, OneVideoAndOneEntryPerPid) {
    const Bytes s =
        tsb::PmtSection(1, 0x100, {{2, 0x100, {}}, {2, 0x110, {}}, {3, 0x101, {}}, {4, 0x101, {}}});
    CPMT pmt;
    ASSERT_TRUE(CPmtParser::ParsePMT(pmt, s.data(), len(s)));
    ASSERT_EQ(pmt.size(), 2u);
    EXPECT_EQ(pmt[0].pid, 0x100);
    EXPECT_EQ(pmt[1].streamType, 3);
}

TEST(PmtParser, ValidityTest) {
    const Bytes good = broadcastPmt();
    EXPECT_TRUE(CPmtParser::IsPMTSection(good.data(), len(good)));
    // Cut short: the section no longer fits the bytes held.
    EXPECT_FALSE(CPmtParser::IsPMTSection(good.data(), len(good) - 1));
    EXPECT_FALSE(CPmtParser::IsPMTSection(good.data(), 11));
    Bytes bad = good;
    bad[0] = 0x42;  // an SDT
    EXPECT_FALSE(CPmtParser::IsPMTSection(bad.data(), len(bad)));
    bad = good;
    bad[1] &= 0x7F;  // no section syntax
    EXPECT_FALSE(CPmtParser::IsPMTSection(bad.data(), len(bad)));
    bad = good;
    bad[6] = 2, bad[7] = 1;  // section number beyond the last
    EXPECT_FALSE(CPmtParser::IsPMTSection(bad.data(), len(bad)));
    bad = good;
    bad[11] = 0xFF;  // program_info_length beyond the section
    EXPECT_FALSE(CPmtParser::IsPMTSection(bad.data(), len(bad)));
    // The CRC is not checked: receivers send broken ones.
    bad = good;
    bad.back() ^= 0xFF;
    EXPECT_TRUE(CPmtParser::IsPMTSection(bad.data(), len(bad)));
}

TEST(PmtParser, EntryWhoseDescriptorsRunPastTheSectionEndsTheLoop) {
    Bytes s =
        tsb::PmtSection(1, 0x100, {{2, 0x100, {}}, {3, 0x101, tsb::LanguageDescriptor("deu")}});
    // Second entry: ES_info_length 0xFFF.
    s[12 + 5 + 3] = 0xFF;
    s[12 + 5 + 4] = 0xFF;
    CPMT pmt;
    ASSERT_TRUE(CPmtParser::ParsePMT(pmt, s.data(), len(s)));
    ASSERT_EQ(pmt.size(), 1u);
    EXPECT_EQ(pmt[0].streamType, 2);
}

TEST(PmtParser, OnPmtSectionKnowsVersionsAndRejectsNotCurrent) {
    CPMT pmt;
    CPmtParser parser(pmt);
    const Bytes next = tsb::PmtSection(1, 0x100, {{2, 0x100, {}}}, 0, false);
    EXPECT_EQ(parser.OnPMTSection(next.data(), len(next)), 0);
    EXPECT_TRUE(pmt.empty());

    const Bytes v0 = tsb::PmtSection(1, 0x100, {{2, 0x100, {}}}, 0);
    EXPECT_EQ(parser.OnPMTSection(v0.data(), len(v0)), 1);
    EXPECT_EQ(pmt.size(), 1u);
    const Bytes v0b = tsb::PmtSection(1, 0x100, {{2, 0x100, {}}, {3, 0x101, {}}}, 0);
    EXPECT_EQ(parser.OnPMTSection(v0b.data(), len(v0b)), 1);  // known pair: not parsed again
    EXPECT_EQ(pmt.size(), 1u);
    const Bytes v1 = tsb::PmtSection(1, 0x100, {{2, 0x100, {}}, {3, 0x101, {}}}, 1);
    EXPECT_EQ(parser.OnPMTSection(v1.data(), len(v1)), 1);
    EXPECT_EQ(pmt.size(), 2u);
    EXPECT_EQ(parser.ProgramCount(), 2);
}

}  // namespace
