#include "engine/held_outputs.h"

#include <cstring>

namespace {

int code_of(const key_stroke& key) {
    return ((key.key_state & key_state_e0) ? 256 : 0) + key.make_code;
}

void set_bit(uint8_t (*bits)[held_output_codes / 8], int device, const key_stroke& key, bool down) {
    if (device < 1 || device > keyboard_count || key.make_code > 0xFF) return;
    int code = code_of(key);
    uint8_t& byte = bits[device - 1][code / 8];
    uint8_t bit = static_cast<uint8_t>(1u << (code % 8));
    if (down) {
        byte |= bit;
    } else {
        byte &= static_cast<uint8_t>(~bit);
    }
}

void set_down(held_outputs* held, int device, const key_stroke& key, bool down) {
    set_bit(held->down, device, key, down);
}

bool bit_set(const uint8_t (*bits)[held_output_codes / 8], int device, int code) {
    return (bits[device - 1][code / 8] & (1u << (code % 8))) != 0;
}

key_stroke release_of(int code) {
    uint16_t state = static_cast<uint16_t>(key_state_up | (code >= 256 ? key_state_e0 : 0));
    return key_stroke{static_cast<uint16_t>(code % 256), state, 0};
}

}  // namespace

void reset_held_outputs(held_outputs* held) {
    std::memset(held->down, 0, sizeof held->down);
    std::memset(held->passed, 0, sizeof held->passed);
}

void note_output(held_outputs* held, int device, const key_stroke& key) {
    bool down = !(key.key_state & key_state_up);
    set_down(held, device, key, down);
    if (!down) set_bit(held->passed, device, key, false);
}

void send_output(held_outputs* held, engine_actions* out, int device, const key_stroke& key) {
    add_send(out, device, key);
    note_output(held, device, key);
}

void pass_key(held_outputs* held, engine_actions* out, int device, const key_stroke& key) {
    add_pass(out, device, key);
    bool down = !(key.key_state & key_state_up);
    set_bit(held->passed, device, key, down);
    // An output of the same code is up on the system now too: a stop must
    // not release it again.
    if (!down) set_down(held, device, key, false);
}

void forget_passed_keys(held_outputs* held) {
    std::memset(held->passed, 0, sizeof held->passed);
}

bool key_held(const held_outputs* held, int device, const key_stroke& key) {
    if (device < 1 || device > keyboard_count || key.make_code > 0xFF) return false;
    int code = code_of(key);
    return bit_set(held->down, device, code) || bit_set(held->passed, device, code);
}

void note_refused(held_outputs* held, int device, const key_stroke& key) {
    set_down(held, device, key, (key.key_state & key_state_up) != 0);
}

void release_outputs_of(held_outputs* held, int device, engine_actions* out) {
    if (device < 1 || device > keyboard_count) return;
    for (int code = 0; code < held_output_codes; ++code) {
        if (bit_set(held->down, device, code)) send_output(held, out, device, release_of(code));
    }
}

void release_keyboard_keys(held_outputs* held, int device, engine_actions* out) {
    if (device < 1 || device > keyboard_count) return;
    for (int code = 0; code < held_output_codes; ++code) {
        bool output = bit_set(held->down, device, code);
        if (!output && !bit_set(held->passed, device, code)) continue;
        if (output) {
            send_output(held, out, device, release_of(code));
        } else {
            add_pass(out, device, release_of(code));
        }
        set_bit(held->passed, device, release_of(code), false);
    }
}

void release_all_outputs(held_outputs* held, engine_actions* out) {
    for (int device = 1; device <= keyboard_count; ++device) release_outputs_of(held, device, out);
}
