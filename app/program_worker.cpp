#include "app/program_worker.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>

// A program as the queue keeps it, with its terminators.
struct program_job {
    item_kind kind;
    char16_t command[program_command_units + 1];
    char16_t folder[program_folder_units + 1];
    char shown[program_shown_bytes];
};

struct program_worker {
    std::mutex lock;
    std::condition_variable changed;  // a job came, a job was done, or the end was asked
    std::thread thread;
    program_starter start;
    program_report report;
    void* context;
    program_job jobs[program_queue_size];
    int head;
    int waiting;
    bool starting;   // the thread is starting a job, the lock let go
    bool idle;       // the thread sleeps until woken
    bool ending;     // finish_program_worker asked the thread to end
    bool abandoned;  // ... and gave up waiting: the thread frees the worker
};

namespace {

// Programs come in bursts (a key pressed again and again, a pad of launch
// keys). After a start the thread looks for more every millisecond for a
// while before it sleeps until woken, so that within a burst the loop never
// pays for waking it.
constexpr int quiet_looks = 20;
constexpr std::chrono::milliseconds look_interval(1);

void copy_job(program_job* into, const program_job& from) {
    into->kind = from.kind;
    std::memcpy(into->command, from.command, (std::char_traits<char16_t>::length(from.command) + 1) * 2);
    std::memcpy(into->folder, from.folder, (std::char_traits<char16_t>::length(from.folder) + 1) * 2);
    std::memcpy(into->shown, from.shown, std::strlen(from.shown) + 1);
}

void start_loop(program_worker* w) {
    std::unique_lock<std::mutex> hold(w->lock);
    int looks = 0;
    for (;;) {
        if (w->waiting == 0 && !w->ending) {
            if (looks < quiet_looks) {
                ++looks;
                hold.unlock();
                std::this_thread::sleep_for(look_interval);
                hold.lock();
                continue;
            }
            w->idle = true;
            w->changed.wait(hold, [w] { return w->waiting > 0 || w->ending; });
            w->idle = false;
        }
        if (w->ending && w->waiting == 0) break;
        looks = 0;
        // The job is copied out: its slot is free for the next hand-over
        // while the system starts the program.
        program_job job;
        copy_job(&job, w->jobs[w->head]);
        w->head = (w->head + 1) % program_queue_size;
        --w->waiting;
        w->starting = true;
        hold.unlock();
        char why[256] = {};
        bool started = w->start(job.kind, job.command, job.folder, why, sizeof why);
        hold.lock();
        // Said with the lock held: a worker given up on by the end of the
        // run says nothing, for the log may be gone.
        if (!started && !w->abandoned) {
            std::string line = std::string(job.shown) + " did not start: " + why + "\n";
            w->report(w->context, line.data(), line.size());
        }
        w->starting = false;
        w->changed.notify_all();
        if (w->abandoned) break;
    }
    bool free_it = w->abandoned;
    hold.unlock();
    if (free_it) {
        w->thread.detach();
        delete w;
    }
}

}  // namespace

program_worker* start_program_worker(program_starter start, program_report report, void* context) {
    program_worker* w = new (std::nothrow) program_worker;
    if (w == nullptr) return nullptr;
    w->start = start;
    w->report = report;
    w->context = context;
    w->head = 0;
    w->waiting = 0;
    w->starting = false;
    w->idle = false;
    w->ending = false;
    w->abandoned = false;
    w->thread = std::thread(start_loop, w);
    return w;
}

bool hand_program(program_worker* w, const program_order& order) {
    if (w == nullptr || order.command_units > static_cast<size_t>(program_command_units) ||
        order.folder_units > static_cast<size_t>(program_folder_units)) {
        return false;
    }
    std::lock_guard<std::mutex> hold(w->lock);
    if (w->waiting == program_queue_size) return false;
    program_job& job = w->jobs[(w->head + w->waiting) % program_queue_size];
    job.kind = order.kind;
    std::memcpy(job.command, order.command, order.command_units * sizeof(char16_t));
    job.command[order.command_units] = 0;
    std::memcpy(job.folder, order.folder, order.folder_units * sizeof(char16_t));
    job.folder[order.folder_units] = 0;
    size_t shown = std::strlen(order.shown);
    if (shown >= sizeof job.shown) shown = sizeof job.shown - 1;
    std::memcpy(job.shown, order.shown, shown);
    job.shown[shown] = 0;
    ++w->waiting;
    if (w->idle) w->changed.notify_all();
    return true;
}

bool finish_program_worker(program_worker* w, int limit_ms) {
    if (w == nullptr) return true;
    std::unique_lock<std::mutex> hold(w->lock);
    w->ending = true;
    w->changed.notify_all();
    bool done = w->changed.wait_for(hold, std::chrono::milliseconds(limit_ms < 0 ? 0 : limit_ms),
                                    [w] { return w->waiting == 0 && !w->starting; });
    if (!done && w->starting) {
        w->abandoned = true;
        return false;
    }
    // Programs still waiting are not started.
    w->waiting = 0;
    hold.unlock();
    w->thread.join();
    delete w;
    return done;
}
