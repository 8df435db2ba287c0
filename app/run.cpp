#include "app/run.h"

#include "app/stop.h"
#include "console/console.h"

bool driver_usable(run_state* run) {
    const device_set* set = run->set;
    const char* problem = nullptr;
    if (set == nullptr) {
        problem = "keyboard filter driver cannot be set up\n";
    } else if (set->opened > 0) {
        return true;
    } else if (set->in_use > 0) {
        problem = "keyboard filter driver is in use by another program (is padmap running already?)\n";
    } else if (set->denied > 0) {
        problem = "keyboard filter driver refused access to its devices\n";
    } else {
        problem = "keyboard filter driver not found\n";
    }
    console_print(console_out, problem);
    close_device_set(run->set);
    run->set = nullptr;
    return false;
}

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

bool next_stroke(run_state* run, int* device, stroke* received) {
    for (;;) {
        if (stop_requested()) return false;
        *device = wait_for_device(run->set);
        if (*device == device_woken) continue;
        *received = stroke{};
        return receive_stroke(run->set, *device, received) > 0;
    }
}

// Counts 0 (no answer) and 1000 (a full buffer) are no usable id.
bool fetch_hardware_id(device_set* set, int device) {
    int bytes = get_hardware_id(set, device);
    return bytes >= 1 && bytes <= 999;
}

int send_key(void* context, int device, const key_stroke* key) {
    run_state* run = static_cast<run_state*>(context);
    stroke out = {};
    out.key = *key;
    int taken = send_stroke(run->set, device, &out);
    if (taken > 0) note_key_sent(&run->held, device, *key);
    return taken;
}

void end_run(run_state* run) {
    release_held_keys(&run->held, send_key, run);
    watch_for_stop(nullptr);
    close_device_set(run->set);
    run->set = nullptr;
    finish_log_writer(run->writer, run->output.drain_limit_ms);
    run->writer = nullptr;
}
