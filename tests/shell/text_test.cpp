// Text helpers and the string table.

#include <gtest/gtest.h>

#include "res/strings.h"
#include "shell/text.h"

TEST(TextHelpers, HexFormats) {
    EXPECT_EQ(Hex16(0x1FF), "0x01FF");
    EXPECT_EQ(Hex32(0xABC), "0x00000ABC");
    EXPECT_EQ(Hex64(0x123456789ull), "0x00000001 23456789");
    EXPECT_EQ(Hex64(0), "0x00000000 00000000");
}

TEST(TextHelpers, Numbers) {
    EXPECT_EQ(LongToStr(-5), "-5");
    EXPECT_EQ(IntToStr(42), "42");
    EXPECT_EQ(ULongToStr(4294967295u), "4294967295");
    EXPECT_EQ(RealToStr(3.14159, 1), "3.1");
    EXPECT_EQ(RealToStr(3.14159, 2), "3.14");
    EXPECT_EQ(RealToStr(3.14159, 0), "3.14");
    EXPECT_EQ(RealToStr(4000 / 1024.0, 1), "3.9");
}

TEST(TextHelpers, PathParts) {
    EXPECT_EQ(DirPart("/rec/Film.ts"), "/rec");
    EXPECT_EQ(DirPart("D:\\Rec\\Film.ts"), "D:\\Rec");
    EXPECT_EQ(DirPart("/Film.ts"), "/");
    EXPECT_EQ(DirPart("Film.ts"), "");
    EXPECT_EQ(BaseName("/rec/Film.part.ts"), "Film.part");
    EXPECT_EQ(BaseName("/rec.d/Film"), "Film");
    EXPECT_EQ(JoinPath(".", "~log"), "./~log");
    EXPECT_EQ(JoinPath("/", "~log"), "/~log");
}

TEST(TextHelpers, WidgetTextDropsCarriageReturns) {
    EXPECT_EQ(ToWidgetText("a\r\nb\nc\r"), "a\nb\nc\r");
}

TEST(StringTable, TextsAsGiven) {
    EXPECT_EQ(LoadResString(ids::kAttention), "ATTENTION!");
    EXPECT_EQ(LoadResString(ids::kFileExists),
              "File [%s]\r\nin path [%s]\r\nalready exists. Overwrite?");
    EXPECT_EQ(LoadResString(ids::kCutArea), "Cut-area");
    // Two blanks after "and", as the message has always had.
    EXPECT_NE(LoadResString(ids::kNoDecoders).find("part of and  installed"), std::string::npos);
    EXPECT_EQ(LoadResString(ids::kVersion), "Ravelo Version 0.96 (Beta)");
    EXPECT_EQ(LoadResString(12345), "");
}
