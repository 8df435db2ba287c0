#ifndef PADMAP_APP_STOP_H
#define PADMAP_APP_STOP_H

struct device_set;

// A stop asked for from outside the key loop: Ctrl+C, Ctrl+Break, the console
// window closed, logoff or shutdown, SIGINT or SIGTERM, or an interrupt in a
// replayed session. The loop looks at it once a stroke is done, so the
// stroke in hand always finishes its sends.

// Asks the loop to stop and wakes its wait. Safe from any thread (it takes a
// lock: not from a signal handler).
void request_stop();

// Asks the loop to stop without waking it. Safe from a signal handler.
void note_stop_signal();

bool stop_requested();

// The set whose wait request_stop wakes; null when the loop no longer waits.
// The loop clears it before it closes the set.
void watch_for_stop(device_set* set);

// Forgets a stop request, for a new run in the same process.
void reset_stop();

#endif
