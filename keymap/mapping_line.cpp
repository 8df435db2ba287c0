#include "keymap/mapping_line.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "keymap/key_table.h"
#include "keymap/text.h"

struct modifier_prefix {
    const char* text;
    uint16_t bit;
};

namespace {

const modifier_prefix prefixes[] = {
    {"S-", mod_left_shift},   {"C-", mod_left_ctrl},   {"A-", mod_left_alt},   {"W-", mod_left_win},
    {"rS-", mod_right_shift}, {"rC-", mod_right_ctrl}, {"rA-", mod_right_alt}, {"rW-", mod_right_win},
};

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

// The entry the key token names, or -1.
int resolve_key(const char* token) {
    if (token[0] == '#' && is_hex(token[1])) {
        if (!is_hex(token[2]) || !is_hex(token[3]) || !is_hex(token[4])) return -1;
        uint16_t code = hex_code(token + 1);
        int index = find_key_by_code(code);
        if (index < 0) index = claim_user_slot(code);
        return index;
    }
    return find_key_by_name(token);
}

bool ends_name(char c) {
    return c == ',' || c == ' ' || c == '\n' || c == '\0';
}

}  // namespace

void apply_mapping_line(char* line) {
    if (line[0] == ' ' || line[0] == '\0' || line[0] == '\n') return;
    char* space = strchr(line, ' ');
    if (space == nullptr) return;
    *space = '\0';
    int index = resolve_key(line);
    if (index < 0) return;
    key_entry* entry = &key_table[index];

    char* pos = space + 1;
    while (*pos == ' ') ++pos;
    for (int i = 0; i < key_outputs; ++i) {
        entry->modifiers[i] = 0;
        const char* token = pos;
        for (const modifier_prefix& prefix : prefixes) {
            size_t length = strlen(prefix.text);
            if (strncmp(pos, prefix.text, length) == 0) {
                entry->modifiers[i] |= prefix.bit;
                pos += length;
            }
        }
        char* end = pos;
        while (!ends_name(*end)) ++end;
        bool last = *end != ',';
        *end = '\0';
        int found = find_key_by_name(pos);
        if (found >= 0) {
            entry->outputs[i] = key_table[found].scan_code;
            console_printf(console_out, "%s->%s\n", line, token);
        }
        if (last) return;
        pos = end + 1;
    }
}
