#ifndef PADMAP_APP_ENTRY_H
#define PADMAP_APP_ENTRY_H

// The program: banner, priority, device set, then identify mode (argc < 2) or
// remap mode with argv[1] as the configuration path. Arguments are
// NUL-terminated UTF-16. Returns the exit status: 0, or 1 when the
// configuration cannot be loaded.
int padmap_main(int argc, const char16_t* const* argv);

#endif
