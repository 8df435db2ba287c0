#ifndef PADMAP_LAYOUT_HUMAN_FORM_H
#define PADMAP_LAYOUT_HUMAN_FORM_H

#include <cstdint>
#include <string>

#include "keymap/key_table.h"

// Appends the human names of the modifier mask, each followed by '+', at
// their human places (left-hand ones first, each hand in the order Ctrl,
// Shift, Alt, Win): 0x03 gives "Ctrl+Shift+", 0x20 "RCtrl+". Bits above the
// low 8 are ignored.
void append_modifier_names(uint16_t mask, std::string& out);

// Appends what an output code means to a reader, looked up in the
// configuration's table: a named key's name; for a code a user entry holds,
// the key at that physical place (E05B gives "LWin"), or the key's later name
// (0064 gives "F13"), or else the entry's name ("user3"); a code no entry holds
// as "#" and four hex digits.
void append_output_name(const key_table& table, uint16_t code, std::string& out);

// Appends the entry's output sequence as people write shortcuts, outputs
// separated by ", ": "Ctrl+V, Enter". Stops at the first 0 output, as
// translation does; appends nothing when the first output is 0.
void append_sequence(const key_table& table, const key_entry& entry, std::string& out);

#endif
