#include "app/entry.h"

#include <cstdio>

#include "app/translate.h"
#include "driver/device_set.h"
#include "driver/strokes.h"
#include "keymap/config.h"
#include "keymap/text.h"

namespace {

const char banner[] =
    "padmap v1.0 - one keyboard, its own layout - (c) 2026 the padmap authors\n"
    "built on the keyboard filter driver - thanks to its author\n";

constexpr uint16_t identify_filter = 3;
constexpr uint16_t remap_filter = 0xFFFF;

void print_wide(const char* format, const char16_t* text) {
    // A 500-unit id needs at most 3 bytes a unit in UTF-8.
    char utf8[hardware_id_units * 3 + 1];
    utf16_to_utf8(text, utf8, sizeof utf8);
    std::printf(format, utf8);
}

// Counts 0 (no answer) and 1000 (a full buffer) are no usable id.
bool fetch_hardware_id(device_set* set, int device) {
    int bytes = get_hardware_id(set, device);
    return bytes >= 1 && bytes <= 999;
}

int run_identify(device_set* set) {
    set_keyboard_filter(set, identify_filter);
    int device = wait_for_device(set);
    stroke received = {};
    if (receive_stroke(set, device, &received) > 0) {
        if (fetch_hardware_id(set, device)) {
            print_wide("hardware id is %s\n", hardware_id_buffer);
        } else {
            std::fputs("BAD hardware_id, exiting...\n", stdout);
        }
    }
    close_device_set(set);
    return 0;
}

bool is_configured_keyboard(device_set* set, int device) {
    if (!fetch_hardware_id(set, device)) return false;
    for (int i = 0; i < hardware_id_units; ++i) {
        if (hardware_id_buffer[i] != configured_hardware_id[i]) return false;
        if (hardware_id_buffer[i] == 0) return true;
    }
    return false;
}

struct device_target {
    device_set* set;
    int device;
};

int send_to_device(void* context, const key_stroke* key) {
    const device_target* target = static_cast<const device_target*>(context);
    stroke out = {};
    out.key = *key;
    return send_stroke(target->set, target->device, &out);
}

int run_remap(device_set* set, const char16_t* config_path) {
    if (!load_config(config_path)) return 1;
    set_keyboard_filter(set, remap_filter);
    for (;;) {
        int device = wait_for_device(set);
        stroke received = {};
        if (receive_stroke(set, device, &received) < 1) break;
        if (is_configured_keyboard(set, device)) {
            device_target target = {set, device};
            send_op send = {send_to_device, &target};
            if (translate_stroke(&received.key, send) == translate_consumed) continue;
        }
        send_stroke(set, device, &received);
    }
    close_device_set(set);
    return 0;
}

}  // namespace

int padmap_main(int argc, const char16_t* const* argv) {
    std::fputs(banner, stdout);
    std::fflush(stdout);
    os_raise_priority();
    device_set* set = open_device_set();
    if (argc < 2) return run_identify(set);
    return run_remap(set, argv[1]);
}
