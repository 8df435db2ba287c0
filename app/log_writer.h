#ifndef PADMAP_APP_LOG_WRITER_H
#define PADMAP_APP_LOG_WRITER_H

#include <cstddef>

// The log's own writer: a thread that takes each finished piece of log text
// (a stroke's lines) and writes it to the console in order, so that the key
// loop never waits for the console. While the console does not take text
// (a selection in its window, the Pause key, a pipe nobody reads) the text
// waits in a buffer of log_buffer_bytes; a piece that no longer fits is left
// out whole, and the next piece that fits is preceded by one line saying how
// many lines were left out. Once the console fails for good (a closed pipe,
// a full disk) the writer writes no more: it drops all text from there on,
// says so once on standard error (log_failed_notice) and goes on.

// 1 MiB: about 20,000 lines of ordinary log, several minutes of steady
// typing, or 400 strokes of the longest log one stroke can make, in a fixed
// amount of memory.
constexpr size_t log_buffer_bytes = size_t{1} << 20;

// The console gets the text in pieces of at most this size, so that room in
// the buffer comes back as the console takes text again, not only once all
// it held is out.
constexpr size_t log_piece_bytes = size_t{64} << 10;

enum log_sink_state {
    log_sink_took,    // all of the text was written
    log_sink_busy,    // none of it was: the console takes nothing now
    log_sink_failed,  // the console will never take text again
};

constexpr size_t log_why_bytes = 128;

struct log_sink_answer {
    log_sink_state state;
    char why[log_why_bytes];  // failed: the system's words for it, NUL-terminated UTF-8
};

// Writes the text to the console. A sink may wait for a blocked console
// before it answers, or answer busy at once: the writer then offers the same
// text again a little later, and keeps what comes meanwhile as for a blocked
// console.
typedef log_sink_answer (*log_sink)(void* context, const char* text, size_t size);

struct log_writer;

// Starts the writer thread, with a buffer of capacity bytes (at most
// log_buffer_bytes; smaller ones are for tests). Returns null when there is no
// memory for it.
log_writer* start_log_writer(log_sink sink, void* context, size_t capacity = log_buffer_bytes);

// Hands over one piece of text (whole lines). Never waits for the console.
void log_text(log_writer* writer, const char* text, size_t size);

// Waits up to limit_ms (a negative limit: as long as it takes) for everything
// handed over to be written, or for the console to have failed, then ends
// the writer. Returns true when all was written. Otherwise returns false and
// the rest of the text is left out: a thread still blocked on the console
// writes nothing after the piece in hand and ends (freeing the writer) when
// the console takes that piece, or goes with the process.
bool finish_log_writer(log_writer* writer, int limit_ms);

// The notice that stands for lines left out, with its LF; returns its length.
size_t left_out_notice(unsigned long lines, char* out, size_t cap);

// The notice for a console that failed for good, with the sink's why and
// its LF; returns its length.
size_t log_failed_notice(const char* why, char* out, size_t cap);

#endif
