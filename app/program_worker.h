#ifndef PADMAP_APP_PROGRAM_WORKER_H
#define PADMAP_APP_PROGRAM_WORKER_H

#include <cstddef>

#include "keymap/config_items.h"

// The worker that starts programs beside the key loop: the loop hands a
// program over and goes on at once; the worker starts the programs in the
// order handed, one at a time, and reports each start that fails.

// A program's command line or target, and its folder, without their
// terminators: a configuration line holds at most 1023 units.
constexpr int program_command_units = 1023;
constexpr int program_folder_units = 1023;
constexpr int program_shown_bytes = 96;

// A program to hand over: what it points to is copied at the hand-over.
struct program_order {
    item_kind kind;
    const char16_t* command;
    size_t command_units;  // at most program_command_units
    const char16_t* folder;
    size_t folder_units;  // at most program_folder_units
    const char* shown;    // how the log names it (UTF-8, NUL-terminated, cut to program_shown_bytes - 1)
};

// Programs handed and not yet started: beyond them a hand-over is refused.
constexpr int program_queue_size = 16;

// What starts one program (os_start_program, or a test's own): false with
// the system's words in why.
typedef bool (*program_starter)(item_kind kind, const char16_t* command, const char16_t* folder, char* why, size_t cap);

// Where a failed start is said: whole lines, from the worker's thread, with
// the worker's lock held (it must not hand a program over itself).
typedef void (*program_report)(void* context, const char* text, size_t size);

struct program_worker;

// Starts the worker's thread. Returns null when there is no memory for it.
program_worker* start_program_worker(program_starter start, program_report report, void* context);

// Hands a program over; never waits for one to start, and wakes the worker
// only when it sleeps. Returns false (the program is not started) when
// program_queue_size wait already, a length is out of bounds, or worker is
// null.
bool hand_program(program_worker* worker, const program_order& order);

// Waits up to limit_ms for the programs handed to be started, then ends the
// worker. Returns true when all were. Otherwise those still waiting are not
// started, and a thread still starting one ends (freeing the worker) once
// that start returns, or goes with the process; it reports nothing more.
// Null is ignored.
bool finish_program_worker(program_worker* worker, int limit_ms);

#endif
