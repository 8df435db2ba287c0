#ifndef PADMAP_ENGINE_ACTIONS_H
#define PADMAP_ENGINE_ACTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "keymap/key_stroke.h"

// What the engine asks of the loop around it, in the order it is to be done:
// strokes to send and filters to set; then the log text, handed on after
// the last of them.

enum action_kind : uint8_t {
    action_send,    // key goes to keyboard device: an output padmap holds until it sends its release
    action_pass,    // key goes on to device as it was typed
    action_filter,  // keyboard device's capture filter becomes filter
};

struct action {
    action_kind kind;
    uint8_t device;
    uint16_t filter;
    key_stroke key;
};

// The capture filters: every stroke of a keyboard, or none of them.
constexpr uint16_t capture_every_stroke = 0xFFFF;
constexpr uint16_t capture_nothing = 0;

struct engine_actions {
    std::vector<action> list;
    std::string log;
    // Every keyboard slot's id is to be asked again and told to the engine
    // (a file now names another keyboard).
    bool check_keyboards;
};

// Empties the list for the next event; what it took stays reserved.
void clear_actions(engine_actions* out);

void add_send(engine_actions* out, int device, const key_stroke& key);
void add_pass(engine_actions* out, int device, const key_stroke& key);
void add_filter(engine_actions* out, int device, uint16_t filter);

#endif
