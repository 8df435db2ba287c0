#include <cstdio>
#include <cstring>
#include <string>

#include "app/front.h"
#include "app/key_loop.h"
#include "engine/translate.h"
#include "keymap/key_table.h"
#include "keymap/text.h"

namespace {

constexpr uint16_t monitor_filter = 0xFFFF;

// What the monitor last said of each keyboard's hardware id.
struct known_id {
    bool seen;
    bool usable;
    char16_t id[hardware_id_units];
};

// The key as a configuration line writes it: its table name, or "#" and the
// lookup code for a key the table has no name for. User entries are left out:
// they are names a configuration gives, not keys. Pause's strokes show as
// "(Pause)": their codes are other keys', and no configuration maps them.
void key_text(const key_stroke& key, bool pause, char* out, size_t cap) {
    if (pause) {
        std::snprintf(out, cap, "(Pause)");
        return;
    }
    uint16_t lookup = lookup_code(key);
    const key_table& keys = fresh_key_table();
    int index = find_key_by_code(&keys, lookup);
    if (index >= 0 && !is_user_key(index)) {
        std::snprintf(out, cap, "%s", keys.entries[index].name);
    } else {
        std::snprintf(out, cap, "#%04x", static_cast<unsigned>(lookup));
    }
}

// One line when the keyboard is first seen or its id has changed since.
size_t id_line(known_id* known, int device, bool usable, const char16_t* id, char* out, size_t cap) {
    // The id ends at its terminator: what lies after it in the buffer is no
    // part of it.
    size_t units = 0;
    while (usable && units < hardware_id_units - 1 && id[units] != 0) ++units;
    bool same = known->seen && known->usable == usable &&
                (!usable || (std::memcmp(known->id, id, units * sizeof id[0]) == 0 && known->id[units] == 0));
    if (same) return 0;
    known->seen = true;
    known->usable = usable;
    if (usable) {
        std::memcpy(known->id, id, units * sizeof id[0]);
        known->id[units] = 0;
    }
    int length = std::snprintf(out, cap, "keyboard %d: ", device);
    if (length < 0) return 0;
    size_t used = static_cast<size_t>(length);
    if (usable) {
        used += utf16_to_utf8(id, out + used, cap - used - 1);
    } else {
        const char none[] = "no usable hardware id";
        std::memcpy(out + used, none, sizeof none - 1);
        used += sizeof none - 1;
    }
    out[used++] = '\n';
    return used;
}

}  // namespace

// What the monitor has said so far.
struct monitor_view {
    known_id known[keyboard_count];
    front_program front;
    // What the last line said: another window of the same program says nothing new.
    std::u16string said_program;
    bool said_known;
    bool after_e1[keyboard_count];
};

// Every keyboard's strokes, each sent on unchanged at once and then shown,
// with a line whenever another program has come to the front: the name a
// configuration's "when" line writes.
bool monitor_stroke(run_state* run, monitor_view* view, int device, const stroke& received) {
    send_stroke(run->set, device, &received);
    if (device < 1 || device > keyboard_count) return true;
    const key_stroke& key = received.key;
    char text[hardware_id_units * 3 + program_name_units * 3 + 200];
    size_t length = 0;
    front_program& front = view->front;
    if (follow_front(&front) &&
        (front.known != view->said_known || (front.known && view->said_program != front.name))) {
        view->said_known = front.known;
        view->said_program = front.known ? front.name : u"";
        length = front_line(front, text, sizeof text);
    }
    char16_t id[hardware_id_units];
    bool usable = fetch_hardware_id(run->set, device, id);
    length += id_line(&view->known[device - 1], device, usable, id, text + length, sizeof text - length);
    char name[24];
    key_text(key, is_pause_stroke(&view->after_e1[device - 1], key), name, sizeof name);
    int line =
        std::snprintf(text + length, sizeof text - length, "%d %-4s %-9s make %04x state %04x extra %08lx\n", device,
                      (key.key_state & key_state_up) ? "up" : "down", name, static_cast<unsigned>(key.make_code),
                      static_cast<unsigned>(key.key_state), static_cast<unsigned long>(key.extra_info));
    if (line > 0) length += static_cast<size_t>(line);
    log_line(run, text, length);
    return true;
}

int run_monitor(run_state* run) {
    set_keyboard_filter(run->set, monitor_filter);
    start_log(run);
    monitor_view view = {};
    reset_front(&view.front);
    return end_run(run, run_key_loop(run, stroke_handler{loop_monitor, &view, nullptr}));
}
