// Case-insensitive comparisons fold the ASCII letters and nothing else.
#include "util/text_compare.h"

#include <gtest/gtest.h>

namespace velmora::util {
namespace {

TEST(EqualsIgnoreCase, FoldsAsciiLetters)
{
    EXPECT_TRUE(equalsIgnoreCase("Hello", "hELLO"));
    EXPECT_TRUE(equalsIgnoreCase("zv_RND", "ZV_rnd"));
    EXPECT_TRUE(equalsIgnoreCase("", ""));
    EXPECT_TRUE(equalsIgnoreCase("A1-b2", "a1-B2"));
}

TEST(EqualsIgnoreCase, DifferentTextsStayDifferent)
{
    EXPECT_FALSE(equalsIgnoreCase("abc", "abd"));
    EXPECT_FALSE(equalsIgnoreCase("abc", "ab"));
    EXPECT_FALSE(equalsIgnoreCase("", "a"));
    // Characters 0x20 apart that are not letters must not be folded together.
    EXPECT_FALSE(equalsIgnoreCase("@", "`"));
    EXPECT_FALSE(equalsIgnoreCase("[", "{"));
    EXPECT_FALSE(equalsIgnoreCase("^", "~"));
    EXPECT_FALSE(equalsIgnoreCase("1", "\x11"));
    // Non-ASCII letters are compared as bytes ("Ä" and "ä" in UTF-8).
    EXPECT_FALSE(equalsIgnoreCase("\xC3\x84", "\xC3\xA4"));
}

TEST(StartsWithIgnoreCase, ComparesOnlyThePrefix)
{
    EXPECT_TRUE(startsWithIgnoreCase("Start_2D", "start"));
    EXPECT_TRUE(startsWithIgnoreCase("abc", ""));
    EXPECT_TRUE(startsWithIgnoreCase("abc", "ABC"));
    EXPECT_FALSE(startsWithIgnoreCase("st", "start"));
    EXPECT_FALSE(startsWithIgnoreCase("xstart", "start"));
}

TEST(EndsWithIgnoreCase, ComparesOnlyTheSuffix)
{
    EXPECT_TRUE(endsWithIgnoreCase("pulse.RF", ".rf"));
    EXPECT_TRUE(endsWithIgnoreCase("abc", ""));
    EXPECT_TRUE(endsWithIgnoreCase("abc", "ABC"));
    EXPECT_FALSE(endsWithIgnoreCase("rf", ".rf"));
    EXPECT_FALSE(endsWithIgnoreCase("pulse.rfx", ".rf"));
}

TEST(ToLowerAscii, LowersOnlyAsciiCapitals)
{
    EXPECT_EQ(toLowerAscii("MiXeD 123 [@]"), "mixed 123 [@]");
    EXPECT_EQ(toLowerAscii("\xC3\x84Z"), "\xC3\x84z");
    EXPECT_EQ(toLowerAscii(""), "");
}

}  // namespace
}  // namespace velmora::util
