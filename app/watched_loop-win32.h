#ifndef PADMAP_APP_WATCHED_LOOP_WIN32_H
#define PADMAP_APP_WATCHED_LOOP_WIN32_H

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "engine/published_keys.h"

// What padmapw's watcher shares with the process of its key loop, in memory
// the watcher makes (a mapping named in the loop's environment).
struct watched_loop {
    published_keys keys;          // first: a view of the whole is also the table
    std::atomic<uint32_t> ended;  // how the loop's process ended by its own doing (loop_end), 0 if not
};

enum loop_end : uint32_t {
    loop_ended_cleanly = 1,  // it let go of what it held: nothing to release
    loop_left_keys = 2,      // it gave up waiting for its loop: what the table lists is to be released
};

// The watcher's mutex, owned while it runs: one watcher a session.
constexpr wchar_t watcher_mutex_name[] = L"Local\\padmapw-watcher";

// The environment variable that tells padmapw it runs as the watched key
// loop: "PID NAME", the watcher's process id and the mapping's name.
constexpr wchar_t watched_loop_variable[] = L"PADMAPW_WATCHER";

// The mapping's name into name (cap units), and the watcher's process id
// into watcher when given. False when this process is no watched loop.
bool watched_loop_name(wchar_t* name, size_t cap, DWORD* watcher = nullptr);

// Tells the watcher that the loop's process ends by its own doing (a quit,
// a failure it reported): nothing is restarted, and only when how is
// loop_left_keys is anything released.
void mark_end(loop_end how);

// padmapw's watcher: starts padmapw again as its key loop (the same command
// line, the environment saying so), and when that process ends other than
// cleanly releases what its table lists, logs why and starts it again after
// 1 s, doubling to 30 s, until the fifth such end within ten minutes (then
// padmapw starts once more without a key loop, saying so in its tray). The
// watcher ends with the loop's process when that ends cleanly, returning its
// exit code.
int run_watcher();

#endif
