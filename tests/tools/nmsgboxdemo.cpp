// A message box with two buttons over a status line, for end-to-end tests of the toolkit
// in a real terminal. The status line on the last row tells what reached the program:
//   "keys:N last:K box:open|closed|yes size:RxC"
// Keys: Esc (passes through the box) closes it; "b" opens it again; "q" quits once the
// box is closed (while it is open, the box keeps every other key).
// Options: --ascii draws frames with ASCII characters; --text TEXT sets the message.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <curses.h>

#include "ndraw.h"
#include "ncolorpair.h"
#include "nmessagebox.h"
#include "nprogram.h"
#include "nstatictext.h"

namespace {

constexpr int kYesCommand = 1;
const char kDefaultText[] = "Please Confirm\n\nTask   : demo_task_1\nOperation : Abort";

class DemoProgram : public NProgram {
public:
    explicit DemoProgram(std::string text) : message(std::move(text))
    {
        status = insert(std::make_unique<NStaticText>(NRect{LINES - 1, 0, 1, COLS}));
        status->bgattr = getcolorpair(7, 2);
        openbox();
        updatestatus();
    }

    void eventhandle(NEvent* ev) override
    {
        NProgram::eventhandle(ev);
        if (ev->done)
            return;
        if (ev->type == evKB) {
            ++keys;
            lastkey = ev->keycode;
            if (ev->keycode == 27) {
                if (destroybyid("11NMessageBox"))
                    boxstate = "closed";
            } else if (ev->keycode == 'b' && !getitembyid("11NMessageBox")) {
                openbox();
            } else if (ev->keycode == 'q') {
                quitflag = true;
            }
            updatestatus();
        } else if (ev->type == evPROG && ev->keycode == kYesCommand) {
            destroybyid("11NMessageBox");
            boxstate = "yes";
            updatestatus();
        }
    }

    void handleresize() override
    {
        NProgram::handleresize();
        status->resize(1, COLS);
        status->move(LINES - 1, 0);
        updatestatus();
    }

private:
    void openbox()
    {
        auto box = std::make_unique<NMessageBox>(message.c_str());
        box->addbutton(std::make_unique<NMButton>("Yes", new NEvent(evPROG, kYesCommand), 'Y', 'y', 0));
        box->addbutton(std::make_unique<NMButton>("No", new NEvent(evKB, 27), 'N', 'n', 27, 0));
        insert(std::move(box));
        boxstate = "open";
    }

    void updatestatus()
    {
        status->settext(getcolorpair(7, 2) | A_BOLD, "keys:%d last:%d box:%s size:%dx%d", keys,
                        lastkey, boxstate, LINES, COLS);
    }

    std::string message;
    NStaticText* status = nullptr;
    int keys = 0;
    int lastkey = 0;
    const char* boxstate = "open";
};

} // namespace

int main(int argc, char** argv)
{
    std::string text = kDefaultText;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ascii") == 0) {
            lineDrawMode = 1;
        } else if (std::strcmp(argv[i], "--text") == 0 && i + 1 < argc) {
            text = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--ascii] [--text TEXT]\n", argv[0]);
            return 2;
        }
    }

    std::setlocale(LC_ALL, "");
    initscr();
    noecho();
    cbreak();
    curs_set(0);
    keypad(stdscr, TRUE);
    mousemask(ALL_MOUSE_EVENTS, nullptr);
    set_escdelay(25);
    wtimeout(stdscr, 100);
    if (has_colors()) {
        start_color();
        use_default_colors();
    }
    {
        DemoProgram prog(text);
        prog.setneedrefresh();
        prog.refresh();
        doupdate();
        prog.mainloop();
    }
    endwin();
    return 0;
}
