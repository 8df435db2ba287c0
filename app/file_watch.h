#ifndef PADMAP_APP_FILE_WATCH_H
#define PADMAP_APP_FILE_WATCH_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/platform.h"
#include "engine/engine.h"
#include "keymap/config.h"

// The configuration files, watched while padmap runs and read again when
// saved: what is compared, and how each file is found again.

// A file larger than this is not read again (a layout is a few kilobytes).
constexpr size_t reload_max_bytes = size_t{4} << 20;

// After the last change of a burst (an editor writes a file in several
// steps), padmap waits this long with nothing more changing before it reads
// the files again.
constexpr uint32_t reload_settle_ms = 200;

// The folder a file's path lies in, as the system takes it: the path up to
// its last / or \ (the root's separator kept, and a drive's: "C:\"), the
// drive of a drive-relative name ("C:" for "C:pad.cfg"), or "." for a bare
// file name.
std::u16string folder_of(const char16_t* path);

// The file's name without its folder: what follows the last / or \, or a
// drive's colon.
std::u16string name_in_folder(const char16_t* path);

// Reads the whole file. Returns false when it cannot be opened or read, or
// is larger than reload_max_bytes.
bool read_whole_file(const char16_t* path, std::vector<uint8_t>* bytes);

// A number that stands for a file's content (64-bit FNV-1a), and one for a
// file that cannot be read.
uint64_t content_signature(const std::vector<uint8_t>& bytes);
constexpr uint64_t unreadable_signature = 0;

// A configuration file as the watch knows it.
struct watched_file {
    const char16_t* path;
    int folder;                 // its folder among the watched ones
    uint64_t loaded_signature;  // the content its layout in use was read from
    uint64_t seen_signature;    // the content last found in the file
    uint64_t read_signature;    // the content read for the reload in hand
};

struct watched_folder {
    std::u16string path;
    os_folder_watch* watch;  // null when the folder cannot be watched
    bool changed;            // something changed; read again once quiet
};

struct file_watch {
    int file_count;
    watched_file files[max_config_files];
    int folder_count;
    watched_folder folders[max_config_files];
    uint64_t changed_at;  // when a watched folder last told of a change (os_now_ms)
};

// Keeps in mind the content of each of the count files before it is loaded,
// so that a save while padmap starts is not taken for the content already
// loaded.
void note_loaded_files(file_watch* files, int count, const char16_t* const* paths);

// One watch per folder that holds a file; files of one folder share it.
// Every folder counts as changed once: a save made after the files were
// loaded but before their watch listened is read then. A folder that cannot
// be watched is said in log (a line each), and watched again by
// rewatch_folders.
void watch_folders(file_watch* files, std::string* log);

// The folder of file i, once watch_folders has run.
inline const std::u16string& file_folder(const file_watch* files, int i) {
    return files->folders[files->files[i].folder].path;
}

// Lets go of each watch whose folder is no longer the one at its path
// (removed, renamed away, another made in its place), as lost: said in log.
// Then tries again to watch each folder whose watch could not be set up or
// was lost; each that listens now is said in log and counts as changed, so
// that a save made meanwhile is read. Returns true when a watch was let go
// or one listens anew.
bool rewatch_folders(file_watch* files, std::string* log);
// Returns false when a watch did not stop (it is left as it is).
bool unwatch_folders(file_watch* files);

// A folder's watch told of news: a change of its files is noted (and its
// time); a watch that is lost is said in log, its files are read once more,
// and it is no longer waited on until rewatch_folders sets it up again.
// Returns false when a lost watch did not stop (it is left as it is).
bool take_folder_news(file_watch* files, int folder, std::string* log);

// True while a change waits for its files to settle.
bool files_settling(const file_watch* files);

// Reads again every file of the folders that changed, and every file whose
// content was refused before: news[i] says what file i holds now
// (file_unchanged when it holds what its layout was read from, saved when
// that differs from what was last found in it); bytes[i] keeps what news[i]
// points to.
void read_changed_files(file_watch* files, file_news* news, std::vector<uint8_t>* bytes);

// The user asked for a reload: every file is read at the next
// read_changed_files, and a file refused before is said again as if saved.
void read_every_file(file_watch* files);

// After the engine took the news: the files of replaced (bit i for file i)
// now have the layout of what was read, and no folder waits any more.
void note_reloaded(file_watch* files, uint32_t replaced);

#endif
