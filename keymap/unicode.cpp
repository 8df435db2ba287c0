#include "keymap/unicode.h"

void utf8_start(utf8_decoder* decoder) {
    decoder->code = 0;
    decoder->remaining = 0;
    decoder->low = 0x80;
    decoder->high = 0xBF;
}

namespace {

int utf8_lead(utf8_decoder* decoder, uint8_t byte, uint32_t* out) {
    if (byte < 0x80) {
        *out = byte;
        return 1;
    }
    decoder->low = 0x80;
    decoder->high = 0xBF;
    if (byte >= 0xC2 && byte <= 0xDF) {
        decoder->code = byte & 0x1Fu;
        decoder->remaining = 1;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        decoder->code = byte & 0x0Fu;
        decoder->remaining = 2;
        // The first continuation byte rules out overlong forms and surrogates.
        if (byte == 0xE0) decoder->low = 0xA0;
        if (byte == 0xED) decoder->high = 0x9F;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        decoder->code = byte & 0x07u;
        decoder->remaining = 3;
        if (byte == 0xF0) decoder->low = 0x90;
        if (byte == 0xF4) decoder->high = 0x8F;
    } else {
        *out = replacement_char;
        return 1;
    }
    return 0;
}

}  // namespace

int utf8_feed(utf8_decoder* decoder, uint8_t byte, uint32_t out[2]) {
    if (decoder->remaining == 0) return utf8_lead(decoder, byte, &out[0]);
    if (byte < decoder->low || byte > decoder->high) {
        // The sequence so far is one ill-formed subsequence; the byte that
        // broke it starts afresh.
        utf8_start(decoder);
        out[0] = replacement_char;
        return 1 + utf8_lead(decoder, byte, &out[1]);
    }
    decoder->code = (decoder->code << 6) | (byte & 0x3Fu);
    decoder->low = 0x80;
    decoder->high = 0xBF;
    decoder->remaining--;
    if (decoder->remaining > 0) return 0;
    out[0] = decoder->code;
    return 1;
}

int utf8_finish(utf8_decoder* decoder, uint32_t* out) {
    bool cut_short = decoder->remaining > 0;
    utf8_start(decoder);
    if (!cut_short) return 0;
    *out = replacement_char;
    return 1;
}

uint32_t utf16_next(const char16_t* text, size_t* pos) {
    uint32_t unit = text[*pos];
    (*pos)++;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        uint32_t next = text[*pos];
        if (next >= 0xDC00 && next <= 0xDFFF) {
            (*pos)++;
            return 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
        }
        return replacement_char;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) return replacement_char;
    return unit;
}

int utf8_encode(uint32_t code, char out[4]) {
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code >> 6));
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code >> 12));
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code >> 18));
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

int utf16_encode(uint32_t code, char16_t out[2]) {
    if (code < 0x10000) {
        out[0] = static_cast<char16_t>(code);
        return 1;
    }
    code -= 0x10000;
    out[0] = static_cast<char16_t>(0xD800 + (code >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    return 2;
}
