// Counting, cutting and trimming multibyte texts in the user's locale.
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

#endif
