#include "keymap/unit_stream.h"

#include <cstring>

namespace {

void fill_buffer(unit_stream* stream) {
    stream->pos = 0;
    stream->len = 0;
    while (!stream->ended && stream->len < unit_stream_buffer) {
        long got =
            stream->source.read(stream->source.context, stream->bytes + stream->len, unit_stream_buffer - stream->len);
        if (got <= 0 || static_cast<size_t>(got) > unit_stream_buffer - stream->len)
            stream->ended = true;
        else
            stream->len += static_cast<size_t>(got);
    }
}

bool starts_with(const unit_stream* stream, const uint8_t* mark, size_t size) {
    return stream->len >= size && memcmp(stream->bytes, mark, size) == 0;
}

// Scans the rest of the source for a zero byte; true when the buffer was
// overwritten on the way.
bool scan_for_zero(unit_stream* stream, bool* found) {
    *found = memchr(stream->bytes, 0, stream->len) != nullptr;
    bool overwritten = false;
    while (!*found && !stream->ended) {
        fill_buffer(stream);
        overwritten = true;
        *found = memchr(stream->bytes, 0, stream->len) != nullptr;
    }
    return overwritten;
}

}  // namespace

bool open_unit_stream(unit_stream* stream, byte_source source) {
    stream->source = source;
    stream->ended = false;
    utf8_start(&stream->utf8);
    stream->queue_start = 0;
    stream->queue_count = 0;
    stream->ahead = -1;
    stream->back = -1;
    fill_buffer(stream);

    static const uint8_t utf8_mark[] = {0xEF, 0xBB, 0xBF};
    static const uint8_t utf16le_mark[] = {0xFF, 0xFE};
    static const uint8_t utf16be_mark[] = {0xFE, 0xFF};
    if (starts_with(stream, utf8_mark, sizeof utf8_mark)) {
        stream->encoding = encoding_utf8;
        stream->pos = sizeof utf8_mark;
        return true;
    }
    if (starts_with(stream, utf16le_mark, sizeof utf16le_mark)) {
        stream->encoding = encoding_utf16le;
        stream->pos = sizeof utf16le_mark;
        return true;
    }
    if (starts_with(stream, utf16be_mark, sizeof utf16be_mark)) {
        stream->encoding = encoding_utf16be;
        stream->pos = sizeof utf16be_mark;
        return true;
    }

    bool zero = false;
    if (scan_for_zero(stream, &zero)) {
        // The start of a long source is gone from the buffer: read it again.
        if (!stream->source.rewind(stream->source.context)) return false;
        stream->ended = false;
        fill_buffer(stream);
    }
    stream->encoding = zero ? encoding_utf16le : encoding_utf8;
    stream->pos = 0;
    return true;
}

namespace {

int next_byte(unit_stream* stream) {
    if (stream->pos == stream->len) {
        if (stream->ended) return -1;
        fill_buffer(stream);
        if (stream->len == 0) return -1;
    }
    return stream->bytes[stream->pos++];
}

void queue_code(unit_stream* stream, uint32_t code) {
    char16_t units[2];
    int count = utf16_encode(code, units);
    for (int i = 0; i < count; ++i) {
        stream->queue[(stream->queue_start + stream->queue_count) % 4] = units[i];
        ++stream->queue_count;
    }
}

int32_t next_utf8_unit(unit_stream* stream) {
    // One byte yields at most two code points, one of them U+FFFD, so the
    // queue never holds more than three units.
    while (stream->queue_count == 0) {
        uint32_t codes[2];
        int byte = next_byte(stream);
        if (byte < 0) {
            if (utf8_finish(&stream->utf8, codes) == 0) return -1;
            queue_code(stream, codes[0]);
            break;
        }
        int count = utf8_feed(&stream->utf8, static_cast<uint8_t>(byte), codes);
        for (int i = 0; i < count; ++i) queue_code(stream, codes[i]);
    }
    int32_t unit = stream->queue[stream->queue_start];
    stream->queue_start = (stream->queue_start + 1) % 4;
    stream->queue_count--;
    return unit;
}

int32_t next_decoded_unit(unit_stream* stream) {
    if (stream->encoding == encoding_utf8) return next_utf8_unit(stream);
    int first = next_byte(stream);
    if (first < 0) return -1;
    int second = next_byte(stream);
    if (second < 0) return -1;
    if (stream->encoding == encoding_utf16le) return first | (second << 8);
    return (first << 8) | second;
}

}  // namespace

int32_t next_unit(unit_stream* stream) {
    if (stream->back >= 0) {
        int32_t unit = stream->back;
        stream->back = -1;
        return unit;
    }
    int32_t unit = stream->ahead;
    stream->ahead = -1;
    if (unit < 0) unit = next_decoded_unit(stream);
    if (unit != u'\r') return unit;
    int32_t following = next_decoded_unit(stream);
    if (following == u'\n') return u'\n';
    stream->ahead = following;
    return unit;
}

void unread_unit(unit_stream* stream, char16_t unit) {
    stream->back = unit;
}
