#ifndef PADMAP_APP_RUN_H
#define PADMAP_APP_RUN_H

#include <cstddef>

#include "app/entry.h"
#include "app/held_keys.h"
#include "app/log_writer.h"
#include "driver/device_set.h"
#include "driver/strokes.h"

// What the run modes (identify, remap, monitor) share: the device set, the log
// and the output keys held on the system.
struct run_state {
    device_set* set;
    padmap_log_output output;
    log_writer* writer;
    held_keys held;
};

// When the driver cannot be used, says why in one line, closes the set and
// returns false: not one device could be opened (missing, or held by another
// program, or refused), or the set could not be opened at all.
bool driver_usable(run_state* run);

// Starts the log: from here on text goes through log_line, never straight to
// the console.
void start_log(run_state* run);
void log_line(run_state* run, const char* text, size_t size);

// The next stroke the driver delivers. False when it delivers none or a stop
// was asked for (the stroke in hand is done by then).
bool next_stroke(run_state* run, int* device, stroke* received);

// The hardware id of the device into hardware_id_buffer; false when the
// driver gives none that can be used (no answer, or a full buffer).
bool fetch_hardware_id(device_set* set, int device);

// Sends a key stroke to a keyboard and notes in run->held what the driver took.
int send_key(void* run, int device, const key_stroke* key);

// Releases what is held, lets the keyboards go, then waits (a bounded time) for
// the console to take the rest of the log.
void end_run(run_state* run);

int run_identify(run_state* run);
// Remap mode with count (1 to max_config_files) configuration files.
int run_remap(run_state* run, int count, const char16_t* const* paths);
int run_monitor(run_state* run);

#endif
