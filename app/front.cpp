#include "app/front.h"

#include <cstring>

#include "app/platform.h"
#include "keymap/text.h"

void reset_front(front_program* front) {
    front->window = 0;
    front->known = false;
    front->name[0] = 0;
}

bool follow_front(front_program* front) {
    uintptr_t window = os_foreground_window();
    if (window == front->window) return false;
    front->window = window;
    front->known = window != 0 && os_window_program(window, front->name, program_name_units);
    if (!front->known) front->name[0] = 0;
    return true;
}

size_t front_line(const front_program& front, char* out, size_t cap) {
    const char head[] = "program in front: ";
    const char none[] = "none";
    if (cap < sizeof head + sizeof none + 1) return 0;
    std::memcpy(out, head, sizeof head - 1);
    size_t used = sizeof head - 1;
    if (front.known) {
        used += utf16_to_utf8(front.name, out + used, cap - used - 1);
    } else {
        std::memcpy(out + used, none, sizeof none - 1);
        used += sizeof none - 1;
    }
    out[used++] = '\n';
    return used;
}
