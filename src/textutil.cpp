#include "textutil.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>
#include <string>

// mbrlen with a private state keeps these safe to call from any thread.
static int charlen(const char* s, size_t max)
{
    mbstate_t st{};
    size_t k = mbrlen(s, max, &st);
    if (k == static_cast<size_t>(-1) || k == static_cast<size_t>(-2))
        return -1;
    return static_cast<int>(k);
}

int mbstrlen(const char* s)
{
    if (!s)
        return 0;
    size_t len = strlen(s);
    size_t pos = 0;
    int count = 0;
    while (pos < len) {
        int n = charlen(s + pos, len - pos);
        if (n <= 0)
            break;
        ++count;
        pos += static_cast<size_t>(n);
    }
    return count;
}

// Byte offset just past the first n characters; the whole length when there are fewer.
// An invalid sequence counts as one character of one byte, so the walk always ends.
static size_t charsoffset(const char* s, size_t len, int n)
{
    if (n < 1)
        n = 1;
    size_t pos = 0;
    for (int i = 0; i < n && pos < len; ++i) {
        int k = charlen(s + pos, len - pos);
        pos += k > 0 ? static_cast<size_t>(k) : 1;
    }
    return pos;
}

// Whether the text has more than n characters, invalid bytes counted one by one: an
// invalid byte early in a long text must not let the whole text through uncut.
static bool longerthan(const char* s, size_t len, int n)
{
    if (n < 0)
        return len > 0;
    return charsoffset(s, len, n) < len;
}

char* mbstrtrunc(char* s, int n)
{
    if (!s)
        return s;
    size_t len = strlen(s);
    if (!longerthan(s, len, n))
        return s;
    s[charsoffset(s, len, n)] = '\0';
    return s;
}

void mbstrtrunc(std::string& s, int n)
{
    // Up to the first zero byte, like the C form.
    size_t len = strlen(s.c_str());
    if (!longerthan(s.c_str(), len, n))
        return;
    s.resize(charsoffset(s.c_str(), len, n));
}

char* rtrim(char* s)
{
    if (!s)
        return s;
    size_t len = strlen(s);
    while (len > 0 && s[len - 1] == ' ')
        s[--len] = '\0';
    return s;
}

char* ltrim(char* s)
{
    if (!s)
        return s;
    size_t skip = strspn(s, " ");
    if (skip > 0)
        memmove(s, s + skip, strlen(s + skip) + 1);
    return s;
}

std::string rtrim(const std::string& s)
{
    size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::string ltrim(const std::string& s)
{
    size_t start = s.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : s.substr(start);
}

std::string displaytext(const std::string& text)
{
    size_t i = 0;
    // Plain printable ASCII, by far the common case, needs no decoding.
    while (i < text.size() && text[i] >= 0x20 && text[i] < 0x7f)
        ++i;
    if (i == text.size())
        return text;
    std::string out(text, 0, i);
    out.reserve(text.size());
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '\t' || c == '\n' || c == '\r')
                out += ' ';
            else
                out += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
            ++i;
            continue;
        }
        std::mbstate_t st{};
        wchar_t wc = 0;
        size_t k = std::mbrtowc(&wc, text.data() + i, text.size() - i, &st);
        if (k == static_cast<size_t>(-1) || k == static_cast<size_t>(-2) || k == 0) {
            out += '?';
            ++i;
            continue;
        }
        if (std::iswprint(static_cast<wint_t>(wc)))
            out.append(text, i, k);
        else
            out += '?';
        i += k;
    }
    return out;
}

std::string localtimetext(long long secs, const char* format)
{
    const std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    if (static_cast<long long>(t) != secs || !localtime_r(&t, &tm))
        return std::string();
    char buf[128];
    const size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

std::string asciilower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string fitcolumn(std::string text, int width, bool alignright)
{
    if (width <= 0)
        return std::string();
    if (mbstrlen(text) > width)
        mbstrtrunc(text, width);
    std::string pad(static_cast<size_t>(std::max(width - mbstrlen(text), 0)), ' ');
    return alignright ? pad + text : text + pad;
}

std::string shortduration(double seconds, bool wholeminutes)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    // Far beyond any real wait, and still well inside the integer's range.
    seconds = std::min(seconds, 1e12);
    long long s = static_cast<long long>(seconds);
    if (wholeminutes)
        s = static_cast<long long>(std::ceil(seconds / 60)) * 60;
    static const struct {
        long long size;
        const char* name;
    } units[] = {{86400, "d"}, {3600, "h"}, {60, "m"}, {1, "s"}};
    const size_t last = wholeminutes ? 2 : 3;
    for (size_t i = 0; i <= last; ++i) {
        const long long n = s / units[i].size;
        if (n == 0 && i < last)
            continue;
        std::string out = std::to_string(n) + units[i].name;
        if (i < last) {
            const long long rest = s % units[i].size / units[i + 1].size;
            if (rest != 0)
                out += " " + std::to_string(rest) + units[i + 1].name;
        }
        return out;
    }
    return "0s";
}
