#ifndef PADMAP_APP_WATCHER_H
#define PADMAP_APP_WATCHER_H

#include <cstdint>
#include <string>

#include "driver/device_set.h"
#include "engine/published_keys.h"

// padmapw's watcher: what it does when the key loop's process ends other
// than cleanly. The process is its platform's; these parts are the same on
// Windows and in padmap-replay.

// At most this many unexpected ends within the window: one more and the
// watcher no longer starts the loop.
constexpr int restart_ends_allowed = 4;
constexpr uint64_t restart_window_ms = 10 * 60 * 1000;
constexpr uint64_t restart_first_delay_ms = 1000;
constexpr uint64_t restart_longest_delay_ms = 30 * 1000;

struct restart_record {
    uint64_t ends[restart_ends_allowed + 1];  // the unexpected ends within the window, oldest first
    int count;
    uint64_t delay_ms;  // the wait before the last start, 0 before any
};

void reset_restart_record(restart_record* record);

// Notes an unexpected end at now_ms (the watcher's clock). Returns the wait
// before the loop starts again: 1 s after an end with no other in the
// window, twice the last wait (at most 30 s) after one that follows others;
// -1 at the fifth end within ten minutes: the loop is not started again.
int64_t restart_delay(restart_record* record, uint64_t now_ms);

// The words for an exit code: Windows' name for the codes a crash ends a
// process with, else the number ("exit code 1").
std::string exit_cause(uint32_t code);

// Releases every key the table lists, on its keyboard, through a device set
// of its own (opened and closed here): plain keys before E0 keys, in code
// order, keyboard by keyboard. Appends to log one line naming each key
// released ("released keyboard 3 001d, keyboard 3 e038" or "it held no key")
// and one per release the driver refused. Returns the number released; -1
// when the driver cannot be opened (nothing released, the line says so).
int release_published(const published_keys* table, std::string* log);

// The watcher's lines around a release: the end and what comes next.
std::string loop_ended_line(uint32_t exit_code);
std::string restart_line(int64_t delay_ms);

#endif
