#ifndef PADMAP_APP_ENTRY_H
#define PADMAP_APP_ENTRY_H

#include "app/log_writer.h"

// The program: banner, priority, device set, then identify mode (argc < 2) or
// remap mode with argv[1] as the configuration path. Arguments are
// NUL-terminated UTF-16. Returns the exit status: 0, or 1 when the
// configuration cannot be loaded. The key loop's log goes to standard output
// through a writer thread of its own.
int padmap_main(int argc, const char16_t* const* argv);

// Where the key loop's log goes, for runs that do not write to the console.
struct padmap_log_output {
    log_sink sink;
    void* context;
    bool own_thread;                     // false: the sink is called on the loop's thread, at once
    size_t capacity = log_buffer_bytes;  // of the writer's buffer
};

int padmap_run(int argc, const char16_t* const* argv, const padmap_log_output& log);

// How long the end of a run waits for a console that does not take the log.
constexpr int log_drain_limit_ms = 2000;

#endif
