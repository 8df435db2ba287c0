#include "layout/xml_text.h"

namespace {

const char replacement[] = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at text[at], or 0.
size_t sequence_length(const std::string& text, size_t at) {
    unsigned char c = (unsigned char)text[at];
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else
        return 0;
    if (at + n > text.size()) return 0;
    unsigned char second = (unsigned char)text[at + 1];
    if (second < lo || second > hi) return 0;
    for (size_t i = 2; i < n; ++i)
        if (((unsigned char)text[at + i] & 0xC0) != 0x80) return 0;
    return n;
}

}  // namespace

void append_xml_text(const std::string& text, std::string& out) {
    size_t at = 0;
    while (at < text.size()) {
        unsigned char c = (unsigned char)text[at];
        size_t n = sequence_length(text, at);
        if (n == 0) {
            out += replacement;
            ++at;
            continue;
        }
        if (n == 1) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    out += replacement;
                else
                    out += (char)c;
            }
        } else if (n == 3 && c == 0xEF && (unsigned char)text[at + 1] == 0xBF &&
                   ((unsigned char)text[at + 2] == 0xBE || (unsigned char)text[at + 2] == 0xBF)) {
            out += replacement;
        } else {
            out.append(text, at, n);
        }
        at += n;
    }
}
