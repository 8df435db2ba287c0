#include "app/run.h"

#include <cstdio>

#include "app/stop.h"
#include "console/console.h"

size_t run_end_line(const run_outcome& outcome, char* out, size_t cap) {
    const char* doing = nullptr;
    if (outcome.end == run_wait_failed) doing = "waiting for keys";
    if (outcome.end == run_read_failed) doing = "reading a key stroke";
    if (doing == nullptr || cap == 0) return 0;
    int length = 0;
    if (outcome.end == run_read_failed && outcome.error == 0) {
        length = std::snprintf(out, cap, "keyboard filter driver failed while %s: it answered with part of a stroke\n",
                               doing);
    } else {
        char why[512];
        os_error_text(outcome.error, why, sizeof why);
        length = std::snprintf(out, cap, "keyboard filter driver failed while %s: %s (error %lu)\n", doing, why,
                               static_cast<unsigned long>(outcome.error));
    }
    if (length < 0) return 0;
    return static_cast<size_t>(length) < cap ? static_cast<size_t>(length) : cap - 1;
}

int run_end_status(const run_outcome& outcome) {
    return outcome.end == run_wait_failed || outcome.end == run_read_failed ? 1 : 0;
}

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

// Counts 0 (no answer) and 1000 (a full buffer) are no usable id.
bool fetch_hardware_id(device_set* set, int device, char16_t* id) {
    int bytes = get_hardware_id(set, device, id);
    return bytes >= 1 && bytes <= 999;
}

int end_run(run_state* run, const run_outcome& outcome) {
    char line[640];
    size_t length = run_end_line(outcome, line, sizeof line);
    if (length > 0) log_line(run, line, length);
    watch_for_stop(nullptr);
    close_device_set(run->set);
    run->set = nullptr;
    finish_log_writer(run->writer, run->output.drain_limit_ms);
    run->writer = nullptr;
    return run_end_status(outcome);
}
