// NDialog: what every dialog window shares: a modal group framed in the line-draw mode's
// characters with its title in the top border, centred on the screen (again after a
// resize), that keeps the keys from the windows below it and closes on the keys and
// clicks its class chooses.
#ifndef VARNIX_NDIALOG_H
#define VARNIX_NDIALOG_H

#include <memory>
#include <string>
#include <vector>

#include "ngroup.h"

class NScrollBar;
class NScrollView;

// A dialog's rows or columns: what it wants, at least `least`, but never more than the
// screen's `screen` (and never less than 1).
int dialogextent(int want, int least, int screen);

class NDialog : public NGroup {
public:
    // The title is shown with one blank on each side; an empty one shows nothing.
    NDialog(const NRect& rect, const std::string& title);

    // Frame and title, then the children.
    void refresh() override;
    // In order: the children; a click (anywhere) posts closeevent(); a key in closekeys
    // posts it too, and so does Esc unless escpasses leaves it to the application (which
    // then deletes the dialog by its class id); any other key goes to
    // handlekey and is consumed whatever it does; a timer tick calls ontick.
    void eventhandle(NEvent* ev) override;

    // Moves the dialog to the middle of the screen, its top left corner kept on it.
    void centre();
    void settitle(const std::string& t);
    const std::string& gettitle() const { return title; }

protected:
    // A key the dialog acts on; every key that gets here is consumed.
    virtual void handlekey(int key) { (void)key; }
    // What closes the dialog: by default an Esc key, which the application answers by
    // deleting the dialog by its class id.
    virtual std::unique_ptr<NEvent> closeevent();
    // The periodic timer event: dialogs that show client data rebuild it here.
    virtual void ontick() {}
    // Draws the frame and the title; derived dialogs that draw into their own window
    // (not only through children) do so after calling it.
    virtual void drawframe();
    // A scroll bar for the view on the right border, between the frame's corners.
    void borderscrollbar(NScrollView* view, chtype bodychar = ACS_VLINE);
    // A new size, taken from the screen's corner so that a larger dialog always fits, with
    // the old frame wiped and the border scroll bar along the new edge. The caller fits
    // its other children, then centres the dialog.
    void refit(int rows, int cols);

    std::string title;
    int titlecol = -1;           // where the blanked title starts; -1: centred
    std::vector<int> closekeys;  // keys that post closeevent()
    std::vector<int> passkeys;   // keys left to the application (the hot key that closes it)
    bool escpasses = true;       // Esc stays undone, for the application; else it closes
    bool clickpasses = false;    // a mouse event stays undone even when it closes
    int frameattr;               // the window's drawing attribute: frame, title, text

private:
    NScrollBar* borderbar = nullptr;
};

#endif
