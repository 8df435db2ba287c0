#include "app/stop.h"

#include <atomic>
#include <mutex>

#include "driver/device_set.h"

namespace {

// The console calls its stop handler with no context of ours, so the request
// and the set it must wake live here, for the whole process.
std::atomic<bool> stop_flag(false);
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");
std::mutex watched_lock;
device_set* watched = nullptr;

}  // namespace

void request_stop() {
    stop_flag.store(true);
    std::lock_guard<std::mutex> hold(watched_lock);
    wake_device_wait(watched);
}

void note_stop_signal() {
    stop_flag.store(true);
}

bool stop_requested() {
    return stop_flag.load();
}

void watch_for_stop(device_set* set) {
    std::lock_guard<std::mutex> hold(watched_lock);
    watched = set;
}

void reset_stop() {
    stop_flag.store(false);
    watch_for_stop(nullptr);
}
