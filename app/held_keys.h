#ifndef PADMAP_APP_HELD_KEYS_H
#define PADMAP_APP_HELD_KEYS_H

#include <cstdint>

#include "driver/device_set.h"
#include "driver/strokes.h"

// The keys that padmap pressed on the system as outputs and has not released
// yet, per keyboard: what a stop must release so that nothing stays held. A
// key is its make code (0x00-0xFF) with or without the E0 flag.
constexpr int held_key_codes = 512;

struct held_keys {
    uint8_t down[keyboard_count][held_key_codes / 8];
};

void reset_held_keys(held_keys* held);

// Notes a key stroke that the driver took for keyboard 1-10: a press holds
// the key, a release lets it go. Make codes above 0xFF and other devices are
// not kept.
void note_key_sent(held_keys* held, int device, const key_stroke& key);

// Sends a release (extra information 0) for every held key, keyboard by
// keyboard, plain keys before E0 keys, each in code order; a release the
// driver takes lets the key go. send returns the strokes taken.
typedef int (*held_key_send)(void* context, int device, const key_stroke* key);
void release_held_keys(held_keys* held, held_key_send send, void* context);

// The same for keyboard 1-10 alone; other numbers are ignored.
void release_held_keys_of(held_keys* held, int device, held_key_send send, void* context);

#endif
