#include "keymap/config.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "console/console.h"
#include "keymap/file.h"
#include "keymap/text.h"
#include "keymap/unicode.h"
#include "keymap/unit_stream.h"

void reset_config(config* into) {
    memset(into->configured_hardware_id, 0, sizeof into->configured_hardware_id);
    reset_key_table(&into->keys);
    into->section_count = 0;
    memset(into->sections, 0, sizeof into->sections);
    into->layer_count = 0;
    memset(into->layers, 0, sizeof into->layers);
    memset(into->holds, 0, sizeof into->holds);
    into->hold_time_ms = default_hold_time_ms;
    into->hold_time_line = 0;
    reset_items(&into->items);
}

const hold_line* hold_for_code(const config& layout, int scope, uint16_t code) {
    const scope_holds& holds = layout.holds[scope];
    for (int i = 0; i < holds.count; ++i) {
        if (layout.keys.entries[holds.lines[i].entry].scan_code == code) return &holds.lines[i];
    }
    return nullptr;
}

int layer_named(const config& layout, const char* name) {
    for (int i = 0; i < layout.layer_count; ++i) {
        if (std::strcmp(layout.layers[i].name, name) == 0) return i;
    }
    return -1;
}

bool is_layer_name(const char* text, size_t length) {
    if (length < 1 || length >= static_cast<size_t>(layer_name_bytes)) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

namespace {

// The layer of that name, added (as named only) when the file has none yet;
// -1 when no room is left.
int layer_for_name(config* layout, const char* name, size_t length) {
    char text[layer_name_bytes] = {};
    std::memcpy(text, name, length);
    int found = layer_named(*layout, text);
    if (found >= 0 || layout->layer_count == max_layers) return found;
    config_layer& layer = layout->layers[layout->layer_count];
    std::memcpy(layer.name, text, sizeof layer.name);
    layer.line = 0;
    reset_key_table(&layer.keys);
    return layout->layer_count++;
}

}  // namespace

uint16_t switch_output(config* layout, const char* text) {
    if (std::strcmp(text, "layers-off") == 0) return switch_all_off;
    uint16_t kind = std::strncmp(text, "layer(", 6) == 0    ? switch_layer
                    : std::strncmp(text, "toggle(", 7) == 0 ? switch_toggle
                                                            : 0;
    if (kind == 0) return 0;
    const char* name = text + (kind == switch_layer ? 6 : 7);
    size_t length = std::strlen(name);
    if (length < 2 || name[length - 1] != ')' || !is_layer_name(name, length - 1)) return 0;
    int layer = layer_for_name(layout, name, length - 1);
    return layer < 0 ? 0 : static_cast<uint16_t>(kind | layer);
}

std::vector<std::string> program_list(const std::string& names) {
    const char* blanks = " \t\r\n";
    std::vector<std::string> list;
    size_t at = 0;
    while (at <= names.size()) {
        size_t comma = names.find(',', at);
        if (comma == std::string::npos) comma = names.size();
        std::string name = names.substr(at, comma - at);
        size_t first = name.find_first_not_of(blanks);
        list.push_back(first == std::string::npos ? "" : name.substr(first, name.find_last_not_of(blanks) + 1 - first));
        at = comma + 1;
    }
    return list;
}

int section_for_program(const config& layout, const char* program) {
    for (int s = 0; s < layout.section_count; ++s) {
        const config_section& section = layout.sections[s];
        for (int p = 0; p < section.program_count; ++p) {
            if (same_but_for_case(section.programs[p], program)) return s;
        }
    }
    return -1;
}

namespace {

bool is_blank_unit(int32_t unit) {
    return unit == 0x20 || (unit >= 0x09 && unit <= 0x0D);
}

// Reads the first word into the configured id and leaves the unit after it
// unread. *line counts the line ends before the word.
config_outcome read_hardware_id(unit_stream* stream, char16_t* id, long* line) {
    int32_t unit = next_unit(stream);
    while (unit >= 0 && is_blank_unit(unit)) {
        if (unit == u'\n') ++*line;
        unit = next_unit(stream);
    }
    if (unit < 0) return config_no_hardware_id;

    char16_t word[hardware_id_units] = {};
    int length = 0;
    while (unit >= 0 && !is_blank_unit(unit)) {
        if (length == hardware_id_units - 1) return config_id_too_long;
        word[length++] = static_cast<char16_t>(unit);
        unit = next_unit(stream);
    }
    if (unit >= 0) unread_unit(stream, static_cast<char16_t>(unit));

    // A zero unit inside the word ends the id text; what follows it stays clear.
    for (int i = 0; i < length && word[i] != 0; ++i) id[i] = word[i];
    return config_loaded;
}

// Reads one piece (up to LF, at most piece_units units) as 8-bit text: units
// 0x01-0x7F stay, a zero unit ends the text, anything else becomes '?'. The
// same units up to the zero are kept as UTF-16 in wide, for a "when" line's
// program names. Returns false at the end of the input; *line_ended tells
// whether the piece ended its line.
bool read_piece(unit_stream* stream, char line[config_piece_units + 1], char16_t wide[config_piece_units + 1],
                bool* line_ended) {
    int units = 0;
    int bytes = 0;
    bool cut = false;
    *line_ended = false;
    while (units < config_piece_units) {
        int32_t unit = next_unit(stream);
        if (unit < 0) break;
        ++units;
        if (unit == 0) cut = true;
        if (!cut) {
            wide[bytes] = static_cast<char16_t>(unit);
            line[bytes++] = unit <= 0x7F ? static_cast<char>(unit) : '?';
        }
        if (unit == u'\n') {
            *line_ended = true;
            break;
        }
    }
    line[bytes] = '\0';
    wide[bytes] = 0;
    return units > 0;
}

// A "when" line: the programs of a new section (the text after "when ", as
// UTF-8), and its label for the log.
void start_section(config_section* section, long line, const std::string& names) {
    section->line = line;
    section->program_count = 0;
    reset_key_table(&section->keys);
    std::string label;
    for (const std::string& name : program_list(names)) {
        if (name.empty() || name.size() >= static_cast<size_t>(program_name_bytes)) continue;
        if (section->program_count == max_section_programs) continue;
        std::memcpy(section->programs[section->program_count++], name.c_str(), name.size() + 1);
        label += (label.empty() ? "" : ", ") + name;
    }
    // A label too long is cut at a whole character.
    size_t room = static_cast<size_t>(section_label_bytes) - 1;
    if (label.size() > room) {
        size_t cut = room;
        while (cut > 0 && continues_character(label[cut])) --cut;
        label.resize(cut);
    }
    std::memcpy(section->label, label.c_str(), label.size() + 1);
}

bool is_section_line(const char* line) {
    return std::strncmp(line, "when ", 5) == 0;
}

bool is_layer_line(const char* line) {
    return std::strncmp(line, "layer ", 6) == 0;
}

bool is_hold_line(const char* line) {
    return std::strncmp(line, "hold ", 5) == 0;
}

bool is_hold_time_line(const char* line) {
    return std::strncmp(line, "hold-time ", 10) == 0;
}

// "hold-time MS": the time, up to a comment, when it is a whole number of
// milliseconds in range; -1 otherwise.
long hold_time_of(const char* line) {
    const char* at = line + 10;
    while (*at == ' ') ++at;
    long value = 0;
    int digits = 0;
    for (; *at >= '0' && *at <= '9' && digits < 8; ++at, ++digits) value = value * 10 + (*at - '0');
    while (*at == ' ' || *at == '\t' || *at == '\r') ++at;
    bool ends = *at == 0 || *at == '\n' || *at == '#';
    bool in_range = value >= static_cast<long>(min_hold_time_ms) && value <= static_cast<long>(max_hold_time_ms);
    return digits > 0 && ends && in_range ? value : -1;
}

// A "layer" line's name: the text after "layer " up to a comment (a space
// then '#') or the line's end, blanks around it taken off; -1 when it is no
// name or no room is left for another layer.
int start_layer(config* layout, const char* line, long number) {
    const char* name = line + 6;
    while (*name == ' ' || *name == '\t') ++name;
    size_t length = 0;
    while (name[length] != 0 && name[length] != '\n' && !(name[length] == ' ' && name[length + 1] == '#')) ++length;
    while (length > 0 && (name[length - 1] == ' ' || name[length - 1] == '\t' || name[length - 1] == '\r')) --length;
    if (!is_layer_name(name, length)) return -1;
    int layer = layer_for_name(layout, name, length);
    if (layer >= 0 && layout->layers[layer].line == 0) layout->layers[layer].line = number;
    return layer;
}

// A line that maps a key to one output that is a layer switch: the switch
// goes into the entry. Any other output naming no key stays unknown, and so
// does a switch among other outputs.
void apply_switch(config* layout, key_table* outputs, line_note* note) {
    if (note->output_count != 1 || note->outputs[0].found >= 0 || note->outputs[0].modifiers != 0) return;
    uint16_t code = switch_output(layout, note->outputs[0].name);
    if (code == 0) return;
    // A switch is the key's whole mapping: it merges with nothing a line
    // before gave the key.
    key_entry& entry = outputs->entries[note->entry];
    clear_outputs(&entry);
    entry.outputs[0] = code;
    entry.modifiers[0] = modifier_switch;
    note->outputs[0].found = output_switch;
    note->outputs[0].value = code;
}

// A line of one output "run" or "open" followed by a command: the program
// goes into the entry, its whole mapping.
void apply_program(config* layout, key_table* outputs, const char* line, const char16_t* wide, long number,
                   line_note* note) {
    const output_note& word = note->outputs[0];
    item_kind kind = item_text;
    if (note->output_count != 1 || word.modifiers != 0 || note->ended_by == ',' || !is_program_word(word.name, &kind)) {
        return;
    }
    note->program = kind;
    if (note->ended_by != ' ') return;
    size_t rest_at = static_cast<size_t>(note->rest - line);
    size_t total = std::char_traits<char16_t>::length(wide);
    size_t from = 0;
    size_t count = 0;
    program_span(wide + rest_at, total - rest_at, &from, &count);
    uint16_t value = count > 0 ? add_program(&layout->items, kind, wide + rest_at + from, count) : 0;
    if (value == 0) return;
    config_item& item = layout->items.list[value - 1];
    item.line = number;
    key_entry& entry = outputs->entries[note->entry];
    clear_outputs(&entry);
    entry.outputs[0] = value;
    entry.modifiers[0] = modifier_switch | modifier_item;
    note->outputs[0].found = output_item;
    note->outputs[0].value = value;
    note->command = item_written(layout->items, item);
    note->program_kept = true;
    note->ended_by = '\n';
    note->rest = "";
}

// The outputs of an applied line written as texts ("...") become texts: line
// is the 8-bit piece the notes point into, wide its units as UTF-16.
void apply_items(config* layout, key_table* outputs, const char* line, const char16_t* wide, long number,
                 line_note* note) {
    if (note->fate != line_applied) return;
    apply_program(layout, outputs, line, wide, number, note);
    if (note->program >= 0) return;
    key_entry& entry = outputs->entries[note->entry];
    for (int i = 0; i < note->output_count; ++i) {
        output_note& out = note->outputs[i];
        if (out.name[0] != '"') continue;
        if (out.modifiers != 0) {
            out.problem = "a text takes no modifier prefix";
            continue;
        }
        size_t count = std::strlen(out.name);
        const char16_t* token = wide + (out.name - line);
        out.problem = text_problem(token, count);
        if (out.problem != nullptr) continue;
        uint16_t value = add_text(&layout->items, token, count);
        if (value == 0) {
            out.problem = "this file has no room for another text or program";
            continue;
        }
        layout->items.list[value - 1].line = number;
        entry.outputs[i] = value;
        entry.modifiers[i] = modifier_item;
        out.found = output_item;
        out.value = value;
        out.token = item_written(layout->items, layout->items.list[value - 1]);
    }
}

// A "hold KEY OUTPUTS" line: its outputs go into the scope's holds, read as
// a key line's are. A later hold line of the key merges into the first; a
// program merges with nothing.
void apply_hold_line(config* layout, int scope, char* line, const char16_t* wide, long number, key_table* scratch,
                     line_note* note) {
    apply_mapping_line(&layout->keys, scratch, line + 5, note);
    note->hold = true;
    if (note->fate != line_applied) return;
    apply_switch(layout, scratch, note);
    apply_items(layout, scratch, line, wide, number, note);
    key_entry& outputs = scratch->entries[note->entry];
    scope_holds& holds = layout->holds[scope];
    hold_line* kept = nullptr;
    for (int i = 0; i < holds.count && kept == nullptr; ++i) {
        if (holds.lines[i].entry == note->entry) kept = &holds.lines[i];
    }
    if (kept == nullptr && holds.count < max_scope_holds) {
        kept = &holds.lines[holds.count++];
        kept->line = number;
        kept->entry = note->entry;
        kept->key = layout->keys.entries[note->entry];
        clear_outputs(&kept->key);
    }
    note->hold_kept = kept != nullptr;
    if (kept != nullptr && (is_program(outputs) || is_program(kept->key))) {
        clear_outputs(&kept->key);
    }
    for (int i = 0; kept != nullptr && i < key_outputs; ++i) {
        if (outputs.outputs[i] == 0 && outputs.modifiers[i] == 0) continue;
        kept->key.outputs[i] = outputs.outputs[i];
        kept->key.modifiers[i] = outputs.modifiers[i];
    }
    clear_outputs(&outputs);
}

// A switch that names a layer no line of the file defines maps nothing.
void drop_switches_to_nothing(config* layout) {
    key_table* tables[1 + max_sections + max_layers];
    int count = 0;
    tables[count++] = &layout->keys;
    for (int s = 0; s < layout->section_count; ++s) tables[count++] = &layout->sections[s].keys;
    for (int l = 0; l < layout->layer_count; ++l) tables[count++] = &layout->layers[l].keys;
    for (int t = 0; t < count; ++t) {
        for (key_entry& entry : tables[t]->entries) {
            uint16_t out = entry.outputs[0];
            if (!is_layer_switch(entry) || out >= switch_all_off || layout->layers[out & 0xFF].line != 0) continue;
            entry.outputs[0] = 0;
            entry.modifiers[0] = 0;
        }
    }
    for (scope_holds& holds : layout->holds) {
        for (int i = 0; i < holds.count; ++i) {
            uint16_t out = holds.lines[i].key.outputs[0];
            if (is_layer_switch(holds.lines[i].key) && out < switch_all_off && layout->layers[out & 0xFF].line == 0) {
                holds.lines[i].key.outputs[0] = 0;
                holds.lines[i].key.modifiers[0] = 0;
            }
        }
    }
}

// A note for a line that is no mapping line: nothing applied.
void note_only(const char* line, line_note* note, line_fate fate) {
    *note = line_note{};
    note->fate = fate;
    note->key_token = line;
    note->entry = -1;
    note->rest = "";
    note->section_label = "";
    note->programs = "";
    note->layer = -1;
    note->layer_name = "";
    note->hold = false;
    note->hold_kept = false;
    note->hold_time = -1;
    note->program = -1;
    note->command = "";
    note->program_kept = false;
}

config_outcome load_from(byte_source source, config* into, const config_listener* listener) {
    reset_config(into);
    unit_stream stream;
    if (!open_unit_stream(&stream, source)) return config_unreadable;
    long number = 1;
    config_outcome id = read_hardware_id(&stream, into->configured_hardware_id, &number);
    if (listener != nullptr && listener->hardware_id != nullptr) listener->hardware_id(listener->context, number, id);
    if (id != config_loaded) return id;
    char line[config_piece_units + 1];
    char text[config_piece_units + 1];
    char16_t wide[config_piece_units + 1];
    std::string programs;  // a "when" line's, as its note tells them
    bool line_ended = false;
    bool line_start = true;
    int section = -1;  // -2: a section or layer there is no room for
    int layer = -1;
    // Where a hold line's outputs are read before they join the scope's holds.
    std::unique_ptr<key_table> scratch(new key_table);
    reset_key_table(scratch.get());
    while (read_piece(&stream, line, wide, &line_ended)) {
        line_note note;
        std::memcpy(text, line, sizeof text);
        if (line_start && is_layer_line(line)) {
            note_only(line, &note, line_layer);
            layer = start_layer(into, line, number);
            section = layer >= 0 ? -1 : -2;
            note.layer = layer;
            if (layer >= 0) note.layer_name = into->layers[layer].name;
        } else if (line_start && is_section_line(line)) {
            layer = -1;
            section = into->section_count < max_sections ? into->section_count++ : -2;
            note_only(line, &note, line_section);
            // A space then '#' starts a comment, as after a key line's outputs.
            programs = utf8_text(wide + 5);
            programs = programs.substr(0, programs.find(" #"));
            note.programs = programs.c_str();
            if (section >= 0) {
                start_section(&into->sections[section], number, programs);
                note.section_label = into->sections[section].label;
            }
        } else if (section == -2) {
            note_only(line, &note, line_dropped);
        } else if (line_start && is_hold_time_line(line)) {
            note_only(line, &note, line_hold_time);
            note.hold_time = hold_time_of(line);
            if (note.hold_time > 0 && into->hold_time_line == 0) {
                into->hold_time_ms = static_cast<uint32_t>(note.hold_time);
                into->hold_time_line = number;
            }
        } else if (line_start && is_hold_line(line)) {
            int scope = layer >= 0 ? 1 + max_sections + layer : section + 1;
            apply_hold_line(into, scope, line, wide, number, scratch.get(), &note);
            note.layer = layer;
        } else {
            key_table* outputs = layer >= 0     ? &into->layers[layer].keys
                                 : section >= 0 ? &into->sections[section].keys
                                                : &into->keys;
            apply_mapping_line(&into->keys, outputs, line, &note);
            if (note.fate == line_applied) apply_switch(into, outputs, &note);
            apply_items(into, outputs, line, wide, number, &note);
            note.layer = layer;
        }
        note.section = section;
        if (listener != nullptr) listener->line(listener->context, number, text, &note);
        line_start = line_ended;
        if (line_ended) ++number;
    }
    drop_switches_to_nothing(into);
    return config_loaded;
}

void echo_outputs(void*, long, const char*, const line_note* note) {
    echo_line(note);
}

const config_listener echo_listener = {nullptr, echo_outputs, nullptr};

const char hardware_id_message[] = "first line in config file must be hardware id\n";

struct file_context {
    const char16_t* path;
    config_file* file;
};

long read_file(void* context, uint8_t* into, size_t cap) {
    file_context* source = static_cast<file_context*>(context);
    return read_config_file(source->file, into, cap);
}

bool rewind_file(void* context) {
    file_context* source = static_cast<file_context*>(context);
    close_config_file(source->file);
    source->file = open_config_file(source->path);
    return source->file != nullptr;
}

void print_failed_to_open(const char16_t* path) {
    console_print(console_out, "failed to open ");
    size_t pos = 0;
    while (path[pos] != 0) {
        char bytes[4];
        int length = utf8_encode(utf16_next(path, &pos), bytes);
        console_write(console_out, bytes, static_cast<size_t>(length));
    }
    console_print(console_out, "\n");
}

}  // namespace

std::string echo_text(const line_note* note) {
    std::string text;
    if (note->fate == line_section && note->section >= 0) return "when " + std::string(note->section_label) + "\n";
    if (note->fate == line_layer && note->layer >= 0) return "layer " + std::string(note->layer_name) + "\n";
    if (note->fate == line_hold_time && note->hold_time > 0)
        return "hold-time " + std::to_string(note->hold_time) + "\n";
    if (note->fate != line_applied || (note->hold && !note->hold_kept)) return text;
    std::string hold = note->hold ? "hold " : "";
    if (note->program_kept) {
        return hold + note->key_token + "->" + program_word(static_cast<item_kind>(note->program)) + " " +
               note->command + "\n";
    }
    for (int i = 0; i < note->output_count; ++i) {
        const output_note& out = note->outputs[i];
        if (out.found < 0 && out.found != output_switch && out.found != output_item) continue;
        text += hold + note->key_token + "->" + out.token + "\n";
    }
    return text;
}

void echo_line(const line_note* note) {
    std::string text = echo_text(note);
    console_write(console_out, text.data(), text.size());
}

void print_load_failure(const char16_t* path, config_outcome outcome) {
    if (outcome == config_unreadable && path != nullptr) print_failed_to_open(path);
    if (outcome == config_no_hardware_id || outcome == config_id_too_long) {
        console_print(console_out, hardware_id_message);
    }
}

config_outcome read_config(const char16_t* path, config* into, const config_listener* listener) {
    file_context context = {path, open_config_file(path)};
    if (context.file == nullptr) {
        reset_config(into);
        return config_unreadable;
    }
    config_outcome outcome = load_from({read_file, rewind_file, &context}, into, listener);
    if (context.file != nullptr) close_config_file(context.file);
    return outcome;
}

bool load_config(const char16_t* path, config* into) {
    config_outcome outcome = read_config(path, into, &echo_listener);
    print_load_failure(path, outcome);
    return outcome == config_loaded;
}

namespace {

struct memory_context {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

long read_memory(void* context, uint8_t* into, size_t cap) {
    memory_context* source = static_cast<memory_context*>(context);
    size_t count = source->size - source->pos;
    if (count > cap) count = cap;
    if (count > 0) memcpy(into, source->data + source->pos, count);
    source->pos += count;
    return static_cast<long>(count);
}

bool rewind_memory(void* context) {
    static_cast<memory_context*>(context)->pos = 0;
    return true;
}

}  // namespace

config_outcome read_config_bytes(const uint8_t* data, size_t size, config* into, const config_listener* listener) {
    memory_context context = {data, size, 0};
    return load_from({read_memory, rewind_memory, &context}, into, listener);
}

bool load_config_bytes(const uint8_t* data, size_t size, config* into) {
    if (read_config_bytes(data, size, into, &echo_listener) != config_loaded) {
        console_print(console_out, hardware_id_message);
        return false;
    }
    return true;
}

bool names_keyboard(const config& layout, const char16_t* id) {
    const char16_t* named = layout.configured_hardware_id;
    for (int i = 0; i < hardware_id_units; ++i) {
        if (named[i] != id[i]) return false;
        if (named[i] == 0) return true;
    }
    return false;
}

namespace {

void drop_program(key_entry* entry) {
    if (!is_program(*entry)) return;
    clear_outputs(entry);
}

}  // namespace

std::string refuse_programs(config* layout) {
    for (key_entry& entry : layout->keys.entries) drop_program(&entry);
    for (int s = 0; s < layout->section_count; ++s) {
        for (key_entry& entry : layout->sections[s].keys.entries) drop_program(&entry);
    }
    for (int l = 0; l < layout->layer_count; ++l) {
        for (key_entry& entry : layout->layers[l].keys.entries) drop_program(&entry);
    }
    // A hold that would start a program goes whole: the key is a plain key
    // again, its tap (if any) sent at once.
    for (scope_holds& holds : layout->holds) {
        int kept = 0;
        for (int i = 0; i < holds.count; ++i) {
            if (!is_program(holds.lines[i].key)) holds.lines[kept++] = holds.lines[i];
        }
        holds.count = kept;
    }
    std::string said;
    for (int i = 0; i < layout->items.count; ++i) {
        const config_item& item = layout->items.list[i];
        if (item.kind == item_text) continue;
        said += "line " + std::to_string(item.line) + ": " + program_refusal(layout->items, item) + "\n";
    }
    return said;
}

std::string program_refusal(const config_items& items, const config_item& item) {
    return "'" + item_shown(items, item) +
           "' is refused: padmap runs with administrator rights, and a file any program of yours can write must "
           "not start programs as administrator";
}
