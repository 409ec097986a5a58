#include "aboutwin.h"

#include "config.h"
#include "ncolorpair.h"
#include "nstatictext.h"
#include "textutil.h"
#include "tuievent.h"

namespace {

NRect centred(int rows, int cols)
{
    return NRect{LINES / 2 - rows / 2, COLS / 2 - cols / 2, rows, cols};
}

// What closes both windows: Enter (either code), Esc and the space bar; Esc is answered
// here, and a click closes the window while still reaching the windows below it.
void closingrules(std::vector<int>& closekeys, bool& escpasses, bool& clickpasses)
{
    closekeys = {kKeyEnter, KEY_ENTER, ' '};
    escpasses = false;
    clickpasses = true;
}

} // namespace

AboutWin::AboutWin(int rows, int cols) : NDialog(centred(rows, cols), "VARNIX")
{
    closingrules(closekeys, escpasses, clickpasses);
    resize(12, cols);
    centre(); // a window cut by the screen's bottom would stay cut where it stood
}

AboutWin::~AboutWin() = default;

std::string AboutWin::versionline()
{
    char buf[128];
    snprintf(buf, sizeof buf, "%s ver %s", "ZORID Uvuzar ezedidu", kVarnixVersion);
    return buf;
}

const std::vector<std::string>& AboutWin::creditlines()
{
    static const std::vector<std::string> lines = {
        "varnix, a terminal manager",
        "for BOINC clients",
        "Licence: GPL-3.0-or-later",
        "Source, docs: README, man varnix",
    };
    return lines;
}

std::unique_ptr<NEvent> AboutWin::closeevent()
{
    return std::make_unique<TuiEvent>(evABOUT);
}

void AboutWin::drawframe()
{
    NDialog::drawframe();
    const int cols = rect.cols;
    auto centreline = [&](int row, const std::string& s) {
        int col = cols / 2 - mbstrlen(s) / 2;
        mvwaddnstr(win, row, col < 1 ? 1 : col, s.c_str(), -1);
    };
    wattrset(win, frameattr);
    centreline(3, versionline());
    int row = 5;
    for (const auto& line : creditlines())
        centreline(row++, line);
}

HelpWin::HelpWin(int rows, int cols) : NDialog(centred(rows, cols), "Hot keys list")
{
    closingrules(closekeys, escpasses, clickpasses);
    resize(18, 60);
    centre();
    text = insert(std::make_unique<NStaticText>(NRect{1, 1, 16, 58}));
    const int heading = getcolorpair(3, getbgcolor()) | A_BOLD;
    const int plain = getcolorpair(7, getbgcolor()) | A_BOLD;
    text->settext(plain, "%s", "\n");
    text->appendstring(heading, "%s", "   Common Controls:\n");
    static const char* const common[][2] = {
        {"N", "View next BOINC host"},
        {"P", "View previous BOINC host"},
        {"C", "Edit configuration"},
        {"Q", "Quit varnix"},
        {"F9/M", "Toggle main menu"},
        {"PgUp/PgDn", "Scroll Messages Window"},
    };
    for (const auto& k : common)
        text->appendstring(plain, "%s", keyline(k[0], k[1]).c_str());
    text->appendstring(plain, "%s", "\n");
    text->appendstring(heading, "%s", "   Task Controls:\n");
    static const char* const task[][2] = {
        {"Up/Dn", "Select task"},
        {"S", "Suspend selected running task"},
        {"R", "Resume selected suspended task"},
        {"A", "Abort selected task"},
        {"Enter", "View selected task raw info"},
    };
    for (const auto& k : task)
        text->appendstring(plain, "%s", keyline(k[0], k[1]).c_str());
}

HelpWin::~HelpWin() = default;

std::string HelpWin::keyline(const std::string& keys, const std::string& what)
{
    // "A/B" reads "\"A\"/\"B\"".
    std::string label;
    size_t slash = keys.find('/');
    if (slash == std::string::npos)
        label = "\"" + keys + "\"";
    else
        label = "\"" + keys.substr(0, slash) + "\"/\"" + keys.substr(slash + 1) + "\"";
    if (label.size() < 14)
        label.resize(14, ' ');
    return "       " + label + "- " + what + "\n";
}

std::unique_ptr<NEvent> HelpWin::closeevent()
{
    return std::make_unique<TuiEvent>(evKEYBIND);
}
