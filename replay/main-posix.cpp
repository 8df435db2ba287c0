#include "replay/replay_main.h"

int main(int argc, char** argv) {
    return replay_main(argc, argv);
}
