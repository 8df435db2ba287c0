#ifndef PADMAP_ENGINE_LET_GO_H
#define PADMAP_ENGINE_LET_GO_H

#include "engine/engine.h"

// Moments when padmap lets go of the keys it holds on the system, besides a
// stop and a keyboard that leaves; and what else changes which keyboards it
// captures.

// The session is locked, the system goes to sleep, or the session is
// disconnected: whatever comes up meanwhile would never reach padmap's
// outputs. Every output and every key passed on unchanged is released, on
// every keyboard; pending keys are forgotten; keys of the pads that are down
// send nothing more, at their repeats or when they come up, and a key that
// held a layer holds it no more (toggles stay).
void engine_let_go(engine* core, engine_actions* out);

// Pause: every filter is cleared (the pads type their own keys, and bring up
// through the system the keys padmap passed on) and every output is
// released; padmap forgets the keys that are down, with the layers they held.
// A keyboard met while paused is not captured, and a stroke read while
// paused (typed before) passes on as typed. Returns false when already
// paused (nothing done).
bool engine_pause(engine* core, engine_actions* out);

// Resume: the keyboards are to be asked again (check_keyboards), which
// captures them as before the pause. Returns false when not paused.
bool engine_resume(engine* core, engine_actions* out);

// New configuration: every keyboard is captured (check_keyboards) until the
// first press of one that no file names, which is swallowed and told in
// enrolled_device. A pause ends the wait. Returns false while paused.
bool engine_enroll(engine* core, engine_actions* out);

#endif
