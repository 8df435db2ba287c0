#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/capture.h"
#include "app/front.h"
#include "app/held_layouts.h"
#include "app/reload.h"
#include "app/run.h"
#include "app/stop.h"
#include "app/translate.h"
#include "console/console.h"
#include "keymap/config.h"
#include "keymap/config_check.h"
#include "keymap/text.h"

namespace {

struct loaded_file {
    const char16_t* path;
    std::string shown;                                  // the path as UTF-8
    char line_prefix[log_prefix_max];                   // what its log lines start with
    char section_prefix[max_sections][log_prefix_max];  // ... those of a stroke a section translates
    int folder;                                         // its folder among the watched ones
    uint64_t loaded_signature;                          // the content its layout was read from
    uint64_t seen_signature;                            // the content last found in the file
    config layout;
};

struct watched_folder {
    std::u16string path;
    os_folder_watch* watch;  // null when the folder cannot be watched
    bool changed;            // something changed; read again once quiet
};

// Everything remap mode keeps for the run; large (a key table per file), so
// it lives on the heap.
struct remap_state {
    run_state* run;
    int file_count;
    loaded_file files[max_config_files];
    layouts in_use;
    capture_state capture;
    held_layouts held;
    int folder_count;
    watched_folder folders[max_config_files];
    config fresh;  // a file read again, before it replaces the old layout
    front_program front;
    std::string front_name;                 // the program in front (UTF-8), empty when none can be asked
    int in_front[max_config_files];         // each file's section for that program, -1 for none
    bool sections_known[max_config_files];  // in_front holds for the program in front and the file's layout
    bool after_e1[keyboard_count];          // each keyboard's memory for is_pause_stroke
};

// The log of a stroke a section translates says which: "FILE: when PROGRAMS: ".
// A prefix longer than its room keeps its start: the file, then the section.
void name_sections(loaded_file* file) {
    for (int s = 0; s < file->layout.section_count; ++s) {
        std::string prefix = std::string(file->line_prefix) + "when " + file->layout.sections[s].label + ": ";
        prefix.resize(std::min(prefix.size(), static_cast<size_t>(log_prefix_max) - 1));
        std::memcpy(file->section_prefix[s], prefix.c_str(), prefix.size() + 1);
    }
}

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

// The file, other than except, that names the id; -1 for none.
int file_naming(const remap_state* remap, const char16_t* id, int except) {
    for (int i = 0; i < remap->file_count; ++i) {
        if (i != except && layout_for_id(layouts{1, {&remap->files[i].layout}}, id) == 0) return i;
    }
    return -1;
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

// One watch per folder that holds a file; files of one folder share it.
void watch_folders(remap_state* remap) {
    remap->folder_count = 0;
    for (int i = 0; i < remap->file_count; ++i) {
        std::u16string folder = folder_of(remap->files[i].path);
        int found = -1;
        for (int k = 0; k < remap->folder_count && found < 0; ++k) found = remap->folders[k].path == folder ? k : -1;
        if (found < 0) {
            found = remap->folder_count++;
            watched_folder& watched = remap->folders[found];
            watched.path = folder;
            watched.watch = os_watch_folder(folder.c_str());
            watched.changed = false;
        }
        remap->files[i].folder = found;
    }
}

void unwatch_folders(remap_state* remap) {
    for (int k = 0; k < remap->folder_count; ++k) os_unwatch_folder(remap->folders[k].watch);
    remap->folder_count = 0;
}

struct device_target {
    run_state* run;
    int device;
};

int send_to_device(void* context, const key_stroke* key) {
    const device_target* target = static_cast<const device_target*>(context);
    return send_key(target->run, target->device, key);
}

// A keyboard that is no longer there gets no releases for the keys held on
// it: padmap lets go of the outputs it pressed for them.
void keyboard_gone(void* context, int device) {
    remap_state* remap = static_cast<remap_state*>(context);
    release_held_keys_of(&remap->run->held, device, send_key, remap->run);
    forget_keyboard(&remap->held, device);
}

// The section of the file for the program in front, -1 for none. The window
// in front is looked at only for a file with sections, and its program
// asked only when the window changed.
int section_in_front(remap_state* remap, int file) {
    const config& layout = remap->files[file].layout;
    if (layout.section_count == 0) return -1;
    if (follow_front(&remap->front)) {
        remap->front_name = remap->front.known ? utf8_text(remap->front.name) : std::string();
        for (bool& known : remap->sections_known) known = false;
    }
    if (!remap->sections_known[file]) {
        remap->in_front[file] = remap->front_name.empty() ? -1 : section_for_program(layout, remap->front_name.c_str());
        remap->sections_known[file] = true;
    }
    return remap->in_front[file];
}

// What a stroke is translated by (null: no entry), and what its log lines
// start with. Both stay valid until the held key is let go.
struct stroke_layout {
    const key_entry* entry;
    const char* prefix;
};

// A held key's repeats and release go by what its press found; anything
// else by the layout of the moment: the section of the program in front,
// for a key that section gives a first output (a section's entry has the
// key's own name), otherwise the lines outside sections. A press is held
// with what it found.
stroke_layout layout_for_stroke(remap_state* remap, int file, int device, const key_stroke& key) {
    uint16_t code = lookup_code(key);
    if (const held_layout* held = held_entry(&remap->held, device, code)) {
        return stroke_layout{held->found ? &held->entry : nullptr, held->prefix};
    }
    const loaded_file& loaded = remap->files[file];
    int index = find_key_by_code(&loaded.layout.keys, code);
    stroke_layout layout = {index >= 0 ? &loaded.layout.keys.entries[index] : nullptr, loaded.line_prefix};
    int section = index >= 0 ? section_in_front(remap, file) : -1;
    if (section >= 0 && loaded.layout.sections[section].keys.entries[index].outputs[0] != 0) {
        layout = stroke_layout{&loaded.layout.sections[section].keys.entries[index], loaded.section_prefix[section]};
    }
    if (key.key_state & key_state_up) return layout;
    hold_key(&remap->held, device, code, layout.entry, layout.prefix);
    return layout;
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

// The echo of a file read again, kept for the log instead of printed: the
// key loop never writes to the console itself.
void echo_into(void* context, long, const char*, const line_note* note) {
    *static_cast<std::string*>(context) += echo_text(note);
}

// What padmap says of a file read again: "reloaded FILE", the echo and what
// --check finds in it; or "not reloaded FILE: why", the old layout kept.
std::string reload_file(remap_state* remap, int index, const std::vector<uint8_t>& bytes, bool* id_changed) {
    loaded_file& file = remap->files[index];
    const std::string kept = " (the layout stays as it was)\n";
    std::string echo;
    config_listener echo_listener = {nullptr, echo_into, &echo};
    config_outcome outcome = read_config_bytes(bytes.data(), bytes.size(), &remap->fresh, &echo_listener);
    if (outcome == config_no_hardware_id) return "not reloaded " + file.shown + ": it holds no hardware id" + kept;
    if (outcome == config_id_too_long) {
        return "not reloaded " + file.shown + ": its hardware id is 500 characters or longer" + kept;
    }
    int other = file_naming(remap, remap->fresh.configured_hardware_id, index);
    if (other >= 0) {
        return "not reloaded " + file.shown + ": " + remap->files[other].shown + " names the same keyboard" + kept;
    }
    *id_changed = layout_for_id(layouts{1, {&file.layout}}, remap->fresh.configured_hardware_id) < 0;
    std::memcpy(&file.layout, &remap->fresh, sizeof file.layout);
    name_sections(&file);
    remap->sections_known[index] = false;
    file.loaded_signature = content_signature(bytes);
    std::string text = "reloaded " + file.shown + "\n" + echo;
    std::unique_ptr<config_check> check(new (std::nothrow) config_check);
    if (check != nullptr) {
        check_config_bytes(bytes.data(), bytes.size(), check.get());
        for (const config_finding& finding : check->findings) {
            text += file.shown + ":" + std::to_string(finding.line) + ": " + finding.message + "\n";
        }
    }
    return text;
}

// Reads again every file of the folders that changed, once changes have
// settled. A file is read again only when its content differs from what
// was last found in it.
void reload_changed(remap_state* remap) {
    bool id_changed = false;
    for (int i = 0; i < remap->file_count; ++i) {
        loaded_file& file = remap->files[i];
        if (!remap->folders[file.folder].changed) continue;
        std::vector<uint8_t> bytes;
        uint64_t signature = read_whole_file(file.path, &bytes) ? content_signature(bytes) : unreadable_signature;
        if (signature == file.seen_signature) continue;
        file.seen_signature = signature;
        // Back to the content in use: nothing to do.
        if (signature == file.loaded_signature) continue;
        std::string text = signature == unreadable_signature
                               ? "not reloaded " + file.shown + ": it cannot be read (the layout stays as it was)\n"
                               : reload_file(remap, i, bytes, &id_changed);
        log_line(remap->run, text.data(), text.size());
    }
    for (int k = 0; k < remap->folder_count; ++k) remap->folders[k].changed = false;
    // A file that names another keyboard now takes the capture with it.
    if (id_changed) check_every_keyboard(remap->run->set, remap->in_use, &remap->capture, {keyboard_gone, remap});
}

void run_loop(remap_state* remap) {
    run_state* run = remap->run;
    const left_op on_left = {keyboard_gone, remap};
    check_every_keyboard(run->set, remap->in_use, &remap->capture, on_left);
    os_keyboard_watch* keyboards = os_watch_keyboards();
    watch_folders(remap);
    // The handles the loop waits on besides the devices: the keyboard watch,
    // then each folder's watch (by folder number).
    os_handle others[1 + max_config_files];
    int folder_at[1 + max_config_files];
    int other_count = 0;
    if (keyboards != nullptr) {
        folder_at[other_count] = -1;
        others[other_count++] = os_keyboard_watch_event(keyboards);
    }
    for (int k = 0; k < remap->folder_count; ++k) {
        if (remap->folders[k].watch == nullptr) continue;
        folder_at[other_count] = k;
        others[other_count++] = os_folder_watch_handle(remap->folders[k].watch);
    }
    watch_for_stop(run->set);
    for (;;) {
        if (stop_requested()) break;
        bool settling = false;
        for (int k = 0; k < remap->folder_count; ++k) settling = settling || remap->folders[k].changed;
        input_wait wait = wait_for_input(run->set, others, other_count, settling ? reload_settle_ms : keyboard_poll_ms);
        if (wait.end == input_failed) break;
        if (wait.end == input_woken) continue;
        if (wait.end == input_quiet) {
            if (settling) {
                reload_changed(remap);
            } else {
                check_every_keyboard(run->set, remap->in_use, &remap->capture, on_left);
            }
            continue;
        }
        if (wait.end == input_other) {
            int folder = folder_at[wait.other];
            if (folder < 0) {
                // Reset first: a keyboard that comes while the others are
                // asked is seen at the next wait.
                os_reset_event(others[wait.other]);
                check_every_keyboard(run->set, remap->in_use, &remap->capture, on_left);
            } else {
                os_rearm_folder_watch(remap->folders[folder].watch);
                remap->folders[folder].changed = true;
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

int run_remap(run_state* run, int count, const char16_t* const* paths) {
    std::unique_ptr<remap_state> remap(new (std::nothrow) remap_state);
    if (remap == nullptr) {
        console_print(console_out, "padmap: out of memory\n");
        return 1;
    }
    remap->run = run;
    remap->folder_count = 0;
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
