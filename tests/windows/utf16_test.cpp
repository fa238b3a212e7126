// The one conversion between UTF-8 and UTF-16: valid text goes both ways
// unaltered, anything else is refused, never patched with U+FFFD.
#include "base/utf16.h"

#include <gtest/gtest.h>

#include <string>

TEST(Utf16, ValidTextGoesThereAndBackUnaltered)
{
    for (const std::string text : {"", "COM7", "d\xc3\xa9j\xc3\xa0 vu", "\xe2\x82\xac", "\xf0\x9f\x93\x88 data"}) {
        std::wstring wide;
        ASSERT_TRUE(utf16::from_utf8(text, wide)) << text;
        std::string back;
        ASSERT_TRUE(utf16::to_utf8(wide, back)) << text;
        EXPECT_EQ(back, text);
    }
    std::wstring pair;
    ASSERT_TRUE(utf16::from_utf8("\xf0\x9f\x93\x88", pair));
    EXPECT_EQ(pair, std::wstring({wchar_t(0xD83D), wchar_t(0xDCC8)}));
}

TEST(Utf16, InvalidInputIsRefusedAndLeavesNothing)
{
    for (const std::string bad : {"bad\xff", "cut \xc3", "\x80 alone"}) {
        std::wstring wide = L"left over";
        EXPECT_FALSE(utf16::from_utf8(bad, wide)) << bad;
        EXPECT_TRUE(wide.empty()) << bad;
    }
    const wchar_t lone[] = {L'a', wchar_t(0xD800), L'b', 0};
    std::string text = "left over";
    EXPECT_FALSE(utf16::to_utf8(lone, -1, text));
    EXPECT_TRUE(text.empty());
    EXPECT_TRUE(utf16::to_utf8(lone, 1, text)); // a length that stops before it
    EXPECT_EQ(text, "a");
}
