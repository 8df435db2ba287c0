#include "engine/pressed_keys.h"

#include <cstring>

namespace {

keyboard_presses* presses_of(pressed_keys* pressed, int device) {
    return device >= 1 && device <= keyboard_count ? &pressed->keyboards[device - 1] : nullptr;
}

}  // namespace

void reset_pressed_keys(pressed_keys* pressed) {
    for (keyboard_presses& keyboard : pressed->keyboards) keyboard.count = 0;
}

const pressed_key* find_pressed(const pressed_keys* pressed, int device, uint16_t code) {
    if (device < 1 || device > keyboard_count) return nullptr;
    const keyboard_presses& keyboard = pressed->keyboards[device - 1];
    for (int i = 0; i < keyboard.count; ++i) {
        if (keyboard.keys[i].code == code) return &keyboard.keys[i];
    }
    return nullptr;
}

pressed_key* note_press(pressed_keys* pressed, int device, uint16_t code, const key_entry* entry, const char* prefix,
                        const char* layer) {
    keyboard_presses* keyboard = presses_of(pressed, device);
    if (keyboard == nullptr || keyboard->count == pressed_key_count) return nullptr;
    pressed_key& key = keyboard->keys[keyboard->count++];
    key.code = code;
    key.found = entry != nullptr;
    if (entry != nullptr) {
        std::memcpy(&key.entry, entry, sizeof key.entry);
    } else {
        std::memset(&key.entry, 0, sizeof key.entry);
    }
    // Copied as it is scanned: a bounded memcpy of a few dozen bytes is
    // compiled to a string instruction that costs more to start than this.
    size_t length = 0;
    for (; length + 1 < sizeof key.prefix && prefix[length] != 0; ++length) key.prefix[length] = prefix[length];
    key.prefix[length] = 0;
    std::strncpy(key.layer, layer, sizeof key.layer - 1);
    key.layer[sizeof key.layer - 1] = 0;
    key.state = press_plain;
    key.hold_layer[0] = 0;
    key.deadline = 0;
    key.order = 0;
    return &key;
}

pressed_key* pressed_record(pressed_keys* pressed, int device, uint16_t code) {
    return const_cast<pressed_key*>(find_pressed(pressed, device, code));
}

pressed_key* keyboard_keys(pressed_keys* pressed, int device, int* count) {
    keyboard_presses* keyboard = presses_of(pressed, device);
    *count = keyboard != nullptr ? keyboard->count : 0;
    return keyboard != nullptr ? keyboard->keys : nullptr;
}

void note_release(pressed_keys* pressed, int device, uint16_t code) {
    keyboard_presses* keyboard = presses_of(pressed, device);
    if (keyboard == nullptr) return;
    for (int i = 0; i < keyboard->count; ++i) {
        if (keyboard->keys[i].code != code) continue;
        keyboard->keys[i] = keyboard->keys[--keyboard->count];
        return;
    }
}

void forget_presses(pressed_keys* pressed, int device) {
    keyboard_presses* keyboard = presses_of(pressed, device);
    if (keyboard != nullptr) keyboard->count = 0;
}
