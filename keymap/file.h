#ifndef PADMAP_KEYMAP_FILE_H
#define PADMAP_KEYMAP_FILE_H

#include <cstddef>
#include <cstdint>

// Reading a configuration file, bound per platform (file-posix.cpp,
// file-win32.cpp). The path is NUL-terminated UTF-16: on Windows it is opened
// with the wide API, elsewhere converted to UTF-8.

struct config_file;

// Returns null when the path cannot be opened and read as a regular file
// (missing, a directory, no permission).
config_file* open_config_file(const char16_t* path);

// Reads up to cap bytes. Returns the bytes read, 0 at the end, -1 on an error.
long read_config_file(config_file* file, uint8_t* into, size_t cap);

void close_config_file(config_file* file);

#endif
