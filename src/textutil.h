// Counting, cutting, trimming and filtering multibyte texts in the user's locale.
#ifndef VARNIX_TEXTUTIL_H
#define VARNIX_TEXTUTIL_H

#include <string>

// Number of characters; counting stops at the first invalid sequence.
int mbstrlen(const char* s);
inline int mbstrlen(const std::string& s) { return mbstrlen(s.c_str()); }
// Cuts `s` in place after its first n characters (one character is kept for n <= 0);
// an invalid byte counts as one character.
char* mbstrtrunc(char* s, int n);
void mbstrtrunc(std::string& s, int n);
// Remove trailing or leading blanks (code 32 only), in place.
char* rtrim(char* s);
char* ltrim(char* s);
std::string rtrim(const std::string& s);
std::string ltrim(const std::string& s);

// A text from a client or the configuration made safe to print: every character the
// locale cannot print (control characters, C1 codes, invalid or torn sequences) becomes
// '?', tabs and line ends a blank, so nothing reaches the terminal as a command and no
// line runs into the next one.
std::string displaytext(const std::string& text);

// ASCII letters in lower case, other bytes as they are.
std::string asciilower(std::string s);

// The text cut or padded with blanks to `width` characters, the blanks on the left when
// `alignright`; empty for a width of 0 or less.
std::string fitcolumn(std::string text, int width, bool alignright = false);

// The local time of `secs` since the epoch in strftime's `format`; empty when it cannot
// be shown.
std::string localtimetext(long long secs, const char* format);

// A length of time in its two largest units: "2d 3h", "1h 5m", "3m 12s", "42s" (a unit
// that is 0 is left out: "1h"). With `wholeminutes` it is rounded up to a minute first
// ("42m", "1h 5m"). Negative and non-finite times read as 0.
std::string shortduration(double seconds, bool wholeminutes = false);

#endif
