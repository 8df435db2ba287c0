#ifndef PADMAP_LAYOUT_LOAD_LAYOUT_H
#define PADMAP_LAYOUT_LOAD_LAYOUT_H

#include <cstddef>
#include <cstdint>

#include "keymap/config.h"
#include "keymap/key_table.h"

// Which entries a file's lines name as their key: named[0] for the lines
// outside sections, named[s + 1] for those of section s (a line that maps a
// key to nothing leaves no other trace in the tables).
struct layout_names {
    bool named[config_scopes][key_count];
};

// Runs padmap's own load_config (or load_config_bytes) on the file into the
// configuration, with its messages, and notes which entries its lines name.
// Returns what the loader returns; nothing is named on failure.
bool load_layout_config(const char16_t* path, config* into, layout_names* names);
bool load_layout_config_bytes(const uint8_t* data, size_t size, config* into, layout_names* names);

#endif
