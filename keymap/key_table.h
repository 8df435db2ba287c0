#ifndef PADMAP_KEYMAP_KEY_TABLE_H
#define PADMAP_KEYMAP_KEY_TABLE_H

#include <cstdint>

constexpr int key_count = 100;
constexpr int key_outputs = 16;
constexpr int key_name_size = 16;
constexpr int first_user_key = 90;

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

// One configuration's keys: the 90 named keys then user1..user10, in their
// fixed order, each with the outputs the configuration gave it. Every
// configuration file has a table of its own.
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

// Index of the first entry whose scan code equals code, or -1.
int find_key_by_code(const key_table* table, uint16_t code);

// Gives the first entry with scan code 0 the code and returns its index; -1
// (table unchanged) when none is left.
int claim_user_slot(key_table* table, uint16_t code);

#endif
