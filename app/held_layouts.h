#ifndef PADMAP_APP_HELD_LAYOUTS_H
#define PADMAP_APP_HELD_LAYOUTS_H

#include <cstdint>

#include "app/translate.h"
#include "driver/device_set.h"
#include "driver/strokes.h"
#include "keymap/key_table.h"

// A held key keeps its layout: the repeats and the release of a key are
// translated as its first press was, even when the layout changes while it
// is held (the file reloaded, another program in front). After its release
// the next press takes the layout of that moment. So nothing padmap pressed
// is left held, and nothing is released that padmap did not press.

// Keys held at once on one keyboard that keep their layout; a key pressed
// while as many are held takes the layout of the moment at its release.
constexpr int held_layout_keys = 32;

struct held_layout {
    uint16_t code;                // the key's lookup code
    bool found;                   // the layout had an entry for it
    key_entry entry;              // that entry as it was at the press
    char prefix[log_prefix_max];  // what its log lines started with (its file, its section)
};

struct keyboard_holds {
    held_layout keys[held_layout_keys];
    int count;
};

struct held_layouts {
    keyboard_holds keyboards[keyboard_count];
};

void reset_held_layouts(held_layouts* held);

// What the key of keyboard 1-10 was pressed under while it is held, or null
// when it is not held (or the device is no keyboard).
const held_layout* held_entry(const held_layouts* held, int device, uint16_t code);

// Remembers a press of a key that held_entry found not held, with the entry
// the layout gives it now (null: none) and the prefix of its log lines.
void hold_key(held_layouts* held, int device, uint16_t code, const key_entry* entry, const char* prefix);

// Forgets the key once released; forget_keyboard forgets every key of a
// keyboard that is gone.
void release_key(held_layouts* held, int device, uint16_t code);
void forget_keyboard(held_layouts* held, int device);

#endif
