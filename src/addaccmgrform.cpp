#include "addaccmgrform.h"

#include "config.h"
#include "item.h"
#include "srv.h"
#include "textutil.h"
#include "tuievent.h"

namespace {

const std::string* childtext(const Item* parent, const char* name)
{
    const Item* it = parent->child(name);
    return it ? &it->value() : nullptr;
}

} // namespace

AddAccMgrForm::AddAccMgrForm(int rows, int cols, Srv* srv, const std::string& name)
    : AccountForm(rows, cols, srv, name), mgrname(name)
{
    // The list was fetched when the account manager menu showed it.
    genfields(srv ? srv->findaccountmanager(name) : nullptr);
    finishfields();
}

std::string AddAccMgrForm::configuredurl(const Item* cfgroot, const std::string& name)
{
    if (!cfgroot)
        return std::string();
    for (const Item* m : cfgroot->children("accmgr")) {
        const std::string* n = childtext(m, "name");
        if (n && *n == name) {
            const std::string* url = childtext(m, "url");
            return url ? *url : std::string();
        }
    }
    return std::string();
}

void AddAccMgrForm::genfields(const Item* entry)
{
    delfields();
    errfield = namefield = urlfield = usernamefield = passwfield = -1;
    listed = entry != nullptr;
    const int w = width;
    adderrorline();
    if (entry) {
        const Item* url = entry->find("url");
        mgrurl = url ? url->value() : std::string();
    } else {
        mgrurl = configuredurl(gConfig ? gConfig->getcfgroot() : nullptr, mgrname);
    }
    addlabel(1, 2, w - 4, "Description  ");
    namefield = addinput(1, ltrim(rtrim(mgrname)), !listed);
    addlabel(3, 2, w - 4, "URL          ");
    urlfield = addinput(3, mgrurl, !listed);
    addlabel(5, 2, w - 4, kHint, 3);
    addlabel(9, 2, 10, "username");
    usernamefield = addinput(9, "");
    addlabel(11, 2, 10, "password");
    passwfield = addinput(11, "");
    addfooter(13);
}

void AddAccMgrForm::rememberaccmgr(Item* cfgroot, const std::string& name, const std::string& url)
{
    // A nameless entry could not be offered in the menu (an empty item is a separator).
    if (!cfgroot || name.empty())
        return;
    for (Item* m : cfgroot->children("accmgr")) {
        Item* n = m->child("name");
        Item* u = m->child("url");
        const bool samename = n && n->value() == name;
        if (samename && u)
            u->setvalue(url);
        if (u && u->value() == url) {
            if (n)
                n->setvalue(name);
            return;
        }
        if (samename)
            return;
    }
    auto m = std::make_unique<Item>("accmgr");
    m->addchild(std::make_unique<Item>("name"))->setvalue(name);
    m->addchild(std::make_unique<Item>("url"))->setvalue(url);
    cfgroot->addchild(std::move(m));
}

void AddAccMgrForm::submit()
{
    storefields();
    const std::string username = fieldtext(usernamefield);
    const std::string password = fieldtext(passwfield);
    // A listed manager's fields are read-only: its own URL and name stand, uncut.
    if (!listed)
        mgrurl = fieldtext(urlfield);
    const std::string name = listed ? mgrname : fieldtext(namefield);
    if (!srv || !complete())
        return;
    // The client takes a request without a URL as leaving its account manager.
    if (mgrurl.empty()) {
        showerror("no URL given");
        return;
    }
    std::string error;
    shownote(kContactingManager);
    if (!srv->accountmanager(mgrurl, username, password, false, error)) {
        showerror(error);
        return;
    }
    if (!listed && !srv->findaccountmanager(name) && gConfig)
        rememberaccmgr(gConfig->getcfgroot(), name, mgrurl);
    putevent(new TuiEvent(evADDACCMGR));
}

std::unique_ptr<NEvent> AddAccMgrForm::closeevent()
{
    return std::make_unique<TuiEvent>(evADDACCMGR, srv, mgrname, "");
}
