#ifndef PADMAP_TESTS_SUPPORT_GATED_CONSOLE_H
#define PADMAP_TESTS_SUPPORT_GATED_CONSOLE_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "app/log_writer.h"

// Test support: a console that can be held. While closed, a write waits until
// it opens, as a write to a console with a selection in its window does.
// Tests wait for what the console saw, never for an amount of time.
struct gated_console {
    std::mutex lock;
    std::condition_variable changed;  // opened or closed, a write held, text taken
    bool open = true;
    bool entered = false;  // a write has come while closed
    std::string text;
};

// No wait of a test comes near this; only a hang reaches it.
constexpr std::chrono::seconds gated_console_guard(60);

inline log_sink_answer write_gated(void* context, const char* text, size_t size) {
    gated_console* console = static_cast<gated_console*>(context);
    std::unique_lock<std::mutex> hold(console->lock);
    if (!console->open) {
        console->entered = true;
        console->changed.notify_all();
    }
    console->changed.wait(hold, [console] { return console->open; });
    console->text.append(text, size);
    console->changed.notify_all();
    return log_sink_answer{log_sink_took, ""};
}

inline void set_open(gated_console* console, bool open) {
    std::lock_guard<std::mutex> hold(console->lock);
    console->open = open;
    if (open) console->entered = false;
    console->changed.notify_all();
}

// Waits until a write is held by the closed console; false after the guard.
inline bool wait_until_blocked(gated_console* console) {
    std::unique_lock<std::mutex> hold(console->lock);
    return console->changed.wait_for(hold, gated_console_guard, [console] { return console->entered; });
}

// Waits until the text written so far satisfies the test; false after the guard.
template <typename Test>
bool wait_for_text(gated_console* console, Test test) {
    std::unique_lock<std::mutex> hold(console->lock);
    return console->changed.wait_for(hold, gated_console_guard, [console, &test] { return test(console->text); });
}

inline std::string written(gated_console* console) {
    std::lock_guard<std::mutex> hold(console->lock);
    return console->text;
}

// Ends the test program when what it guards hangs, rather than hanging the
// suite until its time limit: a key loop that waited for a held console would
// never get to open it again.
struct watchdog {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::thread thread;
    explicit watchdog(const char* what, std::chrono::seconds limit = gated_console_guard)
        : thread([this, what, limit] {
              std::unique_lock<std::mutex> hold(lock);
              if (!finished.wait_for(hold, limit, [this] { return done; })) {
                  std::fprintf(stderr, "%s hung\n", what);
                  std::_Exit(1);
              }
          }) {}
    ~watchdog() {
        {
            std::lock_guard<std::mutex> hold(lock);
            done = true;
        }
        finished.notify_one();
        thread.join();
    }
};

// Empty when the two texts are equal; otherwise where they first differ, with
// a little of each around it. Logs of a megabyte compare in one pass, where a
// line-by-line difference would take minutes and gigabytes.
inline std::string first_difference(const std::string& expected, const std::string& actual) {
    if (expected == actual) return "";
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    size_t from = at > 60 ? at - 60 : 0;
    return "the texts differ at byte " + std::to_string(at) + " (expected " + std::to_string(expected.size()) +
           " bytes, got " + std::to_string(actual.size()) + ")\n--- expected from byte " + std::to_string(from) +
           ":\n" + expected.substr(from, 160) + "\n--- got:\n" + actual.substr(from, 160);
}

#endif
