#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "engine/engine.h"
#include "engine/items.h"
#include "keymap/config_check.h"

namespace {

// The echo of a file read again, kept for the log instead of printed: the
// key loop never writes to the console itself.
void echo_into(void* context, long, const char*, const line_note* note) {
    *static_cast<std::string*>(context) += echo_text(note);
}

const char kept[] = " (the layout stays as it was)\n";

// One file's part in a reload.
struct reload_file {
    bool candidate;      // its content differs from its layout in use and loads
    std::string why;     // a refusal, when not
    std::string echo;    // its echo, when a candidate
    int named_with;      // the other file that names its new id, when refused for that
    const char16_t* id;  // the id it would name now
};

bool same_id(const char16_t* a, const char16_t* b) {
    for (int i = 0; i < hardware_id_units; ++i) {
        if (a[i] != b[i]) return false;
        if (a[i] == 0) return true;
    }
    return true;
}

// Refuses changed files whose id another file names, by the rule, until no
// id is named twice.
void share_keyboards(const engine* core, reload_file* files) {
    int count = core->file_count;
    for (bool refused = true; refused;) {
        refused = false;
        for (int i = 0; i < count && !refused; ++i) {
            if (!files[i].candidate) continue;
            const char16_t* id = files[i].id;
            int other = -1;
            for (int j = 0; j < count && other < 0; ++j) other = j != i && same_id(files[j].id, id) ? j : -1;
            if (other < 0) continue;
            int owner = -1;
            for (int k = 0; k < count && owner < 0; ++k) {
                owner = same_id(files[k].id, id) && names_keyboard(core->files[k].layout, id) ? k : -1;
            }
            // Each is told of the file that keeps the id, or of another that
            // named it too, as things stood before any of them was refused.
            bool refuse[max_config_files] = {};
            for (int m = 0; m < count; ++m) {
                if (m == owner || !files[m].candidate || !same_id(files[m].id, id)) continue;
                refuse[m] = true;
                int with = owner;
                for (int j = 0; j < count && with < 0; ++j) with = j != m && same_id(files[j].id, id) ? j : -1;
                files[m].named_with = with;
            }
            for (int m = 0; m < count; ++m) {
                if (!refuse[m]) continue;
                files[m].candidate = false;
                files[m].id = core->files[m].layout.configured_hardware_id;
                refused = true;
            }
        }
    }
}

std::string findings_of(const engine_file& file, const file_news& news) {
    std::string text;
    std::unique_ptr<config_check> check(new (std::nothrow) config_check);
    if (check == nullptr) return text;
    check_config_bytes(news.bytes, news.size, check.get());
    for (const config_finding& finding : check->findings) {
        text += file.shown + ":" + std::to_string(finding.line) + ": " + finding.message + "\n";
    }
    return text;
}

}  // namespace

uint32_t engine_reload(engine* core, const file_news* news, engine_actions* out) {
    int count = core->file_count;
    reload_file files[max_config_files];
    std::unique_ptr<config[]> fresh(new (std::nothrow) config[count]);
    for (int i = 0; i < count; ++i) {
        reload_file& file = files[i];
        const std::string& shown = core->files[i].shown;
        file.candidate = false;
        file.named_with = -1;
        file.id = core->files[i].layout.configured_hardware_id;
        if (news[i].kind == file_unchanged) continue;
        if (news[i].kind == file_unreadable || fresh == nullptr) {
            file.why = "not reloaded " + shown + ": it cannot be read" + kept;
            continue;
        }
        config_listener echo_listener = {nullptr, echo_into, &file.echo};
        config_outcome outcome = read_config_bytes(news[i].bytes, news[i].size, &fresh[i], &echo_listener);
        if (outcome == config_no_hardware_id) {
            file.why = "not reloaded " + shown + ": it holds no hardware id" + kept;
        } else if (outcome == config_id_too_long) {
            file.why = "not reloaded " + shown + ": its hardware id is 500 characters or longer" + kept;
        } else {
            file.candidate = true;
            file.id = fresh[i].configured_hardware_id;
            if (core->programs_refused) file.echo += refuse_programs(&fresh[i]);
        }
    }
    share_keyboards(core, files);
    uint32_t replaced = 0;
    bool id_changed = false;
    core->refused = 0;
    for (int i = 0; i < count; ++i) {
        engine_file& file = core->files[i];
        if (!files[i].candidate) {
            if (news[i].kind != file_unchanged) core->refused |= 1u << i;
            if (files[i].named_with >= 0) {
                files[i].why = "not reloaded " + file.shown + ": " + core->files[files[i].named_with].shown +
                               " names the same keyboard" + kept;
            }
            if (news[i].saved) out->log += files[i].why;
            continue;
        }
        id_changed = id_changed || !names_keyboard(file.layout, fresh[i].configured_hardware_id);
        carry_items(core, i, &fresh[i]);
        std::memcpy(&file.layout, &fresh[i], sizeof file.layout);
        engine_file_replaced(core, i);
        replaced |= 1u << i;
        out->log += "reloaded " + file.shown + "\n" + files[i].echo + findings_of(file, news[i]);
    }
    // A file that names another keyboard now takes the capture with it.
    if (id_changed) out->check_keyboards = true;
    return replaced;
}
