#ifndef PADMAP_APP_NOTICES_H
#define PADMAP_APP_NOTICES_H

#include <atomic>
#include <cstdint>
#include <mutex>

#include "driver/os.h"

// What the key loop is told besides strokes: the system's news of the
// session and of sleep, and the commands of padmapw's tray and of its
// control channel. Posted from any thread, taken by the loop once its wait
// wakes on the queue's event: nobody waits for the loop, and the loop waits
// for nobody.

enum loop_notice : uint8_t {
    notice_lock,        // the session is locked
    notice_unlock,      // ... unlocked
    notice_suspend,     // the system goes to sleep
    notice_wake,        // ... woke up
    notice_disconnect,  // the session is disconnected (another user's, a remote one)
    notice_connect,     // ... connected again
    notice_reload,      // read every configuration again
    notice_pause,       // let every keyboard type its own keys
    notice_resume,      // capture again
    notice_quit,        // end the run, as a stop does
    notice_enroll,      // New configuration: wait for a key of a keyboard no file names
    notice_kinds
};

// More than anyone can click or the system can say between two wakes of
// the loop.
constexpr int notice_queue_size = 64;

struct notice_queue {
    std::mutex lock;
    loop_notice waiting[notice_queue_size];
    int first;
    int count;
    os_handle event;  // manual reset: set while a notice waits
};

// What the loop tells of itself to padmapw's tray, from its own thread: the
// keyboards it captures, whether it is paused, and the files whose save it
// refused. changed (may be null) is
// called on the loop's thread after each change, enrolled (may be null) with
// the NUL-terminated id of the keyboard a New configuration picked, arrived
// (may be null) with the path (UTF-8, as given) of the file that names a
// keyboard plugged in for the first time since the loop started (not one
// there at its start, nor one plugged in again); none may wait.
struct loop_report {
    std::atomic<int> keyboards;
    std::atomic<bool> paused;
    std::atomic<uint32_t> refused;  // the files (bit i for the i-th) whose last save was not reloaded
    void (*changed)(void* context);
    void (*enrolled)(void* context, const char16_t* id);
    void (*arrived)(void* context, const char* file);
    void* context;
};

// Makes the queue's event. Returns false when it cannot be made (the queue
// is then unusable: post_notice refuses).
bool open_notice_queue(notice_queue* queue);
void close_notice_queue(notice_queue* queue);

// Appends the notice and sets the event; safe from any thread. Returns false
// when the queue is full or not open (the notice is lost).
bool post_notice(notice_queue* queue, loop_notice notice);

// Moves the notices waiting, oldest first, into taken (at most cap) and
// resets the event once none is left; returns how many.
int take_notices(notice_queue* queue, loop_notice* taken, int cap);

#endif
