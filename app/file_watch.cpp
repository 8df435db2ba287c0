#include "app/file_watch.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/reload.h"
#include "app/stroke_layout.h"
#include "keymap/config_check.h"
#include "keymap/text.h"

static_assert(max_config_files <= os_folder_watch_names, "a folder's watch takes every file padmap loads");

void watch_folders(remap_state* remap) {
    remap->folder_count = 0;
    for (int i = 0; i < remap->file_count; ++i) {
        std::u16string folder = folder_of(remap->files[i].path);
        int found = -1;
        for (int k = 0; k < remap->folder_count && found < 0; ++k) found = remap->folders[k].path == folder ? k : -1;
        if (found < 0) {
            found = remap->folder_count++;
            remap->folders[found].path = folder;
            remap->folders[found].watch = nullptr;
            remap->folders[found].changed = false;
        }
        remap->files[i].folder = found;
    }
    // Each folder's watch listens only for its configuration files: a log
    // written beside them must not put their reading off.
    for (int k = 0; k < remap->folder_count; ++k) {
        std::u16string names[max_config_files];
        const char16_t* name_list[max_config_files];
        int count = 0;
        for (int i = 0; i < remap->file_count; ++i) {
            if (remap->files[i].folder != k) continue;
            names[count] = name_in_folder(remap->files[i].path);
            name_list[count] = names[count].c_str();
            ++count;
        }
        remap->folders[k].watch = os_watch_folder(remap->folders[k].path.c_str(), name_list, count);
    }
}

void unwatch_folders(remap_state* remap) {
    for (int k = 0; k < remap->folder_count; ++k) os_unwatch_folder(remap->folders[k].watch);
    remap->folder_count = 0;
}

namespace {

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
    *id_changed = !names_keyboard(file.layout, remap->fresh.configured_hardware_id);
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

}  // namespace

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
