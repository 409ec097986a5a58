// NAttrString: one line of text made of fragments, each drawn with one ncurses attribute.
#ifndef VARNIX_NATTRSTRING_H
#define VARNIX_NATTRSTRING_H

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

#include <curses.h>

struct NAttrFragment {
    std::string text; // multibyte text in the locale's encoding
    int attr = 0;     // colour pair from getcolorpair, optionally with A_BOLD
};

// Longest formatted fragment in bytes; longer output is cut at a character boundary.
constexpr std::size_t kMaxFragmentBytes = 1023;

#define NATTR_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

class NAttrString {
public:
    NAttrString() = default;
    NAttrString(int attr, const char* fmt, ...) NATTR_PRINTF(3, 4);

    void append(int attr, const char* fmt, ...) NATTR_PRINTF(3, 4);
    void vappend(int attr, const char* fmt, va_list ap) NATTR_PRINTF(3, 0);
    // A fragment that is already text, as append(attr, "%s", text) would add it, without
    // the cost of formatting: for lists that build thousands of lines per tick.
    void appendtext(int attr, std::string text);
    void reserve(std::size_t fragmentcount) { fragments.reserve(fragmentcount); }
    // Number of characters (not screen columns) of the whole line.
    int getlen() const;
    void clear() { fragments.clear(); }
    bool empty() const { return fragments.empty(); }

    std::size_t fragmentcount() const { return fragments.size(); }
    const NAttrFragment& fragment(std::size_t i) const { return fragments[i]; }
    std::vector<NAttrFragment>::const_iterator begin() const { return fragments.begin(); }
    std::vector<NAttrFragment>::const_iterator end() const { return fragments.end(); }

    // Prints every fragment with its attribute at the window's cursor.
    void draw(WINDOW* win) const;

    bool operator==(const NAttrString& other) const;
    bool operator!=(const NAttrString& other) const { return !(*this == other); }

private:
    std::vector<NAttrFragment> fragments;
};

// printf-style formatting into at most kMaxFragmentBytes bytes, never ending inside a
// multibyte character.
std::string formatfragment(const char* fmt, va_list ap) NATTR_PRINTF(1, 0);

#endif
