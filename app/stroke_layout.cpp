#include "app/stroke_layout.h"

#include <algorithm>
#include <cstring>

#include "keymap/text.h"

// A prefix longer than its room keeps its start: the file, then the section.
void name_sections(loaded_file* file) {
    for (int s = 0; s < file->layout.section_count; ++s) {
        std::string prefix = std::string(file->line_prefix) + "when " + file->layout.sections[s].label + ": ";
        prefix.resize(std::min(prefix.size(), static_cast<size_t>(log_prefix_max) - 1));
        std::memcpy(file->section_prefix[s], prefix.c_str(), prefix.size() + 1);
    }
}

namespace {

// The section of the file for the program in front, -1 for none. The window
// in front is looked at only for a file with sections, and its program
// asked only when the window changed.
int section_in_front(remap_state* remap, int file) {
    const config& layout = remap->files[file].layout;
    if (layout.section_count == 0) return -1;
    if (follow_front(&remap->front)) {
        remap->front_name = remap->front.known ? utf8_text(remap->front.name) : std::string();
        for (bool& known : remap->sections_known) known = false;
    }
    if (!remap->sections_known[file]) {
        remap->in_front[file] = remap->front_name.empty() ? -1 : section_for_program(layout, remap->front_name.c_str());
        remap->sections_known[file] = true;
    }
    return remap->in_front[file];
}

}  // namespace

// A section's entry has the key's own name: sections share the file's names.
stroke_layout layout_for_stroke(remap_state* remap, int file, int device, const key_stroke& key) {
    uint16_t code = lookup_code(key);
    if (const held_layout* held = held_entry(&remap->held, device, code)) {
        return stroke_layout{held->found ? &held->entry : nullptr, held->prefix};
    }
    const loaded_file& loaded = remap->files[file];
    int index = find_key_by_code(&loaded.layout.keys, code);
    stroke_layout layout = {index >= 0 ? &loaded.layout.keys.entries[index] : nullptr, loaded.line_prefix};
    int section = index >= 0 ? section_in_front(remap, file) : -1;
    if (section >= 0 && loaded.layout.sections[section].keys.entries[index].outputs[0] != 0) {
        layout = stroke_layout{&loaded.layout.sections[section].keys.entries[index], loaded.section_prefix[section]};
    }
    if (key.key_state & key_state_up) return layout;
    hold_key(&remap->held, device, code, layout.entry, layout.prefix);
    return layout;
}
