#include "engine/layers.h"

#include <cstring>

namespace {

keyboard_layer* find_layer(keyboard_layers* on, const char* name) {
    for (int i = 0; i < on->count; ++i) {
        if (std::strcmp(on->layers[i].name, name) == 0) return &on->layers[i];
    }
    return nullptr;
}

// A layer goes on: it takes the next moment of the order.
keyboard_layer* add_layer(keyboard_layers* on, const char* name) {
    if (on->count == max_layers) return nullptr;
    keyboard_layer& layer = on->layers[on->count++];
    std::strncpy(layer.name, name, sizeof layer.name - 1);
    layer.name[sizeof layer.name - 1] = 0;
    layer.held = 0;
    layer.toggled = false;
    layer.since = ++on->clock;
    return &layer;
}

// A layer neither held nor toggled is off: it leaves the list.
bool keep_if_on(keyboard_layers* on, keyboard_layer* layer) {
    if (layer->held > 0 || layer->toggled) return true;
    *layer = on->layers[--on->count];
    return false;
}

}  // namespace

void reset_layers(keyboard_layers* on) {
    on->count = 0;
    on->clock = 0;
}

bool hold_layer(keyboard_layers* on, const char* name, int held) {
    keyboard_layer* layer = find_layer(on, name);
    if (layer == nullptr && held > 0) layer = add_layer(on, name);
    if (layer == nullptr) return false;
    layer->held = layer->held + held < 0 ? 0 : layer->held + held;
    return keep_if_on(on, layer);
}

bool toggle_layer(keyboard_layers* on, const char* name) {
    keyboard_layer* layer = find_layer(on, name);
    if (layer == nullptr) {
        layer = add_layer(on, name);
        if (layer == nullptr) return false;
        layer->toggled = true;
        return true;
    }
    layer->toggled = !layer->toggled;
    return keep_if_on(on, layer);
}

void layers_off(keyboard_layers* on) {
    for (int i = on->count - 1; i >= 0; --i) {
        on->layers[i].toggled = false;
        keep_if_on(on, &on->layers[i]);
    }
}

int layers_in_order(const keyboard_layers* on, const char* names[max_layers]) {
    int count = 0;
    bool taken[max_layers] = {};
    for (int n = 0; n < on->count; ++n) {
        int latest = -1;
        for (int i = 0; i < on->count; ++i) {
            if (!taken[i] && (latest < 0 || on->layers[i].since > on->layers[latest].since)) latest = i;
        }
        taken[latest] = true;
        names[count++] = on->layers[latest].name;
    }
    return count;
}
