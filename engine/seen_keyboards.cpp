#include "engine/seen_keyboards.h"

void forget_seen_keyboards(seen_keyboards* seen) {
    seen->count = 0;
}

bool first_sight(seen_keyboards* seen, const char16_t* id) {
    uint64_t hash = 14695981039346656037u;
    for (const char16_t* unit = id; *unit != 0; ++unit) {
        hash = (hash ^ static_cast<uint64_t>(*unit)) * 1099511628211u;
    }
    for (int i = 0; i < seen->count; ++i) {
        if (seen->ids[i] == hash) return false;
    }
    if (seen->count == max_seen_keyboards) return false;
    seen->ids[seen->count++] = hash;
    return true;
}
