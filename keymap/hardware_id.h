#ifndef PADMAP_KEYMAP_HARDWARE_ID_H
#define PADMAP_KEYMAP_HARDWARE_ID_H

#include <cstdint>

// A hardware id: NUL-terminated UTF-16 text of at most 499 units, as the driver
// reports it for a device and as a configuration names a keyboard. Both are
// held in buffers of this size; a driver answer that fills the whole buffer
// (1000 bytes) leaves no room for the terminator and is no usable id.
constexpr int hardware_id_units = 500;
constexpr uint32_t hardware_id_bytes = hardware_id_units * 2;

#endif
