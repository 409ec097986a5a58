// CfgForm: the host list editor. One row of host, port, password and label per
// configured server; Enter writes the rows back into the configuration, saves it and
// asks the application to rebuild the host list; Esc leaves it to the application to
// close the form without saving.
#ifndef VARNIX_CFGFORM_H
#define VARNIX_CFGFORM_H

#include <string>
#include <vector>

#include "nform.h"

class CfgForm : public NForm {
public:
    CfgForm(int rows, int cols);

    void eventhandle(NEvent* ev) override;

    // (Re)creates every field from the configuration, with one empty row more when
    // `insert` is set; the caller unposts a posted form before and posts it after.
    void genfields(bool insert);
    // Replaces the configuration's servers with the rows, in their order.
    void saveconfig();

    // The text of field i as it stands, with its trailing blanks removed.
    std::string fieldtext(int i);

    bool insertmode = false; // built with the extra empty row of Insert
    int nhost = 0;           // host rows shown

    static constexpr const char* kHeader =
        "host             port   pwd                   label";
    static constexpr const char* kFooter = "Esc-Cancel   Enter-Accept   Ins-Add host";
    static constexpr const char* kFooterFull = "Esc-Cancel   Enter-Accept";

private:
    // Enter: stores the field being edited, saves and tells the application.
    void accept();
    // The first port field whose text is not a port number (empty ones drop their row
    // and pass), or null.
    FIELD* badport();
    // A character that is not a digit, typed into a port field.
    bool isporttyping(int key) const;
    FIELD* addlabel(int row, int width, const char* text);
    FIELD* addinput(int row, int col, int width, bool port, const std::string& value);

    // What each field was filled with and what its buffer read back then: a field left
    // alone saves the configuration's value byte for byte, even where the form library
    // could not hold it (longer than the field takes, bytes the locale cannot read).
    struct Filled {
        std::string value;
        std::string buffer;
    };
    std::vector<Filled> filled; // by field index; empty entries for the labels
};

#endif
