#include "noticeswin.h"

#include <algorithm>
#include <cwchar>
#include <ctime>
#include <mutex>

#include "item.h"
#include "ncolorpair.h"
#include "notices.h"
#include "nscrollview.h"
#include "ptrlist.h"
#include "srv.h"
#include "statelookup.h"
#include "textutil.h"

namespace {

// A size that leaves a margin of the screen free, but on a tiny screen still `floor` (or
// the whole screen when it is smaller still).
int windowrows() { return dialogextent(LINES - 4, 8, LINES); }
int windowcols() { return dialogextent(COLS - 8, 30, COLS); }

// Screen columns of the character at text[i] (its length in bytes in `len`); what the
// locale cannot tell counts as one column.
int charwidth(const std::string& text, size_t i, size_t& len)
{
    const unsigned char c = static_cast<unsigned char>(text[i]);
    len = 1;
    if (c < 0x80)
        return 1;
    std::mbstate_t st{};
    wchar_t wc = 0;
    size_t k = std::mbrtowc(&wc, text.data() + i, text.size() - i, &st);
    if (k == static_cast<size_t>(-1) || k == static_cast<size_t>(-2) || k == 0)
        return 1;
    len = k;
    int w = wcwidth(wc);
    return w < 0 ? 1 : w;
}

int textwidth(const std::string& text)
{
    int w = 0;
    for (size_t i = 0, len = 0; i < text.size(); i += len)
        w += charwidth(text, i, len);
    return w;
}

// "7 Mar 2024 9:05"; empty when the time cannot be shown.
std::string noticetime(double when)
{
    if (!(when > 0))
        return std::string();
    return localtimetext(secondsfromdouble(when), "%-e %b %Y %-k:%M");
}

void addwrapped(std::vector<std::unique_ptr<NAttrString>>& lines, int attr, const std::string& text,
                int width)
{
    for (auto& line : wraptext(displaytext(text), width)) {
        auto shown = std::make_unique<NAttrString>();
        shown->appendtext(attr, std::move(line));
        lines.push_back(std::move(shown));
    }
}

} // namespace

std::vector<std::string> wraptext(const std::string& text, int width)
{
    width = std::max(width, 1);
    std::vector<std::string> lines;
    std::string line;
    int linewidth = 0;
    std::string blanks; // held back: they go where the line is cut
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            size_t end = text.find_first_not_of(' ', i);
            if (end == std::string::npos)
                end = text.size();
            blanks.assign(end - i, ' ');
            i = end;
            continue;
        }
        size_t end = text.find(' ', i);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(i, end - i);
        i = end;
        const int wordwidth = textwidth(word);
        const int blankwidth = static_cast<int>(blanks.size());
        if (linewidth + blankwidth + wordwidth <= width) {
            line += blanks;
            line += word;
            linewidth += blankwidth + wordwidth;
            blanks.clear();
            continue;
        }
        blanks.clear();
        if (!line.empty()) {
            lines.push_back(std::move(line));
            line.clear();
            linewidth = 0;
        }
        // A word longer than a line fills lines of its own.
        for (size_t k = 0, len = 0; k < word.size(); k += len) {
            const int w = charwidth(word, k, len);
            if (linewidth + w > width && !line.empty()) {
                lines.push_back(std::move(line));
                line.clear();
                linewidth = 0;
            }
            line.append(word, k, len);
            linewidth += w;
        }
    }
    lines.push_back(std::move(line));
    return lines;
}

std::vector<std::unique_ptr<NAttrString>> noticelines(const Item* notice, int width)
{
    const int bg = getbgcolor();
    std::vector<std::unique_ptr<NAttrString>> lines;

    // When it was written (a project's news item: when it was published), else when it came.
    const Item* created = notice->child("create_time");
    const double t = created && created->doublevalue() > 0 ? created->doublevalue() : noticearrival(notice);
    const std::string when = noticetime(t);
    std::string from = displaytext(textof(notice, "project_name"));
    if (from.empty())
        from = displaytext(textof(notice, "category"));
    if (!when.empty() && !from.empty())
        from = "  " + from;
    if (textwidth(when + from) <= width) {
        auto header = std::make_unique<NAttrString>();
        header->appendtext(getcolorpair(6, bg) | A_BOLD, when);
        if (!from.empty())
            header->appendtext(getcolorpair(3, bg) | A_BOLD, from);
        if (!when.empty() || !from.empty())
            lines.push_back(std::move(header));
    } else {
        addwrapped(lines, getcolorpair(3, bg) | A_BOLD, when + from, width);
    }

    // The title is one line of text, however its markup breaks it.
    std::string title = htmltotext(untranslated(textof(notice, "title")));
    std::replace(title.begin(), title.end(), '\n', ' ');
    if (!title.empty())
        addwrapped(lines, getcolorpair(7, bg) | A_BOLD, title, width);

    const std::string description = htmltotext(untranslated(textof(notice, "description")));
    if (!description.empty()) {
        size_t pos = 0;
        for (;;) {
            size_t nl = description.find('\n', pos);
            addwrapped(lines, getcolorpair(7, bg), description.substr(pos, nl - pos), width);
            if (nl == std::string::npos)
                break;
            pos = nl + 1;
        }
    }
    const std::string link = textof(notice, "link");
    if (!link.empty())
        addwrapped(lines, getcolorpair(6, bg), link, width);
    return lines;
}

NoticesWin::NoticesWin(Srv* s) : NDialog(NRect{0, 0, windowrows(), windowcols()}, "Notices"), srv(s)
{
    passkeys = {'I', 'i'}; // its hot key closes it
    content = insert(std::make_unique<NScrollView>(
        NRect{1, 2, std::max(rect.rows - 2, 0), std::max(rect.cols - 4, 0)}));
    borderscrollbar(content);
    screenrows = LINES;
    screencols = COLS;
    updatedata();
    refresh();
}

NoticesWin::~NoticesWin() = default;

void NoticesWin::fitscreen()
{
    const int rows = windowrows();
    const int cols = windowcols();
    refit(rows, cols);
    content->resize(std::max(rows - 2, 0), std::max(cols - 4, 0));
    screenrows = LINES;
    screencols = COLS;
    updatedata();
    setneedrefresh();
}

void NoticesWin::move(int begrow, int begcol)
{
    if (LINES != screenrows || COLS != screencols) {
        fitscreen();
        begrow = std::max(0, LINES / 2 - rect.rows / 2);
        begcol = std::max(0, COLS / 2 - rect.cols / 2);
    }
    NDialog::move(begrow, begcol);
}

void NoticesWin::updatedata()
{
    const int width = content->rect.cols;
    unsigned version = 0;
    std::vector<std::unique_ptr<Item>> notices; // copies, newest first
    if (srv) {
        Snapshot tree(srv->noticesnapshots);
        if (tree) {
            // The update thread merges new notices into this very tree under the lock.
            std::lock_guard<std::mutex> hold(srv->noticesnapshots.lock());
            version = srv->noticesversion;
            const Item* held = tree->child("notices");
            if (built && version == shownversion && width == shownwidth)
                held = nullptr;
            else if (held)
                for (auto it = held->getchildren().rbegin(); it != held->getchildren().rend(); ++it) {
                    auto copy = std::make_unique<Item>("notice");
                    for (const auto& f : (*it)->getchildren())
                        copy->addchild(std::make_unique<Item>(f->getname()))->setvalue(f->value());
                    notices.push_back(std::move(copy));
                }
        }
        // Whatever is shown has been seen.
        srv->marknoticesread();
    }
    if (built && version == shownversion && width == shownwidth)
        return;
    built = true;
    shownversion = version;
    shownwidth = width;

    const int first = content->getstartline();
    content->clearcontent();
    if (notices.empty())
        content->addstring(getcolorpair(7, getbgcolor()), "%s", "No notices");
    for (size_t i = 0; i < notices.size(); ++i) {
        if (i > 0)
            content->addstring(std::make_unique<NAttrString>());
        for (auto& line : noticelines(notices[i].get(), width))
            content->addstring(std::move(line));
    }
    content->setstartline(first);
    content->setneedrefresh();
}

void NoticesWin::handlekey(int key)
{
    const int page = std::max(1, content->rect.rows - 1);
    switch (key) {
    case KEY_NPAGE: content->scrollto(page); break;
    case KEY_PPAGE: content->scrollto(-page); break;
    case KEY_DOWN: content->scrollto(1); break;
    case KEY_UP: content->scrollto(-1); break;
    case KEY_HOME:
        content->setstartline(0);
        content->setneedrefresh();
        break;
    case KEY_END: content->scrollto(content->getstringcount()); break;
    default: break; // swallowed while the window is open
    }
}
