#include "layout/load_layout.h"

#include "keymap/config.h"

// The loader sets modifiers[i] of an entry for every output position a line
// reaches, starting at 0, and only ever sets bits of the low byte. A high byte
// planted beforehand therefore survives exactly in the positions no line
// reached; it is removed again once the loader is done.

namespace {

const uint16_t untouched = 0xFF00;

void plant() {
    reset_key_table();
    reset_config();
    for (key_entry& e : key_table)
        for (uint16_t& m : e.modifiers) m = untouched;
}

bool harvest(bool ok, bool named[key_count]) {
    for (int i = 0; i < key_count; ++i) {
        key_entry& e = key_table[i];
        named[i] = false;
        for (uint16_t& m : e.modifiers) {
            if ((m & 0xFF00) == untouched)
                m = 0;
            else
                named[i] = ok;
        }
    }
    return ok;
}

}  // namespace

bool load_layout_config(const char16_t* path, bool named[key_count]) {
    plant();
    return harvest(load_config(path), named);
}

bool load_layout_config_bytes(const uint8_t* data, size_t size, bool named[key_count]) {
    plant();
    return harvest(load_config_bytes(data, size), named);
}
