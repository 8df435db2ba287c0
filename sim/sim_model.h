#ifndef PADMAP_SIM_SIM_MODEL_H
#define PADMAP_SIM_SIM_MODEL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/notices.h"
#include "driver/device_set.h"
#include "driver/os.h"
#include "engine/published_keys.h"
#include "sim/sim.h"

// The simulated driver's state, shared by its two faces: the platform seam
// (os-sim.cpp) and the test control (sim.cpp). Nothing else includes this.

constexpr int sim_max_handles = 256;  // a handle value keeps its slot in 8 bits
constexpr int sim_queue_capacity = 64;
constexpr int sim_max_blocks = 64;  // the program holds two at most: the set and one record
constexpr int sim_name_size = 40;

enum sim_handle_kind { sim_handle_free, sim_handle_device, sim_handle_event };

struct sim_handle {
    sim_handle_kind kind;
    os_handle value;
    int device;                      // the device number a device handle names
    bool signalled;                  // the state of an event
    bool keyboard_watch;             // an event the system sets when keyboards come and go
    bool folder_watch;               // an event the system sets when files of folder change
    std::string folder;              // UTF-8
    std::vector<std::string> names;  // the folder watch's files (UTF-8 names)
    bool named_changed;              // one of them changed since the watch was last asked
    bool lost;                       // the system dropped the watch (its folder went away)
};

// One captured record waiting for the program: 12 bytes for a key, 24 for a mouse.
struct sim_record {
    uint8_t bytes[mouse_record_size];
    uint32_t size;
};

struct sim_device {
    bool exists;
    bool has_id;
    bool id_unterminated;
    bool short_reads;
    bool held_elsewhere;  // another program has it open
    std::u16string id;
    uint16_t filter;
    os_handle event;  // registered by set-event; 0 when none
    sim_record queue[sim_queue_capacity];
    int head;
    int queued;
};

struct sim_failure {
    sim_step step;
    int occurrence;
};

struct sim_short_write {
    int occurrence;
    uint32_t bytes;
};

struct sim_model {
    sim_device devices[device_count + 1];  // by device number; [0] unused
    sim_handle handles[sim_max_handles];
    uint32_t next_serial;
    int open_handles;
    int signalled_events;  // so that a wait finds "none" without looking at each
    int live_blocks;
    void* blocks[sim_max_blocks];  // the live heap blocks, so a reset can free them

    std::vector<sim_typed> script;
    size_t script_next;
    sim_source source;
    void* source_context;
    sim_sink sink;
    void* sink_context;
    sim_said_sink said_sink;
    void* said_context;
    long text_events;  // of the next text, the most the system takes; -1: all
    bool elevated;
    sim_interrupt_hook interrupt_hook;
    void* interrupt_context;
    sim_request_sink request_sink;
    void* request_sink_context;
    int priority_raises;
    os_open_failure last_open_failure;
    uint32_t last_error;     // os_last_error: set by every step made to fail
    bool wait_fails;         // the wait in progress fails (sim_typed_fail_wait)
    uint32_t quiet_left_ms;  // of the quiet moment in progress
    uint64_t now_ms;         // the quiet that has passed since the reset: the clock (os_now_ms)
    uintptr_t front_window;  // 0: no window in front
    uint32_t windows_made;
    bool front_askable;  // its program can be asked
    std::u16string front_program;
    bool frozen;                  // the program is held: typing goes on without it
    bool killed;                  // sim_typed_crash happened: the wait answers os_wait_killed
    bool publishes_keys;          // os_published_keys answers the table below
    published_keys published;     // as a watcher's shared memory would hold it
    notice_queue* session_queue;  // where the session watch posts (os_watch_session), null: none

    sim_failure failures[sim_max_failures];
    int failure_count;
    sim_short_write short_writes[sim_max_failures];
    int short_write_count;
    int calls[sim_step_count];

    sim_request requests[sim_max_requests];
    int request_count;
    char open_names[sim_max_opens][sim_name_size];
    int open_count;
};

sim_model& sim_state();

// Counts one attempt of the step; true when that attempt is to fail.
bool sim_attempt(sim_step step);

// For the write request just attempted: true with *bytes lowered to the
// fewest it is to take when it is to be short; *bytes is left alone otherwise.
bool sim_shorten_write(uint32_t* bytes);

// The open handle with this value, or null.
sim_handle* sim_find_handle(os_handle value);

// Sets or clears an event, keeping the count of signalled events.
void sim_signal(sim_handle* event, bool signalled);

// A fresh handle of the kind, or null when the table is full.
sim_handle* sim_new_handle(sim_handle_kind kind);

// The device 1-20, or null when the number is out of range.
sim_device* sim_find_device(int device);

// Queues a record on the device and signals its registered event. Returns
// false when the queue is full (the record is lost, as with a real driver
// whose buffer overflows).
bool sim_capture(int device, const uint8_t* bytes, uint32_t size);

// Takes the oldest queued record; resets the event when the queue empties.
// Returns false when nothing is queued.
bool sim_take(int device, sim_record* record);

// True when any device holds a captured record.
bool sim_any_pending();

// Types the next scripted stroke: captured when its keyboard's filter is
// set, otherwise handed straight to the system; an interrupt goes to the
// interrupt hook. Returns false when the script is exhausted.
bool sim_type_next();

// Hands a record to the rest of the system through the sink.
void sim_deliver(int device, const key_stroke& key);

#endif
