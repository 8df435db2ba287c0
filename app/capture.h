#ifndef PADMAP_APP_CAPTURE_H
#define PADMAP_APP_CAPTURE_H

#include <cstdint>

#include "driver/device_set.h"

// Which keyboards remap mode captures is the engine's decision (only those a
// configuration names, and those whose id cannot be read yet); this is the
// driver's side of it: every filter request made only where a filter changes.
// Every other keyboard's strokes never reach padmap: if padmap is held, they
// still reach the system.

// A keyboard comes and goes without the system saying so only where its
// notification is lost; after this long without anything to do, padmap asks
// every keyboard again.
constexpr uint32_t keyboard_poll_ms = 5000;

// The filter padmap last set on each keyboard slot (0 when the set opened).
struct capture_filters {
    uint16_t filter[keyboard_count];
};

void reset_capture(capture_filters* capture);

// Sets keyboard 1-10's filter, with a request only where it changes. A
// refused request leaves the filter as it was: the next check tries again.
void apply_filter(device_set* set, capture_filters* capture, int device, uint16_t filter);

#endif
