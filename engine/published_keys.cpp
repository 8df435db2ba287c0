#include "engine/published_keys.h"

void reset_published_keys(published_keys* table) {
    for (auto& keyboard : table->words) {
        for (auto& word : keyboard) word.store(0, std::memory_order_relaxed);
    }
}

// One writer: a load and a store are enough, and cost the stroke nothing
// that a locked read-modify-write would.
void publish_sent(published_keys* table, int device, const key_stroke& key) {
    if (device < 1 || device > keyboard_count || key.make_code > 0xFF) return;
    int code = ((key.key_state & key_state_e0) ? 256 : 0) + key.make_code;
    std::atomic<uint32_t>& word = table->words[device - 1][code / 32];
    uint32_t bit = 1u << (code % 32);
    uint32_t now = word.load(std::memory_order_relaxed);
    word.store((key.key_state & key_state_up) ? now & ~bit : now | bit, std::memory_order_release);
}

void read_published_keys(const published_keys* table, held_outputs* held) {
    reset_held_outputs(held);
    for (int device = 1; device <= keyboard_count; ++device) {
        for (int code = 0; code < held_output_codes; ++code) {
            uint32_t word = table->words[device - 1][code / 32].load(std::memory_order_acquire);
            if (!(word & (1u << (code % 32)))) continue;
            uint16_t state = code >= 256 ? key_state_e0 : 0;
            note_output(held, device, key_stroke{static_cast<uint16_t>(code % 256), state, 0});
        }
    }
}
