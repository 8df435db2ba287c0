#ifndef PADMAP_APP_STROKE_LAYOUT_H
#define PADMAP_APP_STROKE_LAYOUT_H

#include "app/remap_state.h"

// Makes the log prefix of each section of the file ("FILE: when PROGRAMS: "),
// once its layout is read.
void name_sections(loaded_file* file);

// What a stroke is translated by (null: no entry), and what its log lines
// start with. Both stay valid until the held key is let go.
struct stroke_layout {
    const key_entry* entry;
    const char* prefix;
};

// A held key's repeats and release go by what its press found; anything
// else by the layout of the moment: the section of the program in front,
// for a key that section gives a first output, otherwise the lines outside
// sections. A press of a key not held yet is held with what it found.
stroke_layout layout_for_stroke(remap_state* remap, int file, int device, const key_stroke& key);

#endif
