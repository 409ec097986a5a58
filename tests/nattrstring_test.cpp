#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "nattrstring.h"
#include "ncursesfixture.h"

namespace {

class AttrString : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::setlocale(LC_ALL, nullptr);
        saved = old ? old : "C";
        std::setlocale(LC_ALL, "C.UTF-8");
    }
    void TearDown() override { std::setlocale(LC_ALL, saved.c_str()); }

    std::string saved;
};

std::string fragmenttext(const NAttrString& s, std::size_t i)
{
    return s.fragment(i).text;
}

} // namespace

TEST_F(AttrString, LengthCountsCharactersOverFragments)
{
    NAttrString empty;
    EXPECT_EQ(empty.getlen(), 0);
    EXPECT_TRUE(empty.empty());

    NAttrString s(1, "%s", "ab");
    s.append(2, "%s", "\xc3\xa4");
    EXPECT_EQ(s.getlen(), 3);
    ASSERT_EQ(s.fragmentcount(), 2u);
    EXPECT_EQ(s.fragment(1).attr, 2);
}

TEST_F(AttrString, FormatsLikePrintf)
{
    NAttrString s(0, "%d%% of %s", 50, "disk");
    EXPECT_EQ(fragmenttext(s, 0), "50% of disk");
    s.append(0, "%5.1f|%-3s|", 2.25, "x");
    EXPECT_EQ(fragmenttext(s, 1), "  2.2|x  |");
}

TEST_F(AttrString, CopyKeepsPercentSignsAndEquality)
{
    NAttrString src(3, "%s", "100% done %s %d");
    src.append(A_BOLD, "%s", "tail");
    NAttrString copy;
    copy.append(9, "%s", "old content");
    copy = src;
    EXPECT_EQ(fragmenttext(copy, 0), "100% done %s %d");
    EXPECT_TRUE(copy == src);
    EXPECT_FALSE(copy != src);

    NAttrString constructed(src);
    EXPECT_EQ(constructed, src);
}

TEST_F(AttrString, EqualityComparesFragmentsTextsAndAttributes)
{
    NAttrString whole(1, "%s", "abcd");
    NAttrString split(1, "%s", "ab");
    split.append(1, "%s", "cd");
    EXPECT_FALSE(whole == split);
    EXPECT_EQ(whole.getlen(), split.getlen());

    NAttrString otherattr(2, "%s", "abcd");
    EXPECT_FALSE(whole == otherattr);
    NAttrString prefix(1, "%s", "abc");
    EXPECT_FALSE(whole == prefix);
    EXPECT_TRUE(NAttrString() == NAttrString());
}

TEST_F(AttrString, ClearEmptiesTheLine)
{
    NAttrString s(1, "%s", "x");
    s.append(2, "%s", "y");
    s.clear();
    EXPECT_EQ(s.fragmentcount(), 0u);
    EXPECT_EQ(s.getlen(), 0);
}

TEST_F(AttrString, LongFragmentIsCutAt1023Bytes)
{
    std::string longtext(5000, 'a');
    NAttrString s(0, "%s", longtext.c_str());
    EXPECT_EQ(fragmenttext(s, 0).size(), kMaxFragmentBytes);
}

TEST_F(AttrString, CutNeverEndsInsideACharacter)
{
    // 1022 ASCII bytes and a two-byte letter: the letter would be torn at byte 1023.
    std::string torn2 = std::string(1022, 'a') + "\xc3\xa4";
    NAttrString s(0, "%s", torn2.c_str());
    EXPECT_EQ(fragmenttext(s, 0), std::string(1022, 'a'));

    // A three-byte character with one or two of its bytes behind the limit.
    for (int lead : {1021, 1022}) {
        std::string torn3 = std::string(static_cast<std::size_t>(lead), 'b') + "\xe6\x97\xa5" + "tail";
        NAttrString t(0, "%s", torn3.c_str());
        EXPECT_EQ(fragmenttext(t, 0), std::string(static_cast<std::size_t>(lead), 'b')) << lead;
    }

    // Exactly fitting: nothing is lost.
    std::string fits = std::string(1021, 'c') + "\xc3\xa4";
    NAttrString u(0, "%s", fits.c_str());
    EXPECT_EQ(fragmenttext(u, 0), fits);
}

TEST_F(AttrString, CutSkipsInvalidBytesBeforeTheTornTail)
{
    // A stray byte early on must not make the cut drop the whole text.
    std::string text = "\xff" + std::string(1020, 'a') + "\xe6\x97\xa5";
    NAttrString s(0, "%s", text.c_str());
    EXPECT_EQ(fragmenttext(s, 0), "\xff" + std::string(1020, 'a'));

    // Short texts keep every byte as it was given, valid or not.
    NAttrString raw(0, "%s", "x\xff\xc3");
    EXPECT_EQ(fragmenttext(raw, 0), "x\xff\xc3");
}

TEST_F(AttrString, CutInTheCLocaleKeepsEveryByte)
{
    std::setlocale(LC_ALL, "C");
    std::string text = std::string(1022, 'a') + "\xc3\xa4";
    NAttrString s(0, "%s", text.c_str());
    EXPECT_EQ(fragmenttext(s, 0).size(), kMaxFragmentBytes);
}

TEST_F(AttrString, NullFormatGivesEmptyFragment)
{
    NAttrString s;
    s.append(4, nullptr);
    ASSERT_EQ(s.fragmentcount(), 1u);
    EXPECT_EQ(fragmenttext(s, 0), "");
}

class AttrStringDraw : public NcursesTest {};

TEST_F(AttrStringDraw, DrawsEachFragmentWithItsAttribute)
{
    WINDOW* w = newwin(1, 20, 0, 0);
    NAttrString s(A_BOLD, "%s", "ab");
    s.append(A_UNDERLINE, "%s", "\xc3\xa4z");
    wmove(w, 0, 0);
    s.draw(w);
    EXPECT_EQ(trimmedrow(w, 0), "ab\xc3\xa4z");
    EXPECT_TRUE(cellat(w, 0, 1) & A_BOLD);
    EXPECT_FALSE(cellat(w, 0, 2) & A_BOLD);
    EXPECT_TRUE(cellat(w, 0, 3) & A_UNDERLINE);
    delwin(w);
}
