#ifndef PADMAP_KEYMAP_MAPPING_LINE_H
#define PADMAP_KEYMAP_MAPPING_LINE_H

#include <cstdint>

#include "keymap/key_table.h"

// What apply_mapping_line did with one line, for a caller that wants to know
// (the echo of remap mode, padmap --check).
enum line_fate {
    line_blank,          // empty or only a line end: ignored
    line_space_first,    // begins with a space: ignored
    line_no_space,       // has no space at all: ignored
    line_short_code,     // "#" and a hex digit, but fewer than four: ignored
    line_unknown_key,    // the key token names no entry: ignored
    line_no_user_entry,  // a "#" code of no entry, and no user entry left: ignored
    line_applied,        // the output list was applied to the entry
    line_section,        // a "when" line: a section of the configuration starts
    line_dropped,        // a line of a section or layer the configuration has no room for: ignored
    line_layer,          // a "layer" line: a layer of the configuration starts
    line_hold_time,      // a "hold-time" line (hold_time: its value; 0: none it takes)
};

// What output_note::found holds for an output that switches layers, and for
// a text or a program (an item of the file's).
constexpr int output_switch = -2;
constexpr int output_item = -3;

struct output_note {
    const char* token;    // the whole output token as written, NUL-terminated
    const char* name;     // the part after the prefixes the loader took
    uint16_t modifiers;   // the bits those prefixes set
    int found;            // the entry the name names; -1: the output was left as it was;
                          // output_switch: a layer switch (value); output_item: a text or a program (value)
    uint16_t value;       // what was stored as the output, when found
    const char* problem;  // an output written as a text that is none: why (null otherwise)
};

struct line_note {
    line_fate fate;
    const char* key_token;  // the key as written, NUL-terminated (the whole line for line_no_space)
    int entry;              // the entry the key names, -1 when ignored
    bool is_code;           // the key token is "#" and hex digits
    uint16_t code;          // ... their code
    bool claimed;           // ... which claimed a user entry
    int output_count;       // output tokens taken, 1 to 16
    output_note outputs[key_outputs];
    char ended_by;              // ',' (sixteen taken, more follow), ' ', '\n' or 0
    const char* rest;           // the text after what ended the list (ignored)
    int section;                // the section the line belongs to (or starts), -1 outside sections,
                                // -2 in one (or a layer) there was no room for
    int layer;                  // the layer the line belongs to (or starts), -1 outside layers
    const char* layer_name;     // line_layer: its layer's name ("" when none)
    bool hold;                  // a "hold KEY OUTPUTS" line (key_token and outputs are after "hold ")
    bool hold_kept;             // ... whose hold was kept (not past the scope's room)
    long hold_time;             // line_hold_time: the time it gives, -1 when it gives none
    const char* section_label;  // line_section: its programs as the section names them ("" when none)
    const char* programs;       // line_section: the text after "when " as UTF-8 ("" when none)
    int program;                // a "KEY run|open ..." line: its kind (item_run, item_open), -1 for other lines
    const char* command;        // ... its command or target as written, UTF-8 ("" when none)
    bool program_kept;          // ... stored (false: none written, refused, or no room)
};

// Applies one configuration line (8-bit text, NUL-terminated, may end in LF)
// to the table: "KEY OUT,OUT,..." where KEY is a key name or "#" with at
// least four hex digits (the entry find_key_for_code_line gives, else a user
// entry it claims) and each OUT is modifier prefixes, as take_modifier_prefixes
// reads them, and a key name. An OUT that begins with a double quote runs to
// its closing quote (commas and spaces inside belong to it; a backslash takes
// the unit after it along) and on to the next comma or space: the caller
// makes a text of it. Lines it cannot use change nothing. The text
// is cut up in place; note (when not null) says what was done and points into
// it. Keys, codes and claims are the table's; the outputs go into the same
// entry of outputs_into (the table itself, or a section's table of outputs).
void apply_mapping_line(key_table* table, key_table* outputs_into, char* line, line_note* note);

#endif
