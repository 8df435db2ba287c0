#include "app/program_worker.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>

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
    bool ending;     // finish_program_worker asked the thread to end
    bool abandoned;  // ... and gave up waiting: the thread frees the worker
};

namespace {

void start_loop(program_worker* w) {
    std::unique_lock<std::mutex> hold(w->lock);
    for (;;) {
        w->changed.wait(hold, [w] { return w->waiting > 0 || w->ending; });
        if (w->ending && w->waiting == 0) break;
        // The job is copied out: its slot is free for the next hand-over
        // while the system starts the program.
        program_job job = w->jobs[w->head];
        w->head = (w->head + 1) % program_queue_size;
        --w->waiting;
        w->starting = true;
        hold.unlock();
        char why[256] = {};
        if (!w->start(job.kind, job.command, job.folder, why, sizeof why)) {
            std::string line = std::string(job.shown) + " did not start: " + why + "\n";
            w->report(w->context, line.data(), line.size());
        }
        hold.lock();
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
    w->ending = false;
    w->abandoned = false;
    w->thread = std::thread(start_loop, w);
    return w;
}

bool hand_program(program_worker* w, const program_job& job) {
    if (w == nullptr) return false;
    std::lock_guard<std::mutex> hold(w->lock);
    if (w->waiting == program_queue_size) return false;
    w->jobs[(w->head + w->waiting) % program_queue_size] = job;
    ++w->waiting;
    w->changed.notify_all();
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
