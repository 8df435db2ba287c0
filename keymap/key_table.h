#ifndef PADMAP_KEYMAP_KEY_TABLE_H
#define PADMAP_KEYMAP_KEY_TABLE_H

#include <cstdint>
#include <cstring>

constexpr int key_outputs = 16;
constexpr int key_name_size = 16;

// The table's three parts, in order: the first named keys, the ten user
// entries, then the later named keys (Esc, the modifiers, F13-F24, the media
// keys, ...). A '#' line looks its code up in the first two parts only, so a
// user entry it claims stands before a later name with the same code.
constexpr int first_user_key = 90;
constexpr int user_key_count = 10;
constexpr int first_late_key = first_user_key + user_key_count;
constexpr int late_key_count = 52;
constexpr int key_count = first_late_key + late_key_count;

inline bool is_user_key(int index) {
    return index >= first_user_key && index < first_late_key;
}

// Modifier mask bits, one per modifier key.
constexpr uint16_t mod_left_shift = 0x01;
constexpr uint16_t mod_left_ctrl = 0x02;
constexpr uint16_t mod_left_alt = 0x04;
constexpr uint16_t mod_left_win = 0x08;
constexpr uint16_t mod_right_shift = 0x10;
constexpr uint16_t mod_right_ctrl = 0x20;
constexpr uint16_t mod_right_alt = 0x40;
constexpr uint16_t mod_right_win = 0x80;

struct key_entry {
    char name[key_name_size];       // NUL-terminated, case-sensitive
    uint16_t scan_code;             // high byte 0xE0 for extended keys; 0 = unclaimed user entry
    uint16_t outputs[key_outputs];  // the first 0 ends the sequence
    uint16_t modifiers[key_outputs];
};

// The entry maps nothing: every output and its modifiers cleared.
inline void clear_outputs(key_entry* entry) {
    std::memset(entry->outputs, 0, sizeof entry->outputs);
    std::memset(entry->modifiers, 0, sizeof entry->modifiers);
}

// One configuration's keys: the first named keys, user1..user10, then the
// later named keys, in their fixed order, each with the outputs the
// configuration gave it. Every configuration file has a table of its own.
struct key_table {
    key_entry entries[key_count];
};

// Puts every entry back to its initial name and code with no outputs.
void reset_key_table(key_table* table);

// The keys before any configuration: every name and code, no outputs, every
// user entry unclaimed. For looking up names and codes where no configuration
// is in play.
const key_table& fresh_key_table();

// Index of the first entry whose name equals text, or -1.
int find_key_by_name(const key_table* table, const char* text);

// Index of the first entry whose scan code equals code, or -1: the entry a
// stroke with that lookup code uses.
int find_key_by_code(const key_table* table, uint16_t code);

// Index of the first entry whose scan code (in codes) equals code and to
// which outputs (a table of the same configuration: its own, or a section's)
// gives a first output, or -1: the entry a stroke uses in that scope. An
// entry that only another scope maps does not hide a later one.
int find_mapped_by_code(const key_table* codes, const key_table* outputs, uint16_t code);

// The entry a '#' line with the code names: the first one with that scan code
// before the later named keys, or -1.
int find_key_for_code_line(const key_table* table, uint16_t code);

// Gives the first user entry with scan code 0 the code and returns its index;
// -1 (table unchanged) when none is left.
int claim_user_slot(key_table* table, uint16_t code);

#endif
