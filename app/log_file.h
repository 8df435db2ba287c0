#ifndef PADMAP_APP_LOG_FILE_H
#define PADMAP_APP_LOG_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/log_writer.h"
#include "driver/os.h"

// padmapw's log: the lines padmap.exe prints, in padmap.log of a folder of
// the user's. A piece of log that would take the file past log_file_limit
// first turns it into padmap.1.log (replacing the one there) and starts a
// new padmap.log, so the two hold the latest lines and never more than
// twice the limit. Pieces are whole lines: no line is cut between the two.

constexpr uint64_t log_file_limit = uint64_t{1} << 20;

struct log_file {
    std::u16string path;   // ...\padmap.log
    std::u16string older;  // ...\padmap.1.log
    os_handle handle;
    uint64_t size;
};

// Makes the folder when missing and opens its padmap.log for appending (other
// programs may read, move or remove it meanwhile); the file becomes the
// program's standard output and error, so that what padmap prints outside
// the loop goes there too. False when it cannot be opened.
bool open_log_file(log_file* file, const std::u16string& folder);

// A log_sink whose context is a log_file: writes the text (LF as CR LF),
// turning the file over first when it would pass the limit.
log_sink_answer log_file_sink(void* context, const char* text, size_t size);

// How long padmap.log is now (0 when it cannot be asked): where what is
// printed from now on starts.
uint64_t log_file_length(const log_file* file);

// The last line (without its CR LF) written to padmap.log from offset since
// on; empty when none was, or the file cannot be read. A file turned over
// meanwhile is read from its start.
std::string last_log_line(const log_file* file, uint64_t since);

void close_log_file(log_file* file);

#endif
