#ifndef PADMAP_SIM_SIM_H
#define PADMAP_SIM_SIM_H

#include <cstddef>
#include <cstdint>

#include "driver/strokes.h"

// Control of the simulated filter driver that os-sim.cpp puts behind the
// platform seam. It models the real driver: devices that exist or not, their
// hardware ids, per-device queues, the filter, manual-reset input events, and
// what reaches the rest of the system. Tests and padmap-replay drive it.

// The steps a test can make fail.
enum sim_step {
    sim_step_open,          // a device open
    sim_step_event,         // event creation
    sim_step_set_event,     // the set-event request
    sim_step_alloc,         // a heap allocation
    sim_step_read,          // a read request
    sim_step_write,         // a write request
    sim_step_hardware_id,   // a hardware-id request
    sim_step_wait,          // a wait
    sim_step_folder_watch,  // the start of a folder's watch
    sim_step_count
};

// The error a step made to fail leaves for os_last_error: ERROR_GEN_FAILURE,
// as a driver that breaks answers.
constexpr uint32_t sim_failure_error = 31;

// Forgets every device, stroke, failure, counter and sink, and frees the heap
// blocks the program left, as the end of its process would.
void sim_reset();

// Device number 1-20 exists. id is UTF-8 text (may be empty); null means the
// device has no id and its hardware-id request fails. A second declaration of
// the same number replaces the first. Returns false for a number out of range.
bool sim_declare_device(int device, const char* id);

// The device answers its id without the terminator (2*len bytes), as a driver
// is free to do. Returns false for a device not declared.
bool sim_omit_id_terminator(int device);

// Another program holds the device: opening it fails as "in use". Returns
// false for a device not declared.
bool sim_hold_elsewhere(int device);

// The device answers every read one byte short of a whole record (the record
// is used up all the same), as a faulty driver might. Returns false for a
// device not declared.
bool sim_answer_short_reads(int device);

// Something that happens on the user's side: a stroke typed on a keyboard,
// the console asking the program to stop, a keyboard whose hardware id
// changes (unplugged and another plugged in, say), a quiet moment, or the
// program held and let go again.
enum sim_typed_kind {
    sim_typed_key,           // key typed on keyboard device
    sim_typed_interrupt,     // device and key unused
    sim_typed_id,            // device answers with id from now on (UTF-8, null: no id); the
                             // system tells every keyboard watch (os_watch_keyboards)
    sim_typed_unnoticed_id,  // as sim_typed_id, but the system's notice is lost: no watch is told
    sim_typed_pause,         // pause_ms of quiet: a timed wait of the program may run out in it
    sim_typed_freeze,        // the program is held: what follows is typed without waiting for it
    sim_typed_thaw,          // the program goes on and takes what waits
    sim_typed_files,         // file (UTF-8 name; null: a file every watch listens for) of folder (UTF-8)
                             // changed: every watch of that folder is told; a quiet moment of
                             // sim_settle_ms follows, as an editor's save takes
    sim_typed_front,         // a window of program id (UTF-8 file name; null: no window) comes to the front
    sim_typed_folder_lost,   // every watch of folder (UTF-8) is lost, as when the folder is renamed or its
                             // drive goes: each is signalled and tells of its loss
    sim_typed_fail_wait,     // the program's wait fails as a driver that breaks would fail it
    sim_typed_fail_read,     // the program's next read fails so: the lowest keyboard with a filter
                             // is signalled for it
    sim_typed_crash,         // the program is killed: its wait answers os_wait_killed; sim_killed says
                             // so until sim_restart
    sim_typed_notice,        // notice (a loop_notice) is posted to the session watch's queue, if any:
                             // the session locked, the system asleep, a command of the tray
};

struct sim_typed {
    int device;
    key_stroke key;
    sim_typed_kind kind = sim_typed_key;
    const char* id = nullptr;  // read when it happens; need not outlive the call
    uint32_t pause_ms = 0;
    const char* folder = nullptr;  // sim_typed_files; read when it happens
    const char* file = nullptr;    // sim_typed_files; read when it happens
    int notice = 0;                // sim_typed_notice
};

// The quiet after files change: long enough for a program to let a burst of
// writes settle before it reads them.
constexpr uint32_t sim_settle_ms = 1000;

// Called when the script reaches an interrupt, as the console calls the
// program's stop handler. Without a hook an interrupt does nothing.
typedef void (*sim_interrupt_hook)(void* context);
void sim_set_interrupt_hook(sim_interrupt_hook hook, void* context);

// Appends one stroke to the script. Strokes are typed one at a time in order:
// the next is typed only when the program waits and no stroke is pending,
// or at once while the program is held (between a freeze and a thaw, or the
// end of the script). Time passes only in quiet moments: a wait with a time
// limit runs out only when a quiet moment at least that long comes next, and
// takes that much of it.
void sim_type(int device, key_stroke key);

// Appends anything else that happens to the script.
void sim_happen(const sim_typed& happening);

// Instead of sim_type: strokes drawn one at a time from a source, so a script of
// any length takes no memory. The source returns false when it has no more.
typedef bool (*sim_source)(void* context, sim_typed* next);
void sim_set_source(sim_source source, void* context);

// Called for every record that reaches the rest of the system, in order: a
// stroke typed on an unfiltered keyboard, or one the program wrote. Mouse
// records written are passed with their key-sized prefix fields zeroed.
typedef void (*sim_sink)(void* context, int device, const key_stroke* key);
void sim_set_sink(sim_sink sink, void* context);

// Called for what else reaches the system, in order among the records, as a
// line without its LF: "text " and the text as the configuration writes it
// for a text typed; "run " or "open " and the command or target for a
// program handed to be started.
typedef void (*sim_said_sink)(void* context, const char* said);
void sim_set_said_sink(sim_said_sink sink, void* context);

// The system takes at most events key events of the next text typed (as
// when a window of a program with higher rights is in front); a negative
// count: all of them again.
void sim_take_text_events(long events);

// padmap runs with administrator rights (os_elevated), or not.
void sim_set_elevated(bool elevated);

// Something moved on a mouse: queues the driver's raw 24-byte mouse record on
// mouse device 11-20 as captured input and signals its event. Returns false
// for a keyboard, an undeclared device or a full queue.
bool sim_queue_mouse_record(int device, const uint8_t record[mouse_record_size]);

// The occurrence-th call (1 = the first since the reset) of the step fails.
// Each call adds a failure; one is forgotten once its call has passed, so
// any number may be added as calls go on. sim_reset clears them. Returns
// false when sim_max_failures wait already (none is added).
constexpr int sim_max_failures = 64;
bool sim_fail_at(sim_step step, int occurrence);

// The occurrence-th write request (counted as sim_fail_at counts them) takes
// at most bytes of what it offers: the whole records among them reach the
// system and the request reports the bytes taken, whole records or not, as a
// faulty driver might. Of two at one request the fewer bytes hold; a failure
// of that request wins. Forgotten and limited as failures are; returns false
// when sim_max_failures wait already.
bool sim_short_write_at(int occurrence, uint32_t bytes);

// How many times each step was attempted since the reset.
int sim_step_calls(sim_step step);

// Handles (devices and events) open now, and heap blocks not yet freed.
int sim_open_handles();
int sim_live_blocks();

// Every device-control request since the reset, in order, for tests that check
// what was asked. Only the first sim_max_requests are kept.
struct sim_request {
    int device;  // the device the handle names, 0 for a handle that is no open device
    uint32_t code;
    uint8_t input[24];  // the first bytes of the input buffer
    uint32_t input_size;
    uint32_t output_size;
    bool done;          // the driver completed the request
    uint32_t returned;  // the bytes it reported, 0 when not done
};
constexpr int sim_max_requests = 4096;
int sim_request_count();
const sim_request* sim_requests();

// Called for every request as it completes, however many there are.
typedef void (*sim_request_sink)(void* context, const sim_request* request);
void sim_set_request_sink(sim_request_sink sink, void* context);

// True when the input field of a set-event request names one of the
// program's events (the handle in its low four bytes, zero above them).
bool sim_names_event(const sim_request& request);

// How many times the program asked for its process priority to be raised.
int sim_priority_raises();

// The name each open attempt used, in order (first sim_max_opens kept).
constexpr int sim_max_opens = 64;
int sim_open_count();
const char* sim_opened_name(int index);

// The filter the program last set on a device (0 when none).
uint16_t sim_filter(int device);

// Keyboard watches the program holds now (os_watch_keyboards).
int sim_keyboard_watches();

// The window in front: a window of the program (UTF-8 file name), or none
// (null). A program that cannot be asked is "" (its window is there, but
// padmap cannot learn whose it is). Each call brings a new window to the front.
void sim_bring_to_front(const char* program);

// True once the program was killed (sim_typed_crash), until sim_restart.
bool sim_killed();
// The killed program's process is gone: the driver drops every filter it
// set (its keyboards type straight to the system) and the strokes it
// captured but never read. The program may start again: the devices stay,
// the script goes on where it stopped.
void sim_restart();

// Time passes while the program is not there (ms on its clock).
void sim_let_time_pass(uint32_t ms);
// What is left of the script happens with no program there: keyboards type
// straight to the system.
void sim_type_rest();

// From here until the reset os_published_keys answers a table of the
// simulation's, as it answers padmapw's key loop; sim_published_keys is that
// table, as the watcher reads it.
void sim_publish_keys();
struct published_keys;
const published_keys* sim_published_keys();

// Folder watches the program holds now (os_watch_folder), and the folder of
// the index-th of them (UTF-8), or null.
int sim_folder_watches();
const char* sim_watched_folder(int index);

#endif
