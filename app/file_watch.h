#ifndef PADMAP_APP_FILE_WATCH_H
#define PADMAP_APP_FILE_WATCH_H

#include "app/remap_state.h"

// The configuration files, watched while padmap runs.

// One watch per folder that holds a file; files of one folder share it.
void watch_folders(remap_state* remap);
void unwatch_folders(remap_state* remap);

// Reads again every file of the folders that changed, once changes have
// settled, and logs what padmap made of each: "reloaded FILE", its echo and
// what --check finds in it, or "not reloaded FILE: why" with the old layout
// kept. A file is read again only when its content differs from what was
// last found in it. A file that names another keyboard takes the capture
// with it.
void reload_changed(remap_state* remap);

#endif
