#ifndef PADMAP_APP_PLATFORM_H
#define PADMAP_APP_PLATFORM_H

#include <cstddef>
#include <cstdint>

#include "driver/os.h"

// The system around the key loop, beside the driver: keyboards that come and
// go, changes to the configuration files, the window in front, the clock and
// the priority. app/platform-win32.cpp binds them to Windows; sim/platform-sim.cpp
// to the simulated system.

// Listening for keyboards that arrive or leave (the system's device
// notification for the keyboard class). The listening may run on a thread of
// its own that does nothing but set the watch's event.
struct os_keyboard_watch;

// Starts listening. Returns null when the system cannot be listened to.
os_keyboard_watch* os_watch_keyboards();

// The watch's manual-reset event, set at every arrival or removal, for the
// caller to wait on and reset.
os_handle os_keyboard_watch_event(const os_keyboard_watch* watch);

// Stops listening and closes the event; null is ignored. Waits a bounded
// time (two seconds) for the listening thread to end. Returns false when it
// did not: it is then left to end and free the watch on its own, and the
// caller goes on and says so in its log (keyboard_watch_left_line).
bool os_unwatch_keyboards(os_keyboard_watch* watch);
constexpr char keyboard_watch_left_line[] = "the keyboard watch did not stop; padmap goes on without waiting for it\n";

// Listening for changes to chosen files of one folder (a file written,
// created, renamed or removed): ReadDirectoryChangesW on the folder, not its
// subfolders. Other files of the folder (a log written beside the chosen
// ones, say) wake the waiter but count for nothing.
struct os_folder_watch;

// The most files one watch listens for, and the longest name (in UTF-16
// units, without its NUL) it takes.
constexpr int os_folder_watch_names = 10;
constexpr int os_folder_name_units = 255;

// Starts listening to the folder (NUL-terminated UTF-16; "." for the current
// one) for changes to the count files named (each a NUL-terminated UTF-16
// file name without its folder; names are compared as the file system does,
// without regard to case). Returns null when the folder cannot be watched,
// or count or a name is out of bounds.
os_folder_watch* os_watch_folder(const char16_t* folder, const char16_t* const* names, int count);

// The watch's waitable handle, signalled once any file of the folder
// changed; after a wait finds it signalled, os_take_folder_changes before
// waiting again.
os_handle os_folder_watch_handle(const os_folder_watch* watch);

enum os_folder_news {
    os_folder_named,   // a named file changed, or the system lost count of what changed
    os_folder_others,  // only other files of the folder changed
    os_folder_lost,    // the watch listens no more (the folder is gone, say): stop waiting on it
};

// What changed since the handle was last signalled; listens again unless
// lost. Null is lost.
os_folder_news os_take_folder_changes(os_folder_watch* watch);

// False once the folder (the path the watch was started on) no longer names
// the folder the watch listens to: it was removed, renamed away, or another
// folder was made in its place. The system tells such a watch nothing of
// the files now at that path, and need not tell it of its loss either.
bool os_folder_watch_current(const os_folder_watch* watch, const char16_t* folder);

// Stops listening; null is ignored. Waits a bounded time (two seconds) for
// the system to end its request on the folder. Returns false when it did
// not: the watch is then left as it is, never freed, and the caller goes on
// and says so in its log (folder_watch_left_line).
bool os_unwatch_folder(os_folder_watch* watch);
constexpr char folder_watch_left_line[] =
    "the watch of a configuration's folder did not stop; padmap goes on without waiting for it\n";

// GetTickCount64: milliseconds from a moment of the system's choosing, for
// the time between two calls; it never goes back, and moves in ticks of
// 10-16 ms on Windows. On the simulated driver time passes only in the
// session's quiet moments, as its timed waits take them.
uint64_t os_now_ms();

// GetForegroundWindow: a number for the window in front, 0 when there is none.
uintptr_t os_foreground_window();

// The file name, without its folder, of the program that owns the window
// (GetWindowThreadProcessId, OpenProcess with limited query rights,
// QueryFullProcessImageNameW), NUL-terminated in name (cap units). False when
// the program cannot be asked (no window, or one of an elevated program).
bool os_window_program(uintptr_t window, char16_t* name, size_t cap);

// The table of output keys held down that padmapw's watcher reads when the
// key loop's process ends without letting them go (engine/published_keys.h):
// memory the watcher shares with this process when it is padmapw's key loop,
// null otherwise (padmap.exe, a run without a watcher). Each table answered
// is given back with os_unpublish_keys (null is ignored).
struct published_keys;
published_keys* os_published_keys();
void os_unpublish_keys(published_keys* table);

// SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS). Returns false when
// refused; callers ignore it.
bool os_raise_priority();

#endif
