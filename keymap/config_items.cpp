#include "keymap/config_items.h"

#include <cstring>

#include "keymap/unicode.h"

void reset_items(config_items* items) {
    std::memset(items, 0, sizeof *items);
}

const config_item* item_of(const config_items& items, uint16_t output, uint16_t modifiers) {
    if (!is_item_output(output, modifiers) || output > items.count) return nullptr;
    return &items.list[output - 1];
}

const char* program_word(item_kind kind) {
    return kind == item_open ? "open" : "run";
}

bool is_program_word(const char* word, item_kind* kind) {
    bool run = std::strcmp(word, "run") == 0;
    if (!run && std::strcmp(word, "open") != 0) return false;
    if (kind != nullptr) *kind = run ? item_run : item_open;
    return true;
}

std::string item_shown(const config_items& items, const config_item& item) {
    std::string written = item_written(items, item);
    return item.kind == item_text ? written : program_word(item.kind) + (" " + written);
}

namespace {

char16_t escaped(char16_t unit) {
    switch (unit) {
    case u'n': return u'\n';
    case u't': return u'\t';
    case u'"': return u'"';
    case u'\\': return u'\\';
    default: return 0;
    }
}

// Appends units as UTF-8 with a terminator; false when they do not fit.
bool put_written(config_items* items, const char16_t* units, size_t count) {
    int at = items->written_used;
    size_t pos = 0;
    while (pos < count) {
        // utf16_next reads NUL-terminated text: a pair is taken whole only
        // when both halves are inside the token.
        char16_t pair[3] = {units[pos], pos + 1 < count ? units[pos + 1] : u'\0', 0};
        size_t step = 0;
        char bytes[4];
        int length = utf8_encode(utf16_next(pair, &step), bytes);
        if (at + length + 1 > item_written_room) return false;
        std::memcpy(items->written + at, bytes, static_cast<size_t>(length));
        at += length;
        pos += step;
    }
    items->written[at++] = 0;
    items->written_used = at;
    return true;
}

uint16_t add_item(config_items* items, item_kind kind, const char16_t* written, size_t written_count,
                  const char16_t* units, size_t count) {
    if (items->count == max_items || items->units_used + static_cast<int>(count) > item_units_room) return 0;
    config_item& item = items->list[items->count];
    item.written_at = items->written_used;
    if (!put_written(items, written, written_count)) return 0;
    item.kind = kind;
    item.units_at = items->units_used;
    item.units = static_cast<int>(count);
    std::memcpy(items->units + items->units_used, units, count * sizeof *units);
    items->units_used += static_cast<int>(count);
    return static_cast<uint16_t>(++items->count);
}

}  // namespace

const char* text_problem(const char16_t* token, size_t count) {
    if (count == 0 || token[0] != u'"') return "a text begins with a double quote";
    size_t at = 1;
    for (; at < count && token[at] != u'"'; ++at) {
        if (token[at] != u'\\') continue;
        if (at + 1 == count || escaped(token[at + 1]) == 0) {
            return "an unknown escape: a text knows \\n, \\t, \\\" and \\\\ (write \\\\ for a backslash)";
        }
        ++at;
    }
    if (at == count) return "the text has no closing quote";
    if (at == 1) return "the text is empty";
    if (at + 1 != count) return "characters follow the closing quote";
    return nullptr;
}

uint16_t add_text(config_items* items, const char16_t* token, size_t count) {
    char16_t typed[item_units_room];
    size_t typed_count = 0;
    for (size_t at = 1; at + 1 < count && typed_count < item_units_room; ++at) {
        typed[typed_count++] = token[at] == u'\\' ? escaped(token[++at]) : token[at];
    }
    return add_item(items, item_text, token, count, typed, typed_count);
}

void program_span(const char16_t* rest, size_t rest_count, size_t* from, size_t* count) {
    auto blank = [](char16_t unit) { return unit == u' ' || unit == u'\t' || unit == u'\r' || unit == u'\n'; };
    size_t start = 0;
    while (start < rest_count && blank(rest[start])) ++start;
    size_t end = start;
    bool quoted = false;
    for (; end < rest_count && rest[end] != u'\n'; ++end) {
        if (rest[end] == u'"') quoted = !quoted;
        // The rest follows a space: a '#' at its start begins a comment too.
        if (!quoted && rest[end] == u'#' && (end == 0 || rest[end - 1] == u' ')) break;
    }
    while (end > start && blank(rest[end - 1])) --end;
    *from = start;
    *count = end - start;
}

uint16_t add_program(config_items* items, item_kind kind, const char16_t* command, size_t count) {
    return add_item(items, kind, command, count, command, count);
}

uint16_t copy_item(config_items* items, const config_items& from, const config_item& item) {
    if (items->count == max_items || items->units_used + item.units > item_units_room) return 0;
    const char* written = item_written(from, item);
    size_t bytes = std::strlen(written) + 1;
    if (items->written_used + bytes > static_cast<size_t>(item_written_room)) return 0;
    config_item& copy = items->list[items->count];
    copy = item;
    copy.units_at = items->units_used;
    copy.written_at = items->written_used;
    std::memcpy(items->units + items->units_used, item_units(from, item), static_cast<size_t>(item.units) * 2);
    std::memcpy(items->written + items->written_used, written, bytes);
    items->units_used += item.units;
    items->written_used += static_cast<int>(bytes);
    return static_cast<uint16_t>(++items->count);
}
