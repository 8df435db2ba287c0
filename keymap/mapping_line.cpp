#include "keymap/mapping_line.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "keymap/config.h"
#include "keymap/config_items.h"
#include "keymap/key_table.h"
#include "keymap/output_text.h"
#include "keymap/text.h"

namespace {

bool is_hex(char c) {
    return hex_digit_value(c) >= 0;
}

// All leading hex digits as a signed 32-bit number that saturates at
// 0x7FFFFFFF, as strtol does where long has 32 bits; the low 16 bits of it.
uint16_t hex_code(const char* text) {
    uint32_t value = 0;
    for (; is_hex(*text); ++text) {
        value = value * 16 + static_cast<uint32_t>(hex_digit_value(*text));
        if (value > 0x7FFFFFFFu) value = 0x7FFFFFFFu;
    }
    return static_cast<uint16_t>(value & 0xFFFFu);
}

bool ends_name(char c) {
    return c == ',' || c == ' ' || c == '\n' || c == '\0';
}

// From an opening quote to just past its closing one, or to the line's end.
char* past_quote(char* at) {
    for (++at; *at != 0 && *at != '\n'; ++at) {
        if (*at == '"') return at + 1;
        if (*at == '\\' && at[1] != 0 && at[1] != '\n') ++at;
    }
    return at;
}

}  // namespace

void apply_mapping_line(key_table* table, key_table* outputs_into, char* line, line_note* note) {
    line_note ignored;
    if (note == nullptr) note = &ignored;
    note->entry = -1;
    note->is_code = false;
    note->code = 0;
    note->claimed = false;
    note->output_count = 0;
    note->ended_by = 0;
    note->rest = "";
    note->section = -1;
    note->layer = -1;
    note->layer_name = "";
    note->hold = false;
    note->hold_kept = false;
    note->hold_time = -1;
    note->section_label = "";
    note->program = -1;
    note->command = "";
    note->program_kept = false;
    note->key_token = line;
    if (line[0] == '\0' || line[0] == '\n') {
        note->fate = line_blank;
        return;
    }
    if (line[0] == ' ') {
        note->fate = line_space_first;
        return;
    }
    char* space = strchr(line, ' ');
    if (space == nullptr) {
        note->fate = line_no_space;
        return;
    }
    *space = '\0';

    int index = -1;
    if (line[0] == '#' && is_hex(line[1])) {
        if (!is_hex(line[2]) || !is_hex(line[3]) || !is_hex(line[4])) {
            note->fate = line_short_code;
            return;
        }
        note->is_code = true;
        note->code = hex_code(line + 1);
        index = find_key_for_code_line(table, note->code);
        if (index < 0) {
            index = claim_user_slot(table, note->code);
            note->claimed = index >= 0;
        }
        if (index < 0) {
            note->fate = line_no_user_entry;
            return;
        }
    } else {
        index = find_key_by_name(table, line);
        if (index < 0) {
            note->fate = line_unknown_key;
            return;
        }
    }
    note->fate = line_applied;
    note->entry = index;
    key_entry* entry = &outputs_into->entries[index];
    // A key whose mapping was a layer switch or a program gets a mapping
    // anew: they merge with nothing.
    if ((entry->modifiers[0] & modifier_switch) != 0 && entry->outputs[0] != 0) {
        clear_outputs(entry);
    }

    char* pos = space + 1;
    while (*pos == ' ') ++pos;
    for (int i = 0; i < key_outputs; ++i) {
        output_note& out = note->outputs[note->output_count++];
        out.token = pos;
        pos += take_modifier_prefixes(pos, &entry->modifiers[i]);
        out.modifiers = entry->modifiers[i];
        out.name = pos;
        out.problem = nullptr;
        char* end = *pos == '"' ? past_quote(pos) : pos;
        while (!ends_name(*end)) ++end;
        note->ended_by = *end;
        bool last = *end != ',';
        if (*end != '\0') note->rest = end + 1;
        *end = '\0';
        out.found = find_key_by_name(table, pos);
        out.value = 0;
        if (out.found >= 0) {
            entry->outputs[i] = table->entries[out.found].scan_code;
            out.value = entry->outputs[i];
        }
        if (last) return;
        pos = end + 1;
    }
}
