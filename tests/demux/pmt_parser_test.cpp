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

TEST(PmtParser, KeepsVideoAudioAndAc3AndDropsTeletext) {
    const Bytes s = broadcastPmt();
    ASSERT_TRUE(CPmtParser::IsPMTSection(s.data(), len(s)));
    CPMT pmt;
    ASSERT_TRUE(CPmtParser::ParsePMT(pmt, s.data(), len(s)));
    ASSERT_EQ(pmt.size(), 4u);
    EXPECT_EQ(pmt[0].streamType, 2);
    EXPECT_EQ(pmt[0].language, "???");
    EXPECT_EQ(pmt[1].pid, 0x101);
    EXPECT_EQ(pmt[1].language, "deu");  // the second descriptor's language
    EXPECT_EQ(pmt[2].language, "eng");
    EXPECT_EQ(pmt[3].streamType, 6);
    EXPECT_EQ(pmt[3].language, "fra");  // found by the letter search
    EXPECT_EQ(pmt[3].lastContinuity, -1);
}

TEST(PmtParser, PrivateDataWithLongFirstDescriptorIsNotAc3) {
    const Bytes s = tsb::PmtSection(1, 0x100,
                                    {{6, 0x200, tsb::SubtitlingDescriptor("eng")},
                                     {6, 0x201, tsb::TeletextDescriptor("ita")},
                                     {6, 0x202, {}},
                                     {0x11, 0x203, tsb::LanguageDescriptor("aus")}});
    CPMT pmt;
    ASSERT_TRUE(CPmtParser::ParsePMT(pmt, s.data(), len(s)));
    // Only the descriptor-less private stream stays, taken for AC-3.
    ASSERT_EQ(pmt.size(), 1u);
    EXPECT_EQ(pmt[0].pid, 0x202);
    EXPECT_EQ(pmt[0].language, "std");
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
