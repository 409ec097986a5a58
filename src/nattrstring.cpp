#include "nattrstring.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "textutil.h"

namespace {

// Length of `s` cut back so that it ends on a whole character: a cut through a character
// would leave a sequence that the terminal shows as garbage. Invalid bytes met on the way
// count as single characters; only the torn tail is dropped.
std::size_t wholecharlen(const char* s, std::size_t len)
{
    std::size_t pos = 0;
    while (pos < len) {
        std::mbstate_t st{};
        std::size_t k = std::mbrlen(s + pos, len - pos, &st);
        if (k == static_cast<std::size_t>(-2))
            break;
        pos += (k == static_cast<std::size_t>(-1) || k == 0) ? 1 : k;
    }
    return pos;
}

} // namespace

std::string formatfragment(const char* fmt, va_list ap)
{
    if (!fmt)
        return std::string();
    char buf[kMaxFragmentBytes + 1];
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    if (n < 0)
        return std::string();
    std::size_t len = std::strlen(buf);
    if (static_cast<std::size_t>(n) > kMaxFragmentBytes)
        len = wholecharlen(buf, len);
    return std::string(buf, len);
}

NAttrString::NAttrString(int attr, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vappend(attr, fmt, ap);
    va_end(ap);
}

void NAttrString::append(int attr, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vappend(attr, fmt, ap);
    va_end(ap);
}

void NAttrString::vappend(int attr, const char* fmt, va_list ap)
{
    fragments.push_back(NAttrFragment{formatfragment(fmt, ap), attr});
}

void NAttrString::appendtext(int attr, std::string text)
{
    // What "%s" makes of it: up to a zero byte, cut at a whole character past the limit.
    std::size_t len = std::strlen(text.c_str());
    if (len > kMaxFragmentBytes)
        len = wholecharlen(text.data(), kMaxFragmentBytes);
    text.resize(len);
    fragments.push_back(NAttrFragment{std::move(text), attr});
}

int NAttrString::getlen() const
{
    int len = 0;
    for (const auto& f : fragments)
        len += mbstrlen(f.text.c_str());
    return len;
}

void NAttrString::draw(WINDOW* win) const
{
    for (const auto& f : fragments) {
        wattrset(win, f.attr);
        waddstr(win, f.text.c_str());
    }
}

bool NAttrString::operator==(const NAttrString& other) const
{
    if (fragments.size() != other.fragments.size())
        return false;
    for (std::size_t i = 0; i < fragments.size(); ++i) {
        if (fragments[i].text != other.fragments[i].text ||
            fragments[i].attr != other.fragments[i].attr)
            return false;
    }
    return true;
}
