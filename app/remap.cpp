#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "app/capture.h"
#include "app/run.h"
#include "app/stop.h"
#include "app/translate.h"
#include "console/console.h"
#include "keymap/config.h"
#include "keymap/text.h"

namespace {

struct loaded_file {
    const char16_t* path;
    std::string shown;                 // the path as UTF-8
    char line_prefix[log_prefix_max];  // what its log lines start with
    config layout;
};

// Everything remap mode keeps for the run; large (a key table per file), so
// it lives on the heap.
struct remap_state {
    run_state* run;
    int file_count;
    loaded_file files[max_config_files];
    layouts in_use;
    capture_state capture;
    bool after_e1[keyboard_count];  // each keyboard's memory for is_pause_stroke
};

// With several files each echo follows a line naming its file, and every log
// line names the file of its keyboard; one file prints exactly what it
// always has.
bool load_files(remap_state* remap, int count, const char16_t* const* paths) {
    remap->file_count = count;
    remap->in_use.count = count;
    for (int i = 0; i < count; ++i) {
        loaded_file& file = remap->files[i];
        file.path = paths[i];
        file.shown = utf8_text(paths[i]);
        file.line_prefix[0] = 0;
        if (count > 1) {
            std::string prefix = file.shown + ": ";
            // A path too long for the prefix keeps its end, the file's own name.
            if (prefix.size() >= log_prefix_max) prefix = "..." + prefix.substr(prefix.size() - (log_prefix_max - 4));
            std::memcpy(file.line_prefix, prefix.c_str(), prefix.size() + 1);
            console_printf(console_out, "%s:\n", file.shown.c_str());
        }
        if (!load_config(paths[i], &file.layout)) return false;
        remap->in_use.files[i] = &file.layout;
    }
    return true;
}

// Two files for one keyboard is a mistake: which one would it follow?
bool ids_distinct(const remap_state* remap) {
    for (int later = 1; later < remap->file_count; ++later) {
        for (int earlier = 0; earlier < later; ++earlier) {
            const config& a = remap->files[earlier].layout;
            const config& b = remap->files[later].layout;
            if (layout_for_id(layouts{1, {&a}}, b.configured_hardware_id) < 0) continue;
            console_printf(console_out, "%s and %s both name the keyboard %s: give each keyboard one configuration\n",
                           remap->files[earlier].shown.c_str(), remap->files[later].shown.c_str(),
                           utf8_text(a.configured_hardware_id).c_str());
            return false;
        }
    }
    return true;
}

struct device_target {
    run_state* run;
    int device;
};

int send_to_device(void* context, const key_stroke* key) {
    const device_target* target = static_cast<const device_target*>(context);
    return send_key(target->run, target->device, key);
}

// One stroke from a captured keyboard. Its id is asked every time: the
// keyboard in a slot can change between two strokes.
void handle_stroke(remap_state* remap, int device, stroke* received) {
    run_state* run = remap->run;
    if (device < 1 || device > keyboard_count) {
        send_stroke(run->set, device, received);
        return;
    }
    bool pause = is_pause_stroke(&remap->after_e1[device - 1], received->key);
    bool usable = fetch_hardware_id(run->set, device);
    int file = usable ? layout_for_id(remap->in_use, hardware_id_buffer) : -1;
    if (file < 0) {
        send_stroke(run->set, device, received);
        // A keyboard no file names has no reason to pass through padmap; one
        // whose id cannot be read yet stays captured.
        if (usable) release_keyboard(run->set, &remap->capture, device);
        return;
    }
    const loaded_file& layout = remap->files[file];
    stroke_log log;
    if (pause) {
        send_stroke(run->set, device, received);
        log_pass_through(received->key, layout.line_prefix, &log);
    } else {
        device_target target = {run, device};
        if (translate_stroke(&layout.layout.keys, &received->key, send_op{send_to_device, &target}, layout.line_prefix,
                             &log) == translate_pass_through) {
            send_stroke(run->set, device, received);
        }
    }
    log_line(run, log.text, log.length);
}

void run_loop(remap_state* remap) {
    run_state* run = remap->run;
    check_every_keyboard(run->set, remap->in_use, &remap->capture);
    os_keyboard_watch* watch = os_watch_keyboards();
    os_handle others[1];
    int other_count = 0;
    if (watch != nullptr) others[other_count++] = os_keyboard_watch_event(watch);
    watch_for_stop(run->set);
    for (;;) {
        if (stop_requested()) break;
        input_wait wait = wait_for_input(run->set, others, other_count, keyboard_poll_ms);
        if (wait.end == input_failed) break;
        if (wait.end == input_woken) continue;
        if (wait.end == input_other || wait.end == input_quiet) {
            // Reset first: a keyboard that comes while the others are asked
            // is seen at the next wait.
            if (wait.end == input_other) os_reset_event(others[wait.other]);
            check_every_keyboard(run->set, remap->in_use, &remap->capture);
            continue;
        }
        stroke received = {};
        if (receive_stroke(run->set, wait.device, &received) < 1) break;
        handle_stroke(remap, wait.device, &received);
    }
    os_unwatch_keyboards(watch);
}

}  // namespace

int run_remap(run_state* run, int count, const char16_t* const* paths) {
    std::unique_ptr<remap_state> remap(new (std::nothrow) remap_state);
    if (remap == nullptr) {
        console_print(console_out, "padmap: out of memory\n");
        return 1;
    }
    remap->run = run;
    reset_capture(&remap->capture);
    std::memset(remap->after_e1, 0, sizeof remap->after_e1);
    if (!load_files(remap.get(), count, paths)) return 1;
    if (!ids_distinct(remap.get())) {
        close_device_set(run->set);
        run->set = nullptr;
        return 1;
    }
    if (!driver_usable(run)) return 1;
    start_log(run);
    run_loop(remap.get());
    end_run(run);
    return 0;
}
