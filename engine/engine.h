#ifndef PADMAP_ENGINE_ENGINE_H
#define PADMAP_ENGINE_ENGINE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/actions.h"
#include "engine/held_outputs.h"
#include "engine/layers.h"
#include "engine/pressed_keys.h"
#include "engine/seen_keyboards.h"
#include "engine/translate.h"
#include "keymap/config.h"
#include "keymap/key_stroke.h"

// Remap mode's decisions, with no operating system, driver or console in
// them: events come in (a keyboard's stroke, a keyboard seen in its slot, the
// program in front, files read again, a stop, a send the driver refused) and
// actions go out (engine_actions). The loop around it waits, reads, asks ids
// and carries the actions out.

// A configuration in use, with what its log lines start with.
struct engine_file {
    std::string shown;                                  // its path as UTF-8
    char line_prefix[log_prefix_max];                   // its log lines' start; empty with one file
    char section_prefix[max_sections][log_prefix_max];  // ... those of a stroke a section translates
    char layer_prefix[max_layers][log_prefix_max];      // ... those of a stroke a layer translates
    config layout;
};

// Everything remap mode decides by; large (a key table per file): it lives on
// the heap.
struct engine {
    int file_count;
    engine_file files[max_config_files];
    int keyboard_file[keyboard_count];       // the file each slot's keyboard followed when last seen, -1: none
    bool after_e1[keyboard_count];           // each keyboard's memory for is_pause_stroke
    held_outputs outputs;                    // what padmap holds down on the system
    pressed_keys pressed;                    // the pads' keys that are down, with what their press found
    keyboard_layers layers[keyboard_count];  // the layers that are on, per keyboard
    uint32_t presses;                        // the presses of keys with a hold, counted
    int pending;                             // the keys pending now, on every keyboard
    engine_actions* out;                     // where the event in hand asks for actions
    bool programs_refused;                   // padmap runs with administrator rights: a file read again
                                             // loses its run and open lines
    std::string front_program;               // the program in front (UTF-8), empty when none or it cannot be asked
    int in_front[max_config_files];          // each file's section for that program, -1 for none
    bool sections_known[max_config_files];
    config fresh;         // a file read again, before it replaces the layout in use
    bool paused;          // every filter cleared until resumed
    bool enrolling;       // every keyboard captured until one no file names is pressed
    seen_keyboards seen;  // every keyboard seen in a slot since the engine started
    uint32_t refused;     // the files (bit i for file i) whose text the last reload refused: their layout
                          // in use is older than what they hold
};

// Makes a fresh engine for count files (1 to max_config_files) whose
// layouts the caller has loaded into files[i].layout and whose paths are
// shown: nothing held, no keyboard seen, no program in front.
void start_engine(engine* core, int count, const std::string* shown);

// The file, other than except, that names the keyboard with the
// NUL-terminated id; -1 for none.
int file_naming(const engine* core, const char16_t* id, int except);

// True when some file has sections: the loop then tells the engine the
// program in front before each stroke.
bool engine_follows_front(const engine* core);

// The program whose window is in front changed: its file name without a
// folder (NUL-terminated UTF-16), or null when no window is in front or its
// program cannot be asked.
void engine_front(engine* core, const char16_t* program);

// Keyboard device 1-10 was asked for its id (null: no usable id came back):
// its filter is set by the rule (captured when a file names it or its id is
// unknown), and a keyboard that is no longer the one a file named there has
// everything padmap held for it released. A keyboard a file names that no
// slot held before since the engine started is told in arrived_device
// (so is one whose stroke comes first).
void engine_keyboard(engine* core, int device, const char16_t* id, engine_actions* out);

// A stroke of keyboard device 1-10, with the id its slot answered (null: no
// usable id), read at now (padmap's clock, in ms). Hand engine_time the same
// moment first, so that a key whose time ran out is held before it.
void engine_stroke(engine* core, int device, const char16_t* id, const key_stroke& key, uint64_t now,
                   engine_actions* out);

// Time passed: every key pending since a press whose hold time has run out
// by now is held, in deadline order, equal ones in press order.
void engine_time(engine* core, uint64_t now, engine_actions* out);

// When the next pending key's time runs out; no_deadline when none waits.
constexpr uint64_t no_deadline = ~uint64_t{0};
uint64_t engine_deadline(const engine* core);

// What a file was found to hold when it was read again.
enum file_news_kind {
    file_unchanged,   // it holds what its layout in use was read from
    file_unreadable,  // it cannot be read
    file_changed,     // bytes hold its content, which differs from its layout in use
};
struct file_news {
    file_news_kind kind;
    const uint8_t* bytes;
    size_t size;
    bool saved;  // the content is new since the file was last read (a refusal is said again only then)
};

// Files were read again. Every file whose content differs from its layout in
// use is loaded anew, and the keyboards are shared out among all the files:
// each changed file would name its new id, every other file its id in use;
// where an id is named twice, the file whose layout in use names it keeps it
// (while it still names it) and every other changed file naming it is
// refused; where no file's layout in use names it, every changed file naming
// it is refused; until no id is named twice. The log says "reloaded FILE"
// with its echo and what the check finds in it, or for a file saved since
// "not reloaded FILE: why" with its layout kept. Returns the files (bit i for
// file i) whose layout was replaced; core->refused holds those whose text
// was refused.
uint32_t engine_reload(engine* core, const file_news* news, engine_actions* out);

// The layout of file i was replaced (engine_reload does it): the prefixes of
// its sections are made anew, and its section for the program in front is
// looked up again at its next stroke.
void engine_file_replaced(engine* core, int file);

// The run ends: every output padmap holds is released.
void engine_stop(engine* core, engine_actions* out);

// The driver did not take a stroke the engine asked to send or pass on
// (act): it took bytes of its record (send_no_request: no request could be
// made, for want of memory). The log says so, with the key that did not
// reach the system; an output refused is not held.
void engine_send_refused(engine* core, const action& act, uint32_t bytes, engine_actions* out);

#endif
