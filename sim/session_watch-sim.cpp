#include "app/session_watch.h"
#include "sim/sim_model.h"

// The simulated system has one session: its news goes to the latest watch.
struct os_session_watch {
    notice_queue* queue;
};

os_session_watch* os_watch_session(notice_queue* queue) {
    sim_state().session_queue = queue;
    return new os_session_watch{queue};
}

bool os_unwatch_session(os_session_watch* watch) {
    if (watch == nullptr) return true;
    if (sim_state().session_queue == watch->queue) sim_state().session_queue = nullptr;
    delete watch;
    return true;
}
