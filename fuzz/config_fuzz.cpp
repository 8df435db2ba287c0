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

key_entry initial_table[key_count];
key_entry first_table[key_count];
char16_t first_id[hardware_id_units];

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
        if (key_table[i].scan_code == code) return true;
    }
    return false;
}

void check_table() {
    for (int i = 0; i < key_count; ++i) {
        const key_entry& entry = key_table[i];
        require(std::memcmp(entry.name, initial_table[i].name, sizeof entry.name) == 0, "a key name changed");
        if (i < first_user_key) {
            require(entry.scan_code == initial_table[i].scan_code, "a named key's code changed");
        }
        // Two entries with one code would make the second unreachable by lookup.
        for (int j = 0; j < i; ++j) {
            require(entry.scan_code == 0 || key_table[j].scan_code != entry.scan_code, "two entries share a scan code");
        }
        for (int k = 0; k < key_outputs; ++k) {
            require(entry.modifiers[k] <= 0xFF, "a modifier mask has high bits");
            // An output is only ever copied from an entry's code, and codes
            // only go from 0 to a value, never back or elsewhere.
            require(entry.outputs[k] == 0 || some_entry_has_code(entry.outputs[k]), "an output names no key");
        }
    }
}

void check_configured_id() {
    int end = 0;
    while (end < hardware_id_units && configured_hardware_id[end] != 0) {
        require(!is_blank_unit(configured_hardware_id[end]), "the configured id holds white space");
        ++end;
    }
    require(end < hardware_id_units, "the configured id has no terminator");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The loader echoes every accepted output; the fuzzer's own report goes to
    // standard error.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    reset_key_table();
    std::memcpy(initial_table, key_table, sizeof key_table);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reset_key_table();
    reset_config();
    bool loaded = load_config_bytes(data, size);
    check_configured_id();
    check_table();
    if (!loaded) {
        // A file without a usable id is refused before any mapping line is read.
        require(std::memcmp(key_table, initial_table, sizeof key_table) == 0, "a refused file changed the key table");
    }

    // The same bytes after a reset must load the same way: nothing may carry
    // over from one load to the next.
    std::memcpy(first_table, key_table, sizeof key_table);
    std::memcpy(first_id, configured_hardware_id, sizeof first_id);
    reset_key_table();
    reset_config();
    require(load_config_bytes(data, size) == loaded, "a second load gave another result");
    require(std::memcmp(first_table, key_table, sizeof key_table) == 0, "a second load filled another key table");
    require(std::memcmp(first_id, configured_hardware_id, sizeof first_id) == 0, "a second load read another id");
    return 0;
}
