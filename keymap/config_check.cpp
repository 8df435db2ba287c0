#include "keymap/config_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "keymap/file.h"
#include "keymap/output_text.h"
#include "keymap/text.h"

namespace {

// Names users write for keys: another name of a table key, or a key no
// configuration can map.
struct key_alias {
    const char* name;
    const char* table_name;  // null: the key cannot be mapped
};

// clang-format off
const key_alias aliases[] = {
    {"PgUp", "PageUp"}, {"PgDn", "PageDown"}, {"PageDn", "PageDown"}, {"Del", "Delete"}, {"Ins", "Insert"},
    {"Return", "Enter"}, {"Spacebar", "Space"}, {"CapsLock", "Caps"}, {"Bksp", "Backspace"},
    {"Escape", "Esc"}, {"Shift", "LShift"}, {"Ctrl", "LCtrl"}, {"Control", "LCtrl"}, {"Alt", "LAlt"},
    {"AltGr", "RAlt"}, {"Win", "LWin"}, {"Apps", "Menu"}, {"ContextMenu", "Menu"},
    {"PrtSc", "PrintScreen"}, {"PrtScn", "PrintScreen"}, {"ScrLk", "ScrollLock"},
    {"VolUp", "VolumeUp"}, {"VolDown", "VolumeDown"}, {"Play", "PlayPause"}, {"MediaPlayPause", "PlayPause"},
    {"MediaStop", "StopMedia"}, {"MediaNextTrack", "NextTrack"}, {"MediaPrevTrack", "PrevTrack"},
    {"Calc", "Calculator"}, {"Kana", "KanaMode"},
    {"Pause", nullptr}, {"Break", nullptr},
};
// clang-format on

// A table name that differs from name only in case.
const char* name_in_other_case(const char* name) {
    for (const key_entry& entry : fresh_key_table().entries) {
        if (same_but_for_case(name, entry.name)) return entry.name;
    }
    return nullptr;
}

const key_alias* alias_of(const char* name) {
    for (const key_alias& alias : aliases) {
        if (same_but_for_case(name, alias.name)) return &alias;
    }
    return nullptr;
}

bool is_blank_text(const char* text) {
    for (; *text != 0; ++text) {
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') return false;
    }
    return true;
}

std::string trimmed(const char* text) {
    std::string out(text);
    size_t start = out.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return "";
    size_t end = out.find_last_not_of(" \t\r\n");
    return out.substr(start, end + 1 - start);
}

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

std::string sends_text(const config& layout, const key_table& table, const key_entry& entry) {
    if (is_layer_switch(entry)) {
        uint16_t out = entry.outputs[0];
        if (out >= switch_all_off) return "layers-off";
        return std::string((out & 0xFF00) == switch_toggle ? "toggle(" : "layer(") + layout.layers[out & 0xFF].name +
               ")";
    }
    std::string text;
    for (int i = 0; i < key_outputs && entry.outputs[i] != 0; ++i) {
        if (i > 0) text += ",";
        const config_item* item = item_of(layout.items, entry.outputs[i], entry.modifiers[i]);
        if (item == nullptr) {
            append_output_token(table, entry.modifiers[i], entry.outputs[i], text);
        } else {
            text += item_shown(layout.items, *item);
        }
    }
    return text.empty() ? "nothing" : text;
}

struct pending_user_output {
    long line;
    int entry;          // the user entry named
    std::string token;  // as written
};

// Where a mapping line stands: outside sections and layers (0), in section s
// (s + 1) or in layer l (max_sections + 1 + l).
constexpr int scopes = max_sections + max_layers + 1;

int scope_of(const line_note& note) {
    return note.layer >= 0 ? max_sections + 1 + note.layer : note.section + 1;
}

// A switch as a line names it, for the findings about layers.
struct switch_use {
    long line;
    int layer;  // -1: layers-off
    std::string token;
};

struct later_mapping {
    long line;
    int scope;
    int entry;
};

struct checker {
    config_check* result;
    bool id_is_a_key;
    long first_line_of[scopes][key_count];       // the line that first mapped each entry, 0 for none
    uint16_t first_output[scopes][key_count];    // each entry's first output as the lines leave it
    long claimed_on[key_count];                  // the line whose "#" code claimed a user entry
    std::vector<later_mapping> remapped;         // every later mapping of an entry in one scope
    std::vector<pending_user_output> unclaimed;  // outputs naming a user entry with no key yet
    std::vector<switch_use> switches;            // every layer switch a line gives a key
    bool holds_in[scopes];                       // a hold line of the scope holds something
    long hold_time_line;                         // the first hold-time line padmap takes
    bool first_piece;                            // the next piece is the rest of the id's line
};

void find(checker* c, long line, const std::string& message) {
    c->result->findings.push_back({line, message});
}

// What to say of a name that is not in the table.
std::string unknown_name(const char* what, const char* name, bool as_output) {
    std::string message = std::string("unknown ") + what + " " + quoted(name);
    if (!as_output && same_but_for_case(name, "when")) return message + ": a section begins with 'when' in lower case";
    if (const char* other = name_in_other_case(name)) return message + ": did you mean " + quoted(other) + "?";
    const key_alias* alias = alias_of(name);
    if (alias == nullptr) return message;
    if (alias->table_name != nullptr) return message + ": did you mean " + quoted(alias->table_name) + "?";
    // Pause reaches padmap as an E1 stroke and its second half, which pass on
    // untranslated; a stroke padmap sends has no E1 flag.
    if (as_output) return message + ": padmap cannot send Pause";
    return message + ": padmap passes Pause on as it is, and no line can map it";
}

// An output name that is more prefixes and a key: the prefixes out of order, or
// one given twice. Empty when the name is not that.
std::string misplaced_prefixes(const output_note& out) {
    std::string rest = out.name;
    uint16_t bits = out.modifiers;
    bool twice = false;
    std::string repeated;
    for (bool took = true; took;) {
        took = false;
        for (const modifier_text& m : modifier_texts) {
            size_t length = std::strlen(m.prefix);
            if (rest.compare(0, length, m.prefix) != 0 || rest.size() == length) continue;
            if (bits & m.bit) {
                twice = true;
                repeated = m.prefix;
            }
            bits |= m.bit;
            rest.erase(0, length);
            took = true;
        }
    }
    if (rest == out.name || find_key_by_name(&fresh_key_table(), rest.c_str()) < 0) return "";
    std::string fixed;
    append_modifier_prefixes(bits, fixed);
    fixed += rest;
    if (twice) return quoted(out.token) + " gives the prefix " + quoted(repeated) + " twice: write " + quoted(fixed);
    std::string order = "(the order is";
    for (const modifier_text& m : modifier_texts) order += std::string(" ") + m.prefix;
    return quoted(out.token) + " has its prefixes out of order: write " + quoted(fixed) + " " + order + ")";
}

// A comment line: '#' then a space, a tab or the end of the line.
bool is_comment_line(const char* text) {
    return text[0] == '#' && (text[1] == ' ' || text[1] == '\t' || text[1] == '\n' || text[1] == 0);
}

// The rest of a line after the space that ended its outputs, up to a comment
// (a space then '#'), without blanks around it. Empty when only a comment or
// nothing follows.
std::string ignored_before_comment(const char* rest) {
    std::string text = " " + std::string(rest);
    size_t comment = text.find(" #");
    if (comment != std::string::npos) text.resize(comment);
    return trimmed(text.c_str());
}

std::string neither_key_nor_comment(const std::string& token) {
    return quoted(token) + " is neither a key nor a comment: a comment line begins with '#' and a space";
}

// The list with the spaces after its commas taken out, up to the first other space.
std::string joined_list(const char* list) {
    std::string text;
    for (const char* at = list; *at != 0 && *at != '\n' && *at != '\r'; ++at) {
        if (*at == ' ' && !text.empty() && text.back() == ',') continue;
        if (*at == ' ') break;
        text += *at;
    }
    return text;
}

// A "run" line whose program is a full path to no file: it would start
// nothing.
void check_program(checker* c, long line, const line_note& note) {
    if (!note.program_kept || note.program != item_run) return;
    std::string command = note.command;
    std::string program =
        command[0] == '"' ? command.substr(1, command.find('"', 1) - 1) : command.substr(0, command.find(' '));
    bool full = program.size() >= 3 && program[1] == ':' && (program[2] == '\\' || program[2] == '/');
    full = full || (!program.empty() && (program[0] == '\\' || program[0] == '/'));
    if (!full) return;
    std::u16string path = utf16_text(program.c_str());
    config_file* file = open_config_file(path.c_str());
    if (file != nullptr) {
        close_config_file(file);
        return;
    }
    find(c, line, quoted(program) + " is no file padmap can find: the key would start nothing");
}

bool looks_like_switch(const char* name) {
    return std::strcmp(name, "layers-off") == 0 || std::strncmp(name, "layer(", 6) == 0 ||
           std::strncmp(name, "toggle(", 7) == 0;
}

// A "layer" line the loader could not use.
void check_layer_line(checker* c, long line, const char* text) {
    if (c->result->loaded.layer_count == max_layers) {
        find(c, line, "more than " + std::to_string(max_layers) + " layers: this one and its lines are ignored");
    } else {
        find(c, line,
             quoted(trimmed(text)) +
                 " names no layer: a layer's name is 1 to 32 letters, digits, '_' or '-': its lines are ignored");
    }
}

void check_outputs(checker* c, long line, const char* text, const line_note& note) {
    const key_table& table = c->result->table;
    const char* list = std::strchr(text, ' ');
    while (list != nullptr && *list == ' ') ++list;
    // "F1 # copy": a comment where the outputs would be.
    if (note.output_count == 1 && std::strcmp(note.outputs[0].token, "#") == 0) {
        find(c, line, quoted(note.key_token) + " is given no outputs");
        return;
    }
    // "F1 C-X\t# cut": the tab, the '#' and the first word of the comment are
    // part of the last output.
    bool tab_comment = note.ended_by != ',' && std::strstr(note.outputs[note.output_count - 1].token, "\t#") != nullptr;
    if (tab_comment) find(c, line, "a tab does not end the outputs: put a space before a comment");
    bool program_mixed = is_program_word(note.outputs[note.output_count - 1].name);
    std::string ignored =
        note.ended_by == ' ' && !tab_comment && !program_mixed ? ignored_before_comment(note.rest) : "";
    for (int i = 0; i < note.output_count - (tab_comment ? 1 : 0); ++i) {
        const output_note& out = note.outputs[i];
        bool last = i == note.output_count - 1;
        if (out.token[0] == 0) {
            bool space_follows = last && !ignored.empty();
            if (i == 0 && last && !space_follows) {
                find(c, line, quoted(note.key_token) + " is given no outputs");
            } else if (!last) {
                find(c, line, "an empty output between two commas");
            } else if (!space_follows) {
                find(c, line, "the list of outputs ends with a comma");
            }
            continue;
        }
        if (out.found == output_switch || out.found == output_item) continue;
        if (out.problem != nullptr) {
            bool cut = std::strcmp(out.problem, "the text has no closing quote") == 0 &&
                       std::strlen(text) >= static_cast<size_t>(config_piece_units);
            find(c, line,
                 cut ? "a text too long for its line: a line holds at most " + std::to_string(config_piece_units) +
                           " characters, and the text sends nothing"
                     : quoted(out.token) + " sends nothing: " + out.problem);
            continue;
        }
        if (out.found < 0 && out.modifiers == 0 && is_program_word(out.name)) {
            find(c, line,
                 note.program >= 0
                     ? quoted(out.name) + " is given nothing to " + (note.program == item_run ? "run" : "open") +
                           ": write it after the word"
                     : quoted(out.name) +
                           " starts a program and must be the only output of its line: here it does nothing");
            continue;
        }
        if (out.found < 0 && looks_like_switch(out.name)) {
            find(c, line,
                 quoted(out.token) + " switches layers and must be the only output of its line: here it sends nothing");
            continue;
        }
        if (out.found < 0) {
            std::string misplaced = misplaced_prefixes(out);
            find(c, line, !misplaced.empty() ? misplaced : unknown_name("output", out.name, true));
            continue;
        }
        if (is_user_key(out.found) && table.entries[out.found].scan_code == 0) {
            c->unclaimed.push_back({line, out.found, out.token});
        }
    }
    if (!ignored.empty()) {
        find(c, line,
             "a space ends the list of outputs: " + quoted(ignored) + " is ignored (write " +
                 quoted(joined_list(list != nullptr ? list : "")) + ")");
    }
    if (note.ended_by == ',') {
        find(c, line, "more than 16 outputs: " + quoted(trimmed(note.rest)) + " is ignored");
    }
}

// A key both a '#' line and its later name map: strokes find the user entry
// the '#' line claims first, so the later name's lines do nothing. Said on
// the later of the two lines, whichever it is.
// Each scope (the lines outside sections, each section) finds its own entry:
// a '#' line and a name for one key meet only when one scope maps both.
void check_code_and_name(checker* c, long line, const line_note& note) {
    const key_table& table = c->result->table;
    const int scope = scope_of(note);
    uint16_t code = table.entries[note.entry].scan_code;
    char code_text[8];
    std::snprintf(code_text, sizeof code_text, "#%04x", static_cast<unsigned>(code));
    if (note.entry < first_late_key) {
        // A '#' line that gives its key no output hides nothing.
        if (!is_user_key(note.entry) || c->first_output[scope][note.entry] == 0) return;
        for (int late = first_late_key; late < key_count; ++late) {
            long mapped = c->first_line_of[scope][late];
            if (table.entries[late].scan_code != code || mapped == 0 || mapped > line) continue;
            find(c, line,
                 quoted(note.key_token) + " is " + quoted(table.entries[late].name) + ", mapped on line " +
                     std::to_string(mapped) + ": this line claims " + quoted(table.entries[note.entry].name) +
                     " for the key, which strokes find first, so that line does nothing");
        }
        return;
    }
    for (int user = first_user_key; user < first_late_key; ++user) {
        long mapped = c->first_line_of[scope][user];
        if (table.entries[user].scan_code != code || c->first_output[scope][user] == 0) continue;
        find(c, line,
             quoted(note.key_token) + " is " + quoted(code_text) + ", which line " + std::to_string(mapped) +
                 " claims as " + quoted(table.entries[user].name) +
                 ": strokes find that entry first, so this line does nothing");
    }
}

// Builds the check's own table from what the loader says it did: the claim
// first, as the loader makes it before it reads the outputs.
void follow_claim(checker* c, const line_note& note) {
    if (note.claimed) c->result->table.entries[note.entry].scan_code = note.code;
}

// Lines in a section give their outputs to the section's table; the check
// keeps the first output of each entry in each scope.
void follow_outputs(checker* c, const line_note& note) {
    int scope = scope_of(note);
    if (note.output_count > 0 && note.outputs[0].found >= 0) {
        c->first_output[scope][note.entry] = c->result->table.entries[note.outputs[0].found].scan_code;
    }
    if (note.output_count > 0 && note.outputs[0].found == output_switch) {
        c->first_output[scope][note.entry] = note.outputs[0].value;
        uint16_t value = note.outputs[0].value;
        c->switches.push_back({0, value >= switch_all_off ? -1 : value & 0xFF, note.outputs[0].token});
    }
    if (note.output_count > 0 && note.outputs[0].found == output_item) {
        c->first_output[scope][note.entry] = note.outputs[0].value;
    }
    if (scope != 0) return;
    key_entry& entry = c->result->table.entries[note.entry];
    bool switches = note.output_count > 0 && note.outputs[0].found == output_switch;
    if (is_layer_switch(entry) || is_program(entry) || switches || note.program_kept) {
        clear_outputs(&entry);
    }
    for (int i = 0; i < note.output_count; ++i) {
        const output_note& out = note.outputs[i];
        entry.modifiers[i] = out.modifiers;
        if (out.found >= 0) entry.outputs[i] = c->result->table.entries[out.found].scan_code;
        if (out.found == output_switch) {
            entry.outputs[i] = out.value;
            entry.modifiers[i] = modifier_switch;
        }
        if (out.found == output_item) {
            entry.outputs[i] = out.value;
            entry.modifiers[i] = note.program_kept ? modifier_switch | modifier_item : modifier_item;
        }
    }
}

// A program name padmap can never see in front as written.
std::string odd_program(const std::string& name) {
    if (name.size() >= static_cast<size_t>(program_name_bytes)) {
        return quoted(name.substr(0, 40) + "...") + " is longer than " + std::to_string(program_name_bytes - 1) +
               " bytes and is ignored";
    }
    size_t folder = name.find_last_of("/\\");
    if (folder != std::string::npos) {
        return quoted(name) + " is a path: name the program by its file name alone, " + quoted(name.substr(folder + 1));
    }
    if (name.find('.') == std::string::npos) {
        return quoted(name) + " has no extension: padmap compares the program's file name, as in " +
               quoted(name + ".exe") + " (padmap --monitor shows it)";
    }
    return "";
}

// A "when" line: what is odd in its list of programs, and programs an
// earlier section names already (that one holds for them).
void check_section_line(checker* c, long line, const line_note& note) {
    if (note.section == -2) {
        find(c, line, "more than " + std::to_string(max_sections) + " sections: this one and its lines are ignored");
        return;
    }
    // The names as the loader reads them, in UTF-8: the line's 8-bit text has
    // '?' for every other character.
    const std::vector<std::string> listed = program_list(note.programs);
    const config& loaded = c->result->loaded;
    const config_section& section = loaded.sections[note.section];
    if (section.program_count == 0) {
        find(c, line, "'when' names no program: write the program's file name, as in 'when Photoshop.exe'");
        return;
    }
    int taken = 0;
    bool empty_said = false;
    for (const std::string& name : listed) {
        if (name.empty()) {
            if (!empty_said) find(c, line, "an empty name in the list of programs is ignored");
            empty_said = true;
            continue;
        }
        std::string odd = odd_program(name);
        if (!odd.empty()) find(c, line, odd);
        if (name.size() >= static_cast<size_t>(program_name_bytes)) continue;
        if (++taken > max_section_programs) {
            find(c, line,
                 "more than " + std::to_string(max_section_programs) + " programs: " + quoted(name) +
                     " and the rest are ignored");
            break;
        }
        for (int earlier = 0; earlier < note.section; ++earlier) {
            if (section_for_program(loaded, name.c_str()) != earlier) continue;
            find(c, line,
                 quoted(name) + " is named by the section of line " + std::to_string(loaded.sections[earlier].line) +
                     " already: that section holds for it");
        }
    }
}

void on_line(void* context, long line, const char* text, const line_note* note) {
    checker* c = static_cast<checker*>(context);
    bool rest_of_id_line = c->first_piece;
    c->first_piece = false;
    if (note->fate == line_applied && note->hold) {
        // A hold line maps the key's hold, not its tap: no key line merges
        // with it. A '#' code of its claims a user entry as a key line's does.
        follow_claim(c, *note);
        if (note->claimed) c->claimed_on[note->entry] = line;
        check_outputs(c, line, text, *note);
        check_program(c, line, *note);
        if (note->output_count > 0 && note->outputs[0].found == output_switch) {
            uint16_t value = note->outputs[0].value;
            c->switches.push_back({line, value >= switch_all_off ? -1 : value & 0xFF, note->outputs[0].token});
        }
        if (note->output_count > 0 && (note->outputs[0].found >= 0 || note->outputs[0].found == output_switch ||
                                       note->outputs[0].found == output_item)) {
            c->holds_in[scope_of(*note)] = true;
        }
        if (!note->hold_kept) {
            find(c, line,
                 "more than " + std::to_string(max_scope_holds) +
                     " keys with a hold in one scope: this hold is ignored");
        }
        return;
    }
    if (note->fate == line_hold_time) {
        if (note->hold_time < 0) {
            find(c, line,
                 quoted(trimmed(text)) + " is not a time padmap takes: write a whole number of milliseconds from " +
                     std::to_string(min_hold_time_ms) + " to " + std::to_string(max_hold_time_ms));
        } else if (c->hold_time_line != 0) {
            find(c, line,
                 "a second 'hold-time' line: the first, on line " + std::to_string(c->hold_time_line) + ", holds");
        } else {
            c->hold_time_line = line;
        }
        return;
    }
    if (note->fate == line_applied) {
        if (note->is_code && note->code == 0) find(c, line, quoted(note->key_token) + " is no key's code");
        follow_claim(c, *note);
        check_outputs(c, line, text, *note);
        check_program(c, line, *note);
        follow_outputs(c, *note);
        check_code_and_name(c, line, *note);
        if (note->claimed) c->claimed_on[note->entry] = line;
        if (!c->switches.empty() && c->switches.back().line == 0) c->switches.back().line = line;
        long& first = c->first_line_of[scope_of(*note)][note->entry];
        if (first == 0) {
            first = line;
        } else {
            c->remapped.push_back({line, scope_of(*note), note->entry});
        }
        return;
    }
    if (note->fate == line_layer) {
        if (note->layer < 0) check_layer_line(c, line, text);
        return;
    }
    if (note->fate == line_section) {
        check_section_line(c, line, *note);
        return;
    }
    if (note->fate == line_dropped) return;
    if (rest_of_id_line) {
        if (!is_blank_text(text) && !c->id_is_a_key && trimmed(text)[0] != '#') {
            find(c, line, "the hardware id is followed by " + quoted(trimmed(text)) + ", which is ignored");
        }
        return;
    }
    if (is_comment_line(text)) return;
    switch (note->fate) {
    case line_blank: break;
    case line_space_first:
        if (!is_blank_text(text)) find(c, line, "the line begins with a space and is ignored");
        break;
    case line_no_space:
        if (text[0] == '#') {
            find(c, line, neither_key_nor_comment(trimmed(text)));
        } else if (std::strncmp(text, "when\t", 5) == 0) {
            find(c, line, "a tab does not separate 'when' from its programs: use a space");
        } else if (std::strchr(text, '\t') != nullptr && !is_blank_text(text)) {
            find(c, line, "a tab does not separate a key from its outputs: use a space");
        } else if (!is_blank_text(text)) {
            find(c, line, quoted(trimmed(text)) + " is given no outputs");
        }
        break;
    case line_short_code: {
        std::string digits;
        const char* at = note->key_token + 1;
        for (; hex_digit_value(*at) >= 0; ++at) digits += *at;
        if (*at != 0) {
            find(c, line, neither_key_nor_comment(note->key_token));
            break;
        }
        find(c, line,
             quoted(note->key_token) + " is too short: a key code has four hex digits, as in " +
                 quoted("#" + std::string(4 - std::min<size_t>(digits.size(), 4), '0') + digits));
        break;
    }
    case line_unknown_key:
        if (note->key_token[0] == '#') {
            find(c, line, neither_key_nor_comment(note->key_token));
        } else if (std::strchr(note->key_token, '\t') != nullptr) {
            find(c, line, "a tab does not separate a key from its outputs: use a space");
        } else {
            find(c, line, unknown_name("key", note->key_token, false));
        }
        break;
    case line_no_user_entry:
        find(c, line,
             "no user entry is left for " + quoted(note->key_token) + ": ten '#' codes have taken user1 to user10");
        break;
    case line_applied:
    case line_section:
    case line_layer:
    case line_hold_time:
    case line_dropped: break;
    }
}

bool looks_like_a_key(const char16_t* id) {
    char text[32];
    size_t length = 0;
    for (; id[length] != 0 && length + 1 < sizeof text; ++length) {
        if (id[length] > 0x7F) return false;
        text[length] = static_cast<char>(id[length]);
    }
    if (id[length] != 0) return false;
    text[length] = 0;
    if (find_key_by_name(&fresh_key_table(), text) >= 0 || alias_of(text) != nullptr) return true;
    return text[0] == '#' && hex_digit_value(text[1]) >= 0 && hex_digit_value(text[2]) >= 0 &&
           hex_digit_value(text[3]) >= 0 && hex_digit_value(text[4]) >= 0;
}

void on_hardware_id(void* context, long line, config_outcome outcome) {
    checker* c = static_cast<checker*>(context);
    c->first_piece = true;
    c->result->id_line = line;
    if (outcome == config_no_hardware_id) {
        find(c, line, "the file holds no hardware id: its first word must be the keyboard's hardware id");
    } else if (outcome == config_id_too_long) {
        find(c, line, "the hardware id is 500 characters or longer, which padmap does not take");
    } else if (looks_like_a_key(c->result->loaded.configured_hardware_id)) {
        c->id_is_a_key = true;
        find(c, line,
             quoted(utf8_text(c->result->loaded.configured_hardware_id)) +
                 " is taken as the hardware id, so this line maps nothing: the file must begin with the "
                 "keyboard's hardware id (padmap without an argument prints it)");
    } else if (c->result->loaded.configured_hardware_id[0] == u'#') {
        c->id_is_a_key = true;
        find(c, line,
             quoted(utf8_text(c->result->loaded.configured_hardware_id)) +
                 " is taken as the hardware id: the file must begin with the keyboard's hardware id, and comments "
                 "come after it");
    } else if (std::char_traits<char16_t>::length(c->result->loaded.configured_hardware_id) == hardware_id_units - 1) {
        find(c, line, "a hardware id of 499 characters never matches: the driver's answer for it fills its buffer");
    }
}

// What only the whole file shows: keys mapped twice, outputs that name a user
// entry no line above claimed.
void check_whole_file(checker* c) {
    const config& loaded = c->result->loaded;
    for (const later_mapping& later : c->remapped) {
        const key_table& scope = later.scope == 0              ? c->result->table
                                 : later.scope <= max_sections ? loaded.sections[later.scope - 1].keys
                                                               : loaded.layers[later.scope - max_sections - 1].keys;
        const key_entry& entry = scope.entries[later.entry];
        find(c, later.line,
             quoted(c->result->table.entries[later.entry].name) + " was mapped on line " +
                 std::to_string(c->first_line_of[later.scope][later.entry]) +
                 " already: the two lines merge, and the key now sends " + sends_text(loaded, c->result->table, entry));
    }
    for (int s = 0; s < loaded.section_count; ++s) {
        bool maps = c->holds_in[s + 1];
        for (int i = 0; i < key_count && !maps; ++i) maps = c->first_output[s + 1][i] != 0;
        if (!maps) find(c, loaded.sections[s].line, "this section maps no key: no line of it gives a key an output");
    }
    for (int l = 0; l < loaded.layer_count; ++l) {
        const config_layer& layer = loaded.layers[l];
        bool switched = false;
        for (const switch_use& use : c->switches) {
            if (use.layer != l) continue;
            switched = true;
            if (layer.line == 0) {
                find(c, use.line,
                     quoted(use.token) + " names a layer this file does not have (no 'layer " + layer.name +
                         "' line): the key maps nothing");
            }
        }
        if (layer.line == 0) {
            // The loader drops such a switch: the key maps nothing.
            for (key_entry& entry : c->result->table.entries) {
                bool names_it = entry.outputs[0] == (switch_layer | l) || entry.outputs[0] == (switch_toggle | l);
                if (is_layer_switch(entry) && names_it) {
                    entry.outputs[0] = 0;
                    entry.modifiers[0] = 0;
                }
            }
            continue;
        }
        if (!switched) {
            find(c, layer.line,
                 std::string("layer ") + quoted(layer.name) + " is never switched on: no key has layer(" + layer.name +
                     ") or toggle(" + layer.name + ")");
        }
        bool maps = c->holds_in[max_sections + 1 + l];
        for (int i = 0; i < key_count && !maps; ++i) maps = c->first_output[max_sections + 1 + l][i] != 0;
        if (!maps) find(c, layer.line, "this layer maps no key: no line of it gives a key an output");
    }
    for (const pending_user_output& out : c->unclaimed) {
        std::string message = quoted(out.token) + " sends nothing: no '#' line above claims " +
                              quoted(c->result->table.entries[out.entry].name) + " for a key";
        long claim = c->claimed_on[out.entry];
        if (claim > out.line) message += " (line " + std::to_string(claim) + " does: move it above this one)";
        find(c, out.line, message);
    }
}

void run_check(config_check* result, bool from_file, const char16_t* path, const uint8_t* data, size_t size) {
    reset_key_table(&result->table);
    result->findings.clear();
    result->keys_mapped = 0;
    result->id_line = 1;
    checker c = {};
    c.result = result;
    config_listener listener = {on_hardware_id, on_line, &c};
    result->outcome = from_file ? read_config(path, &result->loaded, &listener)
                                : read_config_bytes(data, size, &result->loaded, &listener);
    if (result->outcome == config_unreadable) return;
    check_whole_file(&c);
    std::stable_sort(result->findings.begin(), result->findings.end(),
                     [](const config_finding& a, const config_finding& b) { return a.line < b.line; });
    for (int i = 0; i < key_count; ++i) {
        const key_entry& entry = result->table.entries[i];
        bool shadowed = find_mapped_by_code(&result->table, &result->table, entry.scan_code) != i;
        result->keys_mapped += entry.outputs[0] != 0 && !shadowed;
    }
}

}  // namespace

void add_finding(config_check* result, long line, const std::string& message) {
    auto at = std::upper_bound(result->findings.begin(), result->findings.end(), line,
                               [](long l, const config_finding& f) { return l < f.line; });
    result->findings.insert(at, config_finding{line, message});
}

void check_config(const char16_t* path, config_check* result) {
    run_check(result, true, path, nullptr, 0);
}

void check_config_bytes(const uint8_t* data, size_t size, config_check* result) {
    run_check(result, false, nullptr, data, size);
}
