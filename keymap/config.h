#ifndef PADMAP_KEYMAP_CONFIG_H
#define PADMAP_KEYMAP_CONFIG_H

#include <cstddef>
#include <cstdint>

#include "keymap/hardware_id.h"
#include "keymap/mapping_line.h"

// The hardware id the configuration names, NUL-terminated UTF-16.
extern char16_t configured_hardware_id[hardware_id_units];

// Zeroes configured_hardware_id.
void reset_config();

// Reads the configuration file at path (UTF-16, NUL-terminated), filling
// configured_hardware_id and the key table and echoing every accepted output.
// Returns false after printing "failed to open ..." or the hardware-id message.
bool load_config(const char16_t* path);

// The same parsing from bytes in memory; a failure prints only the hardware-id
// message (there is no file to open).
bool load_config_bytes(const uint8_t* data, size_t size);

// Lines are read in pieces of at most this many UTF-16 units; a longer line
// is several pieces, each handled as a line of its own.
constexpr int config_piece_units = 1023;

enum config_outcome {
    config_loaded,          // the hardware id was read and every line after it applied
    config_unreadable,      // the file cannot be opened or read
    config_no_hardware_id,  // the file holds no word at all
    config_id_too_long,     // its first word has 500 units or more
};

// Told what the loader does, as it does it: where the hardware id word was
// looked for (the line it stands on, or the last line read when there is
// none) and how that went, then every piece of every line after it, with its
// line number, its 8-bit text before it was applied, and what was done with
// it. hardware_id may be null.
struct config_listener {
    void (*hardware_id)(void* context, long line, config_outcome outcome);
    void (*line)(void* context, long line, const char* text, const line_note* note);
    void* context;
};

// The loader itself, printing nothing: fills configured_hardware_id and the
// key table as load_config does and tells the listener (when not null).
config_outcome read_config(const char16_t* path, const config_listener* listener);
config_outcome read_config_bytes(const uint8_t* data, size_t size, const config_listener* listener);

#endif
