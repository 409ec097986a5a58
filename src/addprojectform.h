// AddProjectForm: attaches the host's client to a project, listed by the client or given
// by its URL, with an existing account or a new one. It shows what the client's list
// says about the project; Enter creates the account when asked to, looks it up and
// attaches; success closes the form, a failure is shown in its top line.
#ifndef VARNIX_ADDPROJECTFORM_H
#define VARNIX_ADDPROJECTFORM_H

#include <memory>
#include <string>

#include "accountform.h"

class Item;

class AddProjectForm : public AccountForm {
public:
    AddProjectForm(int rows, int cols, Srv* srv, const std::string& name, bool userexist, bool byurl);

    // Builds every field; `entry` is the project's entry in the client's list, or null.
    void genfields(const Item* entry);
    // Rows of an information line with the text t in a form w columns wide, at most `most`.
    static int inforows(const std::string& t, int w, int most);

    std::string projname;
    std::string projurl;
    bool userexist;
    bool byurl;
    int urlfield = -1;
    int emailfield = -1;
    int usernamefield = -1;
    int teamnamefield = -1;

protected:
    void submit() override;
    std::unique_ptr<NEvent> closeevent() override;

private:
    // A label and its input one row below r; r moves past them.
    int addrow(int& r, const char* label);
};

#endif
