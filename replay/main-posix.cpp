#include <signal.h>

#include "replay/replay_main.h"

// As padmap's own: a closed standard output fails the writes to it rather
// than ending the replay, which delivers every stroke all the same.
int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    return replay_main(argc, argv);
}
