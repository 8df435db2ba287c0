#ifndef PADMAP_ENGINE_PUBLISHED_KEYS_H
#define PADMAP_ENGINE_PUBLISHED_KEYS_H

#include <atomic>
#include <cstdint>

#include "engine/held_outputs.h"
#include "keymap/key_stroke.h"

// The output keys the key loop holds down on the system, in memory that
// padmapw's watcher maps too: when the loop's process ends without letting
// them go (a crash, a kill), the watcher releases what the table lists. One
// bit per keyboard and key (make code 0x00-0xFF, with or without E0), as the
// engine keeps them. The key loop is the only writer and never waits on the
// table; the watcher reads it once the loop's process is gone. The table
// holds no pointer and has the same layout in every process.
struct published_keys {
    std::atomic<uint32_t> words[keyboard_count][held_output_codes / 32];
};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "the table needs no lock");

// Nothing held.
void reset_published_keys(published_keys* table);

// Notes a stroke the system took for keyboard 1-10: a press lists the key, a
// release takes it off. Make codes above 0xFF and other devices are ignored.
void publish_sent(published_keys* table, int device, const key_stroke& key);

// The table as the engine's record of outputs held down (no key passed on).
void read_published_keys(const published_keys* table, held_outputs* held);

#endif
