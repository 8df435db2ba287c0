#include "layout/picture.h"

void build_picture(const key_table& table, const bool named[key_count], layout_picture& picture) {
    for (int p = 0; p < key_place_count; ++p) {
        picture.entry[p] = -1;
        picture.look[p] = look_plain;
    }
    picture.loose_count = 0;

    for (int i = 0; i < key_count; ++i) {
        const key_entry& e = table.entries[i];
        if (!named[i] && e.outputs[0] == 0) continue;
        key_look look = e.outputs[0] != 0 ? look_mapped : look_passes;
        int place = find_place_by_code(e.scan_code);
        if (place < 0) {
            picture.loose[picture.loose_count++] = i;
            continue;
        }
        // A later name of a key a user entry has claimed: strokes find the
        // user entry first, so its place shows that one.
        if (picture.entry[place] >= 0) continue;
        picture.entry[place] = i;
        picture.look[place] = look;
    }
}
