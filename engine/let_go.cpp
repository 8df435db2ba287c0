#include "engine/let_go.h"

namespace {

// The layer a key that is down holds on, "" for none: a plain key whose
// entry is a layer(NAME) switch, or a held key whose hold is one.
const char* layer_held_by(const pressed_key& key) {
    if (key.state == press_held) {
        return is_layer_switch(key.hold) && (key.hold.outputs[0] & 0xFF00) == switch_layer ? key.hold_layer : "";
    }
    if (key.state == press_plain && key.found) {
        return is_layer_switch(key.entry) && (key.entry.outputs[0] & 0xFF00) == switch_layer ? key.layer : "";
    }
    return "";
}

// The keys of a keyboard that are down stop holding their layers.
void drop_held_layers(engine* core, int device) {
    int count = 0;
    pressed_key* keys = keyboard_keys(&core->pressed, device, &count);
    for (int i = 0; i < count; ++i) {
        const char* layer = layer_held_by(keys[i]);
        if (layer[0] != 0) hold_layer(&core->layers[device - 1], layer, -1);
    }
}

}  // namespace

void engine_let_go(engine* core, engine_actions* out) {
    for (int device = 1; device <= keyboard_count; ++device) {
        release_keyboard_keys(&core->outputs, device, out);
        drop_held_layers(core, device);
        int count = 0;
        pressed_key* keys = keyboard_keys(&core->pressed, device, &count);
        for (int i = 0; i < count; ++i) keys[i].state = press_let_go;
        core->after_e1[device - 1] = false;
    }
    core->pending = 0;
}

bool engine_pause(engine* core, engine_actions* out) {
    if (core->paused) return false;
    core->paused = true;
    core->enrolling = false;
    release_all_outputs(&core->outputs, out);
    forget_passed_keys(&core->outputs);
    for (int device = 1; device <= keyboard_count; ++device) {
        drop_held_layers(core, device);
        forget_presses(&core->pressed, device);
        core->after_e1[device - 1] = false;
        add_filter(out, device, capture_nothing);
    }
    core->pending = 0;
    return true;
}

bool engine_enroll(engine* core, engine_actions* out) {
    if (core->paused) return false;
    core->enrolling = true;
    out->check_keyboards = true;
    return true;
}

bool engine_resume(engine* core, engine_actions* out) {
    if (!core->paused) return false;
    core->paused = false;
    out->check_keyboards = true;
    return true;
}
