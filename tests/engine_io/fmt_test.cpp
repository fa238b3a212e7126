#include "engine.h"

#include <gtest/gtest.h>

#include <cstring>

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
