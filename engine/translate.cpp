#include "engine/translate.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/items.h"
#include "keymap/key_table.h"
#include "keymap/output_text.h"

const key_stroke modifier_strokes[16] = {
    {0x2A, 0x00, 0}, {0x2A, 0x01, 0},  // lS
    {0x1D, 0x00, 0}, {0x1D, 0x01, 0},  // lC
    {0x38, 0x00, 0}, {0x38, 0x01, 0},  // lA
    {0x5B, 0x02, 0}, {0x5B, 0x03, 0},  // lW
    {0x36, 0x00, 0}, {0x36, 0x01, 0},  // rS
    {0x1D, 0x02, 0}, {0x1D, 0x03, 0},  // rC
    {0x38, 0x02, 0}, {0x38, 0x03, 0},  // rA
    {0x5C, 0x02, 0}, {0x5C, 0x03, 0},  // rW
};

namespace {

constexpr int modifier_bits = modifier_count;

// Any of these bits in an output marks it as an E0 key.
constexpr uint16_t e0_output_mask = 0xE000;

const char bypass_prefix[] = "bypassing key ";
const char up_prefix[] = "UP remapping pressed key=";
const char down_prefix[] = "DOWN pressed key=";
const char name_gap[] = " ";
const char code_gap[] = " -> ";
const char head_end[] = ": ";
const char output_up[] = " up\n";
const char output_down[] = " down-";
const char modifier_down[] = "down-";
const char modifier_up[] = "up-";
const char line_end[] = "\n";

template <size_t size>
constexpr size_t length(const char (&)[size]) {
    return size - 1;
}

constexpr size_t larger(size_t a, size_t b) {
    return a > b ? a : b;
}

// The longest text one stroke can log: every output used, each with all eight
// modifiers, under the longest name the table can hold. Names are printed with
// at most this many characters, so the bound holds for any table contents.
constexpr size_t hex_width = 4;
constexpr size_t name_width = key_name_size - 1;
constexpr size_t tag_width = sizeof modifier_texts[0].log_tag - 1;

constexpr size_t head_size(size_t prefix) {
    return prefix + name_width + length(name_gap) + hex_width + length(code_gap) + hex_width + length(head_end);
}

constexpr size_t bypass_line_size = length(bypass_prefix) + hex_width + length(line_end);
constexpr size_t up_line_size = head_size(length(up_prefix)) + hex_width + length(output_up);
constexpr size_t down_line_size = head_size(length(down_prefix)) + modifier_bits * (tag_width + length(modifier_down)) +
                                  hex_width + length(output_down) + modifier_bits * (tag_width + length(modifier_up)) +
                                  length(line_end);
constexpr size_t worst_log_size =
    larger(bypass_line_size, larger(up_line_size, down_line_size) * key_outputs) + log_prefix_max * key_outputs;

constexpr size_t item_line_size = head_size(length(down_prefix)) - hex_width + item_shown_bytes + 40;
static_assert(item_line_size <= down_line_size, "an item's line is no longer than a key's");
static_assert(worst_log_size <= log_capacity, "the log of one stroke always fits its buffer");

void put(stroke_log* log, const char* text, size_t count) {
    size_t room = log_capacity - log->length;
    if (count > room) count = room;
    std::memcpy(log->text + log->length, text, count);
    log->length += count;
}

template <size_t size>
void put_text(stroke_log* log, const char (&text)[size]) {
    put(log, text, size - 1);
}

void put_hex(stroke_log* log, uint16_t value) {
    static const char digits[] = "0123456789abcdef";
    const char text[hex_width] = {digits[(value >> 12) & 0xF], digits[(value >> 8) & 0xF], digits[(value >> 4) & 0xF],
                                  digits[value & 0xF]};
    put(log, text, hex_width);
}

// Bounded so that a name filling its whole field, without a terminator, is
// cut at the field rather than read past it.
void put_name(stroke_log* log, const char* name) {
    size_t count = 0;
    while (count < name_width && name[count] != 0) ++count;
    put(log, name, count);
}

// What every line starts with, at most log_prefix_max bytes of it.
// Copied as it is scanned: a prefix is a few dozen bytes, and a bounded copy
// of it is compiled to a string instruction that costs more to start than
// this loop takes in all.
void put_line_start(stroke_log* log, const char* line_prefix) {
    size_t room = log_capacity - log->length;
    size_t limit = room < log_prefix_max ? room : log_prefix_max;
    char* to = log->text + log->length;
    size_t count = 0;
    for (; count < limit && line_prefix[count] != 0; ++count) to[count] = line_prefix[count];
    log->length += count;
}

struct line_context {
    output_target target;
    const char* line_prefix;
    const key_entry* entry;
    uint16_t received;
    uint32_t extra_info;
};

// A line's head up to what the key sends: "DOWN pressed key=F1 003b -> ".
void put_key_head(stroke_log* log, const char* prefix, size_t prefix_size, const line_context& line) {
    put_line_start(log, line.line_prefix);
    put(log, prefix, prefix_size);
    put_name(log, line.entry->name);
    put_text(log, name_gap);
    put_hex(log, line.received);
    put_text(log, code_gap);
}

void put_head(stroke_log* log, const char* prefix, size_t prefix_size, const line_context& line, uint16_t out) {
    put_key_head(log, prefix, prefix_size, line);
    put_hex(log, out);
    put_text(log, head_end);
}

key_stroke output_stroke(uint16_t out, bool release, uint32_t extra_info) {
    uint16_t state = release ? key_state_up : 0;
    if (out & e0_output_mask) state |= key_state_e0;
    key_stroke key = {static_cast<uint16_t>(out & 0xFF), state, extra_info};
    return key;
}

void release_output(stroke_log* log, const line_context& line, uint16_t out) {
    put_head(log, up_prefix, length(up_prefix), line, out);
    key_stroke key = output_stroke(out, true, line.extra_info);
    send_output(line.target.held, line.target.out, line.target.device, key);
    put_hex(log, out);
    put_text(log, output_up);
}

// A modifier padmap already holds down on the keyboard (for another key, or
// a modifier key passed on) is neither pressed nor released around the
// output: releasing it would take it from the key that holds it.
void press_output(stroke_log* log, const line_context& line, uint16_t out, uint16_t modifiers) {
    const output_target& target = line.target;
    put_head(log, down_prefix, length(down_prefix), line, out);
    uint16_t pressed = 0;
    for (int bit = 0; bit < modifier_bits; ++bit) {
        if (!(modifiers & (1u << bit)) || key_held(target.held, target.device, modifier_strokes[2 * bit])) continue;
        pressed |= static_cast<uint16_t>(1u << bit);
        put_text(log, modifier_texts[bit].log_tag);
        put_text(log, modifier_down);
        send_output(target.held, target.out, target.device, modifier_strokes[2 * bit]);
    }
    key_stroke key = output_stroke(out, false, line.extra_info);
    send_output(target.held, target.out, target.device, key);
    put_hex(log, out);
    put_text(log, output_down);
    for (int bit = 0; bit < modifier_bits; ++bit) {
        if (!(pressed & (1u << bit))) continue;
        put_text(log, modifier_texts[bit].log_tag);
        put_text(log, modifier_up);
        send_output(target.held, target.out, target.device, modifier_strokes[2 * bit + 1]);
    }
    put_text(log, line_end);
}

// A text or a program: at the first press it is asked for; its line names it
// in place of a key's code.
void item_output(stroke_log* log, const line_context& line, uint16_t out, uint16_t modifiers, bool release) {
    const output_target& target = line.target;
    const config_item* item = item_of(*target.items, out, modifiers);
    if (item == nullptr) return;
    if (release) {
        put_key_head(log, up_prefix, length(up_prefix), line);
    } else {
        put_key_head(log, down_prefix, length(down_prefix), line);
    }
    char shown[item_shown_bytes + 1];
    size_t count = show_item(*target.items, *item, shown);
    put(log, shown, count);
    put_text(log, head_end);
    const char* effect = release                   ? "nothing to do\n"
                         : target.repeat           ? "repeat, nothing to do\n"
                         : item->kind == item_text ? "typed\n"
                                                   : "handed to be started\n";
    put(log, effect, std::strlen(effect));
    if (!release && !target.repeat) add_item_action(target.out, target.device, target.file, out);
}

}  // namespace

void log_pass_through(const key_stroke& key, const char* prefix, stroke_log* log) {
    log->length = 0;
    put_line_start(log, prefix);
    put_text(log, bypass_prefix);
    put_hex(log, lookup_code(key));
    put_text(log, line_end);
}

bool is_pause_stroke(bool* after_e1, const key_stroke& key) {
    bool second_half = *after_e1 && key.make_code == 0x45 && !(key.key_state & key_state_e0);
    bool e1 = (key.key_state & key_state_e1) != 0;
    *after_e1 = e1;
    return e1 || second_half;
}

translate_result translate_stroke(const key_table* table, const key_stroke& key, output_target target,
                                  const char* prefix, stroke_log* log) {
    // Its make code alone is another key's: Pause's E1 1D would be left Ctrl.
    int index = (key.key_state & key_state_e1) ? -1 : find_key_by_code(table, lookup_code(key));
    return translate_entry(index >= 0 ? &table->entries[index] : nullptr, key, target, prefix, log);
}

translate_result translate_entry(const key_entry* found, const key_stroke& key, output_target target,
                                 const char* prefix, stroke_log* log) {
    log->length = 0;
    if (found == nullptr || found->outputs[0] == 0) {
        log_pass_through(key, prefix, log);
        return translate_pass_through;
    }

    const key_entry& entry = *found;
    const line_context line = {target, prefix, &entry, key.make_code, key.extra_info};
    const bool release = (key.key_state & key_state_up) != 0;
    for (int i = 0; i < key_outputs && entry.outputs[i] != 0; ++i) {
        if (target.items != nullptr && is_item_output(entry.outputs[i], entry.modifiers[i])) {
            item_output(log, line, entry.outputs[i], entry.modifiers[i], release);
        } else if (release) {
            release_output(log, line, entry.outputs[i]);
        } else {
            press_output(log, line, entry.outputs[i], entry.modifiers[i]);
        }
    }
    return translate_consumed;
}
