#ifndef PADMAP_ENGINE_TRANSLATE_H
#define PADMAP_ENGINE_TRANSLATE_H

#include <cstddef>

#include "engine/held_outputs.h"
#include "keymap/config_items.h"
#include "keymap/key_stroke.h"
#include "keymap/key_table.h"

// Where a translated stroke's outputs go: to the keyboard it came from, noted
// among what padmap holds on the system. Texts and programs are the items of
// file (null items: the table has none, and no output is one); they act at
// a key's first press, not at its repeats.
struct output_target {
    int device;
    held_outputs* held;
    engine_actions* out;
    const config_items* items = nullptr;
    int file = -1;
    bool repeat = false;
};

enum translate_result { translate_pass_through, translate_consumed };

// Press and release of each modifier bit, in bit order: [2*b] press, [2*b+1]
// release for bit 1<<b.
extern const key_stroke modifier_strokes[16];

// What every log line of a stroke starts with (the configuration it comes
// from, when there are several): at most this many bytes are used.
constexpr size_t log_prefix_max = 256;

// The log text of one stroke: enough for every output of a key with all its
// modifiers under the longest name, each line with the longest prefix.
constexpr size_t log_capacity = 8192;
struct stroke_log {
    char text[log_capacity];
    size_t length;
};

// Looks the stroke up in the table. Pass-through leaves the stroke for the
// caller to forward exactly as received; consumed means its outputs were
// asked for.
// Either way log holds the stroke's log text, every line beginning with
// prefix (NUL-terminated, may be empty), which the caller hands on after the
// stroke's last send (the pass-through included). A stroke with the E1 flag
// is looked up in no table: it passes through.
translate_result translate_stroke(const key_table* table, const key_stroke& key, output_target target,
                                  const char* prefix, stroke_log* log);

// The same translation with the entry already found: null, or an entry whose
// first output is 0, passes the stroke through.
translate_result translate_entry(const key_entry* entry, const key_stroke& key, output_target target,
                                 const char* prefix, stroke_log* log);

// The log of a stroke passed through untranslated: "bypassing key" and its
// lookup code (the make code with 0xE000 for the E0 flag), after prefix.
void log_pass_through(const key_stroke& key, const char* prefix, stroke_log* log);

// Pause sends two strokes: one with the E1 flag, then one with make code 0x45
// and no E0 flag. True when the stroke is one of them: it is no key of its own
// and passes through. *after_e1 is one keyboard's memory, false at the start:
// whether its last stroke had the E1 flag; every stroke of that keyboard
// updates it.
bool is_pause_stroke(bool* after_e1, const key_stroke& key);

#endif
