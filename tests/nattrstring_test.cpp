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

    static std::string formatted(const std::string& text)
    {
        return NAttrString(0, "%s", text.c_str()).fragment(0).text;
    }

    std::string saved;
};

} // namespace

TEST_F(AttrString, LengthCountsCharactersOverFragments)
{
    EXPECT_EQ(NAttrString().getlen(), 0);
    NAttrString s(1, "%s", "ab");
    s.append(2, "%s", "\xc3\xa4");
    EXPECT_EQ(s.getlen(), 3);
}

TEST_F(AttrString, CopyKeepsTextsVerbatimAndEqualityComparesFragments)
{
    NAttrString src(3, "%s", "100% done %s %d");
    src.append(A_BOLD, "%s", "tail");
    NAttrString copy(9, "%s", "old content");
    copy = src;
    EXPECT_EQ(copy.fragment(0).text, "100% done %s %d"); // never formatted again
    EXPECT_TRUE(copy == src);

    NAttrString whole(1, "%s", "abcd");
    NAttrString split(1, "%s", "ab");
    split.append(1, "%s", "cd");
    EXPECT_FALSE(whole == split); // same text, split differently
    EXPECT_FALSE(whole == NAttrString(2, "%s", "abcd"));
    EXPECT_FALSE(whole == NAttrString(1, "%s", "abc"));
}

TEST_F(AttrString, LongFragmentIsCutAtAWholeCharacter)
{
    EXPECT_EQ(formatted(std::string(5000, 'a')).size(), kMaxFragmentBytes);
    // A two-byte letter at bytes 1023-1024 would be torn: it goes whole.
    EXPECT_EQ(formatted(std::string(1022, 'a') + "\xc3\xa4"), std::string(1022, 'a'));
    // A three-byte character with one or two of its bytes behind the limit.
    EXPECT_EQ(formatted(std::string(1021, 'b') + "\xe6\x97\xa5" "tail"), std::string(1021, 'b'));
    EXPECT_EQ(formatted(std::string(1022, 'b') + "\xe6\x97\xa5"), std::string(1022, 'b'));
    // Exactly fitting: nothing is lost.
    std::string fits = std::string(1021, 'c') + "\xc3\xa4";
    EXPECT_EQ(formatted(fits), fits);
    // A stray byte early on does not make the cut drop the whole text.
    EXPECT_EQ(formatted("\xff" + std::string(1020, 'a') + "\xe6\x97\xa5"), "\xff" + std::string(1020, 'a'));
    // Short texts keep every byte as given, valid or not.
    EXPECT_EQ(formatted("x\xff\xc3"), "x\xff\xc3");
}

TEST_F(AttrString, CutInTheCLocaleKeepsEveryByte)
{
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(formatted(std::string(1022, 'a') + "\xc3\xa4").size(), kMaxFragmentBytes);
}

class AttrStringDraw : public NcursesTest {};

// Text added as it is reads exactly like the same text added through "%s".
TEST_F(AttrString, TextFragmentsMatchFormattedOnes)
{
    const std::string euro = "\xe2\x82\xac";
    std::string cut;
    for (int i = 0; i < 400; ++i)
        cut += euro; // 1200 bytes: the limit falls inside a character
    const std::string texts[] = {"", "plain", std::string(2000, 'x'), cut, "a" + cut,
                                 std::string("zero\0byte", 9), "\xff\xfe invalid"};
    for (const char* locale : {"C.UTF-8", "C"}) {
        std::setlocale(LC_ALL, locale);
        for (const std::string& t : texts) {
            NAttrString fast, formatted;
            fast.appendtext(7, t);
            formatted.append(7, "%s", t.c_str());
            EXPECT_EQ(fast, formatted) << locale << ": " << t.size() << " bytes";
        }
    }
}

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
