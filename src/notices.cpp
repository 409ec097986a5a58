#include "notices.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "srv.h"

namespace {

// What a notice is made of; anything else a client sends with one is left out.
const char* const kNoticeFields[] = {"seqno", "title", "description", "create_time", "arrival_time",
                                     "is_private", "project_name", "category", "link"};

bool isblank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The value without the blanks and line ends around it (a CDATA section brings its own),
// cut to kMaxNoticeText bytes but never inside a UTF-8 character.
std::string fieldtext(const std::string& v)
{
    size_t from = 0, to = v.size();
    while (from < to && isblank(v[from]))
        ++from;
    while (to > from && isblank(v[to - 1]))
        --to;
    std::string text = v.substr(from, to - from);
    text.resize(utf8cut(text, kMaxNoticeText));
    return text;
}

std::unique_ptr<Item> noticecopy(const Item* notice, int seqno)
{
    auto copy = std::make_unique<Item>("notice");
    for (const char* name : kNoticeFields) {
        const Item* field = notice->child(name);
        if (!field)
            continue;
        auto f = std::make_unique<Item>(name);
        if (strcmp(name, "seqno") == 0)
            f->setintvalue(seqno);
        else
            f->setvalue(fieldtext(field->value()));
        copy->addchild(std::move(f));
    }
    return copy;
}

} // namespace

int noticeseqno(const Item* notice)
{
    const Item* s = notice ? notice->child("seqno") : nullptr;
    if (!s)
        return 0;
    errno = 0;
    long v = std::strtol(s->value().c_str(), nullptr, 10);
    if (errno == ERANGE || v > INT_MAX || v < INT_MIN)
        return 0; // no number a client really uses: left out
    return static_cast<int>(v);
}

int newestnoticeseqno(const Item& held)
{
    const auto& all = held.getchildren();
    return all.empty() ? 0 : noticeseqno(all.back().get());
}

double noticearrival(const Item* notice)
{
    for (const char* name : {"arrival_time", "create_time"}) {
        const Item* t = notice->child(name);
        const double v = t ? t->doublevalue() : 0.0;
        if (std::isfinite(v) && v > 0)
            return v;
    }
    return 0.0;
}

NoticeBatch readnotices(const Item* notices)
{
    NoticeBatch batch;
    if (!notices)
        return batch;
    std::vector<std::pair<int, const Item*>> found;
    for (const auto& c : notices->getchildren()) {
        if (c->getname() != "notice")
            continue;
        const int seqno = noticeseqno(c.get());
        if (seqno == -1) {
            batch.reset = true;
            found.clear();
        } else if (seqno > 0) {
            found.emplace_back(seqno, c.get());
        }
    }
    // A client sends its newest first; a number sent twice counts once.
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    found.erase(std::unique(found.begin(), found.end(),
                            [](const auto& a, const auto& b) { return a.first == b.first; }),
                found.end());
    const size_t skip = found.size() > kMaxNotices ? found.size() - kMaxNotices : 0;
    for (size_t i = skip; i < found.size(); ++i)
        batch.notices.push_back(noticecopy(found[i].second, found[i].first));
    return batch;
}

bool mergenotices(Item& held, NoticeBatch batch, bool replace, size_t maxnotices)
{
    bool changed = false;
    if ((replace || batch.reset) && !held.getchildren().empty()) {
        held.removefirstchildren(held.getchildren().size());
        changed = true;
    }
    const int newest = newestnoticeseqno(held);
    for (auto& n : batch.notices) {
        if (noticeseqno(n.get()) <= newest)
            continue;
        held.addchild(std::move(n));
        changed = true;
    }
    const size_t count = held.getchildren().size();
    if (count > maxnotices)
        held.removefirstchildren(count - maxnotices);
    return changed;
}

std::string untranslated(const std::string& text)
{
    std::string out;
    size_t pos = 0;
    for (;;) {
        size_t open = text.find("_(\"", pos);
        size_t close = open == std::string::npos ? open : text.find("\")", open + 3);
        if (close == std::string::npos) {
            out.append(text, pos, std::string::npos);
            return out;
        }
        out.append(text, pos, open - pos);
        out.append(text, open + 3, close - open - 3);
        pos = close + 2;
    }
}

// ---- HTML to text ----------------------------------------------------------------

namespace {

struct Entity {
    const char* name;
    unsigned code;
};

const Entity kEntities[] = {
    {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0},
    {"shy", 0xAD}, {"copy", 0xA9}, {"reg", 0xAE}, {"trade", 0x2122}, {"hellip", 0x2026},
    {"mdash", 0x2014}, {"ndash", 0x2013}, {"minus", 0x2212}, {"lsquo", 0x2018}, {"rsquo", 0x2019},
    {"sbquo", 0x201A}, {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"bdquo", 0x201E}, {"laquo", 0xAB},
    {"raquo", 0xBB}, {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"bull", 0x2022}, {"middot", 0xB7},
    {"euro", 0x20AC}, {"pound", 0xA3}, {"yen", 0xA5}, {"cent", 0xA2}, {"curren", 0xA4},
    {"deg", 0xB0}, {"plusmn", 0xB1}, {"times", 0xD7}, {"divide", 0xF7}, {"micro", 0xB5},
    {"sect", 0xA7}, {"para", 0xB6}, {"iexcl", 0xA1}, {"iquest", 0xBF}, {"frac12", 0xBD},
    {"frac14", 0xBC}, {"frac34", 0xBE}, {"sup1", 0xB9}, {"sup2", 0xB2}, {"sup3", 0xB3},
    {"larr", 0x2190}, {"rarr", 0x2192}, {"uarr", 0x2191}, {"darr", 0x2193}, {"hearts", 0x2665},
    {"szlig", 0xDF}, {"auml", 0xE4}, {"ouml", 0xF6}, {"uuml", 0xFC}, {"euml", 0xEB},
    {"iuml", 0xEF}, {"yuml", 0xFF}, {"Auml", 0xC4}, {"Ouml", 0xD6}, {"Uuml", 0xDC},
    {"aacute", 0xE1}, {"eacute", 0xE9}, {"iacute", 0xED}, {"oacute", 0xF3}, {"uacute", 0xFA},
    {"Aacute", 0xC1}, {"Eacute", 0xC9}, {"Iacute", 0xCD}, {"Oacute", 0xD3}, {"Uacute", 0xDA},
    {"agrave", 0xE0}, {"egrave", 0xE8}, {"igrave", 0xEC}, {"ograve", 0xF2}, {"ugrave", 0xF9},
    {"Agrave", 0xC0}, {"Egrave", 0xC8}, {"acirc", 0xE2}, {"ecirc", 0xEA}, {"icirc", 0xEE},
    {"ocirc", 0xF4}, {"ucirc", 0xFB}, {"atilde", 0xE3}, {"otilde", 0xF5}, {"ntilde", 0xF1},
    {"Ntilde", 0xD1}, {"ccedil", 0xE7}, {"Ccedil", 0xC7}, {"aring", 0xE5}, {"Aring", 0xC5},
    {"aelig", 0xE6}, {"AElig", 0xC6}, {"oslash", 0xF8}, {"Oslash", 0xD8},
};

// What references to 128-159 mean in HTML: the characters of Windows-1252 there.
const unsigned kWindows1252[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

void appendutf8(std::string& out, unsigned cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A referenced character that text may hold: nothing that would reach the terminal as
// a command, nor code points that UTF-8 cannot carry.
unsigned sanecodepoint(unsigned long cp)
{
    if (cp >= 0x80 && cp < 0xA0)
        return kWindows1252[cp - 0x80];
    if (cp == '\t' || cp == '\n' || cp == '\r')
        return static_cast<unsigned>(cp);
    if (cp < 0x20 || cp == 0x7F || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF)
        return 0xFFFD;
    return static_cast<unsigned>(cp);
}

bool isalnumchar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The reference at text[i] ('&'): its code point and length, or false when it is none
// (the '&' is then plain text).
bool readreference(const std::string& text, size_t i, unsigned& cp, size_t& len)
{
    const size_t n = text.size();
    size_t j = i + 1;
    if (j < n && text[j] == '#') {
        ++j;
        const bool hex = j < n && (text[j] == 'x' || text[j] == 'X');
        if (hex)
            ++j;
        const size_t digits = j;
        unsigned long v = 0;
        while (j < n) {
            const char c = text[j];
            int d = c >= '0' && c <= '9' ? c - '0'
                    : hex && lower(c) >= 'a' && lower(c) <= 'f' ? lower(c) - 'a' + 10 : -1;
            if (d < 0)
                break;
            v = std::min<unsigned long>(v * (hex ? 16 : 10) + static_cast<unsigned long>(d), 0x110000);
            ++j;
        }
        if (j == digits)
            return false;
        if (j < n && text[j] == ';')
            ++j;
        cp = sanecodepoint(v);
        len = j - i;
        return true;
    }
    // Named: letters and digits, then ';'.
    const size_t start = j;
    while (j < n && j - start < 8 && isalnumchar(text[j]))
        ++j;
    if (j == start || j >= n || text[j] != ';')
        return false;
    const std::string name = text.substr(start, j - start);
    for (const Entity& e : kEntities) {
        if (name == e.name) {
            cp = e.code;
            len = j + 1 - i;
            return true;
        }
    }
    return false;
}

bool istagstart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '/' || c == '!' || c == '?';
}

// Whether the text holds anything that reads as a tag: '<', a name, and a '>' before
// the next '<'.
bool hastag(const std::string& text)
{
    size_t i = text.find('<');
    while (i != std::string::npos) {
        if (i + 1 < text.size() && istagstart(text[i + 1])) {
            size_t next = text.find_first_of("<>", i + 1);
            if (next != std::string::npos && text[next] == '>')
                return true;
            i = next;
        } else {
            i = text.find('<', i + 1);
        }
    }
    return false;
}

size_t findnocase(const std::string& text, const char* needle, size_t from)
{
    const size_t m = strlen(needle);
    for (size_t i = from; i + m <= text.size(); ++i) {
        size_t k = 0;
        while (k < m && lower(text[i + k]) == needle[k])
            ++k;
        if (k == m)
            return i;
    }
    return std::string::npos;
}

// The text being written: blanks and line ends are held back until text follows, so
// that no line starts or ends with blanks and no blank lines gather.
class TextOut {
public:
    // A blank: in collapsing mode at most one between two words, none at a line start.
    void blank(bool collapse)
    {
        if (!collapse)
            ++spaces;
        else if (breaks == 0 && !out.empty())
            spaces = 1;
    }
    void linebreak()
    {
        breaks = std::min(breaks + 1, 2);
        spaces = 0;
    }
    // A line end unless the text is at a line start already.
    void block() { breaks = std::max(breaks, 1), spaces = 0; }
    void paragraph() { breaks = 2, spaces = 0; }
    void text(const char* s, size_t n)
    {
        if (!out.empty())
            out.append(static_cast<size_t>(breaks), '\n');
        out.append(static_cast<size_t>(spaces), ' ');
        breaks = spaces = 0;
        out.append(s, n);
    }
    void text(const std::string& s) { text(s.data(), s.size()); }
    size_t size() const { return out.size(); }
    const std::string& str() const { return out; }

private:
    std::string out;
    int breaks = 0;
    int spaces = 0;
};

// A decoded character, written as text or as the blank or line end it is.
void putcodepoint(TextOut& out, unsigned cp, bool html, bool pre)
{
    if (cp == '\r' || cp == 0xAD)
        return;
    if (cp == '\n' && (!html || pre)) {
        out.linebreak();
    } else if (cp == ' ' || cp == '\t' || cp == '\n') {
        out.blank(html && !pre);
    } else if (cp == 0xA0) {
        out.text(" ", 1); // a blank that holds its place
    } else {
        std::string s;
        appendutf8(s, cp);
        out.text(s);
    }
}

// The value of an attribute in a tag's text (after its name), entities decoded.
std::string attribute(const std::string& tag, const char* name)
{
    const size_t n = tag.size();
    size_t i = 0;
    while (i < n && !isblank(tag[i]))
        ++i; // the tag's own name
    while (i < n) {
        while (i < n && (isblank(tag[i]) || tag[i] == '/'))
            ++i;
        const size_t start = i;
        while (i < n && !isblank(tag[i]) && tag[i] != '=' && tag[i] != '/')
            ++i;
        std::string attr = tag.substr(start, i - start);
        std::transform(attr.begin(), attr.end(), attr.begin(), lower);
        while (i < n && isblank(tag[i]))
            ++i;
        std::string value;
        if (i < n && tag[i] == '=') {
            ++i;
            while (i < n && isblank(tag[i]))
                ++i;
            if (i < n && (tag[i] == '"' || tag[i] == '\'')) {
                const char q = tag[i++];
                size_t end = tag.find(q, i);
                if (end == std::string::npos)
                    end = n;
                value = tag.substr(i, end - i);
                i = end < n ? end + 1 : n;
            } else {
                const size_t vs = i;
                while (i < n && !isblank(tag[i]))
                    ++i;
                value = tag.substr(vs, i - vs);
            }
        } else if (start == i) {
            ++i; // a stray character: never stuck on it
        }
        if (attr == name) {
            std::string decoded;
            for (size_t k = 0; k < value.size();) {
                unsigned cp;
                size_t len;
                if (value[k] == '&' && readreference(value, k, cp, len)) {
                    appendutf8(decoded, cp);
                    k += len;
                } else {
                    decoded += value[k++];
                }
            }
            return decoded;
        }
    }
    return std::string();
}

bool isaddress(const std::string& href)
{
    for (const char* scheme : {"http://", "https://", "ftp://", "mailto:"}) {
        const size_t m = strlen(scheme);
        if (href.size() > m && findnocase(href.substr(0, m), scheme, 0) == 0)
            return true;
    }
    return false;
}

bool istagname(const std::string& name, std::initializer_list<const char*> names)
{
    for (const char* n : names)
        if (name == n)
            return true;
    return false;
}

} // namespace

std::string htmltotext(const std::string& html)
{
    TextOut out;
    const size_t n = html.size();
    const bool markup = hastag(html);
    // A quote opens a quoted attribute value only where a matching one follows, and a
    // tag with no '>' after it ends the text: so no tag is ever searched for twice.
    const size_t lastgt = html.rfind('>');
    const size_t lastquote[2] = {html.rfind('"'), html.rfind('\'')};
    int pre = 0;
    std::string href;    // of the link being read
    size_t linkstart = 0; // where its text began
    bool inlink = false;
    size_t i = 0;
    while (i < n) {
        const char c = html[i];
        if (c == '<' && markup && i + 1 < n && istagstart(html[i + 1])) {
            if (lastgt == std::string::npos || lastgt < i)
                break;
            if (html.compare(i, 4, "<!--") == 0) {
                size_t end = html.find("-->", i + 4);
                if (end == std::string::npos)
                    break;
                i = end + 3;
                continue;
            }
            size_t end = i + 1;
            while (end < n && html[end] != '>') {
                const char q = html[end];
                const int which = q == '"' ? 0 : q == '\'' ? 1 : -1;
                if (which >= 0 && lastquote[which] != std::string::npos && lastquote[which] > end)
                    end = html.find(q, end + 1);
                ++end;
            }
            if (end >= n)
                break;
            const std::string tag = html.substr(i + 1, end - i - 1);
            i = end + 1;
            const bool closing = !tag.empty() && tag[0] == '/';
            size_t k = closing ? 1 : 0;
            std::string name;
            while (k < tag.size() && isalnumchar(tag[k]))
                name += lower(tag[k++]);
            if (name == "br") {
                out.linebreak();
            } else if (istagname(name, {"p", "h1", "h2", "h3", "h4", "h5", "h6", "ul", "ol", "dl",
                                        "table", "blockquote", "hr"})) {
                out.paragraph();
            } else if (name == "pre") {
                pre = closing ? std::max(pre - 1, 0) : pre + 1;
                out.paragraph();
            } else if (name == "li") {
                out.block();
                if (!closing)
                    out.text("- ");
            } else if (istagname(name, {"div", "tr", "dt", "dd", "center", "section", "article",
                                        "header", "footer", "nav", "aside", "main", "figure",
                                        "address", "form", "fieldset", "caption"})) {
                out.block();
            } else if (istagname(name, {"td", "th"})) {
                out.blank(true);
            } else if (name == "a" && !closing) {
                href = attribute(tag, "href");
                inlink = true;
                linkstart = out.size();
            } else if (name == "a" && inlink) {
                inlink = false;
                std::string text = out.str().substr(std::min(linkstart, out.size()));
                while (!text.empty() && isblank(text.front()))
                    text.erase(0, 1);
                if (isaddress(href) && text != href && "mailto:" + text != href) {
                    out.blank(pre == 0);
                    out.text(text.empty() ? href : "(" + href + ")");
                }
            } else if ((name == "script" || name == "style") && !closing && tag.back() != '/') {
                size_t close = findnocase(html, name == "script" ? "</script" : "</style", i);
                if (close == std::string::npos)
                    break;
                i = close;
            }
            continue;
        }
        if (c == '&') {
            unsigned cp;
            size_t len;
            if (readreference(html, i, cp, len)) {
                putcodepoint(out, cp, markup, pre > 0);
                i += len;
                continue;
            }
        }
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            putcodepoint(out, static_cast<unsigned char>(c), markup, pre > 0);
            ++i;
            continue;
        }
        // A run of plain text up to the next character that means something.
        size_t end = i + 1;
        while (end < n && !strchr("<& \t\n\r", html[end]))
            ++end;
        out.text(html.data() + i, end - i);
        i = end;
    }
    return out.str();
}

// ---- Srv: fetching and reading the notices -------------------------------------------

void Srv::updatenotices()
{
    // Cleared first: a connection made by this very request asks for the whole list again.
    const bool full = noticesfull.exchange(false);
    auto reply = request("<get_notices>\n<seqno>%d</seqno>\n</get_notices>\n", full ? 0 : lastnoticeseqno.load());
    const Item* found = reply ? reply->find("notices") : nullptr;
    if (!found) {
        // No answer, or a client that knows no notices: asked again at the next minute.
        if (full)
            noticesfull = true;
        return;
    }
    NoticeBatch batch = readnotices(found);
    reply.reset();

    if (noticesnapshots.empty()) {
        auto tree = std::make_unique<Item>("");
        Item* held = tree->addchild(std::make_unique<Item>("notices"));
        mergenotices(*held, std::move(batch), true);
        std::lock_guard<std::mutex> hold(noticesnapshots.lock());
        lastnoticeseqno = newestnoticeseqno(*held);
        ++noticesversion;
        noticesnapshots.pushlocked(std::move(tree));
        noticesnapshots.refreshpending = false;
        return;
    }
    // Only this thread pushes: the one tree stays the newest while it is merged into.
    Item* tree = noticesnapshots.acquire();
    {
        std::lock_guard<std::mutex> hold(noticesnapshots.lock());
        Item* held = tree ? tree->child("notices") : nullptr;
        if (held && mergenotices(*held, std::move(batch), full)) {
            lastnoticeseqno = newestnoticeseqno(*held);
            ++noticesversion;
        }
    }
    noticesnapshots.release(tree);
}

int Srv::unreadnotices()
{
    Snapshot tree(noticesnapshots);
    if (!tree)
        return 0;
    std::lock_guard<std::mutex> hold(noticesnapshots.lock());
    const Item* held = tree->child("notices");
    if (!held)
        return 0;
    int count = 0;
    for (const auto& c : held->getchildren())
        count += noticearrival(c.get()) > noticesreadtime;
    return count;
}

void Srv::marknoticesread()
{
    Snapshot tree(noticesnapshots);
    if (!tree)
        return;
    std::lock_guard<std::mutex> hold(noticesnapshots.lock());
    if (const Item* held = tree->child("notices"))
        for (const auto& c : held->getchildren())
            noticesreadtime = std::max(noticesreadtime, noticearrival(c.get()));
}
