#include "engine.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(Fmt, FormatsTheLabelsOfADataFile)
{
    char a[32], b[32], label[32];
    Fmt(a, "%s<%s", "COMM");
    Fmt(b, "%s<%i @ ", 12);
    Fmt(label, "%s<%s%s", a, b);
    Fmt(b, "%s<%i Baud", 115200);
    Fmt(label, "%s<%s%s", label, b);
    EXPECT_STREQ(label, "COMM12 @ 115200 Baud");
}

struct FmtCase {
    const char *what;
    const char *format;
    std::vector<FmtItem> items;
    int result;
    const char *text;
};

PRINTED_AS_WHAT(FmtCase)

class FmtFormats : public ::testing::TestWithParam<FmtCase> {};

TEST_P(FmtFormats, GivesTextAndItemCount)
{
    const FmtCase &c = GetParam();
    char target[32] = "previous text";
    EXPECT_EQ(FmtInto(target, sizeof target, c.format, c.items.data(), static_cast<int>(c.items.size())), c.result);
    EXPECT_STREQ(target, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FmtFormats,
    ::testing::Values(
        FmtCase{"OneString", "%s<%s", {"COMM"}, 1, "COMM"},
        FmtCase{"IntBetweenText", "%s<FILE %i ERROR", {7}, 1, "FILE 7 ERROR"},
        FmtCase{"NegativeAndLong", "%s<%i/%i", {-42, 2147483647L}, 2, "-42/2147483647"},
        FmtCase{"Zero", "%s<%i", {0}, 1, "0"},
        FmtCase{"NoItems", "%s<plain text", {}, 0, "plain text"},
        FmtCase{"EmptyResult", "%s<", {}, 0, ""},
        FmtCase{"EmptyString", "%s<[%s]", {""}, 1, "[]"},
        FmtCase{"NullString", "%s<[%s]", {static_cast<const char *>(nullptr)}, 1, "[]"},
        FmtCase{"FileName", "%s<%s\\%s%i.dat", {"2024060", "C", 3}, 3, "2024060\\C3.dat"},
        FmtCase{"NotAFmtFormat", "%s", {"x"}, -1, ""},
        FmtCase{"OtherPrefix", "%i<%i", {1}, -1, ""},
        FmtCase{"NullFormat", nullptr, {}, -1, ""},
        FmtCase{"IntForString", "%s<%s", {5}, -1, ""},
        FmtCase{"StringForInt", "%s<%i", {"5"}, -1, ""},
        FmtCase{"TooFewItems", "%s<%s%s", {"a"}, -1, ""},
        FmtCase{"TooManyItems", "%s<%s", {"a", "b"}, -1, ""}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(Fmt, CutsOffAtTheTargetSize)
{
    char t[8];
    EXPECT_EQ(Fmt(t, "%s<%s", "ABCDEFGHIJKLMNOP"), 1);
    EXPECT_STREQ(t, "ABCDEFG");
    char digits[4];
    EXPECT_EQ(Fmt(digits, "%s<%i", 123456), 1);
    EXPECT_STREQ(digits, "123");
    char exact[6];
    EXPECT_EQ(Fmt(exact, "%s<%s%i", "AB", 345), 2);
    EXPECT_STREQ(exact, "AB345");
}

TEST(Fmt, TargetMayBeAnItemAnywhere)
{
    char label[32] = "mid";
    EXPECT_EQ(Fmt(label, "%s<%s-%s-%s", label, label, label), 3);
    EXPECT_STREQ(label, "mid-mid-mid");
    char grow[8] = "abc";
    EXPECT_EQ(Fmt(grow, "%s<%s%s", grow, grow), 2);
    EXPECT_STREQ(grow, "abcabc");
}

TEST(Fmt, ZeroSizeTargetIsRefused)
{
    char target[4] = "xyz";
    const FmtItem item("a");
    EXPECT_EQ(FmtInto(target, 0, "%s<%s", &item, 1), -1);
    EXPECT_STREQ(target, "xyz");
}
