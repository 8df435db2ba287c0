#include <signal.h>

#include "app/entry.h"
#include "app/stop.h"
#include "keymap/text.h"

namespace {

void on_stop_signal(int) {
    note_stop_signal();
}

}  // namespace

// Arguments arrive as UTF-8; padmap takes UTF-16. SIGINT and SIGTERM ask for a
// clean stop. A closed standard output (padmap my.cfg | head) fails the
// writes to it, which the log writer reports, rather than ending padmap.
int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    struct sigaction stop = {};
    stop.sa_handler = on_stop_signal;
    stop.sa_flags = SA_RESTART;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    utf16_args args = args_from_utf8(argc, argv);
    return padmap_main(argc, args.argv.data());
}
