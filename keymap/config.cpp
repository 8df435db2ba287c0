#include "keymap/config.h"

#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "keymap/file.h"
#include "keymap/mapping_line.h"
#include "keymap/unicode.h"
#include "keymap/unit_stream.h"

char16_t configured_hardware_id[hardware_id_units];

void reset_config() {
    memset(configured_hardware_id, 0, sizeof configured_hardware_id);
}

namespace {

enum load_result { load_done, load_no_hardware_id, load_unreadable };

// A longer line is handled as several pieces of this many units.
constexpr int piece_units = 1023;

bool is_blank_unit(int32_t unit) {
    return unit == 0x20 || (unit >= 0x09 && unit <= 0x0D);
}

// Reads the first word into configured_hardware_id and leaves the unit after
// it unread. False when there is no word or it has 500 units or more.
bool read_hardware_id(unit_stream* stream) {
    int32_t unit = next_unit(stream);
    while (unit >= 0 && is_blank_unit(unit)) unit = next_unit(stream);
    if (unit < 0) return false;

    char16_t word[hardware_id_units] = {};
    int length = 0;
    while (unit >= 0 && !is_blank_unit(unit)) {
        if (length == hardware_id_units - 1) return false;
        word[length++] = static_cast<char16_t>(unit);
        unit = next_unit(stream);
    }
    if (unit >= 0) unread_unit(stream, static_cast<char16_t>(unit));

    // A zero unit inside the word ends the id text; clear what follows it.
    reset_config();
    for (int i = 0; i < length && word[i] != 0; ++i) configured_hardware_id[i] = word[i];
    return true;
}

// Reads one piece (up to LF, at most piece_units units) as 8-bit text: units
// 0x01-0x7F stay, a zero unit ends the text, anything else becomes '?'.
// Returns false at the end of the input.
bool read_piece(unit_stream* stream, char line[piece_units + 1]) {
    int units = 0;
    int bytes = 0;
    bool cut = false;
    while (units < piece_units) {
        int32_t unit = next_unit(stream);
        if (unit < 0) break;
        ++units;
        if (unit == 0) cut = true;
        if (!cut) line[bytes++] = unit <= 0x7F ? static_cast<char>(unit) : '?';
        if (unit == u'\n') break;
    }
    line[bytes] = '\0';
    return units > 0;
}

load_result load_from(byte_source source) {
    unit_stream stream;
    if (!open_unit_stream(&stream, source)) return load_unreadable;
    if (!read_hardware_id(&stream)) return load_no_hardware_id;
    char line[piece_units + 1];
    while (read_piece(&stream, line)) apply_mapping_line(line);
    return load_done;
}

const char hardware_id_message[] = "first line in config file must be hardware id\n";

struct file_context {
    const char16_t* path;
    config_file* file;
};

long read_file(void* context, uint8_t* into, size_t cap) {
    file_context* source = static_cast<file_context*>(context);
    return read_config_file(source->file, into, cap);
}

bool rewind_file(void* context) {
    file_context* source = static_cast<file_context*>(context);
    close_config_file(source->file);
    source->file = open_config_file(source->path);
    return source->file != nullptr;
}

void print_failed_to_open(const char16_t* path) {
    console_print(console_out, "failed to open ");
    size_t pos = 0;
    while (path[pos] != 0) {
        char bytes[4];
        int length = utf8_encode(utf16_next(path, &pos), bytes);
        console_write(console_out, bytes, static_cast<size_t>(length));
    }
    console_print(console_out, "\n");
}

}  // namespace

bool load_config(const char16_t* path) {
    file_context context = {path, open_config_file(path)};
    if (context.file == nullptr) {
        print_failed_to_open(path);
        return false;
    }
    load_result result = load_from({read_file, rewind_file, &context});
    if (context.file != nullptr) close_config_file(context.file);
    if (result == load_unreadable) {
        print_failed_to_open(path);
        return false;
    }
    if (result == load_no_hardware_id) {
        console_print(console_out, hardware_id_message);
        return false;
    }
    return true;
}

namespace {

struct memory_context {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

long read_memory(void* context, uint8_t* into, size_t cap) {
    memory_context* source = static_cast<memory_context*>(context);
    size_t count = source->size - source->pos;
    if (count > cap) count = cap;
    if (count > 0) memcpy(into, source->data + source->pos, count);
    source->pos += count;
    return static_cast<long>(count);
}

bool rewind_memory(void* context) {
    static_cast<memory_context*>(context)->pos = 0;
    return true;
}

}  // namespace

bool load_config_bytes(const uint8_t* data, size_t size) {
    memory_context context = {data, size, 0};
    if (load_from({read_memory, rewind_memory, &context}) != load_done) {
        console_print(console_out, hardware_id_message);
        return false;
    }
    return true;
}
