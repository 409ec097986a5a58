#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <string>

#include "textutil.h"

namespace {

// Runs each test under a UTF-8 locale and puts the previous one back.
class TextUtil : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::setlocale(LC_ALL, nullptr);
        saved = old ? old : "C";
        ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    }
    void TearDown() override { std::setlocale(LC_ALL, saved.c_str()); }

    std::string saved;
};

// "äöü": three two-byte letters; "日本": two three-byte characters.
const char kUmlauts[] = "\xc3\xa4\xc3\xb6\xc3\xbc";

} // namespace

TEST_F(TextUtil, MbstrlenCountsCharactersNotBytes)
{
    EXPECT_EQ(mbstrlen(kUmlauts), 3);
    EXPECT_EQ(mbstrlen(""), 0);
    EXPECT_EQ(mbstrlen(static_cast<const char*>(nullptr)), 0);
    EXPECT_EQ(mbstrlen("a\xe6\x97\xa5\xe6\x9c\xac" "b"), 4);
    EXPECT_EQ(mbstrlen(std::string("ab\ncd")), 5); // a line end is a character
}

TEST_F(TextUtil, MbstrlenStopsAtInvalidOrTornSequence)
{
    EXPECT_EQ(mbstrlen("ab\xff" "cd"), 2);
    EXPECT_EQ(mbstrlen("ab\xc3"), 2);          // first byte of a two-byte letter, then the end
    EXPECT_EQ(mbstrlen("\x80" "abc"), 0);      // a lone continuation byte
}

TEST_F(TextUtil, MbstrlenInCLocaleCountsBytes)
{
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(mbstrlen("abc"), 3);
}

TEST_F(TextUtil, MbstrtruncKeepsWholeCharacters)
{
    char five[] = "\xc3\xa4\xc3\xb6\xc3\xbc" "xy";
    EXPECT_EQ(mbstrtrunc(five, 2), five);
    EXPECT_STREQ(five, "\xc3\xa4\xc3\xb6");

    char same[] = "abcde";
    mbstrtrunc(same, 5);
    EXPECT_STREQ(same, "abcde");
    mbstrtrunc(same, 50);
    EXPECT_STREQ(same, "abcde");

    std::string s = "\xe6\x97\xa5\xe6\x9c\xac\xe6\x97\xa5";
    mbstrtrunc(s, 1);
    EXPECT_EQ(s, "\xe6\x97\xa5");
}

TEST_F(TextUtil, MbstrtruncToZeroOrLessKeepsOneCharacter)
{
    char a[] = "\xc3\xa4" "bc";
    mbstrtrunc(a, 0);
    EXPECT_STREQ(a, "\xc3\xa4");
    char b[] = "abc";
    mbstrtrunc(b, -4);
    EXPECT_STREQ(b, "a");
    char empty[] = "";
    mbstrtrunc(empty, 0);
    EXPECT_STREQ(empty, "");
    EXPECT_EQ(mbstrtrunc(static_cast<char*>(nullptr), 3), nullptr);
}

TEST_F(TextUtil, MbstrtruncCutsTextWithInvalidBytes)
{
    // An invalid byte counts as one character, so a long tail behind it is still cut.
    char s[] = "ab\xff" "cdefgh";
    mbstrtrunc(s, 4);
    EXPECT_STREQ(s, "ab\xff" "c");
    std::string t = "\xff\xff\xff\xff\xff";
    mbstrtrunc(t, 2);
    EXPECT_EQ(t, "\xff\xff");
}

TEST_F(TextUtil, RtrimRemovesOnlyTrailingBlanks)
{
    char blanks[] = "    ";
    EXPECT_STREQ(rtrim(blanks), "");
    char tab[] = "ab\t";
    EXPECT_STREQ(rtrim(tab), "ab\t");
    char mixed[] = " a b  ";
    EXPECT_STREQ(rtrim(mixed), " a b");
    char empty[] = "";
    EXPECT_STREQ(rtrim(empty), "");
    EXPECT_EQ(rtrim(static_cast<char*>(nullptr)), nullptr);
    EXPECT_EQ(rtrim(std::string("host   ")), "host");
    EXPECT_EQ(rtrim(std::string("   ")), "");
}

TEST_F(TextUtil, LtrimMovesTheRestToTheFront)
{
    char s[] = "  ab";
    EXPECT_EQ(ltrim(s), s);
    EXPECT_STREQ(s, "ab");
    EXPECT_EQ(s[2], '\0'); // nothing left over behind it
    char blanks[] = "   ";
    EXPECT_STREQ(ltrim(blanks), "");
    char tab[] = "\tab";
    EXPECT_STREQ(ltrim(tab), "\tab");
    EXPECT_EQ(ltrim(static_cast<char*>(nullptr)), nullptr);
    EXPECT_EQ(ltrim(std::string("  a b ")), "a b ");
}

TEST(ShortDuration, TwoLargestUnitsAndWholeMinutes)
{
    const struct {
        double seconds;
        bool minutes;
        const char* want;
    } cases[] = {
        {0, false, "0s"},          {42.9, false, "42s"},     {60, false, "1m"},
        {192, false, "3m 12s"},    {3600, false, "1h"},      {3660, false, "1h 1m"},
        {90061, false, "1d 1h"},   {-5, false, "0s"},        {NAN, false, "0s"},
        {INFINITY, false, "0s"}, {1e15, false, "11574074d 1h"},
        {0, true, "0m"},           {30, true, "1m"},         {2519.5, true, "42m"},
        {3599, true, "1h"},        {3660, true, "1h 1m"},    {172800, true, "2d"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shortduration(c.seconds, c.minutes), c.want) << c.seconds << " " << c.minutes;
}
