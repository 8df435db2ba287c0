#include "engine/items.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/engine.h"
#include "keymap/text.h"

size_t show_item(const config_items& items, const config_item& item, char* shown) {
    size_t length = 0;
    if (item.kind != item_text) {
        const char* word = program_word(item.kind);
        length = std::strlen(word);
        std::memcpy(shown, word, length);
        shown[length++] = ' ';
    }
    const char* written = item_written(items, item);
    size_t rest = std::strlen(written);
    if (length + rest <= item_shown_bytes) {
        std::memcpy(shown + length, written, rest);
        return length + rest;
    }
    size_t cut = item_shown_bytes - 3 - length;
    while (cut > 0 && continues_character(written[cut])) --cut;
    std::memcpy(shown + length, written, cut);
    std::memcpy(shown + length + cut, "...", 3);
    return length + cut + 3;
}

const config_item* item_asked(const engine* core, const action& act) {
    if (act.kind != action_item || act.file < 0 || act.file >= core->file_count) return nullptr;
    return item_of(core->files[act.file].layout.items, act.item, modifier_item);
}

void engine_text_short(engine* core, const action& act, uint32_t taken, uint32_t total, engine_actions* out) {
    const config_item* item = item_asked(core, act);
    if (item == nullptr) return;
    char shown[item_shown_bytes];
    size_t count = show_item(core->files[act.file].layout.items, *item, shown);
    char line[96];
    std::snprintf(line, sizeof line, ": the system took %lu of its %lu key events\n", static_cast<unsigned long>(taken),
                  static_cast<unsigned long>(total));
    out->log += core->files[act.file].line_prefix;
    out->log += "typed in part ";
    out->log.append(shown, count);
    out->log += line;
}

namespace {

void carry_entry_items(const config_items& from, config_items* into, key_entry* entry) {
    int kept = 0;
    for (int i = 0; i < key_outputs && entry->outputs[i] != 0; ++i) {
        uint16_t out = entry->outputs[i];
        uint16_t modifiers = entry->modifiers[i];
        if (is_item_output(out, modifiers)) {
            const config_item* item = item_of(from, out, modifiers);
            out = item != nullptr ? copy_item(into, from, *item) : 0;
            if (out == 0) continue;
        }
        entry->outputs[kept] = out;
        entry->modifiers[kept++] = modifiers;
    }
    for (int i = kept; i < key_outputs; ++i) {
        entry->outputs[i] = 0;
        entry->modifiers[i] = 0;
    }
}

}  // namespace

void carry_items(engine* core, int file, config* fresh) {
    const config_items& from = core->files[file].layout.items;
    for (int device = 1; device <= keyboard_count; ++device) {
        if (core->keyboard_file[device - 1] != file) continue;
        int count = 0;
        pressed_key* keys = keyboard_keys(&core->pressed, device, &count);
        for (int i = 0; i < count; ++i) {
            carry_entry_items(from, &fresh->items, &keys[i].entry);
            carry_entry_items(from, &fresh->items, &keys[i].hold);
        }
    }
}
