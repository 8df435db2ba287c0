#include "app/held_layouts.h"

#include <cstring>

namespace {

keyboard_holds* holds_of(held_layouts* held, int device) {
    return device >= 1 && device <= keyboard_count ? &held->keyboards[device - 1] : nullptr;
}

}  // namespace

void reset_held_layouts(held_layouts* held) {
    for (keyboard_holds& keyboard : held->keyboards) keyboard.count = 0;
}

const held_layout* held_entry(const held_layouts* held, int device, uint16_t code) {
    if (device < 1 || device > keyboard_count) return nullptr;
    const keyboard_holds& keyboard = held->keyboards[device - 1];
    for (int i = 0; i < keyboard.count; ++i) {
        if (keyboard.keys[i].code == code) return &keyboard.keys[i];
    }
    return nullptr;
}

void hold_key(held_layouts* held, int device, uint16_t code, const key_entry* entry, const char* prefix) {
    keyboard_holds* keyboard = holds_of(held, device);
    if (keyboard == nullptr || keyboard->count == held_layout_keys) return;
    held_layout& key = keyboard->keys[keyboard->count++];
    key.code = code;
    key.found = entry != nullptr;
    if (entry != nullptr) {
        std::memcpy(&key.entry, entry, sizeof key.entry);
    } else {
        std::memset(&key.entry, 0, sizeof key.entry);
    }
    size_t length = 0;
    while (length + 1 < sizeof key.prefix && prefix[length] != 0) ++length;
    std::memcpy(key.prefix, prefix, length);
    key.prefix[length] = 0;
}

void release_key(held_layouts* held, int device, uint16_t code) {
    keyboard_holds* keyboard = holds_of(held, device);
    if (keyboard == nullptr) return;
    for (int i = 0; i < keyboard->count; ++i) {
        if (keyboard->keys[i].code != code) continue;
        keyboard->keys[i] = keyboard->keys[--keyboard->count];
        return;
    }
}

void forget_keyboard(held_layouts* held, int device) {
    keyboard_holds* keyboard = holds_of(held, device);
    if (keyboard != nullptr) keyboard->count = 0;
}
