#ifndef PADMAP_LAYOUT_KEY_PLACES_H
#define PADMAP_LAYOUT_KEY_PLACES_H

#include <cstdint>

// Where each key of a full-size US PC keyboard sits. Positions and sizes are in
// quarter key widths: a plain key is 4 x 4, the function row is at y 0 and the
// five main rows start at y 6.
struct key_place {
    const char* label;  // the key's name in a configuration file, or a common
                        // name when the key has none there (Pause)
    uint16_t code;      // scan code; the high byte is 0xE0 (0xE1 for Pause)
    bool named;         // true when label is a key table name
    int x, y, w, h;
};

constexpr int key_place_count = 104;

// Keyboard rows top to bottom, each left to right through the main block, the
// navigation cluster and the keypad.
extern const key_place key_places[key_place_count];

// Index of the place whose code equals code, or -1 (always -1 for 0).
int find_place_by_code(uint16_t code);

// Overall size of the drawn keyboard, in quarter key widths.
constexpr int keyboard_width_q = 90;
constexpr int keyboard_height_q = 26;

#endif
