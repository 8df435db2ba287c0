#include "keymap/text.h"

#include <cstdint>
#include <cstring>

#include "keymap/unicode.h"

size_t utf16_to_utf8(const char16_t* text, char* out, size_t cap) {
    size_t written = 0;
    size_t pos = 0;
    while (text[pos] != 0) {
        char bytes[4];
        size_t length = static_cast<size_t>(utf8_encode(utf16_next(text, &pos), bytes));
        if (written + length > cap - 1) break;
        memcpy(out + written, bytes, length);
        written += length;
    }
    out[written] = 0;
    return written;
}

namespace {

// Appends the code point unless it does not fit; false when it did not.
bool put_utf16(uint32_t code, char16_t* out, size_t cap, size_t* written) {
    char16_t units[2];
    size_t length = static_cast<size_t>(utf16_encode(code, units));
    if (*written + length > cap - 1) return false;
    for (size_t i = 0; i < length; ++i) out[(*written)++] = units[i];
    return true;
}

}  // namespace

size_t utf8_to_utf16(const char* text, char16_t* out, size_t cap) {
    utf8_decoder decoder;
    utf8_start(&decoder);
    size_t written = 0;
    bool room = true;
    for (size_t i = 0; room && text[i] != 0; ++i) {
        uint32_t codes[2];
        int count = utf8_feed(&decoder, static_cast<uint8_t>(text[i]), codes);
        for (int k = 0; room && k < count; ++k) room = put_utf16(codes[k], out, cap, &written);
    }
    uint32_t last;
    if (room && utf8_finish(&decoder, &last) == 1) put_utf16(last, out, cap, &written);
    out[written] = 0;
    return written;
}

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string utf8_text(const char16_t* text) {
    std::string out(std::char_traits<char16_t>::length(text) * 3 + 1, '\0');
    out.resize(utf16_to_utf8(text, &out[0], out.size()));
    return out;
}

std::u16string utf16_text(const char* text) {
    std::u16string out(strlen(text) + 1, u'\0');
    out.resize(utf8_to_utf16(text, &out[0], out.size()));
    return out;
}

namespace {

void point_at_text(utf16_args* args) {
    for (const std::u16string& arg : args->text) args->argv.push_back(arg.c_str());
    args->argv.push_back(nullptr);
}

}  // namespace

utf16_args args_from_utf8(int argc, const char* const* argv) {
    utf16_args args;
    for (int i = 0; i < argc; ++i) args.text.push_back(utf16_text(argv[i]));
    point_at_text(&args);
    return args;
}

utf16_args args_from_wide(int argc, const wchar_t* const* argv) {
    utf16_args args;
    for (int i = 0; i < argc; ++i) {
        std::u16string arg;
        for (const wchar_t* c = argv[i]; *c != 0; ++c) {
            uint32_t unit = static_cast<uint32_t>(*c);
            if (unit <= 0xFFFF) {
                arg += static_cast<char16_t>(unit);
                continue;
            }
            char16_t pair[2];
            int length = utf16_encode(unit <= 0x10FFFF ? unit : 0xFFFD, pair);
            arg.append(pair, static_cast<size_t>(length));
        }
        args.text.push_back(arg);
    }
    point_at_text(&args);
    return args;
}

bool same_but_for_case(const char* a, const char* b) {
    for (; *a != 0 && *b != 0; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}
