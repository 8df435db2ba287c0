#include "app/held_keys.h"

#include <cstring>

namespace {

int code_of(const key_stroke& key) {
    return ((key.key_state & key_state_e0) ? 256 : 0) + key.make_code;
}

}  // namespace

void reset_held_keys(held_keys* held) {
    std::memset(held->down, 0, sizeof held->down);
}

void note_key_sent(held_keys* held, int device, const key_stroke& key) {
    if (device < 1 || device > keyboard_count || key.make_code > 0xFF) return;
    int code = code_of(key);
    uint8_t& byte = held->down[device - 1][code / 8];
    uint8_t bit = static_cast<uint8_t>(1u << (code % 8));
    if (key.key_state & key_state_up) {
        byte &= static_cast<uint8_t>(~bit);
    } else {
        byte |= bit;
    }
}

void release_held_keys_of(held_keys* held, int device, held_key_send send, void* context) {
    if (device < 1 || device > keyboard_count) return;
    for (int code = 0; code < held_key_codes; ++code) {
        if (!(held->down[device - 1][code / 8] & (1u << (code % 8)))) continue;
        uint16_t state = static_cast<uint16_t>(key_state_up | (code >= 256 ? key_state_e0 : 0));
        key_stroke release = {static_cast<uint16_t>(code % 256), state, 0};
        if (send(context, device, &release) > 0) note_key_sent(held, device, release);
    }
}

void release_held_keys(held_keys* held, held_key_send send, void* context) {
    for (int device = 1; device <= keyboard_count; ++device) release_held_keys_of(held, device, send, context);
}
