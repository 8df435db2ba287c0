#ifndef PADMAP_ENGINE_ITEMS_H
#define PADMAP_ENGINE_ITEMS_H

#include <cstddef>
#include <cstdint>

#include "engine/actions.h"
#include "keymap/config.h"
#include "keymap/config_items.h"
#include "keymap/key_table.h"

struct engine;

// A log line names a text or a program in at most this many bytes: a text as
// written, quotes and escapes included; a program as its word and command.
// A longer one is cut at a whole character and ends in "...".
constexpr size_t item_shown_bytes = 64;

// Writes how the log names the item into shown (item_shown_bytes, no
// terminator); returns its length.
size_t show_item(const config_items& items, const config_item& item, char* shown);

// The item an item action asks for; null when its file has no such item.
const config_item* item_asked(const engine* core, const action& act);

// The system took only taken of the total key events of the text act typed
// (a window of a program with higher rights in front takes none): the log
// says so.
void engine_text_short(engine* core, const action& act, uint32_t taken, uint32_t total, engine_actions* out);

// The file's layout is about to be replaced by fresh: the texts and programs
// of the keys down on its keyboards are copied into fresh's items (a
// pending key's tap or hold still acts by the layout of its press). One for
// which fresh has no room left is dropped.
void carry_items(engine* core, int file, config* fresh);

#endif
