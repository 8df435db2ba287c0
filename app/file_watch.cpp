#include "app/file_watch.h"

#include "keymap/file.h"
#include "keymap/text.h"

static_assert(max_config_files <= os_folder_watch_names, "a folder's watch takes every file padmap loads");

std::u16string folder_of(const char16_t* path) {
    std::u16string text(path);
    size_t last = text.find_last_of(u"/\\");
    if (last == std::u16string::npos) return text.size() >= 2 && text[1] == u':' ? text.substr(0, 2) : u".";
    // The separator stays where it is the folder: the root, or a drive's root.
    if (last == 0 || text[last - 1] == u':') return text.substr(0, last + 1);
    return text.substr(0, last);
}

std::u16string name_in_folder(const char16_t* path) {
    std::u16string text(path);
    size_t last = text.find_last_of(u"/\\");
    if (last != std::u16string::npos) return text.substr(last + 1);
    return text.size() >= 2 && text[1] == u':' ? text.substr(2) : text;
}

bool read_whole_file(const char16_t* path, std::vector<uint8_t>* bytes) {
    bytes->clear();
    config_file* file = open_config_file(path);
    if (file == nullptr) return false;
    uint8_t chunk[4096];
    bool ok = true;
    for (;;) {
        long got = read_config_file(file, chunk, sizeof chunk);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        if (bytes->size() + static_cast<size_t>(got) > reload_max_bytes) {
            ok = false;
            break;
        }
        bytes->insert(bytes->end(), chunk, chunk + got);
    }
    close_config_file(file);
    return ok;
}

uint64_t content_signature(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ull;
    }
    // A readable file never has the unreadable file's number.
    return hash == unreadable_signature ? 1 : hash;
}

void note_loaded_files(file_watch* files, int count, const char16_t* const* paths) {
    files->file_count = count;
    files->folder_count = 0;
    files->changed_at = 0;
    for (int i = 0; i < count; ++i) {
        watched_file& file = files->files[i];
        file.path = paths[i];
        std::vector<uint8_t> bytes;
        file.loaded_signature = read_whole_file(paths[i], &bytes) ? content_signature(bytes) : unreadable_signature;
        file.seen_signature = file.loaded_signature;
    }
}

namespace {

// "FOLDER (pad.cfg, numpad.cfg)": a folder and the files it holds, as the
// command line named them.
std::string folder_text(const file_watch* files, int folder) {
    std::string text = utf8_text(files->folders[folder].path.c_str()) + " (";
    bool first = true;
    for (int i = 0; i < files->file_count; ++i) {
        if (files->files[i].folder != folder) continue;
        text += (first ? "" : ", ") + utf8_text(files->files[i].path);
        first = false;
    }
    return text + ")";
}

// Each folder's watch listens only for its configuration files: a log
// written beside them must not put their reading off.
os_folder_watch* watch_folder(const file_watch* files, int folder) {
    std::u16string names[max_config_files];
    const char16_t* name_list[max_config_files];
    int count = 0;
    for (int i = 0; i < files->file_count; ++i) {
        if (files->files[i].folder != folder) continue;
        names[count] = name_in_folder(files->files[i].path);
        name_list[count] = names[count].c_str();
        ++count;
    }
    return os_watch_folder(files->folders[folder].path.c_str(), name_list, count);
}

const char unwatched[] = ": saves there are not read until padmap can watch it again\n";

}  // namespace

void watch_folders(file_watch* files, std::string* log) {
    files->folder_count = 0;
    for (int i = 0; i < files->file_count; ++i) {
        std::u16string folder = folder_of(files->files[i].path);
        int found = -1;
        for (int k = 0; k < files->folder_count && found < 0; ++k) found = files->folders[k].path == folder ? k : -1;
        if (found < 0) {
            found = files->folder_count++;
            files->folders[found].path = folder;
            files->folders[found].watch = nullptr;
            files->folders[found].changed = true;
        }
        files->files[i].folder = found;
    }
    for (int k = 0; k < files->folder_count; ++k) {
        files->folders[k].watch = watch_folder(files, k);
        if (files->folders[k].watch == nullptr) *log += "cannot watch the folder " + folder_text(files, k) + unwatched;
    }
}

bool rewatch_folders(file_watch* files, std::string* log) {
    bool anew = false;
    for (int k = 0; k < files->folder_count; ++k) {
        watched_folder& folder = files->folders[k];
        if (folder.watch == nullptr || os_folder_watch_current(folder.watch, folder.path.c_str())) continue;
        if (!os_unwatch_folder(folder.watch)) *log += folder_watch_left_line;
        folder.watch = nullptr;
        *log += "lost the watch of the folder " + folder_text(files, k) + unwatched;
        anew = true;
    }
    for (int k = 0; k < files->folder_count; ++k) {
        watched_folder& folder = files->folders[k];
        if (folder.watch != nullptr) continue;
        folder.watch = watch_folder(files, k);
        if (folder.watch == nullptr) continue;
        *log += "watching the folder " + folder_text(files, k) + " again\n";
        folder.changed = true;
        files->changed_at = os_now_ms();
        anew = true;
    }
    return anew;
}

bool unwatch_folders(file_watch* files) {
    bool stopped = true;
    for (int k = 0; k < files->folder_count; ++k) stopped = os_unwatch_folder(files->folders[k].watch) && stopped;
    files->folder_count = 0;
    return stopped;
}

bool take_folder_news(file_watch* files, int folder, std::string* log) {
    watched_folder& watched = files->folders[folder];
    os_folder_news news = os_take_folder_changes(watched.watch);
    bool stopped = true;
    if (news == os_folder_lost) {
        // Its handle would stay signalled: the files are read once more, and
        // the loop waits on it no longer.
        stopped = os_unwatch_folder(watched.watch);
        watched.watch = nullptr;
        *log += "lost the watch of the folder " + folder_text(files, folder) + unwatched;
    }
    if (news != os_folder_others) {
        watched.changed = true;
        files->changed_at = os_now_ms();
    }
    return stopped;
}

bool files_settling(const file_watch* files) {
    for (int k = 0; k < files->folder_count; ++k) {
        if (files->folders[k].changed) return true;
    }
    return false;
}

void read_changed_files(file_watch* files, file_news* news, std::vector<uint8_t>* bytes) {
    for (int i = 0; i < files->file_count; ++i) {
        watched_file& file = files->files[i];
        news[i] = file_news{file_unchanged, nullptr, 0, false};
        // A file refused before is tried again whenever padmap reloads: the
        // file that kept it out may have let go.
        bool refused_before = file.seen_signature != file.loaded_signature;
        if (!files->folders[file.folder].changed && !refused_before) continue;
        uint64_t signature = read_whole_file(file.path, &bytes[i]) ? content_signature(bytes[i]) : unreadable_signature;
        bool saved = signature != file.seen_signature;
        file.seen_signature = signature;
        // Back to the content in use: nothing to do.
        if (signature == file.loaded_signature) continue;
        file.read_signature = signature;
        news[i] = signature == unreadable_signature ? file_news{file_unreadable, nullptr, 0, saved}
                                                    : file_news{file_changed, bytes[i].data(), bytes[i].size(), saved};
    }
}

void read_every_file(file_watch* files) {
    for (int i = 0; i < files->file_count; ++i) files->files[i].seen_signature = files->files[i].loaded_signature;
    for (int k = 0; k < files->folder_count; ++k) files->folders[k].changed = true;
}

void note_reloaded(file_watch* files, uint32_t replaced) {
    for (int i = 0; i < files->file_count; ++i) {
        if (replaced & (1u << i)) files->files[i].loaded_signature = files->files[i].read_signature;
    }
    for (int k = 0; k < files->folder_count; ++k) files->folders[k].changed = false;
}
