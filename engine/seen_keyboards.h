#ifndef PADMAP_ENGINE_SEEN_KEYBOARDS_H
#define PADMAP_ENGINE_SEEN_KEYBOARDS_H

#include <cstdint>

// The keyboards seen in a slot during a run, by their hardware ids: enough
// to tell a keyboard plugged in for the first time from one plugged in again.
// Ids are kept as 64-bit hashes; two ids that share one count as one
// keyboard.

// More keyboards than anyone plugs in during one run; once full, every
// other keyboard counts as seen.
constexpr int max_seen_keyboards = 64;

struct seen_keyboards {
    uint64_t ids[max_seen_keyboards];
    int count;
};

void forget_seen_keyboards(seen_keyboards* seen);

// Notes the NUL-terminated id; returns true when it was not seen before in
// this run (false once the table is full).
bool first_sight(seen_keyboards* seen, const char16_t* id);

#endif
