#include <cstring>

#include "app/key_loop.h"
#include "app/notices.h"
#include "keymap/text.h"

namespace {

// Captures key presses and releases on every keyboard.
constexpr uint16_t identify_filter = 3;

}  // namespace

// The first key press names the keyboard. A release that comes before it (the
// Enter that started padmap, say) goes on to the system unchanged: taking it
// would name the wrong keyboard and leave its key held.
bool identify_stroke(run_state* run, int device, const stroke& received) {
    if (device > keyboard_count || (received.key.key_state & key_state_up)) {
        send_stroke(run->set, device, &received);
        return true;
    }
    char text[hardware_id_units * 3 + 32];
    size_t length = 0;
    char16_t id[hardware_id_units];
    if (fetch_hardware_id(run->set, device, id)) {
        const char prefix[] = "hardware id is ";
        std::memcpy(text, prefix, sizeof prefix - 1);
        length = sizeof prefix - 1;
        length += utf16_to_utf8(id, text + length, sizeof text - length - 1);
        text[length++] = '\n';
        if (run->report != nullptr && run->report->enrolled != nullptr) run->report->enrolled(run->report->context, id);
    } else {
        const char refusal[] = "BAD hardware_id, exiting...\n";
        std::memcpy(text, refusal, sizeof refusal - 1);
        length = sizeof refusal - 1;
    }
    log_line(run, text, length);
    return false;
}

int run_identify(run_state* run) {
    set_keyboard_filter(run->set, identify_filter);
    start_log(run);
    return end_run(run, run_key_loop(run, stroke_handler{loop_identify, nullptr, nullptr}));
}
