// MainWin: the framed window between the menu line and the status line. It holds the
// column titles, the task list above the message view, the information panel at the
// side, and shows the current host and its connection state in its top border.
#ifndef VARNIX_MAINWIN_H
#define VARNIX_MAINWIN_H

#include <string>
#include <vector>

#include "nattrstring.h"
#include "ngroup.h"

struct ModeDelay;
class InfoPanel;
class MsgWin;
class NHLine;
class NScrollBar;
class NStaticText;
class Srv;
class TaskWin;

// "snoozed 42m", "GPU snoozed 10m", ... for the modes the client holds suspended for a
// while, joined by commas; empty when none is.
std::string snoozecaption(const ModeDelay& run, const ModeDelay& gpu, const ModeDelay& network);

class MainWin : public NGroup {
public:
    explicit MainWin(const NRect& rect);
    ~MainWin() override;

    void resize(int rows, int cols) override;
    void refresh() override;
    void eventhandle(NEvent* ev) override;

    void setsrv(Srv* s);
    void updatecaption();
    void updatecolheader();

    // Height of the task list for a window of `rows` rows at the given split.
    static int taskheight(int rows, int percent);
    // The split after one '+' (grow = false) or '-' (grow = true); the old value when
    // the key does nothing at this height.
    static int nextpercent(int rows, int percent, bool grow);

    TaskWin* taskwin = nullptr;
    MsgWin* msgwin = nullptr;
    NStaticText* colheader = nullptr;
    NScrollBar* msgscrollbar = nullptr;
    NScrollBar* taskscrollbar = nullptr;
    InfoPanel* panel = nullptr;
    NAttrString caption;
    Srv* srv = nullptr; // not owned
    NHLine* hline = nullptr;
    std::vector<std::string> colnames;
    int wtaskheightpercent = 5000;

private:
    // Tells in the caption how long the host's snoozes last.
    static void addsnoozecaption(NAttrString& line, Srv* s);
    void readsplit();
    void changesplit(bool grow);
    void drawcaption();
};

#endif
