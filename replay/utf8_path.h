#ifndef PADMAP_REPLAY_UTF8_PATH_H
#define PADMAP_REPLAY_UTF8_PATH_H

#include <cstdio>

// fopen for a UTF-8 path. On Windows the path is opened with the wide API, so
// names outside the ANSI code page work; elsewhere it is plain fopen. Returns
// null when the file cannot be opened.
std::FILE* open_utf8_path(const char* path, const char* mode);

// Renames the file from over the file to (replacing it), and removes a file.
// Return false when the system refuses.
bool rename_over_utf8_path(const char* from, const char* to);
bool remove_utf8_path(const char* path);

// Copies the file from over the file to (made anew). Returns false when
// either cannot be opened or a read or write fails.
bool copy_utf8_path(const char* from, const char* to);

#endif
