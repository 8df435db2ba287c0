#ifndef PADMAP_ENGINE_PRESSED_KEYS_H
#define PADMAP_ENGINE_PRESSED_KEYS_H

#include <cstdint>

#include "engine/translate.h"
#include "keymap/config.h"
#include "keymap/key_stroke.h"
#include "keymap/key_table.h"

// A held key keeps its layout: the repeats and the release of a key are
// translated as its first press was, even when the layout changes while it
// is held (the file reloaded, another program in front). After its release
// the next press takes the layout of that moment. So nothing padmap pressed
// is left held, and nothing is released that padmap did not press.

// The keys of the pads that are down, each with what its press found: more
// than any keyboard can hold down at once. A key pressed while as many are
// down is not noted, and its release passes on as typed.
constexpr int pressed_key_count = 128;

// A key with a hold is pending from its press until it is held (its time
// ran out, or another key of its keyboard went down) or tapped (released
// first). A key that was down when padmap let go of everything (a lock, a
// suspend) is let go: its repeats and its release do nothing.
enum press_state : uint8_t { press_plain, press_pending, press_held, press_let_go };

struct pressed_key {
    uint16_t code;                 // the key's lookup code
    bool found;                    // the layout had an entry for it (its tap, for a key with a hold)
    key_entry entry;               // that entry as it was at the press
    char prefix[log_prefix_max];   // what its log lines started with (its file, its section or layer)
    char layer[layer_name_bytes];  // the layer its switch names, when its entry's output is one
    press_state state;
    key_entry hold;                     // a key with a hold: its hold outputs
    char hold_layer[layer_name_bytes];  // ... the layer their switch names
    key_stroke typed;                   // its press as typed
    uint64_t deadline;                  // a pending key: when it is held (padmap's clock)
    uint32_t order;                     // the presses of pending keys, counted
};

struct keyboard_presses {
    pressed_key keys[pressed_key_count];
    int count;
};

struct pressed_keys {
    keyboard_presses keyboards[keyboard_count];
};

void reset_pressed_keys(pressed_keys* pressed);

// What the key of keyboard 1-10 was pressed under while it is down, or null
// when it is not down (or the device is no keyboard).
const pressed_key* find_pressed(const pressed_keys* pressed, int device, uint16_t code);

// Remembers a press of a key that find_pressed found not down, with the entry
// the layout gives it now (null: none) and the prefix of its log lines; a
// plain press. Returns the record, or null when no room is left.
pressed_key* note_press(pressed_keys* pressed, int device, uint16_t code, const key_entry* entry, const char* prefix,
                        const char* layer = "");

// The record of a key that is down, to change; null when it is not.
pressed_key* pressed_record(pressed_keys* pressed, int device, uint16_t code);

// The keys of keyboard 1-10 that are down (count of them).
pressed_key* keyboard_keys(pressed_keys* pressed, int device, int* count);

// Forgets the key once released; forget_presses forgets every key of a
// keyboard that is gone.
void note_release(pressed_keys* pressed, int device, uint16_t code);
void forget_presses(pressed_keys* pressed, int device);

#endif
