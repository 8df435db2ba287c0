#include "app/run.h"
#include "app/stop.h"
#include "app/translate.h"
#include "keymap/config.h"

namespace {

// Captures every stroke of every keyboard.
constexpr uint16_t remap_filter = 0xFFFF;

bool is_configured_keyboard(device_set* set, int device) {
    if (!fetch_hardware_id(set, device)) return false;
    for (int i = 0; i < hardware_id_units; ++i) {
        if (hardware_id_buffer[i] != configured_hardware_id[i]) return false;
        if (hardware_id_buffer[i] == 0) return true;
    }
    return false;
}

struct device_target {
    run_state* run;
    int device;
};

int send_to_device(void* context, const key_stroke* key) {
    const device_target* target = static_cast<const device_target*>(context);
    return send_key(target->run, target->device, key);
}

}  // namespace

int run_remap(run_state* run, const char16_t* config_path) {
    if (!load_config(config_path)) return 1;
    if (!driver_usable(run)) return 1;
    start_log(run);
    set_keyboard_filter(run->set, remap_filter);
    watch_for_stop(run->set);
    int device = 0;
    stroke received;
    stroke_log log;
    while (next_stroke(run, &device, &received)) {
        if (!is_configured_keyboard(run->set, device)) {
            send_stroke(run->set, device, &received);
            continue;
        }
        device_target target = {run, device};
        if (translate_stroke(&received.key, send_op{send_to_device, &target}, &log) == translate_pass_through) {
            send_stroke(run->set, device, &received);
        }
        log_line(run, log.text, log.length);
    }
    end_run(run);
    return 0;
}
