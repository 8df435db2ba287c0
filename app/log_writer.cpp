#include "app/log_writer.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "console/console.h"

struct log_writer {
    log_sink sink;
    void* context;
    std::mutex lock;
    std::condition_variable text_waiting;  // the thread sleeps on it while there is nothing to write
    std::condition_variable all_written;   // finish_log_writer sleeps on it
    std::thread thread;
    bool idle;               // the thread sleeps and must be woken for new text
    bool ending;             // finish_log_writer asked the thread to end
    bool abandoned;          // ... and gave up waiting: the thread frees the writer
    bool failed;             // the console failed for good: text is dropped
    size_t capacity;         // the part of the ring in use
    size_t head;             // where the unwritten text starts in the ring
    size_t used;             // unwritten bytes, the piece being written included
    unsigned long left_out;  // lines left out since the last notice
    char ring[log_buffer_bytes];
};

namespace {

constexpr size_t notice_bytes = 96;

// Log text comes in bursts (a stroke, a repeat, a chord). After a piece the
// thread looks for more every millisecond for a while before it sleeps until
// woken, so that within a burst the loop never pays for waking it.
constexpr int quiet_looks = 20;
constexpr std::chrono::milliseconds look_interval(1);
// How soon a console that took nothing is offered the text again.
constexpr std::chrono::milliseconds busy_interval(10);

// What snprintf put into a buffer of cap bytes, without the NUL.
size_t printed(int length, size_t cap) {
    if (length < 0) return 0;
    return static_cast<size_t>(length) < cap ? static_cast<size_t>(length) : cap - 1;
}

unsigned long count_lines(const char* text, size_t size) {
    unsigned long lines = 0;
    for (size_t i = 0; i < size; ++i) lines += text[i] == '\n';
    return lines;
}

// Called with the lock held and room for the text.
void put(log_writer* w, const char* text, size_t size) {
    size_t tail = (w->head + w->used) % w->capacity;
    size_t first = size < w->capacity - tail ? size : w->capacity - tail;
    std::memcpy(w->ring + tail, text, first);
    std::memcpy(w->ring, text + first, size - first);
    w->used += size;
}

// Called with the lock held. The notice goes in when it fits along with what
// follows it (extra bytes), so it stands exactly where lines were left out.
bool put_notice(log_writer* w, size_t extra) {
    if (w->left_out == 0) return true;
    char notice[notice_bytes];
    size_t size = left_out_notice(w->left_out, notice, sizeof notice);
    if (size + extra > w->capacity - w->used) return false;
    put(w, notice, size);
    w->left_out = 0;
    return true;
}

void write_loop(log_writer* w) {
    std::unique_lock<std::mutex> hold(w->lock);
    int quiet = 0;
    for (;;) {
        while (w->used == 0 && !w->ending) {
            if (quiet < quiet_looks) {
                ++quiet;
                w->text_waiting.wait_for(hold, look_interval);
                continue;
            }
            w->idle = true;
            w->text_waiting.wait(hold);
            w->idle = false;
        }
        quiet = 0;
        // Once the end of the run stopped waiting for this console nothing
        // more is written, so no text of this run comes after whatever the
        // process writes next.
        if (w->used == 0 || w->abandoned) {
            bool abandoned = w->abandoned;
            hold.unlock();
            if (abandoned) delete w;
            return;
        }
        size_t size = w->used < w->capacity - w->head ? w->used : w->capacity - w->head;
        if (size > log_piece_bytes) size = log_piece_bytes;
        const char* text = w->ring + w->head;
        hold.unlock();
        // The loop only ever adds behind the unwritten text, so this piece
        // stays as it is while the lock is let go.
        log_sink_answer answer = w->sink(w->context, text, size);
        if (answer.state == log_sink_failed) {
            answer.why[log_why_bytes - 1] = 0;
            char notice[notice_bytes + log_why_bytes];
            console_write(console_err, notice, log_failed_notice(answer.why, notice, sizeof notice));
            console_flush(console_err);
        }
        hold.lock();
        if (answer.state == log_sink_busy) {
            w->text_waiting.wait_for(hold, busy_interval);
            continue;
        }
        if (answer.state == log_sink_failed) {
            w->failed = true;
            w->used = 0;
            w->left_out = 0;
            w->all_written.notify_all();
            continue;
        }
        w->head = (w->head + size) % w->capacity;
        w->used -= size;
        // The console took text again: say at once what it missed.
        put_notice(w, 0);
        if (w->used == 0) w->all_written.notify_all();
    }
}

}  // namespace

size_t left_out_notice(unsigned long lines, char* out, size_t cap) {
    return printed(std::snprintf(out, cap, "... %lu log line%s left out while the console was blocked\n", lines,
                                 lines == 1 ? "" : "s"),
                   cap);
}

size_t log_failed_notice(const char* why, char* out, size_t cap) {
    return printed(
        std::snprintf(out, cap, "padmap: the log can no longer be written (%s); padmap goes on without it\n", why),
        cap);
}

log_writer* start_log_writer(log_sink sink, void* context, size_t capacity) {
    if (capacity == 0 || capacity > log_buffer_bytes) return nullptr;
    log_writer* w = new (std::nothrow) log_writer;
    if (w == nullptr) return nullptr;
    w->capacity = capacity;
    w->sink = sink;
    w->context = context;
    w->idle = false;
    w->ending = false;
    w->abandoned = false;
    w->failed = false;
    w->head = 0;
    w->used = 0;
    w->left_out = 0;
    w->thread = std::thread(write_loop, w);
    return w;
}

void log_text(log_writer* w, const char* text, size_t size) {
    if (w == nullptr || size == 0) return;
    std::lock_guard<std::mutex> hold(w->lock);
    if (w->failed) return;
    if (!put_notice(w, size) || size > w->capacity - w->used) {
        w->left_out += count_lines(text, size);
        return;
    }
    put(w, text, size);
    if (w->idle) w->text_waiting.notify_one();
}

bool finish_log_writer(log_writer* w, int limit_ms) {
    if (w == nullptr) return true;
    bool all = false;
    bool failed = false;
    {
        std::unique_lock<std::mutex> hold(w->lock);
        put_notice(w, 0);
        if (w->idle) w->text_waiting.notify_one();
        auto done = [w] { return w->used == 0 && w->left_out == 0; };
        if (limit_ms < 0) {
            w->all_written.wait(hold, done);
            all = true;
        } else {
            all = w->all_written.wait_for(hold, std::chrono::milliseconds(limit_ms), done);
        }
        failed = w->failed;
        w->ending = true;
        w->abandoned = !all;
        w->text_waiting.notify_one();
        // The thread is stuck on a console that takes nothing, or offers it
        // the text again and again. It is left to free the writer once the
        // console takes the piece in hand, or to go with the process; the
        // rest of the text is left out.
        if (!all) w->thread.detach();
    }
    if (!all) return false;
    w->thread.join();
    delete w;
    return !failed;
}
