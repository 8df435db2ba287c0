#ifndef PADMAP_APP_ENTRY_H
#define PADMAP_APP_ENTRY_H

#include "app/log_writer.h"

// The program. Arguments are NUL-terminated UTF-16, argv[0] the program:
//   (none)          identify mode
//   CONFIG          remap mode
//   --monitor       monitor mode
//   --check CONFIG  the configuration's mistakes, without the driver
//   --help, -h, /?  usage and help;  --version
// The run modes print the banner, raise the priority and open the device set.
// Returns the exit status: 0; 1 when the configuration cannot be loaded or the
// driver cannot be used (--check: findings); 2 for a wrong command line
// (--check: an unreadable file). The key loop's log goes to standard output
// through a writer thread of its own.
int padmap_main(int argc, const char16_t* const* argv);

// How long the end of a run waits for a console that does not take the log:
// a stop must not hang on a selection left in the console window.
constexpr int log_drain_limit_ms = 2000;

// Where the key loop's log goes.
struct padmap_log_output {
    log_sink sink;
    void* context;
    bool own_thread;                     // false: the sink is called on the loop's thread, at once
    size_t capacity = log_buffer_bytes;  // of the writer's buffer
    // How long the end of a run waits for the writer; negative: until all is
    // written, for runs whose output must be whole (padmap-replay, tests).
    int drain_limit_ms = log_drain_limit_ms;
};

// The console's standard output through a writer thread, as padmap_main uses it.
padmap_log_output padmap_console_log();

int padmap_run(int argc, const char16_t* const* argv, const padmap_log_output& log);

// padmapw's run: remap mode with the count files (1 to max_config_files), as
// padmap CONFIG... runs it, the loop told through notices and telling what
// it captures to report; with none, identify mode (the id told to report).
// Returns the exit status padmap would.
struct notice_queue;
struct loop_report;
int padmap_run_unseen(int count, const char16_t* const* paths, const padmap_log_output& log, notice_queue* notices,
                      loop_report* report);

#endif
