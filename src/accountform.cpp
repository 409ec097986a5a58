#include "accountform.h"

#include "ncolorpair.h"
#include "srv.h"
#include "textutil.h"

AccountForm::AccountForm(int rows, int cols, Srv* srv, const std::string& name)
    : NForm(rows, cols), srv(srv), width(cols)
{
    // Names come from the client or the configuration: nothing in them may reach the
    // terminal as a command.
    settitle(displaytext(name).c_str());
}

AccountForm::~AccountForm()
{
    // The password should not linger in freed memory longer than it must.
    if (passwfield >= 0 && passwfield < fieldcount && fields[static_cast<size_t>(passwfield)]) {
        FIELD* f = fields[static_cast<size_t>(passwfield)];
        set_field_buffer(f, 0, "");
        field_buffer(f, 0); // also overwrites the copy the library hands out
    }
}

int AccountForm::add(FIELD* f)
{
    if (broken || !f) {
        if (f)
            free_field(f);
        broken = true;
        return -1;
    }
    addfield(f);
    return fieldcount - 1;
}

int AccountForm::adderrorline()
{
    FIELD* f = broken ? nullptr : new_field(1, width - 2, 0, 0, 0, 0);
    if (f) {
        field_opts_off(f, O_ACTIVE | O_VISIBLE);
        set_field_back(f, static_cast<chtype>(getcolorpair(7, 1) | A_BOLD));
        set_field_buffer(f, 0, "Error");
    }
    return errfield = add(f);
}

int AccountForm::addlabel(int row, int col, int w, const std::string& text, int height)
{
    FIELD* f = broken ? nullptr : new_field(height, w, row, col, 0, 0);
    if (f) {
        field_opts_off(f, O_ACTIVE);
        set_field_back(f, static_cast<chtype>(getcolorpair(7, getbgcolor()) | A_BOLD));
        // A static field keeps what fits its rows and cuts the rest.
        set_field_buffer(f, 0, displaytext(text).c_str());
    }
    return add(f);
}

int AccountForm::addinput(int row, const std::string& value, bool editable)
{
    FIELD* f = broken ? nullptr : new_field(1, kInputWidth, row, kInputCol, 0, 0);
    if (f) {
        field_opts_off(f, O_AUTOSKIP | O_STATIC);
        set_max_field(f, kMaxInput);
        if (editable) {
            set_field_back(f, static_cast<chtype>(getcolorpair(7, 6) | A_BOLD));
        } else {
            field_opts_off(f, O_ACTIVE);
            set_field_back(f, static_cast<chtype>(getcolorpair(7, getbgcolor())));
        }
        // A text longer than the field may grow is refused whole by the library.
        std::string shown = displaytext(value);
        mbstrtrunc(shown, kMaxInput);
        set_field_buffer(f, 0, shown.c_str());
    }
    return add(f);
}

int AccountForm::addfooter(int row)
{
    return addlabel(row, 20, width - 25, kFooter);
}

void AccountForm::finishfields()
{
    addfield(nullptr);
    int r = 0, c = 0;
    if (!broken && scale_form(frm, &r, &c) == E_OK)
        resize(r + 3, c + 2);
    postform();
    setneedrefresh();
    refresh();
}

std::string AccountForm::fieldtext(int i) const
{
    if (i < 0 || i >= fieldcount || !fields[static_cast<size_t>(i)])
        return std::string();
    const char* buf = field_buffer(fields[static_cast<size_t>(i)], 0);
    return buf ? rtrim(std::string(buf)) : std::string();
}

bool AccountForm::errorshown() const
{
    if (errfield < 0 || errfield >= fieldcount)
        return false;
    return (field_opts(fields[static_cast<size_t>(errfield)]) & O_VISIBLE) != 0;
}

void AccountForm::storefields()
{
    form_driver(frm, REQ_NEXT_FIELD);
}

void AccountForm::shownote(const std::string& text)
{
    if (errfield < 0)
        return;
    FIELD* f = fields[static_cast<size_t>(errfield)];
    set_field_buffer(f, 0, text.c_str());
    field_opts_on(f, O_VISIBLE);
    setneedrefresh();
    refresh();
    doupdate();
}

void AccountForm::showerror(const std::string& why)
{
    std::string reason = why;
    if (reason.empty())
        reason = srv && srv->isonline() ? "the client gave no outcome" : "no answer from the client";
    shownote(" Error: " + displaytext(reason));
}

void AccountForm::eventhandle(NEvent* ev)
{
    if (!ev || ev->done)
        return;
    if (ev->type == evMOUSE) {
        NForm::eventhandle(ev);
        return;
    }
    if (ev->type != evKB)
        return;
    switch (ev->keycode) {
    case 10:
    case KEY_ENTER:
        ev->done = true;
        submit();
        break;
    case 27:
        ev->done = true;
        putevent(closeevent().release());
        break;
    default:
        NForm::eventhandle(ev);
        break;
    }
}
