#ifndef PADMAP_REPLAY_REPLAY_MAIN_H
#define PADMAP_REPLAY_REPLAY_MAIN_H

// padmap-replay with UTF-8 arguments. Returns padmap's exit status, or 2 for a
// bad session or bad usage (after a message on stderr).
int replay_main(int argc, char** argv);

#endif
