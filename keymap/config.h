#ifndef PADMAP_KEYMAP_CONFIG_H
#define PADMAP_KEYMAP_CONFIG_H

#include <cstddef>
#include <cstdint>

#include "driver/hardware_id.h"

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

#endif
