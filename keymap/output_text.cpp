#include "keymap/output_text.h"

#include <cstdio>
#include <cstring>

namespace {

// The log indexes the table by bit number, and the loader's order is the
// bits' order.
constexpr bool bits_in_table_order() {
    for (int i = 0; i < modifier_count; ++i) {
        if (modifier_texts[i].bit != 1u << i) return false;
    }
    return true;
}
static_assert(bits_in_table_order(), "modifier_texts[i].bit is 1 << i");

}  // namespace

int take_modifier_prefixes(const char* token, uint16_t* modifiers) {
    const char* at = token;
    *modifiers = 0;
    // One pass over the table: a prefix is looked for once, after those
    // before it, so none can come twice or out of order.
    for (const modifier_text& m : modifier_texts) {
        size_t length = std::strlen(m.prefix);
        if (std::strncmp(at, m.prefix, length) == 0) {
            *modifiers |= m.bit;
            at += length;
        }
    }
    return static_cast<int>(at - token);
}

void append_modifier_prefixes(uint16_t modifiers, std::string& out) {
    for (const modifier_text& m : modifier_texts) {
        if (modifiers & m.bit) out += m.prefix;
    }
}

void append_output_token(const key_table& table, uint16_t modifiers, uint16_t code, std::string& out) {
    append_modifier_prefixes(modifiers, out);
    int entry = find_key_by_code(&table, code);
    if (entry >= 0) {
        out += table.entries[entry].name;
        return;
    }
    char text[8];
    std::snprintf(text, sizeof text, "#%04x", static_cast<unsigned>(code));
    out += text;
}

void append_output_list(const key_table& table, const key_entry& entry, std::string& out) {
    for (int i = 0; i < key_outputs && entry.outputs[i] != 0; ++i) {
        if (i > 0) out += ",";
        append_output_token(table, entry.modifiers[i], entry.outputs[i], out);
    }
}
