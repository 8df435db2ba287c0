#include "layout/load_layout.h"

#include <cstring>

#include "keymap/mapping_line.h"

// The loader tells a listener what it did with each line: remap mode's echo,
// and the entries the lines name as keys.

namespace {

void echo_and_note(void* context, long, const char*, const line_note* note) {
    echo_line(note);
    if (note->fate == line_applied && note->section >= -1) {
        int scope = note->layer >= 0 ? 1 + max_sections + note->layer : note->section + 1;
        static_cast<layout_names*>(context)->named[scope][note->entry] = true;
    }
}

bool finish(const char16_t* path, config_outcome outcome, layout_names* names) {
    print_load_failure(path, outcome);
    if (outcome == config_loaded) return true;
    std::memset(names, 0, sizeof *names);
    return false;
}

}  // namespace

bool load_layout_config(const char16_t* path, config* into, layout_names* names) {
    std::memset(names, 0, sizeof *names);
    config_listener listener = {nullptr, echo_and_note, names};
    return finish(path, read_config(path, into, &listener), names);
}

bool load_layout_config_bytes(const uint8_t* data, size_t size, config* into, layout_names* names) {
    std::memset(names, 0, sizeof *names);
    config_listener listener = {nullptr, echo_and_note, names};
    return finish(nullptr, read_config_bytes(data, size, into, &listener), names);
}
