#include "engine/held_outputs.h"

#include <cstring>

namespace {

int code_of(const key_stroke& key) {
    return ((key.key_state & key_state_e0) ? 256 : 0) + key.make_code;
}

void set_down(held_outputs* held, int device, const key_stroke& key, bool down) {
    if (device < 1 || device > keyboard_count || key.make_code > 0xFF) return;
    int code = code_of(key);
    uint8_t& byte = held->down[device - 1][code / 8];
    uint8_t bit = static_cast<uint8_t>(1u << (code % 8));
    if (down) {
        byte |= bit;
    } else {
        byte &= static_cast<uint8_t>(~bit);
    }
}

}  // namespace

void reset_held_outputs(held_outputs* held) {
    std::memset(held->down, 0, sizeof held->down);
}

void note_output(held_outputs* held, int device, const key_stroke& key) {
    set_down(held, device, key, !(key.key_state & key_state_up));
}

void send_output(held_outputs* held, engine_actions* out, int device, const key_stroke& key) {
    add_send(out, device, key);
    note_output(held, device, key);
}

void note_refused(held_outputs* held, int device, const key_stroke& key) {
    set_down(held, device, key, (key.key_state & key_state_up) != 0);
}

void release_outputs_of(held_outputs* held, int device, engine_actions* out) {
    if (device < 1 || device > keyboard_count) return;
    for (int code = 0; code < held_output_codes; ++code) {
        if (!(held->down[device - 1][code / 8] & (1u << (code % 8)))) continue;
        uint16_t state = static_cast<uint16_t>(key_state_up | (code >= 256 ? key_state_e0 : 0));
        send_output(held, out, device, key_stroke{static_cast<uint16_t>(code % 256), state, 0});
    }
}

void release_all_outputs(held_outputs* held, engine_actions* out) {
    for (int device = 1; device <= keyboard_count; ++device) release_outputs_of(held, device, out);
}
