#ifndef PADMAP_KEYMAP_CONFIG_H
#define PADMAP_KEYMAP_CONFIG_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "keymap/config_items.h"
#include "keymap/hardware_id.h"
#include "keymap/key_table.h"
#include "keymap/mapping_line.h"

// padmap takes up to this many configuration files, one for each keyboard.
constexpr int max_config_files = 10;

// A section: the lines from a "when PROGRAM[,PROGRAM...]" line (the word, one
// space, program names separated by commas, blanks around each ignored) to
// the next such line or the end of the file. While a window of one of its
// programs is in front, a key to which its lines give a first output sends
// the section's outputs; every other key does what the lines outside
// sections say. Its lines' keys, codes and user entries are the file's.
constexpr int max_sections = 16;
constexpr int max_section_programs = 8;
constexpr int program_name_bytes = 128;   // a program's file name in UTF-8, with its terminator
constexpr int section_label_bytes = 128;  // with its terminator

struct config_section {
    long line;                        // its "when" line
    char label[section_label_bytes];  // its programs as "A.exe, B.exe" (cut when longer)
    int program_count;                // the names it holds (empty ones and those too long left out)
    char programs[max_section_programs][program_name_bytes];  // UTF-8, as written
    key_table keys;  // the outputs its lines give; names and codes are the file's
};

// A layer: the lines from a "layer NAME" line to the next "layer" or "when"
// line or the end of the file. NAME is 1-32 of A-Z a-z 0-9 _ -, in case. A
// layer is on while a key that switches it on is held, or its toggle is on;
// a key looks itself up in the layers that are on first, the last turned on
// first. Its lines' keys, codes and user entries are the file's.
constexpr int max_layers = 16;
constexpr int layer_name_bytes = 33;  // with its terminator

struct config_layer {
    long line;                    // its "layer" line; 0: a switch names it, no line defines it
    char name[layer_name_bytes];  // as written
    key_table keys;               // the outputs its lines give
};

// Outputs that switch layers, each the only output of its line. Such an
// entry's first modifiers carry modifier_switch (no prefix sets it: any
// other output, even a code a '#' line claims, is a key); its first output
// is the switch, its low byte the layer's place among the file's layers
// (layers-off has none). A program ("run", "open") is also the only output
// of its line: modifier_switch with modifier_item (config_items.h).
constexpr uint16_t modifier_switch = 0x8000;
constexpr uint16_t switch_layer = 0xF100;    // layer(NAME): on while the key is held
constexpr uint16_t switch_toggle = 0xF200;   // toggle(NAME): each press turns it on, or off
constexpr uint16_t switch_all_off = 0xF300;  // layers-off: every toggle off
inline bool is_layer_switch(const key_entry& entry) {
    return (entry.modifiers[0] & (modifier_switch | modifier_item)) == modifier_switch && entry.outputs[0] != 0;
}
inline bool is_program(const key_entry& entry) {
    return (entry.modifiers[0] & (modifier_switch | modifier_item)) == (modifier_switch | modifier_item) &&
           entry.outputs[0] != 0;
}

// A line "hold KEY OUTPUTS" gives KEY what it does when held; the key's own
// line (if any) is its tap. "hold-time MS" (50-5000) sets for the whole file
// how long a key is down before it counts as held; the first such line holds.
constexpr int max_scope_holds = 32;
constexpr uint32_t default_hold_time_ms = 200;
constexpr uint32_t min_hold_time_ms = 50;
constexpr uint32_t max_hold_time_ms = 5000;

struct hold_line {
    long line;
    int entry;      // the key, in the file's table
    key_entry key;  // its hold outputs (name and code are the key's)
};

// The hold lines of one scope.
struct scope_holds {
    int count;
    hold_line lines[max_scope_holds];
};

// Scopes of a file: outside sections and layers (0), section s (1 + s),
// layer l (1 + max_sections + l).
constexpr int config_scopes = 1 + max_sections + max_layers;

// What one configuration file holds: the keyboard it names, its keys, its
// sections and its layers in file order, and its hold lines.
struct config {
    char16_t configured_hardware_id[hardware_id_units];  // NUL-terminated UTF-16
    key_table keys;
    int section_count;
    config_section sections[max_sections];
    int layer_count;  // the layers its lines define or its switches name
    config_layer layers[max_layers];
    scope_holds holds[config_scopes];
    uint32_t hold_time_ms;
    long hold_time_line;  // 0: none, the default holds
    config_items items;   // its texts and programs
};

// The hold of the key with that code in the scope, or null.
const hold_line* hold_for_code(const config& layout, int scope, uint16_t code);

// The layer of that name (in case), or -1.
int layer_named(const config& layout, const char* name);

// True when text is a layer's name: 1-32 of A-Z a-z 0-9 _ -.
bool is_layer_name(const char* text, size_t length);

// A switch written as text ("layer(nav)", "toggle(nav)", "layers-off") as
// the config names it: its output (naming a layer the file may not have
// yet, which is then added as named only), or 0 when the text is no switch
// or no room is left for its layer.
uint16_t switch_output(config* layout, const char* text);

// The names of a "when" line's list (the text after "when ", UTF-8) split at
// its commas, the blanks around each taken off; empty names are kept.
std::vector<std::string> program_list(const std::string& names);

// The first section that names the program (its file name, UTF-8), compared
// without regard to the case of ASCII letters; -1 when none does.
int section_for_program(const config& layout, const char* program);

// Puts the configuration back to no id and a fresh key table.
void reset_config(config* into);

// Reads the configuration file at path (UTF-16, NUL-terminated) into a fresh
// configuration, echoing every accepted output. Returns false after printing
// "failed to open ..." or the hardware-id message.
bool load_config(const char16_t* path, config* into);

// The same parsing from bytes in memory; a failure prints only the hardware-id
// message (there is no file to open).
bool load_config_bytes(const uint8_t* data, size_t size, config* into);

// Lines are read in pieces of at most this many UTF-16 units; a longer line
// is several pieces, each handled as a line of its own.
constexpr int config_piece_units = 1023;

enum config_outcome {
    config_loaded,          // the hardware id was read and every line after it applied
    config_unreadable,      // the file cannot be opened or read
    config_no_hardware_id,  // the file holds no word at all
    config_id_too_long,     // its first word has 500 units or more
};

// Told what the loader does, as it does it: where the hardware id word was
// looked for (the line it stands on, or the last line read when there is
// none) and how that went, then every piece of every line after it, with its
// line number, its 8-bit text before it was applied, and what was done with
// it. hardware_id may be null.
struct config_listener {
    void (*hardware_id)(void* context, long line, config_outcome outcome);
    void (*line)(void* context, long line, const char* text, const line_note* note);
    void* context;
};

// Remap mode's echo of one line the loader applied: "KEY->OUTPUT" and a line
// end for every output it stored. echo_line prints it.
std::string echo_text(const line_note* note);
void echo_line(const line_note* note);

// What load_config prints when the loader ends with the outcome: "failed to
// open PATH" for an unreadable file (path may be null for bytes in memory),
// the hardware-id message for a file without an id, nothing otherwise.
void print_load_failure(const char16_t* path, config_outcome outcome);

// The loader itself, printing nothing: resets the configuration, fills it as
// load_config does and tells the listener (when not null).
config_outcome read_config(const char16_t* path, config* into, const config_listener* listener);
config_outcome read_config_bytes(const uint8_t* data, size_t size, config* into, const config_listener* listener);

// padmap runs with administrator rights: every "run" and "open" line is
// dropped (its key falls to the next scope, or passes on as typed). Returns
// a line saying so for each, in line order.
std::string refuse_programs(config* layout);

// Why the run or open item is refused with administrator rights, for its
// line: "'run X' is refused: ...".
std::string program_refusal(const config_items& items, const config_item& item);

// True when the configuration names the keyboard with the NUL-terminated id:
// equal, whole and in case.
bool names_keyboard(const config& layout, const char16_t* id);

#endif
