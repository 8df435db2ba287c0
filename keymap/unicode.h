#ifndef PADMAP_KEYMAP_UNICODE_H
#define PADMAP_KEYMAP_UNICODE_H

#include <cstddef>
#include <cstdint>

constexpr uint32_t replacement_char = 0xFFFD;

// UTF-8 decoding one byte at a time. Ill-formed input decodes to U+FFFD, once
// per maximal ill-formed subsequence.
struct utf8_decoder {
    uint32_t code;
    int remaining;  // continuation bytes still expected
    uint8_t low;    // allowed range of the next continuation byte
    uint8_t high;
};

void utf8_start(utf8_decoder* decoder);

// Feeds one byte. Writes 0, 1 or 2 code points to out and returns how many.
int utf8_feed(utf8_decoder* decoder, uint8_t byte, uint32_t out[2]);

// Ends the input. Returns 1 with U+FFFD in *out when a sequence was cut short,
// otherwise 0. The decoder is ready for new input afterwards.
int utf8_finish(utf8_decoder* decoder, uint32_t* out);

// Reads one code point of NUL-terminated UTF-16 text at text[*pos] (which must
// not be the NUL) and steps *pos past it. A lone surrogate reads as U+FFFD.
uint32_t utf16_next(const char16_t* text, size_t* pos);

// Writes the code point (at most 0x10FFFF, no surrogate) as UTF-8; returns the
// byte count, 1 to 4.
int utf8_encode(uint32_t code, char out[4]);

// Writes the code point (at most 0x10FFFF) as UTF-16; returns the unit count,
// 1 or 2.
int utf16_encode(uint32_t code, char16_t out[2]);

#endif
