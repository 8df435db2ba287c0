#ifndef PADMAP_REPLAY_SESSION_H
#define PADMAP_REPLAY_SESSION_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "driver/device_set.h"
#include "driver/strokes.h"

// A session file scripts what happens on the user's side of the filter driver:
// which devices exist, their hardware ids, and the key strokes typed on them.
// One directive a line (LF or CR LF); blank lines and lines whose first
// non-blank character is '#' are ignored; words are separated by spaces/tabs.
//
//   keyboard N [ID]            device N (1-10) exists; ID is the rest of the line
//                              after the one blank following N, taken as is
//   mouse N [ID]               the same for N in 11-20
//   down N KEY / up N KEY      a press / release on keyboard N
//   tap N KEY                  a press then a release
//   stroke N MAKE STATE EXTRA  a raw stroke, hex fields of 16, 16 and 32 bits
//   pause MS                   a quiet moment of MS milliseconds (0-600000)
//                              before the next stroke is typed
//   interrupt                  the console asks padmap to stop here
//   id N [ID]                  from here on keyboard N (declared) answers with
//                              ID, taken as keyboard's is; without ID it has
//                              none; padmap is told, as when a keyboard
//                              arrives or leaves
//   unnoticed-id N [ID]        the same, but the system's notice of it is
//                              lost: padmap is not told
//   freeze / thaw              padmap is held (as a suspended process) from
//                              here: what follows is typed without waiting for
//                              it, until it goes on at thaw (or the end)
//   save CONFIG SOURCE         an editor saves: SOURCE's bytes (a path relative
//                              to the session file's folder) are written over
//                              CONFIG (as padmap's argument names it) in place
//   replace CONFIG SOURCE      the same bytes go to a new file in CONFIG's
//                              folder, which is then renamed over CONFIG
//   remove CONFIG              CONFIG is deleted
//   crash                      padmap's key loop ends at once, as a killed
//                              process ends; padmap-replay then does what
//                              padmapw's watcher does and starts it again
//   front [PROGRAM]            a window of PROGRAM (a file name; the rest of
//                              the line) comes to the front; without it, none
//   refuse-write N             the driver refuses padmap's N-th write request
//                              (1-1000000), counted from the next stroke padmap
//                              reads: from the first write it makes for it
//   lock / unlock              the session is locked / unlocked
//   suspend / wake             the system goes to sleep / wakes up
//   control COMMAND            the tray or `padmap --COMMAND` asks the running
//                              padmap to reload, pause, resume or quit
//   short-write N BYTES        as refuse-write, but the request takes at most
//                              BYTES bytes (0-1000000): the whole records among
//                              them reach the system and the driver reports
//                              them all, whole records or not
//
// Of two short writes due at one request the fewer bytes hold; a refusal
// wins over both. A session holds at most session_max_write_lines
// refuse-write and short-write lines.
//
// KEY is a key table name other than user1..user10, or four hex digits whose
// high byte is 00 or e0 (e0 sets the E0 state bit; the make code is the low
// byte). A device without ID exists but has no hardware id. A later
// declaration of the same device replaces an earlier one, and declarations
// count wherever they stand, so a stroke may precede its keyboard's line.
//
// Everything is fixed-size: a line holds at most session_max_line_bytes bytes
// (line end not counted) and an id at most session_max_id_bytes; longer ones
// are errors. The file is read as a stream and never held in memory.

constexpr int session_max_id_bytes = 2000;
constexpr int session_max_line_bytes = 4096;
constexpr size_t session_message_size = 1024;
constexpr int session_max_write_lines = 16;

struct session_device {
    bool declared;
    bool has_id;                        // false: the hardware-id request fails
    char id[session_max_id_bytes + 1];  // UTF-8, NUL-terminated, as written
};

// device[n - 1] describes device number n.
struct session_devices {
    session_device device[device_count];
    bool elevated;  // an "elevated" line: padmap runs with administrator rights
};

// Reads the whole session file once and checks every line. On success fills
// devices and returns true. Otherwise returns false with message holding the
// first error by line, as "PATH:LINE: what is wrong", or "PATH: cannot open
// the session file" when it cannot be read. Key names are those of a fresh
// key table.
bool session_check(const char* path, session_devices* devices, char* message, size_t message_size);

enum session_item_kind {
    session_key,           // a stroke typed on keyboard device
    session_pause,         // pause_ms of quiet before the next item
    session_interrupt,     // the console asks padmap to stop
    session_id,            // keyboard device answers with id from now on
    session_unnoticed_id,  // ... and the system's notice of it is lost
    session_freeze,        // padmap is held from here
    session_thaw,          // padmap goes on
    session_short_write,   // write_number-th write from the next stroke read is short or refused
    session_save,          // file is written over with the bytes of source
    session_replace,       // ... by a new file renamed over it
    session_remove,        // file is deleted
    session_front,         // a window of program id comes to the front (has_id false: none)
    session_fail_wait,     // padmap's wait fails as a driver that breaks fails it
    session_fail_read,     // padmap's next read of a stroke fails so
    session_crash,         // padmap's key loop is killed; the watcher releases and starts it again
    session_lock,          // the session is locked
    session_unlock,
    session_suspend,  // the system goes to sleep
    session_wake,
    session_control_reload,  // what the tray's commands ask of a running padmap
    session_control_pause,
    session_control_resume,
    session_control_quit,
};

// One thing that happens on the user's side, in file order.
struct session_item {
    session_item_kind kind;
    int device;
    key_stroke key;
    uint32_t pause_ms;
    bool has_id;            // session_id, _unnoticed_id: false when the id request fails from now on
    const char* id;         // session_id, _unnoticed_id: UTF-8, valid until the next item is read
    uint32_t write_number;  // session_short_write: 1 is the first write after the read
    uint32_t write_bytes;   // session_short_write: the most the write takes
    bool write_refused;     // session_short_write: the write fails instead
    const char* file;       // session_save, _replace, _remove: the configuration, as written
    const char* source;     // session_save, _replace: the new content's file, relative to the session's folder
};

// The strokes of a checked session, drawn one at a time.
struct session_reader {
    std::FILE* file;
    bool has_pending;  // the release half of a tap is due next
    session_item pending;
    char line[session_max_line_bytes + 2];
    char file_name[session_max_line_bytes + 1];
    char source[session_max_line_bytes + 1];
};

// The path of a file a session names, relative to the folder of the session
// file at session_path.
std::string session_relative_path(const char* session_path, const char* name);

// Carries out a save, replace or remove item of the session at session_path
// as an editor would: the bytes of its source written over the file, written
// to the file's name with ".saving" added and renamed over it, or the file
// removed. Returns false when the system refuses a step.
bool change_session_file(const char* session_path, const session_item& item);

// Returns false when the file cannot be opened.
bool session_open(session_reader* reader, const char* path);

// Gives the next item in file order (a tap gives its press, then its
// release). Returns false when there are no more; a line that does not parse
// (the file changed after it was checked) also ends the items.
bool session_next(session_reader* reader, session_item* next);

// Closes the file; a reader that never opened is ignored.
void session_close(session_reader* reader);

#endif
