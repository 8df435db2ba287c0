#ifndef PADMAP_KEYMAP_CONFIG_ITEMS_H
#define PADMAP_KEYMAP_CONFIG_ITEMS_H

#include <cstddef>
#include <cstdint>
#include <string>

// Outputs that are more than a key: a text typed as characters ("TEXT" in
// an output list) and a program started by a "run" or "open" line. An
// entry's output i is one when its modifiers carry modifier_item; the output
// is then 1 + the item's place among the file's items. A program is the
// whole mapping of its key: its modifiers also carry modifier_switch
// (config.h).
constexpr uint16_t modifier_item = 0x4000;

enum item_kind : uint8_t {
    item_text,  // units are typed: each a character, but LF the Enter key and tab the Tab key
    item_run,   // units are a command line, started as it says
    item_open,  // units are a URL, a file or a folder, opened as Explorer would
};

constexpr int max_items = 64;             // texts and programs of one file
constexpr int item_units_room = 8192;     // the units of them all
constexpr int item_written_room = 16384;  // their written forms, each with its terminator

struct config_item {
    item_kind kind;
    long line;     // the line that gives it
    int units_at;  // in config_items::units
    int units;
    int written_at;  // in config_items::written: as the file writes it, UTF-8, NUL-terminated
                     // (a text with its quotes and escapes)
};

struct config_items {
    int count;
    config_item list[max_items];
    int units_used;
    char16_t units[item_units_room];
    int written_used;
    char written[item_written_room];
};

void reset_items(config_items* items);

inline bool is_item_output(uint16_t output, uint16_t modifiers) {
    return (modifiers & modifier_item) != 0 && output != 0;
}

// The item an output names; null when it names none of the file's.
const config_item* item_of(const config_items& items, uint16_t output, uint16_t modifiers);

inline const char* item_written(const config_items& items, const config_item& item) {
    return items.written + item.written_at;
}
inline const char16_t* item_units(const config_items& items, const config_item& item) {
    return items.units + item.units_at;
}

// The word a program line starts with: "run" or "open".
const char* program_word(item_kind kind);

// True when word is one a program line starts with; its kind then goes into
// kind (when not null).
bool is_program_word(const char* word, item_kind* kind = nullptr);

// The item as a configuration writes it: a text with its quotes, a program
// after its word ("run notepad.exe").
std::string item_shown(const config_items& items, const config_item& item);

// Why the token (its units from the opening quote to the token's end) is no
// text: null when it is one. A text is one quote, at least one character
// (escapes \n \t \" \\ among them) and the closing quote, with nothing after.
const char* text_problem(const char16_t* token, size_t count);

// Stores the well-formed text token (text_problem answers null); returns its
// output (1 + its place), or 0 when the file has no room left for it.
uint16_t add_text(config_items* items, const char16_t* token, size_t count);

// A program line's command or target in rest (the units after its word, up
// to the line's end): from its first non-blank unit to a space then '#'
// outside double quotes (a comment), blanks at its end taken off. Sets
// *from and *count (0 when there is none).
void program_span(const char16_t* rest, size_t rest_count, size_t* from, size_t* count);

// Stores a program (its command line or target, count > 0 units); returns
// its output, or 0 when no room is left.
uint16_t add_program(config_items* items, item_kind kind, const char16_t* command, size_t count);

// Stores a copy of an item of another file's (from) in items; returns its
// output there, or 0 when no room is left.
uint16_t copy_item(config_items* items, const config_items& from, const config_item& item);

#endif
