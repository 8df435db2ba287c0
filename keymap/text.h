#ifndef PADMAP_KEYMAP_TEXT_H
#define PADMAP_KEYMAP_TEXT_H

#include <cstddef>
#include <string>
#include <vector>

// Writes the NUL-terminated UTF-16 text as UTF-8 into out (capacity cap > 0,
// always NUL-terminated). A lone surrogate becomes U+FFFD. Stops before a
// character that would not fit. Returns the bytes written, without the NUL.
size_t utf16_to_utf8(const char16_t* text, char* out, size_t cap);

// Writes the NUL-terminated UTF-8 text as UTF-16 into out (capacity cap > 0 units,
// always NUL-terminated). Ill-formed bytes become U+FFFD. Returns the units
// written, without the NUL.
size_t utf8_to_utf16(const char* text, char16_t* out, size_t cap);

// True for a byte that continues a UTF-8 character (a place where text must
// not be cut).
inline bool continues_character(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// The same conversions, whole, into a string of their own.
std::string utf8_text(const char16_t* text);
std::u16string utf16_text(const char* text);

// A program's arguments as NUL-terminated UTF-16: from the UTF-8 ones a POSIX
// main gets, or from the wide ones Windows hands to wmain (UTF-16 already;
// a wider wchar_t is encoded as UTF-16). argv points into text and ends with
// a null pointer; both stay valid as long as the struct.
struct utf16_args {
    std::vector<std::u16string> text;
    std::vector<const char16_t*> argv;
};
utf16_args args_from_utf8(int argc, const char* const* argv);
utf16_args args_from_wide(int argc, const wchar_t* const* argv);

// True when the two NUL-terminated texts are the same but for the case of
// ASCII letters.
bool same_but_for_case(const char* a, const char* b);

// The value of one hexadecimal digit (either case), or -1 when c is none.
int hex_digit_value(char c);

#endif
