#ifndef PADMAP_KEYMAP_UNIT_STREAM_H
#define PADMAP_KEYMAP_UNIT_STREAM_H

#include <cstddef>
#include <cstdint>

#include "keymap/unicode.h"

// Where the bytes of a configuration come from: a file or memory.
struct byte_source {
    // Reads up to cap bytes; returns the count, 0 at the end, -1 on an error.
    long (*read)(void* context, uint8_t* into, size_t cap);
    // Starts again at the first byte; false when that is impossible.
    bool (*rewind)(void* context);
    void* context;
};

enum text_encoding { encoding_utf8, encoding_utf16le, encoding_utf16be };

constexpr size_t unit_stream_buffer = 4096;

// Text as UTF-16 code units, with CR LF read as LF. Fixed size whatever the
// length of the input.
struct unit_stream {
    byte_source source;
    text_encoding encoding;
    uint8_t bytes[unit_stream_buffer];
    size_t pos;
    size_t len;
    bool ended;
    utf8_decoder utf8;
    char16_t queue[4];  // decoded units not handed out yet
    int queue_start;
    int queue_count;
    int32_t ahead;  // the unit read after a CR that was not LF; -1 for none
    int32_t back;   // the unit given back with unread_unit; -1 for none
};

// Chooses the encoding: a UTF-8, UTF-16LE or UTF-16BE byte-order mark names
// it (and is skipped); without one the text is UTF-16LE when it holds a zero
// byte anywhere, otherwise UTF-8. Finding that out may read the whole source
// and rewind it. Returns false when the rewind fails.
bool open_unit_stream(unit_stream* stream, byte_source source);

// Returns the next code unit, or -1 at the end. A read error counts as the end.
// Invalid UTF-8 gives U+FFFD per maximal ill-formed subsequence; an odd last
// byte of UTF-16 is dropped.
int32_t next_unit(unit_stream* stream);

// Gives back one unit; the next call of next_unit returns it. At most one
// unit may be given back between two calls of next_unit.
void unread_unit(unit_stream* stream, char16_t unit);

#endif
