#ifndef PADMAP_KEYMAP_KEY_STROKE_H
#define PADMAP_KEYMAP_KEY_STROKE_H

#include <cstdint>

// One keyboard event as the driver carries it. key_state: 0x01 release, 0x02
// E0 prefix, 0x04 E1 prefix.
struct key_stroke {
    uint16_t make_code;
    uint16_t key_state;
    uint32_t extra_info;
};

constexpr uint16_t key_state_up = 0x01;
constexpr uint16_t key_state_e0 = 0x02;
constexpr uint16_t key_state_e1 = 0x04;

// A key stroke on the driver's wire is a record of this many bytes.
constexpr uint32_t key_record_size = 12;

// What a send that could make no request (no memory, no such device) says
// it took.
constexpr uint32_t send_no_request = 0xFFFFFFFF;

// Keyboard slots are devices 1-10 of the driver.
constexpr int keyboard_count = 10;

// The code a stroke is looked up by: its make code, with 0xE000 when it
// carries the E0 flag.
inline uint16_t lookup_code(const key_stroke& key) {
    return static_cast<uint16_t>(key.make_code | ((key.key_state & key_state_e0) ? 0xE000 : 0));
}

#endif
