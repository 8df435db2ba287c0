#ifndef PADMAP_APP_PLATFORM_ITEMS_H
#define PADMAP_APP_PLATFORM_ITEMS_H

#include <cstddef>
#include <cstdint>

#include "keymap/config_items.h"

// Texts and programs on the system around padmap.
// app/platform_items-win32.cpp binds them to Windows;
// sim/platform_items-sim.cpp to the simulated system.

// Types the units as characters with one SendInput: each unit a key down and
// a key up of KEYEVENTF_UNICODE, but LF the Enter key and tab the Tab key.
// written is the text as the configuration writes it (the simulated system
// notes it among what reached the system). Returns the key events the system
// took: 2 * count when it took them all, fewer when it blocked some (a window
// of a program with higher rights in front).
uint32_t os_type_text(const char16_t* units, size_t count, const char* written);

// A program is handed to the worker that starts it: the simulated system
// notes it (word "run" or "open", and the command or target as written)
// among what reached the system; Windows does nothing.
void os_program_handed(const char* word, const char* written);

// Starts the program and waits for nothing it does: run: CreateProcessW of
// the command line (no shell), a console program with a console of its
// own, a program named by a relative path taken from folder when it is a
// file there (as written or with .exe added; the command line then names it
// by its full path); open: ShellExecuteExW of the URL, file or folder, a relative one
// taken from folder. folder (NUL-terminated) is the program's working
// folder. No handle of padmap's is inherited. Called on the worker beside
// the key loop: it may take a while. Returns false with the system's message
// in why (UTF-8, NUL-terminated, cap bytes).
bool os_start_program(item_kind kind, const char16_t* command, const char16_t* folder, char* why, size_t cap);

// True when padmap runs with administrator rights (an elevated token).
bool os_elevated();

#endif
