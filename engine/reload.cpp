#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "engine/engine.h"
#include "keymap/config_check.h"

namespace {

// The echo of a file read again, kept for the log instead of printed: the
// key loop never writes to the console itself.
void echo_into(void* context, long, const char*, const line_note* note) {
    *static_cast<std::string*>(context) += echo_text(note);
}

// What padmap says of a file read again: "reloaded FILE", the echo and what
// --check finds in it; or "not reloaded FILE: why", the old layout kept.
std::string reload_file(engine* core, int index, const file_news& news, bool* replaced, bool* id_changed) {
    engine_file& file = core->files[index];
    const std::string kept = " (the layout stays as it was)\n";
    if (news.kind == file_unreadable) return "not reloaded " + file.shown + ": it cannot be read" + kept;
    std::string echo;
    config_listener echo_listener = {nullptr, echo_into, &echo};
    config_outcome outcome = read_config_bytes(news.bytes, news.size, &core->fresh, &echo_listener);
    if (outcome == config_no_hardware_id) return "not reloaded " + file.shown + ": it holds no hardware id" + kept;
    if (outcome == config_id_too_long) {
        return "not reloaded " + file.shown + ": its hardware id is 500 characters or longer" + kept;
    }
    int other = file_naming(core, core->fresh.configured_hardware_id, index);
    if (other >= 0) {
        return "not reloaded " + file.shown + ": " + core->files[other].shown + " names the same keyboard" + kept;
    }
    *id_changed = *id_changed || !names_keyboard(file.layout, core->fresh.configured_hardware_id);
    std::memcpy(&file.layout, &core->fresh, sizeof file.layout);
    *replaced = true;
    std::string text = "reloaded " + file.shown + "\n" + echo;
    std::unique_ptr<config_check> check(new (std::nothrow) config_check);
    if (check != nullptr) {
        check_config_bytes(news.bytes, news.size, check.get());
        for (const config_finding& finding : check->findings) {
            text += file.shown + ":" + std::to_string(finding.line) + ": " + finding.message + "\n";
        }
    }
    return text;
}

}  // namespace

uint32_t engine_reload(engine* core, const file_news* news, engine_actions* out) {
    uint32_t replaced_files = 0;
    bool id_changed = false;
    for (int i = 0; i < core->file_count; ++i) {
        if (news[i].kind == file_unchanged) continue;
        bool replaced = false;
        out->log += reload_file(core, i, news[i], &replaced, &id_changed);
        if (!replaced) continue;
        replaced_files |= 1u << i;
        engine_file_replaced(core, i);
    }
    // A file that names another keyboard now takes the capture with it.
    if (id_changed) out->check_keyboards = true;
    return replaced_files;
}
