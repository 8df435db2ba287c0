#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/file_watch.h"
#include "app/reload.h"
#include "app/remap_state.h"
#include "app/stop.h"
#include "app/stroke_layout.h"
#include "console/console.h"
#include "keymap/text.h"

namespace {

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
        // The content is kept in mind first, so that a save while padmap
        // starts is not taken for the content already loaded.
        std::vector<uint8_t> bytes;
        file.loaded_signature = read_whole_file(paths[i], &bytes) ? content_signature(bytes) : unreadable_signature;
        file.seen_signature = file.loaded_signature;
        if (!load_config(paths[i], &file.layout)) return false;
        name_sections(&file);
        remap->in_use.files[i] = &file.layout;
    }
    return true;
}

// Two files for one keyboard is a mistake: which one would it follow?
bool ids_distinct(const remap_state* remap) {
    for (int later = 1; later < remap->file_count; ++later) {
        int earlier = file_naming(remap, remap->files[later].layout.configured_hardware_id, later);
        if (earlier < 0 || earlier > later) continue;
        console_printf(console_out, "%s and %s both name the keyboard %s: give each keyboard one configuration\n",
                       remap->files[earlier].shown.c_str(), remap->files[later].shown.c_str(),
                       utf8_text(remap->files[later].layout.configured_hardware_id).c_str());
        return false;
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
    // A stroke whose id cannot be read says nothing of where its keyboard went.
    if (usable) note_keyboard(&remap->capture, device, file, left_op{keyboard_gone, remap});
    if (file < 0) {
        send_stroke(run->set, device, received);
        // A keyboard no file names has no reason to pass through padmap; one
        // whose id cannot be read yet stays captured.
        if (usable) release_keyboard(run->set, &remap->capture, device);
        return;
    }
    stroke_log log;
    if (pause) {
        send_stroke(run->set, device, received);
        log_pass_through(received->key, remap->files[file].line_prefix, &log);
    } else {
        stroke_layout layout = layout_for_stroke(remap, file, device, received->key);
        device_target target = {run, device};
        if (translate_entry(layout.entry, &received->key, send_op{send_to_device, &target}, layout.prefix, &log) ==
            translate_pass_through) {
            send_stroke(run->set, device, received);
        }
        // Let go only now: the layout above may be the held key's own.
        if (received->key.key_state & key_state_up) release_key(&remap->held, device, lookup_code(received->key));
    }
    log_line(run, log.text, log.length);
}

// The handles the loop waits on besides the devices: the keyboard watch,
// then each folder's watch that still listens.
struct loop_waits {
    os_handle others[1 + max_config_files];
    int folder_at[1 + max_config_files];  // the folder number of each, -1 for the keyboard watch
    int count;
};

void gather_waits(const remap_state* remap, const os_keyboard_watch* keyboards, loop_waits* waits) {
    waits->count = 0;
    if (keyboards != nullptr) {
        waits->folder_at[waits->count] = -1;
        waits->others[waits->count++] = os_keyboard_watch_event(keyboards);
    }
    for (int k = 0; k < remap->folder_count; ++k) {
        if (remap->folders[k].watch == nullptr) continue;
        waits->folder_at[waits->count] = k;
        waits->others[waits->count++] = os_folder_watch_handle(remap->folders[k].watch);
    }
}

void run_loop(remap_state* remap) {
    run_state* run = remap->run;
    const left_op on_left = {keyboard_gone, remap};
    check_every_keyboard(run->set, remap->in_use, &remap->capture, on_left);
    os_keyboard_watch* keyboards = os_watch_keyboards();
    watch_folders(remap);
    loop_waits waits;
    gather_waits(remap, keyboards, &waits);
    watch_for_stop(run->set);
    for (;;) {
        if (stop_requested()) break;
        bool settling = false;
        for (int k = 0; k < remap->folder_count; ++k) settling = settling || remap->folders[k].changed;
        uint32_t limit_ms = keyboard_poll_ms;
        if (settling) {
            // The quiet is the files', counted from their last change: strokes
            // that come meanwhile do not put the reading off.
            uint64_t quiet_ms = os_now_ms() - remap->changed_at;
            if (quiet_ms >= reload_settle_ms) {
                reload_changed(remap);
                continue;
            }
            limit_ms = reload_settle_ms - static_cast<uint32_t>(quiet_ms);
        }
        input_wait wait = wait_for_input(run->set, waits.others, waits.count, limit_ms);
        if (wait.end == input_failed) break;
        if (wait.end == input_woken) continue;
        if (wait.end == input_quiet) {
            if (!settling) check_every_keyboard(run->set, remap->in_use, &remap->capture, on_left);
            continue;
        }
        if (wait.end == input_other) {
            int folder = waits.folder_at[wait.other];
            if (folder < 0) {
                // Reset first: a keyboard that comes while the others are
                // asked is seen at the next wait.
                os_reset_event(waits.others[wait.other]);
                check_every_keyboard(run->set, remap->in_use, &remap->capture, on_left);
                continue;
            }
            os_folder_news news = os_take_folder_changes(remap->folders[folder].watch);
            if (news == os_folder_lost) {
                // Its handle would stay signalled: the files are read once
                // more, and the loop waits on it no longer.
                os_unwatch_folder(remap->folders[folder].watch);
                remap->folders[folder].watch = nullptr;
                gather_waits(remap, keyboards, &waits);
            }
            if (news != os_folder_others) {
                remap->folders[folder].changed = true;
                remap->changed_at = os_now_ms();
            }
            continue;
        }
        stroke received = {};
        if (receive_stroke(run->set, wait.device, &received) < 1) break;
        handle_stroke(remap, wait.device, &received);
    }
    unwatch_folders(remap);
    os_unwatch_keyboards(keyboards);
}

}  // namespace

// The file, other than except, that names the id; -1 for none.
int file_naming(const remap_state* remap, const char16_t* id, int except) {
    for (int i = 0; i < remap->file_count; ++i) {
        if (i != except && names_keyboard(remap->files[i].layout, id)) return i;
    }
    return -1;
}

// A keyboard that is no longer there gets no releases for the keys held on
// it: padmap lets go of the outputs it pressed for them.
void keyboard_gone(void* context, int device) {
    remap_state* remap = static_cast<remap_state*>(context);
    release_held_keys_of(&remap->run->held, device, send_key, remap->run);
    forget_keyboard(&remap->held, device);
}

int run_remap(run_state* run, int count, const char16_t* const* paths) {
    std::unique_ptr<remap_state> remap(new (std::nothrow) remap_state);
    if (remap == nullptr) {
        console_print(console_out, "padmap: out of memory\n");
        return 1;
    }
    remap->run = run;
    remap->folder_count = 0;
    remap->changed_at = 0;
    reset_front(&remap->front);
    for (bool& known : remap->sections_known) known = false;
    reset_capture(&remap->capture);
    reset_held_layouts(&remap->held);
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
