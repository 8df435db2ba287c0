#ifndef PADMAP_KEYMAP_CONFIG_CHECK_H
#define PADMAP_KEYMAP_CONFIG_CHECK_H

#include <string>
#include <vector>

#include "keymap/config.h"
#include "keymap/key_table.h"

// padmap --check: a configuration read exactly as remap mode reads it (the
// same loader, which says what it did with each line and token), with every
// line it ignores or misreads, and every output that does nothing, named.

struct config_finding {
    long line;
    std::string message;
};

struct config_check {
    config_outcome outcome;
    std::vector<config_finding> findings;  // in line order
    // Entries whose first output is set outside sections, less the later
    // names whose code a claimed user entry holds (strokes never reach them).
    int keys_mapped;
    long id_line;   // the line of the hardware id (or where it was looked for)
    config loaded;  // what the loader made of the file
    // The key table as the check reads the loader's notes, built without
    // looking at the table the loader wrote: the two must always agree.
    key_table table;
};

// Adds a finding on the line, keeping the findings in line order.
void add_finding(config_check* result, long line, const std::string& message);

// Reads the file and checks it. With config_unreadable nothing else is filled.
void check_config(const char16_t* path, config_check* result);
void check_config_bytes(const uint8_t* data, size_t size, config_check* result);

#endif
