#include "layout/human_form.h"

#include <cstdio>

#include "layout/key_places.h"

namespace {

struct prefix_name {
    uint16_t bit;
    const char* text;
};

const prefix_name prefix_names[] = {
    {mod_left_ctrl, "Ctrl+"},   {mod_left_shift, "Shift+"},   {mod_left_alt, "Alt+"},   {mod_left_win, "Win+"},
    {mod_right_ctrl, "RCtrl+"}, {mod_right_shift, "RShift+"}, {mod_right_alt, "RAlt+"}, {mod_right_win, "RWin+"},
};

}  // namespace

void append_modifier_prefix(uint16_t mask, std::string& out) {
    for (const prefix_name& p : prefix_names)
        if (mask & p.bit) out += p.text;
}

void append_output_name(const key_table& table, uint16_t code, std::string& out) {
    int entry = find_key_by_code(&table, code);
    if (entry >= 0 && !is_user_key(entry)) {
        out += table.entries[entry].name;
        return;
    }
    int place = find_place_by_code(code);
    if (place >= 0) {
        out += key_places[place].label;
        return;
    }
    for (int late = first_late_key; late < key_count; ++late) {
        if (table.entries[late].scan_code != code) continue;
        out += table.entries[late].name;
        return;
    }
    if (entry >= 0) {
        out += table.entries[entry].name;
        return;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "#%04x", (unsigned)code);
    out += hex;
}

void append_sequence(const key_table& table, const key_entry& entry, std::string& out) {
    for (int i = 0; i < key_outputs && entry.outputs[i] != 0; ++i) {
        if (i > 0) out += ", ";
        append_modifier_prefix(entry.modifiers[i], out);
        append_output_name(table, entry.outputs[i], out);
    }
}
