#include "addprojectform.h"

#include <algorithm>

#include "item.h"
#include "srv.h"
#include "textutil.h"
#include "tuievent.h"

namespace {

std::string valueof(const Item* entry, const char* name)
{
    const Item* it = entry->find(name);
    return it ? it->value() : std::string();
}

} // namespace

AddProjectForm::AddProjectForm(int rows, int cols, Srv* srv, const std::string& name,
                               bool userexist, bool byurl)
    : AccountForm(rows, cols, srv, name), projname(name), userexist(userexist), byurl(byurl)
{
    // The list was fetched when the Projects menu showed it.
    genfields(srv ? srv->findallprojectsentry(name) : nullptr);
    finishfields();
}

int AddProjectForm::inforows(const std::string& t, int w, int most)
{
    return std::min(static_cast<int>(t.size()) / std::max(w - 4, 1) + 1, most);
}

int AddProjectForm::addrow(int& r, const char* label)
{
    const int row = r + 1;
    addlabel(row, 1, 10, label);
    r = row + 1;
    return addinput(row, "");
}

void AddProjectForm::genfields(const Item* entry)
{
    delfields();
    errfield = urlfield = emailfield = passwfield = usernamefield = teamnamefield = -1;
    const int w = width;
    adderrorline();
    int r = 1;
    if (entry) {
        projurl = valueof(entry, "url");
        addlabel(r++, 1, w - 4, "url          : " + projurl);
        addlabel(r++, 1, w - 4, "General area : " + valueof(entry, "general_area"));
        addlabel(r++, 1, w - 4, "Specific area: " + valueof(entry, "specific_area"));
        addlabel(r++, 1, w - 4, "Home         : " + valueof(entry, "home"));
        r += 1;
        std::string t = displaytext("Description  : " + valueof(entry, "description"));
        int h = inforows(t, w, 4);
        addlabel(r, 1, w - 4, t, h);
        r += h + 1;
        r += 1;
        std::string platforms;
        if (const Item* list = entry->find("platforms"))
            for (const Item* p : list->children("name"))
                platforms += (platforms.empty() ? "" : ",") + p->value();
        t = displaytext("Platforms    : " + platforms);
        h = inforows(t, w, 5);
        addlabel(r, 1, w - 4, t, h);
        r += h + 1;
    }
    if (byurl)
        urlfield = addrow(r, "ProjectURL");
    emailfield = addrow(r, "email");
    passwfield = addrow(r, "password");
    if (!userexist) {
        usernamefield = addrow(r, "username");
        teamnamefield = addrow(r, "teamname");
    }
    addfooter(r + 1);
}

void AddProjectForm::submit()
{
    storefields();
    const std::string email = asciilower(fieldtext(emailfield));
    if (byurl)
        projurl = fieldtext(urlfield);
    const std::string password = fieldtext(passwfield);
    if (!srv || !complete())
        return;
    std::string error;
    shownote(kContactingProject);
    bool ok = true;
    if (!userexist)
        ok = srv->createaccount(projurl, email, password, asciilower(fieldtext(usernamefield)),
                                fieldtext(teamnamefield), error);
    if (ok && srv->projectattach(projurl, projname, email, password, error)) {
        putevent(new TuiEvent(evADDPROJECT));
        return;
    }
    showerror(error);
}

std::unique_ptr<NEvent> AddProjectForm::closeevent()
{
    return std::make_unique<TuiEvent>(evADDPROJECT);
}
