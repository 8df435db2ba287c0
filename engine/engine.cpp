#include "engine/engine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/items.h"
#include "keymap/text.h"

namespace {

void copy_prefix(const std::string& prefix, char* into) {
    std::memcpy(into, prefix.c_str(), prefix.size() + 1);
}

// A prefix longer than its room keeps its start: the file, then the section
// or layer, cut before a whole character.
void copy_cut_prefix(std::string prefix, char* into) {
    size_t cut = std::min(prefix.size(), static_cast<size_t>(log_prefix_max) - 1);
    while (cut > 0 && cut < prefix.size() && continues_character(prefix[cut])) --cut;
    prefix.resize(cut);
    copy_prefix(prefix, into);
}

void name_sections(engine_file* file) {
    for (int s = 0; s < file->layout.section_count; ++s) {
        copy_cut_prefix(std::string(file->line_prefix) + "when " + file->layout.sections[s].label + ": ",
                        file->section_prefix[s]);
    }
    for (int l = 0; l < file->layout.layer_count; ++l) {
        copy_cut_prefix(std::string(file->line_prefix) + "layer " + file->layout.layers[l].name + ": ",
                        file->layer_prefix[l]);
    }
}

// A keyboard that is no longer there gets no releases for the keys held on
// it: padmap lets go of everything it holds down for it, outputs and keys it
// passed on, and forgets its keys and its half-seen Pause.
void keyboard_gone(engine* core, int device, engine_actions* out) {
    release_keyboard_keys(&core->outputs, device, out);
    int count = 0;
    const pressed_key* keys = keyboard_keys(&core->pressed, device, &count);
    for (int i = 0; i < count; ++i) core->pending -= keys[i].state == press_pending;
    forget_presses(&core->pressed, device);
    core->after_e1[device - 1] = false;
    reset_layers(&core->layers[device - 1]);
}

// Notes the file a keyboard was found to follow (-1: none); the one it
// followed before, if another, lets it go.
void note_keyboard(engine* core, int device, int file, engine_actions* out) {
    int& known = core->keyboard_file[device - 1];
    if (known >= 0 && known != file) keyboard_gone(core, device, out);
    known = file;
}

// The section of the file for the program in front, -1 for none.
int section_in_front(engine* core, int file) {
    const config& layout = core->files[file].layout;
    if (layout.section_count == 0) return -1;
    if (!core->sections_known[file]) {
        core->in_front[file] =
            core->front_program.empty() ? -1 : section_for_program(layout, core->front_program.c_str());
        core->sections_known[file] = true;
    }
    return core->in_front[file];
}

// What a press finds in the layout of the moment: the entry of its tap
// (null: none), the hold of the key (null: none), and what its log lines
// start with.
struct found_entry {
    const key_entry* entry;
    const hold_line* hold;
    const char* prefix;
};

// A press goes by the layout of the moment: the layers that are on, the last
// turned on first, then the section of the program in front, then the lines
// outside sections; the first of them that maps the key (a first output or
// a hold) gives all of it. Each scope uses the first entry it maps.
found_entry look_up(engine* core, int file, int device, uint16_t code) {
    const engine_file& loaded = core->files[file];
    const config& layout = loaded.layout;
    const char* names[max_layers];
    int on = layout.layer_count > 0 ? layers_in_order(&core->layers[device - 1], names) : 0;
    for (int i = 0; i < on; ++i) {
        int layer = layer_named(layout, names[i]);
        if (layer < 0 || layout.layers[layer].line == 0) continue;
        int index = find_mapped_by_code(&layout.keys, &layout.layers[layer].keys, code);
        const hold_line* hold = hold_for_code(layout, 1 + max_sections + layer, code);
        if (index < 0 && hold == nullptr) continue;
        return found_entry{index >= 0 ? &layout.layers[layer].keys.entries[index] : nullptr, hold,
                           loaded.layer_prefix[layer]};
    }
    int section = layout.section_count > 0 ? section_in_front(core, file) : -1;
    if (section >= 0) {
        int index = find_mapped_by_code(&layout.keys, &layout.sections[section].keys, code);
        const hold_line* hold = hold_for_code(layout, 1 + section, code);
        if (index >= 0 || hold != nullptr) {
            return found_entry{index >= 0 ? &layout.sections[section].keys.entries[index] : nullptr, hold,
                               loaded.section_prefix[section]};
        }
    }
    int index = find_mapped_by_code(&layout.keys, &layout.keys, code);
    return found_entry{index >= 0 ? &layout.keys.entries[index] : nullptr, hold_for_code(layout, 0, code),
                       loaded.line_prefix};
}

// The layer a switch output names in the file, "" for none.
const char* switch_layer_name(const config& layout, const key_entry* entry) {
    if (entry == nullptr || !is_layer_switch(*entry) || entry->outputs[0] >= switch_all_off) return "";
    return layout.layers[entry->outputs[0] & 0xFF].name;
}

bool is_switch(const key_entry& entry) {
    return is_layer_switch(entry);
}

// A key whose output switches layers sends nothing: it acts at its first
// press (a layer held, a toggle, every toggle off) and, for a key that holds
// a layer, at its release. The log says what became of the layer.
void switch_layers(engine* core, int device, uint16_t make_code, const key_entry& entry, const char* name,
                   const char* prefix, bool release, bool repeat, engine_actions* out) {
    keyboard_layers& on = core->layers[device - 1];
    uint16_t switch_out = entry.outputs[0];
    std::string written = switch_out >= switch_all_off             ? "layers-off"
                          : (switch_out & 0xFF00) == switch_toggle ? std::string("toggle(") + name + ")"
                                                                   : std::string("layer(") + name + ")";
    std::string effect;
    if (repeat) {
        effect = "repeat, nothing to do";
    } else if ((switch_out & 0xFF00) == switch_layer) {
        bool was = hold_layer(&on, name, 0);
        bool now = hold_layer(&on, name, release ? -1 : 1);
        effect = std::string("layer ") + name + (now == was ? " stays " : " ") + (now ? "on" : "off");
    } else if (release) {
        effect = "nothing to do";
    } else if ((switch_out & 0xFF00) == switch_toggle) {
        bool was = hold_layer(&on, name, 0);
        bool now = toggle_layer(&on, name);
        effect = std::string("layer ") + name + (now == was ? " stays " : " ") + (now ? "on" : "off");
    } else {
        layers_off(&on);
        effect = "every toggle off";
    }
    char code[8];
    std::snprintf(code, sizeof code, "%04x", static_cast<unsigned>(make_code));
    out->log += std::string(prefix) + (release ? "UP remapping pressed key=" : "DOWN pressed key=") + entry.name + " " +
                code + " -> " + written + ": " + effect + "\n";
}

// Presses or releases what an entry sends: its outputs, or its switch.
void act(engine* core, int device, const key_stroke& key, const key_entry& entry, const char* layer, const char* prefix,
         bool repeat, engine_actions* out) {
    bool release = (key.key_state & key_state_up) != 0;
    if (is_switch(entry)) {
        switch_layers(core, device, key.make_code, entry, layer, prefix, release, repeat, out);
        return;
    }
    stroke_log log;
    int file = core->keyboard_file[device - 1];
    const config_items* items = file >= 0 ? &core->files[file].layout.items : nullptr;
    translate_entry(&entry, key, output_target{device, &core->outputs, out, items, file, repeat}, prefix, &log);
    out->log.append(log.text, log.length);
}

key_stroke released(key_stroke key) {
    key.key_state |= key_state_up;
    return key;
}

// A pending key becomes held: its hold outputs are pressed (or its switch).
void start_hold(engine* core, int device, pressed_key* press) {
    press->state = press_held;
    --core->pending;
    std::string prefix = std::string(press->prefix) + "hold: ";
    act(core, device, press->typed, press->hold, press->hold_layer, prefix.c_str(), false, core->out);
}

// A pending key released first is a tap: its tap outputs are pressed and
// released at once; with no tap line, the key itself is, as typed.
void tap(engine* core, int device, const pressed_key& press, engine_actions* out) {
    std::string prefix = std::string(press.prefix) + "tap: ";
    if (!press.found) {
        for (const key_stroke& key : {press.typed, released(press.typed)}) {
            pass_key(&core->outputs, out, device, key);
            stroke_log log;
            log_pass_through(key, prefix.c_str(), &log);
            out->log.append(log.text, log.length);
        }
        return;
    }
    act(core, device, press.typed, press.entry, press.layer, prefix.c_str(), false, out);
    act(core, device, released(press.typed), press.entry, press.layer, prefix.c_str(), false, out);
}

// Every pending key of the keyboard is held, oldest first: another key of it
// went down. Returns whether any was.
bool hold_pending(engine* core, int device) {
    if (core->pending == 0) return false;
    bool held = false;
    int count = 0;
    pressed_key* keys = keyboard_keys(&core->pressed, device, &count);
    for (;;) {
        pressed_key* oldest = nullptr;
        for (int i = 0; i < count; ++i) {
            if (keys[i].state == press_pending && (oldest == nullptr || keys[i].order < oldest->order))
                oldest = &keys[i];
        }
        if (oldest == nullptr) return held;
        start_hold(core, device, oldest);
        held = true;
    }
}

// A press of a key not down yet: a key with a hold is pending (and decides
// nothing); any other press first holds every pending key of its keyboard,
// then is looked up with the layers those holds turned on.
void press_key(engine* core, int file, int device, const key_stroke& key, uint64_t now, engine_actions* out) {
    uint16_t code = lookup_code(key);
    const config& layout = core->files[file].layout;
    found_entry found = look_up(core, file, device, code);
    // The holds may turn layers on: the press is looked up again then.
    if (found.hold == nullptr && hold_pending(core, device)) found = look_up(core, file, device, code);
    pressed_key* press =
        note_press(&core->pressed, device, code, found.entry, found.prefix, switch_layer_name(layout, found.entry));
    if (found.hold != nullptr && press != nullptr) {
        press->state = press_pending;
        press->hold = found.hold->key;
        std::strncpy(press->hold_layer, switch_layer_name(layout, &found.hold->key), sizeof press->hold_layer - 1);
        press->hold_layer[sizeof press->hold_layer - 1] = 0;
        press->typed = key;
        press->deadline = now + layout.hold_time_ms;
        press->order = ++core->presses;
        ++core->pending;
        return;
    }
    if (found.entry != nullptr && (press != nullptr || !is_switch(*found.entry))) {
        act(core, device, key, *found.entry, press != nullptr ? press->layer : "", found.prefix, false, out);
        return;
    }
    // Unmapped, or a switch padmap has no room to undo: the key goes on as typed.
    pass_key(&core->outputs, out, device, key);
    stroke_log log;
    log_pass_through(key, found.prefix, &log);
    out->log.append(log.text, log.length);
}

// A repeat or the release of a key that is down goes by its press: a
// pending or held key's repeats send nothing; its release is a tap, or ends
// its hold.
void follow_press(engine* core, int device, const key_stroke& key, pressed_key* press, engine_actions* out) {
    bool release = (key.key_state & key_state_up) != 0;
    if (press->state == press_let_go) {
        // Everything it sent was released already.
    } else if (press->state == press_pending) {
        if (release) {
            tap(core, device, *press, out);
            --core->pending;
        }
    } else if (press->state == press_held) {
        if (release) {
            std::string prefix = std::string(press->prefix) + "hold: ";
            act(core, device, key, press->hold, press->hold_layer, prefix.c_str(), false, out);
        }
    } else if (press->found) {
        act(core, device, key, press->entry, press->layer, press->prefix, !release, out);
    } else {
        pass_key(&core->outputs, out, device, key);
        stroke_log log;
        log_pass_through(key, press->prefix, &log);
        out->log.append(log.text, log.length);
    }
    if (release) note_release(&core->pressed, device, press->code);
}

}  // namespace

void start_engine(engine* core, int count, const std::string* shown) {
    core->file_count = count;
    for (int i = 0; i < count; ++i) {
        engine_file& file = core->files[i];
        file.shown = shown[i];
        file.line_prefix[0] = 0;
        // With several files every log line names the file of its keyboard;
        // one file prints exactly what it always has.
        if (count > 1) {
            std::string prefix = file.shown + ": ";
            // A path too long for the prefix keeps its end, the file's own
            // name, from a whole character on.
            if (prefix.size() >= log_prefix_max) {
                size_t from = prefix.size() - (log_prefix_max - 4);
                while (from < prefix.size() && continues_character(prefix[from])) ++from;
                prefix = "..." + prefix.substr(from);
            }
            copy_prefix(prefix, file.line_prefix);
        }
        name_sections(&file);
        core->sections_known[i] = false;
        core->in_front[i] = -1;
    }
    for (int& file : core->keyboard_file) file = -1;
    for (keyboard_layers& on : core->layers) reset_layers(&on);
    core->presses = 0;
    core->pending = 0;
    core->programs_refused = false;
    core->paused = false;
    core->enrolling = false;
    core->out = nullptr;
    std::memset(core->after_e1, 0, sizeof core->after_e1);
    reset_held_outputs(&core->outputs);
    reset_pressed_keys(&core->pressed);
    core->front_program.clear();
    forget_seen_keyboards(&core->seen);
    core->refused = 0;
}

int file_naming(const engine* core, const char16_t* id, int except) {
    for (int i = 0; i < core->file_count; ++i) {
        if (i != except && names_keyboard(core->files[i].layout, id)) return i;
    }
    return -1;
}

bool engine_follows_front(const engine* core) {
    for (int i = 0; i < core->file_count; ++i) {
        if (core->files[i].layout.section_count > 0) return true;
    }
    return false;
}

void engine_front(engine* core, const char16_t* program) {
    core->front_program = program != nullptr ? utf8_text(program) : std::string();
    for (bool& known : core->sections_known) known = false;
}

void engine_keyboard(engine* core, int device, const char16_t* id, engine_actions* out) {
    if (device < 1 || device > keyboard_count) return;
    int file = id != nullptr ? file_naming(core, id, -1) : -1;
    // Every keyboard present is noted, those no file names too: a file that
    // names one later did not see it plugged in.
    if (id != nullptr && first_sight(&core->seen, id) && file >= 0) out->arrived_device = device;
    note_keyboard(core, device, file, out);
    bool captured = !core->paused && (id == nullptr || file >= 0 || core->enrolling);
    add_filter(out, device, captured ? capture_every_stroke : capture_nothing);
}

void engine_stroke(engine* core, int device, const char16_t* id, const key_stroke& key, uint64_t now,
                   engine_actions* out) {
    // Strokes read after a pause were typed before it: they pass on as typed.
    if (device < 1 || device > keyboard_count || core->paused) {
        add_pass(out, device, key);
        return;
    }
    bool pause = is_pause_stroke(&core->after_e1[device - 1], key);
    int file = id != nullptr ? file_naming(core, id, -1) : -1;
    // A stroke whose id cannot be read says nothing of where its keyboard
    // went. One whose keyboard is not the one its slot held may come before
    // the system's news of it.
    if (id != nullptr && core->keyboard_file[device - 1] != file) {
        if (first_sight(&core->seen, id) && file >= 0) out->arrived_device = device;
        note_keyboard(core, device, file, out);
    }
    if (file < 0 && core->enrolling && id != nullptr && !(key.key_state & key_state_up)) {
        // The press that picks the keyboard for a new configuration goes
        // nowhere; the keyboards are then captured as before.
        core->enrolling = false;
        out->enrolled_device = device;
        out->check_keyboards = true;
        return;
    }
    if (file < 0) {
        add_pass(out, device, key);
        // A keyboard no file names has no reason to pass through padmap; one
        // whose id cannot be read yet stays captured.
        if (id != nullptr && !core->enrolling) add_filter(out, device, capture_nothing);
        return;
    }
    if (pause) {
        // Pause's strokes carry other keys' codes: they hold nothing down,
        // and decide no pending key.
        add_pass(out, device, key);
        stroke_log log;
        log_pass_through(key, core->files[file].line_prefix, &log);
        out->log.append(log.text, log.length);
        return;
    }
    core->out = out;
    pressed_key* press = pressed_record(&core->pressed, device, lookup_code(key));
    if (press != nullptr) {
        // The press it follows says what it does, whatever changed since.
        follow_press(core, device, key, press, out);
    } else if (key.key_state & key_state_up) {
        // A release whose press padmap did not handle under this file passes
        // on as typed: the key went down before padmap captured it, or under
        // another file.
        pass_key(&core->outputs, out, device, key);
        stroke_log log;
        log_pass_through(key, core->files[file].line_prefix, &log);
        out->log.append(log.text, log.length);
    } else {
        press_key(core, file, device, key, now, out);
    }
    core->out = nullptr;
}

void engine_time(engine* core, uint64_t now, engine_actions* out) {
    if (core->pending == 0) return;
    core->out = out;
    for (;;) {
        // The earliest deadline that has passed, across keyboards; equal
        // ones in press order.
        pressed_key* next = nullptr;
        int next_device = 0;
        for (int device = 1; device <= keyboard_count; ++device) {
            int count = 0;
            pressed_key* keys = keyboard_keys(&core->pressed, device, &count);
            for (int i = 0; i < count; ++i) {
                const pressed_key& key = keys[i];
                if (key.state != press_pending || key.deadline > now) continue;
                bool earlier = next == nullptr || key.deadline < next->deadline ||
                               (key.deadline == next->deadline && key.order < next->order);
                if (!earlier) continue;
                next = &keys[i];
                next_device = device;
            }
        }
        if (next == nullptr) break;
        start_hold(core, next_device, next);
    }
    core->out = nullptr;
}

uint64_t engine_deadline(const engine* core) {
    uint64_t earliest = no_deadline;
    if (core->pending == 0) return earliest;
    for (const keyboard_presses& keyboard : core->pressed.keyboards) {
        for (int i = 0; i < keyboard.count; ++i) {
            if (keyboard.keys[i].state == press_pending && keyboard.keys[i].deadline < earliest) {
                earliest = keyboard.keys[i].deadline;
            }
        }
    }
    return earliest;
}

void engine_file_replaced(engine* core, int file) {
    name_sections(&core->files[file]);
    core->sections_known[file] = false;
}

void engine_stop(engine* core, engine_actions* out) {
    release_all_outputs(&core->outputs, out);
}

void engine_send_refused(engine* core, const action& act, uint32_t bytes, engine_actions* out) {
    if (act.kind == action_send) note_refused(&core->outputs, act.device, act.key);
    int file = act.device >= 1 && act.device <= keyboard_count ? core->keyboard_file[act.device - 1] : -1;
    char line[160];
    const char* prefix = file >= 0 ? core->files[file].line_prefix : "";
    const char* way = (act.key.key_state & key_state_up) ? "up" : "down";
    unsigned code = lookup_code(act.key);
    int length =
        bytes == send_no_request
            ? std::snprintf(line, sizeof line, "no memory to send %04x %s: it did not reach the system\n", code, way)
        : bytes == 0
            ? std::snprintf(line, sizeof line, "the driver refused %04x %s: it did not reach the system\n", code, way)
            : std::snprintf(line, sizeof line,
                            "the driver took %lu of the %lu bytes of %04x %s: it did not reach the system\n",
                            static_cast<unsigned long>(bytes), static_cast<unsigned long>(key_record_size), code, way);
    out->log += prefix;
    if (length > 0) out->log.append(line, static_cast<size_t>(length) < sizeof line ? length : sizeof line - 1);
}
