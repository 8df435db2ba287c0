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

namespace {

// The holds of a scope, by entry.
void add_holds(const config& layout, int scope, layout_view* view) {
    const scope_holds& holds = layout.holds[scope];
    for (int h = 0; h < holds.count; ++h) {
        int entry = holds.lines[h].entry;
        view->has_hold[entry] = true;
        view->holds.entries[entry] = holds.lines[h].key;
    }
}

// The layout everywhere else, with what a scope maps (a first output or a
// hold) over it: the scope gives such a key all it does.
void add_scope(const config& layout, int scope, const key_table& own, const bool named[config_scopes][key_count],
               layout_view* view) {
    view->table = layout.keys;
    std::memset(view->has_hold, 0, sizeof view->has_hold);
    add_holds(layout, 0, view);
    for (int i = 0; i < key_count; ++i) {
        view->named[i] = named[0][i] || named[scope][i];
        bool mapped = own.entries[i].outputs[0] != 0 || hold_for_code(layout, scope, layout.keys.entries[i].scan_code);
        if (!mapped) continue;
        std::memcpy(view->table.entries[i].outputs, own.entries[i].outputs, sizeof own.entries[i].outputs);
        std::memcpy(view->table.entries[i].modifiers, own.entries[i].modifiers, sizeof own.entries[i].modifiers);
        view->has_hold[i] = false;
    }
    add_holds(layout, scope, view);
}

}  // namespace

std::vector<layout_view> layout_views(const config& layout, const bool named[config_scopes][key_count]) {
    int layers = 0;
    for (int l = 0; l < layout.layer_count; ++l) layers += layout.layers[l].line != 0;
    std::vector<layout_view> views(1 + static_cast<size_t>(layout.section_count + layers));
    views[0].table = layout.keys;
    for (int i = 0; i < key_count; ++i) views[0].named[i] = named[0][i];
    std::memset(views[0].has_hold, 0, sizeof views[0].has_hold);
    add_holds(layout, 0, &views[0]);
    if (views.size() > 1) views[0].heading = "everywhere else";
    std::vector<std::string> names;
    for (int l = 0; l < layout.layer_count; ++l) names.push_back(layout.layers[l].name);
    std::vector<std::string> items;
    for (int i = 0; i < layout.items.count; ++i) items.push_back(item_label(layout.items, layout.items.list[i]));
    for (layout_view& view : views) {
        view.layer_names = names;
        view.item_names = items;
    }
    size_t at = 1;
    for (int s = 0; s < layout.section_count; ++s) {
        layout_view& view = views[at++];
        view.heading = "when " + std::string(layout.sections[s].label);
        add_scope(layout, 1 + s, layout.sections[s].keys, named, &view);
    }
    for (int l = 0; l < layout.layer_count; ++l) {
        if (layout.layers[l].line == 0) continue;
        layout_view& view = views[at++];
        view.heading = "layer " + std::string(layout.layers[l].name);
        add_scope(layout, 1 + max_sections + l, layout.layers[l].keys, named, &view);
    }
    return views;
}

namespace {

// The first count characters of UTF-8 text, with "..." when it goes on.
std::string first_characters(const std::string& text, size_t count) {
    size_t at = 0;
    for (size_t seen = 0; at < text.size() && seen < count; ++seen) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    }
    return at < text.size() ? text.substr(0, at) + "..." : text;
}

}  // namespace

std::string item_label(const config_items& items, const config_item& item) {
    std::string written = item_written(items, item);
    if (item.kind == item_text) return "\"" + first_characters(written.substr(1, written.size() - 2), 12) + "\"";
    if (item.kind == item_open) return "open " + first_characters(written, 16);
    std::string program =
        written[0] == '"' ? written.substr(1, written.find('"', 1) - 1) : written.substr(0, written.find(' '));
    size_t slash = program.find_last_of("\\/");
    return "run " + first_characters(slash == std::string::npos ? program : program.substr(slash + 1), 16);
}
