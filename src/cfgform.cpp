#include "cfgform.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "config.h"
#include "ncolorpair.h"
#include "textutil.h"
#include "tuievent.h"

namespace {

constexpr int kFieldsPerHost = 4;
constexpr int kMaxText = 128;

// Places and widths of a host row's fields: host, port, password, label.
constexpr int kCols[kFieldsPerHost] = {5, 22, 29, 51};
constexpr int kWidths[kFieldsPerHost] = {15, 5, 20, 20};
const char* const kKeys[kFieldsPerHost] = {"host", "port", "pwd", "hostid"};

std::string childvalue(const Item* server, const char* name)
{
    Item* it = server->find(name);
    return it ? it->value() : std::string();
}

bool isport(const std::string& text)
{
    std::string s = ltrim(rtrim(text));
    if (s.empty() || s.size() > 5)
        return false;
    if (!std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return false;
    return std::stoi(s) <= 65535;
}

} // namespace

CfgForm::CfgForm(int rows, int cols)
    : NForm(rows, cols)
{
    genfields(false);
    postform();
}

FIELD* CfgForm::addlabel(int row, int width, const char* text)
{
    FIELD* f = new_field(1, width, row, 5, 0, 0);
    if (!f)
        return nullptr;
    field_opts_off(f, O_ACTIVE);
    set_field_back(f, static_cast<chtype>(getcolorpair(7, getbgcolor()) | A_BOLD));
    set_field_buffer(f, 0, text);
    filled.emplace_back();
    return addfield(f);
}

FIELD* CfgForm::addinput(int row, int col, int width, bool port, const std::string& value)
{
    FIELD* f = new_field(1, width, row, col, 0, 0);
    if (!f)
        return nullptr;
    set_field_back(f, static_cast<chtype>(getcolorpair(7, 6) | A_BOLD));
    field_opts_off(f, O_AUTOSKIP);
    if (port) {
        set_field_type(f, TYPE_INTEGER, 0, 0L, 65535L);
    } else {
        // Longer texts scroll sideways inside the field.
        field_opts_off(f, O_STATIC);
        set_max_field(f, kMaxText);
    }
    set_field_buffer(f, 0, value.c_str());
    const char* buf = field_buffer(f, 0);
    filled.push_back(Filled{value, buf ? rtrim(std::string(buf)) : std::string()});
    return addfield(f);
}

void CfgForm::genfields(bool insert)
{
    delfields();
    filled.clear();
    insertmode = insert;
    Item* cfg = gConfig ? gConfig->getcfgroot() : nullptr;
    if (!cfg)
        return;
    std::vector<Item*> servers = cfg->children("server");
    const bool empty = insert || servers.empty();
    nhost = static_cast<int>(servers.size()) + (empty ? 1 : 0);

    addlabel(2, 53, kHeader);
    for (int i = 0; i < nhost; ++i) {
        const Item* server = i < static_cast<int>(servers.size()) ? servers[static_cast<size_t>(i)] : nullptr;
        for (int k = 0; k < kFieldsPerHost; ++k)
            addinput(3 + 2 * i, kCols[k], kWidths[k], k == 1,
                     server ? childvalue(server, kKeys[k]) : std::string());
    }
    const int d = 3 + 2 * nhost;
    addlabel(d + 1, 44, empty ? kFooterFull : kFooter);
    addfield(nullptr);
    // The header is not active: the first host field is the current one.
    if (fieldcount > 2)
        set_current_field(frm, fields[1]);

    resize(d + 5, rect.cols);
    // A form taller than the screen keeps its top rows (and the first host) on it.
    move(std::max(0, LINES / 2 - rect.rows / 2), std::max(0, COLS / 2 - rect.cols / 2));
}

std::string CfgForm::fieldtext(int i)
{
    if (i < 0 || i >= fieldcount || !fields[static_cast<size_t>(i)])
        return std::string();
    const char* buf = field_buffer(fields[static_cast<size_t>(i)], 0);
    return buf ? rtrim(std::string(buf)) : std::string();
}

void CfgForm::saveconfig()
{
    Item* cfg = gConfig ? gConfig->getcfgroot() : nullptr;
    if (!cfg || fieldcount == 0)
        return;
    cfg->removechildrenif([](const Item* c) { return c->getname() == "server"; });
    for (int i = 0; i < nhost; ++i) {
        std::string v[kFieldsPerHost];
        for (int k = 0; k < kFieldsPerHost; ++k) {
            const int index = 1 + kFieldsPerHost * i + k;
            v[k] = fieldtext(index);
            if (static_cast<size_t>(index) < filled.size() && v[k] == filled[static_cast<size_t>(index)].buffer)
                v[k] = rtrim(filled[static_cast<size_t>(index)].value);
        }
        gConfig->addserver(v[0], v[1], v[2], v[3]);
    }
}

FIELD* CfgForm::badport()
{
    for (int i = 0; i < nhost; ++i) {
        const int index = 2 + kFieldsPerHost * i;
        std::string port = fieldtext(index);
        if (!port.empty() && !isport(port))
            return fields[static_cast<size_t>(index)];
    }
    return nullptr;
}

void CfgForm::accept()
{
    // Leaving the field stores what is being typed; a port out of range stays current.
    const int moved = form_driver(frm, REQ_NEXT_FIELD);
    if (moved == E_INVALID_FIELD) {
        refresh();
        return;
    }
    // A port that no connection could use is not saved: the user fixes it first.
    if (FIELD* bad = badport()) {
        set_current_field(frm, bad);
        form_driver(frm, REQ_END_LINE);
        refresh();
        return;
    }
    saveconfig();
    std::string why;
    const bool saved = gConfig && gConfig->save(&why);
    putevent(new TuiEvent(evCFGCH));
    if (gConfig && !saved) {
        // The host list is rebuilt all the same; the user must know it lives in memory only.
        auto ev = std::make_unique<TuiEvent>(evPOPUPMSG);
        ev->sdata1 = "Config error:";
        ev->sdata2 = why;
        putevent(ev.release());
    }
}

void CfgForm::eventhandle(NEvent* ev)
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
        accept();
        break;
    case 27:
        break; // the application closes the form without saving
    case KEY_IC:
        ev->done = true;
        if (!insertmode) {
            unpost_form(frm);
            genfields(true);
            postform();
            setneedrefresh();
            refresh();
        }
        break;
    default:
        // The form library leaves the integer type's character check out when it is
        // built for wide characters: a port takes digits only.
        if (isporttyping(ev->keycode))
            ev->done = true;
        else
            NForm::eventhandle(ev);
        break;
    }
}

bool CfgForm::isporttyping(int key) const
{
    FIELD* f = current_field(frm);
    if (!f || field_type(f) != TYPE_INTEGER)
        return false;
    const bool character = key >= 0x20 && key <= 0xff && key != 127;
    return character && !(key >= '0' && key <= '9');
}
