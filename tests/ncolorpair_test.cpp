#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "ncolorpair.h"
#include "ncursesfixture.h"

namespace {

class ColorPair : public NcursesTest {};

short pairfg(int attr)
{
    short fg = 0, bg = 0;
    pair_content(static_cast<short>(PAIR_NUMBER(attr)), &fg, &bg);
    return fg;
}

short pairbg(int attr)
{
    short fg = 0, bg = 0;
    pair_content(static_cast<short>(PAIR_NUMBER(attr)), &fg, &bg);
    return bg;
}

// A terminal description with only 8 colour pairs, compiled into a private folder.
class SmallTerminal {
public:
    SmallTerminal()
    {
        char tmpl[] = "/tmp/varnix-terminfo-XXXXXX";
        char* made = mkdtemp(tmpl);
        if (!made)
            return;
        dir = made;
        std::ofstream(dir + "/src") << "vx8pairs|terminal with 8 colour pairs,\n"
                                       "\tcolors#8, pairs#8, use=xterm-color,\n";
        std::string cmd = "tic -x -o " + dir + " " + dir + "/src 2>/dev/null";
        ok = std::system(cmd.c_str()) == 0;
        const char* old = std::getenv("TERMINFO");
        hadold = old != nullptr;
        if (old)
            oldvalue = old;
        setenv("TERMINFO", dir.c_str(), 1);
    }
    ~SmallTerminal()
    {
        if (hadold)
            setenv("TERMINFO", oldvalue.c_str(), 1);
        else
            unsetenv("TERMINFO");
        if (!dir.empty())
            std::system(("rm -rf " + dir).c_str());
    }

    bool ok = false;

private:
    std::string dir;
    std::string oldvalue;
    bool hadold = false;
};

} // namespace

TEST_F(ColorPair, HandsOutPairsInOrderOfFirstRequest)
{
    int a = getcolorpair(3, 0);
    int b = getcolorpair(6, 0);
    int c = getcolorpair(7, -1);
    EXPECT_EQ(PAIR_NUMBER(a), 1);
    EXPECT_EQ(PAIR_NUMBER(b), 2);
    EXPECT_EQ(PAIR_NUMBER(c), 3);
    EXPECT_EQ(a, static_cast<int>(COLOR_PAIR(1)));
    // The terminal got the colours that were asked for.
    EXPECT_EQ(pairfg(b), 6);
    EXPECT_EQ(pairbg(b), 0);
    EXPECT_EQ(pairbg(c), -1);
    // A repeated request allocates nothing.
    EXPECT_EQ(getcolorpair(6, 0), b);
    // The default and the black background are different keys.
    EXPECT_NE(getcolorpair(7, 0), c);
    EXPECT_EQ(PAIR_NUMBER(getcolorpair(7, 0)), 4);
}

TEST_F(ColorPair, ExhaustedPairsGiveTheDefaultPair)
{
    SmallTerminal term;
    ASSERT_TRUE(term.ok) << "tic could not compile the test terminal";
    NcursesScreen::Options small;
    small.term = "vx8pairs";
    reopen(small);
    ASSERT_EQ(COLOR_PAIRS, 8);

    int first[7];
    for (int i = 0; i < 7; ++i) {
        first[i] = getcolorpair(i, 0);
        EXPECT_EQ(PAIR_NUMBER(first[i]), i + 1);
    }
    EXPECT_EQ(getcolorpair(7, 0), 0);  // the eighth key
    EXPECT_EQ(getcolorpair(7, 1), 0);  // and every later new one
    EXPECT_EQ(getcolorpair(7, 0), 0);  // still nothing cached for it
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(getcolorpair(i, 0), first[i]);
}

TEST_F(ColorPair, NeverHandsOutAPairThatAnAttributeCannotHold)
{
    ASSERT_GT(COLOR_PAIRS, 256); // xterm-256color
    std::set<int> seen;
    int zeros = 0;
    for (int i = 0; i < 300; ++i) {
        int attr = getcolorpair(i % 16, i / 16);
        if (attr == 0) {
            ++zeros;
            continue;
        }
        // Every handed-out attribute means a pair of its own: no wrap-around to pair 1.
        EXPECT_TRUE(seen.insert(attr).second) << "request " << i;
        EXPECT_EQ(pairfg(attr), i % 16);
    }
    EXPECT_EQ(seen.size(), 255u);
    EXPECT_EQ(zeros, 300 - 255);
}
