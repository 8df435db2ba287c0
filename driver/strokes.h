#ifndef PADMAP_DRIVER_STROKES_H
#define PADMAP_DRIVER_STROKES_H

#include <cstdint>

#include "keymap/hardware_id.h"
#include "keymap/key_stroke.h"

struct device_set;

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

// Sizes of the driver's wire records (a key's, key_record_size, is with the
// key stroke).
constexpr uint32_t mouse_record_size = 24;

// All three return 0 without any request when the set is null, the device
// number is not 1-20, or the slot's device field is zero.

// Reads the device's next captured stroke. Returns 1 for a stroke; 0 when the
// driver answered with nothing (a driver whose input has ended: the test
// driver ends a session so); receive_failed when the request failed
// (os_last_error says why); receive_no_memory when there was no memory for
// it; receive_partial when the answer held part of a record, as only a
// faulty driver gives.
constexpr int receive_failed = -1;
constexpr int receive_partial = -2;
constexpr int receive_no_memory = -3;
int receive_stroke(device_set* set, int device, stroke* into);

// Injects one stroke on the device. Returns the strokes the driver took, 0 or
// 1. bytes (when not null) gets the bytes the driver took of the record: all
// of it, part of it, 0 for a refusal, or send_no_request when no request was
// made (no memory, no such device).
int send_stroke(device_set* set, int device, const stroke* from, uint32_t* bytes = nullptr);

// Asks the device's hardware id into id (hardware_id_units units), whose text
// then ends where the driver's answer ends (at its own terminator or at the
// byte count). Returns the bytes the driver wrote, 0 on failure; 1-999 is a
// usable id, 1000 (a full buffer) is not.
int get_hardware_id(device_set* set, int device, char16_t* id);

#endif
