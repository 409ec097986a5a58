// AddAccMgrForm: makes the host's client use an account manager. Name and URL are fixed
// for a manager the client lists and editable otherwise; Enter sends the request with the
// user name and password. On success a manager the client does not list is remembered
// in the configuration (name and URL only), and the form closes; a failure is shown in
// its top line.
#ifndef VARNIX_ADDACCMGRFORM_H
#define VARNIX_ADDACCMGRFORM_H

#include <memory>
#include <string>

#include "accountform.h"

class Item;

class AddAccMgrForm : public AccountForm {
public:
    AddAccMgrForm(int rows, int cols, Srv* srv, const std::string& name);

    // Builds every field; `entry` is the manager's entry in the client's list, or null.
    void genfields(const Item* entry);
    // Writes the manager into the "accmgr" entries of the configuration root: the first
    // entry with its name or URL is updated, otherwise a new one is appended.
    static void rememberaccmgr(Item* cfgroot, const std::string& name, const std::string& url);
    // The URL of the first "accmgr" entry with exactly that name, or "".
    static std::string configuredurl(const Item* cfgroot, const std::string& name);

    std::string mgrname;
    std::string mgrurl;
    bool listed = false; // the client lists this manager
    int namefield = -1;
    int urlfield = -1;
    int usernamefield = -1;

    static constexpr const char* kHint =
        "If you have not yet registered with this account manager     please do so before proceeding.";

protected:
    void submit() override;
    std::unique_ptr<NEvent> closeevent() override;
};

#endif
