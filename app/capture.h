#ifndef PADMAP_APP_CAPTURE_H
#define PADMAP_APP_CAPTURE_H

#include <cstdint>

#include "driver/device_set.h"
#include "keymap/config.h"

// Which keyboards remap mode captures: only those a configuration names, and
// those whose id cannot be read yet (nothing plugged in there, or not ready),
// so that a named keyboard arriving there is seen at its first stroke. Every
// other keyboard's strokes never reach padmap: if padmap is held, they still
// reach the system.

constexpr uint16_t capture_every_stroke = 0xFFFF;
constexpr uint16_t capture_nothing = 0;

// A keyboard comes and goes without the system saying so only where its
// notification is lost; after this long without anything to do, padmap asks
// every keyboard again.
constexpr uint32_t keyboard_poll_ms = 5000;

// The configurations in use; a keyboard uses the one whose hardware id equals
// its own.
struct layouts {
    int count;
    const config* files[max_config_files];
};

// True when the configuration names the keyboard with the NUL-terminated id.
bool names_keyboard(const config& layout, const char16_t* id);

// The configuration whose hardware id equals the NUL-terminated id, or -1.
int layout_for_id(const layouts& in_use, const char16_t* id);

// The filter a keyboard slot should have: every stroke when the keyboard is
// named (file >= 0) or no usable id came back, none otherwise.
uint16_t wanted_filter(bool usable_id, int file);

// The filter padmap last set on each keyboard slot (0 when the set opened),
// and the configuration each slot's keyboard used when last asked (-1: none).
struct capture_state {
    uint16_t filter[keyboard_count];
    int file[keyboard_count];
};

void reset_capture(capture_state* capture);

// Asks the keyboard's id and sets its filter by the rule, with a request
// only where the filter changes. Returns the keyboard's configuration, or -1.
// When the slot's keyboard is no longer the one its configuration named
// (unplugged, or another in its place), left is called first for it.
typedef void (*keyboard_left)(void* context, int device);
struct left_op {
    keyboard_left left;
    void* context;
};
int check_keyboard(device_set* set, const layouts& in_use, capture_state* capture, int device, left_op on_left);

// check_keyboard for every keyboard slot whose device opened, in order.
void check_every_keyboard(device_set* set, const layouts& in_use, capture_state* capture, left_op on_left);

// Notes the configuration a stroke's keyboard was found to use (-1: none),
// calling left first when the slot had another.
void note_keyboard(capture_state* capture, int device, int file, left_op on_left);

// A keyboard whose stroke came with a usable id that no configuration names:
// its filter is cleared, so that its strokes go straight to the system.
void release_keyboard(device_set* set, capture_state* capture, int device);

#endif
