#include <signal.h>

#include <string>
#include <vector>

#include "app/entry.h"
#include "app/stop.h"
#include "keymap/text.h"

namespace {

void on_stop_signal(int) {
    note_stop_signal();
}

}  // namespace

// Arguments arrive as UTF-8; padmap takes UTF-16. SIGINT and SIGTERM ask for a
// clean stop.
int main(int argc, char** argv) {
    struct sigaction stop = {};
    stop.sa_handler = on_stop_signal;
    stop.sa_flags = SA_RESTART;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    std::vector<std::u16string> args;
    std::vector<const char16_t*> pointers;
    for (int i = 0; i < argc; ++i) args.push_back(utf16_text(argv[i]));
    for (const std::u16string& arg : args) pointers.push_back(arg.c_str());
    pointers.push_back(nullptr);
    return padmap_main(argc, pointers.data());
}
