#ifndef PADMAP_APP_GATED_CONSOLE_H
#define PADMAP_APP_GATED_CONSOLE_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

// Test support: a console that can be held. While closed, a write waits until
// it opens, as a write to a console with a selection in its window does.
struct gated_console {
    std::mutex lock;
    std::condition_variable opened;
    bool open = true;
    bool entered = false;  // a write has come while closed
    std::string text;
};

inline bool write_gated(void* context, const char* text, size_t size) {
    gated_console* console = static_cast<gated_console*>(context);
    std::unique_lock<std::mutex> hold(console->lock);
    if (!console->open) console->entered = true;
    console->opened.wait(hold, [console] { return console->open; });
    console->text.append(text, size);
    return true;
}

inline void set_open(gated_console* console, bool open) {
    std::lock_guard<std::mutex> hold(console->lock);
    console->open = open;
    if (open) console->entered = false;
    console->opened.notify_all();
}

// Waits until a write is held by the closed console.
inline void wait_until_blocked(gated_console* console) {
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(console->lock);
            if (console->entered) return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

inline std::string written(gated_console* console) {
    std::lock_guard<std::mutex> hold(console->lock);
    return console->text;
}

#endif
