#ifndef PADMAP_APP_RELOAD_H
#define PADMAP_APP_RELOAD_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reading a configuration file again while padmap runs: what is compared,
// and how the file is found again.

// A file larger than this is not read again (a layout is a few kilobytes).
constexpr size_t reload_max_bytes = size_t{4} << 20;

// After the last change of a burst (an editor writes a file in several
// steps), padmap waits this long with nothing more changing before it reads
// the files again.
constexpr uint32_t reload_settle_ms = 200;

// The folder a file's path lies in, as the system takes it: the path up to
// its last / or \ (the root's separator kept, and a drive's: "C:\"), the
// drive of a drive-relative name ("C:" for "C:pad.cfg"), or "." for a bare
// file name.
std::u16string folder_of(const char16_t* path);

// The file's name without its folder: what follows the last / or \, or a
// drive's colon.
std::u16string name_in_folder(const char16_t* path);

// Reads the whole file. Returns false when it cannot be opened or read, or
// is larger than reload_max_bytes.
bool read_whole_file(const char16_t* path, std::vector<uint8_t>* bytes);

// A number that stands for a file's content (64-bit FNV-1a), and one for a
// file that cannot be read.
uint64_t content_signature(const std::vector<uint8_t>& bytes);
constexpr uint64_t unreadable_signature = 0;

#endif
