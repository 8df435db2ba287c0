#ifndef PADMAP_ENGINE_HELD_OUTPUTS_H
#define PADMAP_ENGINE_HELD_OUTPUTS_H

#include <cstdint>

#include "engine/actions.h"
#include "keymap/key_stroke.h"

// The keys that padmap pressed on the system and has not released yet, per
// keyboard: what a stop or a keyboard that leaves must release so that
// nothing stays held. A key is its make code (0x00-0xFF) with or without the
// E0 flag.
constexpr int held_output_codes = 512;

struct held_outputs {
    uint8_t down[keyboard_count][held_output_codes / 8];
};

void reset_held_outputs(held_outputs* held);

// Notes a key stroke sent to keyboard 1-10: a press holds the key, a release
// lets it go. Make codes above 0xFF and other devices are not kept.
void note_output(held_outputs* held, int device, const key_stroke& key);

// Asks for the stroke to be sent and notes it.
void send_output(held_outputs* held, engine_actions* out, int device, const key_stroke& key);

// Undoes the note of a send the driver did not take: a press refused leaves
// the key up, a release refused leaves it down.
void note_refused(held_outputs* held, int device, const key_stroke& key);

// Asks for a release (extra information 0) of every key held on keyboard
// 1-10, plain keys before E0 keys, each in code order; other numbers are
// ignored. release_all_outputs does it keyboard by keyboard.
void release_outputs_of(held_outputs* held, int device, engine_actions* out);
void release_all_outputs(held_outputs* held, engine_actions* out);

#endif
