// Any bytes as a configuration file, through the byte-buffer loader. Besides
// the sanitizers' findings, a run aborts when the loader leaves the key table
// or the configured id in a state the rest of the program cannot rely on.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "keymap/config.h"
#include "keymap/key_table.h"

namespace {

config loaded;
config first;

void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "config_fuzz: %s\n", what);
    std::abort();
}

bool is_blank_unit(char16_t unit) {
    return unit == 0x20 || (unit >= 0x09 && unit <= 0x0D);
}

bool some_entry_has_code(uint16_t code) {
    for (int i = 0; i < key_count; ++i) {
        if (loaded.keys.entries[i].scan_code == code) return true;
    }
    return false;
}

void check_table() {
    for (int i = 0; i < key_count; ++i) {
        const key_entry& entry = loaded.keys.entries[i];
        const key_entry& initial = fresh_key_table().entries[i];
        require(std::memcmp(entry.name, initial.name, sizeof entry.name) == 0, "a key name changed");
        if (!is_user_key(i)) {
            require(entry.scan_code == initial.scan_code, "a named key's code changed");
        }
        // Two entries with one code would make the second unreachable by lookup.
        // Only a later name may share its key's code, with the user entry a
        // '#' line claimed for it.
        for (int j = 0; j < i; ++j) {
            require(entry.scan_code == 0 || loaded.keys.entries[j].scan_code != entry.scan_code ||
                        (i >= first_late_key && is_user_key(j)),
                    "two entries share a scan code");
        }
        if (is_layer_switch(entry)) {
            // A switch is its line's only output, and names a layer the file defines.
            uint16_t out = entry.outputs[0];
            bool names_layer = (out & 0xFF00) == switch_layer || (out & 0xFF00) == switch_toggle;
            require(out == switch_all_off ||
                        (names_layer && (out & 0xFF) < loaded.layer_count && loaded.layers[out & 0xFF].line != 0),
                    "a switch names no layer the file defines");
            require(entry.outputs[1] == 0, "a switch shares its line with other outputs");
            continue;
        }
        if (is_program(entry)) {
            // A program is its line's only output, and one of the file's.
            const config_item* item = item_of(loaded.items, entry.outputs[0], entry.modifiers[0]);
            require(item != nullptr && item->kind != item_text, "a program output names no program of the file");
            require(entry.outputs[1] == 0, "a program shares its line with other outputs");
            continue;
        }
        for (int k = 0; k < key_outputs; ++k) {
            if (is_item_output(entry.outputs[k], entry.modifiers[k])) {
                const config_item* item = item_of(loaded.items, entry.outputs[k], entry.modifiers[k]);
                require(entry.modifiers[k] == modifier_item && item != nullptr && item->kind == item_text &&
                            item->units > 0,
                        "a text output names no text of the file");
                continue;
            }
            require(entry.modifiers[k] <= 0xFF, "a modifier mask has high bits");
            // An output is only ever copied from an entry's code, and codes
            // only go from 0 to a value, never back or elsewhere.
            require(entry.outputs[k] == 0 || some_entry_has_code(entry.outputs[k]), "an output names no key");
        }
    }
}

void check_configured_id() {
    int end = 0;
    while (end < hardware_id_units && loaded.configured_hardware_id[end] != 0) {
        require(!is_blank_unit(loaded.configured_hardware_id[end]), "the configured id holds white space");
        ++end;
    }
    require(end < hardware_id_units, "the configured id has no terminator");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The loader echoes every accepted output; the fuzzer's own report goes to
    // standard error.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bool ok = load_config_bytes(data, size, &loaded);
    check_configured_id();
    check_table();
    if (!ok) {
        // A file without a usable id is refused before any mapping line is read.
        require(std::memcmp(&loaded.keys, &fresh_key_table(), sizeof(key_table)) == 0,
                "a refused file changed the key table");
    }

    // The same bytes loaded over another configuration must load the same
    // way: nothing may carry over from one load to the next.
    std::memcpy(&first, &loaded, sizeof first);
    require(load_config_bytes(data, size, &loaded) == ok, "a second load gave another result");
    require(std::memcmp(&first, &loaded, sizeof first) == 0, "a second load built another configuration");
    return 0;
}
