#ifndef PADMAP_APP_REMAP_STATE_H
#define PADMAP_APP_REMAP_STATE_H

#include <cstdint>
#include <string>

#include "app/capture.h"
#include "app/front.h"
#include "app/held_layouts.h"
#include "app/platform.h"
#include "app/run.h"
#include "app/translate.h"
#include "keymap/config.h"

// What remap mode keeps for a run, shared by its parts: the loop and a
// stroke's handling (remap.cpp), the layout a stroke goes by (stroke_layout),
// and the files read again when saved (file_watch).

struct loaded_file {
    const char16_t* path;
    std::string shown;                                  // the path as UTF-8
    char line_prefix[log_prefix_max];                   // what its log lines start with
    char section_prefix[max_sections][log_prefix_max];  // ... those of a stroke a section translates
    int folder;                                         // its folder among the watched ones
    uint64_t loaded_signature;                          // the content its layout was read from
    uint64_t seen_signature;                            // the content last found in the file
    config layout;
};

struct watched_folder {
    std::u16string path;
    os_folder_watch* watch;  // null when the folder cannot be watched
    bool changed;            // something changed; read again once quiet
};

// Everything remap mode keeps for the run; large (a key table per file), so
// it lives on the heap.
struct remap_state {
    run_state* run;
    int file_count;
    loaded_file files[max_config_files];
    layouts in_use;
    capture_state capture;
    held_layouts held;
    int folder_count;
    watched_folder folders[max_config_files];
    uint64_t changed_at;  // when a watched folder last told of a change (os_now_ms)
    config fresh;         // a file read again, before it replaces the old layout
    front_program front;
    std::string front_name;                 // the program in front (UTF-8), empty when none can be asked
    int in_front[max_config_files];         // each file's section for that program, -1 for none
    bool sections_known[max_config_files];  // in_front holds for the program in front and the file's layout
    bool after_e1[keyboard_count];          // each keyboard's memory for is_pause_stroke
};

// The file, other than except, that names the id; -1 for none.
int file_naming(const remap_state* remap, const char16_t* id, int except);

// A keyboard that is no longer there: padmap lets go of the outputs it holds
// for it (a left_op's function; the context is the remap_state).
void keyboard_gone(void* context, int device);

#endif
