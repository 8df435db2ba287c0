#include "layout/load_layout.h"

#include "keymap/mapping_line.h"

// The loader tells a listener what it did with each line: remap mode's echo,
// and the entries the lines name as keys.

namespace {

void echo_and_note(void* context, long, const char*, const line_note* note) {
    echo_line(note);
    if (note->fate == line_applied) static_cast<bool*>(context)[note->entry] = true;
}

bool finish(const char16_t* path, config_outcome outcome, bool named[key_count]) {
    print_load_failure(path, outcome);
    if (outcome == config_loaded) return true;
    for (int i = 0; i < key_count; ++i) named[i] = false;
    return false;
}

}  // namespace

bool load_layout_config(const char16_t* path, config* into, bool named[key_count]) {
    for (int i = 0; i < key_count; ++i) named[i] = false;
    config_listener listener = {nullptr, echo_and_note, named};
    return finish(path, read_config(path, into, &listener), named);
}

bool load_layout_config_bytes(const uint8_t* data, size_t size, config* into, bool named[key_count]) {
    for (int i = 0; i < key_count; ++i) named[i] = false;
    config_listener listener = {nullptr, echo_and_note, named};
    return finish(nullptr, read_config_bytes(data, size, into, &listener), named);
}
