#include "layout/human_form.h"

#include <cstdio>

#include "keymap/config.h"
#include "keymap/output_text.h"
#include "layout/key_places.h"

void append_modifier_names(uint16_t mask, std::string& out) {
    for (int place = 0; place < modifier_count; ++place) {
        for (const modifier_text& m : modifier_texts) {
            if (m.human_place != place || !(mask & m.bit)) continue;
            out += m.human_name;
            out += '+';
        }
    }
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
    // A table has no layer names: a switch says what kind it is.
    if (is_layer_switch(entry)) {
        uint16_t code = entry.outputs[0];
        out += code >= switch_all_off ? "Layers off" : code >= switch_toggle ? "Toggle layer" : "Layer";
        return;
    }
    for (int i = 0; i < key_outputs && entry.outputs[i] != 0; ++i) {
        if (i > 0) out += ", ";
        append_modifier_names(entry.modifiers[i], out);
        append_output_name(table, entry.outputs[i], out);
    }
}
