// NoticesWin: the current host's notices, newest first, each with its date and time, its
// project (or its category: "client", "scheduler"), the title in bold, the description
// as plain text wrapped at the window's width, and its link. Rebuilt when the host's
// notices change; while it is open, every notice it shows counts as read.
#ifndef VARNIX_NOTICESWIN_H
#define VARNIX_NOTICESWIN_H

#include <memory>
#include <string>
#include <vector>

#include "nattrstring.h"
#include "ndialog.h"

class Item;
class NScrollView;
class Srv;

// A line of printable text cut into lines of at most `width` screen columns: at blanks
// where it can (blanks at a cut go), inside a word longer than a line. An empty text
// gives one empty line.
std::vector<std::string> wraptext(const std::string& text, int width);

// The lines that show one notice (an element of the host's notice list) at a width.
std::vector<std::unique_ptr<NAttrString>> noticelines(const Item* notice, int width);

class NoticesWin : public NDialog {
public:
    // With no host the window shows that there are no notices.
    explicit NoticesWin(Srv* srv);
    ~NoticesWin() override;

    // The application re-centres dialogs when the screen changed size: the window first
    // takes the size that suits the new screen, and centres itself with it.
    void move(int begrow, int begcol) override;
    // Rebuilds the lines when the host's notices or the window's width changed.
    void updatedata();

    Srv* srv; // not owned; may be null
    NScrollView* content = nullptr;

protected:
    void handlekey(int key) override;
    void ontick() override { updatedata(); }

private:
    // Sizes the window and its views for the screen.
    void fitscreen();

    bool built = false;
    unsigned shownversion = 0; // the host's notices version the lines show
    int shownwidth = 0;
    int screenrows = 0, screencols = 0; // the screen the size was chosen for
};

#endif
