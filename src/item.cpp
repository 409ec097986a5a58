#include "item.h"

#include <expat.h>
#include <locale.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace {

// Spellings stop being added here past this many, so that a peer that makes up names
// cannot make the table grow without end.
constexpr size_t kMaxSharedNames = 4096;

std::mutex& nametablelock()
{
    static std::mutex lock;
    return lock;
}

std::unordered_set<std::string>& nametable()
{
    // Never destroyed: elements may be destroyed while the process ends.
    static auto* table = new std::unordered_set<std::string>;
    return *table;
}

// The table's spelling of a name, or null when the table is full and lacks it.
const std::string* sharedname(const std::string& name)
{
    std::lock_guard<std::mutex> hold(nametablelock());
    auto& table = nametable();
    auto it = table.find(name);
    if (it != table.end())
        return &*it;
    if (table.size() >= kMaxSharedNames)
        return nullptr;
    return &*table.insert(name).first;
}

} // namespace

Item::Item(std::string name)
{
    name_ = sharedname(name);
    if (!name_) {
        ownname_ = std::make_unique<std::string>(std::move(name));
        name_ = ownname_.get();
    }
}

Item::~Item()
{
    // Flatten the subtree first so that destroying a very deep tree never recurses.
    std::vector<std::unique_ptr<Item>> pending;
    pending.swap(children_);
    while (!pending.empty()) {
        std::unique_ptr<Item> it = std::move(pending.back());
        pending.pop_back();
        for (auto& c : it->children_)
            pending.push_back(std::move(c));
        it->children_.clear();
    }
}

int Item::intvalue() const
{
    return atoi(value_.c_str());
}

namespace {

// The plain decimals that clients send ("1796793406.083613", "-1", "0.000000"), read
// without strtod when the result is exact anyway: digits that fit in 2^53 divided by a
// power of ten up to 10^22 are both exact doubles, so the one division rounds the same
// way strtod does. False for everything else (exponents, hex, inf, blanks, long numbers).
bool fastdecimal(const char* s, double& out)
{
    static const double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = s;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    uint64_t digits = 0;
    int count = 0;     // significant digits taken
    int fraction = 0;  // of them after the point
    bool any = false;
    while (*p >= '0' && *p <= '9') {
        if (digits || *p != '0')
            ++count;
        digits = digits * 10 + static_cast<uint64_t>(*p - '0');
        any = true;
        ++p;
        if (count > 18)
            return false;
    }
    if (*p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9') {
            if (digits || *p != '0')
                ++count;
            digits = digits * 10 + static_cast<uint64_t>(*p - '0');
            ++fraction;
            any = true;
            ++p;
            if (count > 18 || fraction > 22)
                return false;
        }
    }
    // What strtod might read further (an exponent, "0x1p3", "infinity") is left to it.
    if (!any || (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') ||
        digits > (uint64_t(1) << 53))
        return false;
    double d = static_cast<double>(digits) / kPow10[fraction];
    out = negative ? -d : d;
    return true;
}

} // namespace

double Item::doublevalue() const
{
    const char* s = value_.c_str();
    double d;
    if (fastdecimal(s, d))
        return d;
    // Client numbers always use a decimal point, whatever the user's locale says.
    static locale_t clocale = newlocale(LC_NUMERIC_MASK, "C", (locale_t)0);
    char* end = nullptr;
    d = strtod_l(s, &end, clocale);
    return end == s ? 0.0 : d;
}

void Item::setintvalue(int v)
{
    value_ = std::to_string(v);
}

Item* Item::addchild(std::unique_ptr<Item> child)
{
    if (!child)
        return nullptr;
    child->parent_ = this;
    children_.push_back(std::move(child));
    return children_.back().get();
}

void Item::removechild(Item* child)
{
    for (auto it = children_.begin(); it != children_.end(); ++it) {
        if (it->get() == child) {
            children_.erase(it);
            return;
        }
    }
}

const Item* Item::findbelow(const Item* parent, const std::string& name, int levels)
{
    for (const auto& c : parent->children_) {
        if (*c->name_ == name)
            return c.get();
        if (c->children_.empty())
            continue;
        // Client replies are a few levels deep; only a hostile or hand-built tree is
        // searched with a stack on the heap, so no tree can exhaust the thread's stack.
        const Item* hit = levels > 0 ? findbelow(c.get(), name, levels - 1) : c->finddeep(name);
        if (hit)
            return hit;
    }
    return nullptr;
}

const Item* Item::finddeep(const std::string& name) const
{
    // Explicit stack of (element, next child index) keeps pre-order without recursion.
    std::vector<std::pair<const Item*, size_t>> stack;
    stack.emplace_back(this, 0);
    while (!stack.empty()) {
        auto& top = stack.back();
        if (top.second >= top.first->children_.size()) {
            stack.pop_back();
            continue;
        }
        const Item* c = top.first->children_[top.second++].get();
        if (*c->name_ == name)
            return c;
        if (!c->children_.empty())
            stack.emplace_back(c, 0);
    }
    return nullptr;
}

void Item::removefirstchildren(size_t count)
{
    if (count >= children_.size())
        children_.clear();
    else
        children_.erase(children_.begin(), children_.begin() + static_cast<std::ptrdiff_t>(count));
}

Item* Item::find(const std::string& name) const
{
    if (*name_ == name)
        return const_cast<Item*>(this);
    return const_cast<Item*>(findbelow(this, name, 32));
}

Item* Item::child(std::string_view name) const
{
    for (const auto& c : children_)
        if (std::string_view(*c->name_) == name)
            return c.get();
    return nullptr;
}

std::vector<Item*> Item::children(const std::string& name) const
{
    std::vector<Item*> out;
    for (auto& c : children_)
        if (name.empty() || *c->name_ == name)
            out.push_back(c.get());
    return out;
}

std::string Item::path() const
{
    std::vector<const Item*> chain;
    for (const Item* it = this; it; it = it->parent_)
        chain.push_back(it);
    std::string p = *chain.back()->name_;
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
        p += "/";
        p += *(*it)->name_;
    }
    return p;
}

void Item::merge(Item* other)
{
    if (!other || other == this || path() != other->path())
        return;
    for (auto& c : other->children_) {
        c->parent_ = this;
        children_.push_back(std::move(c));
    }
    other->children_.clear();
}

std::string Item::toxml() const
{
    return toxml(false);
}

std::string Item::toxml(bool escape) const
{
    std::string out;
    auto text = [escape](const std::string& s) { return escape ? xmlescape(s) : s; };
    auto valuetext = [escape](const std::string& s) { return escape ? xmlquote(s) : s; };
    struct Frame {
        const Item* item;
        size_t next;
        size_t depth;
    };
    std::vector<Frame> stack;
    auto open = [&](const Item* it, size_t depth) {
        out.append(depth * 4, ' ');
        out += "<" + text(*it->name_) + ">" + valuetext(it->value_) + "\n";
        stack.push_back({it, 0, depth});
    };
    open(this, 0);
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next < f.item->children_.size()) {
            const Item* c = f.item->children_[f.next++].get();
            open(c, f.depth + 1);
            continue;
        }
        out.append(f.depth * 4, ' ');
        out += "</" + text(*f.item->name_) + ">\n";
        stack.pop_back();
    }
    return out;
}

namespace {

// &, < and > as entities; with `cr`, carriage returns as character references too.
std::string escapechars(const std::string& s, bool cr)
{
    std::string out;
    out.reserve(s.size() + 16);
    for (char ch : s) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\r':
            if (cr) {
                out += "&#13;";
                break;
            }
            out += ch;
            break;
        default: out += ch;
        }
    }
    return out;
}

} // namespace

std::string xmlescape(const std::string& s)
{
    if (s.find_first_of("&<>") == std::string::npos)
        return s;
    return escapechars(s, false);
}

namespace {

// True when every run of text between the character references of `quoted` would be
// kept by the parser, i.e. none consists of blanks only.
bool survivesparse(const std::string& quoted)
{
    size_t start = 0;
    while (start <= quoted.size()) {
        size_t amp = quoted.find('&', start);
        size_t end = amp == std::string::npos ? quoted.size() : amp;
        if (end > start && quoted.find_first_not_of(' ', start) >= end)
            return false;
        if (amp == std::string::npos)
            break;
        size_t semi = quoted.find(';', amp);
        start = semi == std::string::npos ? quoted.size() + 1 : semi + 1;
    }
    return true;
}


// Markup characters together with the blanks around them go into CDATA sections, so
// those blanks reach the parser in one piece with the markup and are kept.
std::string clusterquote(const std::string& s)
{
    auto markup = [](char c) { return c == '&' || c == '<' || c == '>'; };
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == '\r') {
            out += "&#13;";
            ++i;
            continue;
        }
        size_t j = i;
        while (j < s.size() && s[j] == ' ')
            ++j;
        if (j < s.size() && markup(s[j])) {
            size_t end = j;
            while (end < s.size() && (markup(s[end]) || s[end] == ' '))
                ++end;
            out += "<![CDATA[" + s.substr(i, end - i) + "]]>";
            i = end;
        } else {
            out.append(s, i, j - i);
            if (j < s.size() && s[j] != '\r')
                out += s[j++]; // a carriage return is written on the next round
            i = j;
        }
    }
    return out;
}

} // namespace

namespace {

// XML cannot carry these even as references: one of them would make the whole
// file unreadable, so they are left out.
bool unwritable(char ch)
{
    unsigned char c = static_cast<unsigned char>(ch);
    return c < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

} // namespace

std::string xmlquote(const std::string& value)
{
    std::string s = value;
    s.erase(std::remove_if(s.begin(), s.end(), unwritable), s.end());
    if (s.find_first_of("&<>\r") == std::string::npos)
        return s;
    std::string quoted = escapechars(s, true);
    return survivesparse(quoted) ? quoted : clusterquote(s);
}

// Builds the parser's elements with names from the shared table.
struct ItemParse {
    static std::unique_ptr<Item> make(const std::string* shared)
    {
        return std::unique_ptr<Item>(new Item(shared, Item::SharedName{}));
    }
    // Text goes straight into the value: a long run is never held twice.
    static std::string& value(Item* it) { return it->value_; }
};

namespace {

struct ParseState {
    XML_Parser parser = nullptr;
    std::vector<Item*> stack;
    size_t count = 0;
    size_t maxitems = SIZE_MAX;
    bool toodeep = false;
    bool toomany = false;
    bool keeplineends = false;
    std::string scratch; // reused for every piece: a large reply has hundreds of thousands
    // The shared spellings met in this parse (null: not in the table), so that the
    // table's lock is taken once per name and parse, not once per element.
    std::unordered_map<std::string, const std::string*> names;
};

// The text is read as ISO-8859-1, so expat hands us UTF-8 in which every original
// byte became one code point below 256. Turn those back into the bytes the peer sent;
// larger code points (from character references) stay UTF-8.
void appendbytes(std::string& out, const XML_Char* s, size_t len)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    size_t i = 0;
    // Fast path: plain ASCII needs no conversion.
    while (i < len && p[i] < 0x80)
        ++i;
    out.append(s, i);
    while (i < len) {
        unsigned char c = p[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < len) {
            unsigned cp = ((c & 0x1Fu) << 6) | (p[i + 1] & 0x3Fu);
            if (cp < 256)
                out += static_cast<char>(cp);
            else
                out.append(s + i, 2);
            i += 2;
        } else {
            size_t n = (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
            if (i + n > len)
                n = len - i;
            out.append(s + i, n);
            i += n;
        }
    }
}

void XMLCALL onstart(void* data, const XML_Char* name, const XML_Char**)
{
    ParseState* st = static_cast<ParseState*>(data);
    if (static_cast<int>(st->stack.size()) > kMaxItemDepth) {
        st->toodeep = true;
        XML_StopParser(st->parser, XML_FALSE);
        return;
    }
    if (++st->count > st->maxitems) {
        st->toomany = true;
        XML_StopParser(st->parser, XML_FALSE);
        return;
    }
    st->scratch.clear();
    appendbytes(st->scratch, name, strlen(name));
    const std::string* shared;
    auto known = st->names.find(st->scratch);
    if (known != st->names.end()) {
        shared = known->second;
    } else {
        shared = sharedname(st->scratch);
        // A peer that makes up names must not make this cache as large as its reply.
        if (st->names.size() < kMaxSharedNames)
            st->names.emplace(st->scratch, shared);
    }
    std::unique_ptr<Item> element = shared ? ItemParse::make(shared)
                                           : std::make_unique<Item>(st->scratch);
    Item* it = st->stack.back()->addchild(std::move(element));
    st->stack.push_back(it);
}

void XMLCALL onend(void* data, const XML_Char*)
{
    ParseState* st = static_cast<ParseState*>(data);
    if (st->stack.size() > 1)
        st->stack.pop_back();
}

void XMLCALL ondata(void* data, const XML_Char* s, int len)
{
    ParseState* st = static_cast<ParseState*>(data);
    if (len <= 0)
        return;
    // Indentation and line ends of pretty-printed XML are dropped piece by piece.
    if (len == 1 && s[0] == '\n') {
        if (st->keeplineends)
            ItemParse::value(st->stack.back()) += '\n';
        return;
    }
    bool blanks = true;
    for (int i = 0; i < len && blanks; ++i)
        blanks = s[i] == ' ';
    if (blanks)
        return;
    appendbytes(ItemParse::value(st->stack.back()), s, static_cast<size_t>(len));
}

// A byte-order mark would switch expat to reading the rest as UTF-8 and turn every
// multibyte character into other bytes; the rest is read as bytes like any text.
size_t byteordermark(const char* text, size_t len)
{
    return len >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
}

size_t highbytes(const char* text, size_t len)
{
    return static_cast<size_t>(
        std::count_if(text, text + len, [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
}

// Turns every byte from `from` on into the UTF-8 of the ISO-8859-1 character of the same
// number; `extra` is the count of bytes above 127. Done from the back, in the text's own
// storage, so a large reply is never held twice.
void widen(std::string& text, size_t from, size_t extra)
{
    if (extra == 0)
        return;
    const size_t n = text.size();
    text.resize(n + extra);
    size_t out = n + extra;
    for (size_t in = n; in > from;) {
        unsigned char c = static_cast<unsigned char>(text[--in]);
        if (c < 0x80) {
            text[--out] = static_cast<char>(c);
        } else {
            text[--out] = static_cast<char>(0x80 | (c & 0x3F));
            text[--out] = static_cast<char>(0xC0 | (c >> 6));
        }
    }
}

// Every byte is read as the ISO-8859-1 character of the same number. expat's own
// ISO-8859-1 decoder would hand long runs of text over in pieces of 1,024 characters,
// and a blank-only piece among them would be dropped; the same characters given to it
// as UTF-8 come in one piece. This parses text already turned into that UTF-8.
std::unique_ptr<Item> parsewidened(const char* text, size_t len, std::string& errortext, size_t maxitems,
                                   bool keeplineends = false)
{
    auto root = std::make_unique<Item>("");
    ParseState st;
    st.maxitems = maxitems;
    st.keeplineends = keeplineends;
    st.parser = XML_ParserCreate("UTF-8");
    if (!st.parser) {
        errortext = "XML error:out of memory";
        return root;
    }
    st.stack.push_back(root.get());
    XML_SetUserData(st.parser, &st);
    XML_SetElementHandler(st.parser, onstart, onend);
    XML_SetCharacterDataHandler(st.parser, ondata);

    bool ok = true;
    // expat takes an int length; feed larger texts in pieces.
    const size_t maxpiece = static_cast<size_t>(INT_MAX / 2);
    size_t pos = 0;
    do {
        size_t n = len - pos > maxpiece ? maxpiece : len - pos;
        bool last = pos + n >= len;
        if (XML_Parse(st.parser, text + pos, static_cast<int>(n), last) == XML_STATUS_ERROR) {
            ok = false;
            break;
        }
        pos += n;
    } while (pos < len);

    if (!ok) {
        if (st.toodeep)
            errortext = "XML error:elements nested too deeply";
        else if (st.toomany)
            errortext = "XML error:too many elements";
        else
            errortext = std::string("XML error:") + XML_ErrorString(XML_GetErrorCode(st.parser));
    }
    XML_ParserFree(st.parser);
    return root;
}

} // namespace

std::unique_ptr<Item> parsexml(const char* text, size_t len, std::string& errortext,
                               size_t maxitems)
{
    const size_t skip = byteordermark(text, len);
    text += skip;
    len -= skip;
    const size_t extra = highbytes(text, len);
    if (extra == 0)
        return parsewidened(text, len, errortext, maxitems);
    std::string copy(text, len);
    widen(copy, 0, extra);
    return parsewidened(copy.data(), copy.size(), errortext, maxitems);
}

std::unique_ptr<Item> parsexmlinplace(std::string& text, std::string& errortext, size_t maxitems,
                                      bool keeplineends)
{
    const size_t skip = byteordermark(text.data(), text.size());
    widen(text, skip, highbytes(text.data() + skip, text.size() - skip));
    return parsewidened(text.data() + skip, text.size() - skip, errortext, maxitems, keeplineends);
}

size_t utf8cut(const std::string& text, size_t n)
{
    if (text.size() <= n)
        return text.size();
    size_t cut = n;
    for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80; ++back)
        --cut;
    return cut;
}

char* maskbodymarkup(char* text, size_t len)
{
    static const char open[] = "<body>";
    static const char close[] = "</body>";
    const size_t openlen = sizeof(open) - 1;
    const size_t closelen = sizeof(close) - 1;
    auto search = [&](size_t from, const char* pat, size_t plen) -> size_t {
        if (from >= len || len - from < plen)
            return std::string::npos;
        const void* hit = memmem(text + from, len - from, pat, plen);
        return hit ? static_cast<const char*>(hit) - text : std::string::npos;
    };
    size_t start = 0;
    while (start < len) {
        size_t b = search(start, open, openlen);
        size_t e = search(start, close, closelen);
        if (b == std::string::npos || e == std::string::npos)
            break;
        for (size_t i = b + openlen; i < e; ++i)
            if (text[i] == '<' || text[i] == '>')
                text[i] = ' ';
        start = (b > e ? b : e) + 1;
    }
    return text;
}

int64_t secondsfromdouble(double d)
{
    if (std::isnan(d))
        return 0;
    if (d >= 9.2e18)
        return INT64_C(9200000000000000000);
    if (d <= -9.2e18)
        return -INT64_C(9200000000000000000);
    return static_cast<int64_t>(d);
}

uint64_t bytesfromdouble(double d)
{
    if (!(d > 0))
        return 0;
    if (d >= 1.8e19)
        return UINT64_C(18000000000000000000);
    return static_cast<uint64_t>(d);
}
