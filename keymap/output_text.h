#ifndef PADMAP_KEYMAP_OUTPUT_TEXT_H
#define PADMAP_KEYMAP_OUTPUT_TEXT_H

#include <cstdint>
#include <string>

#include "keymap/key_table.h"

// The outputs of an entry as text. A configuration writes one output as a
// token, its modifier prefixes then a key name ("S-C-Z"), and an entry's
// outputs as those tokens joined by ','.

constexpr int modifier_count = 8;

// One modifier bit in each form the program writes it in.
struct modifier_text {
    uint16_t bit;
    char prefix[4];      // in a configuration's outputs: "S-" ... "rW-"
    char log_tag[3];     // in the key loop's log: "lS" ... "rW"
    char human_name[7];  // in shortcuts as people write them: "Shift" ... "RWin"
    int human_place;     // 0 to 7, its place there: left hand first, each hand Ctrl, Shift, Alt, Win
};

// In the order a configuration must give the prefixes, which is the order of
// the bits: modifier_texts[i].bit is 1 << i.
// clang-format off
inline constexpr modifier_text modifier_texts[modifier_count] = {
    {mod_left_shift,  "S-",  "lS", "Shift",  1},
    {mod_left_ctrl,   "C-",  "lC", "Ctrl",   0},
    {mod_left_alt,    "A-",  "lA", "Alt",    2},
    {mod_left_win,    "W-",  "lW", "Win",    3},
    {mod_right_shift, "rS-", "rS", "RShift", 5},
    {mod_right_ctrl,  "rC-", "rC", "RCtrl",  4},
    {mod_right_alt,   "rA-", "rA", "RAlt",   6},
    {mod_right_win,   "rW-", "rW", "RWin",   7},
};
// clang-format on

// Reads the modifier prefixes at the start of an output token, each at most
// once and in table order: one out of order or given again is where the key
// name begins ("C-S-Z" is C- and the name "S-Z"). Sets *modifiers to their
// bits (0 when none) and returns how many characters they take. The name
// after them may be empty ("S-").
int take_modifier_prefixes(const char* token, uint16_t* modifiers);

// Appends the prefixes of the mask in table order: 0x03 gives "S-C-". Bits
// above the low 8 are ignored.
void append_modifier_prefixes(uint16_t modifiers, std::string& out);

// Appends one output as a configuration writes it: the prefixes, then the
// name of the first entry of the table with the code, or "#" and four hex
// digits when no entry has it.
void append_output_token(const key_table& table, uint16_t modifiers, uint16_t code, std::string& out);

// Appends the entry's outputs as a configuration line writes them, joined by
// ',': "C-V,Enter". Stops at the first 0 output, as translation does; appends
// nothing when the first output is 0.
void append_output_list(const key_table& table, const key_entry& entry, std::string& out);

#endif
