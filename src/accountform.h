// AccountForm: what the forms that send account requests to a client share: the hidden
// error line on top, labels and input fields, the footer, a size fitted to the fields,
// Enter to submit and Esc to close, and the report of a request in the error line.
#ifndef VARNIX_ACCOUNTFORM_H
#define VARNIX_ACCOUNTFORM_H

#include <memory>
#include <string>

#include "nform.h"

class Srv;

class AccountForm : public NForm {
public:
    // A form of rows x cols for the host `srv` (may be null), titled `name`.
    AccountForm(int rows, int cols, Srv* srv, const std::string& name);
    // Blanks the password field before the form library frees it.
    ~AccountForm() override;

    // Mouse events edit; Enter submits, Esc posts the closing event, other keys edit.
    void eventhandle(NEvent* ev) override;

    // The text of field i without its trailing blanks ("" for a missing field).
    std::string fieldtext(int i) const;
    // Whether the error line is shown, and its text.
    bool errorshown() const;
    std::string errorline() const { return fieldtext(errfield); }
    // False when the form library failed while the fields were built.
    bool complete() const { return !broken; }

    Srv* srv; // not owned
    int errfield = -1;
    int passwfield = -1;

    static constexpr int kInputCol = 15;
    static constexpr int kInputWidth = 40;
    static constexpr int kMaxInput = 128; // longer input scrolls inside its field
    static constexpr const char* kFooter = "Enter-Ok    Esc-Cancel";
    // What the error line says while the client works on a request.
    static constexpr const char* kContactingProject = " Contacting the project... ";
    static constexpr const char* kContactingManager = " Contacting the account manager... ";

protected:
    virtual void submit() = 0;
    // The event that asks the application to delete the form.
    virtual std::unique_ptr<NEvent> closeevent() = 0;

    // Each adder gives the new field's index, or -1 once the form library has failed,
    // after which nothing more is built.
    int adderrorline();
    // A text the user cannot edit; `height` rows, cut to the field's size.
    int addlabel(int row, int col, int width, const std::string& text, int height = 1);
    // An input field at kInputCol of its label's row; a read-only one is inactive and
    // drawn on the window's background.
    int addinput(int row, const std::string& value, bool editable = true);
    int addfooter(int row);
    // Closes the field list, sizes the form to its fields plus the frame and a blank row,
    // posts it and draws it.
    void finishfields();
    // Stores the field being edited in its buffer, as leaving it does.
    void storefields();
    // Shows a note in the error line and puts it on the screen at once: the request that
    // follows blocks the screen until the client answers.
    void shownote(const std::string& text);
    // Shows " Error: " and the reason (the client's text, sanitised), or why there is none.
    void showerror(const std::string& why);

    int width; // the form's width as created, which the layout is made for

private:
    int add(FIELD* f);
    bool broken = false;
};

#endif
