#include "nform.h"

#include <algorithm>

#include "ndraw.h"
#include "ncolorpair.h"
#include "textutil.h"

NForm::NForm(int rows, int cols)
    : NGroup(NRect{0, 0, rows, cols})
{
    modalflag = true;
    frm = new_form(nullptr);
    addfield(nullptr);
    set_form_win(frm, win);
    subwin.reset(derwin(win, std::max(rows - 2, 1), std::max(cols - 2, 1), 1, 1));
    set_form_sub(frm, subwin);
    wattrset(win, getcolorpair(7, getbgcolor()) | A_BOLD);
    needrefresh = true;
    curs_set(1);
}

NForm::~NForm()
{
    if (frm) {
        unpost_form(frm);
        free_form(frm); // lets go of the fields, which delfields frees
        frm = nullptr;
    }
    delfields();
    curs_set(0);
}

void NForm::resize(int rows, int cols)
{
    NView::resize(rows, cols);
    fitsubwin(false);
}

void NForm::move(int begrow, int begcol)
{
    NGroup::move(begrow, begcol);
    fitsubwin(true);
}

void NForm::fitsubwin(bool repost)
{
    // A smaller screen cut the form's inner window and its fields down; the frame got
    // its size back (as far as the screen has room), the inner window and the fields
    // get theirs here.
    const int rows = std::max(getmaxy(win) - 2, 1);
    const int cols = std::max(getmaxx(win) - 2, 1);
    if (!subwin || (getmaxy(subwin) == rows && getmaxx(subwin) == cols))
        return;
    wresize(subwin, rows, cols);
    needrefresh = true;
    if (!repost || !frm)
        return;
    // The field windows are built anew from the buffers, which typekey keeps up to
    // date (the windows themselves were cut by the smaller screen). Fields that do not
    // fit wait, unposted, until the screen has room for them again.
    FIELD* editing = current_field(frm);
    const bool posted = unpost_form(frm) == E_OK;
    if (!posted && !waitingforroom)
        return; // the derived form posts it when it is ready
    if (postform() == E_OK && editing) {
        set_current_field(frm, editing);
        form_driver(frm, REQ_END_FIELD);
    }
}

int NForm::postform()
{
    const int rc = post_form(frm);
    waitingforroom = rc == E_NO_ROOM;
    return rc;
}

void NForm::settitle(const char* s)
{
    hastitle = s != nullptr;
    title = hastitle ? s : "";
}

const char* NForm::gettitle()
{
    if (!hastitle)
        return nullptr;
    blankedtitle = " " + title + " ";
    return blankedtitle.c_str();
}

FIELD* NForm::addfield(FIELD* f)
{
    // The form holds a pointer into the array: let go of it before the array may move.
    if (frm && !fields.empty() && form_fields(frm) == fields.data()) {
        unpost_form(frm);
        set_form_fields(frm, nullptr);
    }
    // A closed list is opened again: the new field takes the place of the closing entry,
    // which would otherwise hide every field behind it.
    if (!fields.empty() && fields.back() == nullptr) {
        fields.pop_back();
        --fieldcount;
    }
    fields.push_back(f);
    ++fieldcount;
    if (!f && frm)
        set_form_fields(frm, fields.data());
    return f;
}

void NForm::delfields()
{
    if (fields.empty())
        return;
    if (frm) {
        unpost_form(frm); // a posted form keeps its fields
        set_form_fields(frm, nullptr);
    }
    for (FIELD* f : fields) {
        if (f)
            free_field(f); // a field still connected somewhere stays; nothing better to do
    }
    fields.clear();
    fieldcount = 0;
}

void NForm::refresh()
{
    drawframe(win, hastitle ? title : std::string());
    if (frm)
        pos_form_cursor(frm);
    NGroup::refresh();
}

void NForm::typekey(int key)
{
    typebyte(key);
    FIELD* f = current_field(frm);
    const bool typed = f && field_type(f);
    int col = typed && pos_form_cursor(frm) == E_OK ? getcurx(subwin) : -1;
    // What is typed reaches the field's buffer only on validation; a buffer kept up to
    // date survives the field windows being built anew after a resize.
    form_driver(frm, REQ_VALIDATION);
    // A field type may write back the text it checked (an integer without its leading
    // zeros), which puts the cursor at the field's start, where the next character
    // would blank the field: put the cursor back after what was typed.
    if (col >= 0 && pos_form_cursor(frm) == E_OK && getcurx(subwin) < col) {
        const char* buf = field_buffer(f, 0);
        int len = buf ? mbstrlen(rtrim(std::string(buf))) : 0;
        int steps = std::min(col - getcurx(subwin), len);
        form_driver(frm, REQ_BEG_LINE);
        for (int i = 0; i < steps; ++i)
            form_driver(frm, REQ_NEXT_CHAR);
    }
}

void NForm::typebyte(int key)
{
    if (key < 0x80 || key > 0xff) {
        pendingbytes.clear();
        form_driver(frm, key);
        return;
    }
    pendingbytes.push_back(static_cast<char>(key));
    std::mbstate_t st{};
    wchar_t wc = 0;
    std::size_t k = std::mbrtowc(&wc, pendingbytes.data(), pendingbytes.size(), &st);
    if (k == static_cast<std::size_t>(-2))
        return; // more bytes to come
    pendingbytes.clear();
    if (k != static_cast<std::size_t>(-1))
        form_driver_w(frm, OK, wc);
}

void NForm::eventhandle(NEvent* ev)
{
    NGroup::eventhandle(ev);
    if (!ev || ev->done)
        return;
    if (ev->type == evMOUSE) {
        ev->done = true;
        auto* mev = dynamic_cast<NMouseEvent*>(ev);
        if (mev && mev->isclick() && isinside(mev->row, mev->col) && frm) {
            FIELD** list = form_fields(frm);
            int count = field_count(frm);
            for (int i = 0; list && i < count; ++i) {
                // A label may lie under an input field: only a field that can be
                // edited answers the click.
                const Field_Options opts = field_opts(list[i]);
                if ((opts & (O_ACTIVE | O_VISIBLE)) != (O_ACTIVE | O_VISIBLE))
                    continue;
                int frows = 0, fcols = 0, frow = 0, fcol = 0, nrow = 0, nbuf = 0;
                if (field_info(list[i], &frows, &fcols, &frow, &fcol, &nrow, &nbuf) != E_OK)
                    continue;
                int top = getabsbegrow() + 1 + frow;
                int left = getabsbegcol() + 1 + fcol;
                if (mev->row >= top && mev->row < top + frows && mev->col >= left &&
                    mev->col < left + fcols) {
                    set_current_field(frm, list[i]);
                    form_driver(frm, REQ_END_LINE);
                    break;
                }
            }
        }
    } else if (ev->type == evKB) {
        ev->done = true;
        if (frm) {
            switch (ev->keycode) {
            case kKeyTab:
                form_driver(frm, REQ_NEXT_FIELD);
                form_driver(frm, REQ_END_LINE);
                break;
            case KEY_LEFT:
                form_driver(frm, REQ_PREV_CHAR);
                break;
            case KEY_RIGHT:
                form_driver(frm, REQ_NEXT_CHAR);
                break;
            case KEY_BACKSPACE:
            case 127: // terminals whose backspace is not their terminfo's kbs
            case 8:
                form_driver(frm, REQ_DEL_PREV);
                break;
            case KEY_DC:
                form_driver(frm, REQ_DEL_CHAR);
                break;
            case KEY_HOME:
                form_driver(frm, REQ_BEG_LINE);
                break;
            case KEY_END:
                form_driver(frm, REQ_END_LINE);
                break;
            default:
                typekey(ev->keycode);
                break;
            }
        }
    }
    if (ev->done)
        refresh();
}
