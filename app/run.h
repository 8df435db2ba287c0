#ifndef PADMAP_APP_RUN_H
#define PADMAP_APP_RUN_H

#include <cstddef>
#include <cstdint>

#include "app/entry.h"
#include "app/log_writer.h"
#include "driver/device_set.h"
#include "driver/strokes.h"

// What the run modes (identify, remap, monitor) share: the device set and the
// log.
struct notice_queue;
struct loop_report;

struct run_state {
    device_set* set;  // owned: closed by end_run, or by the entry on any other way out
    padmap_log_output output;
    log_writer* writer;
    notice_queue* notices;  // what other threads tell the loop through; null: remap mode makes its own
    loop_report* report;    // where remap mode tells what it captures; null: nowhere
};

// How a run ended.
enum run_end {
    run_stopped,      // a stop was asked for (Ctrl+C, the window closed, log off)
    run_done,         // the mode did what it was run for (identify named a keyboard)
    run_input_over,   // the driver gives no more input: a replayed session's end
    run_wait_failed,  // the wait for input failed
    run_read_failed,  // a read of a stroke failed
    run_killed,       // the simulated process was killed: the run ends at once, releasing nothing
};

struct run_outcome {
    run_end end;
    uint32_t error;  // run_wait_failed, run_read_failed: the system's error; 0 for a partial answer
};

// The words a run's end is said with (a line with its end, or empty for an
// end that says nothing), into out (cap bytes); returns the length.
size_t run_end_line(const run_outcome& outcome, char* out, size_t cap);

// The exit status of a run that ended so: 1 for a failure of the driver,
// 0 otherwise.
int run_end_status(const run_outcome& outcome);

// When the driver cannot be used, says why in one line, closes the set and
// returns false: not one device could be opened (missing, or held by another
// program, or refused), or the set could not be opened at all.
bool driver_usable(run_state* run);

// Starts the log: from here on text goes through log_line, never straight to
// the console.
void start_log(run_state* run);
void log_line(run_state* run, const char* text, size_t size);

// The hardware id of the device into id (hardware_id_units units); false
// when the driver gives none that can be used (no answer, or a full buffer).
bool fetch_hardware_id(device_set* set, int device, char16_t* id);

// Says how the run ended (a failure's line goes to the log), closes the set
// (the keyboards are free), then waits (a bounded time) for the console to
// take the rest of the log. Returns the exit status.
int end_run(run_state* run, const run_outcome& outcome);

int run_identify(run_state* run);
// Remap mode with count (1 to max_config_files) configuration files.
int run_remap(run_state* run, int count, const char16_t* const* paths);
int run_monitor(run_state* run);

#endif
