#ifndef PADMAP_APP_FRONT_H
#define PADMAP_APP_FRONT_H

#include <cstddef>
#include <cstdint>

// The program whose window is in front, learned cheaply: the window in front
// is compared with the last one seen, and its program is asked for only when
// the window changed.

constexpr size_t program_name_units = 260;

struct front_program {
    uintptr_t window;                   // the window last seen in front, 0 for none
    bool known;                         // its program could be asked
    char16_t name[program_name_units];  // the program's file name, without a folder; empty when not known
};

void reset_front(front_program* front);

// Looks at the window in front. Returns true when it is another than last
// time (its program is then asked and front updated).
bool follow_front(front_program* front);

// "program in front: NAME" or "program in front: none", with its line end,
// into out (capacity cap); returns the length.
size_t front_line(const front_program& front, char* out, size_t cap);

#endif
