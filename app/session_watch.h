#ifndef PADMAP_APP_SESSION_WATCH_H
#define PADMAP_APP_SESSION_WATCH_H

#include "app/notices.h"

// Listening for the session being locked and unlocked, disconnected and
// connected again, and the system going to sleep and waking: each is posted
// to a notice queue as it happens. app/session_watch-win32.cpp binds it to
// Windows (the session-change and power-broadcast messages, which come to a
// window: a hidden one, on a thread of its own that does nothing but post);
// sim/session_watch-sim.cpp to the simulated system.
struct os_session_watch;

// Starts listening; the queue must outlive the watch. Returns null when the
// system cannot be listened to.
os_session_watch* os_watch_session(notice_queue* queue);

// Stops listening; null is ignored. Waits a bounded time (two seconds) for
// the listening thread; returns false when it did not end (it is left to end
// on its own, and posts nothing more).
bool os_unwatch_session(os_session_watch* watch);

#endif
