#include "engine/actions.h"

void clear_actions(engine_actions* out) {
    out->list.clear();
    out->log.clear();
    out->check_keyboards = false;
}

void add_send(engine_actions* out, int device, const key_stroke& key) {
    out->list.push_back(action{action_send, static_cast<uint8_t>(device), 0, key});
}

void add_pass(engine_actions* out, int device, const key_stroke& key) {
    out->list.push_back(action{action_pass, static_cast<uint8_t>(device), 0, key});
}

void add_filter(engine_actions* out, int device, uint16_t filter) {
    out->list.push_back(action{action_filter, static_cast<uint8_t>(device), filter, key_stroke{}});
}
