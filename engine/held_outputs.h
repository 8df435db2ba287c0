#ifndef PADMAP_ENGINE_HELD_OUTPUTS_H
#define PADMAP_ENGINE_HELD_OUTPUTS_H

#include <cstdint>

#include "engine/actions.h"
#include "keymap/key_stroke.h"

// The keys that padmap holds down on the system, per keyboard: the outputs it
// pressed and has not released (what a stop must release), and the keys of a
// named keyboard it passed on unchanged whose release it has not passed on
// yet (what a keyboard that leaves must release too). A key is its make code
// (0x00-0xFF) with or without the E0 flag.
constexpr int held_output_codes = 512;

struct held_outputs {
    uint8_t down[keyboard_count][held_output_codes / 8];
    uint8_t passed[keyboard_count][held_output_codes / 8];
};

void reset_held_outputs(held_outputs* held);

// Notes a key stroke sent to keyboard 1-10: a press holds the key, a release
// lets it go (the system has one key of a code: one passed on is up too).
// Make codes above 0xFF and other devices are not kept.
void note_output(held_outputs* held, int device, const key_stroke& key);

// Asks for the stroke to be sent and notes it.
void send_output(held_outputs* held, engine_actions* out, int device, const key_stroke& key);

// Asks for the stroke to be passed on as typed and notes it among the keys
// passed on; a release lets an output of the same code go too.
void pass_key(held_outputs* held, engine_actions* out, int device, const key_stroke& key);

// True when padmap holds the key down on keyboard 1-10, as an output or a
// key passed on.
bool key_held(const held_outputs* held, int device, const key_stroke& key);

// Undoes the note of a send the driver did not take: a press refused leaves
// the key up, a release refused leaves it down.
void note_refused(held_outputs* held, int device, const key_stroke& key);

// Forgets every key passed on, on every keyboard, without a release: the
// keyboards' own releases reach the system once their filters are clear.
void forget_passed_keys(held_outputs* held);

// Asks for a release (extra information 0) of every output held on keyboard
// 1-10, plain keys before E0 keys, each in code order; other numbers are
// ignored. release_all_outputs does it keyboard by keyboard.
void release_outputs_of(held_outputs* held, int device, engine_actions* out);
void release_all_outputs(held_outputs* held, engine_actions* out);

// The same for everything held on keyboard 1-10, outputs and keys passed on
// together, in the same order: for a keyboard that leaves.
void release_keyboard_keys(held_outputs* held, int device, engine_actions* out);

#endif
