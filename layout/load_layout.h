#ifndef PADMAP_LAYOUT_LOAD_LAYOUT_H
#define PADMAP_LAYOUT_LOAD_LAYOUT_H

#include <cstddef>
#include <cstdint>

#include "keymap/config.h"
#include "keymap/key_table.h"

// Runs padmap's own load_config (or load_config_bytes) on the file into the
// configuration, with its messages. On top of what padmap keeps, named[i]
// tells whether some line of the file named entry i as its key (a line that
// maps a key to nothing leaves no other trace in the table). Returns what the
// loader returns; named[] is all false on failure.
bool load_layout_config(const char16_t* path, config* into, bool named[key_count]);
bool load_layout_config_bytes(const uint8_t* data, size_t size, config* into, bool named[key_count]);

#endif
