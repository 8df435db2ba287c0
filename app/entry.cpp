#include "app/entry.h"

#include <cstring>

#include "app/held_keys.h"
#include "app/stop.h"
#include "app/translate.h"
#include "console/console.h"
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

bool console_sink(void*, const char* text, size_t size) {
    return console_write_direct(text, size);
}

// One run of a mode: the device set, the log and the keys held on the system.
struct run_state {
    device_set* set;
    padmap_log_output output;
    log_writer* writer;
    held_keys held;
};

void start_log(run_state* run) {
    // What was printed before the loop comes out before the loop's log.
    console_flush(console_out);
    if (run->output.own_thread) {
        run->writer = start_log_writer(run->output.sink, run->output.context, run->output.capacity);
    }
}

void log_line(run_state* run, const char* text, size_t size) {
    if (run->writer != nullptr) {
        log_text(run->writer, text, size);
    } else {
        run->output.sink(run->output.context, text, size);
    }
}

// The keyboards are let go before anything waits for the console.
void end_run(run_state* run) {
    watch_for_stop(nullptr);
    close_device_set(run->set);
    run->set = nullptr;
    finish_log_writer(run->writer, log_drain_limit_ms);
    run->writer = nullptr;
}

// Counts 0 (no answer) and 1000 (a full buffer) are no usable id.
bool fetch_hardware_id(device_set* set, int device) {
    int bytes = get_hardware_id(set, device);
    return bytes >= 1 && bytes <= 999;
}

// The next stroke the driver delivers, or false when it delivers none or a
// stop was asked for.
bool next_stroke(run_state* run, int* device, stroke* received) {
    for (;;) {
        if (stop_requested()) return false;
        *device = wait_for_device(run->set);
        if (*device == device_woken) continue;
        *received = stroke{};
        return receive_stroke(run->set, *device, received) > 0;
    }
}

int run_identify(run_state* run) {
    set_keyboard_filter(run->set, identify_filter);
    start_log(run);
    watch_for_stop(run->set);
    int device = 0;
    stroke received;
    if (next_stroke(run, &device, &received)) {
        char text[hardware_id_units * 3 + 32];
        size_t length = 0;
        if (fetch_hardware_id(run->set, device)) {
            const char prefix[] = "hardware id is ";
            std::memcpy(text, prefix, sizeof prefix - 1);
            length = sizeof prefix - 1;
            length += utf16_to_utf8(hardware_id_buffer, text + length, sizeof text - length - 1);
            text[length++] = '\n';
        } else {
            const char refusal[] = "BAD hardware_id, exiting...\n";
            std::memcpy(text, refusal, sizeof refusal - 1);
            length = sizeof refusal - 1;
        }
        log_line(run, text, length);
    }
    end_run(run);
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

// Sends to a device and keeps the record of held keys up to date.
int send_key(void* context, int device, const key_stroke* key) {
    run_state* run = static_cast<run_state*>(context);
    stroke out = {};
    out.key = *key;
    int taken = send_stroke(run->set, device, &out);
    if (taken > 0) note_key_sent(&run->held, device, *key);
    return taken;
}

struct device_target {
    run_state* run;
    int device;
};

int send_to_device(void* context, const key_stroke* key) {
    const device_target* target = static_cast<const device_target*>(context);
    return send_key(target->run, target->device, key);
}

int run_remap(run_state* run, const char16_t* config_path) {
    if (!load_config(config_path)) return 1;
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
    release_held_keys(&run->held, send_key, run);
    end_run(run);
    return 0;
}

}  // namespace

int padmap_run(int argc, const char16_t* const* argv, const padmap_log_output& output) {
    console_print(console_out, banner);
    console_flush(console_out);
    os_raise_priority();
    run_state run = {};
    run.set = open_device_set();
    run.output = output;
    reset_held_keys(&run.held);
    if (argc < 2) return run_identify(&run);
    return run_remap(&run, argv[1]);
}

int padmap_main(int argc, const char16_t* const* argv) {
    return padmap_run(argc, argv, padmap_log_output{console_sink, nullptr, true});
}
