#ifndef PADMAP_ENGINE_ACTIONS_H
#define PADMAP_ENGINE_ACTIONS_H

#include <cstdint>
#include <string>

#include "keymap/key_stroke.h"

// What the engine asks of the loop around it, in the order it is to be done:
// strokes to send, filters to set, texts to type and programs to start; then
// the log text, handed on after the last of them.

enum action_kind : uint8_t {
    action_send,    // key goes to keyboard device: an output padmap holds until it sends its release
    action_pass,    // key goes on to device as it was typed
    action_filter,  // keyboard device's capture filter becomes filter
    action_item,    // item of file's items is typed (a text) or handed to be started (a program),
                    // for a key of keyboard device
};

struct action {
    action_kind kind;
    uint8_t device;
    uint16_t filter;
    key_stroke key;
    int16_t file;
    uint16_t item;  // the item's output: 1 + its place among the file's items
};

// The capture filters: every stroke of a keyboard, or none of them.
constexpr uint16_t capture_every_stroke = 0xFFFF;
constexpr uint16_t capture_nothing = 0;

// The most one event can ask for: every key of every keyboard released (a
// stop), or one keyboard's keys released and a stroke's every output pressed
// with every modifier around it.
constexpr int max_actions = keyboard_count * 512 + 1024;

struct engine_actions {
    action list[max_actions];
    int count;
    std::string log;
    // Every keyboard slot's id is to be asked again and told to the engine
    // (a file now names another keyboard).
    bool check_keyboards;
    // A new configuration is to be written for the keyboard of this slot,
    // whose press was swallowed (0: none).
    int enrolled_device;
    // The keyboard in this slot, which a file names, was seen for the first
    // time since the engine started (0: none).
    int arrived_device;
};

// Empties the list for the next event; what it took stays reserved.
void clear_actions(engine_actions* out);

inline void add_action(engine_actions* out, const action& act) {
    if (out->count < max_actions) out->list[out->count++] = act;
}

inline void add_send(engine_actions* out, int device, const key_stroke& key) {
    add_action(out, action{action_send, static_cast<uint8_t>(device), 0, key, 0, 0});
}

inline void add_pass(engine_actions* out, int device, const key_stroke& key) {
    add_action(out, action{action_pass, static_cast<uint8_t>(device), 0, key, 0, 0});
}

inline void add_filter(engine_actions* out, int device, uint16_t filter) {
    add_action(out, action{action_filter, static_cast<uint8_t>(device), filter, key_stroke{}, 0, 0});
}

inline void add_item_action(engine_actions* out, int device, int file, uint16_t item) {
    add_action(out,
               action{action_item, static_cast<uint8_t>(device), 0, key_stroke{}, static_cast<int16_t>(file), item});
}

#endif
