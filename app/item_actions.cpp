#include "app/item_actions.h"

#include "app/platform_items.h"
#include "engine/items.h"

namespace {

void hand_over(engine* core, const action& act, const config_item& item, program_worker* worker,
               const std::u16string& folder, engine_actions* out) {
    const config_items& items = core->files[act.file].layout.items;
    char shown[item_shown_bytes + 1];
    shown[show_item(items, item, shown)] = 0;
    const char* why = nullptr;
    if (worker == nullptr) {
        why = "padmap had no memory for the worker that starts programs";
    } else if (item.units > program_command_units || folder.size() > static_cast<size_t>(program_folder_units)) {
        why = "its configuration's folder has too long a path";
    } else {
        program_order order = {item.kind,      item_units(items, item), static_cast<size_t>(item.units),
                               folder.c_str(), folder.size(),           shown};
        if (!hand_program(worker, order)) why = "too many programs wait to be started";
    }
    if (why == nullptr) {
        os_program_handed(program_word(item.kind), item_written(items, item));
        return;
    }
    out->log += std::string(core->files[act.file].line_prefix) + shown + " did not start: " + why + "\n";
}

}  // namespace

void carry_out_item(engine* core, const action& act, program_worker* worker, const std::u16string& folder,
                    engine_actions* out) {
    const config_item* item = item_asked(core, act);
    if (item == nullptr) return;
    const config_items& items = core->files[act.file].layout.items;
    if (item->kind != item_text) {
        hand_over(core, act, *item, worker, folder, out);
        return;
    }
    uint32_t total = static_cast<uint32_t>(2 * item->units);
    uint32_t taken =
        os_type_text(item_units(items, *item), static_cast<size_t>(item->units), item_written(items, *item));
    if (taken < total) engine_text_short(core, act, taken, total, out);
}
