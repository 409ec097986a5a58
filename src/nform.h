// NForm: a framed group around an ncurses form, with the standard field editing keys and
// mouse selection of fields. Dialogs with input fields derive from it.
#ifndef VARNIX_NFORM_H
#define VARNIX_NFORM_H

#include <cwchar>
#include <string>
#include <vector>

#include <form.h>

#include "ngroup.h"

class NForm : public NGroup {
public:
    NForm(int rows, int cols);
    ~NForm() override;

    void resize(int rows, int cols) override;
    void move(int begrow, int begcol) override;
    void refresh() override;
    // Every key and mouse event that reaches the form is consumed here.
    void eventhandle(NEvent* ev) override;

    virtual void settitle(const char* s);
    // The title with its blanks, or null when unset.
    virtual const char* gettitle();
    // Adds a field (the form takes ownership); null closes the list and attaches it.
    virtual FIELD* addfield(FIELD* f);
    // Frees every field; the derived form then adds a new series and posts the form again.
    virtual void delfields();

    int getfieldcount() const { return fieldcount; }
    FORM* getform() const { return frm; }
    WINDOW* getsubwin() const { return subwin; }

protected:
    // post_form, remembering when the fields did not fit the screen, so that they are
    // posted once it has room.
    int postform();
    // Types a key into the current field, gathering the bytes of a multibyte character.
    void typekey(int key);

    std::string title; // without the blanks that frame it in the border
    bool hastitle = false;
    std::vector<FIELD*> fields; // closed by a null entry once complete
    int fieldcount = 0;         // entries including the closing null
    FORM* frm = nullptr;
    NWindowHandle subwin; // freed before the frame window it lives in

private:
    // Sizes the inner window to the frame's; `repost` builds the fields anew in it.
    void fitsubwin(bool repost);
    bool waitingforroom = false; // unposted here: the fields did not fit the screen
    void typebyte(int key);
    std::string blankedtitle; // what gettitle gives
    std::string pendingbytes; // a multibyte character still being typed
};

#endif
