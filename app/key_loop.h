#ifndef PADMAP_APP_KEY_LOOP_H
#define PADMAP_APP_KEY_LOOP_H

#include "app/run.h"

// The one key loop of every run mode: it waits for input (the driver, a stop,
// and in remap mode the system's notices and the engine's time), reads each
// stroke and hands it to the mode's handler, until the run ends.

struct monitor_view;
struct remap_session;

enum loop_mode { loop_identify, loop_monitor, loop_remap };

// The mode and its state (monitor: monitor; remap: remap).
struct stroke_handler {
    loop_mode mode;
    monitor_view* monitor;
    remap_session* remap;
};

// Runs until a stop is asked for, the handler is done, the input is over or
// the driver fails; the stroke in hand always finishes.
run_outcome run_key_loop(run_state* run, const stroke_handler& handler);

// What each mode does with a stroke of device 1-20: true to go on.
bool identify_stroke(run_state* run, int device, const stroke& received);
bool monitor_stroke(run_state* run, monitor_view* monitor, int device, const stroke& received);
bool remap_stroke(remap_session* remap, int device, const stroke& received);

// Remap mode's part of the wait: the handles it waits on besides the devices
// (count of them, at most input_max_others, valid until the next call) and
// how long the wait may last (os_wait_infinite: no limit); it may do what is
// due first (read saved files again). remap_quiet: the time ran out;
// remap_signalled: other handle k of those it gave is signalled.
struct remap_wait {
    const os_handle* others;
    int count;
    uint32_t limit_ms;
};
remap_wait remap_before_wait(remap_session* remap);
void remap_quiet(remap_session* remap);
void remap_signalled(remap_session* remap, int k);

#endif
