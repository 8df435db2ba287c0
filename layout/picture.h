#ifndef PADMAP_LAYOUT_PICTURE_H
#define PADMAP_LAYOUT_PICTURE_H

#include <string>
#include <vector>

#include "keymap/config.h"
#include "keymap/key_table.h"
#include "layout/key_places.h"

enum key_look {
    look_plain,   // the configuration leaves the key alone
    look_mapped,  // the key sends its outputs instead
    look_passes   // the configuration names the key, but its first output is
                  // empty, so it passes through unchanged
};

struct layout_picture {
    int entry[key_place_count];  // key table entry drawn at each place, or -1
    key_look look[key_place_count];
    int loose[key_count];  // entries in use that have no place to be
    int loose_count;       // drawn at, in table order
};

// Sorts the configuration's table onto the keyboard. An
// entry is in use when named[i] is set or it has a first output. A named key
// is drawn at its place; a claimed user entry at the place of its code when
// the keyboard has that key, otherwise (and with code 0) it is loose. Where a
// claimed user entry and a later name stand for one key, the place shows the
// user entry, which strokes find first, and the later name is not drawn.
void build_picture(const key_table& table, const bool named[key_count], layout_picture& picture);

// One keyboard to draw: the layout outside sections, or what a section makes
// of it while its program is in front (its outputs where it gives a key a
// first output, the others' elsewhere).
struct layout_view {
    std::string heading;  // empty for a file without sections or layers
    key_table table;
    bool named[key_count];
    bool has_hold[key_count];              // the key does something else when held ...
    key_table holds;                       // ... these outputs
    std::vector<std::string> layer_names;  // the file's layers, for its switches
    std::vector<std::string> item_names;   // the file's texts and programs as a key shows them
};

// How a key shows a text (its first characters, in quotes) or a program (the
// program's file name, or the target opened), UTF-8.
std::string item_label(const config_items& items, const config_item& item);

// The keyboards of a file: one for a file without sections or layers;
// otherwise the layout everywhere else, then each section's, then what each
// layer makes of the layout everywhere else while it is on.
std::vector<layout_view> layout_views(const config& layout, const bool named[config_scopes][key_count]);

#endif
