#include "replay/session.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "keymap/key_table.h"
#include "keymap/text.h"
#include "replay/utf8_path.h"

namespace {

constexpr size_t error_size = 256;
// Words quoted in a message are cut to this many bytes.
constexpr int quote_max = 40;

enum line_status { line_ok, line_end, line_too_long, line_has_nul };

// Reads one line without its line end. The buffer takes one byte beyond the
// limit so that a CR before the LF fits before it is dropped.
line_status read_line(std::FILE* file, char* buffer, size_t* length) {
    const size_t room = session_max_line_bytes + 1;
    size_t used = 0;
    bool any = false;
    bool too_long = false;
    bool nul = false;
    int c;
    while ((c = std::getc(file)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (c == 0) nul = true;
        if (used < room) {
            buffer[used++] = static_cast<char>(c);
        } else {
            too_long = true;
        }
    }
    if (!any) return line_end;
    if (!too_long && used > 0 && buffer[used - 1] == '\r') --used;
    buffer[used] = 0;
    *length = used;
    if (too_long || used > static_cast<size_t>(session_max_line_bytes)) return line_too_long;
    if (nul) return line_has_nul;
    return line_ok;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

struct word {
    const char* text;
    int length;
};

// Skips blanks, then takes the word up to the next blank or the end.
word next_word(const char** at) {
    const char* p = *at;
    while (is_blank(*p)) ++p;
    word w = {p, 0};
    while (*p != 0 && !is_blank(*p)) ++p;
    w.length = static_cast<int>(p - w.text);
    *at = p;
    return w;
}

bool word_is(word w, const char* text) {
    return std::strlen(text) == static_cast<size_t>(w.length) &&
           std::memcmp(w.text, text, static_cast<size_t>(w.length)) == 0;
}

int quoted_length(word w) {
    return w.length < quote_max ? w.length : quote_max;
}

// Parses 1 to max_digits hex digits. Returns false for anything else.
bool parse_hex(word w, int max_digits, uint32_t* value) {
    if (w.length < 1 || w.length > max_digits) return false;
    uint32_t v = 0;
    for (int i = 0; i < w.length; ++i) {
        int digit = hex_digit_value(w.text[i]);
        if (digit < 0) return false;
        v = v * 16 + static_cast<uint32_t>(digit);
    }
    *value = v;
    return true;
}

enum line_kind { kind_skip, kind_device, kind_item, kind_error, kind_elevated };

// The longest quiet moment a session may ask for: ten minutes.
constexpr long max_pause_ms = 600000;
// The largest write number and byte count of refuse-write and short-write.
constexpr long max_write_value = 1000000;

struct parsed_line {
    line_kind kind;
    int device;
    bool has_id;
    const char* id;  // points into the line
    size_t id_length;
    session_item item;
    bool tap;
    word file;    // save, replace, remove: the configuration's word
    word source;  // save, replace: the content's word
    char error[error_size];
};

void fail(parsed_line* out, const char* format, word w) {
    out->kind = kind_error;
    std::snprintf(out->error, sizeof out->error, format, quoted_length(w), w.text);
}

// Reads a decimal number of 1 to 7 digits into *value.
bool parse_decimal(word w, long* value) {
    if (w.length < 1 || w.length > 7) return false;
    long v = 0;
    for (int i = 0; i < w.length; ++i) {
        if (w.text[i] < '0' || w.text[i] > '9') return false;
        v = v * 10 + (w.text[i] - '0');
    }
    *value = v;
    return true;
}

// Reads the device number and checks it against the kind's range.
bool parse_device(const char** at, bool keyboard, parsed_line* out) {
    word w = next_word(at);
    if (w.length == 0) {
        out->kind = kind_error;
        std::snprintf(out->error, sizeof out->error, "missing device number");
        return false;
    }
    long value = 0;
    for (int i = 0; i < w.length; ++i) {
        if (w.text[i] < '0' || w.text[i] > '9') {
            fail(out, "bad device number '%.*s'", w);
            return false;
        }
        if (value < 1000) value = value * 10 + (w.text[i] - '0');
    }
    long low = keyboard ? 1 : keyboard_count + 1;
    long high = keyboard ? keyboard_count : device_count;
    if (value < low || value > high) {
        fail(out,
             keyboard ? "keyboard number '%.*s' is out of range 1-10" : "mouse number '%.*s' is out of range 11-20", w);
        return false;
    }
    out->device = static_cast<int>(value);
    return true;
}

bool parse_key(word w, key_stroke* key, parsed_line* out) {
    char name[key_name_size];
    if (w.length > 0 && w.length < key_name_size) {
        std::memcpy(name, w.text, static_cast<size_t>(w.length));
        name[w.length] = 0;
        const key_table& keys = fresh_key_table();
        int index = find_key_by_name(&keys, name);
        if (is_user_key(index)) {
            fail(out, "key '%.*s' is a user entry: type its scan code instead", w);
            return false;
        }
        if (index >= 0) {
            uint16_t code = keys.entries[index].scan_code;
            key->make_code = code & 0xFF;
            key->key_state = (code >> 8) == 0xE0 ? key_state_e0 : 0;
            return true;
        }
    }
    uint32_t code = 0;
    if (w.length == 4 && parse_hex(w, 4, &code)) {
        uint32_t high = code >> 8;
        if (high != 0x00 && high != 0xE0) {
            fail(out, "scan code '%.*s' must begin with 00 or e0", w);
            return false;
        }
        key->make_code = static_cast<uint16_t>(code & 0xFF);
        key->key_state = high == 0xE0 ? key_state_e0 : 0;
        return true;
    }
    if (w.length == 0) {
        out->kind = kind_error;
        std::snprintf(out->error, sizeof out->error, "missing key");
    } else {
        fail(out, "unknown key '%.*s'", w);
    }
    return false;
}

bool parse_field(const char** at, const char* what, int max_digits, uint32_t* value, parsed_line* out) {
    word w = next_word(at);
    if (w.length == 0) {
        out->kind = kind_error;
        std::snprintf(out->error, sizeof out->error, "missing %s", what);
        return false;
    }
    if (!parse_hex(w, max_digits, value)) {
        out->kind = kind_error;
        std::snprintf(out->error, sizeof out->error, "bad %s '%.*s': expected 1-%d hex digits", what, quoted_length(w),
                      w.text, max_digits);
        return false;
    }
    return true;
}

// Reads a decimal number from low to max_write_value.
bool parse_write_value(const char** at, const char* what, long low, long* value, parsed_line* out) {
    word w = next_word(at);
    if (w.length == 0) {
        out->kind = kind_error;
        std::snprintf(out->error, sizeof out->error, "missing %s", what);
        return false;
    }
    if (!parse_decimal(w, value) || *value < low || *value > max_write_value) {
        out->kind = kind_error;
        std::snprintf(out->error, sizeof out->error, "bad %s '%.*s': expected %ld-%ld", what, quoted_length(w), w.text,
                      low, max_write_value);
        return false;
    }
    return true;
}

bool at_line_end(const char** at, parsed_line* out) {
    word rest = next_word(at);
    if (rest.length == 0) return true;
    fail(out, "unexpected '%.*s' at the end of the line", rest);
    return false;
}

void parse_line(const char* line, size_t length, parsed_line* out) {
    out->kind = kind_skip;
    out->device = 0;
    out->has_id = false;
    out->id = nullptr;
    out->id_length = 0;
    out->item = session_item{session_key, 0, key_stroke{0, 0, 0}, 0, false, nullptr, 0, 0, false, nullptr, nullptr};
    out->tap = false;
    out->file = word{"", 0};
    out->source = word{"", 0};
    out->error[0] = 0;

    const char* at = line;
    word directive = next_word(&at);
    if (directive.length == 0 || directive.text[0] == '#') return;

    bool keyboard = word_is(directive, "keyboard");
    bool unnoticed = word_is(directive, "unnoticed-id");
    bool renamed = word_is(directive, "id") || unnoticed;
    if (keyboard || renamed || word_is(directive, "mouse")) {
        if (!parse_device(&at, keyboard || renamed, out)) return;
        out->kind = renamed ? kind_item : kind_device;
        // The id is everything after the one blank that ends the number.
        if (*at != 0) {
            out->has_id = true;
            out->id = at + 1;
            out->id_length = length - static_cast<size_t>(at + 1 - line);
            if (out->id_length > static_cast<size_t>(session_max_id_bytes)) {
                out->kind = kind_error;
                std::snprintf(out->error, sizeof out->error, "hardware id longer than %d bytes", session_max_id_bytes);
            }
        }
        if (renamed) {
            out->item = session_item{unnoticed ? session_unnoticed_id : session_id,
                                     out->device,
                                     key_stroke{0, 0, 0},
                                     0,
                                     out->has_id,
                                     out->id,
                                     0,
                                     0,
                                     false,
                                     nullptr,
                                     nullptr};
        }
        return;
    }

    key_stroke& key = out->item.key;
    bool down = word_is(directive, "down");
    bool up = word_is(directive, "up");
    bool tap = word_is(directive, "tap");
    if (down || up || tap) {
        if (!parse_device(&at, true, out)) return;
        if (!parse_key(next_word(&at), &key, out)) return;
        if (!at_line_end(&at, out)) return;
        if (up) key.key_state |= key_state_up;
        out->item.device = out->device;
        out->tap = tap;
        out->kind = kind_item;
        return;
    }

    if (word_is(directive, "stroke")) {
        if (!parse_device(&at, true, out)) return;
        uint32_t make = 0, state = 0, extra = 0;
        if (!parse_field(&at, "make code", 4, &make, out)) return;
        if (!parse_field(&at, "state", 4, &state, out)) return;
        if (!parse_field(&at, "extra", 8, &extra, out)) return;
        if (!at_line_end(&at, out)) return;
        key.make_code = static_cast<uint16_t>(make);
        key.key_state = static_cast<uint16_t>(state);
        key.extra_info = extra;
        out->item.device = out->device;
        out->kind = kind_item;
        return;
    }

    if (word_is(directive, "pause")) {
        word w = next_word(&at);
        long ms = 0;
        if (w.length == 0) {
            out->kind = kind_error;
            std::snprintf(out->error, sizeof out->error, "missing milliseconds");
            return;
        }
        if (!parse_decimal(w, &ms) || ms > max_pause_ms) {
            out->kind = kind_error;
            std::snprintf(out->error, sizeof out->error, "bad milliseconds '%.*s': expected 0-%ld", quoted_length(w),
                          w.text, max_pause_ms);
            return;
        }
        if (!at_line_end(&at, out)) return;
        out->item.kind = session_pause;
        out->item.pause_ms = static_cast<uint32_t>(ms);
        out->kind = kind_item;
        return;
    }

    bool refuse = word_is(directive, "refuse-write");
    if (refuse || word_is(directive, "short-write")) {
        long number = 0;
        long bytes = 0;
        if (!parse_write_value(&at, "write number", 1, &number, out)) return;
        if (!refuse && !parse_write_value(&at, "bytes", 0, &bytes, out)) return;
        if (!at_line_end(&at, out)) return;
        out->item.kind = session_short_write;
        out->item.write_number = static_cast<uint32_t>(number);
        out->item.write_bytes = static_cast<uint32_t>(bytes);
        out->item.write_refused = refuse;
        out->kind = kind_item;
        return;
    }

    bool save = word_is(directive, "save");
    bool replace = word_is(directive, "replace");
    if (save || replace || word_is(directive, "remove")) {
        out->file = next_word(&at);
        if (out->file.length == 0) {
            out->kind = kind_error;
            std::snprintf(out->error, sizeof out->error, "missing configuration file");
            return;
        }
        if (save || replace) {
            out->source = next_word(&at);
            if (out->source.length == 0) {
                out->kind = kind_error;
                std::snprintf(out->error, sizeof out->error, "missing file to take the content from");
                return;
            }
        }
        if (!at_line_end(&at, out)) return;
        out->item.kind = save ? session_save : replace ? session_replace : session_remove;
        out->kind = kind_item;
        return;
    }

    if (word_is(directive, "front")) {
        // The program is the rest of the line after the one blank that
        // follows the word, so it may hold spaces.
        out->item.kind = session_front;
        out->item.has_id = *at != 0 && at[1] != 0;
        out->item.id = out->item.has_id ? at + 1 : nullptr;
        out->kind = kind_item;
        return;
    }

    if (word_is(directive, "crash")) {
        if (!at_line_end(&at, out)) return;
        out->item.kind = session_crash;
        out->kind = kind_item;
        return;
    }

    if (word_is(directive, "fail-wait") || word_is(directive, "fail-read")) {
        if (!at_line_end(&at, out)) return;
        out->item.kind = word_is(directive, "fail-wait") ? session_fail_wait : session_fail_read;
        out->kind = kind_item;
        return;
    }

    if (word_is(directive, "elevated")) {
        if (!at_line_end(&at, out)) return;
        out->kind = kind_elevated;
        return;
    }

    // The system's news of the session, and the tray's commands.
    const struct {
        const char* name;
        session_item_kind kind;
    } news[] = {
        {"lock", session_lock}, {"unlock", session_unlock}, {"suspend", session_suspend}, {"wake", session_wake}};
    for (const auto& one : news) {
        if (!word_is(directive, one.name)) continue;
        if (!at_line_end(&at, out)) return;
        out->item.kind = one.kind;
        out->kind = kind_item;
        return;
    }
    if (word_is(directive, "control")) {
        const struct {
            const char* name;
            session_item_kind kind;
        } commands[] = {{"reload", session_control_reload},
                        {"pause", session_control_pause},
                        {"resume", session_control_resume},
                        {"quit", session_control_quit}};
        word command = next_word(&at);
        for (const auto& one : commands) {
            if (!word_is(command, one.name)) continue;
            if (!at_line_end(&at, out)) return;
            out->item.kind = one.kind;
            out->kind = kind_item;
            return;
        }
        fail(out, "unknown control command '%.*s': expected reload, pause, resume or quit", command);
        return;
    }

    bool freeze = word_is(directive, "freeze");
    if (freeze || word_is(directive, "interrupt") || word_is(directive, "thaw")) {
        if (!at_line_end(&at, out)) return;
        out->item.kind = freeze ? session_freeze : word_is(directive, "thaw") ? session_thaw : session_interrupt;
        out->kind = kind_item;
        return;
    }

    fail(out, "unknown directive '%.*s'", directive);
}

void keep_first_error(long line, const char* text, long* error_line, char* error) {
    if (*error_line != 0 && *error_line <= line) return;
    *error_line = line;
    std::snprintf(error, error_size, "%s", text);
}

}  // namespace

bool session_check(const char* path, session_devices* devices, char* message, size_t message_size) {
    std::memset(devices, 0, sizeof *devices);
    std::FILE* file = open_utf8_path(path, "rb");
    if (file == nullptr) {
        std::snprintf(message, message_size, "%s: cannot open the session file", path);
        return false;
    }

    char line[session_max_line_bytes + 2];
    parsed_line parsed;
    long first_use[keyboard_count] = {};
    int write_lines = 0;
    long error_line = 0;
    char error[error_size] = "";
    long number = 0;
    size_t length = 0;
    line_status status;
    // Every line is read, even after an error: a keyboard declared further down
    // still counts for the strokes above it.
    while ((status = read_line(file, line, &length)) != line_end) {
        ++number;
        if (status == line_too_long) {
            char text[error_size];
            std::snprintf(text, sizeof text, "line longer than %d bytes", session_max_line_bytes);
            keep_first_error(number, text, &error_line, error);
            continue;
        }
        if (status == line_has_nul) {
            keep_first_error(number, "the line holds a NUL byte", &error_line, error);
            continue;
        }
        parse_line(line, length, &parsed);
        if (parsed.kind == kind_error) {
            keep_first_error(number, parsed.error, &error_line, error);
        } else if (parsed.kind == kind_elevated) {
            devices->elevated = true;
        } else if (parsed.kind == kind_device) {
            session_device* device = &devices->device[parsed.device - 1];
            device->declared = true;
            device->has_id = parsed.has_id;
            std::memcpy(device->id, parsed.id == nullptr ? "" : parsed.id, parsed.id_length);
            device->id[parsed.id_length] = 0;
        } else if (parsed.kind == kind_item &&
                   (parsed.item.kind == session_key || parsed.item.kind == session_id ||
                    parsed.item.kind == session_unnoticed_id) &&
                   first_use[parsed.device - 1] == 0) {
            first_use[parsed.device - 1] = number;
        } else if (parsed.kind == kind_item && parsed.item.kind == session_short_write &&
                   ++write_lines > session_max_write_lines) {
            char text[error_size];
            std::snprintf(text, sizeof text, "more than %d refuse-write and short-write lines",
                          session_max_write_lines);
            keep_first_error(number, text, &error_line, error);
        } else if (parsed.kind == kind_item && parsed.source.length > 0) {
            // The new content must be there to be saved.
            std::string source(parsed.source.text, static_cast<size_t>(parsed.source.length));
            std::FILE* content = open_utf8_path(session_relative_path(path, source.c_str()).c_str(), "rb");
            if (content == nullptr) {
                char text[error_size];
                std::snprintf(text, sizeof text, "cannot read '%.*s'", quoted_length(parsed.source),
                              parsed.source.text);
                keep_first_error(number, text, &error_line, error);
            } else {
                std::fclose(content);
            }
        }
    }
    bool read_failed = std::ferror(file) != 0;
    std::fclose(file);
    if (read_failed) {
        std::snprintf(message, message_size, "%s: cannot read the session file", path);
        return false;
    }

    for (int k = 0; k < keyboard_count; ++k) {
        if (first_use[k] != 0 && !devices->device[k].declared) {
            char text[error_size];
            std::snprintf(text, sizeof text, "keyboard %d is not declared", k + 1);
            keep_first_error(first_use[k], text, &error_line, error);
        }
    }
    if (error_line != 0) {
        std::snprintf(message, message_size, "%s:%ld: %s", path, error_line, error);
        return false;
    }
    if (message_size > 0) message[0] = 0;
    return true;
}

std::string session_relative_path(const char* session_path, const char* name) {
    // A name from the root, or a drive, is no relative one.
    if (name[0] == '/' || name[0] == '\\' || (name[0] != 0 && name[1] == ':')) return name;
    std::string folder(session_path);
    size_t last = folder.find_last_of("/\\");
    if (last == std::string::npos) return name;
    return folder.substr(0, last + 1) + name;
}

bool change_session_file(const char* session_path, const session_item& item) {
    if (item.kind == session_remove) return remove_utf8_path(item.file);
    std::string content = session_relative_path(session_path, item.source);
    std::string target = item.kind == session_save ? std::string(item.file) : std::string(item.file) + ".saving";
    return copy_utf8_path(content.c_str(), target.c_str()) &&
           (item.kind == session_save || rename_over_utf8_path(target.c_str(), item.file));
}

bool session_open(session_reader* reader, const char* path) {
    reader->has_pending = false;
    reader->file = open_utf8_path(path, "rb");
    return reader->file != nullptr;
}

bool session_next(session_reader* reader, session_item* next) {
    if (reader->has_pending) {
        reader->has_pending = false;
        *next = reader->pending;
        return true;
    }
    if (reader->file == nullptr) return false;
    parsed_line parsed;
    size_t length = 0;
    line_status status;
    while ((status = read_line(reader->file, reader->line, &length)) != line_end) {
        if (status != line_ok) return false;
        parse_line(reader->line, length, &parsed);
        if (parsed.kind == kind_error) return false;
        if (parsed.kind != kind_item) continue;
        *next = parsed.item;
        if (parsed.file.length > 0) {
            std::memcpy(reader->file_name, parsed.file.text, static_cast<size_t>(parsed.file.length));
            reader->file_name[parsed.file.length] = 0;
            next->file = reader->file_name;
        }
        if (parsed.source.length > 0) {
            std::memcpy(reader->source, parsed.source.text, static_cast<size_t>(parsed.source.length));
            reader->source[parsed.source.length] = 0;
            next->source = reader->source;
        }
        if (parsed.tap) {
            reader->has_pending = true;
            reader->pending = *next;
            reader->pending.key.key_state |= key_state_up;
        }
        return true;
    }
    return false;
}

void session_close(session_reader* reader) {
    if (reader->file != nullptr) std::fclose(reader->file);
    reader->file = nullptr;
    reader->has_pending = false;
}
