#ifndef PADMAP_DRIVER_STROKES_H
#define PADMAP_DRIVER_STROKES_H

#include <cstdint>

#include "keymap/hardware_id.h"

struct device_set;

// One keyboard event. key_state: 0x01 release, 0x02 E0 prefix, 0x04 E1 prefix.
struct key_stroke {
    uint16_t make_code;
    uint16_t key_state;
    uint32_t extra_info;
};

struct mouse_stroke {
    uint16_t button_state;
    uint16_t move_flags;
    int16_t wheel_delta;
    int32_t pos_x;
    int32_t pos_y;
    uint32_t extra_info;
};

// Storage for a stroke of either kind; the device number says which member is
// live (1-10 key, 11-20 mouse).
union stroke {
    key_stroke key;
    mouse_stroke mouse;
};
static_assert(sizeof(stroke) == sizeof(mouse_stroke), "a stroke is as large as a mouse stroke");

constexpr uint16_t key_state_up = 0x01;
constexpr uint16_t key_state_e0 = 0x02;
constexpr uint16_t key_state_e1 = 0x04;

// Sizes of the driver's wire records.
constexpr uint32_t key_record_size = 12;
constexpr uint32_t mouse_record_size = 24;

// Filled by every get_hardware_id call; read as a NUL-terminated UTF-16 string.
extern char16_t hardware_id_buffer[hardware_id_units];

// All three return 0 without any request when the set is null, the device
// number is not 1-20, or the slot's device field is zero.

// Reads the device's next captured stroke. Returns the strokes read, 0 or 1.
int receive_stroke(device_set* set, int device, stroke* into);

// Injects one stroke on the device. Returns the strokes the driver took, 0 or 1.
int send_stroke(device_set* set, int device, const stroke* from);

// Asks the device's hardware id into hardware_id_buffer, whose text then ends
// where the driver's answer ends (at its own terminator or at the byte count).
// Returns the bytes the driver wrote, 0 on failure; 1-999 is a usable id, 1000
// (a full buffer) is not.
int get_hardware_id(device_set* set, int device);

#endif
