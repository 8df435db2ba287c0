#ifndef PADMAP_ENGINE_LAYERS_H
#define PADMAP_ENGINE_LAYERS_H

#include <cstdint>

#include "keymap/config.h"

// The layers that are on for one keyboard, by name, so that they stay on
// across a reload of its file (a layer the new file lacks is skipped while it
// lacks it). A layer is on while a key that holds it is down or its toggle
// is on; its place in the order is the moment it last went from off to on.

struct keyboard_layer {
    char name[layer_name_bytes];
    int held;      // keys down that hold it on
    bool toggled;  // its toggle is on
    uint32_t since;
};

struct keyboard_layers {
    keyboard_layer layers[max_layers];
    int count;       // the layers that are on
    uint32_t clock;  // counts the moments layers went on
};

void reset_layers(keyboard_layers* on);

// A key that holds the layer went down (held +1) or came up (held -1); a
// toggle's press; layers-off. Each returns whether the layer is on after it
// (layers_off: nothing).
bool hold_layer(keyboard_layers* on, const char* name, int held);
bool toggle_layer(keyboard_layers* on, const char* name);
void layers_off(keyboard_layers* on);

// The names of the layers that are on, the one turned on last first, into
// names (at most max_layers); returns how many.
int layers_in_order(const keyboard_layers* on, const char* names[max_layers]);

#endif
