#include "layout/picture.h"

#include <cstring>

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

std::vector<layout_view> layout_views(const config& layout, const bool named[max_sections + 1][key_count]) {
    std::vector<layout_view> views(1 + static_cast<size_t>(layout.section_count));
    views[0].table = layout.keys;
    for (int i = 0; i < key_count; ++i) views[0].named[i] = named[0][i];
    if (layout.section_count > 0) views[0].heading = "everywhere else";
    for (int s = 0; s < layout.section_count; ++s) {
        const config_section& section = layout.sections[s];
        layout_view& view = views[static_cast<size_t>(s) + 1];
        view.heading = "when " + std::string(section.label);
        view.table = layout.keys;
        for (int i = 0; i < key_count; ++i) {
            view.named[i] = named[0][i] || named[s + 1][i];
            const key_entry& own = section.keys.entries[i];
            if (own.outputs[0] == 0) continue;
            std::memcpy(view.table.entries[i].outputs, own.outputs, sizeof own.outputs);
            std::memcpy(view.table.entries[i].modifiers, own.modifiers, sizeof own.modifiers);
        }
    }
    return views;
}
