// AboutWin and HelpWin: the two small fixed windows of the Help menu, the program's
// name and version, and the list of hot keys. Each closes itself by posting the
// command that toggles it.
#ifndef VARNIX_ABOUTWIN_H
#define VARNIX_ABOUTWIN_H

#include <memory>
#include <string>
#include <vector>

#include "ndialog.h"

class NStaticText;

class AboutWin : public NDialog {
public:
    // Placed centred from the size given, then made 12 rows high.
    AboutWin(int rows, int cols);
    ~AboutWin() override;

    // The text rows: the program line and the credit lines, in screen order.
    static std::string versionline();
    static const std::vector<std::string>& creditlines();

protected:
    std::unique_ptr<NEvent> closeevent() override;
    // The text lives in the window itself: drawn with the frame, so a resize keeps it.
    void drawframe() override;
};

class HelpWin : public NDialog {
public:
    // Placed centred from the size given, then made 18 rows by 60 columns.
    HelpWin(int rows, int cols);
    ~HelpWin() override;

    // One line of the key list: the quoted key names padded so that the hyphen is
    // always the 22nd character.
    static std::string keyline(const std::string& keys, const std::string& what);

    NStaticText* text = nullptr;

protected:
    std::unique_ptr<NEvent> closeevent() override;
};

#endif
