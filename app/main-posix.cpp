#include <signal.h>

#include <cstring>
#include <vector>

#include "app/entry.h"
#include "app/stop.h"
#include "keymap/text.h"

namespace {

void on_stop_signal(int) {
    note_stop_signal();
}

}  // namespace

// Arguments arrive as UTF-8; padmap takes UTF-16. Only the first is used, so
// only the first is converted. SIGINT and SIGTERM ask for a clean stop.
int main(int argc, char** argv) {
    struct sigaction stop = {};
    stop.sa_handler = on_stop_signal;
    stop.sa_flags = SA_RESTART;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    std::vector<char16_t> path;
    const char16_t* args[2] = {u"padmap", nullptr};
    if (argc >= 2) {
        path.resize(std::strlen(argv[1]) + 1);
        utf8_to_utf16(argv[1], path.data(), path.size());
        args[1] = path.data();
    }
    return padmap_main(argc < 2 ? 1 : 2, args);
}
