#include "engine/engine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "keymap/text.h"

namespace {

void copy_prefix(const std::string& prefix, char* into) {
    std::memcpy(into, prefix.c_str(), prefix.size() + 1);
}

bool continues_character(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
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

// What a stroke is translated by (null: no entry), and what its log lines
// start with. Both stay valid until the pressed key is let go.
struct found_entry {
    const key_entry* entry;
    const char* prefix;
};

// A pressed key's repeats and release go by what its press found; a release
// whose press padmap did not handle under this file passes on as typed (the
// key went down before padmap captured it, or under another file). A press
// goes by the layout of the moment: the section of the program in front,
// when it maps the key, otherwise the lines outside sections; each scope
// uses the first entry it maps. A press of a key not down yet is noted with
// what it found.
found_entry entry_for_stroke(engine* core, int file, int device, const key_stroke& key) {
    uint16_t code = lookup_code(key);
    if (const pressed_key* pressed = find_pressed(&core->pressed, device, code)) {
        return found_entry{pressed->found ? &pressed->entry : nullptr, pressed->prefix};
    }
    const engine_file& loaded = core->files[file];
    const config& layout = loaded.layout;
    found_entry found = {nullptr, loaded.line_prefix};
    if (key.key_state & key_state_up) return found;
    int index = -1;
    // The layers that are on come first, the last turned on first.
    const char* names[max_layers];
    int on = layout.layer_count > 0 ? layers_in_order(&core->layers[device - 1], names) : 0;
    for (int i = 0; i < on && index < 0; ++i) {
        int layer = layer_named(layout, names[i]);
        if (layer < 0 || layout.layers[layer].line == 0) continue;
        index = find_mapped_by_code(&layout.keys, &layout.layers[layer].keys, code);
        if (index >= 0) found = found_entry{&layout.layers[layer].keys.entries[index], loaded.layer_prefix[layer]};
    }
    int section = index < 0 && layout.section_count > 0 ? section_in_front(core, file) : -1;
    if (section >= 0) index = find_mapped_by_code(&layout.keys, &layout.sections[section].keys, code);
    if (section >= 0 && index >= 0) {
        found = found_entry{&layout.sections[section].keys.entries[index], loaded.section_prefix[section]};
    } else if (index < 0) {
        index = find_mapped_by_code(&layout.keys, &layout.keys, code);
        if (index >= 0) found.entry = &layout.keys.entries[index];
    }
    uint16_t first = found.entry != nullptr ? found.entry->outputs[0] : 0;
    const char* layer = is_layer_switch(first) && first < switch_all_off ? layout.layers[first & 0xFF].name : "";
    note_press(&core->pressed, device, code, found.entry, found.prefix, layer);
    return found;
}

// A key whose output switches layers sends nothing: it acts at its first
// press (a layer held, a toggle, every toggle off) and, for a key that holds
// a layer, at its release. The log says what became of the layer.
void switch_layers(engine* core, int device, const key_stroke& key, const pressed_key& press, bool repeat,
                   stroke_log* log) {
    keyboard_layers& on = core->layers[device - 1];
    uint16_t out = press.entry.outputs[0];
    const char* name = press.layer;
    bool release = (key.key_state & key_state_up) != 0;
    std::string written = out >= switch_all_off             ? "layers-off"
                          : (out & 0xFF00) == switch_toggle ? std::string("toggle(") + name + ")"
                                                            : std::string("layer(") + name + ")";
    std::string effect;
    if (repeat) {
        effect = "repeat, nothing to do";
    } else if ((out & 0xFF00) == switch_layer) {
        bool was = hold_layer(&on, name, 0);
        bool now = hold_layer(&on, name, release ? -1 : 1);
        effect = std::string("layer ") + name + (now == was ? " stays " : " ") + (now ? "on" : "off");
    } else if (release) {
        effect = "nothing to do";
    } else if ((out & 0xFF00) == switch_toggle) {
        bool was = hold_layer(&on, name, 0);
        bool now = toggle_layer(&on, name);
        effect = std::string("layer ") + name + (now == was ? " stays " : " ") + (now ? "on" : "off");
    } else {
        layers_off(&on);
        effect = "every toggle off";
    }
    char line[log_capacity];
    int length = std::snprintf(line, sizeof line, "%s%s%s %04x -> %s: %s\n", press.prefix,
                               release ? "UP remapping pressed key=" : "DOWN pressed key=", press.entry.name,
                               static_cast<unsigned>(key.make_code), written.c_str(), effect.c_str());
    log->length = 0;
    if (length > 0) {
        log->length = static_cast<size_t>(length) < sizeof line ? static_cast<size_t>(length) : sizeof line - 1;
        std::memcpy(log->text, line, log->length);
    }
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
    std::memset(core->after_e1, 0, sizeof core->after_e1);
    reset_held_outputs(&core->outputs);
    reset_pressed_keys(&core->pressed);
    core->front_program.clear();
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
    note_keyboard(core, device, file, out);
    add_filter(out, device, id == nullptr || file >= 0 ? capture_every_stroke : capture_nothing);
}

void engine_stroke(engine* core, int device, const char16_t* id, const key_stroke& key, engine_actions* out) {
    if (device < 1 || device > keyboard_count) {
        add_pass(out, device, key);
        return;
    }
    bool pause = is_pause_stroke(&core->after_e1[device - 1], key);
    int file = id != nullptr ? file_naming(core, id, -1) : -1;
    // A stroke whose id cannot be read says nothing of where its keyboard went.
    if (id != nullptr) note_keyboard(core, device, file, out);
    if (file < 0) {
        add_pass(out, device, key);
        // A keyboard no file names has no reason to pass through padmap; one
        // whose id cannot be read yet stays captured.
        if (id != nullptr) add_filter(out, device, capture_nothing);
        return;
    }
    stroke_log log;
    if (pause) {
        // Pause's strokes carry other keys' codes: they hold nothing down.
        add_pass(out, device, key);
        log_pass_through(key, core->files[file].line_prefix, &log);
    } else {
        bool repeat = !(key.key_state & key_state_up) && find_pressed(&core->pressed, device, lookup_code(key));
        found_entry found = entry_for_stroke(core, file, device, key);
        const pressed_key* press = find_pressed(&core->pressed, device, lookup_code(key));
        output_target target = {device, &core->outputs, out};
        bool switches = found.entry != nullptr && is_layer_switch(found.entry->outputs[0]);
        if (switches && press != nullptr) {
            switch_layers(core, device, key, *press, repeat, &log);
        } else if (switches) {
            // More keys down than padmap keeps: the switch cannot be undone.
            log_pass_through(key, found.prefix, &log);
        } else if (translate_entry(found.entry, key, target, found.prefix, &log) == translate_pass_through) {
            pass_key(&core->outputs, out, device, key);
        }
        // Let go only now: the entry above may be the pressed key's own.
        if (key.key_state & key_state_up) note_release(&core->pressed, device, lookup_code(key));
    }
    out->log.append(log.text, log.length);
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
